// The tessel command line, derived sizes, parameters report and usage text.
#include "tessel_options.hpp"

#include "mpi_info.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

FILE *bench_output = stdout;
int bench_debug_level = 0;
MPI_Comm bench_comm = MPI_COMM_WORLD;
int bench_world_size = 1;
int bench_world_rank = 0;
int bench_nprocs = 1;
int bench_rank = 0;

namespace {

constexpr const char *SHORT_OPTIONS = "a:A:B:cCd:D:e:F:ghi:Imno:p:P:stT:wx:X:";

constexpr zarn_long_option LONG_OPTIONS[] = {
    {"align", arg_required, 'a'},
    {"api", arg_required, 'A'},
    {"block-size", arg_required, 'B'},
    {"chunk", arg_none, 'c'},
    {"collective", arg_none, 'C'},
    {"debug", arg_required, 'D'},
    {"geometry", arg_none, 'g'},
    {"help", arg_none, 'h'},
    {"interleaved", arg_required, 'I'},
    {"max-num-processes", arg_required, 'P'},
    {"min-num-processes", arg_required, 'p'},
    {"max-xfer-size", arg_required, 'X'},
    {"min-xfer-size", arg_required, 'x'},
    {"num-bytes", arg_required, 'e'},
    {"num-dsets", arg_required, 'd'},
    {"num-files", arg_required, 'F'},
    {"num-iterations", arg_required, 'i'},
    {"output", arg_required, 'o'},
    {"threshold", arg_required, 'T'},
    {"write-only", arg_required, 'w'},
    {nullptr, 0, 0},
};

constexpr size_t LIST_ITEM_MAX = 10;

// The next comma-separated item of *cursor, keeping at most 10 letters and
// digits; *cursor moves past the item and its comma (nullptr after the last).
std::string next_list_item(const char **cursor)
{
    const char *p = *cursor;
    const char *comma = std::strchr(p, ',');
    const char *end = comma ? comma : p + std::strlen(p);
    std::string kept;
    for (; p < end && kept.size() < LIST_ITEM_MAX; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p)))
            kept += *p;
    *cursor = comma ? comma + 1 : nullptr;
    return kept;
}

bool all_digits(const std::string &text)
{
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

unsigned long long as_unsigned(long long v)
{
    return static_cast<unsigned long long>(v);
}

// Product for the report: sizes near the top of the range wrap around
// instead of overflowing a signed type.
long long product(long long a, long long b, long long c = 1, long long d = 1)
{
    return static_cast<long long>(as_unsigned(a) * as_unsigned(b) * as_unsigned(c) * as_unsigned(d));
}

} // namespace

bench_options bench_default_options(int world_size)
{
    bench_options o{};
    o.api = 0;
    o.output = nullptr;
    o.num_dsets = 1;
    o.num_files = 1;
    o.num_bytes = 0;
    o.num_iterations = 1;
    o.max_num_processes = world_size;
    o.min_num_processes = 1;
    o.align = 1;
    o.threshold = 1;
    return o;
}

int parse_size_text(const char *text, long long *size, char *bad)
{
    char *end = nullptr;
    long long value = std::strtol(text, &end, 10);
    if (*end == '\0') {
        *size = value;
        return 0;
    }
    while (*end == ' ' || *end == '\t')
        ++end;
    unsigned shift = 0;
    switch (*end) {
    case 'K': case 'k': shift = 10; break;
    case 'M': case 'm': shift = 20; break;
    case 'G': case 'g': shift = 30; break;
    default:
        *bad = *end;
        return -1;
    }
    *size = static_cast<long long>(as_unsigned(value) << shift);
    return 0;
}

long long parse_size(const char *text)
{
    long long size = 0;
    char bad = 0;
    if (parse_size_text(text, &size, &bad) < 0) {
        fprintf(stderr, "Illegal size specifier '%c'\n", bad);
        std::exit(1);
    }
    return size;
}

int parse_api_list(const char *text, uint64_t *api, std::string *bad)
{
    for (const char *cursor = text; cursor != nullptr;) {
        std::string item = next_list_item(&cursor);
        if (strcasecmp(item.c_str(), "phdf5") == 0)
            *api |= API_PHDF5;
        else if (strcasecmp(item.c_str(), "mpiio") == 0)
            *api |= API_MPIIO;
        else if (strcasecmp(item.c_str(), "posix") == 0)
            *api |= API_POSIX;
        else {
            *bad = item;
            return -1;
        }
    }
    return 0;
}

