// One small interface over the three ways of doing I/O: open, write, read,
// close and remove, a table of five functions per interface (pio_posix.cpp,
// pio_mpiio.cpp, pio_phdf5.cpp). The run loop (pio_run.cpp) calls them in the
// same order for every interface.
#pragma once
#include "pio_layout.hpp"
#include "pio_owners.hpp"
#include "pio_timer.hpp"
#include "tessel_context.hpp"

#include <string>

enum class pio_open_mode : int { create = 0, read = 1 };

// The open test file of a run: only the member of the run's interface is
// ever open.
struct pio_open_file {
    posix_fd posix;
    mpi_file mpi;
    h5_file hdf5;
    [[nodiscard]] bool is_open() const noexcept { return posix.is_open() || mpi.is_open() || hdf5.valid(); }
};

// Everything one measurement run works with.
struct pio_io {
    const tessel_context &ctx;
    const bench_parameters &params;
    pio_share share;
    unsigned char *buffer;  // share.transfer_bytes bytes
    pio_timer_set &timers;
    pio_open_file file;
    std::string name;       // of the test file being written or read
    bool writing = true;    // write phase, else read phase
    std::string reason;     // first failure of the run, in words
};

struct pio_backend {
    // Creates the file for writing or opens it for reading; every process
    // of the group calls it. Returns 0 or -1.
    int (*open)(pio_io &io, pio_open_mode mode);
    // Writes (reads) every dataset of the open file. Returns 0 or -1.
    int (*write)(pio_io &io);
    int (*read)(pio_io &io);
    // Closes the file, once, whatever the outcome. Returns 0 or -1.
    int (*close)(pio_io &io);
    // Removes the test file (rank 0 of the group only calls it).
    int (*remove)(const tessel_context &ctx, const std::string &name);
};

extern const pio_backend PIO_POSIX_BACKEND;
extern const pio_backend PIO_MPIIO_BACKEND;
extern const pio_backend PIO_PHDF5_BACKEND;
const pio_backend &pio_backend_for(pio_interface io);

// Reports a failed step on standard error as "Proc R: WHAT failed: DETAIL"
// (the detail, such as the system's reason and the file, when there is
// one) and keeps the first failure of the run as its reason.
void pio_fail(pio_io &io, const char *what, const std::string &detail = "");

// Every process of the group learns whether a step failed anywhere (status
// 0 or -1), so all of them leave the run together and keep their collective
// calls in step. Collective over ctx.comm.
bool pio_all_succeeded(const tessel_context &ctx, int status);

// Keeps reason (on one line) as the run's reason when it is the first.
void pio_keep_reason(pio_io &io, const std::string &reason);

// Deletes a test file through MPI-IO (MPI-IO and HDF5 files).
int pio_delete_file(const tessel_context &ctx, const std::string &name);

// Prints a plain failure message on standard error ("HDF5 Dataset Create
// failed", ...) and keeps it as the run's reason when it is the first.
void pio_fail_plain(pio_io &io, const std::string &message);

// Checks the bytes of a transfer just read against the writer's value and
// prints the first mismatches.
void pio_verify_transfer(const pio_io &io);

// Runs the transfers of one dataset: transfer(X) for every transfer offset X
// of the share. The raw timer brackets the transfers alone; verification,
// when asked for, runs outside it. Returns 0 or -1.
template <class Transfer> int pio_transfer_dataset(pio_io &io, Transfer &&transfer)
{
    const int raw = io.writing ? T_RAW_WRITE : T_RAW_READ;
    const bool check = !io.writing && io.params.verify;
    pio_timer_set_time(&io.timers, raw, PIO_START);
    for (long long X = 0; X < io.share.bytes_count; X += io.share.transfer_bytes) {
        if (transfer(X) < 0) {
            pio_timer_set_time(&io.timers, raw, PIO_STOP);
            return -1;
        }
        if (check) {
            pio_timer_set_time(&io.timers, raw, PIO_STOP);
            pio_verify_transfer(io);
            pio_timer_set_time(&io.timers, raw, PIO_START);
        }
    }
    pio_timer_set_time(&io.timers, raw, PIO_STOP);
    return 0;
}

// Opens a scratch file of the given name through MPI-IO on ctx.comm with the
// requested hints, reads back the hints the library applies to it, and
// removes it again. Empty when the file cannot be opened.
mpi_hint_list pio_hints_in_effect(const tessel_context &ctx, const std::string &name);
