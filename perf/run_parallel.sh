#!/usr/bin/env bash
# One process against three (a manager and two workers) on two file pairs:
#   (a) 2,000 float64 datasets of 1,000 values each, 4 of them with three
#       differing values; compared in the default mode;
#   (b) 8 float64 datasets of 64 MiB each, 1% of the values 5% larger in the
#       second file; compared with -p 0.01.
# Each command runs once to warm the page cache, then REPS times (default 3),
# `mpiexec -n 1` and `mpiexec -n 3` alternately so that both see the same
# share of a busy machine; the median elapsed time counts. The CPU time of the
# whole job (every rank, user + system) is shown beside it, and the load
# average before and after each pair. The exit status of every -n 1 run and
# every -n 3 run must be the same, else the script fails.
#
# usage: perf/run_parallel.sh BUILD_DIR     (configured with -DZARN_BUILD_PERF=ON)
# MANY_COUNT, MANY_ELEMENTS, BIG_COUNT, BIG_ELEMENTS shrink the files for a dry
# run. The files go to a new folder under $TMPDIR (default /tmp), removed at
# the end.
set -euo pipefail

build=${1:?usage: perf/run_parallel.sh BUILD_DIR}
reps=${REPS:-3}
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
big_elements=${BIG_ELEMENTS:-8388608}   # 64 MiB of float64

echo "writing files under $work"
"$tool" many "$work/many_a.h5" "$work/many_b.h5" "$many_count" "$many_elements" 4
"$tool" big "$work/big_a.h5" "$work/big_b.h5" "$big_count" "$big_elements"

# One timed run of CMD...: prints the exit status, elapsed time (s) and CPU
# time of the job and all its processes (user + system, s).
timed() {
    local rc=0 t u s
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" > /dev/null 2>&1 || rc=$?
    read -r t u s < <(tail -n 1 "$work/time.txt")
    echo "$rc $t $(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')"
}

# compare NAME ARGS...: times pmirlo ARGS under -n 1 and -n 3, prints one row.
compare() {
    local name=$1 load0 load1
    shift
    local -a one=(mpiexec -n 1 "$pmirlo" "$@") three=(mpiexec -n 3 "$pmirlo" "$@")
    "${one[@]}" > /dev/null 2>&1 || true
    "${three[@]}" > /dev/null 2>&1 || true
    load0=$(cut -d' ' -f1-3 /proc/loadavg)
    for _ in $(seq "$reps"); do
        echo "1 $(timed "${one[@]}")"
        echo "3 $(timed "${three[@]}")"
    done > "$work/runs.txt"
    load1=$(cut -d' ' -f1-3 /proc/loadavg)
    # Every run's exit status must agree with the first.
    if [ "$(awk '{ print $2 }' "$work/runs.txt" | sort -u | wc -l)" -ne 1 ]; then
        echo "$name: -n 1 and -n 3 ended with different exit statuses:" >&2
        cat "$work/runs.txt" >&2
        exit 1
    fi
    local rc t1 c1 t3 c3
    rc=$(awk 'NR == 1 { print $2 }' "$work/runs.txt")
    read -r t1 c1 < <(awk '$1 == 1 { print $3, $4 }' "$work/runs.txt" | sort -n | awk '{ a[NR] = $0 } END { print a[int((NR + 1) / 2)] }')
    read -r t3 c3 < <(awk '$1 == 3 { print $3, $4 }' "$work/runs.txt" | sort -n | awk '{ a[NR] = $0 } END { print a[int((NR + 1) / 2)] }')
    awk -v n="$name" -v rc="$rc" -v t1="$t1" -v t3="$t3" -v c1="$c1" -v c3="$c3" \
        -v l0="$load0" -v l1="$load1" 'BEGIN {
        printf "%-22s %6s | %8.2f %8.2f %7.2f | %8.2f %8.2f | %s -> %s\n", n, rc, t1, t3,
               (t3 > 0 ? t1 / t3 : 0), c1, c3, l0, l1 }'
    awk '{ printf "    run: -n %s status %s  %s s elapsed  %s s CPU\n", $1, $2, $3, $4 }' "$work/runs.txt"
}

printf "%-22s %6s | %8s %8s %7s | %8s %8s | %s\n" pair status "-n 1 s" "-n 3 s" speedup \
    "CPU -n1" "CPU -n3" "load average (1/5/15 min) before -> after"
compare "(a) ${many_count} small, default" "$work/many_a.h5" "$work/many_b.h5"
compare "(b) ${big_count} x $((big_elements * 8 / 1048576))MiB, -p 0.01" -p 0.01 "$work/big_a.h5" "$work/big_b.h5"
