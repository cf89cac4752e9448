// The results of a tessel run, kept apart from how they are printed: one
// measurement per interface, process count and transfer buffer size, with
// the times of every iteration combined over the processes.
#pragma once
#include "pio_layout.hpp"
#include "pio_timer.hpp"
#include "tessel_context.hpp"

#include <string>
#include <vector>

// Times of one timer kind in one iteration, combined over the group.
struct iteration_stats {
    double min;
    double max;
    double sum;
    int nprocs;
};

// Summary of the iterations of one kind: times of the slowest process.
struct kind_summary {
    double tmin;
    double tavg;
    double tmax;
};

kind_summary summarize_iterations(const std::vector<iteration_stats> &stats, int num_iterations);

// MB/s for size_mb moved in seconds; 0 for a time too small to divide by.
double throughput(double size_mb, double seconds);

struct tessel_measurement {
    pio_interface io;
    int procs;
    long long transfer_size;  // N, the transfer buffer size of -x to -X
    long long transfer_bytes; // bytes of one transfer: N in 1D, B x N in 2D
    long long block_size;
    long long dset_size;
    long num_files;
    long num_dsets;
    int iterations;
    bool write_only;
    double size_mb;           // bytes of all processes in one direction / 1048576
    std::vector<std::vector<iteration_stats>> stats; // indexed by timer kind
    int failed_iterations;    // 0 for a good measurement
    std::string reason;       // why the first failed iteration failed
};

// The measured phases, as the machine-readable reports name them.
struct tessel_phase {
    const char *name;  // "write", "write open-close", "read", "read open-close"
    int kind;          // timer kind
    bool reads;
};
constexpr tessel_phase TESSEL_PHASES[] = {
    {"write", T_WRITE, false},
    {"write open-close", T_WRITE_OPEN_CLOSE, false},
    {"read", T_READ, true},
    {"read open-close", T_READ_OPEN_CLOSE, true},
};

// Everything the machine-readable reports say about the run besides the
// measurements; gathered once, on every process (rank 0 writes the files).
struct tessel_run_info {
    std::string date;         // UTC, ISO 8601
    std::vector<std::string> hosts;
    int processes = 0;        // of MPI_COMM_WORLD
    std::string hdf5_version; // of the library linked
    std::string mpi_version;  // first line of MPI_Get_library_version
    std::string prefix;       // HDF5_PARAPREFIX, "" when not set
    bool has_prefix = false;
    mpi_hint_list hints_requested;
    mpi_hint_list hints_in_effect;
    int exit_status = 0;
};
