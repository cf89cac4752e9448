// tessel: measures parallel I/O throughput through POSIX, MPI-IO and HDF5.
#include "mpi_info.hpp"
#include "pio_names.hpp"
#include "pio_owners.hpp"
#include "pio_run.hpp"
#include "tessel_checks.hpp"
#include "tessel_driver.hpp"
#include "tessel_export.hpp"
#include "tessel_output.hpp"
#include "tessel_progress.hpp"
#include "tessel_report.hpp"
#include "tessel_usage.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"
#include "zarn_options.hpp"

#include <fcntl.h>
#include <mpi.h>
#include <unistd.h>

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

using output_owner = std::unique_ptr<tessel_output>;

// Opens a machine-readable report on rank 0; a failure ends the run before
// anything is measured.
std::string open_report(const tessel_context &ctx, const char *path, output_owner *file)
{
    if (path == nullptr || ctx.world_rank != 0)
        return "";
    std::string why;
    *file = tessel_output::open(path, false, &why);
    if (*file == nullptr)
        return std::string("tessel: cannot open report file ") + path + ": " + why;
    return "";
}

// Writes a machine-readable report and closes it; a report that could not
// be written whole is removed. Returns 0 or 1.
int finish_report(output_owner *file, const std::string &text)
{
    if (*file == nullptr)
        return 0;
    std::fwrite(text.data(), 1, text.size(), (*file)->stream());
    const std::string why = (*file)->finish();
    if (why.empty())
        return 0;
    fprintf(stderr, "tessel: cannot write report file %s: %s\n", (*file)->name().c_str(), why.c_str());
    (*file)->discard();
    return 1;
}

