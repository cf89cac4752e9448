// The text report of the measurements: throughput summaries, and on request
// times and per-iteration details, printed by rank 0 of the group.
#pragma once
#include "tessel_context.hpp"
#include "tessel_options.hpp"
#include "tessel_results.hpp"

#include <string>
#include <vector>

// Formatted output on ctx.out from rank 0 of ctx.comm, after indent blanks.
void tessel_log(const tessel_context &ctx, int indent, const char *fmt, ...) __attribute__((format(printf, 3, 4)));

// The report of one interface's measurement, after its "IO API =" line.
// A measurement whose runs failed prints one line per phase with the reason,
// never a throughput.
void report_measurement(const tessel_context &ctx, const bench_options &o, const tessel_measurement &m);

// With collective I/O asked for (-C): the warning that parallel HDF5 did not
// do it, for the first measurement where it did not, with its reasons; ""
// when it did everywhere (or was not asked to).
std::string tessel_collective_warning(const bench_options &o, const std::vector<tessel_measurement> &results);
