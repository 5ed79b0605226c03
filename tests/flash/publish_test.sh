#!/usr/bin/env bash
# usb-iap-flash-demo line --publish against Debian's mosquitto on a free
# loopback port: read back with mosquitto_sub, each port's retained state
# carries the outcome and failure of its JSON lines' last result, the line's
# tally counts them while it runs, and after Ctrl-C the line is offline
# with its final tally.
#   publish_test.sh DEMO PACK
set -euo pipefail
DEMO=$1 PACK=$2
T=$(mktemp -d "${TMPDIR:-/tmp}/iap-publish.XXXXXX")
cd "$T"  # the demo writes its log and upgrade record in the working folder
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill -9 "$p" 2>/dev/null || true; done
  rm -rf "$T"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; tail -n 5 "$T"/*.txt >&2 || true; exit 1; }

source "$(dirname "$0")/../support/loopback.sh"
start_mosquitto "$T" || fail "no broker"
PORT=$BROKER_PORT
PIDS+=("$BROKER_PID")
# retained TOPIC COUNT: the retained messages on TOPIC, "topic payload" each
retained() { mosquitto_sub -h 127.0.0.1 -p "$PORT" -t "$1" -C "$2" -W 3 --retained-only -F '%t %p' || true; }

head -c 40000 /dev/urandom >"$T/payload.bin"
"$PACK" build --exe "$DEMO" --out "$T/tool" --payload "$T/payload.bin" --block-size 512 --sw-version V2.3.4 \
  --device 1234:5679:01 --search-timeout 1000 --ack-timeout 1000 --switch-delay 100 >/dev/null || fail "usb-iap-pack build"
"$DEMO" line "$T/tool" --json --publish "mqtt://127.0.0.1:$PORT" --site s1 --station st1 >"$T/lines.txt" 2>"$T/err.txt" &
RUN=$!
PIDS+=($RUN)
finals() { jq -s '[.[] | select(.event == "result" and .final)] | length' "$T/lines.txt"; }
for _ in $(seq 300); do [ "$(finals)" -ge 8 ] && break; sleep 0.1; done
[ "$(finals)" -eq 8 ] || fail "$(finals) of 8 boards upgraded"
sleep 1  # one interval and more: the newest states are out

want=$(jq -r 'select(.event == "result" and .final) | "\(.port) \(.outcome) \(.failure) \(.serial)"' "$T/lines.txt" | sort)
got=$(retained 'iap/v1/s1/st1/port/+' 8 | sed 's/^[^ ]* //' | jq -r '"\(.port) \(.outcome) \(.failure) \(.serial)"' | sort)
[ "$got" = "$want" ] || fail "ports: $got, not $want"
grep -q 'device-status' <<<"$got" || fail "no board failed: $got"
line=$(retained 'iap/v1/s1/st1/line' 1 | sed 's/^[^ ]* //')
[ "$(jq -r '"\(.online) \(.passed) \(.failed) \(.tool) \(.firmware)"' <<<"$line")" = "true 7 1 tool V2.3.4" ] ||
  fail "line while running: $line"

kill -INT "$RUN"
wait "$RUN" || true
line=$(retained 'iap/v1/s1/st1/line' 1 | sed 's/^[^ ]* //')
# The final state with its tally, not the last will: the stop disconnects cleanly.
[ "$(jq -r '"\(.online) \(.passed) \(.failed)"' <<<"$line")" = "false 7 1" ] || fail "line after Ctrl-C: $line"
echo "1 passed, 0 failed"
