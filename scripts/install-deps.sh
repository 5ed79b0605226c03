#!/usr/bin/env bash
# Installs every build, test and run dependency from Debian's packages.
# Idempotent: packages already present are left as they are.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  # core libraries
  libspdlog-dev libfmt-dev libstb-dev
  # tests (jq reads usb-iap-flash's JSON lines; script gives it a terminal)
  googletest libgtest-dev libgmock-dev jq bsdutils
  # window
  libimgui-dev libglfw3-dev libepoxy-dev libgl-dev libgl1-mesa-dri
  libfontconfig-dev fonts-wqy-microhei
  # Liberation Sans (Arial's metrics): the Windows tool's fallback font under Wine
  fonts-liberation
  # device access
  libhidapi-dev libusb-1.0-0-dev
  # real HID/USB stack under test (libudev: a client that watches uevents)
  umockdev libumockdev-dev libudev-dev
  # GUI tests: virtual display, clicks, screenshots
  xvfb xauth xdotool x11-utils imagemagick libx11-dev
  # the upgrade record read with a real CSV reader
  python3
  # Windows build: mingw-w64 (POSIX threads), apt-get source, Wine 8 and
  # the X and GL libraries Wine's X11 driver loads for a GL window (libwine
  # only recommends them)
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-x86-64-dev dpkg-dev wine wine64
  libgl1 libglx-mesa0 libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1
  libxfixes3 libxinerama1 libxxf86vm1
  # release packages (scripts/release.sh): the .deb's check, the Windows zip
  # and its test's unzip; the release test verifies the fleet's systemd units
  # (systemd-analyze) and the .deb's postinst makes a user (adduser)
  lintian zip unzip systemd adduser
  # fleet: MQTT client library, JSON, the embedded and the PostgreSQL store;
  # the broker, its clients and a PostgreSQL server for the tests
  libmosquitto-dev nlohmann-json3-dev libsqlite3-dev libpq-dev
  mosquitto mosquitto-clients postgresql
  # the fault table reads the SQLite store with its command line
  sqlite3
  # command lines (header-only) and package signatures (Ed25519)
  libcli11-dev libsodium-dev openssl
  # firmware files in HEX and S-record made by an independent writer (tests)
  srecord
  # Authenticode signing of the Windows tools
  osslsigncode
  # the fleet board's browser tests (paho: the tests' own MQTT clients)
  chromium chromium-driver python3-selenium python3-paho-mqtt
  # Windows build: tclsh makes SQLite's amalgamation from its source package
  tcl
)

# the board's JavaScript (npm ci fetches mqtt.js): Debian's node and npm
# where the machine has no npm of its own
command -v npm >/dev/null 2>&1 || PACKAGES+=(nodejs npm)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
else
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Windows build: Debian's source packages of imgui, hidapi, libusb-1.0,
# mosquitto, libsodium and sqlite3.
bash "$(dirname "$0")/fetch-win-sources.sh"
