#!/usr/bin/env bash
# Leak reports of the sanitizer build: memory lost by a module unloaded before
# the process ends is reported under the module's name, so a suppression that
# names the module matches it every time; and a leak of our own code is still
# reported with the suppression file of the test suite in force.
# Arguments: LEAK_PROBE LEAKY_MODULE SUPPRESSION_FILE
set -u
probe=$1 module=$2 supp=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The suite's suppressions plus one for the test module, like those for MPI's.
{ cat "$supp"; echo "leak:leaky_module"; } > "$work/supp"
export ASAN_OPTIONS=detect_leaks=1

# label, expected status, expected text in stderr (empty: stderr must be
# empty), probe argument
check() {
    local label=$1 want=$2 text=$3
    shift 3
    LSAN_OPTIONS="suppressions=$work/supp:print_suppressions=0:exitcode=23" "$probe" "$@" 2> "$work/err"
    local rc=$?
    [ "$rc" = "$want" ] || fail "$label: exit status $rc, expected $want"
    if [ -z "$text" ]; then
        [ -s "$work/err" ] && { fail "$label: unexpected report"; head -30 "$work/err"; }
    else
        grep -q -- "$text" "$work/err" || { fail "$label: no \"$text\" in the report"; head -30 "$work/err"; }
    fi
}

for run in 1 2 3; do
    check "unloaded module, run $run" 0 "" "$module"
done
check "own leak" 23 "leak_from_own_code" own
grep -q "unknown module" "$work/err" && fail "own leak: frames not named"

[ "$failures" = 0 ] && echo "all leak report checks passed"
exit $((failures > 0))
