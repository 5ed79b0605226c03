#!/usr/bin/env bash
# Makes the release packages of the checked-out commit into dist/:
#
#   usb-iap-tools_<version>_amd64.deb   Debian 12: usb-iap-pack, usb-iap-flash, usb-iap-fleet
#                                       in /usr/bin, the bare tool in
#                                       /usr/lib/usb-iap-tools, man pages, README,
#                                       the fleet board's page and services
#   usb-iap-tools-<version>-win64.zip   Windows: usb-iap-tool.exe (bare),
#                                       usb-iap-pack.exe, usb-iap-flash.exe, usb-iap-fleet.exe,
#                                       README.txt, COPYRIGHT.txt, fleet.conf
#   SHA256SUMS                          of the two
#
# The same commit gives the same bytes, in any folder: SOURCE_DATE_EPOCH is
# the commit's time; the programs are built with IAP_PACKAGE_BUILD (no build
# paths, no time stamps); CPack and zip give every file that time, in a fixed
# order. lintian checks the .deb (an error stops the release).
#
#   bash scripts/release.sh          (after scripts/install-deps.sh)
#
# IAP_RELEASE_LINUX_BUILD, IAP_RELEASE_WIN_BUILD: the build folders (default
# build/pkg-linux and build/pkg-win, which build only the shipped programs);
# scripts/test.sh passes its own, configured with -DIAP_PACKAGE_BUILD=ON.
# IAP_DIST: where the packages go (default dist). JOBS: parallel compiles (2).
set -euo pipefail
cd "$(dirname "$0")/.."
LINUX=${IAP_RELEASE_LINUX_BUILD:-build/pkg-linux}
WIN=${IAP_RELEASE_WIN_BUILD:-build/pkg-win}
DIST=${IAP_DIST:-dist}
JOBS=${JOBS:-2}
SHIPPED=(usb-iap-tool usb-iap-pack usb-iap-flash usb-iap-fleet)

SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release: warning: the tree has uncommitted changes; the packages are not those of $(git rev-parse --short HEAD)" >&2
fi

echo "== Linux programs ($LINUX)"
cmake --no-warn-unused-cli -S . -B "$LINUX" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIAP_PACKAGE_BUILD=ON \
  -DIAP_BOARD=ON >/dev/null
cmake --build "$LINUX" -j"$JOBS" --target "${SHIPPED[@]}" iap_package_docs fleet_board
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$LINUX/CMakeCache.txt")
[ -n "$VERSION" ] || { echo "release: no project version in $LINUX/CMakeCache.txt" >&2; exit 1; }
changelog=$(sed -n '1s/^usb-iap-tools (\([^)]*\)).*/\1/p' packaging/changelog)
if [ "$changelog" != "$VERSION" ]; then
  echo "release: packaging/changelog's latest entry is $changelog, the project is $VERSION: add an entry" >&2
  exit 1
fi

echo "== Windows programs ($WIN)"
bash scripts/fetch-win-sources.sh >/dev/null
win_args=()
[ -n "${IAP_WIN_SRC_DIR:-}" ] && win_args+=(-DIAP_WIN_SRC_DIR="$(realpath "$IAP_WIN_SRC_DIR")")
cmake --no-warn-unused-cli -S . -B "$WIN" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DIAP_PACKAGE_BUILD=ON "${win_args[@]}" >/dev/null
cmake --build "$WIN" -j"$JOBS" --target "${SHIPPED[@]}"

mkdir -p "$DIST"
DIST=$(cd "$DIST" && pwd)
DEB=usb-iap-tools_${VERSION}_amd64.deb
ZIP=usb-iap-tools-${VERSION}-win64.zip
rm -f "$DIST/$DEB" "$DIST/$ZIP" "$DIST/SHA256SUMS"

echo "== $DEB"
rm -rf "$LINUX/deb"
(cd "$LINUX" && cpack -G DEB >/dev/null)
cp "$LINUX/deb/$DEB" "$DIST/$DEB"
rc=0
lintian --fail-on error "$DIST/$DEB" >"$LINUX/lintian.txt" 2>&1 || rc=$?
grep -v 'running with root privileges' "$LINUX/lintian.txt" || echo "lintian: no tags"
[ "$rc" -eq 0 ] || { echo "release: lintian reports errors" >&2; exit 1; }

echo "== $ZIP"
STAGE=$(mktemp -d)
trap 'rm -rf "$STAGE"' EXIT
cmake --install "$WIN" --prefix "$STAGE/install" >/dev/null
mkdir "$STAGE/zip"
for program in "${SHIPPED[@]}"; do
  install -m 0755 "$STAGE/install/bin/$program.exe" "$STAGE/zip/"
done
# Text files for Notepad: CR LF.
sed 's/$/\r/' README.md >"$STAGE/zip/README.txt"
sed 's/$/\r/' packaging/copyright >"$STAGE/zip/COPYRIGHT.txt"
sed 's/$/\r/' packaging/fleet.conf >"$STAGE/zip/fleet.conf"   # the service's options, an example
chmod 0644 "$STAGE/zip/README.txt" "$STAGE/zip/COPYRIGHT.txt" "$STAGE/zip/fleet.conf"
touch -d "@$SOURCE_DATE_EPOCH" "$STAGE/zip/"*
# -X: no extra fields (owner, extended times); names in byte order.
(cd "$STAGE/zip" && ls | sort | zip -X -9 -q -@ "$DIST/$ZIP")

(cd "$DIST" && sha256sum "$DEB" "$ZIP" >SHA256SUMS)
echo
echo "release $VERSION ($(git rev-parse --short HEAD), SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH) in $DIST:"
(cd "$DIST" && ls -l "$DEB" "$ZIP" | awk '{print "  " $5 " bytes  " $9}')
dpkg-deb -f "$DIST/$DEB" Depends | sed 's/^/  Depends: /'
