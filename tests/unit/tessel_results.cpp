// Summaries of a measurement's iterations: throughputs of the planned data or
// of what a deadline let through, their spread, and the slowest process.
// Expected values are worked out by hand from the times and bytes given.
#include "tessel_test_support.hpp"

#include "tessel_results.hpp"

#include <vector>

namespace {

constexpr long long MIB = 1048576;

// A measurement of 2 MiB per direction whose write phase took the given
// times (the slowest process's), and whose processes moved the given bytes.
tessel_measurement measured(const std::vector<double> &seconds, const std::vector<long long> &written = {},
                            const std::vector<long long> &read = {})
{
    tessel_measurement m{};
    m.iterations = static_cast<int>(seconds.size());
    m.size_mb = 2.0;
    m.stats.resize(PIO_NUM_TIMERS);
    for (double s : seconds) {
        m.stats[T_WRITE].push_back({s / 2, s, s * 1.5, 2});
        m.stats[T_READ].push_back({s / 2, s, s * 1.5, 2});
    }
    m.moved[0] = written;
    m.moved[1] = read;
    return m;
}

TEST(TesselRates, PlannedDataGivesTheSlowestAverageAndFastestIteration)
{
    const tessel_measurement m = measured({1.0, 4.0, 2.0}, {2 * MIB, 2 * MIB, 2 * MIB});
    const rate_summary r = tessel_summarize_rates(m, T_WRITE);
    EXPECT_DOUBLE_EQ(r.min, 0.5);           // 2 MiB in the slowest 4 s
    EXPECT_DOUBLE_EQ(r.avg, 2.0 / (7.0 / 3)); // 2 MiB in the average time
    EXPECT_DOUBLE_EQ(r.max, 2.0);           // 2 MiB in the fastest 1 s
}

TEST(TesselRates, EachIterationCountsWhatItMovedWhenADeadlineCutItShort)
{
    struct rate_case {
        const char *what;
        std::vector<long long> written, read;
        int kind;
        double min, avg, max;
    } cases[] = {
        // 1, 2 and 4 MiB in 1, 1 and 2 s: 1, 2 and 2 MiB/s; 7 MiB in 4 s.
        {"writes", {1 * MIB, 2 * MIB, 4 * MIB}, {}, T_WRITE, 1.0, 1.75, 2.0},
        // Reads count the bytes read, not those written.
        {"reads", {2 * MIB, 2 * MIB, 2 * MIB}, {1 * MIB, 1 * MIB, 1 * MIB}, T_READ, 0.5, 0.75, 1.0},
        // Without measured bytes, the planned 2 MiB.
        {"planned", {}, {}, T_READ, 1.0, 1.5, 2.0},
    };
    for (const rate_case &c : cases) {
        const tessel_measurement m = measured({1.0, 1.0, 2.0}, c.written, c.read);
        const rate_summary r = tessel_summarize_rates(m, c.kind);
        EXPECT_DOUBLE_EQ(r.min, c.min) << c.what;
        EXPECT_DOUBLE_EQ(r.avg, c.avg) << c.what;
        EXPECT_DOUBLE_EQ(r.max, c.max) << c.what;
    }
    EXPECT_DOUBLE_EQ(tessel_iteration_mb(measured({1.0}, {3 * MIB}, {MIB}), T_WRITE_OPEN_CLOSE, 0), 3.0);
    EXPECT_DOUBLE_EQ(tessel_iteration_mb(measured({1.0}, {3 * MIB}, {MIB}), T_READ_FILE_OPEN, 0), 1.0);
}

TEST(TesselRates, TheSpreadIsTheSampleDeviationAndItsShareOfTheMean)
{
    // Rates 1, 2 and 2 MiB/s: mean 5/3, sample variance 1/3.
    const rate_spread s = tessel_rate_spread(measured({1.0, 1.0, 2.0}, {MIB, 2 * MIB, 4 * MIB}), T_WRITE);
    ASSERT_TRUE(s.valid);
    EXPECT_NEAR(s.stddev, 0.5773502691896258, 1e-12);
    EXPECT_NEAR(s.cv, 0.5773502691896258 / (5.0 / 3), 1e-12);
    // Equal iterations spread nothing.
    EXPECT_DOUBLE_EQ(tessel_rate_spread(measured({2.0, 2.0}), T_WRITE).stddev, 0.0);
    // One iteration, or one too short to measure, has no spread.
    EXPECT_FALSE(tessel_rate_spread(measured({2.0}), T_WRITE).valid);
    EXPECT_FALSE(tessel_rate_spread(measured({2.0, 0.0}), T_WRITE).valid);
}

TEST(TesselStragglers, TheSlowestProcessAgainstTheMedian)
{
    struct straggler_case {
        std::vector<double> times; // per rank, one iteration
        int rank;
        double to_median;
    } cases[] = {
        {{1.0, 3.0, 2.0}, 1, 1.5},      // odd count: the middle time
        {{1.0, 2.0, 3.0, 6.0}, 3, 2.4}, // even count: the mean of the middle two
        {{2.0, 2.0}, 0, 1.0},           // a tie goes to the first
        {{0.0, 0.0}, 0, 0.0},           // nothing measured
    };
    for (const straggler_case &c : cases) {
        tessel_measurement m = measured({1.0, 1.0});
        m.procs = static_cast<int>(c.times.size());
        // Iteration 0 holds other times, so the test reads iteration 1.
        m.rank_totals.assign(2 * c.times.size() * PIO_NUM_TIMERS, 9.0);
        for (size_t r = 0; r < c.times.size(); ++r)
            m.rank_totals[(c.times.size() + r) * PIO_NUM_TIMERS + T_WRITE] = c.times[r];
        const straggler s = tessel_straggler(m, 1, T_WRITE);
        EXPECT_EQ(s.rank, c.rank) << c.times.size();
        EXPECT_DOUBLE_EQ(s.to_median, c.to_median) << c.times.size();
        EXPECT_DOUBLE_EQ(tessel_rank_time(m, 1, c.rank, T_WRITE), c.times[static_cast<size_t>(c.rank)]);
        EXPECT_DOUBLE_EQ(tessel_rank_time(m, 0, 0, T_WRITE), 9.0);
    }
}

} // namespace
