// MPI-IO hints read from the environment variable HDF5_MPI_INFO into the
// info object handed to every MPI-IO open, delete and file view.
#pragma once
#include <mpi.h>

#include <string>
#include <utility>
#include <vector>

// Hints of this process; MPI_INFO_NULL until HDF5_MPI_INFO is read.
extern MPI_Info bench_info;

using mpi_hint_list = std::vector<std::pair<std::string, std::string>>;

// Splits "key=value;key=value" into its pairs. Blanks around items, keys and
// values are dropped, empty items and items without "=" are skipped, and the
// first "=" separates the key from the value.
mpi_hint_list parse_mpi_hints(const char *text);

// Reads HDF5_MPI_INFO into bench_info (created only when the variable is set).
// Returns 0, or -1 when an MPI_Info_set failed.
int read_mpi_info();

// Prints the keys and values of info on standard output.
void dump_mpi_info(MPI_Info info);
