#!/usr/bin/env bash
# usb-iap-fleet.exe as a Windows service under Wine's service manager:
# `service install` registers it (twice: the second fails); `sc start` runs
# ship with the prefix's C:\ProgramData\USB IAP tool\fleet.conf, and the
# record beside it reaches a loopback Mosquitto; `sc stop` stops it with exit
# code 0; a fleet.conf with a name ship does not take, and none at all, stop
# it with service-specific exit code 2 and the reason in fleet-ship.log;
# `service remove` leaves no service behind.
#   fleet_service_test.sh RUN_WINE PREFIX FLEET_EXE
set -euo pipefail
RUN_WINE=$1 PREFIX=$2 FLEET=$3
NAME=usb-iap-fleet-ship
"$RUN_WINE" --prefix "$PREFIX" --init-only
PREFIX=$(cd "$PREFIX" && pwd)
exec 9>"$PREFIX.lock"
flock 9
export WINEPREFIX=$PREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
DIR="$PREFIX/drive_c/ProgramData/USB IAP tool"
OUT=$(mktemp -d "${TMPDIR:-/tmp}/iap-win-service.XXXXXX")
BROKER=""
tidy() { rm -f "$DIR"/fleet.conf "$DIR"/fleet-ship.log* "$DIR"/upgrade-record.csv*; }
cleanup() {
  wine sc delete "$NAME" >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
  [ -z "$BROKER" ] || kill "$BROKER" 2>/dev/null || true
  tidy
  rm -rf "$OUT"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; tail -n 5 "$OUT"/*.txt "$DIR/fleet-ship.log" >&2 || true; exit 1; }
fleet() { wine "$FLEET" "$@" 2>&1 | tr -d '\r'; }
state() { wine sc query "$NAME" 2>&1 | tr -d '\r'; }
# Waits up to 5 s for the service to be STOPPED; its SERVICE_EXIT_CODE.
stopped_code() {
  for _ in $(seq 50); do
    state >"$OUT/query.txt"
    if grep -q 'STATE.*STOPPED' "$OUT/query.txt"; then
      sed -n 's/.*SERVICE_EXIT_CODE *: *\([0-9]*\).*/\1/p' "$OUT/query.txt"
      return
    fi
    sleep 0.1
  done
  echo "not stopped"
}

wine sc delete "$NAME" >/dev/null 2>&1 && wineserver -k  # a run before that did not end
# Wine ends the services once no other program runs: one waits on its input.
mkfifo "$OUT/hold"
wine cmd <"$OUT/hold" >/dev/null 2>&1 &
exec 7>"$OUT/hold"
mkdir -p "$DIR"
tidy
{
  echo "start,duration_ms,procedure,outcome,result,status,vid,pid,bcd_device,serial,path,sw_version,payload_length,payload_crc,tool,failure,port,tool_version,attempt_id,signer"
  for i in 1 2 3 4 5; do
    echo "2026-12-09T10:00:0$i.000+01:00,900,upgrade,passed,PASS,0x00,1234,5679,0100,SN$i,x,V2.3.4,40000,0x0000ABCD,tool.exe,,P.$i,1.0.0,0190f000-0000-7000-8000-00000000000$i,"
  done
} | sed 's/$/\r/' >"$DIR/upgrade-record.csv"

source "$(dirname "$0")/../support/loopback.sh"
start_mosquitto "$OUT" || fail "no broker"
PORT=$BROKER_PORT BROKER=$BROKER_PID
# The record relative to fleet.conf's folder, a value in quotes.
printf '[ship]\r\nbroker = mqtt://127.0.0.1:%s\r\nsite = s1\r\nstation = "svc 1"\r\nconfirm = broker\r\nrecords = upgrade-record.csv\r\n' \
  "$PORT" >"$DIR/fleet.conf"

fleet service run >"$OUT/run.txt" && fail "service run from a console did not fail"
grep -q 'only the Service Control Manager' "$OUT/run.txt" || fail "service run from a console: $(cat "$OUT/run.txt")"
fleet service install >"$OUT/install.txt" || fail "service install: $(cat "$OUT/install.txt")"
grep -q "installed the service $NAME" "$OUT/install.txt" || fail "install said: $(cat "$OUT/install.txt")"
fleet service install >"$OUT/again.txt" && fail "a second install did not fail"
grep -q 'installed already' "$OUT/again.txt" || fail "a second install said: $(cat "$OUT/again.txt")"

mosquitto_sub -p "$PORT" -q 1 -t 'iap/v1/s1/svc 1/attempt' -C 5 -W 60 >"$OUT/attempts.txt" &
SUB=$!
sleep 0.5
wine sc start "$NAME" >/dev/null 2>&1 || fail "sc start: $(state)"
wait "$SUB" || fail "not 5 attempts from the service: $(grep -c . "$OUT/attempts.txt")"
[ "$(jq -r .serial "$OUT/attempts.txt" | sort | tr '\n' ' ')" = "SN1 SN2 SN3 SN4 SN5 " ] || fail "serials differ"
state | grep -q 'STATE.*RUNNING' || fail "not RUNNING while shipping: $(state)"
wine sc stop "$NAME" >/dev/null 2>&1 || fail "sc stop"
[ "$(stopped_code)" = 0 ] || fail "stopped by sc stop: $(cat "$OUT/query.txt")"
grep -q 'ship: stopped; 5 lines published' "$DIR/fleet-ship.log" || fail "no ship figures in the log"

# A bad fleet.conf, then none: code 2, the reason in the log.
while read -r conf reason; do
  rm -f "$DIR/fleet.conf"
  [ "$conf" = none ] || printf '[ship]\r\n%s = red\r\n' "$conf" >"$DIR/fleet.conf"
  wine sc start "$NAME" >/dev/null 2>&1 || true
  [ "$(stopped_code)" = 2 ] || fail "fleet.conf $conf: $(cat "$OUT/query.txt")"
  grep -q "$reason" "$DIR/fleet-ship.log" || fail "fleet.conf $conf: no \"$reason\" in the log"
done <<'EOF'
colour colour
none no C:\\ProgramData\\USB IAP tool\\fleet.conf
EOF

fleet service remove >"$OUT/remove.txt" || fail "service remove: $(cat "$OUT/remove.txt")"
grep -q "removed the service $NAME" "$OUT/remove.txt" || fail "remove said: $(cat "$OUT/remove.txt")"
state | grep -q 'STATE' && fail "still there after remove: $(state)"
fleet service remove >"$OUT/again.txt" && fail "a second remove did not fail"
grep -q 'is not installed' "$OUT/again.txt" || fail "a second remove said: $(cat "$OUT/again.txt")"
echo "the service installed, shipped 5 lines, stopped (0), failed on bad and missing fleet.conf (2), removed"
