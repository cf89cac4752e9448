// Summaries of the iterations of a measurement.
#include "tessel_results.hpp"

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
