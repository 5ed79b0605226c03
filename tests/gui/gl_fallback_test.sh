#!/usr/bin/env bash
# The window on whatever GL the PC has: Mesa offering OpenGL 2.1, then 1.4
# without non-power-of-two textures (the default skin's images are not), looks
# as on the full context and closes cleanly. Without GLX: no context; the
# reason in the log and to the user (a message box on Windows), exit code 1.
source "$(dirname "$0")/lib.sh"
start_display

# name | environment | the renderer's line on standard error ("-": none)
cases="full||-
gl-2.1|MESA_GL_VERSION_OVERRIDE=2.1|: drawing with OpenGL 1.1 calls$
gl-1.4-pot|MESA_GL_VERSION_OVERRIDE=1.4 MESA_EXTENSION_OVERRIDE=-GL_ARB_texture_non_power_of_two|: drawing with OpenGL 1.1 calls, images in power-of-two textures$"
run=("${RUN_EXE[@]}")
while IFS='|' read -r name vars line; do
    rm -f "$LOG"
    RUN_EXE=(env $vars "${run[@]}")
    start_tool "$IAP_DEMO"
    wait_window
    park_mouse
    sleep 0.5
    shot "$name" >/dev/null
    out=$(tr -d '\r' <"$WORK/out.txt")
    if [ "$line" = "-" ]; then
        ! grep -q "drawing with OpenGL 1.1" <<<"$out" || fail "$name: the OpenGL2 renderer on a full context"
    else
        grep -q "^USB IAP tool: OpenGL .*$line" <<<"$out" || fail "$name: no \"$line\" on standard error"
        # Pixels that differ by more than 2 % of the full scale, of 240000.
        diff=$(compare -metric AE -fuzz 2% "$IAP_SHOTS/full.png" "$IAP_SHOTS/$name.png" null: 2>&1 || true)
        [ "${diff%%.*}" -le 240 ] 2>/dev/null || fail "$name: $diff pixels differ from the full context's window"
    fi
    close_window
    expect_clean_exit 30
done <<<"$cases"

stop_display
start_display -extension GLX
rm -f "$LOG"
start_tool "$IAP_DEMO"
want="USB IAP tool cannot draw its window: no OpenGL context ("
if [ "$WINDOWS" -eq 1 ]; then
    message=$(window_driver message) || fail "no message box"
    grep -qF "$want" <<<"$message" || fail "message box: $message"
fi
wait_exit 60
[ "$TOOL_RC" -eq 1 ] || fail "exit code $TOOL_RC without a GL context"
grep -qF "$want" "$WORK/out.txt" || fail "no \"$want\" on standard error"
log_count "[info] initWGL failed: " >/dev/null || fail "no \"initWGL failed: \" in the log"
! log_count "initWGL OK" >/dev/null || fail "\"initWGL OK\" without a context"
