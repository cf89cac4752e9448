// A whole pmirlo comparison inside a unit test run under mpiexec: on rank 0
// alone (the other ranks wait), or with the other ranks as workers, as the
// program runs it. Every rank calls it with the same arguments.
#pragma once
#include "mirlo.hpp"
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
    int not_comparable = 0;
    bool operator==(const mpi_run_result &) const = default;
};

inline int world_rank()
{
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    return rank;
}

// mirlo over files a and b (and objects obj1, obj2 when given).
inline mpi_run_result mpi_run(const std::string &a, const std::string &b, diff_options o, bool alone,
                              const char *obj1 = nullptr, const char *obj2 = nullptr)
{
    mpi_run_result r;
    int size = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    if (world_rank() != 0) {
        if (!alone) {
            reset_worker_stop();
            parallel_output = 1;
            worker_loop();
            parallel_output = 0;
        } else {
            mirlo_barrier();
        }
        return r;
    }
    mpi_size = alone ? 1 : size;
    reset_worker_stop();
    testing::internal::CaptureStdout();
    r.found = mirlo(a.c_str(), b.c_str(), obj1, obj2, &o);
    if (!alone)
        send_stop_to_workers();
    mirlo_barrier();
    r.out = testing::internal::GetCapturedStdout();
    r.error_status = o.error_status;
    r.not_comparable = o.not_comparable;
    mpi_size = 1;
    return r;
}

} // namespace test_support
