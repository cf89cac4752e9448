#!/usr/bin/env bash
# Many file pairs in one job, against the same datasets in one file and
# against a shell loop that starts the program once per pair:
#   1,000 file pairs of 20 float64 datasets of 100 values each, 10 pairs
#   differing in one value (FILES, DATASETS, DIFFERING change them);
#   (a) pmirlo at one process over one file pair holding all the datasets
#       (one group per file pair): the floor of the work itself;
#   (b) pmirlo over the two folders at one and three processes;
#   (c) a shell loop of `mpiexec -n 1 pmirlo a b`, one per file pair, timed
#       over LOOP_PAIRS of them (default 100) and scaled to all pairs.
# Each command runs once to warm the page cache, then REPS times (default 3);
# the median elapsed time counts, the CPU time of the job (every rank, user +
# system) beside it. The output at three processes must be the one-process
# output (banner aside), else the script fails. The peak resident memory of
# rank 0 is read from /proc while the folders are compared.
# The load average of the machine is printed before and after: on a shared
# machine it moves every figure.
#
# usage: perf/run_file_pairs.sh BUILD_DIR     (configured with -DZARN_BUILD_PERF=ON)
set -euo pipefail

build=$(cd "${1:?usage: perf/run_file_pairs.sh BUILD_DIR}" && pwd)
reps=${REPS:-3}
files=${FILES:-1000}
datasets=${DATASETS:-20}
differing=${DIFFERING:-10}
loop_pairs=${LOOP_PAIRS:-100}
tool=$build/perf/tool_file_pairs
pmirlo=$build/compare_main/pmirlo
for exe in "$tool" "$pmirlo"; do
    [ -x "$exe" ] || { echo "missing $exe (build with -DZARN_BUILD_PERF=ON)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/file_pairs_perf.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/run1" "$work/run2"
echo "writing $files file pairs of $datasets datasets under $work"
"$tool" "$work/run1" "$work/run2" "$work/one1.h5" "$work/one2.h5" "$files" "$datasets" "$differing"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

# One timed run of CMD...: prints elapsed and CPU seconds; output to $work/out.
timed() {
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" > "$work/out" 2> /dev/null || true
    tail -n 1 "$work/time.txt" | awk '{ print $1, $2 + $3 }'
}
median() { sort -n | awk '{ a[NR] = $0 } END { print a[int((NR + 1) / 2)] }'; }

# NAME CMD...: warm run, then REPS timed runs; prints the row, sets $last.
measure() {
    local name=$1
    shift
    "$@" > /dev/null 2>&1 || true
    : > "$work/runs.txt"
    for _ in $(seq "$reps"); do timed "$@" >> "$work/runs.txt"; done
    last=$(awk '{ print $1 }' "$work/runs.txt" | median)
    printf "%-36s %8.2f s   cpu %6.2f s\n" "$name" "$last" "$(awk '{ print $2 }' "$work/runs.txt" | median)"
}

cd "$work"
measure "one file, -n 1" mpiexec -n 1 "$pmirlo" one1.h5 one2.h5
one=$last
measure "folders, -n 1" mpiexec -n 1 "$pmirlo" run1 run2
dirs1=$last
grep -v '^Only 1 task available' out > expected
measure "folders, -n 3" mpiexec -n 3 "$pmirlo" run1 run2
dirs3=$last
if ! cmp -s out expected; then
    echo "the output at 3 processes is not the one-process output" >&2
    exit 1
fi

# The shell loop over a sample of the pairs, scaled to all of them.
loop() {
    local k=0 f
    for f in run1/*.h5; do
        [ "$k" -lt "$loop_pairs" ] || break
        mpiexec -n 1 "$pmirlo" "$f" "run2/${f#run1/}" > /dev/null 2>&1 || true
        k=$((k + 1))
    done
}
start=$(date +%s.%N)
loop
loop_time=$(awk -v s="$start" -v e="$(date +%s.%N)" -v n="$loop_pairs" -v f="$files" 'BEGIN { print (e - s) * f / n }')
printf "%-36s %8.2f s   (%d pairs timed, scaled)\n" "shell loop of mpiexec -n 1 pmirlo" "$loop_time" "$loop_pairs"

# Peak resident memory of rank 0 while the folders are compared.
peak() {
    local n=$1 top=0 pid hwm
    mpiexec -n "$n" "$pmirlo" run1 run2 > /dev/null 2>&1 &
    local job=$!
    while kill -0 "$job" 2> /dev/null; do
        for pid in $(pgrep -f "$pmirlo run1 run2" || true); do
            if tr '\0' '\n' < "/proc/$pid/environ" 2> /dev/null | grep -qx 'PMI_RANK=0'; then
                hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2> /dev/null || echo 0)
                [ -n "$hwm" ] && [ "$hwm" -gt "$top" ] && top=$hwm
            fi
        done
        sleep 0.05
    done
    wait "$job" || true
    echo "$top"
}
echo "rank 0 peak memory: -n 1 $(peak 1) KiB, -n 3 $(peak 3) KiB"

awk -v one="$one" -v d1="$dirs1" -v d3="$dirs3" -v l="$loop_time" 'BEGIN {
    printf "folders -n 1 / one file -n 1: %.2f (target at most 1.2)\n", d1 / one
    printf "folders -n 3 / folders -n 1: %.2f (target at most 1.3)\n", d3 / d1
    printf "shell loop / folders -n 3:   %.1f (target at least 10)\n", l / d3
}'
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
