# Shared by the scripted tessel tests (sourced, with the test's arguments
# PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR CORPUS_DIR): a scratch folder, the
# run helper and the comparisons. Each test ends with `finish LABEL`.
set -u
TESSEL=$2/tessel
PLOT=$2/tessel-plot
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
# In sanitizer builds, keep the summary of suppressed (MPI library) leaks off
# the standard error that is compared.
export LSAN_OPTIONS="${LSAN_OPTIONS:-}:print_suppressions=0"
unset HDF5_MPI_INFO HDF5_PARAPREFIX HDF5_NOCLEANUP

# run NPROCS ARGS...: runs tessel in the empty folder $WORK/run with the
# current environment; sets OUT, ERR (NUL characters dropped) and RC.
run() {
    local n=$1; shift
    rm -rf "$WORK/run"; mkdir -p "$WORK/run"
    (cd "$WORK/run" && timeout 100 mpiexec -n "$n" "$TESSEL" "$@" > "$WORK/out" 2> "$WORK/err")
    RC=$?
    OUT=$(cat "$WORK/out")
    ERR=$(tr -d '\0' < "$WORK/err")
}
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
same() { # LABEL EXPECTED ACTUAL
    if [ "$2" != "$3" ]; then fail "$1"; diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | head -20; fi
}
status_is() { [ "$RC" = "$2" ] || fail "$1: exit status $RC, expected $2"; }
run_dir_empty() { [ -z "$(ls -A "$WORK/run")" ] || fail "$1: left $(ls -A "$WORK/run")"; }
finish() {
    [ "$failures" = 0 ] && echo "all $1 checks passed"
    exit $((failures > 0))
}
