# Helpers of the GUI tests: a private Xvfb, working and runtime directory, the
# tool in the background, clicks, screenshots and pixel reads. CTest sets
# IAP_DEMO, IAP_DEMO_BARE (no package), IAP_PACK, IAP_CLOSE_WINDOW, IAP_SHOTS;
# IAP_CODE_SIGN set: the tools make_skin_tool builds are code-signed after.
#
# The same scripts run the Windows .exe under Wine when IAP_WINE_PREFIX names
# a Wine prefix (the Windows build's ctest sets it, with IAP_WINE_RUNNER,
# tests/win/run-wine.sh, which makes the prefix, and IAP_WINDOW_DRIVER, the
# Windows program that closes, minimises and describes the window). The
# programs then run through `wine` on the test's Xvfb; WID is the X window
# of the client area, so clicks and screenshots read the same coordinates.
set -euo pipefail

# RUN_EXE: what a program of the tool is started with ("${RUN_EXE[@]}" EXE).
RUN_EXE=()
WINDOWS=0
EXE=""  # the file-name ending of the tool's programs
if [ -n "${IAP_WINE_PREFIX:-}" ]; then
    WINDOWS=1
    RUN_EXE=(wine)
    EXE=.exe
    "$IAP_WINE_RUNNER" --prefix "$IAP_WINE_PREFIX" --init-only
    export WINEPREFIX=$IAP_WINE_PREFIX WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml="
    # No wineserver of an earlier test, whose desktop lives on a display gone.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/iap-gui.XXXXXX")
export XDG_RUNTIME_DIR="$WORK/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
cd "$WORK"
LOG="$WORK/basic-log.txt"
TOOL_PID=""
XVFB_PID=""
WID=""
mkdir -p "${IAP_SHOTS:=$WORK/shots}"

fail() {
    echo "FAIL: $*" >&2
    if [ -f "$LOG" ]; then
        echo "--- last log lines (without frame lines):" >&2
        grep -v -E 'RSRC_|main_gui OK|NewFrame OK|RenderDrawData OK|DrawProgress OK|DrawTips OK|ToBoot|pos: \(' \
            "$LOG" | tail -n 40 >&2 || true
    fi
    [ -f "$WORK/out.txt" ] && { echo "--- tool output:" >&2; tail -n 20 "$WORK/out.txt" >&2; }
    exit 1
}

cleanup() {
    local rc=$?
    [ -n "$TOOL_PID" ] && kill -9 "$TOOL_PID" 2>/dev/null || true
    [ "$WINDOWS" -eq 1 ] && { wineserver -k 2>/dev/null || true; }
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    wait 2>/dev/null || true
    if [ $rc -eq 0 ]; then rm -rf "$WORK"; else echo "kept $WORK" >&2; fi
}
trap cleanup EXIT

