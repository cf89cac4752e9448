// The results of a tessel run, kept apart from how they are printed: one
// measurement per interface, process count and transfer buffer size, with
// the times of every iteration combined over the processes.
#pragma once
#include "pio_backend.hpp"
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

// Whether a timer kind measures the read phase.
constexpr bool tessel_kind_reads(int kind)
{
    return kind == T_MPI_READ || kind == T_READ || kind == T_READ_OPEN_CLOSE || kind == T_RAW_READ ||
           kind == T_READ_FILE_OPEN || kind == T_READ_FILE_CLOSE;
}

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
    int read_shift;           // in effect at this process count
    // Gathered on rank 0 of the group after each iteration (outside every
    // timed region):
    std::vector<double> rank_totals;  // [iteration][rank][kind]: every process's timer totals
    std::vector<long long> moved[2];  // [iteration]: bytes all processes wrote, read
    long long file1_written;          // bytes all processes wrote into the first file (first iteration)
    long long stored_bytes;           // HDF5: what the first file's datasets take on disk, or -1
    pio_hdf5_io hdf5[2];              // HDF5: writes and reads, over all processes and iterations
};

// MiB moved by all processes in iteration i in the direction of kind: what
// was measured when known (a deadline may cut a phase short), else what
// the run planned.
double tessel_iteration_mb(const tessel_measurement &m, int kind, size_t i);

// Throughputs of one kind over the iterations, in MiB/s: the slowest
// iteration's, the average (all data over all time) and the fastest's.
struct rate_summary {
    double min;
    double avg;
    double max;
};
rate_summary tessel_summarize_rates(const tessel_measurement &m, int kind);

// The spread of the iterations' throughputs: the sample standard deviation
// and the coefficient of variation (deviation / mean). valid is false with
// fewer than two iterations or an iteration too short to measure.
struct rate_spread {
    double stddev;
    double cv;
    bool valid;
};
rate_spread tessel_rate_spread(const tessel_measurement &m, int kind);

// The time of one process in iteration i (rank 0's record only).
double tessel_rank_time(const tessel_measurement &m, size_t i, int rank, int kind);

// The process that took longest in iteration i, and its time over the
// median of all processes' (0 when the median is 0).
struct straggler {
    int rank;
    double to_median;
};
straggler tessel_straggler(const tessel_measurement &m, size_t i, int kind);

// The measured phases, as the machine-readable reports name them.
struct tessel_phase {
    const char *name;  // "write", "write open-close", "read", "read open-close"
    int kind;          // timer kind
    bool reads;
    int open_kind;     // the open and close apart, for the phases that have them; else -1
    int close_kind;
};
constexpr tessel_phase TESSEL_PHASES[] = {
    {"write", T_WRITE, false, -1, -1},
    {"write open-close", T_WRITE_OPEN_CLOSE, false, T_WRITE_FILE_OPEN, T_WRITE_FILE_CLOSE},
    {"read", T_READ, true, -1, -1},
    {"read open-close", T_READ_OPEN_CLOSE, true, T_READ_FILE_OPEN, T_READ_FILE_CLOSE},
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
