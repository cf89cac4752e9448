#!/usr/bin/env bash
# The manual pages render without a warning from man and groff, and each
# names every option of its program's usage text.
# Arguments: MAN_DIR PMIRLO TESSEL (tessel-plot and tessel-compare beside it)
set -u
man_dir=$1 pmirlo=$2 tessel=$3
bench=$(dirname "$tessel")
. "$(dirname "$0")/usage_options.sh"
if ! command -v man > /dev/null; then
    echo "SKIP: man is not installed"
    exit 0
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

check_page() { # PAGE USAGE
    local page=$man_dir/$1.1 opt warnings
    [ -r "$page" ] || { fail "$1: no page $page"; return; }
    warnings=$(MANWIDTH=80 man --warnings -l -E UTF-8 "$page" 2>&1 > /dev/null)
    [ -z "$warnings" ] || fail "$1: $warnings"
    MANWIDTH=80 man -l -E UTF-8 "$page" 2> /dev/null | grep -q "^NAME" || fail "$1: nothing rendered"
    # Options are written with escaped dashes in the page source.
    for opt in $(usage_options "$2"); do
        grep -qF -- "${opt//-/\\-}" "$page" || fail "$1: option $opt not described"
    done
}
check_page pmirlo "$(mpiexec -n 1 "$pmirlo" -h)"
check_page tessel "$(mpiexec -n 1 "$tessel" -h)"
check_page tessel-plot "$("$bench/tessel-plot" -h)"
check_page tessel-compare "$("$bench/tessel-compare" -h)"

[ "$failures" = 0 ] && echo "all manual page checks passed"
exit $((failures > 0))
