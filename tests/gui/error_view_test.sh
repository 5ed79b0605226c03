#!/usr/bin/env bash
# A tool whose package is damaged opens in the error view: the centred text
# and the modal popup both read "File corruption!"; "OK" closes the popup.
source "$(dirname "$0")/lib.sh"
start_display
cp "$IAP_DEMO" "$WORK/tool"
# Break the package trailer's magic (the file's last byte).
size=$(stat -c %s "$WORK/tool")
printf '\x00' | dd of="$WORK/tool" bs=1 seek=$((size - 1)) conv=notrunc status=none
start_tool "$WORK/tool"
wait_window
wait_log "e.message.c_str().File corruption!" 2 10
park_mouse
sleep 0.3
with_popup=$(shot error-view)

# The OK button: the popup's only button, in the style's button colour
# (0.26, 0.59, 0.98, 0.4 over the popup background 0.94).
box=$(convert "$with_popup" +repage -fuzz 6% -fill black +opaque "rgb(170,204,244)" -format '%@' info:)
[[ "$box" =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || fail "OK button not found ($box)"
w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
[ "$w" -ge 100 ] && [ "$w" -le 140 ] || fail "OK button of width $w"
click $((x + w / 2)) $((y + h / 2))
park_mouse
sleep 0.5
closed=$(shot error-view-ok)
box2=$(convert "$closed" +repage -fuzz 6% -fill black +opaque "rgb(170,204,244)" -format '%@' info:)
[[ "$box2" =~ ^([0-9]+)x([0-9]+) ]] && [ "${BASH_REMATCH[1]}" -gt 1 ] && fail "the popup is still open"
# The centred text stays.
colours=$(convert "$closed" -crop 600x60+0+170 -unique-colors -format '%k' info:)
[ "$colours" -gt 2 ] || fail "no centred text after OK"
close_window
expect_clean_exit 30
