// Owners of the resources of a measurement run: POSIX descriptors, MPI files,
// derived datatypes, communicators and info objects, and the transfer buffer.
// Each releases what it holds exactly once; a close whose failure matters is
// done through close(), which reports the status and leaves the owner empty
// whatever the outcome, so nothing is ever closed twice.
#pragma once
#include "h5_handle.hpp"

#include <mpi.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

// A POSIX file descriptor; -1 when closed.
class posix_fd {
public:
    posix_fd() noexcept = default;
    explicit posix_fd(int fd) noexcept : fd_(fd) {}
    posix_fd(const posix_fd &) = delete;
    posix_fd &operator=(const posix_fd &) = delete;
    posix_fd(posix_fd &&o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    posix_fd &operator=(posix_fd &&o) noexcept
    {
        if (this != &o) {
            (void)close();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }
    ~posix_fd() noexcept { (void)close(); }

    [[nodiscard]] int get() const noexcept { return fd_; }
    [[nodiscard]] bool is_open() const noexcept { return fd_ >= 0; }
    // Returns 0, or the errno of a failed close(2). The descriptor is gone
    // either way: POSIX leaves it unspecified after a failure, and retrying
    // could close a descriptor another thread just received.
    [[nodiscard]] int close() noexcept
    {
        const int fd = std::exchange(fd_, -1);
        if (fd < 0)
            return 0;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int fd_ = -1;
};

// An MPI file handle; MPI_FILE_NULL when closed.
class mpi_file {
public:
    mpi_file() noexcept = default;
    mpi_file(const mpi_file &) = delete;
    mpi_file &operator=(const mpi_file &) = delete;
    ~mpi_file() noexcept { (void)close(); }

    [[nodiscard]] MPI_File get() const noexcept { return f_; }
    [[nodiscard]] bool is_open() const noexcept { return f_ != MPI_FILE_NULL; }
    // For MPI_File_open; the owner must be empty.
    [[nodiscard]] MPI_File *receive() noexcept { return &f_; }
    // MPI_File_close, collective; returns its code. The handle is forgotten
    // either way.
    [[nodiscard]] int close() noexcept
    {
        if (f_ == MPI_FILE_NULL)
            return MPI_SUCCESS;
        MPI_File f = std::exchange(f_, MPI_FILE_NULL);
        return MPI_File_close(&f);
    }

private:
    MPI_File f_ = MPI_FILE_NULL;
};

// Derived MPI datatypes, freed in the order they were added.
class mpi_type_list {
public:
    mpi_type_list() = default;
    mpi_type_list(const mpi_type_list &) = delete;
    mpi_type_list &operator=(const mpi_type_list &) = delete;
    ~mpi_type_list() noexcept { (void)free_all(); }

    MPI_Datatype add(MPI_Datatype t)
    {
        types_.push_back(t);
        return t;
    }
    // Frees every type; returns how many frees failed.
    [[nodiscard]] int free_all() noexcept
    {
        int failed = 0;
        for (MPI_Datatype &t : types_)
            if (t != MPI_DATATYPE_NULL && MPI_Type_free(&t) != MPI_SUCCESS)
                ++failed;
        types_.clear();
        return failed;
    }

private:
    std::vector<MPI_Datatype> types_;
};

// A communicator made by a split; freed at the end of its scope.
class mpi_comm {
public:
    mpi_comm() noexcept = default;
    mpi_comm(const mpi_comm &) = delete;
    mpi_comm &operator=(const mpi_comm &) = delete;
    ~mpi_comm() noexcept
    {
        if (c_ != MPI_COMM_NULL)
            MPI_Comm_free(&c_);
    }
    [[nodiscard]] MPI_Comm get() const noexcept { return c_; }
    [[nodiscard]] MPI_Comm *receive() noexcept { return &c_; }

private:
    MPI_Comm c_ = MPI_COMM_NULL;
};

// An MPI info object; freed at the end of its scope (before MPI_Finalize).
class mpi_info_owner {
public:
    mpi_info_owner() noexcept = default;
    mpi_info_owner(const mpi_info_owner &) = delete;
    mpi_info_owner &operator=(const mpi_info_owner &) = delete;
    ~mpi_info_owner() noexcept
    {
        if (i_ != MPI_INFO_NULL)
            MPI_Info_free(&i_);
    }
    [[nodiscard]] MPI_Info get() const noexcept { return i_; }
    [[nodiscard]] MPI_Info *receive() noexcept { return &i_; }

private:
    MPI_Info i_ = MPI_INFO_NULL;
};

// A page-aligned transfer buffer.
struct free_deleter {
    void operator()(unsigned char *p) const noexcept { std::free(p); }
};
using page_buffer = std::unique_ptr<unsigned char, free_deleter>;

// Closes an HDF5 identifier now and returns the status of the close; the
// handle is empty afterwards whatever the outcome, so nothing closes the
// identifier a second time.
template <herr_t (*Close)(hid_t)> [[nodiscard]] herr_t h5_close_now(h5_handle<Close> &h) noexcept
{
    return h.valid() ? Close(h.release()) : 0;
}
