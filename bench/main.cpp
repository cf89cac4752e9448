// tessel: measures parallel I/O throughput through POSIX, MPI-IO and HDF5.
#include "mpi_info.hpp"
#include "pio_owners.hpp"
#include "tessel_checks.hpp"
#include "tessel_driver.hpp"
#include "tessel_export.hpp"
#include "tessel_usage.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"
#include "zarn_options.hpp"

#include <mpi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void query_failed(const char *call, int code)
{
    fprintf(stderr, "%s: %s call failed\n", "tessel", call);
    fprintf(stderr, code == MPI_ERR_COMM ? "invalid MPI communicator\n" : "invalid argument\n");
}

// A report file opened by rank 0; closed at the end of its scope.
struct file_closer {
    void operator()(FILE *f) const noexcept { std::fclose(f); }
};
using report_file = std::unique_ptr<FILE, file_closer>;

// Rank 0's verdict on every process: "" to go on, else the message rank 0
// printed on standard error.
bool rank0_refuses(const tessel_context &ctx, const std::string &message)
{
    int refused = message.empty() ? 0 : 1;
    MPI_Bcast(&refused, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (refused && ctx.world_rank == 0) {
        // The message may hold a NUL character (an illegal size specifier).
        std::fwrite(message.data(), 1, message.size(), stderr);
        std::fputc('\n', stderr);
    }
    return refused != 0;
}

// Opens a machine-readable report on rank 0; a failure ends the run before
// anything is measured.
std::string open_report(const tessel_context &ctx, const char *path, report_file *file)
{
    if (path == nullptr || ctx.world_rank != 0)
        return "";
    file->reset(std::fopen(path, "w"));
    if (*file == nullptr)
        return std::string("tessel: cannot open report file ") + path + ": " + std::strerror(errno);
    return "";
}

// Writes a machine-readable report and closes it; returns 0 or 1.
int finish_report(report_file *file, const char *path, const std::string &text)
{
    if (*file == nullptr)
        return 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), file->get()) == text.size();
    const bool closed = std::fclose(file->release()) == 0;
    if (written && closed)
        return 0;
    fprintf(stderr, "tessel: cannot write report file %s: %s\n", path, std::strerror(errno));
    return 1;
}

// Everything between MPI_Init and MPI_Finalize; every owner of an MPI or
// HDF5 resource is gone when it returns. Returns the exit status of this
// process (every process returns the same).
int tessel_main(tessel_context &ctx, int argc, char **argv)
{
    // Messages every process would print alike are printed by rank 0.
    zarn_opt_report = ctx.world_rank == 0 ? 1 : 0;
    mpi_info_owner hints;
    (void)read_mpi_info(hints.receive(), ctx.world_rank == 0);
    ctx.hints = hints.get();
    ctx.keep_files = std::getenv("HDF5_NOCLEANUP") != nullptr;

    bench_options options = bench_default_options(ctx.world_size);
    std::string message;
    switch (parse_bench_command_line(argc, argv, &options, &message)) {
    case bench_command::help:
        if (ctx.world_rank == 0)
            print_bench_usage();
        return 0;
    case bench_command::usage:
        if (ctx.world_rank == 0)
            print_bench_usage();
        return 1;
    case bench_command::refused:
        (void)rank0_refuses(ctx, message);
        return 1;
    case bench_command::run:
        break;
    }
    ctx.debug_level = options.debug_level;

    // Sizes, counts, names and free space, checked once before any file is
    // made; and the machine-readable reports opened.
    report_file json_file, csv_file;
    if (ctx.world_rank == 0) {
        message = tessel_check_sizes(options, ctx.world_size);
        if (message.empty())
            message = tessel_check_files(options, ctx.world_size);
        if (message.empty())
            message = open_report(ctx, options.json_path, &json_file);
        if (message.empty())
            message = open_report(ctx, options.csv_path, &csv_file);
    }
    if (rank0_refuses(ctx, message))
        return 1;

    report_file output;
    int failed = 0;
    if (options.output != nullptr) {
        output.reset(std::fopen(options.output, "w"));
        failed = output == nullptr ? 1 : 0;
    }
    int rank0_failed = failed;
    MPI_Bcast(&rank0_failed, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (failed && (ctx.world_rank == 0 || !rank0_failed)) {
        fprintf(stderr, "%s: cannot open output file\n", "tessel");
        perror(options.output);
    }
    MPI_Allreduce(MPI_IN_PLACE, &failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    if (failed)
        return 1;
    if (output != nullptr)
        ctx.out = output.get();

    if (ctx.debug_level > 0 || ctx.world_rank == 0)
        print_bench_parameters(ctx, &options);
    fflush(ctx.out);

    const bool machine_reports = options.json_path != nullptr || options.csv_path != nullptr;
    tessel_run_info info;
    if (machine_reports)
        info = gather_run_info(ctx, true);

    std::vector<tessel_measurement> results;
    int status = run_benchmarks(ctx, options, &results) < 0 ? 1 : 0;
    MPI_Allreduce(MPI_IN_PLACE, &status, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);

    if (ctx.world_rank == 0 && machine_reports) {
        info.exit_status = status;
        int report_status = finish_report(&json_file, options.json_path, tessel_json(info, options, results).dump(2) + "\n");
        report_status |= finish_report(&csv_file, options.csv_path, tessel_csv(info, options, results));
        status |= report_status;
    }
    MPI_Bcast(&status, 1, MPI_INT, 0, MPI_COMM_WORLD);

    fflush(ctx.out);
    if (output != nullptr && std::fclose(output.release()) != 0) {
        fprintf(stderr, "%s: cannot write output file %s: %s\n", "tessel", options.output, std::strerror(errno));
        status = 1;
    }
    MPI_Allreduce(MPI_IN_PLACE, &status, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    zarn_init();
    // Named for the message of the fatal-signal handler, the only place
    // where the tools library prints the program's name for tessel.
    zarn_set_progname("tessel");
    zarn_fatal_install();
    MPI_Init(&argc, &argv);
    // Whole lines in one write each: with several processes reporting, the
    // launcher then never splices one rank's line into another's.
    static char stdout_buffer[1 << 12];
    setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);
    // Failures of MPI calls come back as codes, so the engine can report them.
    MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
    MPI_Comm_set_errhandler(MPI_COMM_SELF, MPI_ERRORS_RETURN);

    tessel_context ctx;
    int code = MPI_Comm_size(MPI_COMM_WORLD, &ctx.world_size);
    if (code != MPI_SUCCESS) {
        query_failed("MPI_Comm_size", code);
        MPI_Finalize();
        return 1;
    }
    code = MPI_Comm_rank(MPI_COMM_WORLD, &ctx.world_rank);
    if (code != MPI_SUCCESS) {
        query_failed("MPI_Comm_rank", code);
        MPI_Finalize();
        return 1;
    }
    ctx.rank = ctx.world_rank;
    ctx.nprocs = ctx.world_size;
    const int status = tessel_main(ctx, argc, argv);
    fflush(stdout);
    MPI_Finalize();
    return status;
}
