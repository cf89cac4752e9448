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

TEST(TesselChecks, SizesCountsAndProductsAreCheckedBeforeRunning)
{
    const check_case cases[] = {
        {{}, 4, ""},
        {{"-g", "-e", "2G", "-P", "1"}, 4, ""},
        {{"-F", "0"}, 1, ""},
        {{"-e", "-1K", "-D", "v"}, 2, "tessel: -e (bytes per process per dataset) must be at least 1, not -1024"},
        {{"-e", "1"}, 2, "tessel: -x (smallest transfer buffer size) must be at least 1, not 0"},
        {{"-a", "0"}, 2, "tessel: -a (alignment) must be at least 1, not 0"},
        {{"-T", "-1"}, 2, "tessel: -T (alignment threshold) must be at least 0, not -1"},
        {{"-d", "0"}, 2, "tessel: -d (datasets per file) must be at least 1, not 0"},
        {{"-F", "-1"}, 2, "tessel: -F (number of files) must be at least 0, not -1"},
        {{"-p", "8", "-P", "4"}, 2,
         "tessel: no process count from -P 4 down to -p 4 (halving) is at most the 2 process(es) of MPI_COMM_WORLD"},
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
    for (const check_case &c : cases) {
        const bench_options o = options_of(c.words, c.world_size);
        EXPECT_EQ(tessel_check_sizes(o, c.world_size), c.message) << (c.words.empty() ? "(defaults)" : c.words[0]);
    }
}

TEST(TesselChecks, TheLargestCountIsTheFirstThatFitsTheWorld)
{
    EXPECT_EQ(tessel_largest_count(options_of({"-P", "5"}), 2), 2);
    EXPECT_EQ(tessel_largest_count(options_of({"-P", "8", "-p", "3"}), 4), 4);
    EXPECT_EQ(tessel_largest_count(options_of({"-P", "8", "-p", "3"}), 3), 0);
    EXPECT_EQ(tessel_largest_count(options_of({}, 3), 3), 3);
}

TEST(TesselChecks, BytesNeededCountOneFileOrEveryKeptFile)
{
    const bench_options o = options_of({"-e", "1M", "-d", "3", "-F", "5", "-A", "posix,phdf5", "-P", "2"});
    EXPECT_EQ(tessel_bytes_needed(o, 4, false), 6ULL << 20);
    EXPECT_EQ(tessel_bytes_needed(o, 4, true), 6ULL * 5 * 2 << 20);
    EXPECT_EQ(tessel_bytes_needed(o, 1, false), 3ULL << 20);
    EXPECT_EQ(tessel_bytes_needed(options_of({"-F", "0"}), 4, true), 0u);
}

TEST(TesselChecks, UserNamesPrefixLengthAndFreeSpace)
{
    temp_dir dir("checks");
    env_guard env;
    env.set("HDF5_PARAPREFIX", dir.path().c_str());
    env.set("HDF5_NOCLEANUP", nullptr);
    env.set("LOGIN", nullptr);
    const bench_options small = options_of({"-e", "8K"});
    struct user_case {
        const char *user;
        const char *problem;
    } users[] = {{"../escaped", "contains \"/\""}, {"..", "names no directory of its own"},
                 {".", "names no directory of its own"}, {"", "is empty"}, {"a/b", "contains \"/\""}};
    for (const user_case &u : users) {
        env.set("USER", u.user);
        EXPECT_EQ(tessel_check_files(small, 4), std::string("tessel: the user name \"") + u.user + "\" (USER) " +
                                                    u.problem + ": it must name a directory inside HDF5_PARAPREFIX");
    }
    env.set("USER", nullptr);
    env.set("LOGIN", "..");
    EXPECT_NE(tessel_check_files(small, 4).find("(LOGIN) names no directory"), std::string::npos);
    env.set("LOGIN", "u01");
    EXPECT_EQ(tessel_check_files(small, 4), "");
    // Without a prefix the user name is not used at all.
    env.set("HDF5_PARAPREFIX", nullptr);
    env.set("LOGIN", "..");
    EXPECT_EQ(tessel_check_files(small, 4), "");

    const std::string long_prefix = "/" + std::string(1010, 'p');
    env.set("HDF5_PARAPREFIX", long_prefix.c_str());
    env.set("LOGIN", "u01");
    EXPECT_EQ(tessel_check_files(small, 4),
              "tessel: HDF5_PARAPREFIX is too long: the test file names must be at most 1023 characters");

    // A petabyte per process does not fit in the temporary folder.
    env.set("HDF5_PARAPREFIX", dir.path().c_str());
    const std::string refusal = tessel_check_files(options_of({"-e", "1048576G"}), 4);
    EXPECT_EQ(refusal.rfind("tessel: the test files need 4 PiB at once but the file system of " + dir.path() + " has ", 0),
              0u)
        << refusal;
    // Checking makes nothing.
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

} // namespace
