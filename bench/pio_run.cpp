// The run loop: test files one after the other, each written, read back and
// removed, through the interface's five operations.
#include "pio_run.hpp"

#include "pio_backend.hpp"
#include "pio_names.hpp"
#include "tessel_text.hpp"
#include "zarn_fatal.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t PAGE_SIZE = 4096;

void print_share(const pio_io &io)
{
    const char *fn = io.writing ? "do_write" : "do_read";
    const pio_share &s = io.share;
    if (!io.params.dim2d)
        std::fprintf(io.ctx.out, "%d: Debug(%s): buf_size=%llu, bytes_begin=%lld, bytes_count=%lld\n",
                     io.ctx.world_rank, fn, static_cast<unsigned long long>(io.params.buf_size), s.bytes_begin,
                     s.bytes_count);
    else
        std::fprintf(io.ctx.out, "%d: Debug(%s): linear buf_size=%lld, bytes_begin=(%lld,%lld), bytes_count=%lld\n",
                     io.ctx.world_rank, fn, s.transfer_bytes, s.row, s.column, s.bytes_count);
}

// One phase of one file: open, all datasets, close, timed as the timers
// derive open and close times from (open-close start, phase start, phase
// stop, open-close stop). Returns 0 when every process succeeded.
int run_phase(pio_io &io, const pio_backend &backend, bool writing)
{
    const int phase = writing ? T_WRITE : T_READ;
    const int open_close = writing ? T_WRITE_OPEN_CLOSE : T_READ_OPEN_CLOSE;
    io.writing = writing;
    // The activity names the file for the message of a fatal signal; it is
    // noted outside every timed region.
    zarn_note_activity(writing ? "writing" : "reading", io.name.c_str(), nullptr,
                       !writing && io.params.io_type == pio_interface::phdf5);
    MPI_Barrier(io.ctx.comm);
    pio_timer_set_time(&io.timers, open_close, PIO_START);
    // Each failing step has printed what failed and why.
    int rc = backend.open(io, writing ? pio_open_mode::create : pio_open_mode::read);
    if (!pio_all_succeeded(io.ctx, rc))
        return -1;
    if (writing && io.params.verify)
        std::memset(io.buffer, (io.ctx.rank + 1) % 256, static_cast<size_t>(io.share.transfer_bytes));
    if (io.ctx.debug_level >= 4)
        print_share(io);
    pio_timer_set_time(&io.timers, phase, PIO_START);
    rc = writing ? backend.write(io) : backend.read(io);
    pio_timer_set_time(&io.timers, phase, PIO_STOP);
    const int close_rc = backend.close(io);
    pio_timer_set_time(&io.timers, open_close, PIO_STOP);
    return pio_all_succeeded(io.ctx, rc < 0 || close_rc < 0 ? -1 : 0) ? 0 : -1;
}

void remove_file(const pio_io &io, const pio_backend &backend)
{
    zarn_note_activity("removing", io.name.c_str(), nullptr, false);
    MPI_Barrier(io.ctx.comm);
    if (io.ctx.rank == 0 && !io.ctx.keep_files)
        (void)backend.remove(io.ctx, io.name);
}

int run_files(pio_io &io, const pio_backend &backend)
{
    for (long f = 1; f <= io.params.num_files; ++f) {
        io.name = pio_make_filename(io.ctx, io.params.io_type, static_cast<unsigned long>(f));
        if (io.ctx.debug_level > 0)
            std::fprintf(io.ctx.out, "rank %d: data filename=%s\n", io.ctx.rank, io.name.c_str());
        const bool ok = run_phase(io, backend, true) == 0 && (io.params.write_only || run_phase(io, backend, false) == 0);
        if (!ok) {
            // A failed step may leave the file open on some processes; it is
            // closed here once, and removed like the file of a good run.
            if (io.file.is_open())
                (void)backend.close(io);
            remove_file(io, backend);
            return -1;
        }
        remove_file(io, backend);
    }
    return 0;
}

} // namespace

