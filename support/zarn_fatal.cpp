// Fatal-signal handler and the small process-wide activity record it reports.
#include "zarn_fatal.hpp"
#include "zarn.hpp"

#include <csignal>
#include <initializer_list>
#include <cstring>
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

void on_fatal_signal(int signo)
{
    char line[3 * NAME_MAX_LEN];
    unsigned len = zarn_fatal_message(line, sizeof line, signo);
    ssize_t ignored = write(STDERR_FILENO, line, len);
    (void)ignored;
    _exit(2);
}

} // namespace

void zarn_note_activity(const char *what, const char *name1, const char *name2, bool reads_file)
{
    copy_text(activity.what, sizeof activity.what, what);
    copy_text(activity.name1, sizeof activity.name1, name1);
    copy_text(activity.name2, sizeof activity.name2, name2);
    activity.reads_file = reads_file;
}

void zarn_clear_activity()
{
    activity.what[0] = activity.name1[0] = activity.name2[0] = '\0';
    activity.reads_file = false;
}

unsigned zarn_fatal_message(char *buf, unsigned size, int signo)
{
    unsigned len = 0;
    buf[0] = '\0';
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
        if (activity.reads_file)
            append(buf, size, &len, ": the HDF5 file may be damaged");
    }
    append(buf, size, &len, "\n");
    return len;
}

void zarn_fatal_install()
{
#ifndef ZARN_SANITIZED
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_fatal_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigaction(s, &sa, nullptr);
#endif
}
