#!/usr/bin/env bash
# The release packages as users get them (scripts/test.sh's last stage):
#   1. scripts/release.sh makes the .deb and the zip into dist/;
#   2. the .deb is installed with apt-get; a product tool is made with the
#      installed usb-iap-pack and no --exe, opened in Xvfb (it must draw
#      frames); usb-iap-flash --version and list run from /usr/bin; the
#      package is purged with whatever apt brought for it, and the machine's
#      package list is as before;
#   3. the zip holds the five files, each .exe imports only system DLLs and
#      carries its version; usb-iap-pack.exe without --exe makes a
#      product .exe from the usb-iap-tool.exe beside it (under Wine);
#   4. a clone of the same commit, built in other folders, gives the same
#      bytes.
# Needs root or sudo (apt-get), the Wine of the Windows build, Xvfb.
#
#   tests/release/release_test.sh
# IAP_RELEASE_LINUX_BUILD, IAP_RELEASE_WIN_BUILD: as for scripts/release.sh
# (scripts/test.sh passes build/release and build/win). Ends with one line
# "release checks: N passed, M failed".
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
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
APT=($SUDO env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300)

PASSED=0 FAILED=0
ok() { echo "ok - $*"; PASSED=$((PASSED + 1)); }
bad() { echo "FAIL - $*"; FAILED=$((FAILED + 1)); }
# check NAME COMMAND...: one check, its output shown only when it fails.
check() {
  local name=$1; shift
  if "$@" >"$WORK/check.txt" 2>&1; then ok "$name"; else cat "$WORK/check.txt"; bad "$name"; fi
}

INSTALLED=""   # the packages apt added, purged at the end whatever happens
# The installed packages by name (states of packages that were there before,
# such as pending triggers, do not matter: only what was added is removed).
packages() { dpkg-query -W -f='${db:Status-Status} ${Package}:${Architecture}\n' | sed -n 's/^installed //p' | sort; }
finish() {
  local rc=$?
  if [ -n "$INSTALLED" ]; then
    # shellcheck disable=SC2086
    "${APT[@]}" purge $INSTALLED >/dev/null 2>&1 || echo "release_test: could not purge $INSTALLED" >&2
  fi
  rm -rf "$WORK"
  exit $rc
}
trap finish EXIT

echo "-- scripts/release.sh"
START=$SECONDS
bash scripts/release.sh
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$LINUX/CMakeCache.txt")
DEB=dist/usb-iap-tools_${VERSION}_amd64.deb
ZIP=dist/usb-iap-tools-${VERSION}-win64.zip
check "release.sh made $DEB and $ZIP" test -s "$DEB" -a -s "$ZIP"
echo "(release.sh: $((SECONDS - START)) s)"

echo "-- the Debian package"
cmake --build "$LINUX" --target iap_close_window >/dev/null   # closes the window as a user does
cp "$DEB" "$WORK/"
packages >"$WORK/before.txt"
# An earlier run that was killed may have left it: then the machine is not
# as it was, and this run can neither install it fresh nor remove it.
check "usb-iap-tools is not installed before the test" eval '! grep -q "^usb-iap-tools:" "$WORK/before.txt"'
if "${APT[@]}" install "$WORK/$(basename "$DEB")" >"$WORK/apt.txt" 2>&1; then
  ok "apt-get install ./$(basename "$DEB")"
else
  cat "$WORK/apt.txt"; bad "apt-get install ./$(basename "$DEB")"
fi
packages >"$WORK/after.txt"
INSTALLED=$(comm -13 "$WORK/before.txt" "$WORK/after.txt" | tr '\n' ' ')
echo "apt installed: $INSTALLED"

same_text() { [ "$1" = "$2" ] || { echo "got \"$1\", expected \"$2\""; return 1; }; }
check "usb-iap-pack --version" same_text "$(/usr/bin/usb-iap-pack --version)" "usb-iap-pack $VERSION"
check "usb-iap-flash --version" same_text "$(/usr/bin/usb-iap-flash --version)" "usb-iap-flash $VERSION"
check "man pages installed" test -f /usr/share/man/man1/usb-iap-pack.1.gz -a -f /usr/share/man/man1/usb-iap-flash.1.gz

mkdir "$WORK/product"
cd "$WORK/product"
head -c 40000 /dev/zero | tr '\0' 'P' >firmware.bin
check "usb-iap-pack build without --exe (the installed tool)" \
  /usr/bin/usb-iap-pack build --out product-tool --payload firmware.bin --item PRODUCT \
  --device 1234:5678:01 --device 1234:5679:01
