#!/usr/bin/env bash
# Peak resident memory for normal packages and two image bombs, (a) of the
# loader alone and (b) of the real demo tool in a private Xvfb, two seconds
# after its first frame.
#   bash bench/package_memory_bench.sh BENCH BARE CLOSE_WINDOW
# (the CMake target bench_package_memory passes them).
set -euo pipefail
BENCH=$(readlink -f "$1")
BARE=$(readlink -f "$2")
export IAP_CLOSE_WINDOW=$(readlink -f "$3")
OUT=$(dirname "$BENCH")/package-memory
"$BENCH" make "$BARE" "$OUT"
source "$(dirname "$0")/../tests/gui/lib.sh"
start_display

declare -A loader tool
for kind in normal zlib-bomb normal-8mb entry-bomb; do
    loader[$kind]=$("$BENCH" load "$OUT/$kind" 2>&1 >/dev/null | tail -n1)
    rm -f "$LOG"
    start_tool "$OUT/$kind"
    wait_window 60
    wait_log "ImGui_ImplOpenGL3_RenderDrawData OK" 1 30
    sleep 2
    tool[$kind]=$(awk '/^VmHWM/ {print $2}' "/proc/$TOOL_PID/status")
    close_window
    wait_exit 30
done

# Each bomb against the normal package of its file size.
declare -A base=([normal]=normal [zlib-bomb]=normal [normal-8mb]=normal-8mb [entry-bomb]=normal-8mb)
printf '%-11s %-8s %14s %8s %18s %8s\n' package loader "loader peak" ratio "tool peak" ratio
for kind in normal zlib-bomb normal-8mb entry-bomb; do
    l=${loader[$kind]}
    base_l=${loader[${base[$kind]}]#* }
    base_t=${tool[${base[$kind]}]}
    printf '%-11s %-8s %10d KiB %8.2f %14d KiB %8.2f\n' "$kind" "${l% *}" "${l#* }" \
        "$(awk -v a="${l#* }" -v b="$base_l" 'BEGIN {print a / b}')" "${tool[$kind]}" \
        "$(awk -v a="${tool[$kind]}" -v b="$base_t" 'BEGIN {print a / b}')"
done
