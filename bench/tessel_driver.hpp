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

// What one process keeps of each iteration for the reports beside the
// reduced times: its timer totals, the bytes it moved, what parallel HDF5
// did with its transfers, and (rank 0, first iteration) the storage of the
// first file. Doubles only, so the records of a measurement travel as one
// message.
struct tessel_iteration_record {
    double totals[PIO_NUM_TIMERS];
    double moved[2];
    double file1_written;
    double stored_bytes;
    double modes[2];
    double causes[2];
};
static_assert(sizeof(tessel_iteration_record) == (PIO_NUM_TIMERS + 8) * sizeof(double));

// Appends the record of one iteration's run on this process.
void tessel_keep_iteration(const pio_run_result &run, std::vector<tessel_iteration_record> *kept);

// Gathers every process's records of a measurement on rank 0 of the group,
// once after its last iteration (outside every timed region), into m: the
// per-process times, the bytes moved, the HDF5 modes and the storage.
// Collective over ctx.comm; every process kept as many records.
void tessel_gather_iterations(const tessel_context &ctx, const std::vector<tessel_iteration_record> &kept,
                              tessel_measurement *m);

// The process counts of a run, from -P down to -p, halving; those larger
// than the world are skipped when the run meets them.
std::vector<int> tessel_process_counts(const bench_options &o);

// The transfer buffer sizes of a run, from -x doubling while not above -X.
std::vector<long long> tessel_transfer_sizes(const bench_options &o);

// The number of measurements a run makes at this world size: one per
// process count that fits, transfer size and interface.
int tessel_measurement_count(const bench_options &o, int world_size);

// Runs every process count from the largest down, each over every buffer
// size and interface, appending each measurement to *results (on the
// processes that took part). Returns 0, or -1 when any measurement run
// failed on this process.
int run_benchmarks(const tessel_context &ctx, const bench_options &o, std::vector<tessel_measurement> *results);
