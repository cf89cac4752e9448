#!/usr/bin/env bash
# Runs whose messages are larger than the MPI library's eager limit, so that
# every send waits for its receive: 3,000 datasets with paths of about 90
# bytes, every other one differing (answers and batches cross at every
# moment), and two datasets whose names are 8,000 bytes long. Each must end
# (a hang fails the test at its timeout) with the status and the output of
# the one-process run, with the library's own limit and with every message
# made to wait for its receive (UCX_RNDV_THRESH=0).
. "$(dirname "$0")/pmirlo_common.sh"

# nprocs, words...: the run at nprocs against the run at one process.
same_as_one() {
    local n=$1
    shift
    local rc1 rc
    rc1=$(run 1 "$work/one" "$@")
    grep -vxF "$banner" "$work/one" > "$work/one.x"
    for forced in no yes; do
        if [ $forced = yes ]; then
            rc=$(UCX_RNDV_THRESH=0 run "$n" "$work/many" "$@")
        else
            rc=$(run "$n" "$work/many" "$@")
        fi
        if [ "$rc" = 124 ]; then
            echo "[$*] $n processes (rendezvous forced: $forced): did not end"; fail=1
        elif [ "$rc" != "$rc1" ]; then
            echo "[$*] $n processes (rendezvous forced: $forced): status $rc, one process: $rc1"; fail=1
        fi
        if ! cmp -s "$work/one.x" "$work/many"; then
            echo "[$*] $n processes (rendezvous forced: $forced): output differs"
            diff "$work/one.x" "$work/many" | head -5; fail=1
        fi
    done
}

same_as_one 3 par_paths_a.h5 par_paths_b.h5
same_as_one 3 -r par_paths_a.h5 par_paths_b.h5
same_as_one 2 par_names_a.h5 par_names_b.h5
same_as_one 2 -r par_names_a.h5 par_names_b.h5
# The count of each pair alone is well known: every odd dataset differs in
# all of its 50 values.
rc=$(run 3 "$work/many" par_paths_a.h5 par_paths_b.h5)
counts=$(grep -c '^50 differences found$' "$work/many")
[ "$counts" = 1500 ] || { echo "3,000 pairs: $counts pairs with 50 differences, expected 1500"; fail=1; }
exit $fail
