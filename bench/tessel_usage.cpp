// The usage text and the parameters report of tessel.
#include "tessel_usage.hpp"

#include "mpi_info.hpp"
#include "zarn_options.hpp"

#include <hdf5.h>

#include <climits>

namespace {

// A size for the report: sizes beyond the largest file offset (refused
// before any run) are shown as that offset rather than overflowing.
long long shown(unsigned long long size)
{
    return size > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(size);
}

long long product(long long a, long long b, long long c = 1)
{
    const auto u = [](long long v) { return static_cast<unsigned long long>(v); };
    return shown(bench_times(bench_times(u(a), u(b)), u(c)));
}

} // namespace

void print_size(FILE *out, long long value, const char *separator)
{
    constexpr long long KB = 1024, MB = 1048576, GB = 1073741824;
    if (value < KB || value % KB != 0)
        fprintf(out, "%lld%s", value, separator);
    else if (value < MB || value % MB != 0)
        fprintf(out, "%lldKB%s", value / KB, separator);
    else if (value < GB || value % GB != 0)
        fprintf(out, "%lldMB%s", value / MB, separator);
    else
        fprintf(out, "%lldGB%s", value / GB, separator);
}

namespace {

// The parameters of options that the report names only when they are given.
void print_added_parameters(FILE *out, int r, const bench_options *o)
{
    if (bench_option_given(*o, OPT_CHUNK_SIZE)) {
        fprintf(out, "rank %d: Chunk size in HDF5=", r);
        if (o->dim2d)
            print_size(out, o->chunk_size, "x");
        print_size(out, o->chunk_size, "\n");
    }
    if (bench_option_given(*o, OPT_DEFLATE))
        fprintf(out, "rank %d: Deflate level in HDF5=%d\n", r, o->deflate);
    if (bench_option_given(*o, OPT_DATA))
        fprintf(out, "rank %d: Data written=%s\n", r, bench_data_name(o->data));
    if (bench_option_given(*o, OPT_READ_SHIFT))
        fprintf(out, "rank %d: Read shift=%lld (taken modulo the number of processes P: rank r reads what rank "
                     "(r + %lld) mod P wrote)\n",
                r, o->read_shift, o->read_shift);
    if (bench_option_given(*o, OPT_DEADLINE))
        fprintf(out, "rank %d: Deadline of each write and read phase=%g s\n", r, o->deadline);
}

} // namespace

void print_hdf5_version(FILE *out)
{
    unsigned major = 0, minor = 0, release = 0;
    H5get_libversion(&major, &minor, &release);
    fprintf(out, "%s: Version %u.%u.%u%s%s\n", "HDF5 Library", major, minor, release, "", "");
}

void print_bench_parameters(const tessel_context &ctx, const bench_options *o)
{
    const int r = ctx.world_rank;
    FILE *out = ctx.out;
    const long long nb = o->num_bytes;
    const long long pmin = o->min_num_processes;
    const long long pmax = o->max_num_processes;

    print_hdf5_version(out);
    fprintf(out, "rank %d: ==== Parameters ====\n", r);

    fprintf(out, "rank %d: IO API=", r);
    if (o->api & API_POSIX)
        fprintf(out, "posix ");
    if (o->api & API_MPIIO)
        fprintf(out, "mpiio ");
    if (o->api & API_PHDF5)
        fprintf(out, "phdf5 ");
    fprintf(out, "\n");

    fprintf(out, "rank %d: Number of files=%ld\n", r, o->num_files);
    fprintf(out, "rank %d: Number of datasets=%ld\n", r, o->num_dsets);
    fprintf(out, "rank %d: Number of iterations=%d\n", r, o->num_iterations);
    fprintf(out, "rank %d: Number of processes=%d:%d\n", r, o->min_num_processes, o->max_num_processes);

    fprintf(out, "rank %d: Number of bytes per process per dataset=", r);
    if (o->dim2d) {
        print_size(out, product(nb, nb, pmin), ":");
        print_size(out, product(nb, nb, pmax), "\n");
    } else {
        print_size(out, nb, "\n");
    }

    fprintf(out, "rank %d: Size of dataset(s)=", r);
    if (o->dim2d) {
        print_size(out, product(pmin, nb), "x");
        print_size(out, product(pmin, nb), ":");
        print_size(out, product(pmax, nb), "x");
        print_size(out, product(pmax, nb), "\n");
    } else {
        print_size(out, product(pmin, nb), ":");
        print_size(out, product(pmax, nb), "\n");
    }

    fprintf(out, "rank %d: File size=", r);
    const auto dsets = static_cast<unsigned long long>(o->num_dsets);
    print_size(out, shown(bench_times(dsets, bench_dataset_bytes(*o, o->min_num_processes))), ":");
    print_size(out, shown(bench_times(dsets, bench_dataset_bytes(*o, o->max_num_processes))), "\n");

    fprintf(out, "rank %d: Transfer buffer size=", r);
    if (!o->dim2d) {
        print_size(out, o->min_xfer_size, ":");
        print_size(out, o->max_xfer_size, "\n");
    } else if (!o->interleaved) {
        print_size(out, o->block_size, "x");
        print_size(out, o->min_xfer_size, ":");
        print_size(out, o->block_size, "x");
        print_size(out, o->max_xfer_size, "\n");
    } else {
        print_size(out, o->min_xfer_size, "x");
        print_size(out, o->block_size, ":");
        print_size(out, o->max_xfer_size, "x");
        print_size(out, o->block_size, "\n");
    }

    fprintf(out, "rank %d: Block size=", r);
    if (o->dim2d) {
        print_size(out, o->block_size, "x");
        print_size(out, o->block_size, "\n");
    } else {
        print_size(out, o->block_size, "\n");
    }

    fprintf(out, "rank %d: Block Pattern in Dataset=%s", r, o->interleaved ? "Interleaved\n" : "Contiguous\n");
    fprintf(out, "rank %d: I/O Method for MPI and HDF5=%s", r, o->collective ? "Collective\n" : "Independent\n");
    fprintf(out, "rank %d: Geometry=%s", r, o->dim2d ? "2D\n" : "1D\n");
    fprintf(out, "rank %d: VFL used for HDF5 I/O=%s\n", r, "MPI-IO driver");
    fprintf(out, "rank %d: Data storage method in HDF5=%s", r, o->chunk ? "Chunked\n" : "Contiguous\n");
    print_added_parameters(out, r, o);
    fprintf(out, "rank %d: Env HDF5_PARAPREFIX=%s\n", r, ctx.prefix_set ? ctx.prefix.c_str() : "not set");
    fprintf(out, "rank %d: ", r);
    dump_mpi_info(out, ctx.hints);
    fprintf(out, "rank %d: ==== End of Parameters ====\n", r);
    fprintf(out, "\n");
    fflush(out);
}

