#!/usr/bin/env bash
# A worker killed in the middle of a run (signal 9, through the test-only
# switch of support/zarn_fatal.hpp): the run ends, with a non-zero status, and
# nothing blames the files; what the other processes say, if anything (the
# launcher usually ends them first), is that a process of the job ended.
set -u
pbin=$1 fix=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

if ldd "$pbin/pmirlo" 2>/dev/null | grep -q libasan; then
    echo "sanitizer build: the test-only switch is not compiled in; the killed worker is not tried"
    exit $fail
fi
group=/experiment_$(printf 'x%.0s' $(seq 30))
for pair in 00001 01500 02999; do
    (cd "$fix" && ZARN_TEST_ONLY_CRASH_AT_ACTIVITY="KILL:comparing $group/measurement_$pair" \
        timeout 60 mpiexec -n 3 "$pbin/pmirlo" -r par_paths_a.h5 par_paths_b.h5) > "$work/out" 2> "$work/err"
    rc=$?
    case $rc in
    0 | 1 | 124) echo "worker killed at pair $pair: status $rc"; fail=1 ;;
    esac
    if grep -q "may be damaged" "$work/err" "$work/out"; then
        echo "worker killed at pair $pair: a file is blamed"; grep "may be damaged" "$work/err" "$work/out"; fail=1
    fi
    if grep "mirlo error" "$work/err" | grep -qv "process [0-9]* of the job ended"; then
        echo "worker killed at pair $pair: a message other than the end of a process:"
        grep "mirlo error" "$work/err"; fail=1
    fi
done
exit $fail
