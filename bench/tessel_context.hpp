// The state of one tessel process that the run loops pass around: the group
// of the current process count, where the report goes, and the settings read
// from the environment at start-up (once, by tessel_read_environment; nothing
// else reads the environment). tessel keeps no other mutable state.
#pragma once
#include <mpi.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

struct tessel_progress;

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
    bool prefix_set = false;        // HDF5_PARAPREFIX is set (perhaps to "")
    std::string prefix;             // HDF5_PARAPREFIX: the folder of the test files
    const char *user_variable = nullptr; // "USER", else "LOGIN" when set, else nullptr
    std::string user;               // its value: the test files' folder under the prefix
    tessel_progress *progress = nullptr; // world rank 0 with progress shown: its lines
};

// Reads HDF5_NOCLEANUP, HDF5_PARAPREFIX, USER and LOGIN into ctx.
void tessel_read_environment(tessel_context &ctx);
