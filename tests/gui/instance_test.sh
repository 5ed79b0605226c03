#!/usr/bin/env bash
# A second copy writes its three log lines and exits 0, leaving the first
# untouched; closing during an upgrade exits cleanly.
source "$(dirname "$0")/lib.sh"
start_display
IAP_DEMO_BOOT=1 IAP_DEMO_LATENCY_US=20000 start_tool "$IAP_DEMO"
wait_window

mkdir "$WORK/second"
(cd "$WORK/second" && IAP_DEMO_BOOT=1 timeout 30 "$IAP_DEMO" >/dev/null 2>&1) ||
    fail "the second copy ended with code $?"
lines=$(wc -l <"$WORK/second/basic-log.txt")
[ "$lines" -eq 3 ] || fail "the second copy wrote $lines log lines, not 3"
grep -q "WinMain initializing..." "$WORK/second/basic-log.txt" || fail "second copy: first line"
grep -q "Log system OK" "$WORK/second/basic-log.txt" || fail "second copy: second line"
grep -q "CreateMutex OK" "$WORK/second/basic-log.txt" || fail "second copy: third line"
kill -0 "$TOOL_PID" || fail "the first copy ended"
n=$(xdotool search --name '^USB IAP tool$' | wc -l)
[ "$n" -eq 1 ] || fail "$n windows"

# Close while an upgrade runs (a slow device: about 25 s for the image).
click 281 351
wait_log "Open Success! BOOT" 1 30
sleep 1
! log_count "e.message.c_str().PASS" >/dev/null || fail "upgrade finished too early"
close_window
expect_clean_exit 30
