// The driver loop run by one process of several (the manager of a parallel
// comparison opening its files) must not try a collective MPI-IO open; a file
// whose writer never closed it opens read-only on any one process, and on
// every process at once.
#include "zarn_fopen.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>
#include <mpi.h>

#include <string>

namespace {

TEST(FopenLoopTest, OneProcessOfSeveralFailsOnAMissingFileWithoutWaiting)
{
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    if (rank == 0) {
        const std::string path = test_support::fixture_path("dset_no_such_file.h5");
        EXPECT_LT(zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 0), 0);
        const std::string split = test_support::fixture_path("dset_split");
        char name[16] = "";
        hid_t f = zarn_fopen(split.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, name, sizeof name);
        EXPECT_GE(f, 0);
        EXPECT_STREQ(name, "multi");
        if (f >= 0)
            H5Fclose(f);
    }
    MPI_Barrier(MPI_COMM_WORLD);
}

TEST(FopenLoopTest, AFileLeftOpenByItsWriterOpensOnOneProcessAndOnAll)
{
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    const std::string path = test_support::fixture_path("open_for_writing.h5");
    for (bool everyone : {false, true}) {
        if (rank == 0 || everyone) {
            char name[16] = "";
            h5_file f(zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, name, sizeof name));
            ASSERT_TRUE(f.valid()) << "rank " << rank;
            EXPECT_STREQ(name, "mpio");
            h5_dataset d(H5Dopen2(f, "/values", H5P_DEFAULT));
            int values[4] = {};
            ASSERT_TRUE(d.valid());
            ASSERT_GE(H5Dread(d, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, values), 0);
            EXPECT_EQ(values[3], 4);
        }
        MPI_Barrier(MPI_COMM_WORLD);
    }
}

} // namespace
