#!/usr/bin/env bash
# What the JSON report and the statistics lines cost. Writes a pair of files
# holding one float64 dataset /d of 1 GiB each (read in strips), identical and
# with 0.1% of the elements differing (every 1000th), and times pmirlo on each
# pair without the options, with --json=FILE and with --statistics, the three
# run by run alternately so that they share the machine's load alike. With
# BASE_PMIRLO set to a pmirlo built from an earlier commit, that one runs
# beside them too (without the options), to show that a run without them got
# no slower. Times on a shared machine move by several percent between runs,
# so where valgrind is installed the script also counts the instructions each
# variant executes on the differing pair (cachegrind, no cache simulation):
# the same count every time, whatever the load (INSTR=0 leaves it out).
#
# usage: perf/run_json.sh [BUILD_DIR]     (configured with -DZARN_BUILD_PERF=ON)
# REPS (default 5) timed runs per command after one warm-up run; the fastest
# counts. JSON_LARGE (element count) shrinks the files for a dry run;
# JSON_PERF_DIR chooses where the files go (default: a new folder under /tmp),
# removed at the end.
set -euo pipefail

build=${1:-build-perf}
reps=${REPS:-5}
floor=$build/perf/floor_dset
pmirlo=$build/compare_main/pmirlo
base=${BASE_PMIRLO:-}
for exe in "$floor" "$pmirlo" ${base:+"$base"}; do
    [ -x "$exe" ] || { echo "missing $exe (build with -DZARN_BUILD_PERF=ON)" >&2; exit 1; }
done

work=${JSON_PERF_DIR:-$(mktemp -d /tmp/json_perf.XXXXXX)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

large=${JSON_LARGE:-134217728} # 1 GiB of float64
echo "writing files under $work"
"$floor" write "$work/a.h5" "$large" 0
"$floor" write "$work/same.h5" "$large" 0
"$floor" write "$work/diff.h5" "$large" 1000

# One timed run of CMD...: elapsed time (s), CPU time (user + system, s),
# peak resident size (KiB).
timed() {
    local t u s m
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" > /dev/null 2>&1 || true
    read -r t u s m < <(tail -n 1 "$work/time.txt")
    echo "$t $(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') $m"
}

# compare A B: the commands of each variant on files A and B, one warm-up
# run each, then REPS rounds in which every variant runs once. Prints one line
# per variant: name, fastest elapsed, smallest CPU, largest peak RSS.
compare() {
    local a=$1 b=$2
    local -a names=(off json statistics) cmds=(
        "$pmirlo $a $b /d /d"
        "$pmirlo --json=$work/report.json $a $b /d /d"
        "$pmirlo --statistics $a $b /d /d")
    if [ -n "$base" ]; then
        names+=(before)
        cmds+=("$base $a $b /d /d")
    fi
    local i
    for i in "${!cmds[@]}"; do ${cmds[$i]} > /dev/null 2>&1 || true; done
    for _ in $(seq "$reps"); do
        for i in "${!cmds[@]}"; do
            # shellcheck disable=SC2086
            echo "${names[$i]} $(timed ${cmds[$i]})"
        done
    done | awk '{ k = $1; if (!(k in t) || $2 < t[k]) t[k] = $2; if (!(k in c) || $3 < c[k]) c[k] = $3;
                  if ($4 > m[k]) m[k] = $4 }
                END { for (k in t) print k, t[k], c[k], m[k] }'
}

report() {
    local title=$1 a=$2 b=$3
    echo "== $title"
    compare "$a" "$b" > "$work/rows"
    printf "%-11s %9s %9s %8s %8s %9s\n" variant "elapsed s" "CPU s" "x off" "CPU x" "RSS MiB"
    awk 'NR == FNR { if ($1 == "off") { t0 = $2; c0 = $3 } next }
         { printf "%-11s %9.3f %9.3f %8.3f %8.3f %9.1f\n", $1, $2, $3, $2 / t0, $3 / c0, $4 / 1024 }' \
        "$work/rows" "$work/rows" | sort
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
mib=$((large * 8 / 1048576))
report "$mib MiB float64, 0.1% differing" "$work/a.h5" "$work/diff.h5"
report "$mib MiB float64, identical" "$work/a.h5" "$work/same.h5"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# instructions CMD...: the instructions the command executes.
instructions() {
    { valgrind --tool=cachegrind --cache-sim=no --cachegrind-out-file=/dev/null "$@" 2>&1 >/dev/null || true; } |
        awk '/I *refs:/ { gsub(",", "", $NF); print $NF }'
}

# counts A B TITLE: instructions of every variant on files A and B.
counts() {
    local a=$1 b=$2 off n v
    echo "== instructions executed, $3"
    off=$(instructions "$pmirlo" "$a" "$b" /d /d)
    printf "%-11s %15s %8s\n" variant instructions "x off"
    printf "%-11s %15d %8.4f\n" off "$off" 1
    for v in json statistics before; do
        case $v in
        json) n=$(instructions "$pmirlo" --json="$work/report.json" "$a" "$b" /d /d) ;;
        statistics) n=$(instructions "$pmirlo" --statistics "$a" "$b" /d /d) ;;
        before) [ -n "$base" ] || continue; n=$(instructions "$base" "$a" "$b" /d /d) ;;
        esac
        printf "%-11s %15d %8.4f\n" "$v" "$n" "$(awk -v n="$n" -v o="$off" 'BEGIN { print n / o }')"
    done
}

if [ "${INSTR:-1}" != 0 ] && command -v valgrind > /dev/null; then
    counts "$work/a.h5" "$work/diff.h5" "$mib MiB float64, 0.1% differing"
    counts "$work/a.h5" "$work/same.h5" "$mib MiB float64, identical"
fi
