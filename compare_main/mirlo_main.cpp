// The pmirlo main program.
#include "mirlo_main.hpp"
#include "mirlo.hpp"
#include "mirlo_cmdline.hpp"
#include "mirlo_job.hpp"
#include "mirlo_json.hpp"
#include "mirlo_output.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_progress.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "mirlo_wait.hpp"
#include "mirlo_worker.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"
#include "zarn_io.hpp"

#include <mpi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reading compressed chunks allocates and frees a chunk-sized buffer or two
// per chunk inside the HDF5 library. With the C library's default settings
// blocks of a few MiB are mapped and unmapped (or the heap trimmed) each
// time, and every chunk then pays for fresh pages: a quarter of the time of
// a chunked comparison went to page faults. Keeping blocks below 64 MiB on
// the heap, and up to 256 MiB of free heap, lets them be reused. Peak
// memory is unchanged; what is freed is kept for the next chunk.
void keep_freed_memory_for_reuse()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

bool mpi_running()
{
    int initialized = 0;
    int finalized = 0;
    MPI_Initialized(&initialized);
    MPI_Finalized(&finalized);
    return initialized && !finalized;
}

// The last steps of every process on every way out: the tools library closes
// (printing the tools error stack, closing HDF5) before MPI is finalised.
void finish_process()
{
    zarn_close();
    fflush(stdout);
    if (mpi_running())
        MPI_Finalize();
}

// Where the JSON report goes: a file, or standard output, whose text report is
// then sent to /dev/null so that the document is all it carries.
struct json_target {
    FILE *file = nullptr;
    bool is_stdout = false;
    json_target() = default;
    json_target(const json_target &) = delete;
    json_target &operator=(const json_target &) = delete;
    ~json_target()
    {
        if (file != nullptr)
            std::fclose(file);
    }
};

// Writes the document with write and closes its file. Returns 0, or the
// errno of the failure; a report file left incomplete is then removed (a
// regular file only: never a device such as /dev/full).
int write_json_report(json_target *json, const char *name, const std::function<int(FILE *)> &write)
{
    errno = 0;
    int error = write(json->file) < 0 ? (errno != 0 ? errno : EIO) : 0;
    struct stat st;
    const bool regular = !json->is_stdout && fstat(fileno(json->file), &st) == 0 && S_ISREG(st.st_mode);
    FILE *file = json->file;
    json->file = nullptr;
    errno = 0;
    if (std::fclose(file) != 0 && error == 0)
        error = errno != 0 ? errno : EIO;
    if (error != 0 && regular)
        std::remove(name);
    return error;
}

// The --list-differing file, closed on every way out.
struct report_file {
    FILE *file = nullptr;
    report_file() = default;
    report_file(const report_file &) = delete;
    report_file &operator=(const report_file &) = delete;
    ~report_file()
    {
        if (file != nullptr)
            std::fclose(file);
    }
};

// Writes one name a line and closes the file. Returns 0, or the errno of
// the failure, the incomplete file then removed.
int write_differing(report_file *list, const char *name, const std::vector<std::string> &names)
{
    errno = 0;
    int error = 0;
    for (const std::string &n : names)
        if (std::fprintf(list->file, "%s\n", n.c_str()) < 0) {
            error = errno != 0 ? errno : EIO;
            break;
        }
    FILE *file = list->file;
    list->file = nullptr;
    errno = 0;
    if (std::fclose(file) != 0 && error == 0)
        error = errno != 0 ? errno : EIO;
    if (error != 0)
        std::remove(name);
    return error;
}

// A report on standard output cut short by a failed write is a failed run.
int check_stdout(int status)
{
    const int error = zarn_stdout_finish();
    if (error == 0)
        return status;
    zarn_error_msg("cannot write the report to standard output: %s\n", std::strerror(error));
    return 2;
}

// True when path names the same file as one of the files compared.
bool is_compared_file(const char *path, const mirlo_args &args)
{
    struct stat report, compared;
    if (stat(path, &report) != 0)
        return false;
    for (const char *file : {args.file1, args.file2})
        if (file != nullptr && stat(file, &compared) == 0 && compared.st_dev == report.st_dev &&
            compared.st_ino == report.st_ino)
            return true;
    return false;
}

