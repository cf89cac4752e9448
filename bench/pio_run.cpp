// The run loop: test files one after the other, each written, read back and
// removed, through the interface's five operations.
#include "pio_run.hpp"

#include "pio_backend.hpp"
#include "pio_names.hpp"
#include "tessel_text.hpp"
#include "zarn_fatal.hpp"

#include <algorithm>
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

// The next 64 pseudo-random bits of a sequence (splitmix64): the data of
// --data=random and pattern, the same for every run of a rank.
uint64_t next_random(uint64_t *state)
{
    uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// Fills the buffer with what the write phase writes: the rank's own byte
// value when verifying, else the data of --data.
void fill_buffer(const pio_io &io)
{
    const auto size = static_cast<size_t>(io.share.transfer_bytes);
    if (io.params.verify) {
        std::memset(io.buffer, (io.ctx.rank + 1) % 256, size);
        return;
    }
    if (io.params.data == bench_data::zeros) {
        std::memset(io.buffer, 0, size);
        return;
    }
    uint64_t state = static_cast<uint64_t>(io.ctx.rank) + 1;
    const bool half = io.params.data == bench_data::pattern;
    for (size_t i = 0; i < size; i += 8) {
        const bool zero = half && i % 64 >= 32;
        const uint64_t word = zero ? 0 : next_random(&state);
        std::memcpy(io.buffer + i, &word, std::min<size_t>(8, size - i));
    }
}

// One phase of one file: open, all datasets, close, timed as the timers
// derive open and close times from (open-close start, phase start, phase
// stop, open-close stop). Everything else (the buffer's contents, debug
// lines, what HDF5 reports of the transfers) happens outside the timers.
// Returns 0 when every process succeeded.
int run_phase(pio_io &io, const pio_backend &backend, bool writing)
{
    const int phase = writing ? T_WRITE : T_READ;
    const int open_close = writing ? T_WRITE_OPEN_CLOSE : T_READ_OPEN_CLOSE;
    io.writing = writing;
    io.stopped = false;
    // A read reads back the share of the rank --read-shift names.
    io.owner = writing ? io.ctx.rank : (io.ctx.rank + io.params.read_shift) % io.ctx.nprocs;
    io.share = pio_compute_share(io.params, io.owner, io.ctx.nprocs);
    if (writing) {
        io.written.assign(static_cast<size_t>(io.params.num_dsets), 0);
        fill_buffer(io);
    }
    if (io.ctx.debug_level >= 4)
        print_share(io);
    // The activity names the file for the message of a fatal signal.
    zarn_note_activity(writing ? "writing" : "reading", io.name.c_str(), nullptr,
                       !writing && io.params.io_type == pio_interface::phdf5);
    MPI_Barrier(io.ctx.comm);
    pio_timer_set_time(&io.timers, open_close, PIO_START);
    // Each failing step has printed what failed and why.
    int rc = backend.open(io, writing ? pio_open_mode::create : pio_open_mode::read);
    if (!pio_all_succeeded(io.ctx, rc))
        return -1;
    pio_timer_set_time(&io.timers, phase, PIO_START);
    rc = writing ? backend.write(io) : backend.read(io);
    pio_timer_set_time(&io.timers, phase, PIO_STOP);
    const int close_rc = backend.close(io);
    pio_timer_set_time(&io.timers, open_close, PIO_STOP);
    const int mode_rc = pio_hdf5_note_io_mode(io);
    return pio_all_succeeded(io.ctx, rc < 0 || close_rc < 0 || mode_rc < 0 ? -1 : 0) ? 0 : -1;
}

void remove_file(const pio_io &io, const pio_backend &backend)
{
    zarn_note_activity("removing", io.name.c_str(), nullptr, false);
    MPI_Barrier(io.ctx.comm);
    if (io.ctx.rank == 0 && !io.ctx.keep_files)
        (void)backend.remove(io.ctx, io.name);
}

int run_files(pio_io &io, const pio_backend &backend, pio_run_result *result)
{
    for (long f = 1; f <= io.params.num_files; ++f) {
        io.name = pio_make_filename(io.ctx, io.params.io_type, static_cast<unsigned long>(f));
        if (io.ctx.debug_level > 0)
            std::fprintf(io.ctx.out, "rank %d: data filename=%s\n", io.ctx.rank, io.name.c_str());
        const bool ok = run_phase(io, backend, true) == 0 && (io.params.write_only || run_phase(io, backend, false) == 0);
        // What the first HDF5 file takes on disk, read while it is closed
        // on every process and not yet removed.
        if (f == 1)
            result->file1_written = io.moved[0];
        if (ok && f == 1 && io.params.io_type == pio_interface::phdf5) {
            MPI_Barrier(io.ctx.comm);
            if (io.ctx.rank == 0)
                result->stored_bytes = pio_hdf5_stored_bytes(io.name, io.params.num_dsets);
        }
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

bool pio_deadline_passed(const pio_io &io)
{
    const double started = io.timers.starts[io.writing ? T_WRITE : T_READ];
    int passed = MPI_Wtime() - started >= io.params.deadline ? 1 : 0;
    MPI_Allreduce(MPI_IN_PLACE, &passed, 1, MPI_INT, MPI_LOR, io.ctx.comm);
    return passed != 0;
}

int pio_count_transfers(pio_io &io, size_t d, long long done)
{
    if (io.writing)
        io.written[d] = done;
    io.moved[io.writing ? 0 : 1] += done * io.share.transfer_bytes;
    return 0;
}

void pio_verify_transfer(const pio_io &io)
{
    // Every byte holds the value of the rank that wrote it.
    const auto expected = static_cast<unsigned char>((io.owner + 1) % 256);
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

    pio_io io = pio_make_io(ctx, params, result.timers);
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
        status = run_files(io, pio_backend_for(params.io_type), &result);
    } else {
        status = -1;
    }
    zarn_clear_activity();
    result.moved[0] = io.moved[0];
    result.moved[1] = io.moved[1];
    result.hdf5[0] = io.hdf5[0];
    result.hdf5[1] = io.hdf5[1];
    result.status = status;
    result.reason = pio_agreed_reason(ctx, status < 0 ? io.reason : std::string());
    if (status < 0 && result.reason.empty())
        result.reason = "failed on another process";
    return result;
}
