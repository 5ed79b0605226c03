#!/usr/bin/env bash
# START upgrades the simulated device (in its bootloader) to "PASS": the log
# proves it, the progress bar ends full green, and while the upgrade runs
# DEVINFO, START, AUTOSTART and the check box are drawn at opacity 0.36.
# Closing the window then shuts down in order. Plain-colour skin, so that
# every expected pixel is known.
source "$(dirname "$0")/lib.sh"
start_display
make_skin_tool "$WORK/tool"
IAP_DEMO_BOOT=1 IAP_DEMO_LATENCY_US=6000 start_tool "$WORK/tool"
wait_window
park_mouse
sleep 0.3

# One idle frame, line by line (both loggers share one sink, so the order in
# the file is the order of the calls).
frame=$(tr -d '\r' <"$LOG" | awk '/\[basic_logg\] \[info\] ImGui_ImplOpenGL3_NewFrame OK$/ {n++} n == 5' |
    head -n 22 | sed -E 's/^\[[^]]+\] //')
expected="[basic_logg] [info] ImGui_ImplOpenGL3_NewFrame OK
[basic_logger] [info] main_gui OK
[basic_logger] [info] RSRC_IMG_BG OK
[basic_logger] [info] RSRC_IMG_LOGO OK
[basic_logger] [info] RSRC_IMG_VID OK
[basic_logger] [info] RSRC_IMG_PID OK
[basic_logger] [info] RSRC_IMG_VER OK
[basic_logger] [info] RSRC_IMG_TEXT_INPUT_VID OK
[basic_logger] [info] RSRC_IMG_TEXT_INPUT_PID OK
[basic_logger] [info] RSRC_IMG_TEXT_INPUT_VER OK
[basic_logger] [info] DrawProgress OK
[basic_logger] [info] DrawTips OK
[basic_logger] [info] start RSRC_IMG_SWITCH_APP
[basic_logger] [info] pos: (380.00, 290.00), size: (111.00, 38.00)
[basic_logger] [info] start ToBoot
[basic_logger] [info] ToBoot Ok
[basic_logger] [info] RSRC_IMG_DEVINFO Ok
[basic_logger] [info] RSRC_IMG_START Ok
[basic_logger] [info] RSRC_IMG_AUTO_START Ok
[basic_logger] [info] RSRC_IMG_BOX Ok
[basic_logg] [info] main_gui OK
[basic_logg] [info] ImGui_ImplOpenGL3_RenderDrawData OK"
[ "$frame" = "$expected" ] || fail "lines of one frame:
$frame"

# Alt alone opens nothing: the window looks the same afterwards.
alt_before=$(shot skin-before-alt)
xdotool key --window "$WID" alt
sleep 0.3
alt_after=$(shot skin-after-alt)
changed=$(compare -metric AE "$alt_before" "$alt_after" null: 2>&1 || true)
[ "${changed%%.*}" -eq 0 ] 2>/dev/null || fail "pressing Alt changed $changed pixels"
rm -f "$alt_before" "$alt_after"

idle=$(shot skin-idle)
BG="40 60 90"
expect_pixel "$idle" 10 390 "$BG" 2 "background"
expect_pixel "$idle" 80 340 "200 40 40" 2 "DEVINFO active"
expect_pixel "$idle" 255 340 "40 200 40" 2 "START active"
expect_pixel "$idle" 390 340 "40 40 200" 2 "AUTOSTART active"
expect_pixel "$idle" 506 341 "220 220 40" 2 "check box active"
expect_pixel "$idle" 385 295 "0 255 0" 2 "ToBoot active"
# Idle bar: 100% before the first upgrade.
expect_pixel "$idle" 60 186 "0 255 0" 3 "progress bar at start-up"

click 281 351
wait_log "Open Success! BOOT" 1 30
sleep 0.5
busy=$(shot skin-upgrading)
log_count "e.message.c_str().PASS" >/dev/null && fail "the upgrade ended before the busy screenshot"
# Disabled: image alpha x style alpha = 0.6 x 0.6 over the background.
expect_pixel "$busy" 80 340 "98 53 72" 4 "DEVINFO disabled"
expect_pixel "$busy" 255 340 "40 110 72" 4 "START disabled"
expect_pixel "$busy" 390 340 "40 53 130" 4 "AUTOSTART disabled"
expect_pixel "$busy" 506 341 "105 118 72" 4 "check box disabled"
# "ToBoot" is disabled too while a worker holds the device (style alpha 0.6).
expect_pixel "$busy" 385 295 "16 177 36" 4 "ToBoot disabled"

wait_log "e.message.c_str().PASS" 2 120
park_mouse
sleep 0.5
done_shot=$(shot skin-pass)
# The bar is full green from end to end.
for x in 58 150 250 400 540; do
    expect_pixel "$done_shot" $x 186 "0 255 0" 3 "full progress bar"
    expect_pixel "$done_shot" $x 209 "0 255 0" 3 "full progress bar"
done
expect_pixel "$done_shot" 255 340 "40 200 40" 2 "START active again"
log_count "IAPThread" >/dev/null || fail "no IAPThread line"

close_window
expect_clean_exit 30
