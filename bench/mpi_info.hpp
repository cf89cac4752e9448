// MPI-IO hints read from the environment variable HDF5_MPI_INFO into the
// info object handed to every MPI-IO open, delete and file view.
#pragma once
#include "tessel_context.hpp"

#include <mpi.h>

#include <cstdio>

// Splits "key=value;key=value" into its pairs. Blanks around items, keys and
// values are dropped, empty items and items without "=" are skipped, and the
// first "=" separates the key from the value.
mpi_hint_list parse_mpi_hints(const char *text);

// Reads HDF5_MPI_INFO into *info, creating the object when the variable is
// set and *info is still MPI_INFO_NULL. A failed MPI_Info_set prints
// "MPI_Info_set failed" when report is true. Returns 0, or -1 when an
// MPI_Info_set failed.
int read_mpi_info(MPI_Info *info, bool report);

// The keys and values of info, in its order; empty for MPI_INFO_NULL.
mpi_hint_list mpi_info_pairs(MPI_Info info);

// Prints the keys and values of info on out.
void dump_mpi_info(FILE *out, MPI_Info info);
