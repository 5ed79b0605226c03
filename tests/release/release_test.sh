#!/usr/bin/env bash
# The release packages as users get them (scripts/test.sh's last stage): the
# .deb and zip of scripts/release.sh; the .deb installed with apt-get, a
# product tool made with its usb-iap-pack (no --exe) and opened in Xvfb, the
# programs run from /usr/bin, then purged with what apt brought for it; the
# zip's files, imports and versions, usb-iap-pack.exe under Wine; a clone of
# the commit built in other folders gives the same bytes. Needs root or sudo,
# Wine, Xvfb. IAP_RELEASE_LINUX_BUILD, IAP_RELEASE_WIN_BUILD: as for
# scripts/release.sh. Ends with "release checks: N passed, M failed".
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
export IAP_RELEASE_LINUX_BUILD=${IAP_RELEASE_LINUX_BUILD:-build/pkg-linux}
export IAP_RELEASE_WIN_BUILD=${IAP_RELEASE_WIN_BUILD:-build/pkg-win}
LINUX=$(realpath -m "$IAP_RELEASE_LINUX_BUILD")
WIN=$(realpath -m "$IAP_RELEASE_WIN_BUILD")
TWIN=$ROOT/build/release-twin
WORK=$(mktemp -d "${TMPDIR:-/tmp}/iap-release.XXXXXX")
chmod 755 "$WORK"   # apt's _apt user reads the .deb from here
SUDO=$([ "$(id -u)" -eq 0 ] || echo sudo)
APT=($SUDO env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300)

PASSED=0 FAILED=0
# check NAME COMMAND...: one check, its output shown only when it fails.
check() {
  local name=$1; shift
  if "$@" >"$WORK/check.txt" 2>&1; then echo "ok - $name"; PASSED=$((PASSED + 1))
  else cat "$WORK/check.txt"; echo "FAIL - $name"; FAILED=$((FAILED + 1)); fi
}
same_text() { [ "$1" = "$2" ] || { echo "got \"$1\", expected \"$2\""; return 1; }; }
tool_version() { "$1" inspect "$2" | grep -x "tool version: $VERSION"; }  # tool_version PACK TOOL

INSTALLED=""   # the packages apt added, purged at the end whatever happens
# Installed packages by name: only what was added is removed, whatever the
# state of those that were there before (pending triggers...).
packages() { dpkg-query -W -f='${db:Status-Status} ${Package}:${Architecture}\n' | sed -n 's/^installed //p' | sort; }
finish() {
  local rc=$?
  [ -z "$INSTALLED" ] || "${APT[@]}" purge $INSTALLED >/dev/null 2>&1 || echo "release_test: could not purge $INSTALLED" >&2
  rm -rf "$WORK"
  exit $rc
}
trap finish EXIT

bash scripts/release.sh
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$LINUX/CMakeCache.txt")
DEB=dist/usb-iap-tools_${VERSION}_amd64.deb
ZIP=dist/usb-iap-tools-${VERSION}-win64.zip
check "release.sh made $DEB and $ZIP" test -s "$DEB" -a -s "$ZIP"
head -c 40000 /dev/zero | tr '\0' 'P' >"$WORK/firmware.bin"

# --- the Debian package
cmake --build "$LINUX" --target iap_close_window >/dev/null   # closes the window as a user does
cp "$DEB" "$WORK/"
packages >"$WORK/before.txt"
# Left by a killed run: the machine is not as it was, nothing can be tested.
check "usb-iap-tools is not installed before the test" eval '! grep -q "^usb-iap-tools:" "$WORK/before.txt"'
check "apt-get install ./$(basename "$DEB")" "${APT[@]}" install "$WORK/$(basename "$DEB")"
INSTALLED=$(packages | comm -13 "$WORK/before.txt" - | tr '\n' ' ')
for p in pack flash fleet; do
  check "usb-iap-$p --version" same_text "$(/usr/bin/usb-iap-$p --version)" "usb-iap-$p $VERSION"
done
check "man pages installed" test -f /usr/share/man/man1/usb-iap-pack.1.gz -a -f /usr/share/man/man1/usb-iap-flash.1.gz \
  -a -f /usr/share/man/man1/usb-iap-fleet.1.gz
check "the board's page in /usr/share/usb-iap-tools/fleet" test -s /usr/share/usb-iap-tools/fleet/index.html \
  -a -s /usr/share/usb-iap-tools/fleet/mqtt.min.js
check "the fleet services' units" systemd-analyze verify /usr/lib/systemd/system/usb-iap-fleet-ship.service \
  /usr/lib/systemd/system/usb-iap-fleet-collect.service
