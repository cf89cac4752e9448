// I/O engine pieces that run in one process: the refusal of run settings,
// test file names, shares, verification, and a run on a full file system.
#include "tessel_test_support.hpp"

#include "pio_backend.hpp"
#include "pio_names.hpp"
#include "pio_run.hpp"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace tessel_test;

struct refusal_case {
    const char *what;
    void (*change)(bench_parameters &);
    const char *message;
};

TEST(PioCheckParameters, RefusesEachSettingThatMakesNoWholeSharesWithOneMessage)
{
    const refusal_case cases[] = {
        {"files", [](bench_parameters &p) { p.num_files = -1; }, "number of files must be >= 0 (-1)"},
        {"datasets", [](bench_parameters &p) { p.num_dsets = -2; }, "number of datasets per file must be >= 0 (-2)"},
        {"processes", [](bench_parameters &p) { p.num_procs = 0; }, "maximum number of process to use must be > 0 (0)"},
        {"block", [](bench_parameters &p) { p.block_size = 0; }, "Transfer block size (0) must be > 0"},
        {"buffer", [](bench_parameters &p) { p.buf_size = 0; }, "Transfer buffer size (0) must be > 0"},
        {"block multiple", [](bench_parameters &p) { p.buf_size = 768; },
         "Transfer buffer size (768) must be a multiple of the block size (512) in the contiguous pattern; "
         "choose a block size that divides it with -B"},
        {"block multiple, interleaved", [](bench_parameters &p) { p.buf_size = 768; p.interleaved = true; },
         "Transfer buffer size (768) must be a multiple of the block size (512) in the interleaved pattern; "
         "choose a block size that divides it with -B"},
        {"process multiple", [](bench_parameters &p) { p.num_procs = 3; },
         "Dataset size (4096) must be a multiple of the number of processes (3)"},
        {"share multiple", [](bench_parameters &p) { p.buf_size = 4096; p.num_procs = 2; },
         "Dataset size/process (2048) must be a multiple of the transfer buffer size (4096)"},
        {"2D processes", [](bench_parameters &p) { p.dim2d = true; p.dset_size = 36 * 36; p.num_procs = 5; },
         "Dataset size (36) must be a multiple of the number of processes (5)"},
        {"2D side", [](bench_parameters &p) { p.dim2d = true; p.dset_size = 36 * 36; p.buf_size = 24; p.block_size = 4; },
         "Dataset side size (36) must be a multiple of the transfer buffer size (24)"},
        // Side 12 over 2 processes: bands of 6 rows cannot hold 4-row blocks.
        {"2D band", [](bench_parameters &p) { p.dim2d = true; p.dset_size = 144; p.num_procs = 2; p.buf_size = 4; p.block_size = 4; },
         "Dataset side size/process (6) must be a multiple of the block size (4)"},
    };
    EXPECT_EQ(pio_check_parameters(small_run(pio_interface::posix)), "");
    for (const refusal_case &c : cases) {
        bench_parameters p = small_run(pio_interface::posix);
        c.change(p);
        EXPECT_EQ(pio_check_parameters(p), c.message) << c.what;
    }
}

TEST(PioRun, NoFilesWritesNothingAndSucceedsWithZeroTimes)
{
    bench_parameters p = small_run(pio_interface::posix);
    p.num_files = 0;
    const pio_run_result r = pio_run(self_context(), p);
    ASSERT_EQ(r.status, 0);
    for (int kind = 0; kind < PIO_NUM_TIMERS; ++kind)
        EXPECT_EQ(pio_timer_get_time(&r.timers, kind), 0.0) << kind;
}

TEST(PioShare, OneDimensionalShares)
{
    bench_parameters p = small_run(pio_interface::posix);
    p.dset_size = 3 * 524288;
    p.buf_size = 262144;
    p.block_size = 65536;
    pio_share s = pio_compute_share(p, 2, 3);
    EXPECT_EQ(s.bytes_begin, 2 * 524288);
    EXPECT_EQ(s.bytes_count, 524288);
    EXPECT_EQ(s.transfer_bytes, 262144);
    p.interleaved = true;
    s = pio_compute_share(p, 2, 3);
    EXPECT_EQ(s.bytes_begin, 2 * 65536);
    EXPECT_EQ(s.base, 2 * 65536);
}

