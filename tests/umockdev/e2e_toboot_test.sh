#!/usr/bin/env bash
# DEVINFO reads the application's descriptor through libusb; "ToBoot" makes
# the application unplug and come back as the bootloader; the upgrade that
# follows passes and brings it back as the application with the new version,
# which a second DEVINFO shows.
source "$(dirname "$0")/e2e_lib.sh"
start_display
make_real_tool "$WORK/tool"
umock add app 0107
open_real_tool "$WORK/tool"
park_mouse
sleep 0.3
blank=$(shot umockdev-devinfo-blank)

click $DEVINFO_XY
wait_log "DeviceInfoThread OK" 1 30
wait_log "e.eventType.50" 1 10
park_mouse
sleep 0.5
before=$(shot umockdev-devinfo-app)

click $TOBOOT_XY
wait_log "onbusinessToBoot progress_pos" 1 30
wait_log "e.message.c_str().PASS" 2 30
umock wait boot 10
expect_state mode=boot pid=5679 plugs=2

click $START_XY
wait_log "e.message.c_str().PASS" 4 60
umock flash "$WORK/payload.bin"
umock wait app 10
expect_state mode=app pid=5678 bcd=0234 plugs=3

click $DEVINFO_XY
wait_log "DeviceInfoThread OK" 2 30
wait_log "e.eventType.50" 2 10
park_mouse
sleep 0.5
after=$(shot umockdev-devinfo-upgraded)

# box_diff FILE FILE "WxH+X+Y": pixels that differ in that box.
box_diff() {
    convert "$1" -crop "$3" +repage "$WORK/box-a.png"
    convert "$2" -crop "$3" +repage "$WORK/box-b.png"
    local d
    d=$(compare -metric AE "$WORK/box-a.png" "$WORK/box-b.png" null: 2>&1 || true)
    echo "${d%%.*}"
}
VID_BOX="74x26+410+50"
VER_BOX="74x26+410+110"
[ "$(box_diff "$blank" "$before" "$VID_BOX")" -gt 10 ] || fail "VID box unchanged by the first DEVINFO"
[ "$(box_diff "$before" "$after" "$VID_BOX")" -eq 0 ] || fail "VID box changed by the second DEVINFO"
[ "$(box_diff "$before" "$after" "$VER_BOX")" -gt 10 ] || fail "VER box shows no new version"
close_window
expect_clean_exit 30
