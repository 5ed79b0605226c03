# Helpers of the end-to-end tests: the GUI test helpers (tests/gui/lib.sh),
# plus the real tool with a package, started with libumockdev-preload inside
# the testbed of umockdev_e2e_driver, and the driver's device commands.
#
# Environment (set by CTest): IAP_TOOL (usb-iap-tool), IAP_PACK, IAP_SHOTS,
# IAP_CLOSE_WINDOW; set by the driver: UMOCKDEV_DIR, IAP_UMOCK_PRELOAD, and
# fds 3 (commands) and 4 (answers).
source "$(dirname "${BASH_SOURCE[0]}")/../gui/lib.sh"

[ -n "${IAP_UMOCK_PRELOAD:-}" ] || fail "run under umockdev_e2e_driver"

# umock COMMAND...: one driver command; its answer in UMOCK_REPLY.
umock() {
    echo "$*" >&3
    read -r UMOCK_REPLY <&4
    [[ "$UMOCK_REPLY" == ok* ]] || fail "device command \"$*\": $UMOCK_REPLY"
}

# expect_state KEY=VALUE...: the emulated device's state holds each pair.
expect_state() {
    umock state
    for pair in "$@"; do
        [[ " $UMOCK_REPLY " == *" $pair "* ]] || fail "device state \"$UMOCK_REPLY\" lacks $pair"
    done
}

# make_real_tool OUT [generator options]: usb-iap-tool with a package: 64 KiB
# of random payload (kept in $WORK/payload.bin) in 1 KiB blocks, software
# version V2.3.4, the bootloader's IDs then the application's.
make_real_tool() {
    local out=$1; shift
    head -c 65536 /dev/urandom >"$WORK/payload.bin"
    "$IAP_PACK" build --exe "$IAP_TOOL" --out "$out" --payload "$WORK/payload.bin" \
        --block-size 1024 --sw-version V2.3.4 --device 1234:5679:01 --device 1234:5678:01 \
        --search-timeout 3000 --ack-timeout 1000 --switch-delay 500 "$@" \
        >"$WORK/pack.txt" 2>&1 || { cat "$WORK/pack.txt" >&2; fail "usb-iap-pack build"; }
    chmod +x "$out"
}

# open_real_tool EXE: the tool inside the testbed (without the driver's
# pipes), and its window.
open_real_tool() {
    LD_PRELOAD="$IAP_UMOCK_PRELOAD${LD_PRELOAD:+:$LD_PRELOAD}" start_tool "$1" 3>&- 4>&-
    wait_window
}

# Open descriptors of the tool on PTYs (the fake nodes are PTYs).
tool_pty_fds() {
    local n=0 link
    for fd in /proc/"$TOOL_PID"/fd/*; do
        link=$(readlink "$fd" 2>/dev/null || true)
        [[ "$link" == /dev/pts/* ]] && n=$((n + 1))
    done
    echo "$n"
}

# Widget centres of the standard layout.
START_XY="281 351"
DEVINFO_XY="126 351"
TOBOOT_XY="435 309"
