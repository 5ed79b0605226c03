#!/usr/bin/env bash
# DEVINFO fills the VID, PID and VER boxes from the device's USB descriptor.
source "$(dirname "$0")/lib.sh"
start_display
IAP_DEMO_BOOT=1 start_tool "$IAP_DEMO"
wait_window
park_mouse
sleep 0.3
before=$(shot devinfo-before)
click 126 351
wait_log "DeviceInfoThread OK" 1 30
wait_log "e.eventType.50" 1 10
park_mouse
sleep 0.5
after=$(shot devinfo-after)
# Each box changed from "0000" (VID 1234, PID 5679, VER 0100).
for box in "74x26+410+50" "74x26+410+80" "74x26+410+110"; do
    convert "$before" +repage -crop "$box" +repage "$WORK/a.png"
    convert "$after" +repage -crop "$box" +repage "$WORK/b.png"
    diff=$(compare -metric AE "$WORK/a.png" "$WORK/b.png" null: 2>&1 || true)
    [ "${diff%%.*}" -gt 10 ] 2>/dev/null || fail "box $box unchanged after DEVINFO ($diff pixels differ)"
done
close_window
expect_clean_exit 30
