#!/usr/bin/env bash
# Runs every perf/run_*.sh script against the given build folder.
set -euo pipefail
build=${1:-build-perf}
here=$(cd "$(dirname "$0")" && pwd)
for s in "$here"/run_*.sh; do
    [ -e "$s" ] || continue
    echo "== $(basename "$s")"
    bash "$s" "$build"
done
