#!/usr/bin/env bash
# Each fatal signal, provoked in the real pmirlo binary through the test-only
# switch ZARN_TEST_ONLY_CRASH_AT_ACTIVITY (see support/zarn_fatal.hpp), must
# end the run with one line on standard error, "mirlo error: ", the signal,
# what was being done and that the file may be damaged, and status 2. In a
# multi-process run a worker that dies so takes the job down with a non-zero
# status.
# Sanitizer builds install no handler (their own report instead): skipped.
#
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
set -u
pbin=$1 fix=$3
pmirlo=$pbin/pmirlo
a=$fix/e2e_a.h5 b=$fix/e2e_b.h5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ldd "$pmirlo" 2>/dev/null | grep -q libasan; then
    echo "sanitizer build: the fatal-signal handler is not installed; nothing to test"
    exit 0
fi

failures=0
fail() {
    echo "FAIL: $1"
    sed 's/^/  stderr| /' "$work/err"
    failures=$((failures + 1))
}

# crash NPROCS SWITCH : runs pmirlo a.h5 b.h5 with the switch set. One
# process runs without the launcher (an MPI singleton), so that its own exit
# status is seen: the launcher now and then reports 1 for a process that
# left without finalising MPI, whatever its status.
crash() {
    if [ "$1" -eq 1 ]; then
        ZARN_TEST_ONLY_CRASH_AT_ACTIVITY=$2 timeout 120 "$pmirlo" "$a" "$b" >"$work/out" 2>"$work/err"
    else
        ZARN_TEST_ONLY_CRASH_AT_ACTIVITY=$2 timeout 120 mpiexec -n "$1" "$pmirlo" "$a" "$b" >"$work/out" 2>"$work/err"
    fi
    rc=$?
}

signals="SEGV:segmentation fault
BUS:bus error
FPE:arithmetic exception
ILL:illegal instruction
ABRT:abort"

while IFS=: read -r sig text; do
    # One process, while opening the first file.
    crash 1 "$sig:opening file"
    expected="mirlo error: $text while opening file <$a>: the HDF5 file may be damaged"
    if [ "$rc" -ne 2 ] || [ "$(cat "$work/err")" != "$expected" ]; then
        fail "$sig -n 1 opening: status $rc, expected 2 and the line: $expected"
    fi

    # One process, while comparing the first pair (the root groups).
    crash 1 "$sig:comparing"
    expected="mirlo error: $text while comparing </> and </>: the HDF5 file may be damaged"
    if [ "$rc" -ne 2 ] || [ "$(cat "$work/err")" != "$expected" ]; then
        fail "$sig -n 1 comparing: status $rc, expected 2 and the line: $expected"
    fi

    # Three processes: the workers die comparing their first pairs. Each
    # dying process writes its one line whole; nothing else on stderr. Two
    # workers that abort at once may each see the other's end first: an
    # abort then names the process that ended instead of the file.
    crash 3 "$sig:comparing"
    cause="the HDF5 file may be damaged"
    [ "$sig" = ABRT ] && cause="(the HDF5 file may be damaged|process [0-9]+ of the job ended)"
    pattern="^mirlo error: $text while comparing </[^>]*> and </[^>]*>: $cause\$"
    if [ "$rc" -eq 0 ] || [ "$rc" -eq 124 ]; then
        fail "$sig -n 3 comparing: status $rc, expected the job to end with a non-zero status"
    elif ! [ -s "$work/err" ] || grep -qvE "$pattern" "$work/err"; then
        fail "$sig -n 3 comparing: expected only lines matching: $pattern"
    fi

    # Three processes: the manager dies opening the first file.
    crash 3 "$sig:opening file"
    expected="mirlo error: $text while opening file <$a>: the HDF5 file may be damaged"
    if [ "$rc" -eq 0 ] || [ "$rc" -eq 124 ] || ! grep -qxF "$expected" "$work/err"; then
        fail "$sig -n 3 opening: status $rc, expected non-zero and the line: $expected"
    fi
done <<<"$signals"

# Three processes, one worker dies on one chosen pair while the others go
# on: the job ends non-zero, the one line names that pair, and what the
# manager printed before is whole: every line of it is a line of the
# one-process report, and it ends with the end of a pair's report.
timeout 120 mpiexec -n 1 "$pmirlo" -r "$a" "$b" >"$work/reference" 2>/dev/null
ZARN_TEST_ONLY_CRASH_AT_ACTIVITY="SEGV:comparing /g1/dset2" \
    timeout 120 mpiexec -n 3 "$pmirlo" -r "$a" "$b" >"$work/out" 2>"$work/err"
rc=$?
expected="mirlo error: segmentation fault while comparing </g1/dset2> and </g1/dset2>: the HDF5 file may be damaged"
if [ "$rc" -eq 0 ] || [ "$rc" -eq 124 ] || [ "$(cat "$work/err")" != "$expected" ]; then
    fail "one worker dies: status $rc, expected non-zero and only the line: $expected"
fi
# The launcher's own notice of the dead process is an empty line and then a
# line of '='; what comes before it is the manager's.
awk '/^====/ { exit } { if (held) print prev; prev = $0; held = 1 }
     END { if (held && prev != "") print prev }' "$work/out" >"$work/manager"
if grep -cvxFf "$work/reference" "$work/manager" | grep -qv '^0$'; then
    fail "one worker dies: the manager printed lines that are not whole report lines"
    sed 's/^/  stdout| /' "$work/manager"
elif [ -s "$work/manager" ] && ! tail -n 1 "$work/manager" | grep -qE '^[0-9]+ differences found$'; then
    fail "one worker dies: the manager's output stops inside a pair's report"
    sed 's/^/  stdout| /' "$work/manager"
fi

# Without the switch the same run is an ordinary comparison.
timeout 120 mpiexec -n 1 "$pmirlo" "$a" "$b" >"$work/out" 2>"$work/err"
rc=$?
if [ "$rc" -ne 1 ] || [ -s "$work/err" ]; then
    fail "no switch: status $rc, expected 1 and nothing on stderr"
fi

echo "$failures failures"
[ "$failures" -eq 0 ]
