#!/usr/bin/env bash
# Compares the machine code of the numeric buffer loops (every instance of
# numeric_diff_buffer, which holds the per-rule loops inlined) in two builds
# of a program, addresses aside. On a shared machine, where times move by
# several percent between runs, identical loops show that a change left the
# per-element work as it was.
#
# usage: perf/compare_loops.sh OLD_BINARY NEW_BINARY
#   e.g. perf/compare_loops.sh base/build-perf/perf/bench_diff_array build-perf/perf/bench_diff_array
# Exits 0 when every loop is the same, 1 otherwise.
set -euo pipefail
old=$1 new=$2

# The instructions of symbol in binary, with addresses and symbol offsets removed.
code() {
    objdump -d --no-show-raw-insn --disassemble="$2" "$1" |
        sed -E '1,/>:$/d; s/^ *[0-9a-f]+:\t//; s/[0-9a-f]+ <[^>]*>/ADDR/g; s/0x[0-9a-f]+\(%rip\)/RIP/g; s/#.*//'
}

# Loops are paired by their element type, so that a renamed parameter type
# (the record the loop reports through) does not hide a comparison.
loops() {
    nm "$1" | awk '$3 ~ /^_Z19numeric_diff_buffer/ { print $3 }' | sort -u |
        while read -r sym; do
            printf '%s %s\n' "$(echo "$sym" | c++filt | sed -E 's/^[^<]*<(.*)>\(.*$/\1/' | tr ' ' '_')" "$sym"
        done
}

status=0
declare -A old_loops
while read -r type sym; do old_loops[$type]=$sym; done < <(loops "$old")
while read -r type sym; do
    name=$(echo "$sym" | c++filt)
    old_sym=${old_loops[$type]:-}
    if [[ -z $old_sym ]]; then
        echo "new only  $name"
        status=1
    elif diff -q <(code "$old" "$old_sym") <(code "$new" "$sym") > /dev/null; then
        echo "same      $name ($(code "$new" "$sym" | wc -l) instructions)"
    else
        echo "different $name"
        status=1
    fi
done < <(loops "$new")
exit $status
