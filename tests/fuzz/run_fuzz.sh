#!/usr/bin/env bash
# Builds the fuzz harnesses with clang-14 (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each one for FUZZ_SECONDS (60 by
# default), starting from the seeds in tests/fuzz/seeds/<harness>/.
#
#   bash tests/fuzz/run_fuzz.sh [BUILD_DIR] [HARNESS...]
#
# New inputs found are kept in BUILD_DIR/corpus/<harness>/, crashes in
# BUILD_DIR/findings/<harness>/. Exits non-zero when any harness failed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build-fuzz}
shift || true
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_BUILD_JOBS:-2}

if ! command -v clang++-14 >/dev/null; then
    echo "run_fuzz: clang++-14 is needed (apt-get install clang-14)" >&2
    exit 2
fi
if ! ls /usr/lib/llvm-14/lib/clang/14*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    echo "run_fuzz: installing libclang-rt-14-dev (libFuzzer)"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
    $sudo_cmd apt-get install -y libclang-rt-14-dev || exit 2
fi

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null || exit 2

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
    for src in "$here"/fuzz_*.cpp; do
        harnesses+=("$(basename "$src" .cpp)")
    done
fi
cmake --build "$build" -j "$jobs" --target "${harnesses[@]}" || exit 2

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=()
for h in "${harnesses[@]}"; do
    corpus=$build/corpus/$h findings=$build/findings/$h
    mkdir -p "$corpus" "$findings"
    seeds=()
    [ -d "$here/seeds/$h" ] && seeds=("$here/seeds/$h")
    dict=()
    [ -f "$here/$h.dict" ] && dict=(-dict="$here/$h.dict")
    echo "== $h: ${seconds}s"
    if "$build/$h" "$corpus" "${seeds[@]}" "${dict[@]}" -max_total_time="$seconds" -max_len=512 \
           -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
           >"$build/$h.log" 2>&1; then
        grep -aE "^stat::number_of_executed_units|^Done" "$build/$h.log" | tr '\n' ' '
        echo
    else
        echo "FAILED: $h (log: $build/$h.log, inputs: $findings/)"
        grep -aE "ERROR|runtime error|SUMMARY|deadly signal" "$build/$h.log" | head -5
        failed+=("$h")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found problems in: ${failed[*]}"
    exit 1
fi
echo "all ${#harnesses[@]} harnesses ran ${seconds}s without a finding"