void print_bench_usage(FILE *out)
{
    zarn_print_version(out, "tessel");
    fprintf(out, "usage: %s [OPTIONS]\n", "tessel");
    fprintf(out, "  OPTIONS\n");
    fprintf(out, "     -h, --help                  Print a usage message and exit\n");
    fprintf(out, "     -a S, --align=S             Alignment of objects in HDF5 file [default: 1]\n");
    fprintf(out, "     -A AL, --api=AL             Which APIs to test [default: all of them]\n");
    fprintf(out, "     -B S, --block-size=S        Block size within transfer buffer\n");
    fprintf(out, "                                 (see below for description)\n");
    fprintf(out, "                                 [default: half the number of bytes per process\n");
    fprintf(out, "                                           per dataset]\n");
    fprintf(out, "     -c, --chunk                 Create HDF5 datasets using chunked storage\n");
    fprintf(out, "                                 [default: contiguous storage]\n");
    fprintf(out, "     -C, --collective            Use collective I/O for MPI and HDF5 APIs\n");
    fprintf(out, "                                 [default: independent I/O)\n");
    fprintf(out, "     -d N, --num-dsets=N         Number of datasets per file [default: 1]\n");
    fprintf(out, "     -D DL, --debug=DL           Indicate the debugging level\n");
    fprintf(out, "                                 [default: no debugging]\n");
    fprintf(out, "     -e S, --num-bytes=S         Number of bytes per process per dataset\n");
    fprintf(out, "                                 (see below for description)\n");
    fprintf(out, "                                 [default: 256K for 1D, 8K for 2D]\n");
    fprintf(out, "     -F N, --num-files=N         Number of files [default: 1]\n");
    fprintf(out, "     -g, --geometry              Use 2D geometry [default: 1D geometry]\n");
    fprintf(out, "     -i N, --num-iterations=N    Number of iterations to perform [default: 1]\n");
    fprintf(out, "     -I, --interleaved           Interleaved access pattern\n");
    fprintf(out, "                                 (see below for example)\n");
    fprintf(out, "                                 [default: Contiguous access pattern]\n");
    fprintf(out, "     -o F, --output=F            Output raw data into file F [default: none]\n");
    fprintf(out, "     -p N, --min-num-processes=N Minimum number of processes to use [default: 1]\n");
    fprintf(out, "     -P N, --max-num-processes=N Maximum number of processes to use\n");
    fprintf(out, "                                 [default: all MPI_COMM_WORLD processes ]\n");
    fprintf(out, "     -T S, --threshold=S         Threshold for alignment of objects in HDF5 file\n");
    fprintf(out, "                                 [default: 1]\n");
    fprintf(out, "     -w, --write-only            Perform write tests not the read tests\n");
    fprintf(out, "     -x S, --min-xfer-size=S     Minimum transfer buffer size\n");
    fprintf(out, "                                 (see below for description)\n");
    fprintf(out, "                                 [default: half the number of bytes per process\n");
    fprintf(out, "                                           per dataset]\n");
    fprintf(out, "     -X S, --max-xfer-size=S     Maximum transfer buffer size\n");
    fprintf(out, "                                 [default: the number of bytes per process per\n");
    fprintf(out, "                                           dataset]\n");
    fprintf(out, "     --json=F                    Write every measurement and the run's details\n");
    fprintf(out, "                                 as JSON into file F\n");
    fprintf(out, "     --csv=F                     Write every measurement as CSV into file F\n");
    fprintf(out, "     --read-shift=N              Rank r reads back what rank (r + N) mod P wrote\n");
    fprintf(out, "                                 [default: 0, its own data]\n");
    fprintf(out, "     --chunk-size=S              Side of the HDF5 chunks, with -c\n");
    fprintf(out, "                                 [default: the block size]\n");
    fprintf(out, "     --deflate=N                 Compress HDF5 datasets with gzip level N (1-9),\n");
    fprintf(out, "                                 with -c and -C [default: no compression]\n");
    fprintf(out, "     --data=D                    What is written: zeros, random (incompressible)\n");
    fprintf(out, "                                 or pattern (half of every 64 bytes random)\n");
    fprintf(out, "                                 [default: zeros]\n");
    fprintf(out, "     --deadline=SECONDS          Stop each write and read phase at the first\n");
    fprintf(out, "                                 transfer after SECONDS, on every process\n");
    fprintf(out, "                                 [default: no deadline]\n");
    fprintf(out, "     --progress[=0|1]            One line on standard error per finished\n");
    fprintf(out, "                                 measurement; 0 turns it off [default: on\n");
    fprintf(out, "                                 when standard error is a terminal]\n");
    fprintf(out, "\n");
    fprintf(out, "  F  - is a filename.\n");
    fprintf(out, "  N  - is an integer >=0.\n");
    fprintf(out, "  S  - is a size specifier, an integer >=0 followed by a size indicator:\n");
    fprintf(out, "          K - Kilobyte (%d)\n", 1024);
    fprintf(out, "          M - Megabyte (%d)\n", 1048576);
    fprintf(out, "          G - Gigabyte (%d)\n", 1073741824);
    fprintf(out, "      Example: '37M' is 37 megabytes or %d bytes\n", 38797312);
    fprintf(out, "\n");
    fprintf(out, "  AL - is an API list. Valid values are:\n");
    fprintf(out, "          phdf5 - Parallel HDF5\n");
    fprintf(out, "          mpiio - MPI-I/O\n");
    fprintf(out, "          posix - POSIX\n");
    fprintf(out, "      Example: --api=mpiio,phdf5\n");
    fprintf(out, "\n");
    fprintf(out, "  Dataset size:\n");
    fprintf(out, "    Depending on the selected geometry, each test dataset is either a linear\n");
    fprintf(out, "    array of size bytes-per-process * num-processes, or a square array of size\n");
    fprintf(out, "    (bytes-per-process * num-processes) x (bytes-per-process * num-processes).\n");
    fprintf(out, "\n");
    fprintf(out, "  Block size vs. Transfer buffer size:\n");
    fprintf(out, "    The transfer buffer size is the size of the buffer each process uses for\n");
    fprintf(out, "    one I/O request. The buffer holds whole blocks: the transfer buffer size\n");
    fprintf(out, "    must be a multiple of the block size. In 2D geometry a transfer moves\n");
    fprintf(out, "    block size x transfer buffer size bytes.\n");
    fprintf(out, "\n");
    fprintf(out, "  Interleaved and Contiguous patterns in 1D geometry:\n");
    fprintf(out, "    When contiguous access pattern is chosen, the dataset is evenly divided\n");
    fprintf(out, "    into num-processes parts, each process writes its part contiguously.\n");
    fprintf(out, "    When interleaved access pattern is chosen, the dataset is divided into\n");
    fprintf(out, "    blocks and the processes write alternating blocks.\n");
    fprintf(out, "    Example: 3 processes, 512KB bytes-per-process, 256KB transfer buffer size,\n");
    fprintf(out, "    and 64KB block size; each character below stands for one 64KB block, and\n");
    fprintf(out, "    the digits show which process writes it in the first transfer request:\n");
    fprintf(out, "      Contiguous pattern in the dataset:\n");
    fprintf(out, "              1111----2222----3333----\n");
    fprintf(out, "      Interleaved pattern in the dataset:\n");
    fprintf(out, "              123123123123------------\n");
    fprintf(out, "\n");
    fprintf(out, "  DL - is a list of debugging flags. Valid values are:\n");
    fprintf(out, "          1 - Minimal\n");
    fprintf(out, "          2 - Not quite everything\n");
    fprintf(out, "          3 - Everything\n");
    fprintf(out, "          4 - The kitchen sink\n");
    fprintf(out, "          r - Raw data I/O throughput information\n");
    fprintf(out, "          t - Times as well as throughputs\n");
    fprintf(out, "          v - Verify data correctness\n");
    fprintf(out, "      Example: --debug=2,r,t\n");
    fprintf(out, "\n");
    fprintf(out, "  Environment variables:\n");
    fprintf(out, "  HDF5_NOCLEANUP   Do not remove data files if set [default remove]\n");
    fprintf(out, "  HDF5_MPI_INFO    MPI INFO object key=value separated by ;\n");
    fprintf(out, "  HDF5_PARAPREFIX  Parallel data files prefix\n");
    fflush(out);
}
