#!/usr/bin/env bash
# The real programs against the emulated bootloader in the testbed that
# umockdev_e2e_driver holds: the tool's window, clicked in Xvfb, and
# usb-iap-flash; on Linux natively over hidapi's hidraw back-end, with
# IAP_WINE_PREFIX set the .exe under Wine (e2e_lib.sh).
#
#   umockdev_e2e_driver e2e_scenarios.sh NAME...
#
# The scenarios run one after the other in one testbed (and Wine session),
# each in a folder of its own and with no device plugged at its start. With
# IAP_FLEET and IAP_FLEET_CENTRE set, their records are shipped and stored
# after the last (e2e_fleet.sh).
source "$(dirname "$0")/e2e_lib.sh"
source "$(dirname "$0")/e2e_fleet.sh"

# flash ARGS...: usb-iap-flash with the flash tool in the testbed; standard
# output (LF line ends) in out.txt (FLASH_OUT names another file), standard
# error in err.txt, exit code in FLASH_RC.
flash() {
    FLASH_RC=0
    in_testbed "${RUN_EXE[@]}" "$WORK/flash$EXE" "$1" "$WORK/flash$EXE" "${@:2}" >raw.txt 2>err.txt || FLASH_RC=$?
    tr -d '\r' <raw.txt >"${FLASH_OUT:-out.txt}"
}

# The window's tool (when IAP_TOOL is set) and the flash tool, made from
# usb-iap-flash (payload $WORK/flash-payload.bin).
make_tools() {
    [ -z "${IAP_TOOL:-}" ] || make_real_tool "$WORK/tool$EXE"
    head -c 30000 /dev/urandom >"$WORK/flash-payload.bin"
    cp "$IAP_FLASH" "$WORK/flash-exe$EXE"
    "$IAP_PACK" build --exe "$WORK/flash-exe$EXE" --out "$WORK/flash$EXE" --payload "$WORK/flash-payload.bin" \
        --block-size 512 --sw-version V2.3.4 --device 1234:5679:01 --device 1234:5678:01 \
        --search-timeout 1000 --ack-timeout 1000 --switch-delay 500 >/dev/null || fail "usb-iap-pack build"
}

# listed COUNT [PID]: usb-iap-flash lists COUNT devices ready to open (of
# that product ID). wait_listed: until it does; under Wine a plug reaches
# the programs only once winebus and the HID class driver have taken it.
listed() {
    FLASH_OUT=list.txt flash list --json
    [ "$(jq -s --arg pid "${2:-}" \
        '[.[] | select(.event == "found" and .ready and ($pid == "" or .pid == $pid))] | length' list.txt)" -eq "$1" ]
}
wait_listed() { poll 60 listed "$@" || fail "not $1 devices${2:+ of product $2} listed: $(cat list.txt err.txt)"; }

# jq_is FILE FILTER WANT: FILTER over the events of FILE (an array; ev(NAME)
# gives those of one kind) prints WANT, its lines joined by spaces.
jq_is() {
    local got
    got=$(jq -r -s "def ev(\$e): .[] | select(.event == \$e); $2" "$1" | paste -sd ' ') ||
        fail "not JSON lines: $(cat "$1")"
    [ "$got" = "$3" ] || fail "$2: \"$got\", not \"$3\": $(cat "$1")"
}

# flash_done RC "PASSED FAILED EXIT": usb-iap-flash's exit code and summary.
flash_done() {
    [ "$FLASH_RC" -eq "$1" ] || fail "exit code $FLASH_RC: $(cat err.txt)"
    jq_is out.txt 'all(has("event") and has("time"))' true
    jq_is out.txt 'ev("summary") | "\(.passed) \(.failed) \(.exit_code)"' "$2"
}

# Progress of the last upgrade, from the log.
last_progress() { grep -a -o 'onbusinessOk progress_pos\.[0-9]*' "$LOG" | tail -n1 | sed 's/.*\.//'; }

