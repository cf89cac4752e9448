#!/usr/bin/env bash
# Dataset comparison beside its floors. Writes pairs of files holding one
# float64 dataset /d each: 128 MiB (read whole) and 1 GiB (read in strips),
# identical and with 0.1% of the elements differing, and times pmirlo on each
# pair beside the floor of the same read pattern (perf/floor_dset.cpp: H5Dread
# whole + memcmp, or matching 32 MiB strips into two reused buffers + memcmp).
# Also times report mode (-r) with 1,048,576 differing elements to /dev/null.
# DSET_SMALL and DSET_LARGE (element counts) shrink the files for a dry run.
#
# usage: perf/run_dset.sh [BUILD_DIR]     (configured with -DZARN_BUILD_PERF=ON)
# REPS (default 3) timed runs per command after one warm-up run, pmirlo and
# its floor alternately; the fastest counts. DSET_PERF_DIR chooses where the files go (default: a new folder
# under /tmp); the folder is removed at the end.
set -euo pipefail

build=${1:-build-perf}
reps=${REPS:-3}
floor=$build/perf/floor_dset
pmirlo=$build/compare_main/pmirlo
for exe in "$floor" "$pmirlo"; do
    [ -x "$exe" ] || { echo "missing $exe (build with -DZARN_BUILD_PERF=ON)" >&2; exit 1; }
done

work=${DSET_PERF_DIR:-$(mktemp -d /tmp/dset_perf.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

small=${DSET_SMALL:-16777216}    # 128 MiB of float64 (smaller values for a dry run)
large=${DSET_LARGE:-134217728}   # 1 GiB of float64
many=$(( (small + 15) / 16 ))     # differing elements in report mode

echo "writing files under $work"
"$floor" write "$work/s_a.h5" $small 0
"$floor" write "$work/s_same.h5" $small 0
"$floor" write "$work/s_diff.h5" $small 1000
"$floor" write "$work/s_many.h5" $small 16
"$floor" write "$work/l_a.h5" $large 0
"$floor" write "$work/l_same.h5" $large 0
"$floor" write "$work/l_diff.h5" $large 1000

# One timed run of CMD...: prints elapsed time (s), CPU time (user + system,
# s) and peak resident size (KiB).
timed() {
    local t u s m
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" > /dev/null 2>&1 || true
    read -r t u s m < <(tail -n 1 "$work/time.txt")
    echo "$t $(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') $m"
}

# measure CMD...: one warm-up run, then REPS runs; prints the fastest elapsed
# time, the smallest CPU time and the largest peak resident size. CPU time is
# the steadier figure on a shared machine.
measure() {
    "$@" > /dev/null 2>&1 || true
    for _ in $(seq "$reps"); do timed "$@"; done |
        awk 'NR == 1 || $1 < t { t = $1 } NR == 1 || $2 < c { c = $2 } $3 > m { m = $3 }
             END { print t, c, m }'
}

# measure_pair "FLOOR ARGS" "PMIRLO ARGS": the two measured alternately, run
# by run, so that both see the same share of a busy machine. Prints the six
# figures: floor's three, then pmirlo's.
measure_pair() {
    local -a fcmd=($1) pcmd=($2)
    "${fcmd[@]}" > /dev/null 2>&1 || true
    "${pcmd[@]}" > /dev/null 2>&1 || true
    for _ in $(seq "$reps"); do
        echo "f $(timed "${fcmd[@]}")"
        echo "p $(timed "${pcmd[@]}")"
    done | awk '{ k = $1; if (!(k in t) || $2 < t[k]) t[k] = $2; if (!(k in c) || $3 < c[k]) c[k] = $3;
                  if ($4 > m[k]) m[k] = $4 }
                END { print t["f"], c["f"], m["f"], t["p"], c["p"], m["p"] }'
}

# Start-up and shutdown of pmirlo alone (MPI and HDF5 initialisation), from a
# pair of two-element datasets; the "net" columns subtract it.
"$floor" write "$work/t_a.h5" 2 0
"$floor" write "$work/t_b.h5" 2 0
read -r st sc _ < <(measure "$pmirlo" "$work/t_a.h5" "$work/t_b.h5" /d /d)
echo "pmirlo start-up: $st s elapsed, $sc s CPU"

printf "%-19s %-6s | %7s %7s %6s %6s | %7s %7s %6s %6s | %7s %7s %6s\n" pair floor \
    "floor" "pmirlo" ratio net "floor" "pmirlo" ratio net "floor" "pmirlo" "+"
printf "%-19s %-6s | %29s | %29s | %22s\n" "" "" "elapsed s" "CPU s" "peak RSS MiB"
row() {
    local name=$1 mode=$2 a=$3 b=$4 ft fc fm pt pc pm
    read -r ft fc fm pt pc pm < <(measure_pair "$floor $mode $a $b" "$pmirlo $a $b /d /d")
    awk -v n="$name" -v mo="$mode" -v ft="$ft" -v pt="$pt" -v fc="$fc" -v pc="$pc" -v fm="$fm" -v pm="$pm" \
        -v st="$st" -v sc="$sc" 'function r(a, b) { return b > 0 ? a / b : 0 }
        BEGIN {
        printf "%-19s %-6s | %7.3f %7.3f %6.2f %6.2f | %7.3f %7.3f %6.2f %6.2f | %7.1f %7.1f %6.1f\n", n, mo,
               ft, pt, r(pt, ft), r(pt - st, ft), fc, pc, r(pc, fc), r(pc - sc, fc),
               fm / 1024, pm / 1024, (pm - fm) / 1024 }'
}
row "128MiB identical" whole "$work/s_a.h5" "$work/s_same.h5"
row "128MiB 0.1% differ" whole "$work/s_a.h5" "$work/s_diff.h5"
row "1GiB identical" strips "$work/l_a.h5" "$work/l_same.h5"
row "1GiB 0.1% differ" strips "$work/l_a.h5" "$work/l_diff.h5"

rows=$("$pmirlo" -r "$work/s_a.h5" "$work/s_many.h5" /d /d | grep -c '^\[ ' || true)
[ "$rows" -eq "$many" ] || { echo "report mode printed $rows rows, expected $many" >&2; exit 1; }
read -r rt rc _ < <(measure "$pmirlo" -r "$work/s_a.h5" "$work/s_many.h5" /d /d)
awk -v n="$many" -v t="$rt" -v c="$rc" 'BEGIN {
    printf "report mode: %d rows in %.3f s elapsed (%.0f rows/s), %.3f s CPU (%.0f rows/s)\n",
           n, t, (t > 0 ? n / t : 0), c, (c > 0 ? n / c : 0) }'
