#!/usr/bin/env bash
# Runs every test: installs the dependencies, builds and tests normally, under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests under
# ThreadSanitizer, each fuzz target for a bounded time, the Windows build under
# Wine, and the release packages made from the normal and Windows builds.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=$(nproc)
bash scripts/install-deps.sh

PASSED=0
FAILED=0
FAILED_STAGES=()

# run_ctest NAME BUILD_DIR [ctest args...]: counts the results of one ctest run.
run_ctest() {
  local name=$1 dir=$2; shift 2
  local log="$dir/ctest.log"
  set +e
  ctest --test-dir "$dir" --output-on-failure -j"$JOBS" --timeout 600 "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  local line total failed
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1 || true)
  if [ -n "$line" ]; then
    failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    PASSED=$((PASSED + total - failed))
    FAILED=$((FAILED + failed))
  fi
  if [ "$rc" -ne 0 ]; then
    FAILED_STAGES+=("$name")
    [ -n "$line" ] || FAILED=$((FAILED + 1))
  fi
}

build() {  # build DIR [cmake args...]; TARGET=name builds that target only
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DIAP_TESTS=ON -DIAP_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS" ${TARGET:+--target "$TARGET"}
}

# require_labels NAME BUILD_DIR label...: a stage whose build holds no test of
# one of its groups fails, so that a group left out cannot pass unnoticed.
require_labels() {
  local name=$1 dir=$2; shift 2
  local label count
  for label in "$@"; do
    count=$(ctest --test-dir "$dir" -N -L "$label" | sed -n -E 's/^Total Tests: ([0-9]+)/\1/p')
    if [ "${count:-0}" -eq 0 ]; then
      echo "stage $name: no tests labelled $label"
      FAILED_STAGES+=("$name:$label")
      FAILED=$((FAILED + 1))
    fi
  done
}

echo "== normal build (Release, as shipped)"
build build/release -DCMAKE_BUILD_TYPE=Release -DIAP_PACKAGE_BUILD=ON
require_labels release build/release bytes logging link sim package tools flash fleet upgrade ui gui umockdev web
run_ctest release build/release

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build build/asan -DCMAKE_BUILD_TYPE=Debug -DIAP_SANITIZE=address,undefined
require_labels asan build/asan bytes logging link sim package tools flash fleet upgrade ui gui umockdev
run_ctest asan build/asan -LE no_sanitizer

echo "== ThreadSanitizer (concurrency tests)"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
TARGET=iap_concurrency_tests build build/tsan -DCMAKE_BUILD_TYPE=Debug -DIAP_SANITIZE=thread -DIAP_GUI=OFF
require_labels tsan build/tsan concurrency
run_ctest tsan build/tsan -L concurrency

echo "== fuzz targets"
# Every program too, not only the fuzz targets: this is the one RelWithDebInfo
# build and the one clang build of the tree.
build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIAP_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
require_labels fuzz build/fuzz fuzz
run_ctest fuzz build/fuzz -L fuzz

# --- Windows stage: mingw-w64 cross build, tests under Wine (tests/win) -------
# The tool, its demo and usb-iap-pack.exe; their pieces, the generator against
# the build machine's, and the GUI scenarios of tests/gui on the demo .exe.
echo "== Windows build (mingw-w64), tests under Wine"
# Its build-machine programs are those the normal build has just made.
JOBS=$JOBS bash scripts/win-build.sh build/win -DIAP_WERROR=ON -DIAP_PACKAGE_BUILD=ON \
  -DIAP_HOST_TOOLS_FROM="$ROOT/build/release"
require_labels windows build/win win win_gui win_device
run_ctest windows build/win -L win

# --- release packages (tests/release/release_test.sh) --------------------------
# The .deb and the zip from the two builds above; the .deb installed with
# apt-get, used from /usr/bin and purged again; the zip's programs; and the
# packages of a clone of the commit built in other folders, byte for byte.
echo "== release packages"
set +e
IAP_RELEASE_LINUX_BUILD=build/release IAP_RELEASE_WIN_BUILD=build/win JOBS=$JOBS \
  bash tests/release/release_test.sh 2>&1 | tee build/release-test.log
rc=${PIPESTATUS[0]}
set -e
line=$(grep -E '^release checks: [0-9]+ passed, [0-9]+ failed' build/release-test.log | tail -n1 || true)
if [ -n "$line" ]; then
  PASSED=$((PASSED + $(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")))
  FAILED=$((FAILED + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
fi
if [ "$rc" -ne 0 ]; then
  FAILED_STAGES+=(release)
  [ -n "$line" ] || FAILED=$((FAILED + 1))
fi

echo
if [ ${#FAILED_STAGES[@]} -ne 0 ]; then
  echo "failed stages: ${FAILED_STAGES[*]}"
fi
echo "$PASSED passed, $FAILED failed"
[ ${#FAILED_STAGES[@]} -eq 0 ] && [ "$FAILED" -eq 0 ]
