// Up-front checks of the command line and of where the test files go.
#include "tessel_checks.hpp"

#include "pio_names.hpp"
#include "tessel_text.hpp"

#include <hdf5.h>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned long long FILE_SIZE_MAX = LLONG_MAX; // the largest offset of a file

unsigned long long times(unsigned long long a, unsigned long long b)
{
    return bench_times(a, b);
}

unsigned long long sat_add(unsigned long long a, unsigned long long b)
{
    unsigned long long r = 0;
    return __builtin_add_overflow(a, b, &r) ? ULLONG_MAX : r;
}

// A size in bytes, KiB, MiB ...: exact where a unit divides it, else the
// largest unit below it with one decimal.
std::string size_text(unsigned long long v)
{
    const char *units[] = {" bytes", " KiB", " MiB", " GiB", " TiB", " PiB", " EiB"};
    int exact = 0;
    unsigned long long e = v;
    while (exact < 6 && e >= 1024 && e % 1024 == 0) {
        e /= 1024;
        ++exact;
    }
    int u = 0;
    double d = static_cast<double>(v);
    while (u < 6 && d >= 1024.0) {
        d /= 1024.0;
        ++u;
    }
    if (u == exact)
        return std::to_string(e) + units[u];
    char text[64];
    std::snprintf(text, sizeof text, "%.1f%s", d, units[u]);
    return text;
}

struct value_rule {
    const char *name; // as the command line writes it
    char letter;
    const char *what;
    long long minimum, maximum;
    bool when_given;  // the default stands for "not used" and is not checked
    long long (*value)(const bench_options &);
};

template <class T> constexpr long long as_ll(T v)
{
    return static_cast<long long>(v);
}

// Sizes and counts with their range. -x, -X and -B also hold their derived
// defaults after derivation.
constexpr value_rule VALUE_RULES[] = {
    {"-e", 'e', "bytes per process per dataset", 1, LLONG_MAX, false, [](const bench_options &o) { return o.num_bytes; }},
    {"-x", 'x', "smallest transfer buffer size", 1, LLONG_MAX, false, [](const bench_options &o) { return o.min_xfer_size; }},
    {"-X", 'X', "largest transfer buffer size", 1, LLONG_MAX, false, [](const bench_options &o) { return o.max_xfer_size; }},
    {"-B", 'B', "block size", 1, LLONG_MAX, false, [](const bench_options &o) { return o.block_size; }},
    {"-a", 'a', "alignment", 1, LLONG_MAX, false, [](const bench_options &o) { return o.align; }},
    {"-T", 'T', "alignment threshold", 0, LLONG_MAX, false, [](const bench_options &o) { return o.threshold; }},
    {"-d", 'd', "datasets per file", 1, LLONG_MAX, false, [](const bench_options &o) { return as_ll(o.num_dsets); }},
    {"-F", 'F', "number of files", 1, LLONG_MAX, false, [](const bench_options &o) { return as_ll(o.num_files); }},
    {"-i", 'i', "iterations", 1, LLONG_MAX, false, [](const bench_options &o) { return as_ll(o.num_iterations); }},
    {"-p", 'p', "smallest process count", 1, LLONG_MAX, false,
     [](const bench_options &o) { return as_ll(o.min_num_processes); }},
    {"-P", 'P', "largest process count", 1, LLONG_MAX, false,
     [](const bench_options &o) { return as_ll(o.max_num_processes); }},
    {"--chunk-size", OPT_CHUNK_SIZE, "side of an HDF5 chunk", 1, LLONG_MAX, true,
     [](const bench_options &o) { return o.chunk_size; }},
    {"--deflate", OPT_DEFLATE, "gzip level", 1, 9, true, [](const bench_options &o) { return as_ll(o.deflate); }},
};

struct order_rule {
    char low, high;
    const char *low_what, *high_what, *high_default;
    long long (*low_value)(const bench_options &);
    long long (*high_value)(const bench_options &);
};

// Pairs whose first value must not exceed the second.
constexpr order_rule ORDER_RULES[] = {
    {'x', 'X', "smallest transfer buffer size", "largest transfer buffer size", "-e",
     [](const bench_options &o) { return o.min_xfer_size; }, [](const bench_options &o) { return o.max_xfer_size; }},
    {'p', 'P', "smallest process count", "largest process count", "the number of processes",
     [](const bench_options &o) { return static_cast<long long>(o.min_num_processes); },
     [](const bench_options &o) { return static_cast<long long>(o.max_num_processes); }},
};

// The smallest process count of -P down to -p (halving) that fits in
// world_size processes, or 0 when none does.
int smallest_count(const bench_options &o, int world_size)
{
    int smallest = 0;
    for (int n = o.max_num_processes; n >= o.min_num_processes && n > 0; n /= 2)
        if (n <= world_size)
            smallest = n;
    return smallest;
}

