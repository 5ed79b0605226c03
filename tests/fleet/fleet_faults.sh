#!/usr/bin/env bash
# The fleet's fault table: shippers, brokers (Debian's mosquitto, persistence
# on, each on a free loopback port with its own configuration) and a collector
# into SQLite or a temporary PostgreSQL cluster, with something killed or
# broken in each scenario. Each ends with the store holding every complete
# line of the record files exactly once: the same (record, offset) pairs, the
# same count, and each attempt_id as the line's id.
#   fleet_faults.sh FLEET PG_CLUSTER_SH [SCENARIO...]
set -euo pipefail
FLEET=$1 PG_CLUSTER=$2
shift 2
T=$(mktemp -d "${TMPDIR:-/tmp}/iap-fleet.XXXXXX")
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  [ -z "${PG_URL:-}" ] || bash "$PG_CLUSTER" remove "$T.pg" >/dev/null 2>&1 || true
  rm -rf "$T"
}
trap cleanup EXIT
fail() { echo "FAIL [$SC]: $*" >&2; tail -n 5 "$T"/*.log >&2 || true; exit 1; }

source "$(dirname "$0")/../support/loopback.sh"
# start NAME CMD...: runs CMD in the background, its output in $T/NAME.log
start() {
  local name=$1; shift
  "$@" >>"$T/$name.log" 2>&1 &
  echo $! >"$T/$name.pid"
  PIDS+=($!)
}
kill9() { kill -9 "$(cat "$T/$1.pid")" 2>/dev/null || true; wait "$(cat "$T/$1.pid")" 2>/dev/null || true; }
term() { kill -TERM "$(cat "$T/$1.pid")" 2>/dev/null || true; wait "$(cat "$T/$1.pid")" 2>/dev/null || true; }

# broker NAME [BRIDGE_TO_PORT]: (re)starts the broker NAME on its port
broker() {
  local name=$1 port
  [ -f "$T/$name.port" ] || free_port >"$T/$name.port"
  port=$(cat "$T/$name.port")
  mkdir -p "$T/$name.db"
  {
    printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence true\npersistence_location %s/\n' "$port" "$T/$name.db"
    [ -z "${2:-}" ] || printf 'connection %s\naddress 127.0.0.1:%s\ntopic iap/v1/# both 1\ncleansession false\nclientid bridge-%s\nrestart_timeout 1 2\n' \
      "$name" "$2" "$name"
  } >"$T/$name.conf"
  start "$name" mosquitto -c "$T/$name.conf"
  wait_port "$port" || fail "broker $name did not start"
}
url() { echo "mqtt://127.0.0.1:$(cat "$T/$1.port")"; }
# ship STATION BROKER RECORD...; collect BROKER
ship() { local st=$1 b=$2; shift 2; start "ship-$st" "$FLEET" ship --broker "$(url "$b")" --site s1 --station "$st" "$@"; }
collect() { start collect "$FLEET" collect --broker "$(url "$1")" --db "$DB"; }

HEADER=start,duration_ms,procedure,outcome,result,status,vid,pid,bcd_device,serial,path,sw_version,payload_length,payload_crc,tool,failure,port,tool_version
# gen FILE FROM N: appends lines FROM.. to a record (made with the older
# header, without attempt_id, when FILE's name holds "old")
gen() {
  local f=$1
  [ -s "$f" ] || { [[ $f == *old* ]] && echo "$HEADER" || echo "$HEADER,attempt_id"; } | sed 's/$/\r/' >"$f"
  LC_ALL=C awk -v from="$2" -v n="$3" -v ids="$(head -1 "$f" | grep -c attempt_id)" -v tag="$(cksum <<<"$f" | cut -c1-7)" 'BEGIN {
    for (i = from; i < from + n; i++) {
      ok = i % 7 != 0
      printf "2026-12-09T10:%02d:%02d.000Z,%d,upgrade,%s,%s,%s,0x1209,0x0001,0x0100,SN%06d,/dev/hidraw%d,1.%d.0,65536,0x%08X,tool.exe,%s,1-4.%d,1.0.0",
        int(i / 60) % 60, i % 60, 900 + i, ok ? "passed" : "failed", ok ? "passed" : "\"crc, block 3\"", ok ? 0 : 4,
        i, i % 8, i % 3, i * 2654435761 % 4294967296, ok ? "" : "crc", i % 8 + 1
      if (ids) printf ",%08x-0000-7000-8000-%012d", tag, i
      printf "\r\n"
    }}' >>"$f"
}
# burst FILE FROM N: the same, 10 lines at a time, as a station writes them
burst() { for ((i = $2; i < $2 + $3; i += 10)); do gen "$1" "$i" $((10 < $2 + $3 - i ? 10 : $2 + $3 - i)); sleep 0.03; done; }

stored() { "$FLEET" query --db "$DB" --json 2>/dev/null || true; }
# settle RECORD...: waits until the store holds as many lines as the records' complete lines, then compares
settle() {
  local want got n
  want=$(for f; do LC_ALL=C awk -v f="$f" 'NR > 1 && /\r$/ { print f " " off } { off += length($0) + 1 }' "$f"; done | sort)
  n=$(grep -c . <<<"$want")
  for _ in $(seq 300); do
    [ "$(stored | grep -c .)" -ge "$n" ] && break
    sleep 0.1
  done
  got=$(stored | jq -r '"\(.record) \(.offset)"' | sort)
  [ "$got" = "$want" ] || fail "stored $(grep -c . <<<"$got") lines, the records hold $n: $(diff <(echo "$want") <(echo "$got") | head -5)"
  [ -z "$(stored | jq -r .id | sort | uniq -d)" ] || fail "an id stored twice"
  local ids
  ids=$(for f; do [[ $f == *old* ]] || LC_ALL=C awk -F, 'NR > 1 && /\r$/ { sub(/\r$/, ""); print $NF }' "$f"; done | sort)
  [ "$(stored | jq -r 'select(.attempt_id != null) | .id' | sort)" = "$ids" ] || fail "ids differ from the attempt_id column"
}

A=$T/a.csv B=$T/b-old.csv C=$T/c.csv
# Each scenario: what it breaks, then what the store must hold.
sc_broker_kill() {       # the broker SIGKILLed mid-stream, then restarted
  broker m; collect m; ship st1 m "$A" "$B"
  burst "$A" 0 200 & local bp=$!; burst "$B" 0 100; wait $bp
  kill9 m; gen "$A" 200 50; sleep 0.5; broker m
  settle "$A" "$B"
}
sc_broker_late() {       # the broker down while the shipper and collector start
  free_port >"$T/m.port"; gen "$A" 0 120; gen "$B" 0 30
  ship st1 m "$A" "$B"; collect m; sleep 1.5; broker m
  settle "$A" "$B"
}
sc_shipper_kill() {      # the shipper SIGKILLed mid-publish, then restarted
  broker m; collect m; gen "$A" 0 400; ship st1 m "$A"; sleep 0.3
  kill9 ship-st1; gen "$A" 400 30; ship st1 m "$A"
  settle "$A"
}
sc_collector_kill() {    # the collector SIGKILLed mid-write, then restarted
  broker m; collect m; ship st1 m "$A" "$B"
  burst "$A" 0 300 & local bp=$!; gen "$B" 0 60; sleep 0.4
  kill9 collect; wait $bp; sleep 0.5; collect m
  settle "$A" "$B"
}
sc_all_down() {          # lines added while broker, shipper and collector are all down
  broker m; collect m; ship st1 m "$A" "$B"; gen "$A" 0 50; gen "$B" 0 20; settle "$A" "$B"
  term ship-st1; term collect; term m
  gen "$A" 50 80; gen "$B" 20 20
  broker m; ship st1 m "$A" "$B"; collect m
  settle "$A" "$B"
}
sc_torn_line() {         # a torn last line, completed later
  broker m; collect m; gen "$A" 0 40
  local line; line=$(tail -n 1 "$A"); head -c -$((${#line} / 2 + 1)) "$A" >"$T/cut"; mv "$T/cut" "$A"
  ship st1 m "$A"; settle "$A"
  printf '%s\n' "${line: -$((${#line} / 2))}" >>"$A"
  settle "$A"
}
sc_garbage() {           # garbage on the attempt topic, between good lines
  broker m; collect m; ship st1 m "$A"; gen "$A" 0 30
  settle "$A"  # the collector is subscribed before the garbage comes
  local t=iap/v1/s1/st1/attempt p; p=$(cat "$T/m.port")
  for g in 'not json' '{"site":"s1"}' '{"site":"s1","station":"st1","id":5,"offset":"x"}' '[1,2]' ''; do
    mosquitto_pub -p "$p" -q 1 -t "$t" -m "$g"
  done
  head -c 1048576 /dev/zero | tr '\0' x | mosquitto_pub -p "$p" -q 1 -t "$t" -s
  mosquitto_pub -p "$p" -q 1 -t iap/v1/s2/st1/attempt -m '{"site":"s1","station":"st1","id":"x","record":"r","offset":0,"end":1,"gen":"g"}'
  gen "$A" 30 30
  settle "$A"
  kill -0 "$(cat "$T/collect.pid")" || fail "the collector stopped"
  [ "$(sqlite3 "$DB" 'SELECT count(*) FROM rejected')" -eq 7 ] || fail "not 7 rejected messages kept"
}
sc_bridge() {            # two site brokers bridged to a central one, a site broker restarted mid-stream
  broker central; broker site1 "$(cat "$T/central.port")"; broker site2 "$(cat "$T/central.port")"
  collect central; ship st1 site1 "$A" "$B"; ship st2 site2 "$C"
  burst "$A" 0 200 & local bp=$!; burst "$C" 0 150 & local bq=$!; gen "$B" 0 50; sleep 0.5
  kill9 site1; sleep 0.5; broker site1 "$(cat "$T/central.port")"; wait $bp $bq
  settle "$A" "$B" "$C"
}

#      scenario        store
TABLE="broker_kill     sqlite
broker_late     sqlite
shipper_kill    sqlite
collector_kill  postgres
all_down        postgres
torn_line       sqlite
garbage         sqlite
bridge          sqlite"
while read -r SC store; do
  [ $# -eq 0 ] || [[ " $* " == *" $SC "* ]] || continue
  rm -rf "${T:?}"/*
  if [ "$store" = postgres ]; then
    [ -n "${PG_URL:-}" ] || PG_URL=$(bash "$PG_CLUSTER" start "$T.pg")
    DB=$PG_URL
    psql -q "$PG_URL" -c 'DROP TABLE IF EXISTS attempts, rejected, positions' 2>/dev/null || true
  else
    DB=$T/fleet.sqlite
  fi
  began=$SECONDS
  "sc_$SC"
  for p in "${PIDS[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  PIDS=()
  echo "ok   $SC ($store, $((SECONDS - began)) s)"
done <<<"$TABLE"
