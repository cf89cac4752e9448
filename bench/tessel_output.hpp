// Report streams whose every write is checked: the text report (standard
// output or the -o file) and the JSON and CSV files. A stream remembers the
// reason of its first failed write, so the run can end with one message that
// says why, even when the C library has long since dropped the buffer.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

class tessel_output {
public:
    tessel_output(const tessel_output &) = delete;
    tessel_output &operator=(const tessel_output &) = delete;
    ~tessel_output();

    // Standard output, line-buffered, so that with several processes the
    // launcher receives whole lines. It is flushed, never closed.
    static std::unique_ptr<tessel_output> standard_output();

    // The file at path, created or truncated; with append, opened for
    // appending (a file another process has just made). nullptr with the
    // system's reason in *why when it cannot be opened.
    static std::unique_ptr<tessel_output> open(const char *path, bool append, std::string *why);

    [[nodiscard]] FILE *stream() const noexcept { return file_; }

    // Flushes and closes the stream (standard output is only flushed).
    // Returns "" when every write reached the file, else the reason of the
    // first one that did not.
    std::string finish();

    // Removes the file when it is a regular file this process created or
    // truncated (never a device such as /dev/full, nor a file opened for
    // appending). Call after finish().
    void discard();

    // Where the stream writes: the file's name, or "standard output".
    [[nodiscard]] const std::string &name() const noexcept { return name_; }

private:
    tessel_output() = default;
    static ssize_t write_cookie(void *cookie, const char *data, size_t size);
    static int close_cookie(void *cookie);

    FILE *file_ = nullptr;
    int fd_ = -1;
    bool owns_fd_ = false;
    bool removable_ = false; // a regular file made or truncated here
    int error_ = 0;          // errno of the first failed write or close
    std::string name_;
};
