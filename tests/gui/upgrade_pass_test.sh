#!/usr/bin/env bash
# Plain-colour skin, so that every expected pixel is known; the device starts
# in its application. Log lines end in CR LF; one idle frame's log lines in order; "ToBoot" switches
# the device; START upgrades it to "PASS" with DEVINFO, START, AUTOSTART and
# the check box at opacity 0.36 meanwhile; the bar ends full green; closing
# the window shuts down in order.
source "$(dirname "$0")/lib.sh"
start_display
make_skin_tool "$WORK/tool$EXE"
IAP_DEMO_LATENCY_US=6000 start_tool "$WORK/tool$EXE"
wait_window
park_mouse
sleep 0.3

# Every whole line ends in CR LF (the last one may still be on its way).
whole=$(wc -l <"$LOG")
[ "$whole" -gt 20 ] && [ "$(head -n "$whole" "$LOG" | grep -c -v $'\r$' || true)" -eq 0 ] ||
    fail "a log line does not end in CR LF"

# Both loggers share one sink, so the order in the file is the call order.
lines() { tr -d '\r' <"$LOG" | sed -E 's/^\[[^]]+\] //'; }
# The font line names the file taken (a build machine's own): its shape only.
startup=$(lines | awk '/NewFrame OK$/ {stop = 1} !stop' |
    sed -E 's/^(\[basic_logger\] \[info\] Font )(.+, 36|built-in, 13) px$/\1<font>/')
expected=""
for line in "WinMain initializing..." "Log system OK" "CreateMutex OK" "GetLastError OK" "MyRegisterClass OK" \
    "InitInstance OK" "initWGL OK" "InitImGuiContext OK"; do expected+="[basic_logg] [info] $line"$'\n'; done
for line in "main_init initializing..." "Log system OK" "Theme OK" "Font <font>" "Font OK" "Thread pool OK" "UI thread OK" \
    "LoadStyle OK" "Icon data OK" "HIDInit OK"; do expected+="[basic_logger] [info] $line"$'\n'; done
[ "$startup"$'\n' = "$expected" ] || fail "start-up lines:
$startup"

frame=$(lines | awk '/\[basic_logg\] \[info\] ImGui_ImplOpenGL3_NewFrame OK$/ {n++} n == 5' | head -n 22)
expected="[basic_logg] [info] ImGui_ImplOpenGL3_NewFrame OK
[basic_logger] [info] main_gui OK"
for line in "RSRC_IMG_BG OK" "RSRC_IMG_LOGO OK" "RSRC_IMG_VID OK" "RSRC_IMG_PID OK" "RSRC_IMG_VER OK" \
    "RSRC_IMG_TEXT_INPUT_VID OK" "RSRC_IMG_TEXT_INPUT_PID OK" "RSRC_IMG_TEXT_INPUT_VER OK" \
    "DrawProgress OK" "DrawTips OK" "start RSRC_IMG_SWITCH_APP" "pos: (380.00, 290.00), size: (111.00, 38.00)" \
    "start ToBoot" "ToBoot Ok" "RSRC_IMG_DEVINFO Ok" "RSRC_IMG_START Ok" "RSRC_IMG_AUTO_START Ok" "RSRC_IMG_BOX Ok"; do
    expected+=$'\n'"[basic_logger] [info] $line"
done
expected+="
[basic_logg] [info] main_gui OK
[basic_logg] [info] ImGui_ImplOpenGL3_RenderDrawData OK"
[ "$frame" = "$expected" ] || fail "lines of one frame:
$frame"

idle=$(shot skin-idle)
expect_pixel "$idle" 10 390 "40 60 90" 2 "background"
expect_pixel "$idle" 10 50 "90 60 40" 2 "background's top rows (image not flipped)"
expect_pixel "$idle" 10 170 "40 60 90" 2 "background under its top rows"
expect_pixel "$idle" 80 340 "200 40 40" 2 "DEVINFO active"
expect_pixel "$idle" 255 340 "40 200 40" 2 "START active"
expect_pixel "$idle" 390 340 "40 40 200" 2 "AUTOSTART active"
expect_pixel "$idle" 506 341 "220 220 40" 2 "check box active"
expect_pixel "$idle" 385 295 "0 255 0" 2 "ToBoot active"
expect_pixel "$idle" 60 186 "0 255 0" 3 "progress bar at 100% before the first upgrade"

# ToBoot runs inside the frame; the device restarts into its bootloader
# switchDelay (1000 ms) after it accepted the switch.
click 435 309
wait_log "e.message.c_str().PASS" 2 30
park_mouse
sleep 2

click 281 351
wait_log "e.message.c_str().Open Success! BOOT" 2 30  # the first came from ToBoot
sleep 0.5
busy=$(shot skin-upgrading)
[ "$(log_count "e.message.c_str().PASS")" -eq 2 ] || fail "the upgrade ended before the busy screenshot"
# Image alpha x style alpha = 0.6 x 0.6 over the background.
expect_pixel "$busy" 80 340 "98 53 72" 4 "DEVINFO disabled"
expect_pixel "$busy" 255 340 "40 110 72" 4 "START disabled"
expect_pixel "$busy" 390 340 "40 53 130" 4 "AUTOSTART disabled"
expect_pixel "$busy" 506 341 "105 118 72" 4 "check box disabled"
# "ToBoot" too, while a worker holds the device (style alpha 0.6).
expect_pixel "$busy" 385 295 "16 177 36" 4 "ToBoot disabled"

wait_log "e.message.c_str().PASS" 4 120
park_mouse
sleep 0.5
done_shot=$(shot skin-pass)
for x in 58 150 250 400 540; do
    expect_pixel "$done_shot" $x 186 "0 255 0" 3 "full progress bar"
    expect_pixel "$done_shot" $x 209 "0 255 0" 3 "full progress bar"
done
expect_pixel "$done_shot" 255 340 "40 200 40" 2 "START active again"

close_window
expect_clean_exit 30
[ "$(lines | grep -E '\] (Main loop over OK|UIThreadPutEvent_Exit|main_shutdown OK)$')" = "[basic_logg] [info] Main loop over OK
[basic_logger] [info] UIThreadPutEvent_Exit
[basic_logg] [info] main_shutdown OK" ] || fail "shutdown lines out of order"