# Devices with a wrong usage page or report ID are examined and not opened
# ("Open Failed!"); the device vanishes mid-upgrade: "hid_get_report failed",
# the node closed, no PASS; plugged again, START upgrades it byte-exact to PASS
# with a full bar.
scenario_upgrade() {
    umock add-wrong page
    umock add-wrong report
    open_real_tool "$WORK/tool$EXE"
    # Each search ends "Open Failed!"; again until both devices were examined
    # (under Wine they appear once winebus has taken them).
    local tries=0
    until grep -q "usage: FF01" "$WORK/out.txt" && grep -q "reportId: 0002" "$WORK/out.txt"; do
        [ $tries -lt 5 ] || fail "the devices with usage page 0xFF01 and report ID 2 were not both examined"
        tries=$((tries + 1))
        click $START_XY
        wait_log "e.message.c_str().Open Failed!" $tries 30
    done

    umock add boot
    umock fault 20
    wait_listed 1
    local idle_fds=0
    [ "$WINDOWS" -eq 1 ] || idle_fds=$(tool_pty_fds)
    click $START_XY
    wait_log "e.message.c_str().hid_get_report failed" 2 60
    log_count "IAPProcess e.what() hid_get_report failed" >/dev/null || fail "no exception line in the log"
    umock wait absent 5
    [ "$WINDOWS" -eq 1 ] || [ "$(tool_pty_fds)" -eq "$idle_fds" ] || fail "the unplugged device is still open"
    log_count "e.message.c_str().PASS" >/dev/null && fail "PASS after an unplug"
    [ "$(last_progress)" -lt 65536 ] || fail "full progress after an unplug"

    umock replug
    wait_listed 1 5679
    click $START_XY
    wait_log "e.message.c_str().PASS" 2 90
    log_count "IAPProcess PASS" >/dev/null || fail "no \"IAPProcess PASS\" line"
    umock flash "$WORK/payload.bin"
    [ "$(last_progress)" -eq 65536 ] || fail "progress $(last_progress) at PASS"
    park_mouse
    sleep 0.3
    expect_pixel "$(shot "$PLATFORM-device-pass")" 540 197 "0 255 0" 3 "the bar at PASS"
    umock wait app 10
    expect_state mode=app pid=5678 bcd=0234 passed=1 plugs=3
    close_window
    expect_clean_exit 30
}

# box_diff FILE FILE "WxH+X+Y": pixels that differ in that box.
box_diff() {
    local d
    d=$(compare -metric AE "$1[$3]" "$2[$3]" null: 2>&1 || true)
    echo "${d%%.*}"
}

# devinfo NAME N: DEVINFO, its N-th answer on screen; prints the screenshot.
devinfo() {
    click $DEVINFO_XY
    wait_log "DeviceInfoThread OK" "$2" 30
    wait_log "e.eventType.50" "$2" 10
    park_mouse
    sleep 0.5
    shot "$1"
}

# ToBoot is accepted, the application comes back as the bootloader and START
# passes; on Linux DEVINFO (libusb; under Wine it sees no device) shows the
# old and new version.
scenario_toboot() {
    umock add app 0107
    wait_listed 1 5678
    open_real_tool "$WORK/tool$EXE"
    local blank before after
    if [ "$WINDOWS" -eq 0 ]; then
        park_mouse
        sleep 0.3
        blank=$(shot umockdev-devinfo-blank)
        before=$(devinfo umockdev-devinfo-app 1)
    fi

    click $TOBOOT_XY
    wait_log "onbusinessToBoot progress_pos" 1 30
    wait_log "e.message.c_str().PASS" 2 30
    umock wait boot 10
    expect_state mode=boot pid=5679 plugs=2
    wait_listed 1 5679

    click $START_XY
    wait_log "e.message.c_str().PASS" 4 90
    umock flash "$WORK/payload.bin"
    umock wait app 10
    expect_state mode=app pid=5678 bcd=0234 plugs=3

    if [ "$WINDOWS" -eq 0 ]; then
        after=$(devinfo umockdev-devinfo-upgraded 2)
        local vid_box="74x26+410+50" ver_box="74x26+410+110"
        [ "$(box_diff "$blank" "$before" "$vid_box")" -gt 10 ] || fail "VID box unchanged by the first DEVINFO"
        [ "$(box_diff "$before" "$after" "$vid_box")" -eq 0 ] || fail "VID box changed by the second DEVINFO"
        [ "$(box_diff "$before" "$after" "$ver_box")" -gt 10 ] || fail "VER box shows no new version"
    fi
    close_window
    expect_clean_exit 30
}

# A status code on a data block shows its text with the code.
scenario_status() {
    umock add boot
    umock status 3 E8
    wait_listed 1
    open_real_tool "$WORK/tool$EXE"
    click $START_XY
    wait_log "Error code:0xE8" 2 60
    grep -a -A1 -F "Error code:0xE8" "$LOG" | grep -q -x -F $'flash operation failed\r' ||
        fail "no \"flash operation failed\" under the code"
    log_count "e.message.c_str().Upgrade error, please try again." >/dev/null || fail "no error message"
    log_count "e.message.c_str().PASS" >/dev/null && fail "PASS after a status code"
    expect_state mode=boot passed=0
    close_window
    expect_clean_exit 30
}

