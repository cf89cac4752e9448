// Checked standard output and temporary files.
#include "zarn_io.hpp"
#include "zarn.hpp"

#include <cerrno>
#include <cstdlib>
#include <signal.h>
#include <unistd.h>

#include <ctime>

namespace {

// The watched stdout: where it writes and the first failure.
struct stdout_state {
    int fd = STDOUT_FILENO;
    int error = 0;
};
stdout_state watched;
bool watching = false;

ssize_t write_watched(void *cookie, const char *buf, size_t size)
{
    auto *s = static_cast<stdout_state *>(cookie);
    if (s->error != 0)
        return static_cast<ssize_t>(size); // dropped: the run already failed
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(s->fd, buf + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            s->error = n < 0 ? errno : EIO;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(size);
}

} // namespace

int zarn_stdout_watch(size_t buffer_size)
{
    if (watching)
        return 0;
    fflush(stdout);
    cookie_io_functions_t io{};
    io.write = write_watched;
    FILE *stream = fopencookie(&watched, "w", io);
    if (stream == nullptr)
        return -1;
    if (setvbuf(stream, nullptr, _IOFBF, buffer_size) != 0) {
        fclose(stream);
        return -1;
    }
    // The library's raw streams that were stdout follow it, so that nothing
    // bypasses the check and nothing closes the descriptor behind it.
    FILE *old = stdout;
    for (FILE **raw : {&rawoutstream, &rawdatastream, &rawattrstream})
        if (*raw == old)
            *raw = stream;
    stdout = stream;
    watching = true;
    return 0;
}

int zarn_stdout_error()
{
    return watching ? watched.error : 0;
}

int zarn_stdout_finish()
{
    const int flushed = fflush(stdout) == 0 ? 0 : (errno != 0 ? errno : EIO);
    if (watching)
        return watched.error;
    return flushed != 0 || ferror(stdout) ? (flushed != 0 ? flushed : EIO) : 0;
}

std::string zarn_temp_dir()
{
    const char *dir = std::getenv("TMPDIR");
    return dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
}

FILE *zarn_temp_file()
{
    std::string name = zarn_temp_dir() + "/zarn_XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0)
        return nullptr;
    unlink(name.c_str());
    FILE *file = fdopen(fd, "w+");
    if (file == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    return file;
}

// Writes text on standard error; false when it could not be written. A
// reader that has gone away (a closed pipe) must not end the run through
// SIGPIPE, so the signal is held back during the write and a SIGPIPE it
// raised is taken off the pending set before the mask is restored.
bool zarn_write_stderr(const std::string &text)
{
    sigset_t pipe_signal, old_mask, pending;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &old_mask);
    sigpending(&pending);
    const bool already_pending = sigismember(&pending, SIGPIPE) == 1;
    size_t done = 0;
    int error = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (error == EPIPE && !already_pending) {
        const timespec no_wait{0, 0};
        while (sigtimedwait(&pipe_signal, nullptr, &no_wait) == SIGPIPE) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
    return error == 0;
}
