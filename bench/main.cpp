// tessel: measures parallel I/O throughput through POSIX, MPI-IO and HDF5.
#include "mpi_info.hpp"
#include "tessel_driver.hpp"
#include "tessel_options.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>

namespace {

void query_failed(const char *call, int code)
{
    fprintf(stderr, "%s: %s call failed\n", "tessel", call);
    fprintf(stderr, code == MPI_ERR_COMM ? "invalid MPI communicator\n" : "invalid argument\n");
}

} // namespace

int main(int argc, char **argv)
{
    zarn_init();
    // Named for the message of the fatal-signal handler, the only place
    // where the tools library prints the program's name for tessel.
    zarn_set_progname("tessel");
    zarn_fatal_install();
    bench_output = stdout;
    MPI_Init(&argc, &argv);
    // Whole lines in one write each: with several processes reporting, the
    // launcher then never splices one rank's line into another's.
    static char stdout_buffer[1 << 12];
    setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);
    // Failures of MPI calls come back as codes, so the engine can report them.
    MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
    MPI_Comm_set_errhandler(MPI_COMM_SELF, MPI_ERRORS_RETURN);

    int code = MPI_Comm_size(MPI_COMM_WORLD, &bench_world_size);
    if (code != MPI_SUCCESS) {
        query_failed("MPI_Comm_size", code);
        MPI_Finalize();
        return 1;
    }
    code = MPI_Comm_rank(MPI_COMM_WORLD, &bench_world_rank);
    if (code != MPI_SUCCESS) {
        query_failed("MPI_Comm_rank", code);
        MPI_Finalize();
        return 1;
    }
    bench_comm = MPI_COMM_WORLD;
    bench_nprocs = bench_world_size;
    bench_rank = bench_world_rank;
    (void)read_mpi_info();

    bench_options options = bench_default_options(bench_world_size);
    if (parse_bench_command_line(argc, argv, &options) != 0) {
        print_bench_usage();
        MPI_Finalize();
        return 1;
    }

    if (options.output != nullptr) {
        bench_output = std::fopen(options.output, "w");
        if (bench_output == nullptr) {
            fprintf(stderr, "%s: cannot open output file\n", "tessel");
            perror(options.output);
            MPI_Finalize();
            return 1;
        }
    }

    if (bench_debug_level > 0 || bench_world_rank == 0)
        print_bench_parameters(&options);

    int failed = run_benchmarks(&options) < 0 ? 1 : 0;
    // Every process ends with the same status.
    int any_failed = failed;
    MPI_Allreduce(&failed, &any_failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    fflush(bench_output);
    MPI_Finalize();
    return any_failed;
}
