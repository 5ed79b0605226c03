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
  # device access
  libhidapi-dev libusb-1.0-0-dev
  # real HID/USB stack under test
  umockdev libumockdev-dev
  # GUI tests: virtual display, clicks, screenshots
  xvfb xauth xdotool x11-utils imagemagick libx11-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