TEST(PioShare, TwoDimensionalShares)
{
    bench_parameters p = small_run(pio_interface::posix);
    p.dim2d = true;
    p.dset_size = 96 * 96;
    p.buf_size = 32;
    p.block_size = 8;
    pio_share s = pio_compute_share(p, 1, 3);
    EXPECT_EQ(s.side, 96);
    EXPECT_EQ(s.row, 32);
    EXPECT_EQ(s.base, 32 * 96);
    EXPECT_EQ(s.bytes_count, 96 * 96 / 3);
    EXPECT_EQ(s.transfer_bytes, 256);
    p.interleaved = true;
    EXPECT_EQ(pio_compute_share(p, 1, 3).column, 8);
    p.chunk = true;
    EXPECT_EQ(pio_compute_share(p, 1, 3).column, 64);
    p.io_type = pio_interface::phdf5;
    EXPECT_EQ(pio_compute_share(p, 1, 3).column, 8);
}

TEST(PioSide, IsTheIntegerSquareRoot)
{
    EXPECT_EQ(pio_side(0), 0);
    EXPECT_EQ(pio_side(1), 1);
    EXPECT_EQ(pio_side(99), 9);
    EXPECT_EQ(pio_side(100), 10);
    EXPECT_EQ(pio_side(3037000499LL * 3037000499LL), 3037000499LL);
}

TEST(PioFileName, WithoutPrefixTheNameIsRelative)
{
    env_guard env;
    env.set("HDF5_PARAPREFIX", nullptr);
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::posix, 1), "#pio_tmp_1.posix");
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::mpiio, 2), "#pio_tmp_2.mpio");
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::phdf5, 10), "#pio_tmp_10.h5");
    env.set("HDF5_PARAPREFIX", "");
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::posix, 3), "#pio_tmp_3.posix");
}

TEST(PioFileName, PrefixAndUserDirectoryAreCreatedAndSlashesSqueezed)
{
    env_guard env;
    temp_dir dir("names");
    const std::string prefix = dir.path() + "//";
    env.set("HDF5_PARAPREFIX", prefix.c_str());
    env.set("USER", "u01");
    env.set("LOGIN", "l02");
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::mpiio, 2), dir.path() + "/u01/#pio_tmp_2.mpio");
    EXPECT_TRUE(fs::is_directory(dir.file("u01")));

    env.set("USER", nullptr);
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::posix, 1), dir.path() + "/l02/#pio_tmp_1.posix");
    EXPECT_TRUE(fs::is_directory(dir.file("l02")));

    env.set("LOGIN", nullptr);
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::phdf5, 1), dir.path() + "/#pio_tmp_1.h5");

    // A user directory that cannot be made falls back to the prefix.
    const std::string missing = dir.file("missing/deeper");
    env.set("HDF5_PARAPREFIX", missing.c_str());
    env.set("USER", "u01");
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::posix, 1), missing + "/#pio_tmp_1.posix");
}

TEST(PioFileName, UserNamesThatWouldLeaveThePrefixOrHoldUnsafeCharactersAreNeverUsed)
{
    env_guard env;
    temp_dir dir("escape");
    fs::create_directories(dir.file("prefix"));
    const std::string prefix = dir.file("prefix");
    env.set("HDF5_PARAPREFIX", prefix.c_str());
    for (const char *user : {"../escaped", "..", ".", "", "a/b", "/abs", "a b", "a\nb", "x;rm", "\xe9"}) {
        env.set("USER", user);
        EXPECT_FALSE(pio_user_name_problem(user).empty()) << user;
        EXPECT_EQ(pio_make_filename(env_context(), pio_interface::posix, 1), prefix + "/#pio_tmp_1.posix") << user;
    }
    EXPECT_TRUE(pio_user_name_problem("u01").empty());
    EXPECT_TRUE(pio_user_name_problem("..u").empty());
    // Nothing was made beside the prefix, nor in it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_empty(prefix));
}