check "the services' user, made by postinst" bash -c 'getent passwd usb-iap-fleet | grep -q :/var/lib/usb-iap-fleet:'
# The example's options, as the ship service reads them, parse: it runs,
# waiting for a broker that is not there, until stopped (timeout: 124).
check "usb-iap-fleet --config examples/fleet.conf ship" bash -c 'sed "s|^broker = .*|broker = mqtt://127.0.0.1:1|;/password-file/d;/^user/d" \
    /usr/share/doc/usb-iap-tools/examples/fleet.conf >"$1/fleet.conf"
  timeout 3 /usr/bin/usb-iap-fleet --config "$1/fleet.conf" ship; rc=$?; echo "exit code $rc"; [ $rc -eq 124 ]' - "$WORK"
check "usb-iap-pack build without --exe (the installed tool)" env -C "$WORK" /usr/bin/usb-iap-pack build \
  --out product-tool --payload firmware.bin --item PRODUCT --device 1234:5678:01 --device 1234:5679:01
check "inspect: the product tool's version" tool_version /usr/bin/usb-iap-pack "$WORK/product-tool"
# Frames drawn (wait_window) with the skin (a black window has a few colours).
check "the product tool draws its window in Xvfb" env IAP_CLOSE_WINDOW="$LINUX/tools/iap_close_window" \
  IAP_SHOTS="$LINUX/release-shots" bash -c 'source "$1/tests/gui/lib.sh"; start_display; start_tool "$2"; wait_window
    colours=$(convert "$(shot product-window)" -format %k info:)
    [ "$colours" -ge 20 ] || fail "the window shows $colours colours: the skin is not drawn"
    close_window; expect_clean_exit' - "$ROOT" "$WORK/product-tool"
check "usb-iap-flash list (no device: exit 3)" \
  bash -c '/usr/bin/usb-iap-flash list "$1"; rc=$?; echo "exit code $rc"; [ $rc -eq 3 ]' - "$WORK/product-tool"
if "${APT[@]}" purge $INSTALLED >"$WORK/purge.txt" 2>&1; then INSTALLED=""; fi
packages >"$WORK/purged.txt"
check "purged: the package list is as before" diff "$WORK/before.txt" "$WORK/purged.txt"
check "purged: no trace of usb-iap-tools" eval '! dpkg-query -W usb-iap-tools && test ! -e /usr/lib/usb-iap-tools'

# --- the Windows zip
unzip -q "$ZIP" -d "$WORK/zip"
check "zip contents" same_text "$(unzip -Z1 "$ZIP" | tr '\n' ' ')" \
  "COPYRIGHT.txt README.txt fleet.conf usb-iap-flash.exe usb-iap-fleet.exe usb-iap-pack.exe usb-iap-tool.exe "
EXES=("$WORK"/zip/*.exe)
check "the .exe files import only system DLLs" cmake -DOBJDUMP=x86_64-w64-mingw32-objdump \
  "-DEXES=$(IFS=';'; echo "${EXES[*]}")" -P tests/win/check_imports.cmake
version_info() {  # the version strings Explorer shows (VERSIONINFO), and the marker
  for exe; do
    same_text "$(strings -el "$exe" | grep -A1 -x --no-group-separator -e FileVersion -e ProductVersion | paste -sd' ')" \
      "FileVersion $VERSION ProductVersion $VERSION" || return 1
    grep -qa "USB-IAP-TOOL-VERSION:$VERSION" "$exe" || { echo "no version marker in $exe"; return 1; }
  done
}
check "VERSIONINFO and marker $VERSION in each .exe" version_info "${EXES[@]}"
# As on a Windows PC: usb-iap-pack.exe takes usb-iap-tool.exe from its folder.
check "usb-iap-pack.exe build without --exe (under Wine)" env -C "$WORK/zip" "$ROOT/tests/win/run-wine.sh" \
  --prefix "$WIN/wineprefix" usb-iap-pack.exe build --out product.exe --payload ../firmware.bin --device 1234:5678:01
check "inspect: the product .exe's version" tool_version "$LINUX/tools/usb-iap-pack" "$WORK/zip/product.exe"

# --- the same commit (and uncommitted changes to tracked files) built elsewhere
rm -rf "$TWIN"
git clone -q --no-checkout "$ROOT" "$TWIN/src"
git -C "$TWIN/src" checkout -q "$(git rev-parse HEAD)"
git diff --binary HEAD | git -C "$TWIN/src" apply --allow-empty
(cd "$TWIN/src" && IAP_RELEASE_LINUX_BUILD=$TWIN/linux IAP_RELEASE_WIN_BUILD=$TWIN/win IAP_DIST=$TWIN/dist \
  IAP_WIN_SRC_DIR=${IAP_WIN_SRC_DIR:-$ROOT/build/third_party} bash scripts/release.sh >"$TWIN/release.txt" 2>&1) ||
  { tail -n 30 "$TWIN/release.txt"; FAILED=$((FAILED + 1)); echo "FAIL - release.sh in a clone"; }
for file in "$DEB" "$ZIP"; do
  check "byte-identical rebuild: $(basename "$file")" cmp "$file" "$TWIN/dist/$(basename "$file")"
done

echo "release checks: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
