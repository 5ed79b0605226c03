#!/usr/bin/env bash
# START upgrades the emulated bootloader over the real hidapi to "PASS", the
# flash holds the payload byte for byte, and the device comes back as the
# application with the package's software version.
source "$(dirname "$0")/e2e_lib.sh"
start_display
make_real_tool "$WORK/tool"
umock add boot
open_real_tool "$WORK/tool"
click $START_XY
wait_log "e.message.c_str().PASS" 2 60
log_count "IAPProcess PASS" >/dev/null || fail "no \"IAPProcess PASS\" line"
umock flash "$WORK/payload.bin"
umock wait-mode app 10
expect_state mode=app pid=5678 bcd=0234 passed=1 plugs=2
park_mouse
shot umockdev-pass >/dev/null
close_window
expect_clean_exit 30