TEST(PioFileName, ANameThatCannotFitStaysIncomplete)
{
    env_guard env;
    std::string prefix = "/" + std::string(1015, 'p');
    env.set("HDF5_PARAPREFIX", prefix.c_str());
    env.set("USER", nullptr);
    env.set("LOGIN", nullptr);
    // The directory alone is kept, and the suffix still added when it fits.
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::posix, 1), prefix + ".posix");
    prefix += "qqqq";
    env.set("HDF5_PARAPREFIX", prefix.c_str());
    EXPECT_EQ(pio_make_filename(env_context(), pio_interface::posix, 1), prefix);
}

TEST(PioRead, VerificationReportsTheFirstErrorsAndTheirTotal)
{
    temp_dir dir("verify");
    const std::string file = dir.file("data.posix");
    {
        std::vector<unsigned char> bytes(64, 1);
        for (int i = 0; i < 25; ++i)
            bytes[static_cast<size_t>(i)] = 7;
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), 64);
        close(fd);
    }
    bench_parameters p = small_run(pio_interface::posix);
    p.dset_size = 64;
    p.buf_size = 64;
    p.block_size = 64;
    p.verify = true;

    captured_file out;
    const tessel_context ctx = self_context(out.get());
    pio_timer_set timers = fresh_timers();
    std::vector<unsigned char> buffer(64);
    pio_io io = pio_make_io(ctx, p, timers);
    io.buffer = buffer.data();
    io.name = file;
    io.writing = false;
    const pio_backend &posix = pio_backend_for(pio_interface::posix);
    ASSERT_EQ(posix.open(io, pio_open_mode::read), 0);
    EXPECT_EQ(posix.read(io), 0);
    EXPECT_EQ(posix.close(io), 0);
    EXPECT_FALSE(io.file.is_open());

    std::string expected;
    for (int i = 0; i < 19; ++i)
        expected += "0: read data error, expected (1), got (7)\n";
    expected += "0: ...total read data errors=25\n";
    EXPECT_EQ(out.text(), expected);
}

// A small file system of its own: a tmpfs mounted for the test. Sizes are
// chosen so the data fits exactly and the HDF5 file, with its metadata,
// does not.
class FullFileSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        mount_point_ = fs::temp_directory_path() / ("tessel_full_" + std::to_string(getpid()));
        fs::create_directories(mount_point_);
        if (mount("tessel", mount_point_.c_str(), "tmpfs", 0, "size=1m") != 0) {
            fs::remove(mount_point_);
            GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                         << "); the full file system case is not run";
        }
        mounted_ = true;
    }
    void TearDown() override
    {
        if (mounted_) {
            umount(mount_point_.c_str());
            fs::remove(mount_point_);
        }
    }
    fs::path mount_point_;
    bool mounted_ = false;
};

TEST_F(FullFileSystem, AFailedWriteIsReportedWithItsReasonAndTheFileRemoved)
{
    env_guard env;
    env.set("HDF5_PARAPREFIX", mount_point_.c_str());
    env.set("USER", nullptr);
    env.set("LOGIN", nullptr);
    bench_parameters p = small_run(pio_interface::phdf5);
    p.dset_size = 1 << 20; // the whole file system
    p.buf_size = 1 << 20;
    p.block_size = 1 << 20;
    testing::internal::CaptureStderr();
    const pio_run_result r = pio_run(env_context(), p);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.status, -1);
    EXPECT_NE(r.reason.find("No space left on device"), std::string::npos) << r.reason;
    EXPECT_NE(r.reason.find(mount_point_.string() + "/#pio_tmp_1.h5"), std::string::npos) << r.reason;
    EXPECT_EQ(r.reason.find('\n'), std::string::npos) << r.reason;
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    // The failing step in words, with the process and the reason.
    EXPECT_NE(err.find("Proc 0: HDF5 write failed: "), std::string::npos) << err;
    EXPECT_EQ(err.find("Assertion"), std::string::npos) << err;
    EXPECT_TRUE(fs::is_empty(mount_point_)) << "test file left behind";

    // With HDF5_NOCLEANUP the file of the failed run stays.
    env.set("HDF5_NOCLEANUP", "1");
    const tessel_context keep = env_context();
    testing::internal::CaptureStderr();
    EXPECT_EQ(pio_run(keep, p).status, -1);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fs::exists(mount_point_ / "#pio_tmp_1.h5"));
}

} // namespace
