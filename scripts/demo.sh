#!/usr/bin/env bash
# Writes two small sample files and runs both programs on them under mpiexec.
set -uo pipefail
build=${1:-build}
out=$(pwd)/demo-out
rm -rf "$out"
mkdir -p "$out"
"$build/tests/make_fixtures" "$out" demo || { echo "demo: could not write the sample files"; exit 1; }

run() {
    echo
    echo "\$ $*"
    "$@"
    echo "(exit status $?)"
}

echo "== pmirlo: two runs of a small simulation, compared with 1 and 3 processes"
run mpiexec -n 1 "$build/compare_main/pmirlo" "$out/demo_run1.h5" "$out/demo_run2.h5"
run mpiexec -n 3 "$build/compare_main/pmirlo" -r "$out/demo_run1.h5" "$out/demo_run2.h5"
run mpiexec -n 3 "$build/compare_main/pmirlo" -v -d 0.5 "$out/demo_run1.h5" "$out/demo_run2.h5"
run mpiexec -n 3 "$build/compare_main/pmirlo" --statistics --json="$out/demo_report.json" \
    "$out/demo_run1.h5" "$out/demo_run2.h5"
echo "JSON report: $out/demo_report.json"

echo
echo "== pmirlo: two run folders compared file by file, with 3 processes"
mkdir -p "$out/runs/run1/same" "$out/runs/run2/same"
cp "$out/demo_run1.h5" "$out/runs/run1/a.h5"
cp "$out/demo_run2.h5" "$out/runs/run2/a.h5"
cp "$out/demo_run1.h5" "$out/runs/run1/same/b.h5"
cp "$out/demo_run1.h5" "$out/runs/run2/same/b.h5"
cp "$out/demo_run2.h5" "$out/runs/run2/extra.h5"
echo "run notes" > "$out/runs/run1/notes.txt"
echo "run notes" > "$out/runs/run2/notes.txt"
run mpiexec -n 3 "$build/compare_main/pmirlo" --list-differing=demo-out/differing.txt \
    demo-out/runs/run1 demo-out/runs/run2
echo "pairs with differences (demo-out/differing.txt): $(cat "$out/differing.txt")"

echo
echo "== tessel: a short parallel I/O measurement with 2 processes"
export HDF5_PARAPREFIX="$out"
run mpiexec -n 2 "$build/bench/tessel" -A posix,mpiio,phdf5 \
    -e 1M -x 256K -X 1M -B 64K -i 2 --debug=t

echo
echo "== tessel: a sweep of transfer sizes at 2 and 1 processes, as JSON and CSV, and its chart"
run mpiexec -n 2 "$build/bench/tessel" -A posix,mpiio,phdf5 \
    -e 4M -x 64K -X 4M -i 3 -o "$out/tessel-sweep.txt" \
    --json="$out/tessel-sweep.json" --csv="$out/tessel-sweep.csv"
run "$build/bench/tessel-plot" "$out/tessel-sweep.json" -o "$out/tessel-sweep.png"
echo "tessel chart: $out/tessel-sweep.png (report $out/tessel-sweep.txt, data $out/tessel-sweep.json and .csv)"

echo
echo "== tessel: the same sweep again, compared with the first as its baseline"
echo "(status 1 when a series ran more than 25% slower: on a busy machine the same run can)"
run mpiexec -n 2 "$build/bench/tessel" -A posix,mpiio,phdf5 \
    -e 4M -x 64K -X 4M -i 3 -o "$out/tessel-again.txt" --json="$out/tessel-again.json"
run "$build/bench/tessel-compare" "$out/tessel-sweep.json" "$out/tessel-again.json" --tolerance 0.25
run "$build/bench/tessel-plot" --baseline "$out/tessel-sweep.json" "$out/tessel-again.json" \
    -o "$out/tessel-baseline.png" --phases write,read
echo "baseline chart: $out/tessel-baseline.png"
