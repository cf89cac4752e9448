// POSIX transfers: open, lseek, write and read on one shared file.
#include "pio_backend.hpp"
#include "tessel_text.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string system_reason(int error, const std::string &name)
{
    return std::string(std::strerror(error)) + " (" + name + ")";
}

// Opens the file on every process. The file is created and truncated once,
// by rank 0, and closed again before any process opens it for writing: a
// descriptor that truncated the file makes ext4 start the writeback of the
// whole file when it is closed, which would land in the middle of the other
// processes' writes.
int posix_open(pio_io &io, pio_open_mode mode)
{
    const char *name = io.name.c_str();
    int error = 0;
    if (mode == pio_open_mode::create) {
        if (io.ctx.rank == 0) {
            posix_fd creating(open(name, O_RDWR | O_CREAT | O_TRUNC, 0600));
            if (!creating.is_open())
                error = errno;
            else if (int close_error = creating.close(); close_error != 0)
                error = close_error;
        }
        MPI_Bcast(&error, 1, MPI_INT, 0, io.ctx.comm);
        if (error == 0) {
            io.file.posix = posix_fd(open(name, O_RDWR));
            if (!io.file.posix.is_open())
                error = errno;
        }
    } else {
        io.file.posix = posix_fd(open(name, O_RDONLY));
        if (!io.file.posix.is_open())
            error = errno;
    }
    if (error != 0) {
        std::fprintf(stderr, "POSIX File Open failed(%s)\n", name);
        pio_keep_reason(io, "cannot open: " + system_reason(error, io.name));
    }
    // Every process waits here, whether its open worked or not, so the
    // group's collective calls stay matched.
    MPI_Barrier(io.ctx.comm);
    return error == 0 ? 0 : -1;
}

// Moves size bytes at offset; a short transfer goes on with the rest, so a
// failure is reported with the system's reason.
int posix_piece(pio_io &io, long long offset, unsigned char *data, long long size)
{
    const int fd = io.file.posix.get();
    if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        pio_fail(io, "POSIX seek", system_reason(errno, io.name));
        return -1;
    }
    long long done = 0;
    while (done < size) {
        const size_t left = static_cast<size_t>(size - done);
        const ssize_t moved = io.writing ? ::write(fd, data + done, left) : ::read(fd, data + done, left);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0) {
            const std::string why = moved < 0 ? system_reason(errno, io.name) : "end of file (" + io.name + ")";
            pio_fail(io, io.writing ? "POSIX write" : "POSIX read", why);
            return -1;
        }
        done += moved;
    }
    return 0;
}

// Transfer X of the share, starting at base (bytes in the file).
int posix_transfer(pio_io &io, long long base, long long X)
{
    const bench_parameters &p = io.params;
    const auto B = static_cast<long long>(p.block_size);
    const auto N = static_cast<long long>(p.buf_size);
    const long long P = io.ctx.nprocs;
    unsigned char *buf = io.buffer;
    if (p.dim2d) {
        const pio_pieces pieces = pio_2d_pieces(p, io.ctx.nprocs, io.share.side, X);
        long long offset = base + pieces.first;
        for (long long done = 0; done < io.share.transfer_bytes; done += pieces.piece, offset += pieces.distance)
            if (posix_piece(io, offset, buf + done, pieces.piece) < 0)
                return -1;
        return 0;
    }
    if (!p.interleaved)
        return posix_piece(io, base + X, buf, N);
    for (long long j = 0; j < N; j += B)
        if (posix_piece(io, base + P * (X + j), buf + j, B) < 0)
            return -1;
    return 0;
}

// Datasets lie end to end in the file.
int posix_datasets(pio_io &io)
{
    for (long n = 1; n <= io.params.num_dsets; ++n) {
        const long long base = io.share.base + io.params.dset_size * (n - 1);
        if (pio_transfer_dataset(io, n, [&](long long X) { return posix_transfer(io, base, X); }) < 0)
            return -1;
    }
    return 0;
}

int posix_close(pio_io &io)
{
    if (int error = io.file.posix.close(); error != 0) {
        std::fprintf(stderr, "POSIX File Close failed\n");
        pio_keep_reason(io, "cannot close: " + system_reason(error, io.name));
        return -1;
    }
    return 0;
}

int posix_remove(const tessel_context &, const std::string &name)
{
    return std::remove(name.c_str()) == 0 ? 0 : -1;
}

} // namespace

const pio_backend PIO_POSIX_BACKEND = {posix_open, posix_datasets, posix_datasets, posix_close, posix_remove};
