#!/usr/bin/env bash
# The demo as shipped (built-in skin, device starting in its application):
# screenshots of the idle main view, "ToBoot", an upgrade in progress and
# "PASS"; "ToBoot" switches the device and the upgrade that follows passes.
source "$(dirname "$0")/lib.sh"
start_display
IAP_DEMO_LATENCY_US=3000 start_tool "$IAP_DEMO"
wait_window
park_mouse
sleep 0.3
shot demo-idle >/dev/null

# ToBoot: the switch runs inside the frame, then the device restarts.
click 435 309
wait_log "onbusinessToBoot progress_pos" 1 30
wait_log "e.message.c_str().PASS" 2 30
park_mouse
sleep 0.3
shot demo-toboot-pass >/dev/null
# The device restarts into its bootloader switchDelay (1000 ms) after it
# accepted the switch.
sleep 2

click 281 351
wait_log "Open Success! BOOT" 1 30
sleep 0.8
park_mouse
shot demo-upgrading >/dev/null
wait_log "e.message.c_str().PASS" 4 120
sleep 0.5
shot demo-pass >/dev/null
! log_count "e.message.c_str().Timeout" >/dev/null || fail "a time-out was reported"

close_window
expect_clean_exit 30
echo "screenshots in $IAP_SHOTS"
