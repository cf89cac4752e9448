#!/usr/bin/env bash
# An external link whose target file is a FIFO (made here, beside a copy of
# the linking file) is followed like a dangling link: the run ends at once
# instead of waiting for a writer that never comes. Checked at one and two
# processes, for a whole-file comparison and for the link named as object.
#
# Arguments: PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR
set -u
pmirlo=$1/pmirlo fix=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "$0")/.." && pwd)/lsan.supp}

cp "$fix/fail_fifo_a.h5" "$fix/fail_fifo_b.h5" "$fix/fail_fifo_real.h5" "$work/" || exit 1
mkfifo "$work/fail_fifo_target.h5" || { echo "SKIP: cannot make a FIFO here"; exit 0; }
a=$work/fail_fifo_a.h5 b=$work/fail_fifo_b.h5

failures=0
# check NPROCS STATUS STDOUT STDERR ARGS...: stdout without the one-process
# banner, and stderr, must be the given texts.
check() {
    local n=$1 status=$2 out=$3 err=$4
    shift 4
    (cd "$work" && timeout 60 mpiexec -n "$n" "$pmirlo" "$@") >"$work/.out" 2>"$work/.err"
    local rc=$?
    local got_out got_err
    got_out=$(grep -vxF 'Only 1 task available...doing serial diff' "$work/.out")
    got_err=$(cat "$work/.err")
    if [ "$rc" -ne "$status" ] || [ "$got_out" != "$out" ] || [ "$got_err" != "$err" ]; then
        echo "FAIL: -n $n $*: status $rc (expected $status)"
        echo "  stdout: $got_out"
        echo "  stderr: $got_err"
        failures=$((failures + 1))
    fi
}

dangling="mirlo error: <$a>: </ext>: dangling link: its target does not exist or cannot be opened (an error under --no-dangling-links)"
for n in 1 2; do
    check "$n" 1 "1 differences found" "" --follow-symlinks "$a" "$b"
    check "$n" 1 "1 differences found" "" --follow-symlinks "$a" "$b" /ext
    check "$n" 2 "" "$dangling" --follow-symlinks --no-dangling-links "$a" "$b"
done
[ "$failures" -eq 0 ] && echo "all FIFO link runs passed"
exit $((failures > 0))
