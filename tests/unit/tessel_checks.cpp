// The up-front checks of a tessel command line: every refused size, count
// and product names its option and limit, the user name never leads out of
// the prefix, and files that cannot fit are refused before any is made.
#include "tessel_test_support.hpp"

#include "tessel_checks.hpp"

#include <string>
#include <vector>

namespace {

using namespace tessel_test;

struct check_case {
    std::vector<const char *> words;
    int world_size;
    const char *message; // "" when the command line is accepted
};

// What rank 0 says of a command line before anything is made: the parser's
// refusal, else the refusal of the sizes and products.
std::string refusal_of(const std::vector<const char *> &words, int world_size)
{
    const parsed p = parse(words, world_size);
    if (p.command == bench_command::usage || p.command == bench_command::help)
        return "(usage)";
    if (p.command != bench_command::run)
        return p.message;
    return tessel_check_sizes(p.options, world_size);
}

TEST(TesselChecks, EveryValueThatCannotWorkIsRefusedWithItsOptionAndRule)
{
    const check_case cases[] = {
        {{}, 4, ""},
        {{"-g", "-e", "2G", "-P", "1"}, 4, ""},
        {{"-x", "64K", "-X", "64K", "-p", "2", "-P", "2"}, 2, ""},
        // Given values below their minimum, never replaced by a default.
        {{"-e", "0"}, 2, "tessel: -e (bytes per process per dataset) must be at least 1, not 0"},
        {{"-e", "-1K", "-D", "v"}, 2, "tessel: -e (bytes per process per dataset) must be at least 1, not -1024"},
        {{"-x", "-1"}, 2, "tessel: -x (smallest transfer buffer size) must be at least 1, not -1"},
        {{"-X", "0"}, 2, "tessel: -X (largest transfer buffer size) must be at least 1, not 0"},
        {{"-B", "0"}, 2, "tessel: -B (block size) must be at least 1, not 0"},
        {{"-a", "0"}, 2, "tessel: -a (alignment) must be at least 1, not 0"},
        {{"-T", "-1"}, 2, "tessel: -T (alignment threshold) must be at least 0, not -1"},
        {{"-d", "0"}, 2, "tessel: -d (datasets per file) must be at least 1, not 0"},
        {{"-F", "0"}, 2, "tessel: -F (number of files) must be at least 1, not 0"},
        {{"-i", "0"}, 2, "tessel: -i (iterations) must be at least 1, not 0"},
        {{"-p", "0"}, 2, "tessel: -p (smallest process count) must be at least 1, not 0"},
        {{"-P", "-3"}, 2, "tessel: -P (largest process count) must be at least 1, not -3"},
        // A derived value below its minimum names the option it stands for.
        {{"-e", "1"}, 2, "tessel: -x (smallest transfer buffer size) must be at least 1, not 0"},
        // Ranges the wrong way round, given or met by a default.
        {{"-x", "2M", "-X", "1M"}, 2,
         "tessel: -x (smallest transfer buffer size) must not be larger than -X (largest transfer buffer size): "
         "2097152 > 1048576"},
        {{"-x", "1M", "-X", "64K"}, 2,
         "tessel: -x (smallest transfer buffer size) must not be larger than -X (largest transfer buffer size): "
         "1048576 > 65536"},
        {{"-g", "-x", "16K"}, 2,
         "tessel: -x (smallest transfer buffer size) must not be larger than -X (largest transfer buffer size): "
         "16384 > 8192 (-X is by default -e)"},
        {{"-p", "3", "-P", "1"}, 4,
         "tessel: -p (smallest process count) must not be larger than -P (largest process count): 3 > 1"},
        {{"-p", "8", "-P", "4"}, 2,
         "tessel: -p (smallest process count) must not be larger than -P (largest process count): 8 > 4"},
        {{"-p", "3"}, 2,
         "tessel: -p (smallest process count) must not be larger than -P (largest process count): 3 > 2 (-P is by "
         "default the number of processes)"},
        // The options of chunked, compressed, shifted and time-limited runs.
        {{"-c", "-A", "phdf5", "-e", "64K", "--chunk-size", "4K", "-C", "--deflate", "9", "--data=pattern",
          "--read-shift=-1", "--deadline", "0.5"},
         2, ""},
        {{"--chunk-size", "4K"}, 2, "tessel: --chunk-size needs chunked datasets (-c)"},
        {{"-c", "--chunk-size", "0"}, 2, "tessel: --chunk-size (side of an HDF5 chunk) must be at least 1, not 0"},
        {{"-c", "-C", "--deflate", "0"}, 2, "tessel: --deflate (gzip level) must be from 1 to 9, not 0"},
        {{"-c", "-C", "--deflate", "10"}, 2, "tessel: --deflate (gzip level) must be from 1 to 9, not 10"},
        {{"-C", "--deflate", "1"}, 2,
         "tessel: --deflate needs chunked datasets (-c): HDF5 compresses a dataset chunk by chunk"},
        {{"-c", "-C", "--deflate", "1", "-A", "posix"}, 2,
         "tessel: --deflate compresses HDF5 datasets only: add phdf5 to -A"},
        {{"-c", "--deflate", "1"}, 2,
         "tessel: --deflate needs collective I/O (-C): parallel HDF5 writes compressed datasets only collectively"},
        {{"--data=ones"}, 2, "tessel: --data takes zeros, random or pattern, not 'ones'"},
        {{"--data=random", "-D", "v"}, 2,
         "tessel: --data cannot be combined with --debug=v: verification writes each rank's own byte value"},
        {{"--deadline", "0"}, 2, "tessel: --deadline (seconds per phase) must be more than 0, not 0"},
        {{"--deadline=-2"}, 2, "tessel: --deadline (seconds per phase) must be more than 0, not -2"},
        {{"--deadline", "soon"}, 2, "tessel: --deadline takes a number of seconds, not 'soon'"},
        {{"--deadline", "nan"}, 2, "tessel: --deadline takes a number of seconds, not 'nan'"},
        {{"--read-shift", "x"}, 2,
         "tessel: --read-shift takes a whole number (at most 9223372036854775807), not 'x'"},
        {{"--read-shift", "1", "-w"}, 2, "tessel: --read-shift needs the read phase: leave out -w"},
        {{"-c", "-e", "64K", "--chunk-size", "256K"}, 4,
         "tessel: --chunk-size 262144 is larger than the side of the datasets at 1 process(es), 65536 bytes"},
        {{"-c", "-g", "-e", "128K", "-B", "64K", "-x", "64K", "-P", "1"}, 1,
         "tessel: -B (the chunk side without --chunk-size) 65536 makes chunks of 4 GiB, but HDF5 chunks must stay "
         "below 4 GiB"},
        // Counts and products the world or the file offsets cannot hold.
        {{"-p", "3", "-P", "8"}, 2,
         "tessel: no process count from -P 8 down to -p 3 (halving) is at most the 2 process(es) of MPI_COMM_WORLD"},
        {{"-g", "-e", "4G", "-x", "1K", "-X", "1K", "-B", "1K"}, 3,
         "tessel: -e 4294967296 makes 2D datasets of more than 9223372036854775807 bytes (the largest file size) "
         "at 3 processes; make -e smaller"},
        {{"-e", "4G", "-d", "2147483647", "-P", "4"}, 4,
         "tessel: -d 2147483647 datasets of 16 GiB make a file of more than 9223372036854775807 bytes (the largest "
         "file size); make -d or -e smaller"},
        {{"-g", "-e", "1G", "-B", "1G", "-X", "8G", "-P", "1"}, 1,
         "tessel: a 2D transfer buffer of -B 1073741824 x -X 8589934592 bytes is larger than 9223372036854775807 "
         "bytes; make -B or -X smaller"},
    };
    for (const check_case &c : cases)
        EXPECT_EQ(refusal_of(c.words, c.world_size), c.message) << (c.words.empty() ? "(defaults)" : c.words[0]);
}

TEST(TesselChecks, TheLargestCountIsTheFirstThatFitsTheWorld)
{
    EXPECT_EQ(tessel_largest_count(options_of({"-P", "5"}), 2), 2);
    EXPECT_EQ(tessel_largest_count(options_of({"-P", "8", "-p", "3"}), 4), 4);
    EXPECT_EQ(tessel_largest_count(options_of({"-P", "8", "-p", "3"}), 3), 0);
    EXPECT_EQ(tessel_largest_count(options_of({}, 3), 3), 3);
}

TEST(TesselChecks, BytesNeededCountOneFileOrEveryKeptFileAndTheHdf5Metadata)
{
    // Without HDF5 the files hold the data alone.
    const bench_options plain = options_of({"-e", "1M", "-d", "3", "-F", "5", "-A", "posix,mpiio", "-P", "2"});
    EXPECT_EQ(tessel_bytes_needed(plain, 4, false), 6ULL << 20);
    EXPECT_EQ(tessel_bytes_needed(plain, 4, true), 6ULL * 5 * 2 << 20);
    EXPECT_EQ(tessel_bytes_needed(plain, 1, false), 3ULL << 20);

    // An HDF5 file needs more than its data, more again with aligned or
    // chunked datasets; kept files add up.
    const bench_options hdf5 = options_of({"-e", "1M", "-d", "3", "-A", "phdf5", "-P", "2"});
    const unsigned long long one = tessel_bytes_needed(hdf5, 4, false);
    EXPECT_GT(one, 6ULL << 20);
    EXPECT_LT(one, (6ULL << 20) + (1ULL << 20));
    const bench_options aligned = options_of({"-e", "1M", "-d", "3", "-A", "phdf5", "-P", "2", "-a", "1M"});
    EXPECT_GE(tessel_bytes_needed(aligned, 4, false), one + (3ULL << 20));
    const bench_options chunked = options_of({"-e", "1M", "-d", "3", "-A", "phdf5", "-P", "2", "-c", "-B", "1K"});
    EXPECT_GT(tessel_bytes_needed(chunked, 4, false), one);
    const bench_options both = options_of({"-e", "1M", "-d", "3", "-F", "2", "-A", "posix,phdf5", "-P", "2"});
    EXPECT_EQ(tessel_bytes_needed(both, 4, false), one);
    EXPECT_EQ(tessel_bytes_needed(both, 4, true), 2 * ((6ULL << 20) + one));
}

TEST(TesselChecks, UserNamesPrefixLengthAndFreeSpace)
{
    temp_dir dir("checks");
    env_guard env;
    env.set("HDF5_PARAPREFIX", dir.path().c_str());
    env.set("HDF5_NOCLEANUP", nullptr);
    env.set("LOGIN", nullptr);
    const bench_options small = options_of({"-e", "8K"});
    const std::string other = "holds characters other than letters, digits, \".\", \"_\" and \"-\"";
    struct user_case {
        const char *user;
        const char *shown;
        std::string problem;
    } users[] = {{"../escaped", "../escaped", "contains \"/\""},
                 {"..", "..", "names no directory of its own"},
                 {".", ".", "names no directory of its own"},
                 {"", "", "is empty"},
                 {"a/b", "a/b", "contains \"/\""},
                 {"a b", "a b", other},
                 {"a\nb", "a\\nb", other},
                 {"caf\xc3\xa9", "caf\\xc3\\xa9", other},
                 {"$(id)", "$(id)", other}};
    for (const user_case &u : users) {
        env.set("USER", u.user);
        EXPECT_EQ(tessel_check_files(env_context(), small, 4), std::string("tessel: the user name \"") + u.shown + "\" (USER) " +
                                                    u.problem + ": it must name a directory inside HDF5_PARAPREFIX");
    }
    env.set("USER", "Jo.Doe_2-x");
    EXPECT_EQ(tessel_check_files(env_context(), small, 4), "");
    env.set("USER", nullptr);
    env.set("LOGIN", "..");
    EXPECT_NE(tessel_check_files(env_context(), small, 4).find("(LOGIN) names no directory"), std::string::npos);
    env.set("LOGIN", "u01");
    EXPECT_EQ(tessel_check_files(env_context(), small, 4), "");
    // Without a prefix the user name is not used at all.
    env.set("HDF5_PARAPREFIX", nullptr);
    env.set("LOGIN", "..");
    EXPECT_EQ(tessel_check_files(env_context(), small, 4), "");

    const std::string long_prefix = "/" + std::string(1010, 'p');
    env.set("HDF5_PARAPREFIX", long_prefix.c_str());
    env.set("LOGIN", "u01");
    EXPECT_EQ(tessel_check_files(env_context(), small, 4),
              "tessel: HDF5_PARAPREFIX is too long: the test file names must be at most 1023 characters");

    // A petabyte per process does not fit in the temporary folder.
    env.set("HDF5_PARAPREFIX", dir.path().c_str());
    const std::string refusal = tessel_check_files(env_context(), options_of({"-e", "1048576G", "-A", "posix"}), 4);
    EXPECT_EQ(refusal.rfind("tessel: the test files need 4 PiB at once but the file system of " + dir.path() + " has ", 0),
              0u)
        << refusal;
    // Checking makes nothing.
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(TesselChecks, ThePrefixMustBeAWritableFolder)
{
    temp_dir dir("prefix");
    env_guard env;
    env.set("USER", "u01");
    const bench_options small = options_of({"-e", "8K"});
    const std::string missing = dir.file("missing");
    const std::string plain = dir.file("plain");
    std::fclose(std::fopen(plain.c_str(), "w"));
    const struct {
        std::string prefix;
        std::string message;
    } cases[] = {
        {dir.path(), ""},
        {missing, "tessel: HDF5_PARAPREFIX " + missing + " cannot be used: No such file or directory"},
        {plain, "tessel: HDF5_PARAPREFIX " + plain + " is not a directory"},
        {plain + "/sub", "tessel: HDF5_PARAPREFIX " + plain + "/sub cannot be used: Not a directory"},
    };
    for (const auto &c : cases) {
        env.set("HDF5_PARAPREFIX", c.prefix.c_str());
        EXPECT_EQ(tessel_check_files(env_context(), small, 4), c.message) << c.prefix;
    }
    EXPECT_FALSE(fs::exists(dir.path() + "/u01"));
}

} // namespace
