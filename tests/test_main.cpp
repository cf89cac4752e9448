// GoogleTest entry point shared by the unit tests: MPI is started before any
// test runs and finalised after the last, as in the programs themselves.
#include <gtest/gtest.h>
#include <mpi.h>

int main(int argc, char **argv)
{
    MPI_Init(&argc, &argv);
    ::testing::InitGoogleTest(&argc, argv);
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    if (rank != 0) {
        // Only rank 0 reports, so a multi-process test prints one result.
        auto &listeners = ::testing::UnitTest::GetInstance()->listeners();
        delete listeners.Release(listeners.default_result_printer());
    }
    int rc = RUN_ALL_TESTS();
    int worst = 0;
    MPI_Allreduce(&rc, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    MPI_Finalize();
    return worst;
}