// Options that need others, or exclude them.
std::string check_combinations(const bench_options &o, int world_size)
{
    const bool chunk_size = bench_option_given(o, OPT_CHUNK_SIZE);
    const bool deflate = bench_option_given(o, OPT_DEFLATE);
    if (chunk_size && !o.chunk)
        return "tessel: --chunk-size needs chunked datasets (-c)";
    if (deflate && !o.chunk)
        return "tessel: --deflate needs chunked datasets (-c): HDF5 compresses a dataset chunk by chunk";
    if (deflate && !(o.api & API_PHDF5))
        return "tessel: --deflate compresses HDF5 datasets only: add phdf5 to -A";
    if (deflate && !o.collective)
        return "tessel: --deflate needs collective I/O (-C): parallel HDF5 writes compressed datasets only "
               "collectively";
    if (deflate && H5Zfilter_avail(H5Z_FILTER_DEFLATE) <= 0)
        return "tessel: --deflate: the HDF5 library in use has no deflate filter";
    if (bench_option_given(o, OPT_DATA) && o.verify)
        return "tessel: --data cannot be combined with --debug=v: verification writes each rank's own byte value";
    if (bench_option_given(o, OPT_READ_SHIFT) && o.write_only)
        return "tessel: --read-shift needs the read phase: leave out -w";
    if (o.chunk && (o.api & API_PHDF5)) {
        // HDF5 chunks fit in their dataset and stay below 4 GiB.
        const long long side = chunk_size ? o.chunk_size : o.block_size;
        const int count = smallest_count(o, world_size);
        const unsigned long long dataset_side = times(static_cast<unsigned long long>(o.num_bytes),
                                                      static_cast<unsigned>(count));
        const char *what = chunk_size ? "--chunk-size" : "-B (the chunk side without --chunk-size)";
        if (static_cast<unsigned long long>(side) > dataset_side)
            return tessel_text_of("tessel: %s %lld is larger than the side of the datasets at %d process(es), %llu "
                                  "bytes",
                                  what, side, count, dataset_side);
        const unsigned long long chunk = o.dim2d ? times(static_cast<unsigned long long>(side),
                                                         static_cast<unsigned long long>(side))
                                                 : static_cast<unsigned long long>(side);
        if (chunk >= (1ULL << 32))
            return tessel_text_of("tessel: %s %lld makes chunks of %s, but HDF5 chunks must stay below 4 GiB", what,
                                  side, size_text(chunk).c_str());
    }
    return "";
}

} // namespace

int tessel_largest_count(const bench_options &o, int world_size)
{
    for (int n = o.max_num_processes; n >= o.min_num_processes && n > 0; n /= 2)
        if (n <= world_size)
            return n;
    return 0;
}

std::string tessel_check_values(const bench_options &o, bool given_only)
{
    for (const value_rule &r : VALUE_RULES) {
        if ((given_only || r.when_given) && !bench_option_given(o, r.letter))
            continue;
        const long long v = r.value(o);
        if (r.maximum != LLONG_MAX && (v < r.minimum || v > r.maximum))
            return tessel_text_of("tessel: %s (%s) must be from %lld to %lld, not %lld", r.name, r.what, r.minimum,
                                  r.maximum, v);
        if (v < r.minimum)
            return tessel_text_of("tessel: %s (%s) must be at least %lld, not %lld", r.name, r.what, r.minimum, v);
    }
    if (bench_option_given(o, OPT_DEADLINE) && !(o.deadline > 0))
        return tessel_text_of("tessel: --deadline (seconds per phase) must be more than 0, not %g", o.deadline);
    for (const order_rule &r : ORDER_RULES) {
        const bool high_given = bench_option_given(o, r.high);
        if (given_only && !(bench_option_given(o, r.low) && high_given))
            continue;
        if (r.low_value(o) <= r.high_value(o))
            continue;
        std::string refused = tessel_text_of("tessel: -%c (%s) must not be larger than -%c (%s): %lld > %lld", r.low,
                                             r.low_what, r.high, r.high_what, r.low_value(o), r.high_value(o));
        if (!high_given)
            refused += tessel_text_of(" (-%c is by default %s)", r.high, r.high_default);
        return refused;
    }
    return "";
}

std::string tessel_check_sizes(const bench_options &o, int world_size)
{
    if (std::string refused = tessel_check_values(o, false); !refused.empty())
        return refused;

    const int count = tessel_largest_count(o, world_size);
    if (count == 0)
        return tessel_text_of("tessel: no process count from -P %d down to -p %d (halving) is at most the %d "
                       "process(es) of MPI_COMM_WORLD",
                       o.max_num_processes, o.min_num_processes, world_size);

    // The largest dataset and file of the run, and the 2D transfer buffer,
    // must be addressable as file offsets.
    const unsigned long long dataset = bench_dataset_bytes(o, count);
    if (dataset > FILE_SIZE_MAX)
        return tessel_text_of("tessel: -e %lld makes %s datasets of more than %llu bytes (the largest file size) at %d "
                       "processes; make -e smaller",
                       o.num_bytes, o.dim2d ? "2D" : "1D", FILE_SIZE_MAX, count);
    if (times(dataset, static_cast<unsigned long long>(o.num_dsets)) > FILE_SIZE_MAX)
        return tessel_text_of("tessel: -d %ld datasets of %s make a file of more than %llu bytes (the largest file "
                       "size); make -d or -e smaller",
                       o.num_dsets, size_text(dataset).c_str(), FILE_SIZE_MAX);
    if (o.dim2d && times(static_cast<unsigned long long>(o.block_size),
                         static_cast<unsigned long long>(o.max_xfer_size)) > FILE_SIZE_MAX)
        return tessel_text_of("tessel: a 2D transfer buffer of -B %lld x -X %lld bytes is larger than %llu bytes; make "
                       "-B or -X smaller",
                       o.block_size, o.max_xfer_size, FILE_SIZE_MAX);
    return check_combinations(o, world_size);
}

