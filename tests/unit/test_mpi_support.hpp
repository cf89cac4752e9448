// A whole pmirlo comparison inside a unit test run under mpiexec: on rank 0
// alone (the other ranks wait), or with the other ranks as workers, as the
// program runs it. Every rank calls it with the same arguments.
#pragma once
#include "mirlo.hpp"
#include "mirlo_output.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_wait.hpp"
#include "mirlo_worker.hpp"
#include "zarn.hpp"

#include <gtest/gtest.h>
#include <mpi.h>

#include <string>

namespace test_support {

struct mpi_run_result {
    std::string out; // what rank 0 printed (empty on the other ranks)
    nfound_t found = 0;
    int error_status = 0;
    bool not_comparable = false;
    bool operator==(const mpi_run_result &) const = default;
};

inline int world_rank()
{
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    return rank;
}

// mirlo over files a and b (and objects obj1, obj2 when given) under
// settings, counting into progress on rank 0 when given.
inline mpi_run_result mpi_run(const std::string &a, const std::string &b, const mirlo_settings &settings,
                              bool alone, const char *obj1 = nullptr, const char *obj2 = nullptr,
                              mirlo_progress *progress = nullptr)
{
    mpi_run_result r;
    mirlo_crew crew;
    MPI_Comm_size(MPI_COMM_WORLD, &crew.size);
    if (world_rank() != 0) {
        if (!alone)
            worker_loop();
        else
            mirlo_barrier();
        return r;
    }
    if (alone)
        crew.size = 1;
    output_sink out(stdout);
    testing::internal::CaptureStdout();
    const run_outcome run = mirlo(a.c_str(), b.c_str(), obj1, obj2, settings, &crew, &out, nullptr, progress);
    stop_workers(&crew);
    mirlo_barrier();
    r.out = testing::internal::GetCapturedStdout();
    r.found = run.differences;
    r.error_status = run.status;
    r.not_comparable = run.not_comparable;
    return r;
}

} // namespace test_support