int parse_debug_list(const char *text, bench_options *options, int *level, std::string *bad)
{
    for (const char *cursor = text; cursor != nullptr;) {
        std::string item = next_list_item(&cursor);
        if (item.size() > 1 || (!item.empty() && std::isdigit(static_cast<unsigned char>(item[0])))) {
            if (!all_digits(item)) {
                *bad = item;
                return -1;
            }
            long long value = std::strtoll(item.c_str(), nullptr, 10);
            *level = static_cast<int>(value > 4 ? 4 : value);
        } else if (item == "v") {
            options->verify = 1;
        } else if (item == "t") {
            options->print_times = 1;
        } else if (item == "r") {
            options->print_raw = 1;
        } else {
            *bad = item;
            return -1;
        }
    }
    return 0;
}

void derive_bench_options(bench_options *o)
{
    if (o->num_bytes == 0)
        o->num_bytes = o->dim2d ? 8192 : 262144;
    if (o->max_xfer_size == 0)
        o->max_xfer_size = o->num_bytes;
    if (o->min_xfer_size == 0)
        o->min_xfer_size = o->num_bytes / 2;
    if (o->block_size == 0)
        o->block_size = o->num_bytes / 2;
    if (o->api == 0)
        o->api = API_ALL;
    if (!o->dim2d) {
        if (as_unsigned(o->min_xfer_size) > as_unsigned(o->num_bytes))
            o->min_xfer_size = o->num_bytes;
        if (as_unsigned(o->max_xfer_size) > as_unsigned(o->num_bytes))
            o->max_xfer_size = o->num_bytes;
    }
    if (as_unsigned(o->min_xfer_size) > as_unsigned(o->max_xfer_size))
        o->min_xfer_size = o->max_xfer_size;
    if (as_unsigned(o->block_size) > as_unsigned(o->num_bytes))
        o->block_size = o->num_bytes;
    if (o->min_num_processes < 1)
        o->min_num_processes = 1;
    if (o->max_num_processes < 1)
        o->max_num_processes = 1;
    if (o->min_num_processes > o->max_num_processes)
        o->min_num_processes = o->max_num_processes;
    if (o->num_iterations < 1)
        o->num_iterations = 1;
}

int parse_bench_command_line(int argc, const char *const *argv, bench_options *o)
{
    for (;;) {
        int c = zarn_scan_option(argc, argv, SHORT_OPTIONS, LONG_OPTIONS);
        if (c == -1)
            break;
        const char *arg = zarn_opt_arg;
        std::string bad;
        switch (c) {
        case 'A':
            if (arg != nullptr && parse_api_list(arg, &o->api, &bad) < 0) {
                fprintf(stderr, "tesselrun: invalid --api option %s\n", bad.c_str());
                std::exit(1);
            }
            break;
        case 'D':
            if (arg != nullptr && parse_debug_list(arg, o, &bench_debug_level, &bad) < 0) {
                fprintf(stderr, "tesselrun: invalid --debug option %s\n", bad.c_str());
                std::exit(1);
            }
            break;
        case 'o':
            if (arg != nullptr)
                o->output = arg;
            break;
        case 'c': o->chunk = 1; break;
        case 'C': o->collective = 1; break;
        case 'g': o->dim2d = 1; break;
        case 'I': o->interleaved = 1; break;
        case 'w': o->write_only = 1; break;
        case 'a': case 'B': case 'e': case 'T': case 'x': case 'X':
        case 'd': case 'F': case 'i': case 'p': case 'P':
            // A long option of kind required may arrive without its value;
            // it is refused like an unknown option rather than converted.
            if (arg == nullptr)
                return 1;
            switch (c) {
            case 'a': o->align = parse_size(arg); break;
            case 'B': o->block_size = parse_size(arg); break;
            case 'e': o->num_bytes = parse_size(arg); break;
            case 'T': o->threshold = parse_size(arg); break;
            case 'x': o->min_xfer_size = parse_size(arg); break;
            case 'X': o->max_xfer_size = parse_size(arg); break;
            case 'd': o->num_dsets = std::atoi(arg); break;
            case 'F': o->num_files = std::atoi(arg); break;
            case 'i': o->num_iterations = std::atoi(arg); break;
            case 'p': o->min_num_processes = std::atoi(arg); break;
            case 'P': o->max_num_processes = std::atoi(arg); break;
            }
            break;
        default: // h, m, n, s, t and '?'
            return 1;
        }
    }
    derive_bench_options(o);
    return 0;
}

void print_size(long long value, const char *separator)
{
    constexpr long long KB = 1024, MB = 1048576, GB = 1073741824;
    if (value < KB || value % KB != 0)
        fprintf(bench_output, "%lld%s", value, separator);
    else if (value < MB || value % MB != 0)
        fprintf(bench_output, "%lldKB%s", value / KB, separator);
    else if (value < GB || value % GB != 0)
        fprintf(bench_output, "%lldMB%s", value / MB, separator);
    else
        fprintf(bench_output, "%lldGB%s", value / GB, separator);
}