unsigned long long tessel_bytes_needed(const bench_options &o, int world_size, bool keep_files)
{
    if (o.num_files <= 0)
        return 0;
    const unsigned long long dataset = bench_dataset_bytes(o, tessel_largest_count(o, world_size));
    const auto dsets = static_cast<unsigned long long>(o.num_dsets);
    const unsigned long long data = times(dataset, dsets);
    // An HDF5 file also holds its metadata: the superblock, the root group
    // and its heaps, and for each dataset an object header, the padding
    // before aligned data and, when chunked, the chunk index (generous
    // figures: the check must not let a file through that cannot fit).
    unsigned long long hdf5 = data;
    if (o.api & API_PHDF5) {
        unsigned long long per_dataset = 4096 + (o.align > 1 ? static_cast<unsigned long long>(o.align) : 0);
        if (o.chunk) {
            const auto side = static_cast<unsigned long long>(o.block_size);
            const unsigned long long chunk = o.dim2d ? times(side, side) : side;
            per_dataset = sat_add(per_dataset, times(dataset / (chunk == 0 ? 1 : chunk) + 1, 64));
        }
        hdf5 = sat_add(sat_add(data, 65536), times(per_dataset, dsets));
    }
    if (!keep_files)
        return o.api & API_PHDF5 ? hdf5 : data;
    // Every file of every interface stays.
    const int plain = std::popcount(o.api & (API_POSIX | API_MPIIO));
    const unsigned long long all = sat_add(times(data, static_cast<unsigned long long>(plain)),
                                           o.api & API_PHDF5 ? hdf5 : 0);
    return times(all, static_cast<unsigned long long>(o.num_files));
}

std::string tessel_check_files(const tessel_context &ctx, const bench_options &o, int world_size)
{
    const bool has_prefix = !ctx.prefix.empty();
    const char *prefix = ctx.prefix.c_str();
    if (has_prefix) {
        const char *user = ctx.user_variable != nullptr ? ctx.user.c_str() : nullptr;
        const std::string problem = pio_user_name_problem(user);
        if (!problem.empty())
            return tessel_text_of("tessel: the user name \"%s\" (%s) %s: it must name a directory inside HDF5_PARAPREFIX",
                                  tessel_printable(ctx.user).c_str(), ctx.user_variable, problem.c_str());
        // The longest name: prefix, user, the last file number, ".posix".
        std::string longest = ctx.prefix + "/" + ctx.user + "/#pio_tmp_" + std::to_string(o.num_files) + ".posix";
        if (longest.size() > PIO_NAME_MAX)
            return tessel_text_of("tessel: HDF5_PARAPREFIX is too long: the test file names must be at most %zu "
                                  "characters",
                                  PIO_NAME_MAX);
        // The folder of the test files must be there to write in.
        struct stat st{};
        if (stat(prefix, &st) != 0)
            return tessel_text_of("tessel: HDF5_PARAPREFIX %s cannot be used: %s", tessel_printable(prefix).c_str(),
                                  std::strerror(errno));
        if (!S_ISDIR(st.st_mode))
            return tessel_text_of("tessel: HDF5_PARAPREFIX %s is not a directory", tessel_printable(prefix).c_str());
        if (access(prefix, W_OK | X_OK) != 0)
            return tessel_text_of("tessel: HDF5_PARAPREFIX %s is not writable: %s", tessel_printable(prefix).c_str(),
                                  std::strerror(errno));
    }
    const bool keep_files = ctx.keep_files;
    const unsigned long long needed = tessel_bytes_needed(o, world_size, keep_files);
    if (needed == 0)
        return "";
    // The files go in the user's directory when it exists (it may be a
    // file system of its own), else in the prefix.
    std::string dir = pio_prefix_directory(ctx);
    struct stat st{};
    if (has_prefix && ctx.user_variable != nullptr && stat((dir + "/" + ctx.user).c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode))
        dir += "/" + ctx.user;
    struct statvfs fs{};
    if (statvfs(dir.c_str(), &fs) != 0) {
        // A prefix that cannot be examined is left to the runs, which
        // report why each file cannot be made.
        return "";
    }
    const unsigned long long available = times(fs.f_bavail, fs.f_frsize);
    if (needed > available)
        return tessel_text_of("tessel: the test files need %s at once but the file system of %s has %s free; "
                       "make -e, -d%s smaller or set HDF5_PARAPREFIX to a larger file system",
                       size_text(needed).c_str(), dir.c_str(), size_text(available).c_str(),
                       keep_files ? ", -F" : "");
    return "";
}