# A private Xvfb on a free display from a high range; the X server's own lock
# file settles races between tests started at the same moment. Arguments go
# to Xvfb.
start_display() {
    local first=$((300 + (RANDOM % 600)))
    for attempt in $(seq 0 40); do
        local n=$(((first + attempt * 7) % 600 + 300))
        [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp -noreset "$@" 2>"$WORK/xvfb.log" &
        XVFB_PID=$!
        for _ in $(seq 1 100); do
            if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
        XVFB_PID=""
    done
    fail "no display could be started"
}

# Ends the display (and the Wine session on it).
stop_display() {
    [ "$WINDOWS" -eq 0 ] || { wineserver -k; wineserver -w; } 2>/dev/null || true
    kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
}

# start_tool EXE: runs it in the working directory, output to out.txt.
start_tool() {
    "${RUN_EXE[@]}" "$1" >"$WORK/out.txt" 2>&1 &
    TOOL_PID=$!
}

# window_driver COMMAND: the Windows window driver (tests/win/window_driver.cpp).
window_driver() { wine "$IAP_WINDOW_DRIVER" "$@" | tr -d '\r'; }

# The X window to click and to photograph: the tool's window, or under Wine
# the child that holds its client area (Wine draws the frame itself).
client_window() {
    local top
    top=$(xdotool search --name '^USB IAP tool$' 2>/dev/null | head -n1 || true)
    [ -n "$top" ] || return 0
    if [ "$WINDOWS" -eq 1 ]; then
        xwininfo -children -id "$top" 2>/dev/null | awk '/^ +0x[0-9a-f]+ .*600x400\+/ {print $1; exit}'
    else
        echo "$top"
    fi
}

# Waits for the window and its first drawn frame; sets WID.
wait_window() {
    local deadline=$((SECONDS + ${1:-60}))
    while [ $SECONDS -lt $deadline ]; do
        WID=$(client_window)
        if [ -n "$WID" ] && log_count 'ImGui_ImplOpenGL3_RenderDrawData OK' >/dev/null; then
            # A few frames more, so that textures and texts are on screen.
            wait_log 'ImGui_ImplOpenGL3_RenderDrawData OK' 5 30
            return 0
        fi
        kill -0 "$TOOL_PID" 2>/dev/null || fail "the tool ended before its window appeared"
        sleep 0.2
    done
    fail "no window within ${1:-60} s"
}

# log_count TEXT: prints the number of log lines holding TEXT; false when 0.
log_count() {
    local n
    n=$(grep -c -F -- "$1" "$LOG" 2>/dev/null || true)
    echo "${n:-0}"
    [ "${n:-0}" -gt 0 ]
}

# wait_log TEXT [COUNT] [SECONDS]: waits until TEXT appears COUNT times.
wait_log() {
    local text=$1 want=${2:-1} deadline=$((SECONDS + ${3:-60}))
    while [ $SECONDS -lt $deadline ]; do
        local n
        n=$(grep -c -F -- "$text" "$LOG" 2>/dev/null || true)
        [ "${n:-0}" -ge "$want" ] && return 0
        sleep 0.1
    done
    fail "log line \"$text\" not seen $want times within ${3:-60} s"
}

# click X Y: mouse to window coordinates, button held across several frames.
click() {
    xdotool mousemove --window "$WID" "$1" "$2"
    sleep 0.1
    xdotool mousedown 1
    sleep 0.1
    xdotool mouseup 1
    sleep 0.1
}

# Parks the mouse outside every widget.
park_mouse() { xdotool mousemove --window "$WID" 590 5; }

# shot NAME: the window's pixels to $IAP_SHOTS/NAME.png; prints the path.
shot() {
    local path="$IAP_SHOTS/$1.png"
    import -window "$WID" "$path"
    echo "$path"
}

# pixel FILE X Y: "R G B" (0 to 255).
pixel() {
    convert "$1" +repage -crop "1x1+$2+$3" -depth 8 txt:- | tail -n1 |
        sed -E 's/.*\(([0-9.]+),([0-9.]+),([0-9.]+).*/\1 \2 \3/' |
        awk '{printf "%d %d %d\n", $1+0.5, $2+0.5, $3+0.5}'
}

# near "R G B" "R G B" TOLERANCE: true when every component is within it.
near() {
    local a=($1) b=($2) tol=$3
    for i in 0 1 2; do
        local d=$((a[i] - b[i]))
        [ ${d#-} -le "$tol" ] || return 1
    done
}

# expect_pixel FILE X Y "R G B" TOLERANCE WHAT
expect_pixel() {
    local got
    got=$(pixel "$1" "$2" "$3")
    near "$got" "$4" "$5" || fail "$6: pixel ($2, $3) of $1 is ($got), expected ($4) +- $5"
}

# ink_height FILE: the tallest run of rows with dark pixels (one text line's ink).
ink_height() {
    convert "$1" -colorspace Gray -threshold 50% -negate -scale "1x$(identify -format %h "$1")!" -depth 8 txt:- |
        awk -F'[,:() ]+' 'NR > 1 { if ($3 + 0 > 0) { if (++run > best) best = run } else run = 0 } END { print best + 0 }'
}

# close_window: the title-bar close (WM_DELETE_WINDOW).
# Under Wine, WM_CLOSE posted to the window.
close_window() {
    if [ "$WINDOWS" -eq 1 ]; then
        window_driver close >/dev/null || fail "window_driver close"
    else
        "$IAP_CLOSE_WINDOW" "$WID"
    fi
}

# wait_exit [SECONDS]: waits for the tool to end; sets TOOL_RC.
wait_exit() {
    local deadline=$((SECONDS + ${1:-30}))
    while kill -0 "$TOOL_PID" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the tool did not end within ${1:-30} s"
        sleep 0.1
    done
    set +e
    wait "$TOOL_PID"
    TOOL_RC=$?
    set -e
    TOOL_PID=""
}

# Checks the shutdown lines of a closed window and exit code 0.
expect_clean_exit() {
    wait_exit "${1:-30}"
    [ "$TOOL_RC" -eq 0 ] || fail "exit code $TOOL_RC"
    for line in "Main loop over OK" "UIThreadPutEvent_Exit" "main_shutdown OK"; do
        log_count "$line" >/dev/null || fail "no \"$line\" at shutdown"
    done
    ! log_count "Main exception" >/dev/null || fail "a \"Main exception\" line"
}

# make_skin_tool OUT: the bare demo with a package whose skin is plain
# colours: background (40,60,90) with its top 100 rows (90,60,40), DEVINFO
# (200,40,40), START (40,200,40), AUTOSTART (40,40,200), check box
# (220,220,40). Extra arguments go to the generator.
make_skin_tool() {
    local out=$1; shift
    local skin="$WORK/skin"
    mkdir -p "$skin"
    "$IAP_PACK" skin "$skin" >/dev/null
    solid() {  # solid ID-PREFIX COLOUR
        local f
        f=$(ls "$skin" | grep -E "^0*$1[-_.]" | head -n1)
        [ -n "$f" ] || fail "no skin file for id $1"
        local size
        size=$(identify -format '%wx%h' "$skin/$f")
        convert -size "$size" "xc:rgb($2)" -type TrueColor "BMP3:$skin/$f"
    }
    solid 0 "40,60,90"
    # An image drawn upside down shows in the background's top rows.
    convert "$skin/$(ls "$skin" | grep -E '^0*0[-_.]' | head -n1)" -fill "rgb(90,60,40)" \
        -draw "rectangle 0,0 10000,99" -type TrueColor "BMP3:$WORK/bg.bmp"
    mv "$WORK/bg.bmp" "$skin/$(ls "$skin" | grep -E '^0*0[-_.]' | head -n1)"
    for id in 7 8 9; do solid $id "200,40,40"; done
    for id in 10 11 12; do solid $id "40,200,40"; done
    for id in 13 14 15; do solid $id "40,40,200"; done
    for id in 5 6; do solid $id "220,220,40"; done
    head -c 65536 /dev/zero | tr '\0' '\132' >"$WORK/payload.bin"
    "$IAP_PACK" build --exe "$IAP_DEMO_BARE" --out "$out" --payload "$WORK/payload.bin" \
        --block-size 1024 --device 1234:5679:01 --device 1234:5678:01 --skin "$skin" "$@" \
        >"$WORK/pack.txt" 2>&1 || { cat "$WORK/pack.txt" >&2; fail "usb-iap-pack build"; }
    [ -z "${IAP_CODE_SIGN:-}" ] || code_sign "$out"
    chmod +x "$out"
}

# code_sign TOOL: Authenticode-signs the built tool in place with a test
# certificate (osslsigncode), as a product engineer signs after building.
code_sign() {
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/sign-key.pem" -out "$WORK/sign-cert.pem" \
        -days 2 -subj "/CN=USB IAP test signer" 2>/dev/null || fail "openssl: no test certificate"
    osslsigncode sign -certs "$WORK/sign-cert.pem" -key "$WORK/sign-key.pem" -n "USB IAP tool" \
        -in "$1" -out "$1.signed" >/dev/null || fail "osslsigncode sign"
    mv "$1.signed" "$1"
    osslsigncode verify -CAfile "$WORK/sign-cert.pem" -in "$1" >/dev/null || fail "osslsigncode verify"
}
