#!/usr/bin/env bash
# Runs one end-to-end case file under mpiexec and compares standard output,
# standard error and exit status with what the case expects.
#
# Case file:
#   procs: 1 2              process counts to run at (read by CMake)
#   env: NAME=value         environment for the run (repeatable)
#   run: pmirlo -r $FIX/a.h5 $FIX/b.h5
#   status: 1
#   --- stdout
#   ...expected lines...
#   --- usage               (in an output section: the whole usage text of
#                            pmirlo, from expected_usage.txt beside this script)
#   --- stderr
#   ...expected lines...
#
# $FIX (fixture folder), $CORPUS, $WORK (a fresh scratch folder) and $BIN
# are expanded in the run line. Stdout must match exactly, at more than one
# process without the one-process banner. Stderr lines
# are compared as a set at every count (MPI may order ranks' stderr freely).
# A section header "--- stdout-contains" checks only that each listed line
# occurs.
set -u
case_file=$1 nprocs=$2 pbin=$3 tbin=$4
export FIX=$5 CORPUS=$6
export BIN=$pbin
WORK=$(mktemp -d)
export WORK
trap 'rm -rf "$WORK"' EXIT

usage_file="$(dirname "$0")/expected_usage.txt"
run_line="" status="0" envs=() section="" mode_out=exact
exp_out="$WORK/.exp_out" exp_err="$WORK/.exp_err"
: > "$exp_out"; : > "$exp_err"
while IFS= read -r line || [ -n "$line" ]; do
    case "$section" in
    "")
        case "$line" in
        run:*) run_line=${line#run:} ;;
        status:*) status=$(echo "${line#status:}" | tr -d ' ') ;;
        env:*) envs+=("$(echo "${line#env:}" | sed 's/^ *//')") ;;
        "--- stdout") section=out ;;
        "--- stdout-contains") section=out; mode_out=contains ;;
        "--- stderr") section=err ;;
        esac ;;
    out)
        case "$line" in
        "--- stderr") section=err ;;
        "--- usage") cat "$usage_file" >> "$exp_out" ;;
        *) printf '%s\n' "$line" >> "$exp_out" ;;
        esac ;;
    err)
        if [ "$line" = "--- usage" ]; then cat "$usage_file" >> "$exp_err"; else printf '%s\n' "$line" >> "$exp_err"; fi ;;
    esac
done < "$case_file"

prog=$(echo "$run_line" | awk '{print $1}')
args=${run_line#*"$prog"}
case "$prog" in
pmirlo) exe="$pbin/pmirlo" ;;
tessel) exe="$tbin/tessel" ;;
*) echo "run_case: unknown program '$prog'"; exit 2 ;;
esac

cd "$WORK" || exit 2
for e in "${envs[@]+"${envs[@]}"}"; do export "$(eval echo "\"$e\"")"; done
eval "timeout 100 mpiexec -n $nprocs \"$exe\" $args" > "$WORK/.out" 2> "$WORK/.err"
rc=$?

fail=0
banner='Only 1 task available...doing serial diff'
# Expand variables in the expected text the same way as in the run line.
expand() { while IFS= read -r l; do eval "printf '%s\n' \"$l\"" 2>/dev/null || printf '%s\n' "$l"; done; }
if grep -q '\$' "$exp_out"; then expand < "$exp_out" > "$exp_out.x"; mv "$exp_out.x" "$exp_out"; fi
if grep -q '\$' "$exp_err"; then expand < "$exp_err" > "$exp_err.x"; mv "$exp_err.x" "$exp_err"; fi

if [ "$rc" != "$status" ]; then
    echo "exit status $rc, expected $status"; fail=1
fi
if [ "$mode_out" = contains ]; then
    while IFS= read -r l; do
        grep -qxF -- "$l" "$WORK/.out" || { echo "stdout lacks: $l"; fail=1; }
    done < "$exp_out"
elif [ "$nprocs" = 1 ]; then
    if ! diff -u "$exp_out" "$WORK/.out" > "$WORK/.d"; then echo "stdout differs:"; cat "$WORK/.d"; fail=1; fi
else
    # Several processes print the one-process lines in the same order.
    grep -vxF "$banner" "$exp_out" > "$WORK/.e1"
    if ! diff -u "$WORK/.e1" "$WORK/.out" > "$WORK/.d"; then echo "stdout differs:"; cat "$WORK/.d"; fail=1; fi
fi
LC_ALL=C sort "$exp_err" > "$WORK/.e2"
LC_ALL=C sort "$WORK/.err" > "$WORK/.o2"
if ! diff -u "$WORK/.e2" "$WORK/.o2" > "$WORK/.d"; then echo "stderr differs:"; cat "$WORK/.d"; fail=1; fi
exit $fail
