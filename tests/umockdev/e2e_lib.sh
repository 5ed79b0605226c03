# Helpers of the end-to-end tests: the GUI test helpers (tests/gui/lib.sh),
# plus the real programs with a package, started with libumockdev-preload
# inside the testbed of umockdev_e2e_driver, and the driver's device commands.
#
# Environment (set by CTest): IAP_TOOL (usb-iap-tool), IAP_FLASH
# (usb-iap-flash), IAP_PACK, IAP_SHOTS, IAP_CLOSE_WINDOW; set by the driver:
# UMOCKDEV_DIR, IAP_UMOCK_PRELOAD, and fds 3 (commands) and 4 (answers).
#
# Under Wine (IAP_WINE_PREFIX set, see lib.sh; IAP_TOOL and IAP_FLASH are then
# the .exe) the programs reach the same fake nodes through hidapi's Windows
# back-end, Wine's hid.dll and winebus, which reads hidraw nodes through
# libudev; IAP_CFGMGR32, the fixture cfgmgr32.dll of tests/win, beside them
# gives the cfgmgr32 functions that hidapi needs and Wine 8 lacks; wineusb.sys
# is off: it busy-loops on umockdev's USB nodes.
source "$(dirname "${BASH_SOURCE[0]}")/../gui/lib.sh"

[ -n "${IAP_UMOCK_PRELOAD:-}" ] || fail "run under umockdev_e2e_driver"
PRELOAD="$IAP_UMOCK_PRELOAD${LD_PRELOAD:+:$LD_PRELOAD}"
if [ "$WINDOWS" -eq 1 ]; then
    cp "${IAP_CFGMGR32:-}" "$WORK/" || fail "IAP_CFGMGR32 names no file"
    export WINEDLLOVERRIDES="mscoree,mshtml=;cfgmgr32=n,b;wineusb.sys=d"
fi

# in_testbed CMD...: CMD with libumockdev-preload, without the driver's pipes.
in_testbed() { LD_PRELOAD=$PRELOAD "$@" 3>&- 4>&-; }

# poll SECONDS CMD...: CMD every 0.2 s until it succeeds; false after SECONDS.
poll() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}

# start_wine_session: under Wine, the whole session (wineserver, winedevice.exe
# with winebus) started inside the testbed, so that the preload library
# reaches winebus, until the script ends (lib.sh's cleanup ends it); nothing
# on Linux. Needs the display.
start_wine_session() {
    [ "$WINDOWS" -eq 1 ] || return 0
    # winebus's udev bus comes up only with its SDL bus off.
    local key='HKLM\System\CurrentControlSet\Services\winebus'
    if ! grep -q '^"Enable SDL"=dword:00000000' "$WINEPREFIX/system.reg"; then
        wine reg add "$key" /v "Enable SDL" /t REG_DWORD /d 0 /f >/dev/null 2>&1 || fail "reg add Enable SDL"
        wineserver -w
    fi
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    # The devices and the testbed set for three faults of Wine 8 (the
    # driver's "wine").
    umock wine
    # A program that waits for its input keeps the session (and winebus) up
    # between the programs of the scenarios.
    mkfifo "$WORK/session.fifo"
    in_testbed wine cmd.exe <"$WORK/session.fifo" >/dev/null 2>"$WORK/wine-session.log" &
    exec 5>"$WORK/session.fifo"
}

# umock COMMAND...: one driver command; its answer in UMOCK_REPLY.
umock() {
    echo "$*" >&3
    read -r UMOCK_REPLY <&4
    [[ "$UMOCK_REPLY" == ok* ]] || fail "device command \"$*\": $UMOCK_REPLY"
}

# expect_state [on K] KEY=VALUE...: the state of the device added last (or
# of device K) holds each pair.
expect_state() {
    if [ "$1" = on ]; then umock on "$2" state; shift 2; else umock state; fi
    for pair in "$@"; do
        [[ " $UMOCK_REPLY " == *" $pair "* ]] || fail "device state \"$UMOCK_REPLY\" lacks $pair"
    done
}

# make_real_tool OUT [generator options]: usb-iap-tool with a package: 64 KiB
# of random payload (kept in $WORK/payload.bin) in 1 KiB blocks, software
# version V2.3.4, the bootloader's IDs then the application's (unless the
# options name their own --device).
make_real_tool() {
    local out=$1; shift
    local devices=(--device 1234:5679:01 --device 1234:5678:01)
    [[ " $* " == *" --device "* ]] && devices=()
    head -c 65536 /dev/urandom >"$WORK/payload.bin"
    "$IAP_PACK" build --exe "$IAP_TOOL" --out "$out" --payload "$WORK/payload.bin" \
        --block-size 1024 --sw-version V2.3.4 "${devices[@]}" \
        --search-timeout 3000 --ack-timeout 1000 --switch-delay 500 "$@" \
        >"$WORK/pack.txt" 2>&1 || { cat "$WORK/pack.txt" >&2; fail "usb-iap-pack build"; }
    chmod +x "$out"
}

# open_real_tool EXE: the tool inside the testbed, and its window.
open_real_tool() {
    in_testbed start_tool "$1"
    wait_window
}

# Open descriptors of the tool on PTYs (the fake nodes are PTYs). Linux only:
# under Wine winedevice.exe holds the nodes.
tool_pty_fds() { find /proc/"$TOOL_PID"/fd -lname '/dev/pts/*' 2>/dev/null | wc -l; }

# Widget centres of the standard layout.
START_XY="281 351"
DEVINFO_XY="126 351"
TOBOOT_XY="435 309"
AUTOSTART_BOX_XY="516 351"
