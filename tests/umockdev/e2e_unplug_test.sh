#!/usr/bin/env bash
# The device unplugged in the middle of an upgrade: the read-failure text,
# the device closed, and the tool ready for the next attempt, which passes
# once the device is back.
source "$(dirname "$0")/e2e_lib.sh"
start_display
make_real_tool "$WORK/tool"
umock add boot
umock fault disconnect-data 20
open_real_tool "$WORK/tool"
idle_fds=$(tool_pty_fds)

click $START_XY
wait_log "e.message.c_str().hid_get_report failed" 2 60
log_count "IAPProcess e.what() hid_get_report failed" >/dev/null || fail "no exception line in the log"
umock wait-absent 5
[ "$(tool_pty_fds)" -eq "$idle_fds" ] || fail "the unplugged device is still open"
log_count "e.message.c_str().PASS" >/dev/null && fail "PASS after an unplug"

umock replug
click $START_XY
wait_log "e.message.c_str().PASS" 2 60
umock flash "$WORK/payload.bin"
umock wait-mode app 10
close_window
expect_clean_exit 30
