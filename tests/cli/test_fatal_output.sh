#!/usr/bin/env bash
# A one-process run that crashes part way keeps the report it had printed:
# standard output is block-buffered there, and the fatal-signal handler
# writes out what the buffer still holds before its own line.
set -u
pbin=$1 fix=$3
if [ -n "${ZARN_SANITIZED_BUILD:-}" ] || nm -C "$pbin/pmirlo" 2>/dev/null | grep -q __asan_init; then
    echo "sanitizer build: the handler is not installed"; exit 0
fi
out=$(ZARN_TEST_ONLY_CRASH_AT_ACTIVITY="SEGV:comparing /g1/dset2" "$pbin/pmirlo" "$fix/e2e_a.h5" "$fix/e2e_b.h5" 2>"${TMPDIR:-/tmp}/fatal_out.$$" </dev/null)
rc=$?
err=$(cat "${TMPDIR:-/tmp}/fatal_out.$$"); rm -f "${TMPDIR:-/tmp}/fatal_out.$$"
expected='Only 1 task available...doing serial diff
attribute: <version of </>> and <version of </>>
1 differences found
dataset: </dset1> and </dset1>
1 differences found'
fail=0
[ "$rc" = 2 ] || { echo "status $rc, expected 2"; fail=1; }
[ "$out" = "$expected" ] || { echo "stdout:"; echo "$out"; fail=1; }
[ "$err" = "mirlo error: segmentation fault while comparing </g1/dset2> and </g1/dset2>: the HDF5 file may be damaged" ] ||
    { echo "stderr: $err"; fail=1; }
exit $fail
