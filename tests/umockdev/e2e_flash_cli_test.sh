#!/usr/bin/env bash
# The real usb-iap-flash inside the testbed: exit codes, a standard output
# that holds only the program's own lines (every JSON line parses), list, the
# board on a terminal, and line mode ended by Ctrl-C (SIGINT) with the
# attempts in the upgrade record.
source "$(dirname "$0")/e2e_lib.sh"

# flash ARGS...: usb-iap-flash inside the testbed (without the driver's pipes).
flash() {
    LD_PRELOAD="$IAP_UMOCK_PRELOAD${LD_PRELOAD:+:$LD_PRELOAD}" "$IAP_FLASH" "$@" 3>&- 4>&-
}
# expect_code CODE ARGS...: runs flash, output in $WORK/out.txt.
expect_code() {
    local want=$1; shift
    local rc=0
    flash "$@" >"$WORK/out.txt" 2>"$WORK/err.txt" || rc=$?
    [ "$rc" -eq "$want" ] || fail "usb-iap-flash $*: exit code $rc, not $want; $(cat "$WORK/err.txt")"
}
# json_ok FILE: every line is one JSON object with an event.
json_ok() {
    [ -s "$1" ] || fail "$1 is empty"
    jq -e 'has("event") and has("time")' "$1" >/dev/null || fail "$1: a line is no event: $(head -n 3 "$1")"
}

head -c 30000 /dev/urandom >"$WORK/payload.bin"
cp "$IAP_FLASH" "$WORK/exe"
"$IAP_PACK" build --exe "$WORK/exe" --out "$WORK/tool" --payload "$WORK/payload.bin" --block-size 512 \
    --sw-version V2.3.4 --device 1234:5679:01 --device 1234:5678:01 \
    --search-timeout 1000 --ack-timeout 1000 --switch-delay 500 >/dev/null || fail "usb-iap-pack build"

expect_code 2
expect_code 2 flash "$WORK/exe"
grep -q "no usable tool package" "$WORK/err.txt" || fail "no reason for the missing package"
expect_code 3 flash "$WORK/tool" --all --json
json_ok "$WORK/out.txt"
[ "$(jq -r 'select(.event=="summary") | .exit_code' "$WORK/out.txt")" = 3 ] || fail "summary of no device"

umock add boot
expect_code 0 list "$WORK/tool" --json
[ "$(jq -r '"\(.port) \(.pid) \(.ready)"' "$WORK/out.txt")" = "1-1 5679 true" ] || fail "list: $(cat "$WORK/out.txt")"

expect_code 0 flash "$WORK/tool" --json
json_ok "$WORK/out.txt"
[ "$(jq -r 'select(.event=="result") | "\(.port) \(.outcome) \(.text)"' "$WORK/out.txt")" = "1-1 passed PASS" ] ||
    fail "flash: $(cat "$WORK/out.txt")"
umock flash "$WORK/payload.bin"
umock wait app 10

# On a terminal: the board, its last frame showing the pass.
TERM=xterm script -qec "LD_PRELOAD='$IAP_UMOCK_PRELOAD' '$IAP_FLASH' flash '$WORK/tool' --to-boot" \
    "$WORK/board.txt" >/dev/null 3>&- 4>&- || fail "flash on a terminal: $(cat "$WORK/board.txt")"
grep -q $'\e\\[?25l' "$WORK/board.txt" || fail "no board on the terminal"
tr -d '\r' <"$WORK/board.txt" | grep -q "^1-1 .*done .*100% .*PASS" || fail "board: $(cat -v "$WORK/board.txt")"
grep -q "passed 1   failed 0" "$WORK/board.txt" || fail "board tally: $(cat -v "$WORK/board.txt")"
umock wait app 10

# Line mode: the device (now in its application) is switched and upgraded
# once; Ctrl-C then ends the program cleanly.
(LD_PRELOAD="$IAP_UMOCK_PRELOAD${LD_PRELOAD:+:$LD_PRELOAD}" exec "$IAP_FLASH" line "$WORK/tool" --to-boot --json \
    >"$WORK/line.jsonl" 2>"$WORK/err.txt" 3>&- 4>&-) &
LINE_PID=$!
for _ in $(seq 1 200); do
    grep -q '"state":"done"' "$WORK/line.jsonl" 2>/dev/null && break
    sleep 0.05
done
kill -INT "$LINE_PID"
rc=0
wait "$LINE_PID" || rc=$?
[ "$rc" -eq 0 ] || fail "line mode ended with $rc: $(cat "$WORK/err.txt")"
json_ok "$WORK/line.jsonl"
[ "$(jq -r 'select(.event=="result") | "\(.procedure) \(.outcome)"' "$WORK/line.jsonl" | tr '\n' ' ')" = \
  "to-boot passed upgrade passed " ] || fail "line: $(cat "$WORK/line.jsonl")"
[ "$(jq -r 'select(.event=="summary") | "\(.passed) \(.failed) \(.exit_code)"' "$WORK/line.jsonl")" = "1 0 0" ] ||
    fail "line summary"
umock flash "$WORK/payload.bin"

# The record beside the log: one line per attempt (flash, the board's two, line's two).
[ -f basic-log.txt ] || fail "no log"
[ "$(grep -c ',passed,PASS,' upgrade-record.csv)" -eq 5 ] || fail "record: $(cat upgrade-record.csv)"
