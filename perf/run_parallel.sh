#!/usr/bin/env bash
# One process against two, three and eight (a manager and one, two or seven
# workers; PROCS changes the list), side by side on the same files:
#   (a) 2,000 float64 datasets of 1,000 values each, 4 of them with three
#       differing values; compared in the default mode;
#   (b) 8 float64 datasets of 64 MiB each, 1% of the values 5% larger in the
#       second file; compared with -p 0.01;
#   (c) one float64 dataset of 1 GiB, 0.1% of the values 5% larger; -p 0.01
#       (compared in pieces by the workers);
#   (d) 100 float64 datasets of 8 MB, 1% differing, under -r -p 0.01: 10^6
#       report rows; the peak memory of the manager (rank 0) is reported;
#   (e) one float64 dataset of 4 GiB, 0.1% of the values 5% larger; -p 0.01:
#       (c) with enough work to outweigh the start-up of the processes
#       (HUGE4_ELEMENTS=0 leaves it out; its files need 8 GiB of disk).
# The start-up alone (mpiexec -n N pmirlo -V) is timed the same way first;
# the "net" ratios are (time - start-up) at N against the same at one process.
# Each command runs once to warm the page cache, then REPS times (default 3),
# the process counts in turn so that each sees the same share of a busy
# machine; the median elapsed time counts. The CPU time of the whole job
# (every rank, user + system) is shown beside it. Every run of one command
# must end with the same exit status and print the same output as the
# one-process run (its banner aside), else the script fails.
#
# usage: perf/run_parallel.sh BUILD_DIR     (configured with -DZARN_BUILD_PERF=ON)
# MANY_COUNT, MANY_ELEMENTS, BIG_COUNT, BIG_ELEMENTS, HUGE_ELEMENTS,
# ROWS_COUNT, ROWS_ELEMENTS shrink the files for a dry run. The files go to a
# new folder under $TMPDIR (default /tmp), removed at the end.
set -euo pipefail

build=${1:?usage: perf/run_parallel.sh BUILD_DIR}
reps=${REPS:-3}
read -r -a procs <<< "${PROCS:-1 2 3 8}"
tool=$build/perf/tool_parallel_files
pmirlo=$build/compare_main/pmirlo
for exe in "$tool" "$pmirlo"; do
    [ -x "$exe" ] || { echo "missing $exe (build with -DZARN_BUILD_PERF=ON)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/parallel_perf.XXXXXX")
trap 'rm -rf "$work"' EXIT

many_count=${MANY_COUNT:-2000}
many_elements=${MANY_ELEMENTS:-1000}
big_count=${BIG_COUNT:-8}
big_elements=${BIG_ELEMENTS:-8388608}     # 64 MiB of float64
huge_elements=${HUGE_ELEMENTS:-134217728} # 1 GiB of float64
rows_count=${ROWS_COUNT:-100}
rows_elements=${ROWS_ELEMENTS:-1000000}   # 1% differing: 10^4 rows each
huge4_elements=${HUGE4_ELEMENTS:-536870912} # 4 GiB of float64

echo "writing files under $work"
"$tool" many "$work/many_a.h5" "$work/many_b.h5" "$many_count" "$many_elements" 4
"$tool" big "$work/big_a.h5" "$work/big_b.h5" "$big_count" "$big_elements"
"$tool" big "$work/huge_a.h5" "$work/huge_b.h5" 1 "$huge_elements" 1000
"$tool" big "$work/rows_a.h5" "$work/rows_b.h5" "$rows_count" "$rows_elements"
if [ "$huge4_elements" -gt 0 ]; then
    "$tool" big "$work/huge4_a.h5" "$work/huge4_b.h5" 1 "$huge4_elements" 1000
fi

# One timed run of CMD...: prints the exit status, elapsed time (s) and CPU
# time of the job and all its processes (user + system, s); its standard
# output goes to $work/out.
timed() {
    local rc=0 t u s
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" > "$work/out" 2> /dev/null || rc=$?
    read -r t u s < <(tail -n 1 "$work/time.txt")
    echo "$rc $t $(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')"
}

median() { sort -n | awk '{ a[NR] = $0 } END { print a[int((NR + 1) / 2)] }'; }

