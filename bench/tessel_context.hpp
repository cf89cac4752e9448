// The state of one tessel process that the run loops pass around: the group
// of the current process count, where the report goes, and the settings read
// from the environment at start-up. tessel keeps no other mutable state.
#pragma once
#include <mpi.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

using mpi_hint_list = std::vector<std::pair<std::string, std::string>>;

struct tessel_context {
    MPI_Comm comm = MPI_COMM_WORLD; // the processes of the current process count
    int rank = 0;                   // in comm
    int nprocs = 1;                 // size of comm
    int world_rank = 0;
    int world_size = 1;
    FILE *out = stdout;             // where every report line goes (-o)
    int debug_level = 0;            // 0 to 4, from -D
    MPI_Info hints = MPI_INFO_NULL; // from HDF5_MPI_INFO; handed to every MPI-IO call
    bool keep_files = false;        // HDF5_NOCLEANUP is set: test files stay
};
