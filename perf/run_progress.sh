#!/usr/bin/env bash
# The cost of --progress: instructions executed (callgrind, independent of
# the load of the machine) without the option, with its default interval of
# 5 s and with a line every millisecond, on two workloads: a 128 MiB float64
# pair with 0.1% of the elements differing (one dataset, bandwidth bound) and
# 10^4 small datasets in 100 groups (latency bound: progress counts after
# every pair). At one process the whole run is counted; at three, rank 0
# (which counts the workers' answers and prints the lines).
# PROGRESS_ELEMENTS and PROGRESS_DATASETS shrink the files for a dry run.
#
# usage: perf/run_progress.sh [BUILD_DIR]     (configured with -DZARN_BUILD_PERF=ON)
set -euo pipefail

build=${1:-build-perf}
floor=$build/perf/floor_dset
tool=$build/perf/tool_many_objects
pmirlo=$build/compare_main/pmirlo
for exe in "$floor" "$tool" "$pmirlo"; do
    [ -x "$exe" ] || { echo "missing $exe (build with -DZARN_BUILD_PERF=ON)" >&2; exit 1; }
done
command -v valgrind > /dev/null || { echo "valgrind is not installed: nothing measured"; exit 0; }
work=$(mktemp -d "${TMPDIR:-/tmp}/progress_perf.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$floor" write "$work/a.h5" "${PROGRESS_ELEMENTS:-16777216}" 0
"$floor" write "$work/b.h5" "${PROGRESS_ELEMENTS:-16777216}" 1000
"$tool" "$work/ma.h5" "$work/mb.h5" "${PROGRESS_DATASETS:-10000}" 100 10

# Instructions of one run at N processes (rank 0's at several).
instructions() {
    local n=$1
    shift
    mpiexec -n "$n" sh -c 'if [ "${PMI_RANK:-0}" = 0 ]; then
            exec valgrind --tool=callgrind --callgrind-out-file=/dev/null --log-file="$0" "$@"
        else exec "$@"; fi' "$work/cg.log" "$pmirlo" "$@" > /dev/null 2>&1 || true
    awk '/Collected/ { print $4 }' "$work/cg.log"
}

printf '%-22s %3s %15s %15s %8s %15s %8s\n' workload n none "--progress=5" ratio "--progress=0.001" ratio
for n in 1 3; do
    for w in "128MiB pair|$work/a.h5 $work/b.h5 /d /d" "10^4 datasets|$work/ma.h5 $work/mb.h5"; do
        IFS='|' read -r name files <<< "$w"
        base=$(instructions "$n" $files)
        every5=$(instructions "$n" --progress=5 $files)
        every_ms=$(instructions "$n" --progress=0.001 $files)
        printf '%-22s %3s %15s %15s %8.4f %15s %8.4f\n' "$name" "$n" "$base" "$every5" \
            "$(echo "$every5 / $base" | bc -l)" "$every_ms" "$(echo "$every_ms / $base" | bc -l)"
    done
done
