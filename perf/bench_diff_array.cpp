// diff_array on 10,000,000 doubles, beside its floors: memcmp of the same
// bytes (identical buffers) and a plain loop evaluating the same predicate
// (1% of the elements differing, under the exact, -d, -p and
// --use-system-epsilon rules, without report mode). The same cases with
// statistics gathered (--json or --statistics) give what they cost.
#include "mirlo_array.hpp"
#include "mirlo_output.hpp"
#include "mirlo_stats.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr size_t N = 10'000'000;
constexpr double DELTA = 0.5;
constexpr double RELATIVE = 0.1;

struct buffers {
    std::vector<double> a, same, one_percent;
    buffers() : a(N), same(N), one_percent(N)
    {
        for (size_t i = 0; i < N; ++i)
            a[i] = 1.0 + static_cast<double>(i % 1000) * 0.25;
        same = a;
        one_percent = a;
        for (size_t i = 0; i < N; i += 100)
            one_percent[i] = a[i] * 2.0; // beyond DELTA, and relatively beyond RELATIVE
    }
};

const buffers &data()
{
    static const buffers b;
    return b;
}

mirlo_settings settings_for(int rule)
{
    mirlo_settings s;
    if (rule == 1) {
        s.delta_mode = true;
        s.delta = DELTA;
    } else if (rule == 2) {
        s.relative_mode = true;
        s.relative = RELATIVE;
    } else if (rule == 3) {
        s.system_epsilon_mode = true;
    }
    return s;
}

// The context of a buffer of N doubles under the settings.
pair_context context_for(const mirlo_settings &settings, output_sink *out, pair_outcome *outcome)
{
    pair_context c;
    c.settings = &settings;
    c.rule = pair_rule_of(settings, "/", false);
    c.out = out;
    c.outcome = outcome;
    c.mem_type_id = H5T_NATIVE_DOUBLE;
    c.mem_type_size = sizeof(double);
    c.block_element_count = N;
    c.element_count = N;
    c.rank = 1;
    c.dims[0] = N;
    c.accumulators[0] = 1;
    return c;
}

void run_diff_array(benchmark::State &state, const std::vector<double> &other, int rule, uint64_t expected,
                    bool gather = false)
{
    const buffers &b = data();
    const mirlo_settings settings = settings_for(rule);
    output_sink out(stdout);
    for (auto _ : state) {
        pair_outcome outcome;
        pair_context o = context_for(settings, &out, &outcome);
        diff_stats stats;
        if (gather)
            o.stats = &stats;
        const nfound_t n = diff_array(const_cast<double *>(b.a.data()), const_cast<double *>(other.data()), &o,
                                      -1, -1);
        if (n != expected || (gather && stats.elements != N))
            state.SkipWithError("wrong count");
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * N * sizeof(double));
}

// The predicates of the four rules, with NaN detection, written plainly. The
// epsilon floor is the bare |a-b| test, without the equality test that keeps
// equal infinities equal.
template <int Rule> uint64_t plain_loop(const double *a, const double *b, size_t n)
{
    uint64_t found = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = a[i], y = b[i];
        if (std::isnan(x) || std::isnan(y)) {
            found += std::isnan(x) != std::isnan(y);
            continue;
        }
        if constexpr (Rule == 0) {
            found += std::memcmp(&x, &y, sizeof x) != 0;
        } else if constexpr (Rule == 1) {
            found += std::fabs(x - y) > DELTA;
        } else if constexpr (Rule == 3) {
            found += !(std::fabs(x - y) < 0x1p-52);
        } else {
            if (std::fabs(x) < 0x1p-52)
                found += std::fabs(y) >= 0x1p-52;
            else
                found += std::fabs((y - x) / x) > RELATIVE;
        }
    }
    return found;
}

template <int Rule> void BM_plain_loop(benchmark::State &state)
{
    const buffers &b = data();
    for (auto _ : state) {
        const uint64_t n = plain_loop<Rule>(b.a.data(), b.one_percent.data(), N);
        if (n != N / 100)
            state.SkipWithError("wrong count");
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * N * sizeof(double));
}

void BM_memcmp_identical(benchmark::State &state)
{
    const buffers &b = data();
    for (auto _ : state) {
        const int r = std::memcmp(b.a.data(), b.same.data(), N * sizeof(double));
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * N * sizeof(double));
}

void BM_diff_array_identical(benchmark::State &state)
{
    run_diff_array(state, data().same, 0, 0);
}
void BM_diff_array_exact(benchmark::State &state)
{
    run_diff_array(state, data().one_percent, 0, N / 100);
}
void BM_diff_array_delta(benchmark::State &state)
{
    run_diff_array(state, data().one_percent, 1, N / 100);
}
void BM_diff_array_relative(benchmark::State &state)
{
    run_diff_array(state, data().one_percent, 2, N / 100);
}
void BM_diff_array_epsilon(benchmark::State &state)
{
    run_diff_array(state, data().one_percent, 3, N / 100);
}
void BM_diff_array_identical_stats(benchmark::State &state)
{
    run_diff_array(state, data().same, 0, 0, true);
}
void BM_diff_array_exact_stats(benchmark::State &state)
{
    run_diff_array(state, data().one_percent, 0, N / 100, true);
}
void BM_diff_array_delta_stats(benchmark::State &state)
{
    run_diff_array(state, data().one_percent, 1, N / 100, true);
}
void BM_diff_array_relative_stats(benchmark::State &state)
{
    run_diff_array(state, data().one_percent, 2, N / 100, true);
}

} // namespace

BENCHMARK(BM_memcmp_identical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_diff_array_identical)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_loop<0>)->Name("BM_plain_loop_exact")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_diff_array_exact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_loop<1>)->Name("BM_plain_loop_delta")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_diff_array_delta)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_loop<2>)->Name("BM_plain_loop_relative")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_diff_array_relative)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_plain_loop<3>)->Name("BM_plain_loop_epsilon")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_diff_array_epsilon)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_diff_array_identical_stats)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_diff_array_exact_stats)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_diff_array_delta_stats)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_diff_array_relative_stats)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
