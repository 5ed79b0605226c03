#!/usr/bin/env bash
# Auto-start upgrades two devices one after the other: the second is plugged
# in when the first has passed, and the loop finds it without a click.
source "$(dirname "$0")/lib.sh"
start_display
IAP_DEMO_DEVICES=2 IAP_DEMO_BOOT=1 IAP_DEMO_LATENCY_US=500 start_tool "$IAP_DEMO"
wait_window
click 516 351
wait_log "AutoIAPThread" 1 10
wait_log "e.message.c_str().PASS" 2 90
wait_log "e.message.c_str().PASS" 4 90
park_mouse
shot autostart-two-passed >/dev/null
# Switch auto-start off again: the loop ends after its pause.
click 516 351
wait_log "AutoIAPThread" 2 10
close_window
expect_clean_exit 30