std::string pio_agreed_reason(const tessel_context &ctx, const std::string &mine)
{
    int candidate = mine.empty() ? ctx.nprocs : ctx.rank;
    int first = candidate;
    MPI_Allreduce(&candidate, &first, 1, MPI_INT, MPI_MIN, ctx.comm);
    if (first == ctx.nprocs)
        return "";
    int length = ctx.rank == first ? static_cast<int>(mine.size()) : 0;
    MPI_Bcast(&length, 1, MPI_INT, first, ctx.comm);
    std::string text = ctx.rank == first ? mine : std::string(static_cast<size_t>(length), '\0');
    MPI_Bcast(text.data(), length, MPI_CHAR, first, ctx.comm);
    return text;
}

bool pio_all_succeeded(const tessel_context &ctx, int status)
{
    int worst = status;
    MPI_Allreduce(&status, &worst, 1, MPI_INT, MPI_MIN, ctx.comm);
    return worst == 0;
}

void pio_fail(pio_io &io, const char *what, const std::string &detail_text)
{
    const std::string detail = tessel_one_line(detail_text);
    const std::string reason = std::string(what) + " failed" + (detail.empty() ? "" : ": " + detail);
    std::fprintf(stderr, "Proc %d: %s\n", io.ctx.rank, reason.c_str());
    pio_keep_reason(io, reason);
}

void pio_keep_reason(pio_io &io, const std::string &reason)
{
    if (io.reason.empty())
        io.reason = tessel_one_line(reason);
}

int pio_delete_file(const tessel_context &ctx, const std::string &name)
{
    return MPI_File_delete(name.c_str(), ctx.hints) == MPI_SUCCESS ? 0 : -1;
}

void pio_fail_plain(pio_io &io, const std::string &message_text)
{
    const std::string message = tessel_one_line(message_text);
    std::fprintf(stderr, "%s\n", message.c_str());
    pio_keep_reason(io, message);
}

void pio_verify_transfer(const pio_io &io)
{
    const auto expected = static_cast<unsigned char>((io.ctx.rank + 1) % 256);
    const unsigned char *p = io.buffer;
    long long errors = 0;
    for (long long i = 0; i < io.share.transfer_bytes; ++i) {
        if (p[i] != expected && ++errors < 20)
            std::fprintf(io.ctx.out, "%d: read data error, expected (%d), got (%d)\n", io.ctx.world_rank, expected,
                         p[i]);
    }
    if (errors >= 20)
        std::fprintf(io.ctx.out, "%d: ...total read data errors=%lld\n", io.ctx.world_rank, errors);
}

const pio_backend &pio_backend_for(pio_interface io)
{
    switch (io) {
    case pio_interface::posix: return PIO_POSIX_BACKEND;
    case pio_interface::mpiio: return PIO_MPIIO_BACKEND;
    case pio_interface::phdf5: break;
    }
    return PIO_PHDF5_BACKEND;
}

pio_run_result pio_run(const tessel_context &ctx, const bench_parameters &params)
{
    pio_run_result result;
    result.timers.clock = PIO_MPI_CLOCK;

    pio_io io{ctx, params, pio_compute_share(params, ctx.rank, ctx.nprocs), nullptr, result.timers, {}, "", true, ""};
    // Page-aligned, and touched once here so no page faults land in the
    // timed transfers.
    const auto bytes = static_cast<unsigned long long>(io.share.transfer_bytes);
    const size_t rounded = static_cast<size_t>((bytes + PAGE_SIZE - 1) / PAGE_SIZE * PAGE_SIZE);
    page_buffer buffer(static_cast<unsigned char *>(std::aligned_alloc(PAGE_SIZE, rounded)));
    int status = 0;
    if (buffer == nullptr) {
        pio_fail_plain(io, "malloc for transfer buffer size (" + std::to_string(bytes) + ") failed");
        status = -1;
    } else {
        std::memset(buffer.get(), 0, rounded);
        io.buffer = buffer.get();
    }
    if (pio_all_succeeded(ctx, status)) {
        if (ctx.debug_level >= 4 && ctx.rank == 0)
            std::fprintf(ctx.out, "Timer details:\n");
        status = run_files(io, pio_backend_for(params.io_type));
    } else {
        status = -1;
    }
    zarn_clear_activity();
    result.status = status;
    result.reason = pio_agreed_reason(ctx, status < 0 ? io.reason : std::string());
    if (status < 0 && result.reason.empty())
        result.reason = "failed on another process";
    return result;
}
