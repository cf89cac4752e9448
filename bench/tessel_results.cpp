// Summaries of the iterations of a measurement.
#include "tessel_results.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>

kind_summary summarize_iterations(const std::vector<iteration_stats> &stats, int num_iterations)
{
    kind_summary k{DBL_MAX, 0.0, -DBL_MAX};
    double sum = 0.0;
    for (const iteration_stats &s : stats) {
        if (s.max < k.tmin)
            k.tmin = s.max;
        if (s.max > k.tmax)
            k.tmax = s.max;
        sum += s.max;
    }
    k.tavg = num_iterations > 0 ? sum / num_iterations : 0.0;
    return k;
}

double throughput(double size_mb, double seconds)
{
    if (std::fabs(seconds) < DBL_EPSILON)
        return 0.0;
    return size_mb / seconds;
}

double tessel_iteration_mb(const tessel_measurement &m, int kind, size_t i)
{
    const std::vector<long long> &moved = m.moved[tessel_kind_reads(kind) ? 1 : 0];
    if (i >= moved.size())
        return m.size_mb;
    return static_cast<double>(moved[i]) / 1048576.0;
}

rate_summary tessel_summarize_rates(const tessel_measurement &m, int kind)
{
    const std::vector<iteration_stats> &stats = m.stats[static_cast<size_t>(kind)];
    bool planned = true;
    for (size_t i = 0; i < stats.size(); ++i)
        planned = planned && tessel_iteration_mb(m, kind, i) == m.size_mb;
    if (planned) {
        // Every iteration moved what was planned: the throughputs of the
        // slowest, average and fastest iteration time.
        const kind_summary k = summarize_iterations(stats, m.iterations);
        return {throughput(m.size_mb, k.tmax), throughput(m.size_mb, k.tavg), throughput(m.size_mb, k.tmin)};
    }
    // A deadline cut some phases short: each iteration's own data.
    rate_summary r{DBL_MAX, 0.0, 0.0};
    double mb = 0.0, seconds = 0.0;
    for (size_t i = 0; i < stats.size(); ++i) {
        const double rate = throughput(tessel_iteration_mb(m, kind, i), stats[i].max);
        r.min = std::min(r.min, rate);
        r.max = std::max(r.max, rate);
        mb += tessel_iteration_mb(m, kind, i);
        seconds += stats[i].max;
    }
    r.avg = throughput(mb, seconds);
    if (stats.empty())
        r.min = 0.0;
    return r;
}

rate_spread tessel_rate_spread(const tessel_measurement &m, int kind)
{
    const std::vector<iteration_stats> &stats = m.stats[static_cast<size_t>(kind)];
    const size_t n = stats.size();
    if (n < 2)
        return {0.0, 0.0, false};
    std::vector<double> rates;
    for (size_t i = 0; i < n; ++i) {
        rates.push_back(throughput(tessel_iteration_mb(m, kind, i), stats[i].max));
        if (rates.back() <= 0.0)
            return {0.0, 0.0, false};
    }
    double mean = 0.0;
    for (double r : rates)
        mean += r;
    mean /= static_cast<double>(n);
    double squares = 0.0;
    for (double r : rates)
        squares += (r - mean) * (r - mean);
    const double stddev = std::sqrt(squares / static_cast<double>(n - 1));
    return {stddev, stddev / mean, true};
}

double tessel_rank_time(const tessel_measurement &m, size_t i, int rank, int kind)
{
    const size_t at = (i * static_cast<size_t>(m.procs) + static_cast<size_t>(rank)) * PIO_NUM_TIMERS +
                      static_cast<size_t>(kind);
    return at < m.rank_totals.size() ? m.rank_totals[at] : 0.0;
}

straggler tessel_straggler(const tessel_measurement &m, size_t i, int kind)
{
    std::vector<double> times;
    straggler s{0, 0.0};
    for (int r = 0; r < m.procs; ++r) {
        times.push_back(tessel_rank_time(m, i, r, kind));
        if (times.back() > times[static_cast<size_t>(s.rank)])
            s.rank = r;
    }
    const double slowest = times.empty() ? 0.0 : times[static_cast<size_t>(s.rank)];
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n == 0 ? 0.0 : n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2.0;
    s.to_median = median > 0.0 ? slowest / median : 0.0;
    return s;
}
