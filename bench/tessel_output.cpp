// Checked report streams over a file descriptor (fopencookie): every write
// goes through write_cookie, which keeps the errno of the first failure.
#include "tessel_output.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr size_t LINE_BUFFER = 1 << 12;

} // namespace

ssize_t tessel_output::write_cookie(void *cookie, const char *data, size_t size)
{
    auto *self = static_cast<tessel_output *>(cookie);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(self->fd_, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (self->error_ == 0)
                self->error_ = n < 0 ? errno : EIO;
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(size);
}

int tessel_output::close_cookie(void *cookie)
{
    auto *self = static_cast<tessel_output *>(cookie);
    if (!self->owns_fd_ || self->fd_ < 0)
        return 0;
    const int fd = self->fd_;
    self->fd_ = -1;
    if (::close(fd) == 0)
        return 0;
    if (self->error_ == 0)
        self->error_ = errno;
    return -1;
}

namespace {

FILE *open_cookie(void *cookie, ssize_t (*write)(void *, const char *, size_t), int (*close)(void *))
{
    cookie_io_functions_t functions{};
    functions.write = write;
    functions.close = close;
    FILE *f = fopencookie(cookie, "w", functions);
    if (f != nullptr)
        setvbuf(f, nullptr, _IOLBF, LINE_BUFFER);
    return f;
}

} // namespace

std::unique_ptr<tessel_output> tessel_output::standard_output()
{
    std::unique_ptr<tessel_output> out(new tessel_output());
    out->fd_ = STDOUT_FILENO;
    out->name_ = "standard output";
    out->file_ = open_cookie(out.get(), write_cookie, close_cookie);
    if (out->file_ == nullptr)
        return nullptr;
    return out;
}

std::unique_ptr<tessel_output> tessel_output::open(const char *path, bool append, std::string *why)
{
    std::unique_ptr<tessel_output> out(new tessel_output());
    out->name_ = path;
    // Every write goes to the end of the file, so that processes sharing it
    // never write over each other's lines.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_APPEND | (append ? 0 : O_TRUNC);
    out->fd_ = ::open(path, flags, 0666);
    if (out->fd_ < 0) {
        *why = std::strerror(errno);
        return nullptr;
    }
    out->owns_fd_ = true;
    struct stat st{};
    out->removable_ = !append && fstat(out->fd_, &st) == 0 && S_ISREG(st.st_mode);
    out->file_ = open_cookie(out.get(), write_cookie, close_cookie);
    if (out->file_ == nullptr) {
        *why = std::strerror(errno);
        return nullptr; // the destructor closes the descriptor
    }
    return out;
}

std::string tessel_output::finish()
{
    if (file_ != nullptr) {
        // A stream whose buffer was dropped by an earlier failure flushes
        // without error: the error flag says so.
        const bool failed = std::fflush(file_) != 0 || std::ferror(file_) != 0;
        if (std::fclose(file_) != 0 || failed) {
            if (error_ == 0)
                error_ = EIO;
        }
        file_ = nullptr;
    }
    return error_ == 0 ? "" : std::strerror(error_);
}

void tessel_output::discard()
{
    if (removable_)
        (void)::unlink(name_.c_str());
    removable_ = false;
}

tessel_output::~tessel_output()
{
    if (file_ != nullptr)
        std::fclose(file_);
    else if (owns_fd_ && fd_ >= 0)
        ::close(fd_);
}
