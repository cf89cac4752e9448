// The counts behind the progress lines of a whole comparison: every pair
// listed is counted once as compared, and the bytes compared are the values
// of the first file's datasets, whether one process compares them or the
// workers do, with the pairs split into pieces.
#include "mirlo_progress.hpp"
#include "zarn_utils.hpp"
#include "h5_handle.hpp"
#include "test_mpi_support.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>
#include <hdf5.h>
#include <mpi.h>

#include <string>

namespace {

using test_support::world_rank;

// Objects and bytes of the values of every dataset of a file, read here
// with the library (not through the comparison): the bytes of a pair of
// equal shapes and types.
struct file_size {
    uint64_t objects = 0;
    uint64_t bytes = 0;
};

herr_t add_object(hid_t root, const char *name, const H5O_info_t *info, void *data)
{
    auto *size = static_cast<file_size *>(data);
    ++size->objects;
    if (info->type != H5O_TYPE_DATASET)
        return 0;
    h5_dataset d(H5Dopen2(root, name, H5P_DEFAULT));
    h5_dataspace space(H5Dget_space(d));
    h5_datatype file_type(H5Dget_type(d));
    h5_datatype native(H5Tget_native_type(file_type, H5T_DIR_DEFAULT));
    size->bytes += static_cast<uint64_t>(H5Sget_simple_extent_npoints(space)) * H5Tget_size(native);
    return 0;
}

file_size size_of(const std::string &path)
{
    file_size size;
    h5_file f(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    H5Ovisit2(f, H5_INDEX_NAME, H5_ITER_INC, add_object, &size, H5O_INFO_BASIC);
    return size;
}

TEST(ProgressCounts, EveryPairAndEveryByteOnceAtOneAndSeveralProcesses)
{
    const std::string a = test_support::fixture_path("chunks_a.h5");
    const std::string b = test_support::fixture_path("chunks_b.h5");
    const file_size expected = size_of(a);
    const hsize_t saved_budget = hyperslab_bufsize, saved_limit = whole_read_limit;
    // Strips small enough that the workers get the larger pairs in pieces.
    hyperslab_bufsize = 512;
    whole_read_limit = 0;
    for (bool alone : {true, false}) {
        mirlo_progress progress;
        mirlo_progress_begin(&progress, 0, 1);
        test_support::mpi_run(a, b, test_support::default_settings(false), alone, nullptr, nullptr, &progress);
        if (world_rank() != 0)
            continue;
        const progress_counts &c = progress.counts;
        SCOPED_TRACE(alone ? "one process" : "workers");
        EXPECT_TRUE(c.listing_done);
        EXPECT_EQ(c.pairs_listed, expected.objects);
        EXPECT_EQ(c.pairs_done, c.pairs_listed);
        EXPECT_NEAR(c.work_done, static_cast<double>(c.pairs_listed), 1e-9);
        EXPECT_GT(expected.bytes, 0u);
        EXPECT_EQ(c.bytes_done, expected.bytes);
        EXPECT_EQ(c.bytes_known, expected.bytes);
    }
    hyperslab_bufsize = saved_budget;
    whole_read_limit = saved_limit;
}

} // namespace
