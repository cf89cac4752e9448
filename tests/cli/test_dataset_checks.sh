#!/usr/bin/env bash
# Datasets that cannot be compared, and why: a signed against an unsigned
# dataset without elements, data behind a filter this build lacks, subsets
# that do not fit their dataset or are given for a group. Each command runs
# at one and three processes; the status, the lines expected on standard
# output or standard error, and (for failures) the absence of any count line
# are checked, and both runs must print the same.
set -u
pbin=$1 fix=$3 corpus=$4
exe="$pbin/pmirlo"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

lzo=$corpus/pytables/Tables_lzo2_shuffle.h5
if [ -f "$lzo" ]; then
    cp "$lzo" "$work/lzo_a.h5" && cp "$lzo" "$work/lzo_b.h5"
fi

# check STATUS STREAM(out|err|none) EXPECTED-LINE -- ARGS...
check() {
    local want=$1 stream=$2 line=$3
    shift 4
    for n in 1 3; do
        (cd "$fix" && timeout 60 mpiexec -n "$n" "$exe" "$@") > "$work/out.$n" 2> "$work/err.$n"
        local rc=$?
        grep -v '^Only 1 task available' "$work/out.$n" > "$work/o.$n"
        if [ "$rc" != "$want" ]; then
            echo "[$*] -n $n: status $rc, expected $want"; fail=1
        fi
        if [ "$stream" != none ] && ! grep -qxF -- "$line" "$work/$stream.$n"; then
            echo "[$*] -n $n: std$stream lacks: $line"; cat "$work/out.$n" "$work/err.$n" | head; fail=1
        fi
        if [ "$want" = 2 ] && grep -q "differences found" "$work/out.$n"; then
            echo "[$*] -n $n: a failed pair printed a count"; fail=1
        fi
    done
    cmp -s "$work/o.1" "$work/o.3" || { echo "[$*] standard output differs between 1 and 3 processes"; fail=1; }
    cmp -s <(sort "$work/err.1") <(sort "$work/err.3") ||
        { echo "[$*] standard error differs between 1 and 3 processes"; fail=1; }
}

check 1 out "Not comparable: </empty> has sign H5T_SGN_2 and </empty> has sign H5T_SGN_NONE" \
    -- -c e2e_sign_a.h5 e2e_sign_b.h5
check 1 out "Some objects are not comparable" -- e2e_sign_a.h5 e2e_sign_b.h5

if [ -f "$work/lzo_a.h5" ]; then
    check 1 out "Some objects are not comparable" -- "$work/lzo_a.h5" "$work/lzo_b.h5"
    check 1 out "Not comparable: </tuple0> and </tuple0> cannot be read: filter lzo (305) is not available" \
        -- -c "$work/lzo_a.h5" "$work/lzo_b.h5"
else
    echo "skipped: $lzo not found"
fi

check 2 err "mirlo error: <par_grid_a.h5>: </grid>: the subset [9,9] reaches beyond the dataset's extent: in dimension 0 it ends at 10, the extent is 6" \
    -- -r par_grid_a.h5 par_grid_b.h5 "/grid[9,9]"
check 2 err "mirlo error: <par_grid_a.h5>: </grid>: the subset [1] gives 1 values in a list where the dataset has 2 dimensions" \
    -- par_grid_a.h5 par_grid_b.h5 "/grid[1]"
check 2 err "mirlo error: <par_grid_a.h5>: </grid>: the subset [0,0;1,1;2,2;2,2] has overlapping blocks: in dimension 0 the stride 1 is smaller than the block 2" \
    -- -v par_grid_a.h5 par_grid_b.h5 "/grid[0,0;1,1;2,2;2,2]"
check 2 err "mirlo error: <par_attrs_a.h5>: </g>: the subset [1] applies to datasets only, and this is a group" \
    -- -r par_attrs_a.h5 par_attrs_b.h5 "/g[1]"
# A subset that fits is compared, at every process count alike.
check 1 none "" -- -r par_grid_a.h5 par_grid_b.h5 "/grid[1,1;2,2;2,2]"
exit $fail
