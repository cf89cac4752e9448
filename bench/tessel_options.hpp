// The tessel command line: the options record, its defaults, the parsers of
// its values and the derived sizes.
#pragma once
#include "pio_layout.hpp"

#include <cstdint>
#include <string>

enum bench_api_bits : uint64_t { API_POSIX = 1, API_MPIIO = 2, API_PHDF5 = 4, API_ALL = 7 };

// "zeros", "random" or "pattern".
const char *bench_data_name(bench_data data);

// Letters of the options that have no short form.
constexpr char OPT_JSON = 'J';
constexpr char OPT_CSV = 'V';
constexpr char OPT_READ_SHIFT = 'R';
constexpr char OPT_CHUNK_SIZE = 'K';
constexpr char OPT_DEFLATE = 'L';
constexpr char OPT_DATA = 'G';
constexpr char OPT_DEADLINE = 'E';
constexpr char OPT_PROGRESS = 'Q';

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
    int debug_level;       // 0 to 4
    const char *json_path; // --json=FILE, or nullptr
    const char *csv_path;  // --csv=FILE, or nullptr
    long long read_shift;  // --read-shift: rank r reads what rank (r + shift) mod P wrote
    long long chunk_size;  // --chunk-size: side of an HDF5 chunk; 0 for the block size
    int deflate;           // --deflate: gzip level of HDF5 datasets, 0 for none
    bench_data data;       // --data
    double deadline;       // --deadline: seconds per write or read phase, 0 for none
    int progress;          // --progress: 1 on, 0 off, -1 not given (on when standard error is a terminal)
    uint64_t given;        // the options on the command line: bit (letter - 'A')
};

// Whether the option of the letter was on the command line.
constexpr bool bench_option_given(const bench_options &o, char letter)
{
    return (o.given >> (letter - 'A') & 1) != 0;
}

// What the command line asks for.
enum class bench_command : int {
    run,     // measure
    help,    // -h: the usage text, status 0
    usage,   // a refused option: the usage text, status 1
    refused, // a refused value: its message, status 1
};

// The record with every default; world_size is the largest process count.
bench_options bench_default_options(int world_size);

// Reads a size such as 37M, 4 K or 100. Returns 0, or -1 with the message
// refusing it in *why (an illegal character, or a size beyond 64 bits).
int parse_size_text(const char *text, long long *size, std::string *why);

// Reads a whole decimal number (an optional sign and digits) within
// [min, max]. Returns 0, or -1 when the text is anything else.
int parse_count_text(const char *text, long long min, long long max, long long *value);

// Adds the interfaces of a comma-separated list to *api. Returns 0, or -1
// with the refused item (its kept characters) in *bad.
int parse_api_list(const char *text, uint64_t *api, std::string *bad);

// Applies a comma-separated debug list to the options (debug level, verify,
// times, raw). Returns 0, or -1 with the refused item in *bad.
int parse_debug_list(const char *text, bench_options *options, std::string *bad);

// a x b, or ULLONG_MAX when it does not fit.
unsigned long long bench_times(unsigned long long a, unsigned long long b);

// Bytes of one dataset at nprocs processes: num_bytes x nprocs in 1D, its
// square in 2D; ULLONG_MAX when that does not fit.
unsigned long long bench_dataset_bytes(const bench_options &o, int nprocs);

// Fills in the sizes left at 0 and limits the transfer sizes and the block
// to num_bytes (1D), as the command line documents.
void derive_bench_options(bench_options *options);

// Reads the whole command line into options (already holding the defaults)
// and derives the missing values. A value that cannot work (a size or count
// below its minimum, -x above -X, -p above -P) is refused, before and after
// derivation. For bench_command::refused, *message holds the text to print.
bench_command parse_bench_command_line(int argc, const char *const *argv, bench_options *options,
                                       std::string *message);