// Opens the JSON report's destination before anything is compared, so that a
// report that cannot be written stops the run at once. Returns 0, or -1 with
// the reason in errno.
int open_json_target(const char *name, json_target *target)
{
    if (std::strcmp(name, "-") != 0) {
        target->file = std::fopen(name, "w");
        return target->file != nullptr ? 0 : -1;
    }
    fflush(stdout);
    const int fd = dup(STDOUT_FILENO);
    if (fd < 0)
        return -1;
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0 || dup2(null_fd, STDOUT_FILENO) < 0) {
        const int saved = errno;
        if (null_fd >= 0)
            close(null_fd);
        close(fd);
        errno = saved;
        return -1;
    }
    close(null_fd);
    target->file = fdopen(fd, "w");
    if (target->file == nullptr) {
        close(fd);
        return -1;
    }
    target->is_stdout = true;
    return 0;
}

// How a comparison ended: its exit status and the file pairs with
// differences or errors.
struct run_end {
    int exit_status = 0;
    std::vector<std::string> differing;
};

// The workers are stopped and meet the manager at the final barrier; then
// the report on standard output is complete.
int finish_comparison(mirlo_crew *crew, int status)
{
    if (crew->parallel()) {
        // The comparison stops the workers itself; this covers any way out
        // of it that did not, so no worker waits for ever.
        stop_workers(crew);
        mirlo_barrier();
    }
    return check_stdout(status);
}

// Writes the JSON report, if one was asked for; the run's status, or 2 when
// the report cannot be written.
int finish_json(json_target *json, const char *name, int status, const std::function<int(FILE *)> &write)
{
    if (json->file == nullptr)
        return status;
    if (const int error = write_json_report(json, name, write); error != 0) {
        zarn_error_msg("cannot write the JSON report <%s>: %s\n", name, std::strerror(error));
        return 2;
    }
    return status;
}

// Two files, groups or objects.
run_end compare_two(const mirlo_args &args, const mirlo_settings &settings, mirlo_crew *crew, json_target *json,
                    double started)
{
    run_report report;
    output_sink out(stdout);
    mirlo_progress progress;
    mirlo_progress_begin(&progress, settings.progress_seconds, 1);
    const run_outcome outcome = mirlo(args.file1, args.file2, args.obj1, args.obj2, settings, crew, &out,
                                      json->file != nullptr ? &report : nullptr, &progress);
    mirlo_progress_finish(&progress);
    // Everything the workers compared has been printed: the summary follows.
    print_summary(settings, outcome);
    run_end end;
    end.exit_status = finish_comparison(crew, run_exit_status(outcome));
    if (end.exit_status != 0)
        end.differing.push_back(args.file1);
    json_run run;
    run.file1 = args.file1;
    run.file2 = args.file2;
    if (args.obj1 != nullptr) {
        run.object1 = args.obj1;
        run.object2 = args.obj2;
    }
    run.options = json_options_text(settings);
    run.processes = crew->size;
    run.elapsed_seconds = MPI_Wtime() - started;
    json_run_set_outcome(&run, end.exit_status, outcome);
    end.exit_status = finish_json(json, args.json_file, end.exit_status,
                                  [&](FILE *file) { return json_write_document(file, run, report); });
    return end;
}

// The file pairs of two folders or of a list. Returns 0, or the exit status
// of a list or folder that cannot be used (1 for a malformed list), once
// said on standard error.
int make_plan(const mirlo_args &args, mirlo_file_plan *plan)
{
    std::string message;
    const int made = args.pair_list != nullptr ? mirlo_read_pair_list(args.pair_list, plan, &message)
                                               : mirlo_plan_directories(args.file1, args.file2, plan, &message);
    if (made == 0)
        return 0;
    zarn_error_msg("%s\n", shown(message).c_str());
    return args.pair_list != nullptr && made == -1 ? 1 : 2;
}

// Two folders, or the pairs of a list.
run_end compare_job(const mirlo_args &args, const mirlo_file_plan &plan, const mirlo_settings &settings,
                    mirlo_crew *crew, json_target *json, double started)
{
    run_end end;
    const std::string dir1 = args.directories ? args.file1 : "";
    const std::string dir2 = args.directories ? args.file2 : "";
    output_sink out(stdout);
    mirlo_progress progress;
    mirlo_progress_begin(&progress, settings.progress_seconds, plan.pairs.size());
    mirlo_job_result result = mirlo_run_job(plan, dir1, dir2, settings, crew, &out, &progress);
    mirlo_progress_finish(&progress);
    end.exit_status = finish_comparison(crew, result.status);
    end.differing = std::move(result.differing);
    json_job job;
    job.dir1 = dir1;
    job.dir2 = dir2;
    if (args.pair_list != nullptr)
        job.pair_list = args.pair_list;
    job.options = json_options_text(settings);
    job.processes = crew->size;
    job.elapsed_seconds = MPI_Wtime() - started;
    job.exit_status = end.exit_status;
    job.totals = result.totals;
    job.only_in_first_dir = plan.only_in_first;
    job.only_in_second_dir = plan.only_in_second;
    end.exit_status = finish_json(json, args.json_file, end.exit_status,
                                  [&](FILE *file) { return json_write_job(file, job, result.files); });
    return end;
}

} // namespace

