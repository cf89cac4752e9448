// Checked output: standard output that remembers why a write failed, and
// temporary files in the folder the user chose. A report cut short by a full
// disk or a closed pipe must end the run with a failure, not with the status
// of a complete one.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>

// Makes stdout a fully buffered stream (buffer_size bytes) over the same
// descriptor that keeps the errno of the first write that failed; later
// writes are then dropped. Returns 0, or -1 when stdout is left as it was.
int zarn_stdout_watch(size_t buffer_size);

// The errno of the first failed write to the watched stdout, or 0.
int zarn_stdout_error();

// Flushes stdout and returns zarn_stdout_error() (or the errno of the flush
// of an unwatched stdout that failed).
int zarn_stdout_finish();

// The folder for temporary files: $TMPDIR when set and not empty, else /tmp.
std::string zarn_temp_dir();

// A new temporary file in zarn_temp_dir(), open for reading and writing,
// already removed from the folder (it goes when closed). Returns nullptr with
// errno set when it cannot be made.
FILE *zarn_temp_file();

// Writes text on standard error, unbuffered; false when it could not be
// written whole. A closed pipe raises no SIGPIPE: the caller decides whether
// a failed write matters (progress lines stop, the run goes on).
bool zarn_write_stderr(const std::string &text);
