#!/usr/bin/env bash
# Each fatal signal, provoked in the real tessel binary through the test-only
# switch ZARN_TEST_ONLY_CRASH_AT_ACTIVITY (see support/zarn_fatal.hpp) at the
# first activity the engine records, must end the run with one line per
# dying process on standard error: "tessel error: ", the signal, " while ",
# what was being done naming the interface's file, and status 2 (at two
# processes the launcher ends the job with a non-zero status).
# Sanitizer builds install no handler (their own report instead): skipped.
#
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
set -u
tessel=$2/tessel
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ldd "$tessel" 2>/dev/null | grep -q libasan; then
    echo "sanitizer build: the fatal-signal handler is not installed; nothing to test"
    exit 0
fi

failures=0
signals="SEGV:segmentation fault
BUS:bus error
FPE:arithmetic exception
ILL:illegal instruction
ABRT:abort"

for api in posix mpiio phdf5; do
    while IFS=: read -r sig text; do
        for n in 1 2; do
            # One process runs without the launcher, so that its own status is
            # seen (the launcher may report 1 for a process that did not
            # finalise MPI).
            launcher=(mpiexec -n $n)
            [ $n -eq 1 ] && launcher=()
            HDF5_PARAPREFIX=$work ZARN_TEST_ONLY_CRASH_AT_ACTIVITY=$sig \
                timeout 120 "${launcher[@]}" "$tessel" -A $api -e 4K -x 2K -X 4K -B 1K \
                >"$work/out" 2>"$work/err"
            rc=$?
            pattern="^tessel error: $text while .*<$work/[^>]*>.*\$"
            # One process ends with 2 itself; with two, the launcher ends the
            # job with a non-zero status of its own choosing.
            status_ok=1
            if [ $n -eq 1 ]; then [ "$rc" -eq 2 ] || status_ok=0
            else { [ "$rc" -ne 0 ] && [ "$rc" -ne 124 ]; } || status_ok=0; fi
            if [ $status_ok -eq 0 ] || ! [ -s "$work/err" ] || grep -qv "$pattern" "$work/err" ||
               [ "$(wc -l <"$work/err")" -gt $n ]; then
                echo "FAIL: $api $sig -n $n: status $rc, expected 2 (non-zero at -n 2) and only lines matching $pattern"
                sed 's/^/  stderr| /' "$work/err"
                failures=$((failures + 1))
            fi
        done
    done <<<"$signals"
done

# While reading back: only an HDF5 file may be damaged.
for api in posix phdf5; do
    HDF5_PARAPREFIX=$work ZARN_TEST_ONLY_CRASH_AT_ACTIVITY=SEGV:reading \
        timeout 120 "$tessel" -A $api -e 4K -x 2K -X 4K -B 1K >"$work/out" 2>"$work/err"
    rc=$?
    suffix=""
    [ $api = phdf5 ] && suffix=": the HDF5 file may be damaged"
    pattern="^tessel error: segmentation fault while reading <$work/[^>]*>$suffix\$"
    if [ "$rc" -ne 2 ] || [ "$(wc -l <"$work/err")" -ne 1 ] || ! grep -q "$pattern" "$work/err"; then
        echo "FAIL: $api reading: status $rc, expected 2 and one line matching $pattern"
        sed 's/^/  stderr| /' "$work/err"
        failures=$((failures + 1))
    fi
done

echo "$failures failures"
[ "$failures" -eq 0 ]
