#!/usr/bin/env bash
# Configures and builds the Windows programs in one command, with the
# mingw-w64 toolchain and the Debian source packages fetched by
# scripts/fetch-win-sources.sh (run here too, a no-op once they are there).
#
#   scripts/win-build.sh [BUILD_DIR [CMAKE_ARGS...]]    (default build/win)
#
# JOBS (default 2) limits the parallel compiles.
set -euo pipefail
cd "$(dirname "$0")/.."
DIR=${1:-build/win}
shift || true
bash scripts/fetch-win-sources.sh >/dev/null
cmake -S . -B "$DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build "$DIR" -j"${JOBS:-2}"
