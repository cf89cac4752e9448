// A multi-process comparison of chunked pairs, with strips small enough that
// the pairs are split into pieces across the workers and the chunk shortcuts
// on, prints what one process prints with the shortcuts off: the same lines
// in the same order, the same count and status.
#include "mirlo_dset.hpp"
#include "zarn_utils.hpp"
#include "test_mpi_support.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>
#include <mpi.h>

#include <string>

namespace {

using test_support::world_rank;

// mirlo over both files of the random pairs: on rank 0 alone (every other
// rank waits), or with the other ranks as workers.
test_support::mpi_run_result run(const mirlo_settings &o, bool alone)
{
    return test_support::mpi_run(test_support::fixture_path("chunks_a.h5"), test_support::fixture_path("chunks_b.h5"),
                                 o, alone);
}

TEST(ChunkShortcutProcesses, ThreeProcessesPrintWhatOneProcessPrintsWithoutShortcuts)
{
    const hsize_t saved_budget = hyperslab_bufsize, saved_limit = whole_read_limit;
    for (bool report : {true, false}) {
        hyperslab_bufsize = 512;
        whole_read_limit = 0;
        mirlo_settings o = test_support::default_settings(report);
        o.verbose_mode = !report;
        o.chunk_shortcuts = false;
        const auto one = run(o, true);
        o.chunk_shortcuts = true;
        const auto many = run(o, false);
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
