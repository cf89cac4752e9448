#!/usr/bin/env bash
# Bash completion of pmirlo, tessel, tessel-plot and tessel-compare, driven
# as bash drives it (COMP_WORDS, COMP_CWORD) with bash-completion's helpers:
# options, values of options, file names, and object paths listed by pmirlo
# from inside the files.
# Arguments: COMPLETION_DIR PMIRLO TESSEL FIXTURE_DIR (tessel-plot and
# tessel-compare beside tessel)
set -u
dir=$1 pmirlo=$2 tessel=$3 fix=$4
bench=$(dirname "$tessel")
helpers=/usr/share/bash-completion/bash_completion
if [ ! -r "$helpers" ]; then
    echo "SKIP: bash-completion is not installed ($helpers)"
    exit 0
fi
. "$helpers"
. "$dir/pmirlo"
. "$dir/tessel"
. "$(dirname "$0")/usage_options.sh"
# The completion runs the pmirlo it finds on the path.
PATH=$(dirname "$pmirlo"):$PATH
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# compopt only works while readline runs a completion; record what is asked.
compopt() { COMPOPT+=" $*"; }

# complete_words FUNCTION WORD...: the completion of the last word, as bash
# calls FUNCTION; sets REPLY (candidates sorted, one per line) and COMPOPT.
# Words are given as bash splits them: "--api" "=" "ph" for --api=ph.
complete_words() {
    local fn=$1 word previous=""
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE=""
    for word in "$@"; do
        # No blank around a word break (=) in the line typed.
        if [ -n "$COMP_LINE" ] && [ "$word" != "=" ] && [ "$previous" != "=" ]; then
            COMP_LINE+=" "
        fi
        COMP_LINE+=$word
        previous=$word
    done
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    COMPOPT=""
    "$fn" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2> "$work/err"
    [ -s "$work/err" ] && fail "$fn $*: printed $(cat "$work/err")"
    REPLY=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort)
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

T=$fix/trek_graph.h5 C=$fix/completion.h5
D="/my\\ data/"
nl=$'\n'
# Each case: function, expected candidates (one per line), whether the word
# is left open (nospace), then the words of the command line.
check() {
    local fn=$1 want=$2 open=$3
    shift 3
    complete_words "$fn" "$@"
    [ "$REPLY" = "$want" ] || fail "$*: got [$REPLY], expected [$want]"
    case $open in
        open) [[ $COMPOPT == *nospace* ]] || fail "$*: the word is closed with a space" ;;
        closed) [[ $COMPOPT == *nospace* ]] && fail "$*: the word is left open" ;;
    esac
}

# pmirlo: options, then object paths of file1 for obj1 and of file2 for obj2,
# past option values in every form the command line takes.
check _pmirlo "--statistics" closed pmirlo --stat
check _pmirlo "--json=" open pmirlo --js
check _pmirlo "--pairs=" open pmirlo --pai
check _pmirlo "--list-differing=" open pmirlo --list
check _pmirlo "/g/self/$nl/g/x$nl/g/y/" - pmirlo -r "$T" "$T" /g/
check _pmirlo "/g/y/" open pmirlo "$T" "$T" /g/y
check _pmirlo "/a/d" closed pmirlo "$T" "$T" /a/
check _pmirlo "$D" open pmirlo -d 0.5 "$T" "$C" /a/d /my
check _pmirlo "$D" open pmirlo -rd 0.5 "$T" "$C" /a/d /my
check _pmirlo "$D" open pmirlo -S 2 -v "$T" "$C" /a/d /my
check _pmirlo "$D" open pmirlo -d0.5 -n 3 "$T" "$C" /a/d /my
check _pmirlo "$D" open pmirlo --delta 0.5 --exclude-path /b "$T" "$C" /a/d /my
check _pmirlo "$D" open pmirlo --json out.json "$T" "$C" /a/d /my
check _pmirlo "$D" open pmirlo --json=out.json -v "$T" "$C" /a/d /my
check _pmirlo "$D" open pmirlo --json = out.json "$T" "$C" /a/d /my
check _pmirlo "$D" open pmirlo -- "$T" "$C" /a/d /my
check _pmirlo "$D" open pmirlo "$T" "$C" /a/d /my
check _pmirlo "" - pmirlo "$T" "$C" /my
check _pmirlo "/my\\ data/t\\ 1$nl/my\\ data/u\\\$v" - pmirlo "$C" "$C" "/my\\ data/"
check _pmirlo "/my\\ data/u\\\$v" closed pmirlo "$C" "$C" "/my\\ data/u"
check _pmirlo "" - pmirlo "$T" "$T" /a/d /a/d /
check _pmirlo "" - pmirlo "$fix/missing.h5" "$fix/missing.h5" /
check _pmirlo "$fix/trek_graph.h5" - pmirlo -r "$fix/trek_gr"
check _pmirlo "$fix/completion.h5" - pmirlo "$T" "$fix/completi"

# tessel: list values of -A and -D, file names of the report options.
check _tessel "posix,mpiio" open tessel -A posix,mp
check _tessel "phdf5" open tessel --api = ph
check _tessel "2,r,1${nl}2,r,3${nl}2,r,4${nl}2,r,t${nl}2,r,v" open tessel -D 2,r,
check _tessel "--csv=" open tessel --cs
check _tessel "$fix/trek_graph.h5" - tessel --json "$fix/trek_gr"
check _tessel "" - tessel -e ""
check _tessel "pattern" closed tessel --data = pa
check _tessel_plot "--phases" - tessel-plot --pha
check _tessel_plot "" - tessel-plot "$fix/trek_gr"
check _tessel_compare "--tolerance" - tessel-compare --tol

# Every option of a program's usage text is offered.
covered() { # LABEL FUNCTION PROGRAM USAGE
    local opt
    for opt in $(usage_options "$4"); do
        complete_words "$2" "$3" "$opt"
        printf '%s\n' "$REPLY" | grep -qxE -- "$opt=?" || fail "$1: option $opt not offered"
    done
}
covered pmirlo _pmirlo pmirlo "$(mpiexec -n 1 "$pmirlo" -h)"
covered tessel _tessel tessel "$(mpiexec -n 1 "$tessel" -h)"
covered tessel-plot _tessel_plot tessel-plot "$("$bench/tessel-plot" -h)"
covered tessel-compare _tessel_compare tessel-compare "$("$bench/tessel-compare" -h)"

[ "$failures" = 0 ] && echo "all completion checks passed"
exit $((failures > 0))
