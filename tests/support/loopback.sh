# Loopback servers for the shell tests (sourced).

# free_port: a TCP port on 127.0.0.1 that nothing listens on.
free_port() {
  local p
  while p=$((20000 + RANDOM % 40000)); (: </dev/tcp/127.0.0.1/$p) 2>/dev/null; do :; done
  echo "$p"
}

# wait_port PORT: returns once something listens on it, fails after 5 s.
wait_port() {
  for _ in $(seq 50); do (: </dev/tcp/127.0.0.1/"$1") 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

# start_mosquitto DIR: Debian's mosquitto for anonymous clients on a free
# loopback port, its configuration and output in DIR; sets BROKER_PORT and
# BROKER_PID.
start_mosquitto() {
  BROKER_PORT=$(free_port)
  printf 'listener %s 127.0.0.1\nallow_anonymous true\n' "$BROKER_PORT" >"$1/broker.conf"
  mosquitto -c "$1/broker.conf" >"$1/broker.txt" 2>&1 &
  BROKER_PID=$!
  wait_port "$BROKER_PORT" || { echo "mosquitto did not start: $(cat "$1/broker.txt")" >&2; return 1; }
}