void print_bench_parameters(const bench_options *o)
{
    const int r = bench_world_rank;
    FILE *out = bench_output;
    const long long nb = o->num_bytes;
    const long long pmin = o->min_num_processes;
    const long long pmax = o->max_num_processes;

    zarn_print_version("HDF5 Library");
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
        print_size(product(nb, nb, pmin), ":");
        print_size(product(nb, nb, pmax), "\n");
    } else {
        print_size(nb, "\n");
    }

    fprintf(out, "rank %d: Size of dataset(s)=", r);
    if (o->dim2d) {
        print_size(product(pmin, nb), "x");
        print_size(product(pmin, nb), ":");
        print_size(product(pmax, nb), "x");
        print_size(product(pmax, nb), "\n");
    } else {
        print_size(product(pmin, nb), ":");
        print_size(product(pmax, nb), "\n");
    }

    fprintf(out, "rank %d: File size=", r);
    if (o->dim2d) {
        print_size(product(o->num_dsets, product(pmin, nb), product(pmin, nb)), ":");
        print_size(product(o->num_dsets, product(pmax, nb), product(pmax, nb)), "\n");
    } else {
        print_size(product(pmin, nb, o->num_dsets), ":");
        print_size(product(pmax, nb, o->num_dsets), "\n");
    }

    fprintf(out, "rank %d: Transfer buffer size=", r);
    if (!o->dim2d) {
        print_size(o->min_xfer_size, ":");
        print_size(o->max_xfer_size, "\n");
    } else if (!o->interleaved) {
        print_size(o->block_size, "x");
        print_size(o->min_xfer_size, ":");
        print_size(o->block_size, "x");
        print_size(o->max_xfer_size, "\n");
    } else {
        print_size(o->min_xfer_size, "x");
        print_size(o->block_size, ":");
        print_size(o->max_xfer_size, "x");
        print_size(o->block_size, "\n");
    }

    fprintf(out, "rank %d: Block size=", r);
    if (o->dim2d) {
        print_size(o->block_size, "x");
        print_size(o->block_size, "\n");
    } else {
        print_size(o->block_size, "\n");
    }

    fprintf(out, "rank %d: Block Pattern in Dataset=%s", r, o->interleaved ? "Interleaved\n" : "Contiguous\n");
    fprintf(out, "rank %d: I/O Method for MPI and HDF5=%s", r, o->collective ? "Collective\n" : "Independent\n");
    fprintf(out, "rank %d: Geometry=%s", r, o->dim2d ? "2D\n" : "1D\n");
    fprintf(out, "rank %d: VFL used for HDF5 I/O=%s\n", r, "MPI-IO driver");
    fprintf(out, "rank %d: Data storage method in HDF5=%s", r, o->chunk ? "Chunked\n" : "Contiguous\n");
    const char *prefix = std::getenv("HDF5_PARAPREFIX");
    fprintf(out, "rank %d: Env HDF5_PARAPREFIX=%s\n", r, prefix ? prefix : "not set");
    fprintf(out, "rank %d: ", r);
    // The dump goes to standard output; keep the prefix ahead of it.
    fflush(out);
    dump_mpi_info(bench_info);
    fflush(stdout);
    fprintf(out, "rank %d: ==== End of Parameters ====\n", r);
    fprintf(out, "\n");
    fflush(out);
}

