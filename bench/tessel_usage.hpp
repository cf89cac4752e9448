// What tessel prints before measuring: the usage text and the parameters
// report.
#pragma once
#include "tessel_context.hpp"
#include "tessel_options.hpp"

#include <cstdio>

// Prints value on out in the largest unit that divides it exactly.
void print_size(FILE *out, long long value, const char *separator);

// The version line of the HDF5 library linked into the program, as
// "HDF5 Library: Version 1.10.8".
void print_hdf5_version(FILE *out);

// The parameters report, on ctx.out, every line beginning with the world
// rank.
void print_bench_parameters(const tessel_context &ctx, const bench_options *options);

// The usage text on out (standard output, checked by the caller).
void print_bench_usage(FILE *out);
