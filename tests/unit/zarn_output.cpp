// Buffered output and its overflow file, messages and the error stack.
#define ZARN_SOURCE "test"
#include "zarn.hpp"
#include "zarn_options.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

using test_support::read_all;

// Collects through the parallel buffer for the duration of one test.
struct collecting {
    collecting()
    {
        zarn_reset_buffered_output();
        parallel_output = 1;
    }
    ~collecting()
    {
        parallel_output = 0;
        zarn_reset_buffered_output();
    }
};

TEST(BufferedPrintTest, DirectWhenParallelOutputIsOff)
{
    parallel_output = 0;
    outBuffOffset = 7;
    EXPECT_EQ(test_support::capture([] { zarn_buffered_print("%d-%s\n", 42, "x"); }).out, "42-x\n");
    outBuffOffset = 0;
}

TEST(BufferedPrintTest, CollectsIntoTheBuffer)
{
    collecting c;
    zarn_buffered_print("abc");
    zarn_buffered_print("%s", "def");
    EXPECT_EQ(outBuffOffset, 6u);
    EXPECT_STREQ(outBuff, "abcdef");
    EXPECT_EQ(overflow_file, nullptr);
}

TEST(BufferedPrintTest, TextFillingTheLastByteGoesToTheOverflowFile)
{
    collecting c;
    std::string first(100, 'a');
    zarn_buffered_print("%s", first.c_str());
    // 2048 - 100 characters would need the byte kept for the terminator.
    std::string big(OUTBUFF_SIZE - 100, 'b');
    zarn_buffered_print("%s", big.c_str());
    EXPECT_EQ(outBuffOffset, 100u);
    EXPECT_EQ(std::string(outBuff), first);
    ASSERT_NE(overflow_file, nullptr);
    // A later short text that would fit still follows into the file.
    zarn_buffered_print("tail");
    EXPECT_EQ(outBuffOffset, 100u);
    EXPECT_EQ(read_all(overflow_file), big + "tail");
}

TEST(BufferedPrintTest, TextOfExactlyTheRoomLeftMinusOneFits)
{
    collecting c;
    std::string fits(OUTBUFF_SIZE - 1, 'x');
    zarn_buffered_print("%s", fits.c_str());
    EXPECT_EQ(outBuffOffset, OUTBUFF_SIZE - 1);
    EXPECT_EQ(overflow_file, nullptr);
    zarn_buffered_print("y");
    ASSERT_NE(overflow_file, nullptr);
    EXPECT_EQ(read_all(overflow_file), "y");
}

TEST(BufferedPrintTest, FirstTextLargerThanTheBufferKeepsItWhole)
{
    collecting c;
    std::string huge(5000, 'z');
    zarn_buffered_print("%s!", huge.c_str());
    EXPECT_EQ(outBuffOffset, 0u);
    EXPECT_STREQ(outBuff, "");
    ASSERT_NE(overflow_file, nullptr);
    EXPECT_EQ(read_all(overflow_file), huge + "!");
}

TEST(BufferedPrintTest, OverflowFileThatCannotBeMadeLosesTextWithOneWarningAndSaysWhy)
{
    test_support::temp_dir dir("zarn_gone");
    ASSERT_TRUE(dir.valid());
    const std::string missing = dir.file("no/such/folder");
    test_support::scoped_env env("TMPDIR", missing.c_str());
    test_support::stream_capture errors(rawerrorstream);
    collecting c;
    const std::string big(OUTBUFF_SIZE, 'b');
    for (int i = 0; i < 3; ++i)
        zarn_buffered_print("%s", big.c_str());
    EXPECT_EQ(overflow_file, nullptr);
    EXPECT_EQ(zarn_buffered_output_error(), ENOENT);
    const std::string warnings = errors.text();
    EXPECT_EQ(test_support::occurrences(warnings, "warning: could not create overflow file"), 1u) << warnings;
    EXPECT_NE(warnings.find(missing), std::string::npos) << warnings;
    // Until the reset, later text is lost too; after it, collecting starts over.
    zarn_buffered_print("x");
    EXPECT_EQ(outBuffOffset, 0u);
    zarn_reset_buffered_output();
    EXPECT_EQ(zarn_buffered_output_error(), 0);
    zarn_buffered_print("x");
    EXPECT_STREQ(outBuff, "x");
}

