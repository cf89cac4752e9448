#!/usr/bin/env bash
# Dimension scales compared once: a netCDF-style pair (one float32 variable
# of 200 x 720 x 1440 on time, lat and lon, 830 MB a file, 17,800 values
# changed), compared whole, beside the variable alone (the floor: the whole
# file should take at most 1.1 times as long) and beside the peer tool
# `cdo diff` when it is installed (at most 0.6 times its time). With
# --references-by-value the old rule is timed too: the variable is then
# compared again through each coordinate's REFERENCE_LIST.
#
# usage: perf/run_dimscales.sh [BUILD_DIR]     (configured with -DZARN_BUILD_PERF=ON)
# DIMS_T, DIMS_Y, DIMS_X and DIMS_CHANGED shrink the pair for a dry run; REPS
# (default 3) timed runs of each after one warm-up, measured alternately;
# the fastest elapsed and the smallest CPU time count. The peer is timed
# only when `cdo` is on the PATH; PERF_INSTALL_PEER=1 installs Debian's
# package `cdo` first when it is missing (as root, through apt-get).
set -euo pipefail

build=${1:-build-perf}
reps=${REPS:-3}
tool=$build/perf/tool_dimscales
pmirlo=$build/compare_main/pmirlo
for exe in "$tool" "$pmirlo"; do
    [ -x "$exe" ] || { echo "missing $exe (build with -DZARN_BUILD_PERF=ON)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/dims_perf.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$tool" "$work/a.nc" "$work/b.nc" "${DIMS_T:-200}" "${DIMS_Y:-720}" "${DIMS_X:-1440}" "${DIMS_CHANGED:-17800}"

timed() {
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" > /dev/null 2>&1 || true
    tail -n 1 "$work/time.txt" | awk '{ print $1, $2 + $3 }'
}

if ! command -v cdo > /dev/null && [ "${PERF_INSTALL_PEER:-0}" = 1 ]; then
    apt-get install -y --no-install-recommends cdo > /dev/null || echo "cdo could not be installed"
fi

declare -A cmds=(
    [variable]="$pmirlo $work/a.nc $work/b.nc /var"
    [whole]="$pmirlo $work/a.nc $work/b.nc"
    [by_value]="$pmirlo --references-by-value $work/a.nc $work/b.nc"
)
kinds=(variable whole by_value)
if command -v cdo > /dev/null; then
    cmds[cdo]="cdo diff $work/a.nc $work/b.nc"
    kinds+=(cdo)
else
    echo "cdo is not installed: the peer's time is left out"
fi
echo "whole-file report: $($pmirlo "$work/a.nc" "$work/b.nc" | grep -c 'differences found') count line(s)"
for k in "${kinds[@]}"; do ${cmds[$k]} > /dev/null 2>&1 || true; done
for _ in $(seq "$reps"); do
    for k in "${kinds[@]}"; do echo "$k $(timed ${cmds[$k]})"; done
done > "$work/times.txt"

awk '{ if (!($1 in t) || $2 < t[$1]) t[$1] = $2; if (!($1 in c) || $3 < c[$1]) c[$1] = $3 }
     END {
         printf "%-10s %10s %10s %14s\n", "run", "elapsed", "CPU", "elapsed/var"
         n = split("variable whole by_value cdo", k, " ")
         for (i = 1; i <= n; ++i)
             if (k[i] in t)
                 printf "%-10s %10.3f %10.3f %14.3f\n", k[i], t[k[i]], c[k[i]], t[k[i]] / t["variable"]
         if ("cdo" in t)
             printf "whole / cdo: %.3f (target at most 0.6)\n", t["whole"] / t["cdo"]
         printf "whole / variable: %.3f (target at most 1.1)\n", t["whole"] / t["variable"]
     }' "$work/times.txt"
