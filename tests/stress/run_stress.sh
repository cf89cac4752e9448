#!/usr/bin/env bash
# Randomized parallel comparisons: STRESS_RUNS (200) runs of pmirlo over the
# test fixture files, and (every other run) over a random pair of files
# written for the run by tests/tools/random_pairs (long names, from no
# differences to 10^5), each with random options (output modes, tolerances,
# count limit, NaN detection, exclusions, subsets, link following) at a
# random process count from 2 to 5. Every run must end within its timeout,
# its exit status and standard output (line for line, in order) must equal
# those of the same command at one process, less the one-process banner,
# and its standard error the same lines (the ranks' order on standard error
# is the launcher's).
#
#   bash tests/stress/run_stress.sh [BUILD_DIR] [RUNS]
#
# STRESS_SEED fixes the random choices (default: the current time; printed).
# A failed run leaves its command and both outputs in
# BUILD_DIR/stress-failures/<run>/.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-${STRESS_RUNS:-200}}
seed=${STRESS_SEED:-$(date +%s)}
timeout_s=${STRESS_TIMEOUT:-120}
pmirlo=$build/compare_main/pmirlo
random_pairs=$build/tests/random_pairs
fix=$build/fixtures
faildir=$build/stress-failures

[ -x "$pmirlo" ] || { echo "run_stress: no pmirlo in $build" >&2; exit 2; }
if [ ! -f "$fix/e2e_a.h5" ]; then
    "$build/tests/make_fixtures" "$fix" >/dev/null || { echo "run_stress: fixtures failed" >&2; exit 2; }
fi
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
rm -rf "$faildir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
RANDOM=$seed

pairs=(
    "e2e_a.h5 e2e_b.h5" "e2e_a.h5 e2e_a_copy.h5" "e2e_nc_a.h5 e2e_nc_b.h5"
    "e2e_links_a.h5 e2e_links_b.h5" "attr_1.h5 attr_2.h5" "demo_run1.h5 demo_run2.h5"
    "dset_a.h5 dset_b.h5" "par_attrs_a.h5 par_attrs_b.h5" "par_grid_a.h5 par_grid_b.h5"
    "par_many_a.h5 par_many_b.h5" "trek_graph.h5 trek_graph.h5" "dmg_base.h5 dmg_base_copy.h5"
    "dmg_base.h5 dmg_data_short.h5" "dmg_base.h5 dmg_ohdr_small_zero.h5"
    "par_large_a.h5 par_large_b.h5"
)
available=()
for p in "${pairs[@]}"; do
    set -- $p
    [ -f "$fix/$1" ] && [ -f "$fix/$2" ] && available+=("$p")
done
[ ${#available[@]} -gt 0 ] || { echo "run_stress: no fixture pairs in $fix" >&2; exit 2; }

# The objects of each pair, from the verbose listing of a one-process run:
# lines "    x      x    /path" (present in both files).
declare -A objects
for p in "${available[@]}"; do
    set -- $p
    objects[$p]=$(mpiexec -n 1 "$pmirlo" -v "$fix/$1" "$fix/$2" 2>/dev/null |
                  awk '$1 == "x" && $2 == "x" && $3 ~ /^\// { print $3 }' | tr '\n' ' ')
done

pick() { # pick WORD... : one of the words
    local a=("$@")
    echo "${a[RANDOM % ${#a[@]}]}"
}

# random_args PAIR FILE1 FILE2: the options and files of one run.
random_args() {
    local p=$1 file1=$2 file2=$3 args=() objs
    read -r -a objs <<<"${objects[$p]:-}"
    case $((RANDOM % 6)) in
    0) ;;
    1) args+=(-r) ;;
    2) args+=(-v) ;;
    3) args+=("-v$((RANDOM % 4))") ;;
    4) args+=(-q) ;;
    5) args+=(-r -c) ;;
    esac
    case $((RANDOM % 5)) in
    0) args+=(-d "$(pick 0 0.1 0.5 1 10 1e-6)") ;;
    1) args+=(-p "$(pick 0 0.01 0.1 0.5 2)") ;;
    2) args+=(--use-system-epsilon) ;;
    esac
    [ $((RANDOM % 5)) -eq 0 ] && args+=(-n "$((RANDOM % 5 + 1))")
    [ $((RANDOM % 6)) -eq 0 ] && args+=(-N)
    [ $((RANDOM % 6)) -eq 0 ] && args+=(-c)
    if [ ${#objs[@]} -gt 0 ]; then
        for _ in $(seq $((RANDOM % 3))); do
            args+=(--exclude-path "$(pick "${objs[@]}")")
        done
        [ $((RANDOM % 4)) -eq 0 ] && args+=(--exclude-attribute "$(pick "${objs[@]}")")
    fi
    case $((RANDOM % 5)) in
    0) args+=(--follow-symlinks) ;;
    1) args+=(--follow-symlinks --no-dangling-links) ;;
    esac
    args+=("$file1" "$file2")
    # Now and then a single object, sometimes with a subset of its first
    # elements (a subset that does not fit the object is an error, which
    # must be the same error at every process count).
    if [ ${#objs[@]} -gt 0 ] && [ $((RANDOM % 4)) -eq 0 ]; then
        local obj
        obj=$(pick "${objs[@]}")
        case $((RANDOM % 3)) in
        0) args+=("$obj") ;;
        1) args+=("$obj[$((RANDOM % 2))]") ;;
        2) args+=("$obj[0;1;$((RANDOM % 3 + 1))]") ;;
        esac
    fi
    printf '%s\n' "${args[@]}"
}

