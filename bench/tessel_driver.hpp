// The benchmark driver: process-count and buffer-size loops, the iterations
// of each interface, the combination of times over the processes and the
// results report.
#pragma once
#include "pio_engine.hpp"
#include "tessel_options.hpp"

#include <vector>

// Times of one timer kind in one iteration, combined over bench_comm.
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

// Formatted output on bench_output from rank 0 of bench_comm, after indent
// blanks.
void bench_log(int indent, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Runs the iterations of one interface and reports them. Returns 0, or -1
// when any iteration failed.
int run_test(int io_type, const bench_options *options, bench_parameters parameters);

// Runs every process count from the largest down, each over every buffer
// size and interface. Returns 0, or -1 when any measurement run failed on
// this process.
int run_benchmarks(const bench_options *options);
