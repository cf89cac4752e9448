// I/O engine pieces that run in one process: validation of the run
// parameters, test file names, shares, and the verification report.
#include <gtest/gtest.h>

#include "pio_engine.hpp"
#include "tessel_options.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bench_parameters small_run(int io_type)
{
    bench_parameters p{};
    p.io_type = io_type;
    p.num_procs = 1;
    p.num_files = 1;
    p.num_dsets = 1;
    p.dset_size = 4096;
    p.num_iterations = 1;
    p.buf_size = 1024;
    p.block_size = 512;
    p.align = 1;
    p.threshold = 1;
    return p;
}

// Runs pio_run and returns what it printed on standard error.
std::string run_refused(const bench_parameters &p)
{
    pio_timer_set *timers = nullptr;
    testing::internal::CaptureStderr();
    int rc = pio_run(p, &timers);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, -1);
    pio_timer_free(timers);
    return err;
}

TEST(PioRunValidation, RefusesEachBadSettingWithItsMessage)
{
    bench_parameters p = small_run(PIO_POSIX);
    p.num_files = -1;
    EXPECT_EQ(run_refused(p), "number of files must be >= 0 (-1)\n");
    p = small_run(PIO_POSIX);
    p.num_dsets = -2;
    EXPECT_EQ(run_refused(p), "number of datasets per file must be >= 0 (-2)\n");
    p = small_run(PIO_POSIX);
    p.num_procs = 0;
    EXPECT_EQ(run_refused(p), "maximum number of process to use must be > 0 (0)\n");
    p = small_run(PIO_POSIX);
    p.block_size = 0;
    EXPECT_EQ(run_refused(p), "Transfer block size (0) must be > 0\n");
    p = small_run(PIO_POSIX);
    p.buf_size = 0;
    EXPECT_EQ(run_refused(p), "Transfer buffer size (0) must be > 0\n");
    p = small_run(PIO_POSIX);
    p.buf_size = 768;
    EXPECT_EQ(run_refused(p),
              "Transfer buffer size (768) must be a multiple of the interleaved I/O block size (512)\n");
    p = small_run(PIO_POSIX);
    p.num_procs = 3;
    EXPECT_EQ(run_refused(p), "Dataset size (4096) must be a multiple of the number of processes (3)\n");
    p = small_run(PIO_POSIX);
    p.buf_size = 4096;
    p.num_procs = 2;
    EXPECT_EQ(run_refused(p), "Dataset size/process (2048) must be a multiple of the transfer buffer size (4096)\n");
    p = small_run(PIO_POSIX);
    p.io_type = 5;
    EXPECT_EQ(run_refused(p), "Unknown IO type request (5)\n");
}

TEST(PioRunValidation, RefusesBad2DSides)
{
    bench_parameters p = small_run(PIO_MPIIO);
    p.dim2d = 1;
    p.dset_size = 36 * 36; // side 36
    p.num_procs = 5;
    EXPECT_EQ(run_refused(p), "Dataset size (36) must be a multiple of the number of processes (5)\n");
    p.num_procs = 1;
    p.buf_size = 24;
    p.block_size = 4;
    EXPECT_EQ(run_refused(p), "Dataset side size (36) must be a multiple of the transfer buffer size (24)\n");
    // Side 12 over 2 processes: bands of 6 rows cannot hold 4-row blocks.
    p.dset_size = 144;
    p.num_procs = 2;
    p.buf_size = 4;
    EXPECT_EQ(run_refused(p), "Dataset side size/process (6) must be a multiple of the block size (4)\n");
}

TEST(PioRun, NoFilesWritesNothingAndSucceedsWithZeroTimes)
{
    bench_parameters p = small_run(PIO_POSIX);
    p.num_files = 0;
    pio_timer_set *timers = nullptr;
    ASSERT_EQ(pio_run(p, &timers), 0);
    ASSERT_NE(timers, nullptr);
    for (int kind = 0; kind < PIO_NUM_TIMERS; ++kind)
        EXPECT_EQ(pio_timer_get_time(timers, kind), 0.0) << kind;
    pio_timer_free(timers);
}

TEST(PioShare, OneDimensionalShares)
{
    bench_parameters p = small_run(PIO_POSIX);
    p.dset_size = 3 * 524288;
    p.buf_size = 262144;
    p.block_size = 65536;
    pio_share s = pio_compute_share(&p, 2, 3);
    EXPECT_EQ(s.bytes_begin, 2 * 524288);
    EXPECT_EQ(s.bytes_count, 524288);
    EXPECT_EQ(s.transfer, 262144);
    p.interleaved = 1;
    s = pio_compute_share(&p, 2, 3);
    EXPECT_EQ(s.bytes_begin, 2 * 65536);
    EXPECT_EQ(s.base, 2 * 65536);
}

TEST(PioShare, TwoDimensionalShares)
{
    bench_parameters p = small_run(PIO_POSIX);
    p.dim2d = 1;
    p.dset_size = 96 * 96;
    p.buf_size = 32;
    p.block_size = 8;
    pio_share s = pio_compute_share(&p, 1, 3);
    EXPECT_EQ(s.side, 96);
    EXPECT_EQ(s.row, 32);
    EXPECT_EQ(s.base, 32 * 96);
    EXPECT_EQ(s.bytes_count, 96 * 96 / 3);
    EXPECT_EQ(s.transfer, 256);
    p.interleaved = 1;
    s = pio_compute_share(&p, 1, 3);
    EXPECT_EQ(s.column, 8);
    p.chunk = 1;
    EXPECT_EQ(pio_compute_share(&p, 1, 3).column, 64);
    p.io_type = PIO_PHDF5;
    EXPECT_EQ(pio_compute_share(&p, 1, 3).column, 8);
}

