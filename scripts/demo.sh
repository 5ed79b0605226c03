#!/usr/bin/env bash
# The main job: installs the dependencies, builds the tool and the package
# generator, makes the demo tool (the tool on a simulated device bus with a
# package appended by usb-iap-pack) and shows what its package carries.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

BUILD=${IAP_DEMO_BUILD:-build/demo}
echo "== building in $BUILD"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target usb-iap-pack usb-iap-tool-demo

PACK="$BUILD/tools/usb-iap-pack"
DEMO="$BUILD/bin/usb-iap-tool-demo"

echo
echo "== the demo tool's package ($DEMO)"
"$PACK" inspect "$DEMO"

echo
echo "== the built-in skin, for product engineers to start from"
"$PACK" skin "$BUILD/skin"
