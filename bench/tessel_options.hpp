// The tessel command line: the options record, its defaults and derived
// values, the parameters report and the usage text; and the process-wide
// globals of the benchmark.
#pragma once
#include <mpi.h>

#include <cstdint>
#include <cstdio>
#include <string>

enum bench_api_bits : uint64_t { API_POSIX = 1, API_MPIIO = 2, API_PHDF5 = 4, API_ALL = 7 };

struct bench_options {
    uint64_t api;
    const char *output;
    long num_dsets;
    long num_files;
    long long num_bytes;
    int num_iterations;
    int max_num_processes;
    int min_num_processes;
    long long max_xfer_size;
    long long min_xfer_size;
    long long block_size;
    int interleaved;
    int collective;
    int dim2d;
    int print_times;
    int print_raw;
    long long align;
    long long threshold;
    int chunk;
    int write_only;
    int verify;
};

// Globals of the benchmark, one copy per process.
extern FILE *bench_output;      // where every report line goes
extern int bench_debug_level;   // 0 to 4
extern MPI_Comm bench_comm;     // the processes of the current process count
extern int bench_world_size;    // of MPI_COMM_WORLD
extern int bench_world_rank;
extern int bench_nprocs;        // size of bench_comm
extern int bench_rank;          // rank in bench_comm

// The record with every default; world_size is the largest process count.
bench_options bench_default_options(int world_size);

// Reads a size such as 37M, 4 K or 100. Returns 0, or -1 with the offending
// character in *bad.
int parse_size_text(const char *text, long long *size, char *bad);
// The same, but an illegal size ends the process with status 1.
long long parse_size(const char *text);

// Adds the interfaces of a comma-separated list to *api. Returns 0, or -1
// with the refused item (its kept characters) in *bad.
int parse_api_list(const char *text, uint64_t *api, std::string *bad);

// Applies a comma-separated debug list to the options and *level. Returns 0,
// or -1 with the refused item in *bad.
int parse_debug_list(const char *text, bench_options *options, int *level, std::string *bad);

// Fills in the sizes left at 0 and brings the others into range.
void derive_bench_options(bench_options *options);

// Reads the whole command line into options (already holding the defaults)
// and bench_debug_level. Returns 0 to go on, 1 when the usage text must be
// printed and the program end with status 1. Illegal sizes and list items
// end the process at once.
int parse_bench_command_line(int argc, const char *const *argv, bench_options *options);

// Prints value on bench_output in the largest unit that divides it exactly.
void print_size(long long value, const char *separator);

void print_bench_parameters(const bench_options *options);
void print_bench_usage();
