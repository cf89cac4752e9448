#!/usr/bin/env bash
# Chunked dataset comparison beside its baselines. perf/chunk_pairs.py writes
# three pairs with h5py: 1 GiB float64 gzip + shuffle in 1 MiB chunks
# (identical copies, and a copy with 16 chunks changed), 12000 x 8000 float32 gzip in 1500 x 1000 chunks (one
# element differs in each of the 64 chunks), and 2^34 float64 with one 1 MiB
# chunk written (identical copies). Each pair is timed with pmirlo, with h5py
# + numpy reading both datasets whole and counting the differences, and with
# `cat a b > /dev/null` (page cache warm); medians of REPS runs (default 3)
# after one warm-up run, the commands taken in turn run by run. Peak resident
# size from /usr/bin/time. The counts and exit statuses are checked.
#
# usage: perf/run_chunks.sh [BUILD_DIR]     (a Release build, e.g. build-perf)
# CHUNKS_PERF_DIR: where the files go; files already there are reused and the
# folder kept (default: a new folder under /tmp, removed at the end).
# h5py comes from Debian's archive (python3-h5py), installed here when missing.
set -euo pipefail

build=${1:-build-perf}
reps=${REPS:-3}
pmirlo=$build/compare_main/pmirlo
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
[ -x "$pmirlo" ] || { echo "missing $pmirlo (configure a Release build first)" >&2; exit 1; }
if ! "$py" -c "import h5py, numpy" 2> /dev/null; then
    echo "installing python3-h5py"
    if [ "$(id -u)" = 0 ]; then apt-get install -y -qq python3-h5py > /dev/null
    else sudo apt-get install -y -qq python3-h5py > /dev/null; fi
fi

if [ -n "${CHUNKS_PERF_DIR:-}" ]; then
    work=$CHUNKS_PERF_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d /tmp/chunks_perf.XXXXXX)
    trap 'rm -rf "$work"' EXIT
fi
if [ ! -f "$work/sparse_b.h5" ] || [ ! -f "$work/gzip_c.h5" ]; then
    echo "writing the pairs under $work"
    "$py" "$here/chunk_pairs.py" write "$work"
fi
echo "load average before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"

# One timed run of CMD...: elapsed seconds, peak resident KiB, exit status,
# CPU seconds (user + system).
timed() {
    local rc=0 e m u s
    /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" > "$work/out.txt" 2>&1 || rc=$?
    read -r e m u s < <(tail -n 1 "$work/time.txt")
    echo "$e $m $rc $(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')"
}

# run_set LABEL:COMMAND...: one warm-up run of each, then REPS rounds of
# the commands in turn; keeps per label the median elapsed time, the median
# CPU time, the largest peak RSS and the last exit status.
declare -A med cpu mem status
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
run_set() {
    local spec label
    for spec in "$@"; do bash -c "${spec#*:}" > /dev/null 2>&1 || true; done
    for _ in $(seq "$reps"); do
        for spec in "$@"; do
            label=${spec%%:*}
            echo "$label $(timed bash -c "${spec#*:}")"
        done
    done > "$work/runs.txt"
    med=() cpu=() mem=() status=()
    for spec in "$@"; do
        label=${spec%%:*}
        med[$label]=$(awk -v l="$label" '$1 == l { print $2 }' "$work/runs.txt" | median)
        cpu[$label]=$(awk -v l="$label" '$1 == l { print $5 }' "$work/runs.txt" | median)
        mem[$label]=$(awk -v l="$label" '$1 == l && $3 > m { m = $3 } END { print m / 1024 }' "$work/runs.txt")
        status[$label]=$(awk -v l="$label" '$1 == l { s = $4 } END { print s }' "$work/runs.txt")
    done
}

# One line per command of the last set: median elapsed and CPU seconds,
# peak RSS, exit status.
report() {
    local l name
    for l in p h c; do
        [ -n "${med[$l]:-}" ] || continue
        case $l in p) name=pmirlo ;; h) name="h5py + numpy" ;; c) name="cat a b" ;; esac
        printf "  %-13s %8.3f s elapsed %8.3f s CPU %8.1f MiB peak  status %s\n" "$name" "${med[$l]}" \
            "${cpu[$l]}" "${mem[$l]}" "${status[$l]}"
    done
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }'; }

g="$work/gzip_a.h5 $work/gzip_b.h5"
m="$work/grid_a.h5 $work/grid_b.h5"
s="$work/sparse_a.h5 $work/sparse_b.h5"

echo
echo "== 1 GiB float64, gzip + shuffle, 1 MiB chunks, identical"
run_set "p:$pmirlo $g /d /d" "h:$py $here/chunk_pairs.py compare $g" "c:cat $g > /dev/null"
report
echo "pmirlo / h5py: $(ratio "${med[p]}" "${med[h]}") elapsed, $(ratio "${cpu[p]}" "${cpu[h]}") CPU  (target <= 0.10)"
echo "pmirlo / cat:  $(ratio "${med[p]}" "${med[c]}") elapsed, $(ratio "${cpu[p]}" "${cpu[c]}") CPU  (target <= 2)"

echo
echo "== the same, one element changed in 16 of the 1024 chunks"
f="$work/gzip_a.h5 $work/gzip_c.h5"
count=$({ "$pmirlo" $f /d /d || true; } | awk '/differences found/ { print $1 }')
run_set "p:$pmirlo $f /d /d" "h:$py $here/chunk_pairs.py compare $f"
report
echo "counts: pmirlo $count (16 expected)"
echo "pmirlo / h5py: $(ratio "${med[p]}" "${med[h]}") elapsed, $(ratio "${cpu[p]}" "${cpu[h]}") CPU  (no target)"

echo
echo "== 12000 x 8000 float32, gzip, 1500 x 1000 chunks, one element differs per chunk"
count=$({ "$pmirlo" $m /d /d || true; } | awk '/differences found/ { print $1 }')
hcount=$("$py" "$here/chunk_pairs.py" compare $m)
run_set "p:$pmirlo $m /d /d" "h:$py $here/chunk_pairs.py compare $m" "c:cat $m > /dev/null"
report
echo "counts: pmirlo $count, h5py + numpy $hcount"
echo "pmirlo / h5py: $(ratio "${med[p]}" "${med[h]}") elapsed, $(ratio "${cpu[p]}" "${cpu[h]}") CPU  (target <= 0.8, count 64)"

echo
echo "== 2^34 float64 (128 GiB logical), 1 MiB chunks, one chunk written, identical"
run_set "p:$pmirlo $s /d /d"
report
echo "(target < 2 s, status 0)"

echo
echo "peak memory target: two strips + 64 MiB = 128 MiB for 32 MiB strips;"
echo "  the 2-D pair's strip is one row of chunks, 1500 x 8000 x 4 bytes (45.8 MiB): 155.6 MiB"