# compare NAME ARGS...: times pmirlo ARGS at each process count, prints one row.
compare() {
    local name=$1
    shift
    mpiexec -n 1 "$pmirlo" "$@" 2> /dev/null | grep -v '^Only 1 task available' > "$work/expected" || true
    : > "$work/runs.txt"
    for _ in $(seq "$reps"); do
        for n in "${procs[@]}"; do
            echo "$n $(timed mpiexec -n "$n" "$pmirlo" "$@")" >> "$work/runs.txt"
            if ! grep -v '^Only 1 task available' "$work/out" | cmp -s - "$work/expected"; then
                echo "$name: the output at $n processes is not the one-process output" >&2
                exit 1
            fi
        done
    done
    if [ "$(awk '{ print $2 }' "$work/runs.txt" | sort -u | wc -l)" -ne 1 ]; then
        echo "$name: the process counts ended with different exit statuses:" >&2
        cat "$work/runs.txt" >&2
        exit 1
    fi
    local row t1 t
    row=$(printf "%-26s %3s |" "$name" "$(awk 'NR == 1 { print $2 }' "$work/runs.txt")")
    t1=$(awk '$1 == 1 { print $3 }' "$work/runs.txt" | median)
    for n in "${procs[@]}"; do
        t=$(awk -v n="$n" '$1 == n { print $3 }' "$work/runs.txt" | median)
        row+=$(awk -v t="$t" -v t1="$t1" 'BEGIN { printf " %7.2f (%5.2fx)", t, t / t1 }')
    done
    for n in "${procs[@]}"; do
        row+=$(printf " %6.2f" "$(awk -v n="$n" '$1 == n { print $4 }' "$work/runs.txt" | median)")
    done
    for n in "${procs[@]:1}"; do
        t=$(awk -v n="$n" '$1 == n { print $3 }' "$work/runs.txt" | median)
        row+=$(awk -v t="$t" -v t1="$t1" -v s="${startup[$n]}" -v s1="${startup[1]}" \
            'BEGIN { if (t1 - s1 > 0) printf " %6.2fx", (t - s) / (t1 - s1); else printf " %7s", "-" }')
    done
    echo "$row"
}

# The median elapsed time of mpiexec -n N pmirlo -V at each process count: the
# launch and MPI start-up that every run pays before it compares anything.
declare -A startup
for n in "${procs[@]}"; do
    : > "$work/startup.txt"
    for _ in $(seq "$reps"); do
        timed mpiexec -n "$n" "$pmirlo" -V >> "$work/startup.txt"
    done
    startup[$n]=$(awk '{ print $2 }' "$work/startup.txt" | median)
done

# The peak resident memory (KiB) of rank 0 of mpiexec -n N pmirlo ARGS...,
# read from /proc while it runs.
manager_peak() {
    local n=$1 peak=0 pid hwm
    shift
    mpiexec -n "$n" "$pmirlo" "$@" > /dev/null 2>&1 &
    local job=$!
    while kill -0 "$job" 2> /dev/null; do
        for pid in $(pgrep -f "$pmirlo" || true); do
            if tr '\0' '\n' < "/proc/$pid/environ" 2> /dev/null | grep -qx 'PMI_RANK=0'; then
                hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2> /dev/null || echo 0)
                [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
            fi
        done
        sleep 0.05
    done
    wait "$job" || true
    echo "$peak"
}

printf "%-26s %3s |" pair status
for n in "${procs[@]}"; do printf " %16s" "-n $n s (x -n 1)"; done
for n in "${procs[@]}"; do printf " %6s" "CPU$n"; done
for n in "${procs[@]:1}"; do printf " %7s" "net$n"; done
echo
printf "%-26s %3s |" "(0) start-up, pmirlo -V" 0
for n in "${procs[@]}"; do
    printf " %7.2f (%5.2fx)" "${startup[$n]}" "$(awk -v t="${startup[$n]}" -v t1="${startup[1]}" 'BEGIN { print t / t1 }')"
done
echo
compare "(a) ${many_count} small, default" "$work/many_a.h5" "$work/many_b.h5"
compare "(b) ${big_count} x $((big_elements * 8 / 1048576))MiB, -p 0.01" -p 0.01 "$work/big_a.h5" "$work/big_b.h5"
compare "(c) 1 x $((huge_elements * 8 / 1048576))MiB, -p 0.01" -p 0.01 "$work/huge_a.h5" "$work/huge_b.h5"
compare "(d) ${rows_count} x 10^4 rows, -r" -r -p 0.01 "$work/rows_a.h5" "$work/rows_b.h5"
if [ "$huge4_elements" -gt 0 ]; then
    compare "(e) 1 x $((huge4_elements * 8 / 1048576))MiB, -p 0.01" -p 0.01 "$work/huge4_a.h5" "$work/huge4_b.h5"
fi
echo
echo "(d) peak memory of rank 0: -n 1 $(manager_peak 1 -r -p 0.01 "$work/rows_a.h5" "$work/rows_b.h5") KiB," \
     "-n 3 $(manager_peak 3 -r -p 0.01 "$work/rows_a.h5" "$work/rows_b.h5") KiB"