int comparison_end_early(int status, mirlo_crew *crew)
{
    if (mpi_running() && crew->parallel()) {
        stop_workers(crew);
        mirlo_barrier();
    }
    status = check_stdout(status);
    finish_process();
    return status;
}

void print_summary(const mirlo_settings &settings, const run_outcome &run)
{
    output_sink out(stdout);
    print_run_summary(settings, run, &out);
}

int mirlo_main(int argc, char **argv)
{
    keep_freed_memory_for_reuse();
    zarn_set_progname("mirlo");
    zarn_set_status(0);
    zarn_init();

    MPI_Init(&argc, &argv);
    const double started = MPI_Wtime();
    int rank = 0;
    mirlo_crew crew;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &crew.size);
    zarn_fatal_install();
    if (crew.parallel())
        mirlo_peers_exchange();

    if (crew.parallel() && rank != 0) {
        worker_loop();
        finish_process();
        return 0;
    }
    // Rank 0 prints its own lines straight away, in the place the
    // one-process run prints them; the workers' output reaches it whole.
    // Every difference row is several small prints: a block buffer keeps
    // them from becoming one write each (MPI leaves stdout unbuffered); the
    // manager flushes after each pair, and an abort flushes first. Every
    // write is checked: a report cut short ends the run with status 2.
    if (zarn_stdout_watch(1 << 16) < 0) {
        static char stdout_buffer[1 << 16];
        setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    }
    // With the JSON report on standard output, nothing else goes there.
    if (!crew.parallel() && !json_to_standard_output(argc, argv))
        printf("Only 1 task available...doing serial diff\n");

    // Rank 0: the only process, or the manager of the workers.
    mirlo_settings settings;
    mirlo_args args;
    if (const int status = mirlo_parse_args(argc, argv, &args, &settings); status != MIRLO_ARGS_VALID)
        return comparison_end_early(status, &crew);
    enable_error_stack = settings.error_stack_level;
    // The pairs of a job are known, and a malformed list refused, before any
    // file is opened or written.
    mirlo_file_plan plan;
    const bool job = args.directories || args.pair_list != nullptr;
    if (job) {
        if (const int status = make_plan(args, &plan); status != 0)
            return comparison_end_early(status, &crew);
    }

    // Both report files are opened before anything is compared, so that
    // one that cannot be written stops the run at once.
    json_target json;
    if (args.json_file != nullptr) {
        // Opening the report truncates it: a report named after one of the
        // files compared would destroy it.
        if (std::strcmp(args.json_file, "-") != 0 && is_compared_file(args.json_file, args)) {
            zarn_error_msg("the JSON report <%s> would overwrite a file being compared\n", args.json_file);
            return comparison_end_early(2, &crew);
        }
        if (open_json_target(args.json_file, &json) < 0) {
            zarn_error_msg("cannot write the JSON report <%s>: %s\n", args.json_file, std::strerror(errno));
            return comparison_end_early(2, &crew);
        }
    }
    report_file differing;
    if (args.list_differing != nullptr) {
        if (is_compared_file(args.list_differing, args)) {
            zarn_error_msg("the list <%s> would overwrite a file being compared\n", args.list_differing);
            return comparison_end_early(2, &crew);
        }
        differing.file = std::fopen(args.list_differing, "w");
        if (differing.file == nullptr) {
            zarn_error_msg("cannot write the list <%s>: %s\n", args.list_differing, std::strerror(errno));
            return comparison_end_early(2, &crew);
        }
    }
    const run_end end = job ? compare_job(args, plan, settings, &crew, &json, started)
                            : compare_two(args, settings, &crew, &json, started);
    int status = end.exit_status;
    if (differing.file != nullptr) {
        if (const int error = write_differing(&differing, args.list_differing, end.differing); error != 0) {
            zarn_error_msg("cannot write the list <%s>: %s\n", args.list_differing, std::strerror(error));
            status = 2;
        }
    }
    finish_process();
    return status;
}
