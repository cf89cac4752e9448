#!/usr/bin/env bash
# A refusal that ends a multi-process comparison at once (MPI_Abort): a worker
# that cannot open a file. Each runs one
# disabled case of the protocol unit test under three processes and checks the
# message and a non-zero exit status.
set -u
pbin=$1
bin="$pbin/../tests/parallel_protocol_mpi"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

check() { # case, stream (out|err), expected line (an extended regular expression)
    timeout 60 mpiexec -n 3 "$bin" --gtest_also_run_disabled_tests --gtest_filter="ProtocolLimits.DISABLED_$1" \
        > "$work/out" 2> "$work/err"
    rc=$?
    if [ "$rc" != 2 ]; then
        echo "$1: exit status $rc, expected 2"; fail=1
    fi
    if ! grep -qxE -- "$3" "$work/$2"; then
        echo "$1: std$2 lacks: $3"; cat "$work/out" "$work/err" | head -20; fail=1
    fi
}

check WorkerThatCannotOpenAFileAborts out "mirlo Task \\[[12]\\]: </nonexistent/mirlo_missing\\.h5>: unable to open file"
exit $fail
