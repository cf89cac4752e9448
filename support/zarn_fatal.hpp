// Fatal signals: a damaged file can make the HDF5 library itself crash. The
// handler turns that into one line naming what was being done, and exit
// status 2, instead of a core dump.
#pragma once

// Installs the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT (not
// in sanitizer builds, whose own handlers report). The handler runs on an
// alternate stack, so a stack overflow is reported too.
//
// Test-only: when the environment variable
// ZARN_TEST_ONLY_CRASH_AT_ACTIVITY is set to SIGNAME or SIGNAME:PREFIX
// (SIGNAME one of SEGV, BUS, FPE, ILL, ABRT, or KILL for a process killed as
// by kill -9, which no handler sees), the process makes that fault itself at
// the first zarn_note_activity where "what name1" begins with PREFIX (any
// activity when no prefix is given; "comparing /g1/d" picks the pair whose
// first name begins with /g1/d). It lets the tests see the real binaries die
// of each signal; nothing else reads the variable.
void zarn_fatal_install();

// A check the handler runs before it blames the file: writes the cause of
// the fault into buf (at most size bytes, terminated, async-signal-safe) when
// it lies outside this process, such as another process of the job that has
// ended, and returns its length, or 0 when it finds none. Asked for aborts
// only: that is how another process's end reaches this one.
using zarn_fatal_cause = unsigned (*)(char *buf, unsigned size);
void zarn_fatal_set_cause(zarn_fatal_cause cause);

// Records what the process is doing, for the handler's message: `what`
// ("opening file", "comparing", ...) and up to two names. Texts are copied
// (cut to a fixed length). reads_file: the activity reads an HDF5 file, so
// the message adds that the file may be damaged.
void zarn_note_activity(const char *what, const char *name1, const char *name2, bool reads_file = true);

// Forgets the activity (nothing in particular is being done).
void zarn_clear_activity();

// Composes the handler's line into buf (at most size bytes, terminated) from
// the recorded activity; async-signal-safe. Returns the length.
unsigned zarn_fatal_message(char *buf, unsigned size, int signo);

// The signal number of a name of the test switch (SEGV, BUS, FPE, ILL, ABRT
// or KILL), or 0.
int zarn_fatal_signal_by_name(const char *name);
