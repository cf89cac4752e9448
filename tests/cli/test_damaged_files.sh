#!/usr/bin/env bash
# Damaged HDF5 files (written by tests/fixtures/fx_damaged.cpp) compared with
# a sound one, whole and object by object, at one and three processes.
# Every run must end (no hang) with status 1 or 2 and a message saying what
# went wrong, and never with a sanitizer report or a death by signal. Files
# that cannot be opened at all must give the documented open-failure line.
#
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
set -u
pbin=$1 fix=$3
pmirlo=$pbin/pmirlo
base=$fix/dmg_base.h5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "$0")/.." && pwd)/lsan.supp}

failures=0 runs=0
fail() {
    echo "FAIL: $1"
    echo "  run: $2"
    sed 's/^/  | /' "$work/out" | head -40
    failures=$((failures + 1))
}

# run NPROCS ARGS... : output (both streams) in $work/out, status in $rc.
run() {
    local n=$1
    shift
    timeout 120 mpiexec -n "$n" "$pmirlo" "$@" >"$work/out" 2>&1
    rc=$?
    runs=$((runs + 1))
    # The one-process banner is not a message about the files.
    grep -v '^Only 1 task available...doing serial diff$' "$work/out" >"$work/msg"
}

# Checks common to every run on a damaged file.
sound_end() {
    local what=$1
    if [ "$rc" -eq 124 ]; then
        fail "$what: did not end within 120 s" "$what"; return 1
    fi
    if [ "$rc" -gt 2 ]; then
        fail "$what: status $rc (killed by a signal or aborted)" "$what"; return 1
    fi
    if grep -qE 'Sanitizer|runtime error:' "$work/out"; then
        fail "$what: sanitizer report" "$what"; return 1
    fi
    return 0
}

# A status of 1 or 2, and for 2 a line that says what failed.
reported_failure() {
    local what=$1
    if [ "$rc" -ne 1 ] && [ "$rc" -ne 2 ]; then
        fail "$what: status $rc, expected 1 or 2" "$what"; return
    fi
    if [ "$rc" -eq 2 ] && ! grep -qiE 'error|unable|could not|cannot|damaged|failed' "$work/msg"; then
        fail "$what: status 2 without a message saying what failed" "$what"
    elif [ "$rc" -eq 1 ] && ! [ -s "$work/msg" ]; then
        fail "$what: status 1 without a message" "$what"
    fi
}

# The sound pair first: the fixture itself must compare equal.
for n in 1 3; do
    run $n "$base" "$fix/dmg_base_copy.h5"
    if [ "$rc" -ne 0 ] || [ -s "$work/msg" ]; then
        fail "sound files differ at -n $n (status $rc)" "pmirlo $base $fix/dmg_base_copy.h5"
    fi
done

# Files that HDF5 cannot open at all: the open-failure line, status 2.
unopenable="dmg_trunc_superblock dmg_trunc_metadata dmg_trunc_half dmg_trunc_last_byte
            dmg_superblock_zeroed dmg_ohdr_root_scrambled"
for name in $unopenable; do
    d=$fix/$name.h5
    [ -f "$d" ] || { fail "fixture $name.h5 missing" "-"; continue; }
    for n in 1 3; do
        run $n "$base" "$d"
        sound_end "$name whole -n $n" || continue
        if [ "$rc" -ne 2 ] || [ "$(cat "$work/msg")" != "mirlo: <$d>: unable to open file" ]; then
            fail "$name whole -n $n: expected the open-failure line and status 2 (got $rc)" "pmirlo $base $d"
        fi
    done
done

# Files that open but whose objects, groups or data are damaged.
damaged="dmg_ohdr_small_zero dmg_ohdr_small_ones dmg_ohdr_small_scrambled dmg_ohdr_big_scrambled
         dmg_btree_nodes dmg_local_heap dmg_symbol_nodes dmg_data_short dmg_dims_huge dmg_chunk_zipped
         dmg_layout_chunked"
for name in $damaged; do
    d=$fix/$name.h5
    [ -f "$d" ] || { fail "fixture $name.h5 missing" "-"; continue; }
    for n in 1 3; do
        # Whole files, both orders: the damage is always met somewhere.
        for order in "$base $d" "$d $base"; do
            # shellcheck disable=SC2086
            run $n -r $order
            sound_end "$name whole -n $n ($order)" && reported_failure "$name whole -r -n $n ($order)"
        done
    done
    # Object by object: a damaged object fails with a message; an intact
    # one may compare equal (status 0) but then says nothing of an error.
    for obj in /g1/small /big /chunked /zipped /link_small; do
        run 1 -r "$base" "$d" "$obj"
        sound_end "$name $obj" || continue
        if [ "$rc" -ne 0 ]; then
            reported_failure "$name $obj (pmirlo -r $base $d $obj)"
        fi
    done
    # Against an identical damaged copy, so that the damaged data is read on
    # both sides (the damaged object fails; the others compare equal). A
    # compressed chunk stored with the same bytes in both files is the same
    # data and is never decoded: that pair is equal, without a word.
    twin=$fix/${name}_twin.h5
    if [ -f "$twin" ]; then
        for n in 1 3; do
            run $n -r "$d" "$twin"
            if [ "$name" = dmg_chunk_zipped ]; then
                sound_end "$name twin -n $n" || continue
                if [ "$rc" -ne 0 ] || grep -qiE 'error|cannot|failed' "$work/msg"; then
                    fail "$name twin -r -n $n: identical stored chunks must compare equal (status $rc)" \
                        "pmirlo -r $d $twin"
                fi
            else
                sound_end "$name twin -n $n" && reported_failure "$name twin -r -n $n"
            fi
        done
    fi
done

echo "$runs runs on damaged files, $failures failed"
[ "$failures" -eq 0 ]
