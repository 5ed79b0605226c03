#!/usr/bin/env bash
# The demo as shipped on a line of three devices (in their bootloader): a
# second copy writes its three log lines and ends with 0; DEVINFO fills the
# VID, PID and VER boxes; auto-start upgrades the first two one after the
# other without a click; closing during the third upgrade exits cleanly.
# Screenshots of the idle, upgrading and passed main view.
source "$(dirname "$0")/lib.sh"
start_display
IAP_DEMO_DEVICES=3 IAP_DEMO_BOOT=1 IAP_DEMO_LATENCY_US=2000 start_tool "$IAP_DEMO"
wait_window
park_mouse
sleep 0.3
before=$(shot demo-idle)

mkdir "$WORK/second"
(cd "$WORK/second" && timeout 30 "${RUN_EXE[@]}" "$IAP_DEMO" >/dev/null 2>&1) || fail "the second copy ended with code $?"
second=$(sed -E 's/^.*\] \[info\] //' "$WORK/second/basic-log.txt" | tr -d '\r')
[ "$second" = $'WinMain initializing...\nLog system OK\nCreateMutex OK' ] || fail "second copy wrote:
$second"
kill -0 "$TOOL_PID" || fail "the first copy ended"
[ "$(xdotool search --name '^USB IAP tool$' | wc -l)" -eq 1 ] || fail "more than one window"

click 126 351
wait_log "DeviceInfoThread OK" 1 30
wait_log "e.eventType.50" 1 10
park_mouse
sleep 0.5
after=$(shot demo-devinfo)
# Each box changed from "0000" (VID 1234, PID 5679, VER 0100).
for box in "74x26+410+50" "74x26+410+80" "74x26+410+110"; do
    convert "$before" +repage -crop "$box" +repage "$WORK/a.png"
    convert "$after" +repage -crop "$box" +repage "$WORK/b.png"
    diff=$(compare -metric AE "$WORK/a.png" "$WORK/b.png" null: 2>&1 || true)
    [ "${diff%%.*}" -gt 10 ] 2>/dev/null || fail "box $box unchanged after DEVINFO ($diff pixels differ)"
done

click 516 351
wait_log "AutoIAPThread" 1 10
wait_log "e.message.c_str().Open Success! BOOT" 1 30
sleep 0.8
park_mouse
shot demo-upgrading >/dev/null
wait_log "e.message.c_str().PASS" 2 90
sleep 0.3
shot demo-pass >/dev/null
wait_log "e.message.c_str().PASS" 4 90
! log_count "e.message.c_str().Timeout" >/dev/null || fail "a time-out was reported"

wait_log "e.message.c_str().Open Success! BOOT" 3 30
sleep 0.5
[ "$(log_count "e.message.c_str().PASS")" -eq 4 ] || fail "the third upgrade ended before the close"
close_window
expect_clean_exit 30
echo "screenshots in $IAP_SHOTS"
