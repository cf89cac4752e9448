// Checked standard output and temporary files.
#include "zarn_io.hpp"
#include "zarn.hpp"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

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
