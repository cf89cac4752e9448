# Shared by scripted pmirlo tests that compare runs at several process counts
# (sourced, with the test's arguments PMIRLO_BINDIR TESSEL_BINDIR FIXTURE_DIR
# CORPUS_DIR): the program, the fixture folder, a scratch folder, the
# one-process banner and the run helper.
set -u
pbin=$1 fix=$3
exe="$pbin/pmirlo"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
banner='Only 1 task available...doing serial diff'
fail=0

# nprocs, output file, words...: runs pmirlo in the fixture folder, standard
# error beside the output file; prints the status.
run() {
    local n=$1 out=$2
    shift 2
    (cd "$fix" && timeout 100 mpiexec -n "$n" "$exe" "$@") > "$out" 2> "$out.err"
    echo $?
}
