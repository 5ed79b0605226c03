#!/usr/bin/env bash
# usb-iap-fleet as a Windows program, under Wine: a record of eight lines in
# its working folder (CR LF, as the tools write it), shipped by
# usb-iap-fleet.exe to a loopback Mosquitto. Every line arrives once, as its
# record's attempt_id, with the record's Windows path; the shipper's state
# file is left beside the record.
#   fleet_exe_test.sh RUN_WINE PREFIX FLEET_EXE
set -euo pipefail
RUN_WINE=$1 PREFIX=$2 FLEET=$3
OUT=$(mktemp -d "${TMPDIR:-/tmp}/iap-win-fleet.XXXXXX")
BROKER=""
cleanup() {
  WINEPREFIX=$PREFIX wineserver -k >/dev/null 2>&1 || true
  [ -z "$BROKER" ] || kill "$BROKER" 2>/dev/null || true
  rm -rf "$OUT"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; tail -n 5 "$OUT"/*.txt >&2 || true; exit 1; }

{
  echo "start,duration_ms,procedure,outcome,result,status,vid,pid,bcd_device,serial,path,sw_version,payload_length,payload_crc,tool,failure,port,tool_version,attempt_id,signer"
  for i in 1 2 3 4 5 6 7 8; do
    echo "2026-12-09T10:00:0$i.000+01:00,900,upgrade,passed,PASS,0x00,1234,5679,0100,SN$i,\"\\\\?\\hid#vid_1234&pid_5679#$i\",V2.3.4,40000,0x0000ABCD,tool.exe,,PCIROOT0_PCI1400-4.$i,1.0.0,0190f000-0000-7000-8000-00000000000$i,"
  done
} | sed 's/$/\r/' >"$OUT/upgrade-record.csv"
seq 8 | sed 's/^/0190f000-0000-7000-8000-00000000000/' >"$OUT/ids.txt"

source "$(dirname "$0")/../support/loopback.sh"
start_mosquitto "$OUT" || fail "no broker"
PORT=$BROKER_PORT BROKER=$BROKER_PID
mosquitto_sub -p "$PORT" -q 1 -t iap/v1/s1/win1/attempt -C 8 -W 90 >"$OUT/attempts.txt" &
SUB=$!
sleep 0.5
(cd "$OUT" && "$RUN_WINE" --prefix "$PREFIX" "$FLEET" ship --broker "mqtt://127.0.0.1:$PORT" --site s1 \
    --station win1 --confirm broker >ship.txt 2>&1) &
SHIP=$!
wait "$SUB" || fail "not 8 attempts from usb-iap-fleet.exe ship: $(grep -c . "$OUT/attempts.txt")"
sleep 1  # the acknowledgements saved
WINEPREFIX=$PREFIX wineserver -k >/dev/null 2>&1 || true
wait "$SHIP" || true
[ "$(jq -r .id "$OUT/attempts.txt" | sort)" = "$(cat "$OUT/ids.txt")" ] || fail "ids differ from the attempt_id column"
jq -e -s 'all(.record | test("^[A-Za-z]:\\\\.*upgrade-record\\.csv$"))' "$OUT/attempts.txt" >/dev/null ||
  fail "not the record's Windows path: $(jq -r .record "$OUT/attempts.txt" | head -1)"
[ -f "$OUT/upgrade-record.csv.ship-state" ] || fail "no state file beside the record"
echo "8 lines shipped from Wine, each once with its attempt_id"
