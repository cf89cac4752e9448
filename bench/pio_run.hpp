// One measured run: for one interface, one group of processes and one
// transfer buffer size, every process writes its share of every dataset of
// every test file, reads it back (unless write-only), verifies it on request
// and the files are removed, with every phase timed.
#pragma once
#include "pio_backend.hpp"
#include "pio_layout.hpp"
#include "pio_timer.hpp"
#include "tessel_context.hpp"

#include <string>

struct pio_run_result {
    int status = 0;       // 0, or -1 when the run failed (the same on every process of the group)
    std::string reason;   // why it failed, in words (the same on every process of the group)
    pio_timer_set timers{}; // accumulated phase times of this process
    long long moved[2] = {0, 0}; // bytes this process wrote and read
    long long file1_written = 0; // bytes this process wrote into the first file
    long long stored_bytes = -1; // HDF5, rank 0: what the first file's datasets take on disk
    pio_hdf5_io hdf5[2];         // HDF5: what was done with the writes and the reads
};

// The text of the lowest-numbered process of ctx.comm whose text is not
// empty, on every process; "" when every process's is. Collective.
std::string pio_agreed_reason(const tessel_context &ctx, const std::string &mine);

// The parameters must have passed pio_check_parameters (the driver checks
// them once for every interface of a transfer size).
pio_run_result pio_run(const tessel_context &ctx, const bench_parameters &params);
