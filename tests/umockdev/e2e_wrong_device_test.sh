#!/usr/bin/env bash
# Devices with the listed IDs whose descriptor lacks usage page 0xFF00 or
# carries another report ID are not chosen: START ends in "Open Failed!".
source "$(dirname "$0")/e2e_lib.sh"
start_display
make_real_tool "$WORK/tool" --search-timeout 1500
umock add-wrong page
umock add-wrong report
open_real_tool "$WORK/tool"
click $START_XY
wait_log "IAPProcess Open Failed" 1 30
wait_log "e.message.c_str().Open Failed!" 1 10
log_count "IAPProcess Open Success" >/dev/null && fail "a wrong device was opened for the upgrade"
grep -q "usage: FF01" "$WORK/out.txt" || fail "the usage page 0xFF01 device was not examined"
grep -q "reportId: 0002" "$WORK/out.txt" || fail "the report ID 2 device was not examined"
close_window
expect_clean_exit 30
