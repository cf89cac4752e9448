#!/usr/bin/env bash
# Random damage: COUNT (200) copies of the sound fixture dmg_base.h5, each with
# 1 to 16 bytes overwritten at random, mostly in the metadata at the start of
# the file, compared with the sound file by pmirlo -r (at one process, and at
# three for every fourth copy). Every run must end within the timeout with
# status 0, 1 or 2 and no sanitizer report from our code.
#
#   bash tests/stress/run_damage_sweep.sh [BUILD_DIR] [COUNT]
#
# SWEEP_SEED repeats the damage (printed first). A crash inside the HDF5
# library is reported by our fatal-signal handler with status 2 in a plain
# build; such runs are counted apart (and kept under BUILD_DIR/sweep-library/).
# Failed runs keep their damaged file
# and output under BUILD_DIR/sweep-failures/. Runs that end with status 2
# but print nothing about the failure are counted (not failed) as silent,
# and kept under BUILD_DIR/sweep-silent/.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-${SWEEP_COUNT:-200}}
seed=${SWEEP_SEED:-$(date +%s)}
timeout_s=${SWEEP_TIMEOUT:-60}
pmirlo=$build/compare_main/pmirlo
fix=$build/fixtures
base=$fix/dmg_base.h5
faildir=$build/sweep-failures

[ -x "$pmirlo" ] || { echo "run_damage_sweep: no pmirlo in $build" >&2; exit 2; }
if [ ! -f "$base" ]; then
    "$build/tests/make_fixtures" "$fix" damaged_files >/dev/null || exit 2
fi
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
rm -rf "$faildir" "$build/sweep-silent" "$build/sweep-library"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
RANDOM=$seed
size=$(stat -c %s "$base")

# A sanitizer report counts against us when, in any of its stacks, the first
# frame outside the sanitizer's own runtime lies in our code (not in HDF5,
# MPI or the C library).
ours_in_report() {
    awk -v root="$root/" '/runtime error:/ { found = 1 } # only our code is instrumented for it
         /^ *#0 / { judged = 0 }
         /^ *#[0-9]+ / && !judged {
             if ($0 ~ /libsanitizer|asan_|ubsan_|lsan_|__interceptor_/) next
             judged = 1
             if (index($0, root) || $0 ~ /pmirlo/) found = 1
         }
         END { exit found ? 0 : 1 }' "$1"
}

# Huge allocations asked for by the library on a damaged file fail as they
# do without the sanitizer, instead of stopping the process.
export ASAN_OPTIONS=${ASAN_OPTIONS:-allocator_may_return_null=1:detect_leaks=1}

# keep DIR: the damaged copy and the output of the run, for a closer look.
keep() {
    mkdir -p "$1"
    cp "$work/mutant.h5" "$work/out" "$1/"
}

echo "damage sweep: $count copies, seed $seed"
start=$(date +%s)
failed=0 crashed_in_library=0 silent=0
declare -A by_status
for i in $(seq 1 "$count"); do
    mutant=$work/mutant.h5
    cp "$base" "$mutant"
    edits=$((RANDOM % 16 + 1))
    for _ in $(seq "$edits"); do
        if [ $((RANDOM % 8)) -eq 0 ]; then
            off=$(( (RANDOM * 32768 + RANDOM) % size ))
        else
            off=$(( (RANDOM * 32768 + RANDOM) % 8192 ))
        fi
        printf "\\x$(printf %02x $((RANDOM % 256)))" |
            dd of="$mutant" bs=1 seek="$off" conv=notrunc status=none
    done
    n=1
    [ $((i % 4)) -eq 0 ] && n=3
    timeout "$timeout_s" mpiexec -n $n "$pmirlo" -r "$base" "$mutant" >"$work/out" 2>&1
    rc=$?
    by_status[$rc]=$(( ${by_status[$rc]:-0} + 1 ))
    why=""
    if [ "$rc" -eq 124 ]; then
        why="did not end within ${timeout_s}s"
    elif grep -qE 'Sanitizer|runtime error:' "$work/out"; then
        if ours_in_report "$work/out"; then
            why="sanitizer report from our code"
        else
            crashed_in_library=$((crashed_in_library + 1))
            keep "$build/sweep-library/$i"
        fi
    elif grep -q '^mirlo error: .* while .*the HDF5 file may be damaged$' "$work/out"; then
        crashed_in_library=$((crashed_in_library + 1))
        keep "$build/sweep-library/$i"
    elif [ "$rc" -gt 2 ]; then
        why="status $rc"
    elif [ "$rc" -eq 2 ] && ! grep -qiE 'error|unable|could not|cannot|failed' "$work/out"; then
        silent=$((silent + 1)) # status 2 with no line saying what failed
        keep "$build/sweep-silent/$i"
    fi
    if [ -n "$why" ]; then
        failed=$((failed + 1))
        keep "$faildir/$i"
        echo "copy $i FAILED (-n $n): $why (kept in $faildir/$i)"
        grep -m3 -E 'ERROR|runtime error|mirlo error' "$work/out" | sed 's/^/   /'
    fi
done
elapsed=$(($(date +%s) - start))
echo "damage sweep: $((count - failed))/$count sound, $failed failed, ${elapsed}s;" \
     "status 0:${by_status[0]:-0} 1:${by_status[1]:-0} 2:${by_status[2]:-0};" \
     "$crashed_in_library crashes inside the HDF5 library caught;" \
     "$silent with status 2 but no message"

[ "$failed" -eq 0 ]
