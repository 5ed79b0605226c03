#!/usr/bin/env bash
# Without a display the tool ends with a failure code and says why. A tool
# whose package is damaged opens in the error view: the centred text and the
# modal popup both read "File corruption!"; "OK" closes the popup. On a
# station with a trust folder a sound but unsigned tool opens in the same
# view, with the reason in the log.
source "$(dirname "$0")/lib.sh"
# Under Wine there is no "without a display": Wine's own desktop needs one.
if [ "$WINDOWS" -eq 0 ]; then
    mkdir "$WORK/headless"
    set +e
    (cd "$WORK/headless" && env -u DISPLAY -u WAYLAND_DISPLAY timeout 30 "$IAP_DEMO" >out.txt 2>&1)
    rc=$?
    set -e
    [ "$rc" -ne 0 ] && [ "$rc" -ne 124 ] || fail "without a display: exit code $rc"
    grep -q "cannot open the window" "$WORK/headless/out.txt" || fail "without a display: no message"
fi

start_display
cp "$IAP_DEMO" "$WORK/tool$EXE"
# Break the package trailer's magic (the file's last byte).
size=$(stat -c %s "$WORK/tool$EXE")
printf '\x00' | dd of="$WORK/tool$EXE" bs=1 seek=$((size - 1)) conv=notrunc status=none
start_tool "$WORK/tool$EXE"
wait_window
wait_log "e.message.c_str().File corruption!" 2 10
park_mouse
sleep 0.3
with_popup=$(shot error-view)

# The popup's only button, in the style's button colour (0.26, 0.59, 0.98,
# 0.4 over the popup background 0.94).
ok_button() { convert "$1" +repage -fuzz 6% -fill black +opaque "rgb(170,204,244)" -format '%@' info:; }
box=$(ok_button "$with_popup")
[[ "$box" =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || fail "OK button not found ($box)"
w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
[ "$w" -ge 100 ] && [ "$w" -le 140 ] || fail "OK button of width $w"
click $((x + w / 2)) $((y + h / 2))
park_mouse
sleep 0.5
closed=$(shot error-view-ok)
[[ "$(ok_button "$closed")" =~ ^([0-9]+)x ]] && [ "${BASH_REMATCH[1]}" -gt 1 ] && fail "the popup is still open"
# Dark text pixels in the band of the centred text (any font: the built-in
# one under Wine draws without anti-aliasing, in two colours).
dark=$(convert "$closed" -crop 600x60+0+170 +repage -colorspace gray -threshold 50% -negate \
    -format '%[fx:round(mean*w*h)]' info:)
[ "$dark" -gt 200 ] || fail "no centred text after OK ($dark dark pixels)"
close_window
expect_clean_exit 30

# A trust folder with one key: the unchanged demo tool is unsigned.
mv "$LOG" "$WORK/first-basic-log.txt"
trust="$WORK/trusted-keys"
mkdir "$trust"
"$IAP_PACK" keygen --out "$trust/station" >/dev/null
rm "$trust/station.key"
[ "$WINDOWS" -eq 1 ] && trust=$(winepath -w "$trust")
export IAP_TRUSTED_KEYS_DIR=$trust
start_tool "$IAP_DEMO"
unset IAP_TRUSTED_KEYS_DIR
wait_window
wait_log "e.message.c_str().File corruption!" 2 10
wait_log "Tool package not loaded: unsigned package" 1 10
close_window
expect_clean_exit 30
