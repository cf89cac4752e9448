// The checks of a whole command line before anything is measured: sizes,
// counts and their products, the process counts against the world size, the
// user name and prefix of the test files, and the free space they need.
// Rank 0 runs them before any file is made; each refusal is one message
// that names the option and the limit.
#pragma once
#include "tessel_context.hpp"
#include "tessel_options.hpp"

#include <string>

// The largest process count of -P down to -p (halving) that fits in
// world_size processes, or 0 when none does.
int tessel_largest_count(const bench_options &o, int world_size);

// Sizes and counts against their smallest values, and -x against -X, -p
// against -P: with given_only, only the values given on the command line
// (before anything is derived from them), else all of them. "" when they
// are fine, else the message refusing them.
std::string tessel_check_values(const bench_options &o, bool given_only);

// Values, sizes, counts and products of the derived options. "" when they are fine,
// else the message refusing them.
std::string tessel_check_sizes(const bench_options &o, int world_size);

// The test files' place, from the environment read into ctx: the user name
// under HDF5_PARAPREFIX, the length of the names, the prefix itself (a
// writable folder), and the free space of its file system (statvfs) against
// the bytes the files need at once. "" when fine.
std::string tessel_check_files(const tessel_context &ctx, const bench_options &o, int world_size);

// Bytes of test files on disk at once: one file of the largest process
// count, or every file of every interface when HDF5_NOCLEANUP keeps them.
// Saturates at the largest value instead of overflowing.
unsigned long long tessel_bytes_needed(const bench_options &o, int world_size, bool keep_files);
