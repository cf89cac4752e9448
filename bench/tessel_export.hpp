// The machine-readable reports: every measurement and the run's details as
// JSON (--json=FILE) and as CSV (--csv=FILE).
#pragma once
#include "tessel_context.hpp"
#include "tessel_options.hpp"
#include "tessel_results.hpp"

#include <cstdio>
#include <string>
#include <vector>

constexpr int TESSEL_JSON_FORMAT = 1;

// Date, host names, library versions, hints and prefix of the run.
// Collective over MPI_COMM_WORLD (ctx must be the world context); with
// probe_hints, a scratch file is opened through MPI-IO in the prefix to read
// back the hints in effect.
tessel_run_info gather_run_info(const tessel_context &ctx, bool probe_hints);

// The JSON report, written as it is produced (the per-process times make it
// large), ending with a newline. Strings that are not valid UTF-8 (a prefix,
// a host name or a hint in another encoding) have U+FFFD for their invalid
// bytes.
std::string tessel_json(const tessel_run_info &info, const bench_options &o,
                        const std::vector<tessel_measurement> &results);

std::string tessel_csv(const tessel_run_info &info, const bench_options &o,
                       const std::vector<tessel_measurement> &results);
