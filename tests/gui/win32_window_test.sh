#!/usr/bin/env bash
# The Win32 window under Wine (IAP_WINE_PREFIX set): title, client size,
# style and position; no font file in the prefix: the built-in font; Alt
# alone opens no menu and the frames go on; minimised and restored, it still
# draws 600 x 400; WM_CLOSE ends it cleanly with code 0. Then the tool from a
# folder with a Chinese name, started by a relative name, loads its package;
# with an arial.ttf (Liberation Sans), then a simhei.ttf (WenQuanYi, as on
# Linux) in the Fonts folder, the texts are drawn with it, as tall with both.
source "$(dirname "$0")/lib.sh"
[ "$WINDOWS" -eq 1 ] || fail "a Windows test: IAP_WINE_PREFIX is not set"
start_display
FONTS="$WINEPREFIX/drive_c/windows/Fonts"
rm -f "$FONTS/simhei.ttf" "$FONTS/arial.ttf"  # left by an interrupted run
start_tool "$IAP_DEMO"
wait_window
info=$(window_driver info)
for want in "title=USB IAP tool" "client=600x400" "at=100,50"; do
    grep -qx -- "$want" <<<"$info" || fail "window: no \"$want\" in
$info"
done
style=$(sed -n 's/^style=//p' <<<"$info")
[ $((style & 0x00CF0000)) -eq $((0x00CE0000)) ] || fail "window style $style (no maximise box expected)"
log_count "[info] Font built-in, 13 px" >/dev/null || fail "no \"Font built-in, 13 px\" without a font file"
log_count "Font OK" >/dev/null || fail "no \"Font OK\" without a font file"

frames() { log_count "ImGui_ImplOpenGL3_RenderDrawData OK" || true; }
# Alt alone: focus on the window, then the key. A system menu would hold the
# thread in its modal loop, and no frame would be drawn.
click 590 5
xdotool key alt
sleep 0.5
[ "$(window_driver menu)" = "menu=0" ] || fail "Alt opened a menu"
before=$(frames)
sleep 1
after=$(frames)
[ $((after - before)) -ge 20 ] || fail "only $((after - before)) frames in the second after Alt"

window_driver minimize || fail "the window did not minimise"
sleep 0.5
before=$(frames)
sleep 0.5
[ "$(frames)" -gt "$before" ] || fail "no frames while minimised"
window_driver restore || fail "the window did not come back"
sleep 0.5
WID=$(client_window)
grep -qx "client=600x400" <<<"$(window_driver info)" || fail "client size after restore"
restored=$(shot win32-restored)
[ "$(identify -format '%wx%h' "$restored")" = "600x400" ] || fail "restored client area not 600x400"
colours=$(convert "$restored" -unique-colors -format '%k' info:)
[ "$colours" -gt 50 ] || fail "the restored window shows $colours colours: not drawn"

close_window
expect_clean_exit 30

# A folder with a Chinese name, the tool started there by a relative name.
dir="$WORK/固件升级 工具"
mkdir -p "$dir"
cp "$IAP_DEMO" "$dir/usb-iap-tool-demo.exe"
cd "$dir"
LOG="$dir/basic-log.txt"
start_tool ./usb-iap-tool-demo.exe
wait_window
grep -q "^retryNum:3" "$WORK/out.txt" || fail "the package was not loaded from \"$dir\""
! log_count "File corruption" >/dev/null || fail "the tool in \"$dir\" shows the error view"
park_mouse
sleep 0.3
shot win32-chinese-folder >/dev/null
close_window
expect_clean_exit 30

# With a font file: the error view's text anti-aliased (the built-in font
# draws it in two colours), its tallest line measured.
cp "$IAP_DEMO" "$dir/broken.exe"
size=$(stat -c %s "$dir/broken.exe")
printf '\x00' | dd of="$dir/broken.exe" bs=1 seek=$((size - 1)) conv=notrunc status=none
trap 'rc=$?; rm -f "$FONTS/simhei.ttf" "$FONTS/arial.ttf"; (exit $rc); cleanup' EXIT
declare -A height
for font in arial.ttf:/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf \
    simhei.ttf:/usr/share/fonts/truetype/wqy/wqy-microhei.ttc; do
    name=${font%%:*}
    cp "${font#*:}" "$FONTS/$name"
    rm -f "$LOG"
    start_tool ./broken.exe
    wait_window
    wait_log "e.message.c_str().File corruption!" 2 10
    log_count "[info] Font C:\\windows\\Fonts\\$name, 36 px" >/dev/null || fail "$name not taken: $(grep -F '] Font ' "$LOG")"
    park_mouse
    sleep 0.5
    shot=$(shot "win32-$name")
    colours=$(convert "$shot" -crop 600x60+0+170 +repage -format '%k' info:)
    [ "$colours" -gt 20 ] || fail "with $name the text has $colours colours: not the font"
    height[$name]=$(ink_height "$shot")
    close_window
    expect_clean_exit 30
done
# The built-in font is 13 px; the designed 36 px font's lines are about 30.
a=${height[arial.ttf]} s=${height[simhei.ttf]}
[ "$a" -ge 26 ] && [ $((a * 10)) -ge $((s * 9)) ] && [ $((a * 10)) -le $((s * 11)) ] ||
    fail "text lines $a px tall with arial.ttf, $s px with the Linux window's font"
