#!/usr/bin/env bash
# START on the emulated bootloader over the real hidapi. Two devices with the
# bootloader's IDs come first, one without usage page 0xFF00 and one with
# report ID 2: they are examined and not chosen. The device vanishes in the
# middle of the first upgrade: the read-failure text, the device closed, no
# PASS, and the tool ready for the next attempt. Once the device is back,
# START upgrades it to "PASS", the flash holds the payload byte for byte, and
# the device comes back as the application with the package's software
# version.
source "$(dirname "$0")/e2e_lib.sh"
start_display
make_real_tool "$WORK/tool"
umock add-wrong page
umock add-wrong report
umock add boot
umock fault 20
open_real_tool "$WORK/tool"
idle_fds=$(tool_pty_fds)

click $START_XY
wait_log "e.message.c_str().hid_get_report failed" 2 60
log_count "IAPProcess e.what() hid_get_report failed" >/dev/null || fail "no exception line in the log"
grep -q "usage: FF01" "$WORK/out.txt" || fail "the usage page 0xFF01 device was not examined"
grep -q "reportId: 0002" "$WORK/out.txt" || fail "the report ID 2 device was not examined"
umock wait absent 5
[ "$(tool_pty_fds)" -eq "$idle_fds" ] || fail "the unplugged device is still open"
log_count "e.message.c_str().PASS" >/dev/null && fail "PASS after an unplug"

umock replug
click $START_XY
wait_log "e.message.c_str().PASS" 2 60
log_count "IAPProcess PASS" >/dev/null || fail "no \"IAPProcess PASS\" line"
umock flash "$WORK/payload.bin"
umock wait app 10
expect_state mode=app pid=5678 bcd=0234 passed=1 plugs=3
park_mouse
shot umockdev-pass >/dev/null
close_window
expect_clean_exit 30
