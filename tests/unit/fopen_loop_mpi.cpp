// The driver loop run by one process of several (the manager of a parallel
// comparison opening its files) must not try a collective MPI-IO open.
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

} // namespace
