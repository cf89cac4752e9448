#!/usr/bin/env bash
# A multi-process run compares exactly what a one-process run compares: for
# each command line, the runs at two, three and four processes end with the
# same status as the run at one process and print the same lines in the same
# order (the one-process banner aside).
. "$(dirname "$0")/pmirlo_common.sh"

# expected status, words...
same() {
    local want=$1
    shift
    local rc1 rc
    rc1=$(run 1 "$work/one" "$@")
    grep -vxF "$banner" "$work/one" > "$work/one.x"
    if [ "$rc1" != "$want" ]; then
        echo "[$*] one process: status $rc1, expected $want"; fail=1
    fi
    if [ ! -s "$work/one.x" ] && [ "$want" != 0 ]; then
        echo "[$*] one process printed nothing"; fail=1
    fi
    for n in 2 3 4; do
        rc=$(run "$n" "$work/many" "$@")
        if [ "$rc" != "$rc1" ]; then
            echo "[$*] $n processes: status $rc, one process: $rc1"; fail=1
        fi
        if ! diff -u "$work/one.x" "$work/many" > "$work/d"; then
            echo "[$*] $n processes: output differs"; head -20 "$work/d"; fail=1
        fi
        if ! diff -u "$work/one.err" "$work/many.err" > "$work/d"; then
            echo "[$*] $n processes: standard error differs"; head -20 "$work/d"; fail=1
        fi
    done
}

# One pair with a report far larger than the output buffer; one whose single
# string row is larger than the buffer.
same 1 -r par_many_a.h5 par_many_b.h5 /big
same 1 -r par_many_a.h5 par_many_b.h5 /text
# Every pair of the file: quiet pairs answer without output.
same 1 -r par_many_a.h5 par_many_b.h5
same 1 -v par_many_a.h5 par_many_b.h5
same 1 par_many_a.h5 par_many_b.h5
same 0 -q par_many_a.h5 par_many_a.h5
# Attributes of an excluded group's members are skipped on every worker.
same 1 -r --exclude-attribute /g par_attrs_a.h5 par_attrs_b.h5
same 0 -r --exclude-path /g --exclude-attribute /gx par_attrs_a.h5 par_attrs_b.h5
# A subset of one dataset.
same 1 -r par_grid_a.h5 par_grid_b.h5 "/grid[1,1;2,2;2,2]"
# Files written through the family driver open in the workers as well.
same 1 -r par_fam_a_%d.h5 par_fam_b_%d.h5
# A dataset large enough to be compared in pieces by several workers: its
# rows, table headers and count print as the one-process run prints them.
same 1 -r par_large_a.h5 par_large_b.h5
same 1 -v par_large_a.h5 par_large_b.h5
same 1 par_large_a.h5 par_large_b.h5
same 1 -r -d 0.5 par_large_a.h5 par_large_b.h5 /large
exit $fail
