#!/usr/bin/env bash
# Builds the Windows programs (scripts/win-build.sh) and runs their tests
# (ctest -L win): under Wine on a private Xvfb (tests/win/run-wine.sh, Wine
# prefix BUILD_DIR/wineprefix) the smoke program, the GL loader tests, the
# tool's Windows pieces, usb-iap-pack.exe against the build machine's
# generator, the GUI scenarios of tests/gui on the demo .exe, and the device
# scenarios of tests/umockdev on the tool and usb-iap-flash .exe against the
# emulated bootloader; and the
# checks that the executables import only system DLLs and that the tool
# stays under 5 MB.
#
#   scripts/win-test.sh [--screenshot FILE.png] [BUILD_DIR]  (default build/win)
#
# --screenshot also runs the smoke program for a few seconds and saves the
# X display with ImageMagick's import.
set -euo pipefail
cd "$(dirname "$0")/.."
SHOT=""
if [ "${1:-}" = "--screenshot" ]; then SHOT=$(realpath -m "$2"); shift 2; fi
DIR=${1:-build/win}
bash scripts/win-build.sh "$DIR"
ctest --test-dir "$DIR" --output-on-failure -L win --timeout 600
if [ -n "$SHOT" ]; then
  IAP_WINE_SCREENSHOT=$SHOT tests/win/run-wine.sh --prefix "$PWD/$DIR/wineprefix" "$DIR/tests/win/iap_win_smoke.exe" --hold-ms 2000
  echo "win-test: screenshot in $SHOT"
fi
