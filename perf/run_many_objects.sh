#!/usr/bin/env bash
# Many small objects: the cost per object of listing, opening and comparing.
#   (a) 10^5 compact int32 datasets of 4 values in 10^2 groups, 10 of them
#       with one differing value; full comparison in the default mode, at one
#       and three processes, with the peak resident memory of rank 0;
#   (b) 10^5 such datasets in 10^3 groups, --structure-only at one process,
#       with its peak resident memory.
# The start-up alone (mpiexec -n N pmirlo -V) is timed the same way first,
# and floor_objects beside each case: the least the library lets any
# comparison do (visit, open each dataset by address, type, shape, values).
# Each command runs once to warm the page cache, then REPS times (default
# 3); the median elapsed time counts. Every run must end with status 1 (the
# differences, or the attribute-free structure of (b) being equal: 0) and
# the same output as the one-process run, banner aside.
#
# usage: perf/run_many_objects.sh BUILD_DIR   (configured with -DZARN_BUILD_PERF=ON)
# DATASETS, GROUPS_A, GROUPS_B shrink the files for a dry run. The files go
# to a new folder under $TMPDIR (default /tmp), removed at the end.
set -euo pipefail

build=${1:?usage: perf/run_many_objects.sh BUILD_DIR}
reps=${REPS:-3}
tool=$build/perf/tool_many_objects
floor=$build/perf/floor_objects
pmirlo=$build/compare_main/pmirlo
for exe in "$tool" "$floor" "$pmirlo"; do
    [ -x "$exe" ] || { echo "missing $exe (build with -DZARN_BUILD_PERF=ON)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/many_objects_perf.XXXXXX")
trap 'rm -rf "$work"' EXIT

datasets=${DATASETS:-100000}
echo "writing files under $work"
"$tool" "$work/a.h5" "$work/b.h5" "$datasets" "${GROUPS_A:-100}" 10
"$tool" "$work/sa.h5" "$work/sb.h5" "$datasets" "${GROUPS_B:-1000}" 10

# One timed run at N processes: "status seconds rank0_peak_KiB"; the output
# goes to OUT. Rank 0's peak memory comes from /usr/bin/time -o, one file per
# rank (PMI_RANK under MPICH's launcher).
timed() {
    local n=$1 out=$2
    shift 2
    rm -f "$work"/mem.*
    local start end rc=0
    start=$(date +%s.%N)
    mpiexec -n "$n" sh -c '/usr/bin/time -o "$0/mem.${PMI_RANK:-0}" -f %M "$@"' "$work" "$pmirlo" "$@" \
        > "$out" 2> /dev/null || rc=$?
    end=$(date +%s.%N)
    echo "$rc $(echo "$end - $start" | bc) $(tail -1 "$work/mem.0")"
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# label N expected_status args...: warm-up, REPS runs, the median time and
# the largest peak memory of rank 0, checked against the one-process output.
measure() {
    local label=$1 n=$2 want=$3
    shift 3
    timed "$n" "$work/out.$n" "$@" > /dev/null
    local times=() mem=0 r
    for ((r = 0; r < reps; r++)); do
        read -r rc t m < <(timed "$n" "$work/out.$n" "$@")
        [ "$rc" = "$want" ] || { echo "$label at -n $n: status $rc, expected $want" >&2; exit 1; }
        times+=("$t")
        [ "$m" -gt "$mem" ] && mem=$m
    done
    if [ "$n" != 1 ] && ! diff -q <(grep -av '^Only 1 task available' "$work/out.1") "$work/out.$n" > /dev/null; then
        echo "$label at -n $n: output differs from one process" >&2
        exit 1
    fi
    printf '%-44s -n %s  %6.2f s  rank 0 peak %4d MiB\n' "$label" "$n" \
        "$(printf '%s\n' "${times[@]}" | median)" $((mem / 1024))
}

# label mode A B: the floor, median of REPS runs after a warm-up, with its
# peak memory.
measure_floor() {
    local label=$1
    shift
    "$floor" "$@" > /dev/null
    local times=() mem=0 r t m
    for ((r = 0; r < reps; r++)); do
        read -r t m < <( { /usr/bin/time -f '%e %M' "$floor" "$@" > /dev/null; } 2>&1 | tail -1)
        times+=("$t")
        [ "$m" -gt "$mem" ] && mem=$m
    done
    printf '%-44s       %6.2f s  peak        %4d MiB\n' "$label" "$(printf '%s\n' "${times[@]}" | median)" \
        $((mem / 1024))
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for n in 1 3; do
    measure "start-up (pmirlo -V)" "$n" 0 -V
done
measure_floor "(a) floor: visit, open, read, close" full "$work/a.h5" "$work/b.h5"
measure "(a) 10^5 datasets, 10^2 groups, full" 1 1 "$work/a.h5" "$work/b.h5"
measure "(a) 10^5 datasets, 10^2 groups, full" 3 1 "$work/a.h5" "$work/b.h5"
measure_floor "(b) floor: visit, open, type, shape, close" structure "$work/sa.h5" "$work/sb.h5"
measure "(b) 10^5 datasets, 10^3 groups, structure" 1 0 --structure-only "$work/sa.h5" "$work/sb.h5"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