// Opens the -o report: rank 0 creates it, then the other processes open it
// for appending, so lines of several processes never overwrite each other.
// Returns 0, or 1 on every process when any could not open it.
int open_text_report(const tessel_context &ctx, const char *path, output_owner *file)
{
    std::string why;
    int failed = 0;
    if (ctx.world_rank == 0) {
        *file = tessel_output::open(path, false, &why);
        failed = *file == nullptr ? 1 : 0;
    }
    int rank0_failed = failed;
    MPI_Bcast(&rank0_failed, 1, MPI_INT, 0, MPI_COMM_WORLD);
    if (ctx.world_rank != 0 && !rank0_failed) {
        *file = tessel_output::open(path, true, &why);
        failed = *file == nullptr ? 1 : 0;
    }
    if (failed && (ctx.world_rank == 0 || !rank0_failed))
        fprintf(stderr, "%s: cannot open output file\n%s: %s\n", "tessel", path, why.c_str());
    MPI_Allreduce(MPI_IN_PLACE, &failed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    return failed;
}

// Finishes the text report of every process. When any write failed, rank 0
// says why (the first failing process's reason), removes a report file left
// incomplete, and every process returns 1.
int finish_text_report(const tessel_context &ctx, tessel_output &out)
{
    const std::string reason = pio_agreed_reason(ctx, out.finish());
    if (reason.empty())
        return 0;
    if (ctx.world_rank == 0) {
        fprintf(stderr, "tessel: cannot write %s%s: %s\n", out.name() == "standard output" ? "" : "output file ",
                out.name().c_str(), reason.c_str());
        out.discard();
    }
    return 1;
}

// Standard output as a checked stream, or nullptr after saying why not.
output_owner checked_standard_output()
{
    output_owner text = tessel_output::standard_output();
    if (text == nullptr)
        fprintf(stderr, "tessel: cannot write standard output: %s\n", std::strerror(errno));
    return text;
}

// The usage text on standard output (rank 0), written through a checked
// stream so that a failed write is reported with its reason. Returns 0, or
// 1 on every process when it could not be written.
int print_usage(const tessel_context &ctx)
{
    output_owner text = checked_standard_output();
    if (text == nullptr)
        return 1;
    if (ctx.world_rank == 0)
        print_bench_usage(text->stream());
    return finish_text_report(ctx, *text);
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
    tessel_read_environment(ctx);

    bench_options options = bench_default_options(ctx.world_size);
    std::string message;
    switch (parse_bench_command_line(argc, argv, &options, &message)) {
    case bench_command::help:
        return print_usage(ctx);
    case bench_command::usage:
        return print_usage(ctx) | 1;
    case bench_command::refused:
        (void)rank0_refuses(ctx, message);
        return 1;
    case bench_command::run:
        break;
    }
    ctx.debug_level = options.debug_level;

    // Sizes, counts, names and free space, checked once before any file is
    // made; and the machine-readable reports opened.
    output_owner json_file, csv_file;
    if (ctx.world_rank == 0) {
        message = tessel_check_sizes(options, ctx.world_size);
        if (message.empty())
            message = tessel_check_files(ctx, options, ctx.world_size);
        if (message.empty())
            message = open_report(ctx, options.json_path, &json_file);
        if (message.empty())
            message = open_report(ctx, options.csv_path, &csv_file);
    }
    if (rank0_refuses(ctx, message))
        return 1;

    output_owner text;
    if (options.output != nullptr) {
        if (open_text_report(ctx, options.output, &text) != 0)
            return 1;
    } else {
        text = checked_standard_output();
        if (text == nullptr)
            return 1;
    }
    ctx.out = text->stream();

    if (ctx.debug_level > 0 || ctx.world_rank == 0)
        print_bench_parameters(ctx, &options);
    fflush(ctx.out);

    const bool machine_reports = options.json_path != nullptr || options.csv_path != nullptr;
    tessel_run_info info;
    if (machine_reports)
        info = gather_run_info(ctx, true);

    tessel_progress progress;
    if (ctx.world_rank == 0 && tessel_progress_wanted(options)) {
        progress = tessel_progress_start(options, ctx.world_size);
        ctx.progress = &progress;
    }
    std::vector<tessel_measurement> results;
    int status = run_benchmarks(ctx, options, &results) < 0 ? 1 : 0;
    tessel_progress_finish(ctx.progress);
    ctx.progress = nullptr;
    MPI_Allreduce(MPI_IN_PLACE, &status, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    if (const std::string warning = tessel_collective_warning(options, results); !warning.empty())
        fprintf(stderr, "%s\n", warning.c_str());

    if (ctx.world_rank == 0 && machine_reports) {
        info.exit_status = status;
        int report_status = finish_report(&json_file, tessel_json(info, options, results));
        report_status |= finish_report(&csv_file, tessel_csv(info, options, results));
        status |= report_status;
    }
    MPI_Bcast(&status, 1, MPI_INT, 0, MPI_COMM_WORLD);

    ctx.out = stdout;
    status |= finish_text_report(ctx, *text);
    return status;
}

// Standard output written directly (the usage text, messages of the
// libraries) is checked at the end too. Returns 0 or 1.
int finish_standard_output(const tessel_context &ctx)
{
    errno = 0;
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    int any = failed ? 1 : 0;
    MPI_Allreduce(MPI_IN_PLACE, &any, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    if (any && ctx.world_rank == 0)
        fprintf(stderr, "tessel: cannot write standard output%s%s\n", errno != 0 ? ": " : "",
                errno != 0 ? std::strerror(errno) : "");
    return any;
}

// A standard descriptor that is closed (tessel 2>&-) would be the next
// descriptor opened (a library's file, the launcher's socket, a test file),
// and messages meant for the closed stream would land in it. /dev/null,
// opened for reading only, takes its place: writes to it still fail, as
// they would on the closed descriptor, and no other file can take it.
void keep_standard_descriptors()
{
    // In increasing order, so the lowest free descriptor open() returns is
    // the closed one.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            (void)open("/dev/null", O_RDONLY);
}

} // namespace

int main(int argc, char **argv)
{
    keep_standard_descriptors();
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
    int status = tessel_main(ctx, argc, argv);
    status |= finish_standard_output(ctx);
    MPI_Finalize();
    return status;
}
