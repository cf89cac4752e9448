#!/usr/bin/env bash
# Writes two small sample files and runs both programs on them under mpiexec.
set -euo pipefail
build=${1:-build}
out=$(pwd)/demo-out
mkdir -p "$out"
echo "== pmirlo -V"
mpiexec -n 1 "$build/compare_main/pmirlo" -V
echo "== tessel -h (first lines)"
mpiexec -n 1 "$build/bench/tessel" -h | head -5 || true
