// Up-front checks of the command line and of where the test files go.
#include "tessel_checks.hpp"

#include "pio_names.hpp"
#include "tessel_text.hpp"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned long long FILE_SIZE_MAX = LLONG_MAX; // the largest offset of a file

// a * b, or ULLONG_MAX when it does not fit.
unsigned long long times(unsigned long long a, unsigned long long b)
{
    unsigned long long r = 0;
    return __builtin_mul_overflow(a, b, &r) ? ULLONG_MAX : r;
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

// Bytes of one dataset at count processes; ULLONG_MAX when it overflows.
unsigned long long dataset_bytes(const bench_options &o, int count)
{
    const unsigned long long side = times(static_cast<unsigned long long>(o.num_bytes), static_cast<unsigned>(count));
    return o.dim2d ? times(side, side) : side;
}

struct size_rule {
    char letter;
    const char *what;
    long long minimum;
    long long bench_options::*field;
};

// Values after derivation: -x, -X and -B hold their defaults by now.
constexpr size_rule SIZE_RULES[] = {
    {'e', "bytes per process per dataset", 1, &bench_options::num_bytes},
    {'x', "smallest transfer buffer size", 1, &bench_options::min_xfer_size},
    {'X', "largest transfer buffer size", 1, &bench_options::max_xfer_size},
    {'B', "block size", 1, &bench_options::block_size},
    {'a', "alignment", 1, &bench_options::align},
    {'T', "alignment threshold", 0, &bench_options::threshold},
};

} // namespace

int tessel_largest_count(const bench_options &o, int world_size)
{
    for (int n = o.max_num_processes; n >= o.min_num_processes && n > 0; n /= 2)
        if (n <= world_size)
            return n;
    return 0;
}

std::string tessel_check_sizes(const bench_options &o, int world_size)
{
    for (const size_rule &r : SIZE_RULES)
        if (o.*r.field < r.minimum)
            return tessel_text_of("tessel: -%c (%s) must be at least %lld, not %lld", r.letter, r.what, r.minimum,
                           o.*r.field);
    if (o.num_dsets < 1)
        return tessel_text_of("tessel: -d (datasets per file) must be at least 1, not %ld", o.num_dsets);
    if (o.num_files < 0)
        return tessel_text_of("tessel: -F (number of files) must be at least 0, not %ld", o.num_files);

    const int count = tessel_largest_count(o, world_size);
    if (count == 0)
        return tessel_text_of("tessel: no process count from -P %d down to -p %d (halving) is at most the %d "
                       "process(es) of MPI_COMM_WORLD",
                       o.max_num_processes, o.min_num_processes, world_size);

    // The largest dataset and file of the run, and the 2D transfer buffer,
    // must be addressable as file offsets.
    const unsigned long long dataset = dataset_bytes(o, count);
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
    return "";
}

unsigned long long tessel_bytes_needed(const bench_options &o, int world_size, bool keep_files)
{
    if (o.num_files <= 0)
        return 0;
    unsigned long long file = times(dataset_bytes(o, tessel_largest_count(o, world_size)),
                                    static_cast<unsigned long long>(o.num_dsets));
    if (!keep_files)
        return file;
    return times(times(file, static_cast<unsigned long long>(o.num_files)), std::popcount(o.api & API_ALL));
}

std::string tessel_check_files(const bench_options &o, int world_size)
{
    const char *prefix = std::getenv("HDF5_PARAPREFIX");
    const bool has_prefix = prefix != nullptr && *prefix != '\0';
    if (has_prefix) {
        const char *user = pio_user_name();
        const std::string problem = pio_user_name_problem(user);
        if (!problem.empty())
            return tessel_text_of("tessel: the user name \"%s\" (%s) %s: it must name a directory inside HDF5_PARAPREFIX",
                           user, std::getenv("USER") != nullptr ? "USER" : "LOGIN", problem.c_str());
        // The longest name: prefix, user, the last file number, ".posix".
        std::string longest = std::string(prefix) + "/" + (user ? user : "") + "/#pio_tmp_" +
                              std::to_string(o.num_files) + ".posix";
        if (longest.size() > PIO_NAME_MAX)
            return tessel_text_of("tessel: HDF5_PARAPREFIX is too long: the test file names must be at most %zu "
                           "characters",
                           PIO_NAME_MAX);
    }
    const bool keep_files = std::getenv("HDF5_NOCLEANUP") != nullptr;
    const unsigned long long needed = tessel_bytes_needed(o, world_size, keep_files);
    if (needed == 0)
        return "";
    // The files go in the user's directory when it exists (it may be a
    // file system of its own), else in the prefix.
    std::string dir = pio_prefix_directory();
    struct stat st{};
    if (has_prefix && pio_user_name() != nullptr &&
        stat((dir + "/" + pio_user_name()).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        dir += std::string("/") + pio_user_name();
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