# Auto-start upgrades two devices plugged one after the other; a line's
# package: its devices arrive in their bootloader, and one that passed (back
# in its application) is not taken again.
scenario_autostart() {
    make_real_tool "$WORK/line-tool$EXE" --device 1234:5679:01
    umock add boot
    wait_listed 1 5679
    open_real_tool "$WORK/line-tool$EXE"
    click $AUTOSTART_BOX_XY
    wait_log "AutoIAPThread" 1 10
    wait_log "e.message.c_str().PASS" 2 90
    umock flash "$WORK/payload.bin"
    umock wait app 10
    wait_listed 1 5678  # taken by Windows before it leaves (see the run below)
    umock unplug
    umock add boot
    wait_log "e.message.c_str().PASS" 4 90
    umock flash "$WORK/payload.bin"
    expect_state passed=1
    expect_state on 0 passed=1
    [ "$(log_count "e.message.c_str().PASS")" -eq 4 ] || fail "more than two passes"
    click $AUTOSTART_BOX_XY
    close_window
    expect_clean_exit 30
}

# usb-iap-flash flash --all on four devices in their bootloader, device K
# unplugged at its tenth block: the others byte-exact, RC and SUMMARY as in
# flash_done.
flash_four() {  # K RC SUMMARY
    local i
    for i in 0 1 2 3; do umock add boot; done
    [ -z "$1" ] || umock on "$1" fault 10
    wait_listed 4 5679
    flash flash --all --json
    flash_done "$2" "$3"
    jq_is out.txt '[ev("result") | select(.outcome == "passed")] | length' "${3%% *}"
    for i in 0 1 2 3; do
        [ "$i" = "$1" ] || umock on "$i" flash "$WORK/flash-payload.bin"
    done
    [ -z "$1" ] || expect_state on "$1" passed=0
}
scenario_flash_all() { flash_four "" 0 "4 0 0"; }
scenario_flash_unplug() { flash_four 2 1 "3 1 1"; }

# followed: the board in its application, in out.txt switched and upgraded
# (all on one port, the path it was found on where the port is unknown), was
# opened again as the bootloader under another PID and path (under Wine,
# which gives no USB location, followed by its serial number); byte-exact.
followed() {
    flash_done 0 "1 0 0"
    jq_is out.txt 'ev("result") | "\(.procedure) \(.outcome)"' "to-boot passed upgrade passed"
    jq_is out.txt 'ev("found") | .pid' "5678 5679"
    jq_is out.txt '[ev("found") | .path] | unique | length' 2
    jq_is out.txt '[.[] | .port // empty] | unique | length' 1
    echo "followed on port $(jq -r -s 'map(.port // empty)[0]' out.txt)"
    umock flash "$WORK/flash-payload.bin"
    umock wait app 10
    expect_state mode=app pid=5678 bcd=0234 passed=1
}

scenario_flash_toboot() {
    umock add app 0107
    wait_listed 1 5678
    flash flash --to-boot --json
    followed
}

# The same in line mode; the board back in its new firmware is done, not
# taken again; Ctrl-C ends it with exit code 0.
scenario_line_toboot() {
    umock add app 0107
    wait_listed 1 5678
    (LD_PRELOAD=$PRELOAD exec "${RUN_EXE[@]}" "$WORK/flash$EXE" line "$WORK/flash$EXE" --to-boot --json \
        >raw.txt 2>err.txt 3>&- 4>&-) &
    local pid=$!
    poll 90 grep -q '"state":"done"' raw.txt || { kill -INT $pid; fail "no board done: $(cat raw.txt err.txt)"; }
    kill -INT $pid
    FLASH_RC=0
    wait $pid || FLASH_RC=$?
    tr -d '\r' <raw.txt >out.txt
    jq_is out.txt 'ev("state") | .state' "to-boot restarting upgrading restarting done"
    followed
}

# --- the run -----------------------------------------------------------------

[ $# -gt 0 ] || fail "no scenario named"
for name in "$@"; do
    declare -F "scenario_$name" >/dev/null || fail "no scenario \"$name\""
done
PLATFORM=linux
[ "$WINDOWS" -eq 0 ] || PLATFORM=windows
start_display
start_wine_session
make_tools
for name in "$@"; do
    started=$SECONDS
    mkdir "$WORK/$name"
    cd "$WORK/$name"
    LOG="$WORK/$name/basic-log.txt"
    "scenario_$name"
    # Wine 8 mishandles a device removed before its HID device has started (a
    # later device can take its freed objects and never start): the devices
    # leave only once the programs can open every one of them.
    umock settle 10
    wait_listed "${UMOCK_REPLY#ok }"
    umock clear
    wait_listed 0
    echo "scenario $name passed on $PLATFORM in $((SECONDS - started)) s"
done
[ -z "${IAP_FLEET:-}" ] || ship_records "$@"
