// A multi-process comparison of chunked pairs, with strips small enough that
// the pairs are split into pieces across the workers and the chunk shortcuts
// on, prints what one process prints with the shortcuts off: the same lines
// in the same order, the same count and status.
#include "mirlo.hpp"
#include "mirlo_dset.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_wait.hpp"
#include "mirlo_worker.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>
#include <mpi.h>

#include <string>

namespace {

int world_rank()
{
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    return rank;
}

struct run_result {
    std::string out;
    nfound_t found = 0;
    int error_status = 0;
    int not_comparable = 0;
};

// mirlo over both files of the random pairs: on rank 0 alone (every other
// rank waits), or with the other ranks as workers.
run_result run(diff_options o, bool alone)
{
    const std::string a = test_support::fixture_path("chunks_a.h5");
    const std::string b = test_support::fixture_path("chunks_b.h5");
    run_result r;
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
    r.found = mirlo(a.c_str(), b.c_str(), nullptr, nullptr, &o);
    if (!alone)
        send_stop_to_workers();
    mirlo_barrier();
    r.out = testing::internal::GetCapturedStdout();
    r.error_status = o.error_status;
    r.not_comparable = o.not_comparable;
    mpi_size = 1;
    return r;
}

TEST(ChunkShortcutProcesses, ThreeProcessesPrintWhatOneProcessPrintsWithoutShortcuts)
{
    const hsize_t saved_budget = hyperslab_bufsize, saved_limit = whole_read_limit;
    for (bool report : {true, false}) {
        hyperslab_bufsize = 512;
        whole_read_limit = 0;
        diff_options o = test_support::default_options(report);
        o.verbose_mode = report ? 0 : 1;
        dset_use_chunk_shortcuts(false);
        const run_result one = run(o, true);
        dset_use_chunk_shortcuts(true);
        const run_result many = run(o, false);
        hyperslab_bufsize = saved_budget;
        whole_read_limit = saved_limit;
        if (world_rank() != 0)
            continue;
        EXPECT_GT(one.found, 0u);
        EXPECT_EQ(many.found, one.found);
        EXPECT_EQ(many.error_status, one.error_status);
        EXPECT_EQ(many.not_comparable, one.not_comparable);
        EXPECT_EQ(many.out, one.out);
    }
}

} // namespace
