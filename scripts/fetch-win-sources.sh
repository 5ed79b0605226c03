#!/usr/bin/env bash
# Fetches the Debian source packages the Windows build compiles with our own
# CMake (cmake/win_third_party.cmake): Dear ImGui, hidapi, libusb-1.0,
# libmosquitto, libsodium and SQLite.
#
# Usage: scripts/fetch-win-sources.sh [DEST]   (default: build/third_party)
#
# Each package is unpacked by `apt-get source` into DEST/<pkg>-<version>, and
# DEST/<name> is a stable symlink to it (imgui, hidapi, libusb, mosquitto,
# libsodium, sqlite3). A package
# whose symlink and stamp are already there is not fetched again, so the
# script is idempotent and cheap to re-run. DEST is under build/, which git
# ignores: nothing fetched here is committed.
#
# SQLite's source package holds its sources, not the one-file amalgamation
# the build compiles: it is made here once, into DEST/sqlite3/amalgamation,
# with the package's own configure and tools (the host's cc and tclsh).
set -euo pipefail
cd "$(dirname "$0")/.."
DEST=${1:-${IAP_WIN_SRC_DIR:-build/third_party}}
mkdir -p "$DEST"
DEST=$(cd "$DEST" && pwd)

# source package -> stable name used by the CMake files
declare -A LINK=([imgui]=imgui [hidapi]=hidapi [libusb-1.0]=libusb
  [mosquitto]=mosquitto [libsodium]=libsodium [sqlite3]=sqlite3)
ORDER=(imgui hidapi libusb-1.0 mosquitto libsodium sqlite3)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

have() {  # have PKG: already unpacked by an earlier run
  local link="$DEST/${LINK[$1]}"
  [ -L "$link" ] && [ -d "$link/" ] && [ -f "$DEST/.stamp-$1" ]
}

todo=()
for p in "${ORDER[@]}"; do have "$p" || todo+=("$p"); done
if [ ${#todo[@]} -eq 0 ]; then
  echo "fetch-win-sources: present in $DEST: $(cd "$DEST" && cat .stamp-* | tr '\n' ' ')"
  exit 0
fi

# apt-get source unpacks with dpkg-source, from dpkg-dev.
if ! command -v dpkg-source >/dev/null; then
  echo "fetch-win-sources: dpkg-source missing (install dpkg-dev: scripts/install-deps.sh)" >&2
  exit 1
fi

if [[ " ${todo[*]} " == *" sqlite3 "* ]] && ! command -v tclsh >/dev/null; then
  echo "fetch-win-sources: tclsh missing for SQLite's amalgamation (install tcl: scripts/install-deps.sh)" >&2
  exit 1
fi

amalgamate_sqlite() {  # amalgamate_sqlite SRC: SRC/amalgamation/sqlite3.[ch]
  local src=$1 bld
  bld=$(mktemp -d "$DEST/.sqlite3-amalgamation.XXXXXX")
  (cd "$bld" && env -u CC -u CFLAGS -u CPPFLAGS -u LDFLAGS \
      "$src/configure" --disable-tcl --disable-readline >configure.log 2>&1 &&
    make -j"${JOBS:-2}" sqlite3.c >make.log 2>&1) || {
    tail -n 30 "$bld"/*.log >&2; echo "fetch-win-sources: SQLite's amalgamation failed" >&2; exit 1; }
  mkdir -p "$src/amalgamation"
  cp "$bld/sqlite3.c" "$bld/sqlite3.h" "$bld/sqlite3ext.h" "$src/amalgamation/"
  rm -rf "$bld"
}

# deb-src entries: a separate deb822 file beside the system's own one, with
# the same mirrors and suites, so the existing file is never edited.
SRC_LIST=/etc/apt/sources.list.d/iap-deb-src.sources
SYS=/etc/apt/sources.list.d/debian.sources
if [ ! -f "$SRC_LIST" ] && ! grep -qs '^Types:.*deb-src' "$SYS"; then
  if [ -f "$SYS" ] && grep -q '^Types:.*\bdeb\b' "$SYS"; then
    content=$(sed -E 's/^Types:.*$/Types: deb-src/' "$SYS")
  else
    content="Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  fi
  echo "fetch-win-sources: adding $SRC_LIST"
  printf '# Source packages for the Windows build (scripts/fetch-win-sources.sh)\n%s\n' "$content" \
    | $SUDO tee "$SRC_LIST" >/dev/null
  $SUDO apt-get update -qq
elif ! apt-cache showsrc --only-source imgui 2>/dev/null | grep -q '^Package: imgui'; then
  $SUDO apt-get update -qq
fi

# As root, apt's download sandbox user (_apt) cannot write into a root-owned
# folder; fetch as root instead of warning about it.
APT_OPTS=(-q --only-source)
if [ "$(id -u)" -eq 0 ]; then APT_OPTS+=(-o APT::Sandbox::User=root); fi

for p in "${todo[@]}"; do
  version=$(apt-cache showsrc --only-source "$p" | sed -n 's/^Version: //p' | head -n1)
  [ -n "$version" ] || { echo "fetch-win-sources: no source package $p" >&2; exit 1; }
  upstream=${version#*:}        # drop the epoch
  upstream=${upstream%-*}       # drop the Debian revision
  dir="$p-$upstream"
  echo "fetch-win-sources: $p $version"
  tmp=$(mktemp -d "$DEST/.fetch-$p.XXXXXX")
  (cd "$tmp" && apt-get source "${APT_OPTS[@]}" "$p=$version" >apt-source.log 2>&1) || {
    cat "$tmp/apt-source.log" >&2; exit 1; }
  [ -d "$tmp/$dir" ] || { echo "fetch-win-sources: $p did not unpack into $dir" >&2; exit 1; }
  rm -rf "${DEST:?}/$dir"
  mv "$tmp/$dir" "$DEST/$dir"
  rm -rf "$tmp"
  if [ "$p" = sqlite3 ]; then
    echo "fetch-win-sources: making SQLite's amalgamation"
    amalgamate_sqlite "$DEST/$dir"
  fi
  ln -sfn "$dir" "$DEST/${LINK[$p]}"
  echo "$p=$version" >"$DEST/.stamp-$p"
done
echo "fetch-win-sources: present in $DEST: $(cd "$DEST" && cat .stamp-* | tr '\n' ' ')"
