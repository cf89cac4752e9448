// The benchmark driver: process-count and buffer-size loops, the iterations
// of each interface, and the combination of times over the processes.
#pragma once
#include "pio_layout.hpp"
#include "pio_run.hpp"
#include "tessel_context.hpp"
#include "tessel_options.hpp"
#include "tessel_results.hpp"

#include <string>
#include <vector>

// Runs the iterations of one interface, reports them as text and returns
// the measurement. Settings already refused (refused holds the message) are
// reported as a failed measurement without running.
tessel_measurement run_test(const tessel_context &ctx, const bench_options &o, const bench_parameters &p,
                            const std::string &refused = "");

// Gathers on rank 0 of the group, after an iteration and outside every
// timed region, what the reports show beside the reduced times: every
// process's timer totals, the bytes moved, and what parallel HDF5 did with
// the transfers (first: the first iteration, which also gives the storage).
// Collective over ctx.comm.
void tessel_gather_iteration(const tessel_context &ctx, const pio_run_result &run, bool first,
                             tessel_measurement *m);

// Runs every process count from the largest down, each over every buffer
// size and interface, appending each measurement to *results (on the
// processes that took part). Returns 0, or -1 when any measurement run
// failed on this process.
int run_benchmarks(const tessel_context &ctx, const bench_options &o, std::vector<tessel_measurement> *results);