void print_bench_usage()
{
    if (bench_world_rank != 0)
        return;
    zarn_print_version("tessel");
    printf("usage: %s [OPTIONS]\n", "tessel");
    printf("  OPTIONS\n");
    printf("     -h, --help                  Print a usage message and exit\n");
    printf("     -a S, --align=S             Alignment of objects in HDF5 file [default: 1]\n");
    printf("     -A AL, --api=AL             Which APIs to test [default: all of them]\n");
    printf("     -B S, --block-size=S        Block size within transfer buffer\n");
    printf("                                 (see below for description)\n");
    printf("                                 [default: half the number of bytes per process\n");
    printf("                                           per dataset]\n");
    printf("     -c, --chunk                 Create HDF5 datasets using chunked storage\n");
    printf("                                 [default: contiguous storage]\n");
    printf("     -C, --collective            Use collective I/O for MPI and HDF5 APIs\n");
    printf("                                 [default: independent I/O)\n");
    printf("     -d N, --num-dsets=N         Number of datasets per file [default: 1]\n");
    printf("     -D DL, --debug=DL           Indicate the debugging level\n");
    printf("                                 [default: no debugging]\n");
    printf("     -e S, --num-bytes=S         Number of bytes per process per dataset\n");
    printf("                                 (see below for description)\n");
    printf("                                 [default: 256K for 1D, 8K for 2D]\n");
    printf("     -F N, --num-files=N         Number of files [default: 1]\n");
    printf("     -g, --geometry              Use 2D geometry [default: 1D geometry]\n");
    printf("     -i N, --num-iterations=N    Number of iterations to perform [default: 1]\n");
    printf("     -I, --interleaved           Interleaved access pattern\n");
    printf("                                 (see below for example)\n");
    printf("                                 [default: Contiguous access pattern]\n");
    printf("     -o F, --output=F            Output raw data into file F [default: none]\n");
    printf("     -p N, --min-num-processes=N Minimum number of processes to use [default: 1]\n");
    printf("     -P N, --max-num-processes=N Maximum number of processes to use\n");
    printf("                                 [default: all MPI_COMM_WORLD processes ]\n");
    printf("     -T S, --threshold=S         Threshold for alignment of objects in HDF5 file\n");
    printf("                                 [default: 1]\n");
    printf("     -w, --write-only            Perform write tests not the read tests\n");
    printf("     -x S, --min-xfer-size=S     Minimum transfer buffer size\n");
    printf("                                 (see below for description)\n");
    printf("                                 [default: half the number of bytes per process\n");
    printf("                                           per dataset]\n");
    printf("     -X S, --max-xfer-size=S     Maximum transfer buffer size\n");
    printf("                                 [default: the number of bytes per process per\n");
    printf("                                           dataset]\n");
    printf("\n");
    printf("  F  - is a filename.\n");
    printf("  N  - is an integer >=0.\n");
    printf("  S  - is a size specifier, an integer >=0 followed by a size indicator:\n");
    printf("          K - Kilobyte (%d)\n", 1024);
    printf("          M - Megabyte (%d)\n", 1048576);
    printf("          G - Gigabyte (%d)\n", 1073741824);
    printf("      Example: '37M' is 37 megabytes or %d bytes\n", 38797312);
    printf("\n");
    printf("  AL - is an API list. Valid values are:\n");
    printf("          phdf5 - Parallel HDF5\n");
    printf("          mpiio - MPI-I/O\n");
    printf("          posix - POSIX\n");
    printf("      Example: --api=mpiio,phdf5\n");
    printf("\n");
    printf("  Dataset size:\n");
    printf("    Depending on the selected geometry, each test dataset is either a linear\n");
    printf("    array of size bytes-per-process * num-processes, or a square array of size\n");
    printf("    (bytes-per-process * num-processes) x (bytes-per-process * num-processes).\n");
    printf("\n");
    printf("  Block size vs. Transfer buffer size:\n");
    printf("    The transfer buffer size is the size of the buffer each process uses for\n");
    printf("    one I/O request. The buffer holds whole blocks: the transfer buffer size\n");
    printf("    must be a multiple of the block size. In 2D geometry a transfer moves\n");
    printf("    block size x transfer buffer size bytes.\n");
    printf("\n");
    printf("  Interleaved and Contiguous patterns in 1D geometry:\n");
    printf("    When contiguous access pattern is chosen, the dataset is evenly divided\n");
    printf("    into num-processes parts, each process writes its part contiguously.\n");
    printf("    When interleaved access pattern is chosen, the dataset is divided into\n");
    printf("    blocks and the processes write alternating blocks.\n");
    printf("    Example: 3 processes, 512KB bytes-per-process, 256KB transfer buffer size,\n");
    printf("    and 64KB block size; each character below stands for one 64KB block, and\n");
    printf("    the digits show which process writes it in the first transfer request:\n");
    printf("      Contiguous pattern in the dataset:\n");
    printf("              1111----2222----3333----\n");
    printf("      Interleaved pattern in the dataset:\n");
    printf("              123123123123------------\n");
    printf("\n");
    printf("  DL - is a list of debugging flags. Valid values are:\n");
    printf("          1 - Minimal\n");
    printf("          2 - Not quite everything\n");
    printf("          3 - Everything\n");
    printf("          4 - The kitchen sink\n");
    printf("          r - Raw data I/O throughput information\n");
    printf("          t - Times as well as throughputs\n");
    printf("          v - Verify data correctness\n");
    printf("      Example: --debug=2,r,t\n");
    printf("\n");
    printf("  Environment variables:\n");
    printf("  HDF5_NOCLEANUP   Do not remove data files if set [default remove]\n");
    printf("  HDF5_MPI_INFO    MPI INFO object key=value separated by ;\n");
    printf("  HDF5_PARAPREFIX  Parallel data files prefix\n");
    fflush(stdout);
}
