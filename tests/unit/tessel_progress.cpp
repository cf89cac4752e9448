// tessel's progress lines: --progress on the command line, the number of
// measurements a run makes, the text of a line, and what goes to standard
// error in terminal (rewriting) mode. Plain lines, and standard error closed,
// full or a broken pipe, are tested end to end (test_tessel_progress.sh).
#include "tessel_test_support.hpp"

#include "tessel_driver.hpp"
#include "tessel_progress.hpp"

#include <unistd.h>

#include <string>
#include <vector>

namespace {

using namespace tessel_test;

TEST(ProgressOption, BareTurnsItOnZeroOffAnythingElseIsRefused)
{
    struct progress_case {
        std::vector<const char *> words;
        bench_command command;
        int progress;
        const char *message;
    } cases[] = {
        {{}, bench_command::run, -1, ""},
        {{"--progress"}, bench_command::run, 1, ""},
        {{"--progress=1"}, bench_command::run, 1, ""},
        {{"--progress=0"}, bench_command::run, 0, ""},
        {{"--progress=0", "--progress"}, bench_command::run, 1, ""},
        // A bare --progress never takes the next word as its value.
        {{"--progress", "-i", "2"}, bench_command::run, 1, ""},
        {{"--progress=abc"}, bench_command::refused, -1, "tessel: --progress takes 0 (off) or 1 (on), not 'abc'"},
        {{"--progress=-1"}, bench_command::refused, -1, "tessel: --progress takes 0 (off) or 1 (on), not '-1'"},
        {{"--progress=2"}, bench_command::refused, -1, "tessel: --progress takes 0 (off) or 1 (on), not '2'"},
        {{"--progress=inf"}, bench_command::refused, -1, "tessel: --progress takes 0 (off) or 1 (on), not 'inf'"},
        {{"--progress="}, bench_command::refused, -1, "tessel: --progress takes 0 (off) or 1 (on), not ''"},
        {{"--progress=01"}, bench_command::refused, -1, "tessel: --progress takes 0 (off) or 1 (on), not '01'"},
    };
    for (const progress_case &c : cases) {
        const parsed p = parse(c.words);
        const std::string what = c.words.empty() ? "(none)" : c.words[0];
        EXPECT_EQ(p.command, c.command) << what;
        EXPECT_EQ(p.message, c.message) << what;
        if (c.command == bench_command::run) {
            EXPECT_EQ(p.options.progress, c.progress) << what;
        }
    }
    EXPECT_EQ(options_of({"--progress", "-i", "2"}).num_iterations, 2);
}

TEST(ProgressTotal, ProcessCountsThatFitTimesTransferSizesTimesInterfaces)
{
    struct count_case {
        std::vector<const char *> words;
        int world_size;
        int total;
    } cases[] = {
        // Counts 4, 2, 1; transfers 128K and 256K; three interfaces.
        {{}, 4, 3 * 2 * 3},
        {{"-A", "posix"}, 4, 3 * 2},
        {{"-A", "posix,phdf5"}, 1, 1 * 2 * 2},
        // 5 does not fit in a world of 2: counts 2 and 1 only.
        {{"-A", "mpiio", "-P", "5"}, 2, 2 * 2},
        // 8 and 4 (2 is below -p 3).
        {{"-A", "mpiio", "-p", "3", "-P", "8"}, 8, 2 * 2},
        // 100K, 200K; 400K would pass 256K.
        {{"-A", "posix", "-P", "1", "-e", "256K", "-x", "100K", "-X", "256K"}, 4, 2},
        // 1 byte up to 1 MiB: 21 sizes.
        {{"-A", "posix", "-P", "1", "-e", "1M", "-x", "1", "-X", "1M", "-B", "1"}, 1, 21},
        // In 2D the transfer sizes are not limited by the side.
        {{"-A", "posix", "-P", "2", "-g", "-e", "1K", "-x", "1K", "-X", "4K"}, 2, 2 * 3},
    };
    for (const count_case &c : cases) {
        const bench_options o = options_of(c.words, c.world_size);
        EXPECT_EQ(tessel_measurement_count(o, c.world_size), c.total) << (c.words.empty() ? "defaults" : c.words[1]);
        EXPECT_EQ(tessel_progress_start(o, c.world_size).total, c.total);
    }
}

tessel_measurement finished(pio_interface io, int procs, long long transfer, long long block, bool failed = false)
{
    tessel_measurement m{};
    m.io = io;
    m.procs = procs;
    m.transfer_size = transfer;
    m.block_size = block;
    m.failed_iterations = failed ? 1 : 0;
    return m;
}

TEST(ProgressLine, NamesTheInterfaceProcessesTransfersAndOutcome)
{
    const bench_options plain = options_of({});
    const bench_options square = options_of({"-g"});
    const bench_options square_interleaved = options_of({"-g", "-I"});
    struct line_case {
        int done, total;
        tessel_measurement m;
        const bench_options &o;
        const char *line;
    } cases[] = {
        {7, 42, finished(pio_interface::mpiio, 2, 1 << 20, 1 << 19), plain,
         "tessel: 7 of 42: mpiio 2 procs 1 MiB transfers done"},
        {1, 3, finished(pio_interface::posix, 1, 3072, 1024), plain, "tessel: 1 of 3: posix 1 proc 3 KiB transfers done"},
        {2, 3, finished(pio_interface::phdf5, 4, 1536, 512), plain, "tessel: 2 of 3: phdf5 4 procs 1536 B transfers done"},
        {3, 3, finished(pio_interface::posix, 2, 100 << 10, 1024, true), plain,
         "tessel: 3 of 3: posix 2 procs 100 KiB transfers failed"},
        {1, 1, finished(pio_interface::mpiio, 2, 4LL << 30, 1 << 20), plain,
         "tessel: 1 of 1: mpiio 2 procs 4 GiB transfers done"},
        // 2D: the block times the transfer buffer, as the text report says.
        {1, 2, finished(pio_interface::posix, 2, 8192, 4096), square,
         "tessel: 1 of 2: posix 2 procs 4 KiB x 8 KiB transfers done"},
        {2, 2, finished(pio_interface::posix, 2, 8192, 4096), square_interleaved,
         "tessel: 2 of 2: posix 2 procs 8 KiB x 4 KiB transfers done"},
    };
    for (const line_case &c : cases)
        EXPECT_EQ(tessel_progress_line(c.done, c.total, c.m, c.o), c.line);
}

// Standard error redirected into a temporary file for the length of a test.
class captured_stderr {
public:
    captured_stderr() : saved_(dup(STDERR_FILENO))
    {
        std::fflush(stderr);
        dup2(fileno(file_.get()), STDERR_FILENO);
    }
    ~captured_stderr() { restore(); }
    std::string text()
    {
        restore();
        return file_.text();
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    captured_file file_;
    int saved_;
};

TEST(ProgressOutput, OnATerminalEachLineReplacesTheLastAndStaysBelowOtherOutput)
{
    const bench_options o = options_of({"-A", "posix"});
    tessel_progress p;
    p.total = 10;
    p.rewrite = true;
    captured_stderr err;
    tessel_progress_hide(&p); // nothing shown yet
    tessel_progress_step(&p, finished(pio_interface::posix, 2, 1 << 20, 4096), o);
    tessel_progress_hide(&p);
    tessel_progress_hide(&p); // already off the screen
    tessel_progress_show(&p);
    tessel_progress_show(&p); // already on it
    // A shorter line: blanks cover the rest of the longer one.
    tessel_progress_step(&p, finished(pio_interface::posix, 1, 4096, 4096), o);
    tessel_progress_finish(&p);
    tessel_progress_finish(&p); // the line break once
    const std::string first = "tessel: 1 of 10: posix 2 procs 1 MiB transfers done";
    const std::string second = "tessel: 2 of 10: posix 1 proc 4 KiB transfers done";
    EXPECT_EQ(err.text(), "\r" + first + "\r" + std::string(first.size(), ' ') + "\r" + "\r" + first + "\r" + second +
                              std::string(first.size() - second.size(), ' ') + "\n");
}

} // namespace