# run_one NPROCS PREFIX ARGS... : PREFIX.out, PREFIX.err, PREFIX.rc
run_one() {
    local n=$1 prefix=$2
    shift 2
    timeout "$timeout_s" mpiexec -n "$n" "$pmirlo" "$@" >"$prefix.out" 2>"$prefix.err"
    echo $? >"$prefix.rc"
    grep -v '^Only 1 task available...doing serial diff$' "$prefix.out" >"$prefix.out.set"
    sort "$prefix.err" >"$prefix.err.set"
}

echo "stress: $runs runs, seed $seed, $(date)"
start=$(date +%s)
passed=0 failed=0 generated=0
declare -A by_procs by_status
with_output=0
for i in $(seq 1 "$runs"); do
    if [ -x "$random_pairs" ] && [ $((RANDOM % 2)) -eq 0 ]; then
        # A pair of its own: the seed writes it again.
        pair_seed=$((RANDOM * 32768 + RANDOM))
        p="random_pairs $pair_seed"
        if ! "$random_pairs" "$pair_seed" "$work/rand_a.h5" "$work/rand_b.h5" >/dev/null; then
            echo "run_stress: random_pairs $pair_seed failed" >&2; exit 2
        fi
        mapfile -t args < <(random_args "$p" "$work/rand_a.h5" "$work/rand_b.h5")
        generated=$((generated + 1))
    else
        p=${available[RANDOM % ${#available[@]}]}
        set -- $p
        mapfile -t args < <(random_args "$p" "$fix/$1" "$fix/$2")
    fi
    n=$((RANDOM % 4 + 2))
    run_one 1 "$work/one" "${args[@]}"
    run_one "$n" "$work/par" "${args[@]}"
    why=""
    if [ "$(cat "$work/one.rc")" = 124 ] || [ "$(cat "$work/par.rc")" = 124 ]; then
        why="did not end within ${timeout_s}s"
    elif [ "$(cat "$work/one.rc")" != "$(cat "$work/par.rc")" ]; then
        why="status $(cat "$work/one.rc") at -n 1, $(cat "$work/par.rc") at -n $n"
    elif ! cmp -s "$work/one.out.set" "$work/par.out.set"; then
        why="standard output differs"
    elif ! cmp -s "$work/one.err.set" "$work/par.err.set"; then
        why="standard error differs"
    fi
    by_procs[$n]=$(( ${by_procs[$n]:-0} + 1 ))
    st=$(cat "$work/one.rc")
    by_status[$st]=$(( ${by_status[$st]:-0} + 1 ))
    [ -s "$work/one.out.set" ] && with_output=$((with_output + 1))
    if [ -z "$why" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        d=$faildir/$i
        mkdir -p "$d"
        printf '%q ' mpiexec -n "$n" "$pmirlo" "${args[@]}" >"$d/command"
        echo >>"$d/command"
        case $p in
        random_pairs*) echo "files: $random_pairs ${p#random_pairs } rand_a.h5 rand_b.h5" >>"$d/command" ;;
        esac
        cp "$work"/one.* "$work"/par.* "$d/"
        echo "run $i FAILED (-n $n): $why"
        echo "   $(cat "$d/command")"
        diff "$work/one.out.set" "$work/par.out.set" | head -6 | sed 's/^/   /'
    fi
done
elapsed=$(($(date +%s) - start))
echo "stress: $passed/$runs passed, $failed failed, ${elapsed}s;" \
     "runs by process count: 2:${by_procs[2]:-0} 3:${by_procs[3]:-0} 4:${by_procs[4]:-0} 5:${by_procs[5]:-0};" \
     "by status: 0:${by_status[0]:-0} 1:${by_status[1]:-0} 2:${by_status[2]:-0};" \
     "$with_output with output beyond the banner; $generated on random pairs"
[ "$failed" -eq 0 ]