TEST(PioSide, IsTheIntegerSquareRoot)
{
    EXPECT_EQ(pio_side(0), 0);
    EXPECT_EQ(pio_side(1), 1);
    EXPECT_EQ(pio_side(99), 9);
    EXPECT_EQ(pio_side(100), 10);
    EXPECT_EQ(pio_side(3037000499LL * 3037000499LL), 3037000499LL);
}

struct env_guard {
    std::vector<std::pair<std::string, std::string>> saved;
    std::vector<std::string> unset_names;
    void set(const char *name, const char *value)
    {
        remember(name);
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    void remember(const char *name)
    {
        const char *old = std::getenv(name);
        if (old)
            saved.emplace_back(name, old);
        else
            unset_names.emplace_back(name);
    }
    ~env_guard()
    {
        for (auto &[n, v] : saved)
            setenv(n.c_str(), v.c_str(), 1);
        for (auto &n : unset_names)
            unsetenv(n.c_str());
    }
};

std::string name_of(int io_type, unsigned long file_no)
{
    char name[1024];
    pio_make_filename(io_type, file_no, name, sizeof name);
    return name;
}

TEST(PioFileName, WithoutPrefixTheNameIsRelative)
{
    env_guard env;
    env.set("HDF5_PARAPREFIX", nullptr);
    EXPECT_EQ(name_of(PIO_POSIX, 1), "#pio_tmp_1.posix");
    EXPECT_EQ(name_of(PIO_MPIIO, 2), "#pio_tmp_2.mpio");
    EXPECT_EQ(name_of(PIO_PHDF5, 10), "#pio_tmp_10.h5");
    env.set("HDF5_PARAPREFIX", "");
    EXPECT_EQ(name_of(PIO_POSIX, 3), "#pio_tmp_3.posix");
}

TEST(PioFileName, PrefixAndUserDirectoryAreCreatedAndSlashesSqueezed)
{
    env_guard env;
    fs::path dir = fs::temp_directory_path() / ("tessel_names_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string prefix = dir.string() + "//";
    env.set("HDF5_PARAPREFIX", prefix.c_str());
    env.set("USER", "u01");
    env.set("LOGIN", "l02");
    EXPECT_EQ(name_of(PIO_MPIIO, 2), dir.string() + "/u01/#pio_tmp_2.mpio");
    EXPECT_TRUE(fs::is_directory(dir / "u01"));

    env.set("USER", nullptr);
    EXPECT_EQ(name_of(PIO_POSIX, 1), dir.string() + "/l02/#pio_tmp_1.posix");
    EXPECT_TRUE(fs::is_directory(dir / "l02"));

    env.set("LOGIN", nullptr);
    EXPECT_EQ(name_of(PIO_PHDF5, 1), dir.string() + "/#pio_tmp_1.h5");

    // A user directory that cannot be made falls back to the prefix.
    const std::string missing = (dir / "missing" / "deeper").string();
    env.set("HDF5_PARAPREFIX", missing.c_str());
    env.set("USER", "u01");
    EXPECT_EQ(name_of(PIO_POSIX, 1), missing + "/#pio_tmp_1.posix");
    fs::remove_all(dir);
}

TEST(PioFileName, ANameThatCannotFitStaysIncomplete)
{
    env_guard env;
    std::string prefix = "/" + std::string(1015, 'p');
    env.set("HDF5_PARAPREFIX", prefix.c_str());
    env.set("USER", nullptr);
    env.set("LOGIN", nullptr);
    // The directory alone is kept, and the suffix still added when it fits.
    EXPECT_EQ(name_of(PIO_POSIX, 1), prefix + ".posix");
    prefix += "qqqq";
    env.set("HDF5_PARAPREFIX", prefix.c_str());
    EXPECT_EQ(name_of(PIO_POSIX, 1), prefix);
}

TEST(PioRead, VerificationReportsTheFirstErrorsAndTheirTotal)
{
    fs::path dir = fs::temp_directory_path() / ("tessel_verify_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string file = (dir / "data.posix").string();
    {
        std::vector<unsigned char> bytes(64, 1);
        for (int i = 0; i < 25; ++i)
            bytes[static_cast<size_t>(i)] = 7;
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), 64);
        close(fd);
    }
    bench_parameters p = small_run(PIO_POSIX);
    p.dset_size = 64;
    p.buf_size = 64;
    p.block_size = 64;
    p.verify = 1;

    FILE *saved = bench_output;
    bench_output = std::tmpfile();
    pio_file fd{-1, MPI_FILE_NULL, -1};
    ASSERT_EQ(do_fopen(&p, file.c_str(), &fd, PIO_READ), 0);
    pio_timer_set *timers = pio_timer_new(PIO_MPI_CLOCK);
    std::vector<unsigned char> buffer(64);
    EXPECT_EQ(do_read(timers, &fd, &p, 1, 64, 64, buffer.data()), 0);
    EXPECT_EQ(do_fclose(PIO_POSIX, &fd), 0);
    EXPECT_EQ(fd.posix_fd, -1);
    pio_timer_free(timers);

    std::rewind(bench_output);
    std::string text;
    for (int c; (c = std::fgetc(bench_output)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(bench_output);
    bench_output = saved;

    std::string expected;
    for (int i = 0; i < 19; ++i)
        expected += "0: read data error, expected (1), got (7)\n";
    expected += "0: ...total read data errors=25\n";
    EXPECT_EQ(text, expected);
    fs::remove_all(dir);
}

} // namespace
