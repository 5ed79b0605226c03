#!/usr/bin/env bash
# GUI benchmark of the demo tool (its package appended) in a private Xvfb with
# Mesa's software renderer: start-up to the first drawn frame, idle frame rate
# and CPU, and memory.
#   bash bench/gui_bench.sh DEMO CLOSE_WINDOW [RUNS] [IDLE_SECONDS]
# (the CMake target bench_gui passes the first two).
#
# With IAP_WIN_BUILD naming the Windows build (scripts/win-build.sh, default
# build/win), the same is measured afterwards for its demo .exe under Wine,
# in the same run, and both are printed side by side. Under Wine the idle CPU
# is the tool's own process; the Wine processes of the prefix beside it
# (wineserver, explorer, services) are given apart.
set -euo pipefail
DEMO=$(readlink -f "$1")
export IAP_CLOSE_WINDOW=$(readlink -f "$2")
RUNS=${3:-5}
IDLE=${4:-10}
HERE=$(cd "$(dirname "$0")" && pwd)
if [ -n "${IAP_WIN_BUILD:-}" ] && [ -z "${IAP_WINE_PREFIX:-}" ]; then
    WIN=$(readlink -f "$IAP_WIN_BUILD")
    linux=$(env -u IAP_WIN_BUILD bash "$0" "$@")
    windows=$(env -u IAP_WIN_BUILD IAP_WINE_PREFIX=$WIN/wineprefix IAP_WINE_RUNNER=$HERE/../tests/win/run-wine.sh \
        IAP_WINDOW_DRIVER=$WIN/tests/win/iap_window_driver.exe \
        bash "$0" "$WIN/bin/usb-iap-tool-demo.exe" "$2" "$RUNS" "$IDLE")
    echo "== Linux: $DEMO (GLFW, Mesa llvmpipe)"
    echo "$linux"
    echo "== Windows: $WIN/bin/usb-iap-tool-demo.exe under $(wine --version 2>/dev/null) (Mesa llvmpipe)"
    echo "$windows"
    exit 0
fi
source "$HERE/../tests/gui/lib.sh"
start_display

stamp() {  # epoch seconds of a log line's "[date time.ms]"
    date -d "$(sed -E 's/^\[([^]]+)\].*/\1/' <<<"$1")" +%s.%N
}

# CPU ticks of the Wine processes of the prefix other than the tool.
wine_side() {
    local total=0 pid
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        [ "$pid" = "$TOOL_PID" ] && continue
        tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
        total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)))
    done
    echo "$total"
}

startups=()
for run in $(seq 1 "$RUNS"); do
    rm -f "$LOG"
    t0=$(date +%s.%N)
    start_tool "$DEMO"
    wait_window 60
    first=$(grep -m1 -F 'ImGui_ImplOpenGL3_RenderDrawData OK' "$LOG")
    startups+=("$(awk -v a="$(stamp "$first")" -v b="$t0" 'BEGIN {print (a - b) * 1000}')")
    if [ "$run" -lt "$RUNS" ]; then
        close_window
        wait_exit 30
    fi
done
sorted=$(printf '%s\n' "${startups[@]}" | sort -n)
median=$(sed -n "$(((RUNS + 1) / 2))p" <<<"$sorted")

# Idle: the last copy stays open with nothing to do.
park_mouse
sleep 1
tick=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$TOOL_PID/stat"; }
frames() { grep -c -F 'ImGui_ImplOpenGL3_RenderDrawData OK' "$LOG" || true; }
w0=0; w1=0
[ "$WINDOWS" -eq 1 ] && w0=$(wine_side)
c0=$(cpu); f0=$(frames); s0=$(date +%s.%N)
sleep "$IDLE"
c1=$(cpu); f1=$(frames); s1=$(date +%s.%N)
[ "$WINDOWS" -eq 1 ] && w1=$(wine_side)
span=$(awk -v a="$s1" -v b="$s0" 'BEGIN {print a - b}')
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$TOOL_PID/status")
hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$TOOL_PID/status")
close_window
wait_exit 30

printf 'start-up to first frame: median %.0f ms over %d runs (%s)\n' "$median" "$RUNS" \
    "$(printf '%.0f ' "${startups[@]}")"
printf 'idle frame rate:         %.1f frames/s\n' "$(awk -v f="$((f1 - f0))" -v s="$span" 'BEGIN {print f / s}')"
printf 'idle CPU:                %.1f %% of one core\n' \
    "$(awk -v c="$((c1 - c0))" -v t="$tick" -v s="$span" 'BEGIN {print c / t / s * 100}')"
if [ "$WINDOWS" -eq 1 ]; then
    printf 'idle CPU, Wine beside:   %.1f %% of one core (wineserver and the prefix'"'"'s services)\n' \
        "$(awk -v c="$((w1 - w0))" -v t="$tick" -v s="$span" 'BEGIN {print c / t / s * 100}')"
fi
printf 'memory:                  %d MiB resident, %d MiB peak\n' $((rss / 1024)) $((hwm / 1024))
