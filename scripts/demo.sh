#!/usr/bin/env bash
# The main job: installs the dependencies, builds the tool and the package
# generator, makes the demo tool (the tool on a simulated device bus with a
# package appended by usb-iap-pack), shows what its package carries, and
# opens it. With a display the window is yours; without one the demo runs in a
# private Xvfb: "ToBoot" switches the simulated device into its bootloader,
# START upgrades it, and the screenshot and the upgrade's log lines are shown.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

BUILD=${IAP_DEMO_BUILD:-build/demo}
echo "== building in $BUILD"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target usb-iap-pack usb-iap-tool-demo iap_close_window

PACK="$BUILD/tools/usb-iap-pack"
DEMO="$BUILD/bin/usb-iap-tool-demo"

echo
echo "== the demo tool's package ($DEMO)"
"$PACK" inspect "$DEMO"

echo
echo "== the built-in skin, for product engineers to start from"
"$PACK" skin "$BUILD/skin"

RUN="$BUILD/demo-run"
mkdir -p "$RUN"
RUN=$(cd "$RUN" && pwd)
DEMO=$(cd "$(dirname "$DEMO")" && pwd)/$(basename "$DEMO")

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1 && [ -z "${IAP_DEMO_HEADLESS:-}" ]; then
  echo
  echo "== opening the demo on $DISPLAY (log: $RUN/basic-log.txt)"
  echo "   The simulated device runs its application: press ToBoot, then START."
  cd "$RUN"
  exec "$DEMO"
fi

echo
echo "== no display: running the demo in Xvfb"
export IAP_SHOTS="$RUN"
export IAP_CLOSE_WINDOW
IAP_CLOSE_WINDOW=$(cd "$BUILD/tools" && pwd)/iap_close_window
source tests/gui/lib.sh
start_display
IAP_DEMO_LATENCY_US=3000 start_tool "$DEMO"
wait_window
park_mouse
echo "clicking ToBoot (the device starts in its application)"
click 435 309
wait_log "e.message.c_str().PASS" 2 60
sleep 2   # the device restarts into its bootloader after switchDelay
echo "clicking START"
click 281 351
wait_log "e.message.c_str().Open Success! BOOT" 2 60
sleep 0.8
park_mouse
UPGRADING=$(shot demo-upgrading)
wait_log "e.message.c_str().PASS" 4 120
sleep 0.5
SHOT=$(shot demo-pass)
close_window
wait_exit 30
cp "$LOG" "$RUN/basic-log.txt"

echo
echo "== log lines of the upgrade (frame lines left out)"
sed -n '/\] IAPThread/,$p' "$LOG" |
  grep -v -E 'RSRC_|main_gui OK|NewFrame OK|RenderDrawData OK|DrawProgress OK|DrawTips OK|ToBoot|pos: \(' |
  grep -v -E 'onbusinessOk progress_(limit|pos)' | tr -d '\r'
echo
echo "screenshot during the upgrade: $UPGRADING"
echo "screenshot after the upgrade:  $SHOT"
echo "whole log:                     $RUN/basic-log.txt"
grep -q "e.message.c_str().PASS" "$LOG" && grep -q "Main loop over OK" "$LOG"
echo "demo upgrade: PASS"
