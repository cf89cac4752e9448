// The pmirlo main program.
#include "mirlo_main.hpp"
#include "mirlo.hpp"
#include "mirlo_cmdline.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_worker.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

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

} // namespace

void comparison_exit(int status)
{
    if (mpi_running() && mpi_size >= 2) {
        send_stop_to_workers();
        MPI_Barrier(MPI_COMM_WORLD);
    }
    finish_process();
    std::exit(status);
}

int comparison_status(nfound_t nfound, const diff_options *options)
{
    if (options->error_status & 2)
        return 2;
    if (nfound > 0 || options->not_comparable || (options->error_status & 1) || !options->contents_equal)
        return 1;
    return 0;
}

void print_summary(const diff_options *options)
{
    // A failure ends the run without a summary; a dataset whose filters are
    // not available (status bit 1) is a pair that is not comparable.
    if (options->quiet_mode || (options->error_status & 2) != 0)
        return;
    if (options->not_comparable == 1 && options->list_not_comparable == 0) {
        puts("--------------------------------");
        puts("Some objects are not comparable");
        puts("--------------------------------");
        if (options->verbose_mode)
            puts("Use -c for a list of objects without details of differences.");
        else
            puts("Use -c for a list of objects.");
    }
}

void print_manager_output()
{
    if (!parallel_output || (outBuffOffset == 0 && overflow_file == nullptr))
        return;
    fwrite(outBuff, 1, outBuffOffset, stdout);
    if (overflow_file != nullptr) {
        rewind(overflow_file);
        char block[4096];
        size_t n;
        while ((n = fread(block, 1, sizeof block, overflow_file)) > 0)
            fwrite(block, 1, n, stdout);
        fclose(overflow_file);
        overflow_file = nullptr;
    }
    fflush(stdout);
    std::memset(outBuff, 0, sizeof outBuff);
    outBuffOffset = 0;
}

int mirlo_main(int argc, char **argv)
{
    keep_freed_memory_for_reuse();
    zarn_set_progname("mirlo");
    zarn_set_status(0);
    zarn_init();
    outBuffOffset = 0;
    parallel_output = 1;

    MPI_Init(&argc, &argv);
    int rank = 0;
    int size = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    mpi_size = size;
    zarn_fatal_install();

    if (size > 1 && rank != 0) {
        worker_loop();
        finish_process();
        return 0;
    }
    // Rank 0 prints its own lines straight away, in the place the
    // one-process run prints them; the workers' output reaches it whole.
    // Every difference row is several small prints: a block buffer keeps
    // them from becoming one write each (MPI leaves stdout unbuffered); the
    // manager flushes after each pair, and an abort flushes first.
    static char stdout_buffer[1 << 16];
    setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);
    parallel_output = 0;
    if (size == 1)
        printf("Only 1 task available...doing serial diff\n");

    // Rank 0: the only process, or the manager of the workers.
    diff_options options;
    const char *file1 = nullptr;
    const char *file2 = nullptr;
    const char *obj1 = nullptr;
    const char *obj2 = nullptr;
    parse_command_line(argc, argv, &file1, &file2, &obj1, &obj2, &options);

    nfound_t nfound = mirlo(file1, file2, obj1, obj2, &options);

    if (size > 1) {
        // The comparison stops the workers itself; this covers any way out
        // of it that did not, so no worker waits for ever.
        send_stop_to_workers();
        MPI_Barrier(MPI_COMM_WORLD);
    }
    print_summary(&options);
    print_manager_output();
    int status = comparison_status(nfound, &options);
    release_command_line(&options);
    finish_process();
    return status;
}
