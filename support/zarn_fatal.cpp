// Fatal-signal handler and the small process-wide activity record it reports.
#include "zarn_fatal.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr unsigned NAME_MAX_LEN = 1024;

struct activity_record {
    char what[64];
    char name1[NAME_MAX_LEN];
    char name2[NAME_MAX_LEN];
    bool reads_file;
};

activity_record activity = {};
zarn_fatal_cause fatal_cause = nullptr;

void copy_text(char *dst, unsigned size, const char *src)
{
    unsigned i = 0;
    if (src)
        for (; i + 1 < size && src[i]; ++i)
            dst[i] = src[i];
    dst[i] = '\0';
}

// Appends src at *len within buf of size bytes; async-signal-safe.
void append(char *buf, unsigned size, unsigned *len, const char *src)
{
    for (unsigned i = 0; src[i] && *len + 1 < size; ++i)
        buf[(*len)++] = src[i];
    buf[*len] = '\0';
}

const char *signal_name(int signo)
{
    switch (signo) {
    case SIGSEGV: return "segmentation fault";
    case SIGBUS: return "bus error";
    case SIGFPE: return "arithmetic exception";
    case SIGILL: return "illegal instruction";
    case SIGABRT: return "abort";
    default: return "fatal signal";
    }
}

#ifndef ZARN_SANITIZED

// The handler runs on its own stack, so that it can still report a stack
// overflow (deep recursion in the library on a damaged file).
constexpr size_t ALT_STACK_SIZE = 65536;
alignas(16) char alt_stack[ALT_STACK_SIZE];

// Test-only switch (see zarn_fatal_install): the signal to provoke, and the
// prefix of the activity at which to provoke it.
int test_crash_signal = 0;
char test_crash_prefix[256];

// The switch's prefix is matched against the activity and its first name,
// "what name1", so a test can pick one object: "SEGV:comparing /g1/d".
bool test_switch_matches()
{
    char subject[sizeof activity.what + NAME_MAX_LEN + 1];
    unsigned len = 0;
    append(subject, sizeof subject, &len, activity.what);
    append(subject, sizeof subject, &len, " ");
    append(subject, sizeof subject, &len, activity.name1);
    return std::strncmp(subject, test_crash_prefix, std::strlen(test_crash_prefix)) == 0;
}

// Writes out what standard output holds in its buffer but has not yet
// written, so a block-buffered report is not lost with the process. Reads the
// C library's stream fields and calls write only (no stdio call).
void write_pending_stdout()
{
#ifdef __GLIBC__
    const char *base = stdout->_IO_write_base;
    const char *ptr = stdout->_IO_write_ptr;
    if (base != nullptr && ptr > base) {
        ssize_t ignored = write(STDOUT_FILENO, base, static_cast<size_t>(ptr - base));
        (void)ignored;
    }
#endif
}

void on_fatal_signal(int signo)
{
    write_pending_stdout();
    char line[3 * NAME_MAX_LEN];
    unsigned len = zarn_fatal_message(line, sizeof line, signo);
    ssize_t ignored = write(STDERR_FILENO, line, len);
    (void)ignored;
    _exit(2);
}

// Makes the fault itself rather than raising the signal, so the handler sees
// what a real crash delivers.
[[noreturn]] void make_fault(int signo)
{
    switch (signo) {
    case SIGSEGV: {
        int *volatile nowhere = nullptr;
        *nowhere = 1;
        break;
    }
    case SIGFPE: {
        volatile int zero = 0;
        volatile int quotient = 1 / zero;
        (void)quotient;
        break;
    }
    case SIGILL:
        __builtin_trap();
    case SIGBUS: {
        // Touching a mapped page that lies wholly past the end of its file.
        FILE *empty = std::tmpfile();
        if (empty == nullptr)
            break;
        void *page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fileno(empty), 0);
        if (page == MAP_FAILED)
            break;
        volatile char c = *static_cast<volatile char *>(page);
        (void)c;
        break;
    }
    case SIGABRT:
        std::abort();
    default:
        break;
    }
    raise(signo);
    std::abort();
}