check "inspect: the product tool's version" \
  eval "/usr/bin/usb-iap-pack inspect product-tool | grep -x 'tool version: $VERSION'"
check "the product tool draws its window in Xvfb" \
  env IAP_CLOSE_WINDOW="$LINUX/tools/iap_close_window" IAP_SHOTS="$LINUX/release-shots" \
  bash "$ROOT/tests/release/product_window.sh" "$WORK/product/product-tool"
# No device of the package is attached: list says so and exits 3.
list_none() {
  local rc=0
  /usr/bin/usb-iap-flash list product-tool || rc=$?
  [ "$rc" -eq 3 ] || { echo "exit code $rc, expected 3 (no device)"; return 1; }
}
check "usb-iap-flash list (no device: exit 3)" list_none
cd "$ROOT"

# shellcheck disable=SC2086
if "${APT[@]}" purge $INSTALLED >"$WORK/purge.txt" 2>&1; then INSTALLED=""; fi
packages >"$WORK/purged.txt"
check "purged: the package list is as before" diff "$WORK/before.txt" "$WORK/purged.txt"
check "purged: no trace of usb-iap-tools" eval '! dpkg-query -W usb-iap-tools && test ! -e /usr/lib/usb-iap-tools'


echo "-- the Windows zip"
mkdir "$WORK/zip"
unzip -q "$ZIP" -d "$WORK/zip"
check "zip contents" same_text "$(unzip -Z1 "$ZIP" | tr '\n' ' ')" \
  "COPYRIGHT.txt README.txt usb-iap-flash.exe usb-iap-pack.exe usb-iap-tool.exe "
EXES=("$WORK"/zip/*.exe)
check "the .exe files import only system DLLs" \
  cmake -DOBJDUMP=x86_64-w64-mingw32-objdump "-DEXES=$(IFS=';'; echo "${EXES[*]}")" \
  -P tests/win/check_imports.cmake
# The version strings Explorer shows (VERSIONINFO), and the marker.
version_info() {
  local exe key
  for exe in "$@"; do
    for key in FileVersion ProductVersion; do
      same_text "$(strings -el "$exe" | grep -A1 -x "$key" | tail -n1)" "$VERSION" || return 1
    done
    grep -qa "USB-IAP-TOOL-VERSION:$VERSION" "$exe" || { echo "no version marker in $exe"; return 1; }
  done
}
check "VERSIONINFO and marker $VERSION in each .exe" version_info "${EXES[@]}"
# As on a Windows PC: usb-iap-pack.exe takes usb-iap-tool.exe from its folder.
cd "$WORK/zip"
head -c 40000 /dev/zero | tr '\0' 'P' >firmware.bin
check "usb-iap-pack.exe build without --exe (under Wine)" \
  "$ROOT/tests/win/run-wine.sh" --prefix "$WIN/wineprefix" usb-iap-pack.exe build --out product.exe \
  --payload firmware.bin --device 1234:5678:01
check "inspect: the product .exe's version" \
  eval "'$LINUX/tools/usb-iap-pack' inspect product.exe | grep -x 'tool version: $VERSION'"
cd "$ROOT"

echo "-- the same commit built again elsewhere"
START=$SECONDS
rm -rf "$TWIN"
mkdir -p "$TWIN"
git clone -q --no-checkout "$ROOT" "$TWIN/src"
git -C "$TWIN/src" checkout -q "$(git rev-parse HEAD)"
# A tree with uncommitted changes: the clone gets them too (tracked files).
git diff --binary HEAD | git -C "$TWIN/src" apply --allow-empty
(
  cd "$TWIN/src"
  export IAP_RELEASE_LINUX_BUILD=$TWIN/linux IAP_RELEASE_WIN_BUILD=$TWIN/win IAP_DIST=$TWIN/dist
  export IAP_WIN_SRC_DIR=${IAP_WIN_SRC_DIR:-$ROOT/build/third_party}
  bash scripts/release.sh >"$TWIN/release.txt" 2>&1
) || { tail -n 30 "$TWIN/release.txt"; bad "release.sh in a clone"; }
for file in "$DEB" "$ZIP"; do
  check "byte-identical rebuild: $(basename "$file")" cmp "$file" "$TWIN/dist/$(basename "$file")"
done
echo "(second build: $((SECONDS - START)) s)"

echo "release checks: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
