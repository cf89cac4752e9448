#!/usr/bin/env bash
# The combined tolerance beside -d on the same data, in one run: a 1 GiB
# float64 pair with 0.1% of the elements differing, compared with
# `-d D`, `--atol D` and `--atol D --rtol R` (each element then also takes
# R * |a|), the three measured alternately run by run so that they share a
# busy machine alike. The element loops of the combined rule must stay
# within 5% of -d. TOL_ELEMENTS (element count) shrinks the files for a dry
# run.
#
# usage: perf/run_tolerance.sh [BUILD_DIR]     (configured with -DZARN_BUILD_PERF=ON)
# REPS (default 5) timed runs per command after one warm-up run; the fastest
# elapsed and the smallest CPU time count.
set -euo pipefail

build=${1:-build-perf}
reps=${REPS:-5}
floor=$build/perf/floor_dset
pmirlo=$build/compare_main/pmirlo
for exe in "$floor" "$pmirlo"; do
    [ -x "$exe" ] || { echo "missing $exe (build with -DZARN_BUILD_PERF=ON)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/tol_perf.XXXXXX")
trap 'rm -rf "$work"' EXIT
elements=${TOL_ELEMENTS:-134217728} # 1 GiB of float64

"$floor" write "$work/a.h5" "$elements" 0
"$floor" write "$work/b.h5" "$elements" 1000

# One timed run: elapsed and CPU seconds.
timed() {
    /usr/bin/time -f "%e %U %S" -o "$work/time.txt" "$@" > /dev/null 2>&1 || true
    tail -n 1 "$work/time.txt" | awk '{ print $1, $2 + $3 }'
}

declare -A options=([delta]="-d 0.5" [atol]="--atol 0.5" [atol_rtol]="--atol 0.5 --rtol 1e-6")
kinds=(delta atol atol_rtol)
for k in "${kinds[@]}"; do "$pmirlo" ${options[$k]} "$work/a.h5" "$work/b.h5" > /dev/null 2>&1 || true; done
for _ in $(seq "$reps"); do
    for k in "${kinds[@]}"; do echo "$k $(timed "$pmirlo" ${options[$k]} "$work/a.h5" "$work/b.h5")"; done
done > "$work/times.txt"

awk '{ if (!($1 in t) || $2 < t[$1]) t[$1] = $2; if (!($1 in c) || $3 < c[$1]) c[$1] = $3 }
     END {
         printf "%-10s %10s %10s %12s %12s\n", "rule", "elapsed", "CPU", "elapsed/-d", "CPU/-d"
         n = split("delta atol atol_rtol", k, " ")
         for (i = 1; i <= n; ++i)
             printf "%-10s %10.3f %10.3f %12.3f %12.3f\n", k[i], t[k[i]], c[k[i]], t[k[i]] / t["delta"], c[k[i]] / c["delta"]
     }' "$work/times.txt"