void read_test_switch()
{
    const char *value = std::getenv("ZARN_TEST_ONLY_CRASH_AT_ACTIVITY");
    if (value == nullptr || value[0] == '\0')
        return;
    char name[16];
    unsigned i = 0;
    for (; value[i] && value[i] != ':' && i + 1 < sizeof name; ++i)
        name[i] = value[i];
    name[i] = '\0';
    test_crash_signal = zarn_fatal_signal_by_name(name);
    copy_text(test_crash_prefix, sizeof test_crash_prefix, value[i] == ':' ? value + i + 1 : "");
}

#endif

} // namespace

int zarn_fatal_signal_by_name(const char *name)
{
    static const struct {
        const char *name;
        int signo;
    } names[] = {{"SEGV", SIGSEGV}, {"BUS", SIGBUS}, {"FPE", SIGFPE},
                 {"ILL", SIGILL},   {"ABRT", SIGABRT}, {"KILL", SIGKILL}};
    for (const auto &n : names)
        if (std::strcmp(name, n.name) == 0)
            return n.signo;
    return 0;
}

void zarn_note_activity(const char *what, const char *name1, const char *name2, bool reads_file)
{
    // Names are kept escaped: the handler prints them as they are.
    copy_text(activity.what, sizeof activity.what, what);
    copy_text(activity.name1, sizeof activity.name1, name1 ? zarn_printable_name(name1).c_str() : nullptr);
    copy_text(activity.name2, sizeof activity.name2, name2 ? zarn_printable_name(name2).c_str() : nullptr);
    activity.reads_file = reads_file;
#ifndef ZARN_SANITIZED
    if (test_crash_signal != 0 && test_switch_matches())
        make_fault(test_crash_signal);
#endif
}

void zarn_clear_activity()
{
    activity.what[0] = activity.name1[0] = activity.name2[0] = '\0';
    activity.reads_file = false;
}

unsigned zarn_fatal_message(char *buf, unsigned size, int signo)
{
    unsigned len = 0;
    if (size < 2) {
        if (size == 1)
            buf[0] = '\0';
        return 0;
    }
    buf[0] = '\0';
    // Another process's end is the cause, not the file being read. A peer's
    // end reaches this process as an abort from the MPI library; a fault of
    // the process's own (segmentation fault, bus error, arithmetic, illegal
    // instruction) is never put down to another process.
    char cause[128] = "";
    if (signo != SIGABRT || fatal_cause == nullptr || fatal_cause(cause, sizeof cause) == 0)
        cause[0] = '\0';
    append(buf, size, &len, zarn_get_progname());
    append(buf, size, &len, " error: ");
    append(buf, size, &len, signal_name(signo));
    if (activity.what[0]) {
        append(buf, size, &len, " while ");
        append(buf, size, &len, activity.what);
        if (activity.name1[0]) {
            append(buf, size, &len, " <");
            append(buf, size, &len, activity.name1);
            append(buf, size, &len, ">");
        }
        if (activity.name2[0]) {
            append(buf, size, &len, " and <");
            append(buf, size, &len, activity.name2);
            append(buf, size, &len, ">");
        }
        if (activity.reads_file && cause[0] == '\0')
            append(buf, size, &len, ": the HDF5 file may be damaged");
    }
    if (cause[0] != '\0') {
        append(buf, size, &len, ": ");
        append(buf, size, &len, cause);
    }
    // The line always ends with its newline, even when the names were cut.
    if (len > 0 && len + 1 >= size)
        --len;
    buf[len++] = '\n';
    buf[len] = '\0';
    return len;
}

void zarn_fatal_set_cause(zarn_fatal_cause cause)
{
    fatal_cause = cause;
}

void zarn_fatal_install()
{
#ifndef ZARN_SANITIZED
    stack_t ss;
    std::memset(&ss, 0, sizeof ss);
    ss.ss_sp = alt_stack;
    ss.ss_size = sizeof alt_stack;
    const bool have_alt_stack = sigaltstack(&ss, nullptr) == 0;

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_fatal_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND | (have_alt_stack ? SA_ONSTACK : 0);
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigaction(s, &sa, nullptr);
    read_test_switch();
#endif
}
