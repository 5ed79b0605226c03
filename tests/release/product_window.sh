#!/usr/bin/env bash
# A product tool opens its window in Xvfb, draws frames with its package's
# skin, and closes cleanly (release_test.sh runs it on a tool made from the
# installed package).
#   product_window.sh PRODUCT_TOOL     (IAP_CLOSE_WINDOW: tools/iap_close_window)
PRODUCT=$1
source "$(dirname "$0")/../gui/lib.sh"
start_display
start_tool "$PRODUCT"
wait_window
park_mouse
sleep 0.3
SHOT=$(shot product-window)
colours=$(convert "$SHOT" -format '%k' info:)
[ "$colours" -ge 20 ] || fail "the window shows $colours colours: the skin is not drawn"
close_window
expect_clean_exit
echo "product window: frames drawn ($(log_count 'ImGui_ImplOpenGL3_RenderDrawData OK')), $colours colours, closed cleanly"
