#!/usr/bin/env bash
# Runs one Windows program under Wine on a private X display; ctest's
# emulator for the Windows build, and usable by hand:
#
#   tests/win/run-wine.sh --prefix DIR PROGRAM.exe [ARGS...]
#
# - WINEPREFIX is DIR, made by `wineboot --init` on first use (its time goes
#   to stderr and DIR.init-seconds). Mono and Gecko are not installed.
# - A private Xvfb on the first free display from :140 on, unless
#   IAP_WINE_DISPLAY names one to use instead.
# - WINEDEBUG=-all unless WINEDEBUG is set.
# - IAP_WINE_SCREENSHOT=FILE.png takes `import -window root` of the display
#   when the program prints a line with "screenshot now" in it.
# - The prefix is made with Wine's X11 driver set to unmanaged windows
#   (Managed=N): Xvfb has no window manager, so Wine draws the frame and
#   title bar itself, and DestroyWindow does not wait 2 s for a window
#   manager to withdraw the window.
# - One program at a time per prefix (flock on DIR.lock); afterwards the
#   prefix's wineserver and its services are ended, then the Xvfb.
# Exits with the program's exit code.
set -euo pipefail

if [ "${1:-}" != "--prefix" ] || [ $# -lt 3 ]; then
  echo "usage: $0 --prefix DIR PROGRAM.exe [ARGS...]" >&2
  exit 2
fi
PREFIX=$2
shift 2
mkdir -p "$(dirname "$PREFIX")"
PREFIX=$(cd "$(dirname "$PREFIX")" && pwd)/$(basename "$PREFIX")

export WINEPREFIX=$PREFIX
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

exec 9>"$PREFIX.lock"
flock 9

XVFB_PID=""
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null || true; wait "$XVFB_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ -n "${IAP_WINE_DISPLAY:-}" ]; then
  export DISPLAY=$IAP_WINE_DISPLAY
else
  for n in $(seq 140 199); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
      export DISPLAY=":$n"
      break
    fi
    kill "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  done
  [ -n "$XVFB_PID" ] || { echo "run-wine: no free display for Xvfb" >&2; exit 1; }
fi

if [ ! -f "$PREFIX/system.reg" ]; then
  start=$(date +%s%N)
  wine wineboot --init >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  ms=$((($(date +%s%N) - start) / 1000000))
  seconds=$(printf '%d.%01d' $((ms / 1000)) $((ms % 1000 / 100)))
  echo "$seconds" >"$PREFIX.init-seconds"
  echo "run-wine: made the Wine prefix $PREFIX in $seconds s" >&2
fi

set +e
if [ -n "${IAP_WINE_SCREENSHOT:-}" ]; then
  shot=""
  wine "$@" | while IFS= read -r l; do
    printf '%s\n' "$l"
    if [ -z "$shot" ] && [[ $l == *"screenshot now"* ]]; then
      sleep 0.3
      import -window root "$IAP_WINE_SCREENSHOT" || echo "run-wine: screenshot failed" >&2
      shot=1
    fi
  done
  rc=${PIPESTATUS[0]}
else
  wine "$@"
  rc=$?
fi
set -e
exit "$rc"
