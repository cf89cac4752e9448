// The fatal-signal handler: the line it composes from the activity record,
// and, in forked children, each fatal signal turned into that line on
// standard error and exit status 2.
#include "zarn.hpp"
#include "zarn_fatal.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string message(int signo)
{
    char buf[4096];
    unsigned len = zarn_fatal_message(buf, sizeof buf, signo);
    EXPECT_EQ(len, std::strlen(buf));
    return buf;
}

class FatalMessage : public ::testing::Test {
protected:
    void SetUp() override
    {
        zarn_set_progname("mirlo");
        zarn_clear_activity();
    }
    void TearDown() override { zarn_clear_activity(); }
};

TEST_F(FatalMessage, NamesTheFileBeingOpenedAndSaysItMayBeDamaged)
{
    zarn_note_activity("opening file", "data/run1.h5", nullptr);
    EXPECT_EQ(message(SIGSEGV),
              "mirlo error: segmentation fault while opening file <data/run1.h5>: the HDF5 file may be damaged\n");
}

TEST_F(FatalMessage, NamesBothObjectsOfAPair)
{
    zarn_note_activity("comparing", "/g1/dset", "/g2/dset");
    EXPECT_EQ(message(SIGBUS),
              "mirlo error: bus error while comparing </g1/dset> and </g2/dset>: the HDF5 file may be damaged\n");
}

TEST_F(FatalMessage, ControlCharactersInNamesAreEscaped)
{
    zarn_note_activity("comparing", "/a\nmirlo error: forged", "/b\x1b[2J");
    EXPECT_EQ(message(SIGSEGV), "mirlo error: segmentation fault while comparing </a\\nmirlo error: forged> and "
                                "</b\\033[2J>: the HDF5 file may be damaged\n");
}

TEST_F(FatalMessage, NoDamageHintWhenNoFileIsRead)
{
    zarn_note_activity("writing with POSIX", "/tmp/x.posix", nullptr, false);
    EXPECT_EQ(message(SIGFPE), "mirlo error: arithmetic exception while writing with POSIX </tmp/x.posix>\n");
}

TEST_F(FatalMessage, WithoutActivityOnlyTheSignal)
{
    EXPECT_EQ(message(SIGILL), "mirlo error: illegal instruction\n");
    zarn_note_activity("opening file", "a.h5", nullptr);
    zarn_clear_activity();
    EXPECT_EQ(message(SIGABRT), "mirlo error: abort\n");
}

TEST_F(FatalMessage, LongNamesAreCutAndTheLineStillEndsWithANewline)
{
    std::string huge(5000, 'x');
    zarn_note_activity("comparing", huge.c_str(), huge.c_str());
    std::string line = message(SIGSEGV);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);

    // A buffer too small for the whole line: filled exactly, never overrun.
    char small[64];
    std::memset(small, '#', sizeof small);
    unsigned len = zarn_fatal_message(small, 40, SIGSEGV);
    EXPECT_EQ(len, 39u);
    EXPECT_EQ(small[38], '\n');
    EXPECT_EQ(small[39], '\0');
    EXPECT_EQ(small[40], '#');
}

TEST_F(FatalMessage, ACauseOutsideTheProcessReplacesTheBlameOfTheFile)
{
    const auto peer_ended = [](char *buf, unsigned size) -> unsigned {
        return static_cast<unsigned>(std::snprintf(buf, size, "process 2 of the job ended"));
    };
    const auto no_cause = [](char *, unsigned) -> unsigned { return 0; };
    const struct {
        zarn_fatal_cause cause;
        const char *what;
        std::string expected;
    } cases[] = {
        {peer_ended, "listing", "mirlo error: abort while listing <a.h5> and <b.h5>: process 2 of the job ended\n"},
        {peer_ended, nullptr, "mirlo error: abort: process 2 of the job ended\n"},
        {no_cause, "listing",
         "mirlo error: abort while listing <a.h5> and <b.h5>: the HDF5 file may be damaged\n"},
    };
    for (const auto &c : cases) {
        zarn_fatal_set_cause(c.cause);
        zarn_clear_activity();
        if (c.what != nullptr)
            zarn_note_activity(c.what, "a.h5", "b.h5");
        EXPECT_EQ(message(SIGABRT), c.expected);
    }
    // A fault of the process's own is never put down to another process.
    zarn_fatal_set_cause(peer_ended);
    zarn_clear_activity();
    zarn_note_activity("listing", "a.h5", "b.h5");
    EXPECT_EQ(message(SIGSEGV), "mirlo error: segmentation fault while listing <a.h5> and <b.h5>: the HDF5 file may be damaged\n");
    zarn_fatal_set_cause(nullptr);
}

TEST_F(FatalMessage, TinyBuffersAreNotOverrun)
{
    char buf[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(zarn_fatal_message(buf, 0, SIGSEGV), 0u);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(zarn_fatal_message(buf, 1, SIGSEGV), 0u);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], '#');
    EXPECT_EQ(zarn_fatal_message(buf, 2, SIGSEGV), 1u);
    EXPECT_EQ(buf[0], '\n');
    EXPECT_EQ(buf[2], '#');
}

TEST(FatalSignalNames, TestSwitchNames)
{
    EXPECT_EQ(zarn_fatal_signal_by_name("SEGV"), SIGSEGV);
    EXPECT_EQ(zarn_fatal_signal_by_name("BUS"), SIGBUS);
    EXPECT_EQ(zarn_fatal_signal_by_name("FPE"), SIGFPE);
    EXPECT_EQ(zarn_fatal_signal_by_name("ILL"), SIGILL);
    EXPECT_EQ(zarn_fatal_signal_by_name("ABRT"), SIGABRT);
    EXPECT_EQ(zarn_fatal_signal_by_name("KILL"), SIGKILL);
    EXPECT_EQ(zarn_fatal_signal_by_name("segv"), 0);
    EXPECT_EQ(zarn_fatal_signal_by_name("TERM"), 0);
    EXPECT_EQ(zarn_fatal_signal_by_name(""), 0);
}

