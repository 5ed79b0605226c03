#!/usr/bin/env bash
# usb-iap-flash as a Windows program, under Wine: the demo's hub of eight
# simulated boards plugged in one after another, flashed with --all, in JSON
# lines. Seven pass, the board on 1-4.6 answers a block with a CRC error, the
# exit code is 1; every line parses.
#   flash_exe_test.sh RUN_WINE PREFIX FLASH_DEMO_EXE TOOL
set -euo pipefail
RUN_WINE=$1 PREFIX=$2 DEMO=$3 TOOL=$4
OUT=$(mktemp -d "${TMPDIR:-/tmp}/iap-win-flash.XXXXXX")
trap 'rm -rf "$OUT"' EXIT
set +e
(cd "$OUT" && "$RUN_WINE" --prefix "$PREFIX" "$DEMO" flash "$TOOL" \
    --all --wait 8 --json >"$OUT/lines.json" 2>"$OUT/err.txt")
code=$?
set -e
fail() { echo "FAIL: $*" >&2; cat "$OUT/err.txt" >&2; tail -n 20 "$OUT/lines.json" >&2; exit 1; }
[ "$code" -eq 1 ] || fail "exit code $code, expected 1"
tr -d '\r' <"$OUT/lines.json" | jq -e . >/dev/null || fail "a line that is not JSON"
results=$(tr -d '\r' <"$OUT/lines.json" | jq -r 'select(.event == "result") | "\(.port) \(.outcome)"' | sort)
expected="1-4.1 passed
1-4.2 passed
1-4.3 passed
1-4.4 passed
1-4.5 passed
1-4.6 device-error
1-4.7 passed
1-4.8 passed"
[ "$results" = "$expected" ] || fail "results:
$results"
tr -d '\r' <"$OUT/lines.json" | jq -e 'select(.event == "summary") | .passed == 7 and .failed == 1 and .exit_code == 1' \
    >/dev/null || fail "summary"
echo "8 boards: 7 passed, 1 device error, exit code 1"
