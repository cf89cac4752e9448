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
#include <vector>

enum class pio_open_mode : int { create = 0, read = 1 };

// The open test file of a run: only the member of the run's interface is
// ever open.
struct pio_open_file {
    posix_fd posix;
    mpi_file mpi;
    h5_file hdf5;
    [[nodiscard]] bool is_open() const noexcept { return posix.is_open() || mpi.is_open() || hdf5.valid(); }
};

// What parallel HDF5 did with the transfers of one direction: the modes it
// reports (H5Pget_mpio_actual_io_mode, one bit per mode of pio_hdf5_modes)
// and the reasons it gives for not doing collective I/O.
struct pio_hdf5_io {
    unsigned modes = 0;
    unsigned causes = 0; // H5D_mpio_no_collective_cause_t bits, local and global
};

// The modes of pio_hdf5_io::modes, bit by bit, as the reports name them.
constexpr const char *PIO_HDF5_MODES[] = {"no collective", "chunk independent", "chunk collective", "chunk mixed",
                                          "contiguous collective"};
constexpr unsigned PIO_HDF5_NOT_COLLECTIVE = 1U << 0 | 1U << 1; // no collective, chunk independent

// The reasons of pio_hdf5_io::causes, in words.
struct pio_hdf5_cause {
    unsigned bit;
    const char *words;
};
constexpr pio_hdf5_cause PIO_HDF5_CAUSES[] = {
    {0x01, "independent I/O was asked for"},
    {0x02, "a datatype conversion"},
    {0x04, "a data transform"},
    {0x08, "MPI derived datatypes are switched off in the environment"},
    {0x10, "a dataspace that is neither simple nor scalar"},
    {0x20, "a dataset that is neither contiguous nor chunked"},
    {0x40, "parallel writes of filtered data are switched off"},
    {0x80, "an error while checking whether collective I/O was possible"},
};

// Everything one measurement run works with.
struct pio_io {
    const tessel_context &ctx;
    const bench_parameters &params;
    pio_share share;        // of the owner
    unsigned char *buffer;  // share.transfer_bytes bytes
    pio_timer_set &timers;
    pio_open_file file;
    std::string name;       // of the test file being written or read
    bool writing = true;    // write phase, else read phase
    std::string reason;     // first failure of the run, in words
    int owner = 0;          // the rank whose share this phase moves (--read-shift)
    bool stopped = false;   // the deadline has ended the current phase
    std::vector<long long> written; // transfers written per dataset of the current file
    long long moved[2] = {0, 0};    // bytes this process wrote and read
    h5_plist transfer_list; // HDF5: the last phase's transfer list, examined after the timers stop
    pio_hdf5_io hdf5[2];    // HDF5: write and read
};

// The state of a run of ctx's process before its first file: its own
// share, no buffer, no file.
inline pio_io pio_make_io(const tessel_context &ctx, const bench_parameters &params, pio_timer_set &timers)
{
    return pio_io{ctx,   params, pio_compute_share(params, ctx.rank, ctx.nprocs), nullptr, timers, {}, "", true, "",
                  ctx.rank, false, {}, {0, 0}, h5_plist(), {}};
}

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

// Counts the transfers of dataset d of the current phase; returns 0.
int pio_count_transfers(pio_io &io, size_t d, long long done);

// With a deadline: whether the current phase has run past it on any
// process of the group. Collective over ctx.comm.
bool pio_deadline_passed(const pio_io &io);

// Runs the transfers of dataset n (1 to num_dsets) of the current file:
// transfer(X) for every transfer offset X of the share. A read reads only
// what the write phase wrote, when it knows; a deadline ends the phase, on every process, after the
// transfer that passed it. The raw timer brackets the transfers alone;
// verification and the deadline's agreement run outside it. Returns 0 or -1.
template <class Transfer> int pio_transfer_dataset(pio_io &io, long n, Transfer &&transfer)
{
    const int raw = io.writing ? T_RAW_WRITE : T_RAW_READ;
    const bool check = !io.writing && io.params.verify;
    const bool deadline = io.params.deadline > 0;
    const long long step = io.share.transfer_bytes;
    const auto d = static_cast<size_t>(n - 1);
    const long long whole = (io.share.bytes_count + step - 1) / step;
    long long limit = io.writing || d >= io.written.size() ? whole : io.written[d];
    if (io.stopped)
        limit = 0;
    long long done = 0;
    int rc = 0;
    pio_timer_set_time(&io.timers, raw, PIO_START);
    for (long long X = 0; done < limit; X += step) {
        if (transfer(X) < 0) {
            rc = -1;
            break;
        }
        ++done;
        if (check || deadline) {
            pio_timer_set_time(&io.timers, raw, PIO_STOP);
            if (check)
                pio_verify_transfer(io);
            if (deadline && pio_deadline_passed(io)) {
                io.stopped = true;
                return pio_count_transfers(io, d, done);
            }
            pio_timer_set_time(&io.timers, raw, PIO_START);
        }
    }
    pio_timer_set_time(&io.timers, raw, PIO_STOP);
    const int counted = pio_count_transfers(io, d, done);
    return rc < 0 ? -1 : counted;
}

// HDF5: records what parallel HDF5 did with the phase's transfers (the
// mode achieved, and why it was not collective) and closes the transfer
// list kept for it. Called after the phase's timers stopped; does nothing
// for the other interfaces. Returns 0 or -1.
int pio_hdf5_note_io_mode(pio_io &io);

// HDF5: the bytes the datasets of a closed test file take on disk
// (H5Dget_storage_size), read by one process through the serial driver;
// -1 when the file cannot be read.
long long pio_hdf5_stored_bytes(const std::string &name, long num_dsets);

// Opens a scratch file of the given name through MPI-IO on ctx.comm with the
// requested hints, reads back the hints the library applies to it, and
// removes it again. Empty when the file cannot be opened.
mpi_hint_list pio_hints_in_effect(const tessel_context &ctx, const std::string &name);