#ifndef ZARN_SANITIZED

struct child_outcome {
    int status = -1;   // raw waitpid status
    std::string err;   // what the child wrote on standard error
};

// Runs body in a forked child whose standard error is captured.
template <typename Body> child_outcome run_child(Body body)
{
    child_outcome out;
    int fds[2];
    if (pipe(fds) != 0)
        return out;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDERR_FILENO);
        body();
        _exit(0);
    }
    close(fds[1]);
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.err.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, &out.status, 0);
    return out;
}

// Recursion that the compiler cannot turn into a loop.
int deep(int depth)
{
    volatile char frame[1024];
    volatile int guard = depth;
    frame[0] = static_cast<char>(depth);
    if (guard < 0)
        return 0;
    return deep(depth + 1) + frame[0];
}

struct signal_case {
    const char *name;
    const char *text;
};

class FatalSignal : public ::testing::TestWithParam<signal_case> {};

TEST_P(FatalSignal, EachSignalGivesOneLineAndStatusTwo)
{
    const signal_case c = GetParam();
    child_outcome out = run_child([&] {
        zarn_set_progname("mirlo");
        setenv("ZARN_TEST_ONLY_CRASH_AT_ACTIVITY", (std::string(c.name) + ":comparing").c_str(), 1);
        zarn_fatal_install();
        zarn_note_activity("opening file", "a.h5", nullptr);  // not the chosen activity
        zarn_note_activity("comparing", "/d1", "/d2");
    });
    ASSERT_TRUE(WIFEXITED(out.status)) << "child killed by signal " << WTERMSIG(out.status);
    EXPECT_EQ(WEXITSTATUS(out.status), 2);
    EXPECT_EQ(out.err, std::string("mirlo error: ") + c.text +
                           " while comparing </d1> and </d2>: the HDF5 file may be damaged\n");
}

INSTANTIATE_TEST_SUITE_P(AllFatalSignals, FatalSignal,
                         ::testing::Values(signal_case{"SEGV", "segmentation fault"},
                                           signal_case{"BUS", "bus error"},
                                           signal_case{"FPE", "arithmetic exception"},
                                           signal_case{"ILL", "illegal instruction"},
                                           signal_case{"ABRT", "abort"}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(FatalHandler, TestSwitchCanPickOneObject)
{
    child_outcome out = run_child([] {
        zarn_set_progname("mirlo");
        setenv("ZARN_TEST_ONLY_CRASH_AT_ACTIVITY", "SEGV:comparing /g/second", 1);
        zarn_fatal_install();
        zarn_note_activity("comparing", "/g/first", "/g/first");
        zarn_note_activity("comparing", "/g/second", "/h/second");
        zarn_note_activity("comparing", "/g/third", "/g/third");
    });
    ASSERT_TRUE(WIFEXITED(out.status));
    EXPECT_EQ(WEXITSTATUS(out.status), 2);
    EXPECT_EQ(out.err, "mirlo error: segmentation fault while comparing </g/second> and </h/second>: the HDF5 "
                       "file may be damaged\n");
}

TEST(FatalHandler, StackOverflowIsReportedFromTheAlternateStack)
{
    child_outcome out = run_child([] {
        zarn_set_progname("mirlo");
        unsetenv("ZARN_TEST_ONLY_CRASH_AT_ACTIVITY");
        zarn_fatal_install();
        zarn_note_activity("reading", "/deep", nullptr);
        (void)deep(0);
    });
    ASSERT_TRUE(WIFEXITED(out.status)) << "child killed by signal " << WTERMSIG(out.status);
    EXPECT_EQ(WEXITSTATUS(out.status), 2);
    EXPECT_EQ(out.err, "mirlo error: segmentation fault while reading </deep>: the HDF5 file may be damaged\n");
}

TEST(FatalHandler, WithoutTheTestSwitchActivitiesDoNotCrash)
{
    child_outcome out = run_child([] {
        unsetenv("ZARN_TEST_ONLY_CRASH_AT_ACTIVITY");
        zarn_fatal_install();
        zarn_note_activity("comparing", "/a", "/b");
        zarn_clear_activity();
    });
    ASSERT_TRUE(WIFEXITED(out.status));
    EXPECT_EQ(WEXITSTATUS(out.status), 0);
    EXPECT_EQ(out.err, "");
}

TEST(FatalHandler, UnknownSignalNameInTheSwitchIsIgnored)
{
    child_outcome out = run_child([] {
        setenv("ZARN_TEST_ONLY_CRASH_AT_ACTIVITY", "TERM", 1);
        zarn_fatal_install();
        zarn_note_activity("comparing", "/a", "/b");
    });
    ASSERT_TRUE(WIFEXITED(out.status));
    EXPECT_EQ(WEXITSTATUS(out.status), 0);
}

TEST(FatalHandler, KillInTheSwitchEndsTheProcessWithoutAWord)
{
    child_outcome out = run_child([] {
        setenv("ZARN_TEST_ONLY_CRASH_AT_ACTIVITY", "KILL:comparing /a", 1);
        zarn_fatal_install();
        zarn_note_activity("comparing", "/a", "/b");
    });
    ASSERT_TRUE(WIFSIGNALED(out.status));
    EXPECT_EQ(WTERMSIG(out.status), SIGKILL);
    EXPECT_EQ(out.err, "");
}

#endif

} // namespace