TEST(BufferedPrintTest, OverflowFileGoesToTheTemporaryFolder)
{
    test_support::temp_dir dir("zarn_tmp");
    ASSERT_TRUE(dir.valid());
    test_support::scoped_env env("TMPDIR", dir.path().c_str());
    collecting c;
    const std::string big(OUTBUFF_SIZE, 'b');
    zarn_buffered_print("%s", big.c_str());
    ASSERT_NE(overflow_file, nullptr);
    // The file has no name left, but its descriptor shows where it lives.
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(overflow_file));
    char target[4096] = "";
    ASSERT_GT(readlink(link, target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target).rfind(dir.path() + "/", 0), 0u) << target;
}

// A sink that keeps what it is given.
struct kept {
    std::string text;
    int drops = 0;
};

TEST(BufferedPrintTest, SinkTakesEveryTextWholeAndIsToldToDrop)
{
    kept k;
    const zarn_print_sink sink{[](void *d, const char *t, size_t n) { static_cast<kept *>(d)->text.append(t, n); },
                               [](void *d) { ++static_cast<kept *>(d)->drops; }, &k};
    zarn_set_print_sink(&sink);
    {
        collecting c;
        const std::string big(3 * OUTBUFF_SIZE, 'z');
        zarn_buffered_print("%d-", 7);
        zarn_buffered_print("%s!", big.c_str());
        EXPECT_EQ(k.text, "7-" + big + "!");
        EXPECT_EQ(outBuffOffset, 0u);
        EXPECT_EQ(overflow_file, nullptr);
    }
    // Without parallel output the sink is not used.
    EXPECT_EQ(test_support::capture([] { zarn_buffered_print("direct"); }).out, "direct");
    zarn_set_print_sink(nullptr);
    EXPECT_EQ(k.text.size(), 2 + 3 * OUTBUFF_SIZE + 1);
    EXPECT_EQ(k.drops, 2); // the two resets of `collecting`
}

TEST(MessagesTest, ErrorAndWarningCarryTheProgramName)
{
    zarn_init();
    zarn_set_progname("mirlo");
    test_support::stream_capture errors(rawerrorstream);
    zarn_error_msg("missing file names\n");
    zarn_warn_msg("%d left\n", 3);
    zarn_print_help_hint(errors.file());
    EXPECT_EQ(errors.text(), "mirlo error: missing file names\n"
                             "mirlo warning: 3 left\n"
                             "Try '-h' or '--help' for more information or "
                             "see the <mirlo> entry in the 'HDF5 Reference Manual'.\n");
    zarn_set_progname("zarn");
}

TEST(MessagesTest, VersionLine)
{
    zarn_init();
    const auto run = test_support::capture([] {
        zarn_print_version("mirlo");
        fflush(stdout);
    });
    EXPECT_EQ(run.out, "mirlo: Version 1.10.11\n");
}

TEST(ErrorStackTest, LevelZeroRecordsNothingAboveZeroRecords)
{
    zarn_init();
    ASSERT_GE(zarn_error_stack, 0);
    H5Eclear2(zarn_error_stack);
    enable_error_stack = 0;
    zarn_push_error("zarn", "f", 1, zarn_err_minor, "failed %d", 1);
    EXPECT_EQ(H5Eget_num(zarn_error_stack), 0);
    enable_error_stack = 1;
    zarn_push_error("zarn", "f", 2, zarn_err_minor, "failed %d", 2);
    ZARN_PUSH_ERROR(zarn_info_minor, "note");
    EXPECT_EQ(H5Eget_num(zarn_error_stack), 2);
    enable_error_stack = 0;
    H5Eclear2(zarn_error_stack);
}

TEST(LifecycleTest, CloseWithoutInitAndTwiceDoesNothing)
{
    zarn_init();
    zarn_close();
    zarn_close();
    EXPECT_EQ(zarn_error_stack, H5I_INVALID_HID);
    zarn_init();
    EXPECT_GE(zarn_error_stack, 0);
    EXPECT_EQ(rawoutstream, stdout);
    EXPECT_EQ(rawerrorstream, stderr);
}

} // namespace
