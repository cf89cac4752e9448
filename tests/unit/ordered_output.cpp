// The ordered printer of a multi-process run: output arriving out of order
// prints in pair order, waiting in memory and then in a temporary file in
// $TMPDIR; a temporary file that cannot be made, written or filled stops the
// output with one message naming its folder, and a failed write to the
// output stops it without a word (its owner reports it).
#include "mirlo_ordered_output.hpp"
#include "zarn.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

using test_support::read_all;
using test_support::scoped_env;

// Text of pair k: 200 bytes, so that a bound of 300 bytes holds one pair
// waiting and sends the others to the temporary file.
std::string text_of(int k)
{
    std::string t = "pair " + std::to_string(k) + " ";
    t.resize(199, static_cast<char>('a' + k % 26));
    return t + "\n";
}

struct printed {
    std::string out;
    std::string err;
    bool failed = false;
};

// Six pairs arriving last to first, each in two halves, into a printer whose
// memory holds `bound` bytes; temporary files go to tmpdir.
printed print_backwards(const char *tmpdir, size_t bound, FILE *out = nullptr)
{
    scoped_env env("TMPDIR", tmpdir);
    FILE *file = out != nullptr ? out : std::tmpfile();
    test_support::stream_capture err(rawerrorstream);
    printed p;
    {
        ordered_output o;
        o.out = file;
        o.memory_bound = bound;
        ordered_output_begin(&o, 6);
        for (int k = 5; k >= 0; --k) {
            const std::string t = text_of(k);
            ordered_output_append(&o, k, 0, t.data(), 100);
            ordered_output_append(&o, k, 0, t.data() + 100, t.size() - 100);
            ordered_output_complete(&o, k, 0);
        }
        p.failed = ordered_output_failed(&o);
    }
    if (out == nullptr) {
        p.out = read_all(file);
        std::fclose(file);
    }
    p.err = err.text();
    return p;
}

std::string all_pairs()
{
    std::string t;
    for (int k = 0; k < 6; ++k)
        t += text_of(k);
    return t;
}

TEST(OrderedOutput, WaitingOutputPrintsInPairOrderFromMemoryAndFromTheTemporaryFolder)
{
    test_support::temp_dir dir("mirlo_spill");
    ASSERT_TRUE(dir.valid());
    for (size_t bound : {size_t(1) << 20, size_t(300), size_t(0)}) {
        printed p = print_backwards(dir.path().c_str(), bound);
        EXPECT_EQ(p.out, all_pairs()) << "memory bound " << bound;
        EXPECT_EQ(p.err, "");
        EXPECT_FALSE(p.failed);
    }
}

TEST(OrderedOutput, TemporaryFileThatCannotBeMadeOrWrittenStopsTheOutputWithOneMessage)
{
    zarn_set_progname("mirlo");
    test_support::temp_dir missing_parent("mirlo_gone");
    ASSERT_TRUE(missing_parent.valid());
    const std::string missing = missing_parent.file("no/such/folder");
    test_support::small_fs full(64 * 1024);
    if (full.valid()) {
        // Filled up to the last byte.
        FILE *filler = std::fopen((full.path() + "/filler").c_str(), "w");
        ASSERT_NE(filler, nullptr);
        const std::string block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
        }
        std::fclose(filler);
    }
    test_support::small_fs read_only(1 << 20, true);
    const struct {
        const char *what;
        std::string dir;
        bool available;
        std::string reason;
    } cases[] = {
        {"missing folder", missing, true, "cannot create the output waiting to be printed in a temporary file in " +
                                              missing + ": No such file or directory"},
        {"full file system", full.path(), full.valid(),
         "cannot write the output waiting to be printed in a temporary file in " + full.path() +
             ": No space left on device"},
        {"read-only file system", read_only.path(), read_only.valid(),
         "cannot create the output waiting to be printed in a temporary file in " + read_only.path() +
             ": Read-only file system"},
    };
    for (const auto &c : cases) {
        if (!c.available) {
            std::printf("[ SKIPPED  ] %s: this process cannot mount a file system\n", c.what);
            continue;
        }
        // Pair 5 waits in memory (300 bytes); pair 4 needs the file.
        printed p = print_backwards(c.dir.c_str(), 300);
        EXPECT_TRUE(p.failed) << c.what;
        EXPECT_EQ(p.err, "mirlo error: " + c.reason + "\n") << c.what;
        // Nothing printed: pair 0, the first to print, came last.
        EXPECT_EQ(p.out, "") << c.what;
    }
}

TEST(OrderedOutput, FailedWriteToTheOutputStopsItSilently)
{
    FILE *full = std::fopen("/dev/full", "w");
    if (full == nullptr)
        GTEST_SKIP() << "no /dev/full";
    test_support::temp_dir dir("mirlo_spill");
    printed p = print_backwards(dir.path().c_str(), 1 << 20, full);
    std::fclose(full);
    EXPECT_TRUE(p.failed);
    EXPECT_EQ(p.err, "");
}

TEST(OrderedOutput, SplitPairDiscardsWhatItsRequestSentAhead)
{
    FILE *file = std::tmpfile();
    ordered_output o;
    o.out = file;
    ordered_output_begin(&o, 2);
    ordered_output_append(&o, 1, 0, "ahead\n", 6);
    ordered_output_set_segments(&o, 1, 3);
    ordered_output_append(&o, 1, 1, "piece 1\n", 8);
    ordered_output_append(&o, 1, 0, "piece 0\n", 8);
    for (size_t g = 0; g < 3; ++g)
        ordered_output_complete(&o, 1, g);
    ordered_output_append(&o, 0, 0, "first\n", 6);
    ordered_output_complete(&o, 0, 0);
    EXPECT_TRUE(ordered_output_done(&o));
    EXPECT_EQ(read_all(file), "first\npiece 0\npiece 1\n");
    std::fclose(file);
}

} // namespace
