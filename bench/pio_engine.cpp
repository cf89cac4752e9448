// The I/O engine: test files, access patterns of the three interfaces,
// verification and removal, with every phase timed.
#include "pio_engine.hpp"

#include "h5_handle.hpp"
#include "mpi_info.hpp"
#include "tessel_options.hpp"
#include "zarn_fatal.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *ENGINE_SOURCE = "pio_engine";
constexpr size_t NAME_SIZE = 1024;
constexpr size_t PAGE_SIZE = 4096;

void assertion_failed(const char *what, int line)
{
    fprintf(stderr, "Proc %d: ", bench_rank);
    fprintf(stderr, "*** Assertion failed (%s) at line %4d in %s\n", what, line, ENGINE_SOURCE);
}
#define PIO_FAIL(what) assertion_failed((what), __LINE__)

const char *const SUFFIXES[] = {".posix", ".mpio", ".h5"};

// Derived MPI datatypes of one do_write or do_read call, kept in the order
// they are freed.
struct mpi_types {
    MPI_Datatype types[7];
    int count;
};

int make_committed(mpi_types *made, MPI_Datatype type)
{
    made->types[made->count++] = type;
    if (MPI_Type_commit(&made->types[made->count - 1]) != MPI_SUCCESS) {
        PIO_FAIL("MPIO_TYPE_COMMIT");
        return -1;
    }
    return 0;
}

int free_types(mpi_types *made)
{
    int rc = 0;
    for (int i = 0; i < made->count; ++i) {
        if (made->types[i] != MPI_DATATYPE_NULL && MPI_Type_free(&made->types[i]) != MPI_SUCCESS) {
            PIO_FAIL("MPIO_TYPE_FREE");
            rc = -1;
        }
    }
    made->count = 0;
    return rc;
}

// Everything one do_write or do_read call needs for its transfers.
struct io_context {
    bool write;
    int io_type;
    int nprocs;
    int rank;
    long long B, N, S, T;
    bool interleaved, collective, dim2d, chunk, verify;
    pio_file *fd;
    unsigned char *buf;
    pio_timer_set *timers;

    // MPI-IO
    mpi_types made;
    MPI_Datatype blk_type;  // 1D block
    MPI_Datatype file_type; // 1D interleaved file view
    MPI_Datatype view_type; // 2D file view of one transfer

    // PHDF5
    h5_dataspace file_space;
    h5_dataspace mem_space;
    h5_plist dxpl;
};

bool fits_int(long long v)
{
    return v >= 0 && v <= INT_MAX;
}

int prepare_mpi_types(io_context *c)
{
    const long long B = c->B, N = c->N, S = c->S;
    if (!c->dim2d) {
        // Free order: file_type, then blk_type.
        MPI_Datatype blk = MPI_DATATYPE_NULL, file = MPI_DATATYPE_NULL;
        if (!fits_int(B) || !fits_int(N / B) || MPI_Type_contiguous(static_cast<int>(B), MPI_BYTE, &blk) != MPI_SUCCESS) {
            PIO_FAIL("MPIO_TYPE_CREATE");
            return -1;
        }
        if (MPI_Type_vector(static_cast<int>(N / B), 1, c->nprocs, blk, &file) != MPI_SUCCESS) {
            PIO_FAIL("MPIO_TYPE_CREATE");
            MPI_Type_free(&blk);
            return -1;
        }
        c->made.types[0] = file;
        c->made.types[1] = blk;
        c->made.count = 2;
        for (int i = 0; i < 2; ++i) {
            if (MPI_Type_commit(&c->made.types[i]) != MPI_SUCCESS) {
                PIO_FAIL("MPIO_TYPE_COMMIT");
                return -1;
            }
        }
        c->file_type = c->made.types[0];
        c->blk_type = c->made.types[1];
        return 0;
    }
    if (!fits_int(N) || !fits_int(B) || !fits_int(S / N) || !fits_int(S / B) || !fits_int(N * B) ||
        !fits_int(B * B)) {
        PIO_FAIL("MPIO_TYPE_CREATE");
        return -1;
    }
    const int n = static_cast<int>(N), b = static_cast<int>(B);
    MPI_Datatype t = MPI_DATATYPE_NULL;
    auto made = [&](int status) {
        if (status != MPI_SUCCESS) {
            PIO_FAIL("MPIO_TYPE_CREATE");
            return -1;
        }
        return make_committed(&c->made, t);
    };
    // Created and committed in this order; freed in the same order.
    if (made(MPI_Type_contiguous(n, MPI_BYTE, &t)) < 0) // cont_row
        return -1;
    if (made(MPI_Type_vector(b, 1, static_cast<int>(S / N), c->made.types[0], &t)) < 0) // cont_type
        return -1;
    if (made(MPI_Type_contiguous(b, MPI_BYTE, &t)) < 0) // inter_row
        return -1;
    if (made(MPI_Type_vector(n, 1, static_cast<int>(S / B), c->made.types[2], &t)) < 0) // inter_type
        return -1;
    if (made(MPI_Type_contiguous(n * b, MPI_BYTE, &t)) < 0) // full_buffer
        return -1;
    if (made(MPI_Type_contiguous(b * b, MPI_BYTE, &t)) < 0) // full_chunk
        return -1;
    if (made(MPI_Type_vector(n / b, 1, static_cast<int>(S / B), c->made.types[5], &t)) < 0) // chunk_inter_type
        return -1;
    if (c->chunk)
        c->view_type = c->interleaved ? c->made.types[6] : c->made.types[4];
    else
        c->view_type = c->interleaved ? c->made.types[3] : c->made.types[1];
    return 0;
}

int prepare_hdf5(io_context *c, const pio_share &share, long long D)
{
    const hsize_t B = static_cast<hsize_t>(c->B), N = static_cast<hsize_t>(c->N);
    const hsize_t P = static_cast<hsize_t>(c->nprocs);
    if (D < 1) {
        c->file_space.reset(H5Screate(H5S_SCALAR));
        if (!c->file_space.valid()) {
            PIO_FAIL("H5Screate");
            return -1;
        }
    } else {
        hsize_t dims[2] = {static_cast<hsize_t>(D), 0};
        hsize_t start[2], stride[2], count[2], block[2];
        int rank = 1;
        if (!c->dim2d) {
            start[0] = static_cast<hsize_t>(share.bytes_begin);
            stride[0] = c->interleaved ? P * B : B;
            count[0] = N / B;
            block[0] = B;
        } else {
            rank = 2;
            dims[0] = dims[1] = static_cast<hsize_t>(c->S);
            block[0] = block[1] = B;
            if (!c->interleaved) {
                start[0] = static_cast<hsize_t>(share.row);
                start[1] = 0;
                stride[0] = 1;
                stride[1] = B;
                count[0] = 1;
                count[1] = N / B;
            } else {
                start[0] = 0;
                start[1] = static_cast<hsize_t>(c->rank) * B;
                stride[0] = B;
                stride[1] = P * B;
                count[0] = N / B;
                count[1] = 1;
            }
        }
        c->file_space.reset(H5Screate_simple(rank, dims, nullptr));
        if (!c->file_space.valid()) {
            PIO_FAIL("H5Screate_simple");
            return -1;
        }
        if (H5Sselect_hyperslab(c->file_space, H5S_SELECT_SET, start, stride, count, block) < 0) {
            PIO_FAIL("H5Sselect_hyperslab");
            return -1;
        }
    }
    hsize_t mem_dims[2] = {N, 0};
    int mem_rank = 1;
    if (c->dim2d) {
        mem_rank = 2;
        mem_dims[0] = c->interleaved ? N : B;
        mem_dims[1] = c->interleaved ? B : N;
    }
    c->mem_space.reset(H5Screate_simple(mem_rank, mem_dims, nullptr));
    if (!c->mem_space.valid()) {
        PIO_FAIL("H5Screate_simple");
        return -1;
    }
    c->dxpl.reset(H5Pcreate(H5P_DATASET_XFER));
    if (!c->dxpl.valid()) {
        fprintf(stderr, "HDF5 Property List Create failed\n");
        return -1;
    }
    if (c->collective && H5Pset_dxpl_mpio(c->dxpl, H5FD_MPIO_COLLECTIVE) < 0) {
        fprintf(stderr, "HDF5 Property List Set failed\n");
        return -1;
    }
    return 0;
}

int release_hdf5(io_context *c)
{
    int rc = 0;
    if (c->file_space.valid() && H5Sclose(c->file_space.release()) < 0) {
        fprintf(stderr, "HDF5 Dataset Space Close failed\n");
        rc = -1;
    }
    if (c->mem_space.valid() && H5Sclose(c->mem_space.release()) < 0) {
        fprintf(stderr, "HDF5 Memory Space Close failed\n");
        rc = -1;
    }
    if (c->dxpl.valid() && H5Pclose(c->dxpl.release()) < 0) {
        fprintf(stderr, "HDF5 Dataset Transfer Property List Close failed\n");
        rc = -1;
    }
    return rc;
}

void verify_transfer(const io_context *c)
{
    const unsigned char expected = static_cast<unsigned char>((c->rank + 1) % 256);
    const unsigned char *p = c->buf;
    long long errors = 0;
    for (long long i = 0; i < c->T; ++i) {
        if (p[i] != expected) {
            if (++errors < 20) {
                fprintf(bench_output, "%d: ", bench_world_rank);
                fprintf(bench_output, "read data error, expected (%d), got (%d)\n", expected, p[i]);
            }
        }
    }
    if (errors >= 20) {
        fprintf(bench_output, "%d: ", bench_world_rank);
        fprintf(bench_output, "...");
        fprintf(bench_output, "total read data errors=%lld\n", errors);
    }
}

int posix_piece(io_context *c, long long offset, unsigned char *data, long long size)
{
    if (lseek(c->fd->posix_fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        PIO_FAIL("POSIXSEEK");
        return -1;
    }
    ssize_t moved = c->write ? ::write(c->fd->posix_fd, data, static_cast<size_t>(size))
                             : ::read(c->fd->posix_fd, data, static_cast<size_t>(size));
    if (moved != size) {
        PIO_FAIL(c->write ? "POSIXWRITE" : "POSIXREAD");
        return -1;
    }
    return 0;
}

// One MPI-IO transfer at an offset, independent or collective.
int mpi_transfer(io_context *c, bool collective, MPI_Offset offset, void *data, int count, MPI_Datatype type)
{
    MPI_Status status;
    MPI_File f = c->fd->mpi_fd;
    int rc;
    if (collective)
        rc = c->write ? MPI_File_write_at_all(f, offset, data, count, type, &status)
                      : MPI_File_read_at_all(f, offset, data, count, type, &status);
    else
        rc = c->write ? MPI_File_write_at(f, offset, data, count, type, &status)
                      : MPI_File_read_at(f, offset, data, count, type, &status);
    if (rc != MPI_SUCCESS) {
        PIO_FAIL(c->write ? "MPIO_WRITE" : "MPIO_READ");
        return -1;
    }
    return 0;
}

int mpi_at(io_context *c, MPI_Offset offset, void *data, int count, MPI_Datatype type)
{
    return mpi_transfer(c, false, offset, data, count, type);
}

int mpi_at_all(io_context *c, MPI_Offset offset, void *data, int count, MPI_Datatype type)
{
    return mpi_transfer(c, true, offset, data, count, type);
}

int mpi_view(io_context *c, MPI_Offset disp, MPI_Datatype etype, MPI_Datatype ftype)
{
    if (MPI_File_set_view(c->fd->mpi_fd, disp, etype, ftype, "native", bench_info) != MPI_SUCCESS) {
        PIO_FAIL("MPIO_VIEW");
        return -1;
    }
    return 0;
}

// Transfer X of a 1D share starting at base (bytes in the file).
int transfer_1d(io_context *c, long long base, long long X)
{
    const long long B = c->B, N = c->N, P = c->nprocs;
    unsigned char *buf = c->buf;
    switch (c->io_type) {
    case PIO_POSIX:
        if (!c->interleaved)
            return posix_piece(c, base + X, buf, N);
        for (long long j = 0; j < N; j += B)
            if (posix_piece(c, base + P * (X + j), buf + j, B) < 0)
                return -1;
        return 0;
    case PIO_MPIIO:
        if (!c->collective) {
            if (!c->interleaved)
                return mpi_at(c, base + X, buf, static_cast<int>(N / B), c->blk_type);
            for (long long j = 0; j < N; j += B)
                if (mpi_at(c, base + P * (X + j), buf + j, 1, c->blk_type) < 0)
                    return -1;
            return 0;
        }
        if (!c->interleaved)
            return mpi_at_all(c, base + X, buf, static_cast<int>(N / B), c->blk_type);
        if (mpi_view(c, base + P * X, c->blk_type, c->file_type) < 0)
            return -1;
        return mpi_at_all(c, 0, buf, static_cast<int>(N / B), c->blk_type);
    default:
        return -1;
    }
}

// Transfer X of a 2D share through POSIX or MPI-IO: the buffer goes to the
// file as consecutive pieces a fixed distance apart.
int transfer_2d_bytes(io_context *c, long long base, long long X)
{
    const long long B = c->B, N = c->N, S = c->S, P = c->nprocs;
    long long first = 0, piece = 0, distance = 0;
    if (!c->chunk && !c->interleaved) {
        long long t = X / B;
        first = (t % S) + (t / S) * S * B;
        piece = N;
        distance = S;
    } else if (!c->chunk) {
        long long t = (X / N) * P;
        first = (t % S) + (t / S) * S * N;
        piece = B;
        distance = S;
    } else if (!c->interleaved) {
        first = X;
        piece = B * N;
        distance = 0;
    } else {
        long long t = (X / (N / B)) * P;
        first = (t % (S * B)) + (t / (S * B)) * S * N;
        piece = B * B;
        distance = S * B;
    }
    if (c->io_type == PIO_MPIIO && c->collective) {
        if (mpi_view(c, base + first, MPI_BYTE, c->view_type) < 0)
            return -1;
        return mpi_at_all(c, 0, c->buf, static_cast<int>(B * N), MPI_BYTE);
    }
    long long offset = base + first;
    for (long long done = 0; done < c->T; done += piece, offset += distance) {
        int rc = c->io_type == PIO_POSIX ? posix_piece(c, offset, c->buf + done, piece)
                                         : mpi_at(c, offset, c->buf + done, static_cast<int>(piece), MPI_BYTE);
        if (rc < 0)
            return -1;
    }
    return 0;
}

int transfer_hdf5(io_context *c, hid_t dataset, long long X)
{
    const long long B = c->B, N = c->N, S = c->S, P = c->nprocs;
    hssize_t offset[2] = {0, 0};
    if (!c->dim2d) {
        offset[0] = c->interleaved ? P * X : X;
    } else if (!c->interleaved) {
        offset[0] = (X / (S * B)) * B;
        offset[1] = (X % (S * B)) / B;
    } else {
        long long v = P * X;
        offset[0] = (v / (S * N)) * N;
        offset[1] = (v % (S * N)) / N;
    }
    if (H5Soffset_simple(c->file_space, offset) < 0) {
        PIO_FAIL("H5Soffset_simple");
        return -1;
    }
    herr_t rc = c->write ? H5Dwrite(dataset, H5T_NATIVE_UCHAR, c->mem_space, c->file_space, c->dxpl, c->buf)
                         : H5Dread(dataset, H5T_NATIVE_UCHAR, c->mem_space, c->file_space, c->dxpl, c->buf);
    if (rc < 0) {
        PIO_FAIL(c->write ? "H5Dwrite" : "H5Dread");
        return -1;
    }
    return 0;
}

// Creates (write) or opens (read) dataset n of an HDF5 file.
hid_t open_dataset(io_context *c, const bench_parameters *params, long n)
{
    char name[64];
    snprintf(name, sizeof name, "Dataset_%ld", n);
    if (!c->write) {
        hid_t dset = H5Dopen2(c->fd->h5_fd, name, H5P_DEFAULT);
        if (dset < 0)
            fprintf(stderr, "HDF5 Dataset open failed\n");
        return dset;
    }
    hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    if (dcpl < 0) {
        fprintf(stderr, "HDF5 Property List Create failed\n");
        return -1;
    }
    if (params->chunk) {
        hsize_t dims[2] = {static_cast<hsize_t>(c->B), static_cast<hsize_t>(c->B)};
        if (H5Pset_chunk(dcpl, c->dim2d ? 2 : 1, dims) < 0) {
            fprintf(stderr, "HDF5 Property List Set failed\n");
            H5Pclose(dcpl);
            return -1;
        }
    }
    hid_t dset = H5Dcreate2(c->fd->h5_fd, name, H5T_NATIVE_UCHAR, c->file_space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    if (dset < 0)
        fprintf(stderr, "HDF5 Dataset Create failed\n");
    if (H5Pclose(dcpl) < 0) {
        fprintf(stderr, "HDF5 Property List Close failed\n");
        if (dset >= 0)
            H5Dclose(dset);
        return -1;
    }
    return dset;
}

int transfer_datasets(io_context *c, const bench_parameters *params, const pio_share &share, long ndsets,
                      long long D)
{
    const int raw = c->write ? T_RAW_WRITE : T_RAW_READ;
    const bool check = !c->write && c->verify;
    for (long n = 1; n <= ndsets; ++n) {
        h5_dataset dataset;
        long long base = share.base;
        if (c->io_type == PIO_PHDF5) {
            dataset.reset(open_dataset(c, params, n));
            if (!dataset.valid())
                return -1;
        } else {
            base += D * (n - 1);
        }

        pio_timer_set_time(c->timers, raw, PIO_START);
        for (long long X = 0; X < share.bytes_count; X += c->T) {
            int rc = 0;
            if (c->io_type == PIO_PHDF5)
                rc = transfer_hdf5(c, dataset, X);
            else if (c->dim2d)
                rc = transfer_2d_bytes(c, base, X);
            else
                rc = transfer_1d(c, base, X);
            if (rc < 0) {
                pio_timer_set_time(c->timers, raw, PIO_STOP);
                return -1;
            }
            if (check) {
                // The raw read time holds the transfers alone.
                pio_timer_set_time(c->timers, raw, PIO_STOP);
                verify_transfer(c);
                pio_timer_set_time(c->timers, raw, PIO_START);
            }
        }
        pio_timer_set_time(c->timers, raw, PIO_STOP);

        if (dataset.valid() && H5Dclose(dataset.release()) < 0) {
            fprintf(stderr, "HDF5 Dataset Close failed\n");
            return -1;
        }
    }
    return 0;
}

int do_io(bool write, pio_timer_set *timers, pio_file *fd, const bench_parameters *params, long ndsets,
          long long dset_size, size_t buf_size, unsigned char *buffer)
{
    io_context c{};
    c.write = write;
    c.io_type = params->io_type;
    c.nprocs = bench_nprocs;
    c.rank = bench_rank;
    c.B = static_cast<long long>(params->block_size);
    c.N = static_cast<long long>(buf_size);
    c.interleaved = params->interleaved != 0;
    c.collective = params->collective != 0;
    c.dim2d = params->dim2d != 0;
    c.chunk = params->chunk != 0;
    c.verify = params->verify != 0;
    c.fd = fd;
    c.buf = buffer;
    c.timers = timers;
    c.blk_type = c.file_type = c.view_type = MPI_DATATYPE_NULL;

    bench_parameters p = *params;
    p.dset_size = dset_size;
    p.buf_size = buf_size;
    const pio_share share = pio_compute_share(&p, c.rank, c.nprocs);
    c.S = share.side;
    c.T = share.transfer;

    if (write && c.verify)
        std::memset(buffer, (c.rank + 1) % 256, static_cast<size_t>(c.T));

    if (bench_debug_level >= 4) {
        fprintf(bench_output, "%d: ", bench_world_rank);
        const char *fn = write ? "do_write" : "do_read";
        if (!c.dim2d)
            fprintf(bench_output, "Debug(%s): buf_size=%zu, bytes_begin=%lld, bytes_count=%lld\n", fn, buf_size,
                    share.bytes_begin, share.bytes_count);
        else
            fprintf(bench_output, "Debug(%s): linear buf_size=%zu, bytes_begin=(%lld,%lld), bytes_count=%lld\n", fn,
                    static_cast<size_t>(c.T), share.row, share.column, share.bytes_count);
    }

    int rc = 0;
    if (c.io_type == PIO_MPIIO)
        rc = prepare_mpi_types(&c);
    else if (c.io_type == PIO_PHDF5)
        rc = prepare_hdf5(&c, share, dset_size);
    if (rc == 0)
        rc = transfer_datasets(&c, params, share, ndsets, dset_size);

    if (c.io_type == PIO_MPIIO && free_types(&c.made) < 0)
        rc = -1;
    if (c.io_type == PIO_PHDF5 && release_hdf5(&c) < 0)
        rc = -1;
    return rc;
}

// Every process of the group learns whether a step failed anywhere, so all
// of them leave the run together and keep their collective calls in step.
int agree(int status)
{
    int worst = status;
    MPI_Allreduce(&status, &worst, 1, MPI_INT, MPI_MIN, bench_comm);
    return worst;
}

bool is_open(int io_type, const pio_file &fd)
{
    switch (io_type) {
    case PIO_POSIX: return fd.posix_fd != -1;
    case PIO_MPIIO: return fd.mpi_fd != MPI_FILE_NULL;
    case PIO_PHDF5: return fd.h5_fd != -1;
    default: return false;
    }
}

} // namespace

long long pio_side(long long dset_size)
{
    if (dset_size <= 0)
        return 0;
    auto s = static_cast<long long>(std::sqrt(static_cast<double>(dset_size)));
    // Correct the floating-point estimate without overflowing s * s.
    while (s > 0 && s > dset_size / s)
        --s;
    while (s + 1 <= dset_size / (s + 1))
        ++s;
    return s;
}

pio_share pio_compute_share(const bench_parameters *p, int rank, int nprocs)
{
    pio_share s{};
    const long long D = p->dset_size;
    const long long B = static_cast<long long>(p->block_size);
    const long long N = static_cast<long long>(p->buf_size);
    const double r = rank, P = nprocs;
    const auto lo = static_cast<long long>(r * static_cast<double>(D) / P);
    const auto hi = static_cast<long long>((r + 1) * static_cast<double>(D) / P);
    s.bytes_count = hi - lo;
    if (!p->dim2d) {
        s.bytes_begin = p->interleaved ? rank * B : lo;
        s.base = s.bytes_begin;
        s.transfer = N;
        return s;
    }
    s.side = pio_side(D);
    if (!p->interleaved) {
        s.row = static_cast<long long>(r * static_cast<double>(s.side) / P);
        s.column = 0;
    } else {
        s.row = 0;
        s.column = (p->chunk && p->io_type != PIO_PHDF5) ? rank * B * B : rank * B;
    }
    s.base = s.side * s.row + s.column;
    s.transfer = B * N;
    return s;
}

void pio_make_filename(int io_type, unsigned long file_no, char *name, size_t size)
{
    const size_t limit = size - 1;
    char base[64];
    snprintf(base, sizeof base, "#pio_tmp_%lu", file_no);
    std::string full;
    const char *prefix = std::getenv("HDF5_PARAPREFIX");
    if (prefix == nullptr || *prefix == '\0') {
        full = base;
    } else {
        const char *user = std::getenv("USER");
        if (user == nullptr)
            user = std::getenv("LOGIN");
        std::string dir = prefix;
        if (user != nullptr) {
            dir += "/";
            dir += user;
            if (dir.size() > limit)
                dir.resize(limit);
        }
        if (dir.size() + 1 + std::strlen(base) > limit) {
            full = dir;
        } else {
            struct stat st{};
            if (stat(dir.c_str(), &st) != 0 && mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
                dir = prefix;
            full = dir + "/" + base;
            if (full.size() > limit)
                full.resize(limit);
        }
    }
    const char *suffix = (io_type >= 0 && io_type <= 2) ? SUFFIXES[io_type] : "";
    if (full.size() + std::strlen(suffix) <= limit) {
        full += suffix;
        std::string squeezed;
        for (char ch : full)
            if (!(ch == '/' && !squeezed.empty() && squeezed.back() == '/'))
                squeezed += ch;
        full.swap(squeezed);
    }
    snprintf(name, size, "%s", full.c_str());
}

int do_fopen(const bench_parameters *params, const char *name, pio_file *fd, int mode)
{
    switch (params->io_type) {
    case PIO_POSIX: {
        int rc = 0;
        fd->posix_fd = mode == PIO_CREATE ? open(name, O_RDWR | O_CREAT | O_TRUNC, 0600) : open(name, O_RDONLY);
        if (fd->posix_fd < 0) {
            fd->posix_fd = -1;
            fprintf(stderr, "POSIX File Open failed(%s)\n", name);
            rc = -1;
        }
        // Every process waits here, whether its open worked or not, so the
        // group's collective calls stay matched.
        MPI_Barrier(bench_comm);
        return rc;
    }
    case PIO_MPIIO: {
        if (mode == PIO_CREATE) {
            MPI_File_delete(name, bench_info);
            // No process may create the file before every other has
            // finished deleting the old one.
            MPI_Barrier(bench_comm);
            if (MPI_File_open(bench_comm, name, MPI_MODE_CREATE | MPI_MODE_RDWR, bench_info, &fd->mpi_fd) !=
                MPI_SUCCESS) {
                fd->mpi_fd = MPI_FILE_NULL;
                fprintf(stderr, "MPI File Open failed(%s)\n", name);
                return -1;
            }
            if (MPI_File_set_size(fd->mpi_fd, 0) != MPI_SUCCESS) {
                fprintf(stderr, "MPI_File_set_size failed\n");
                return -1;
            }
            return 0;
        }
        if (MPI_File_open(bench_comm, name, MPI_MODE_RDONLY, bench_info, &fd->mpi_fd) != MPI_SUCCESS) {
            fd->mpi_fd = MPI_FILE_NULL;
            fprintf(stderr, "MPI File Open failed(%s)\n", name);
            return -1;
        }
        return 0;
    }
    case PIO_PHDF5: {
        hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
        if (fapl < 0) {
            fprintf(stderr, "HDF5 Property List Create failed\n");
            return -1;
        }
        h5_plist guard(fapl);
        if (H5Pset_fapl_mpio(fapl, bench_comm, bench_info) < 0 ||
            H5Pset_alignment(fapl, static_cast<hsize_t>(params->threshold), static_cast<hsize_t>(params->align)) < 0) {
            fprintf(stderr, "HDF5 Property List Set failed\n");
            return -1;
        }
        fd->h5_fd = mode == PIO_CREATE ? H5Fcreate(name, H5F_ACC_TRUNC, H5P_DEFAULT, fapl)
                                       : H5Fopen(name, H5F_ACC_RDONLY, fapl);
        int rc = 0;
        if (fd->h5_fd < 0) {
            fd->h5_fd = -1;
            fprintf(stderr, "HDF5 File Create failed(%s)\n", name);
            rc = -1;
        }
        if (H5Pclose(guard.release()) < 0) {
            fprintf(stderr, "HDF5 Property List Close failed\n");
            rc = -1;
        }
        return rc;
    }
    default:
        return -1;
    }
}

int do_write(pio_timer_set *timers, pio_file *fd, const bench_parameters *params, long ndsets, long long dset_size,
             size_t buf_size, unsigned char *buffer)
{
    return do_io(true, timers, fd, params, ndsets, dset_size, buf_size, buffer);
}

int do_read(pio_timer_set *timers, pio_file *fd, const bench_parameters *params, long ndsets, long long dset_size,
            size_t buf_size, unsigned char *buffer)
{
    return do_io(false, timers, fd, params, ndsets, dset_size, buf_size, buffer);
}

int do_fclose(int io_type, pio_file *fd)
{
    switch (io_type) {
    case PIO_POSIX:
        if (close(fd->posix_fd) != 0) {
            fprintf(stderr, "POSIX File Close failed\n");
            return -1;
        }
        fd->posix_fd = -1;
        return 0;
    case PIO_MPIIO:
        if (MPI_File_close(&fd->mpi_fd) != MPI_SUCCESS) {
            fprintf(stderr, "MPI File close failed\n");
            return -1;
        }
        fd->mpi_fd = MPI_FILE_NULL;
        return 0;
    case PIO_PHDF5:
        if (H5Fclose(fd->h5_fd) < 0) {
            fprintf(stderr, "HDF5 File Close failed\n");
            return -1;
        }
        fd->h5_fd = -1;
        return 0;
    default:
        return -1;
    }
}

void pio_cleanup(int io_type, const char *name)
{
    static int keep_files = -1;
    if (bench_rank != 0)
        return;
    if (keep_files < 0)
        keep_files = std::getenv("HDF5_NOCLEANUP") != nullptr ? 1 : 0;
    if (keep_files)
        return;
    switch (io_type) {
    case PIO_POSIX:
        std::remove(name);
        break;
    case PIO_MPIIO:
    case PIO_PHDF5:
        MPI_File_delete(name, bench_info);
        break;
    default:
        break;
    }
}

int pio_run(bench_parameters params, pio_timer_set **timers)
{
    *timers = nullptr;
    char *name = static_cast<char *>(std::calloc(1, NAME_SIZE));
    if (name == nullptr)
        return -1;
    pio_file fd{-1, MPI_FILE_NULL, -1};
    const int io_type = params.io_type;
    if (io_type < PIO_POSIX || io_type > PIO_PHDF5) {
        fprintf(stderr, "Unknown IO type request (%d)\n", io_type);
        std::free(name);
        return -1;
    }
    pio_timer_set *t = pio_timer_new(PIO_MPI_CLOCK);
    *timers = t;

    const long long B = static_cast<long long>(params.block_size);
    const long long N = static_cast<long long>(params.buf_size);
    const long long D = params.dset_size;
    const int P = params.num_procs;
    int status = -1;
    unsigned char *buffer = nullptr;

    do {
        if (t == nullptr)
            break;
        if (params.num_files < 0) {
            fprintf(stderr, "number of files must be >= 0 (%ld)\n", params.num_files);
            break;
        }
        if (params.num_dsets < 0) {
            fprintf(stderr, "number of datasets per file must be >= 0 (%ld)\n", params.num_dsets);
            break;
        }
        if (P <= 0) {
            fprintf(stderr, "maximum number of process to use must be > 0 (%d)\n", P);
            break;
        }
        if (B == 0) {
            fprintf(stderr, "Transfer block size (%zu) must be > 0\n", static_cast<size_t>(0));
            break;
        }
        if (N == 0) {
            fprintf(stderr, "Transfer buffer size (%zu) must be > 0\n", static_cast<size_t>(0));
            break;
        }
        if (params.buf_size % params.block_size != 0) {
            fprintf(stderr, "Transfer buffer size (%zu) must be a multiple of the interleaved I/O block size (%zu)\n",
                    static_cast<size_t>(N), static_cast<size_t>(B));
            break;
        }
        const long long S = params.dim2d ? pio_side(D) : 0;
        const long long L = params.dim2d ? S : D;
        if (L % P != 0) {
            fprintf(stderr, "Dataset size (%lld) must be a multiple of the number of processes (%d)\n", L, P);
            break;
        }
        if (params.dim2d) {
            if (S % N != 0) {
                fprintf(stderr, "Dataset side size (%lld) must be a multiple of the transfer buffer size (%zu)\n",
                        S, static_cast<size_t>(N));
                break;
            }
            // Each process's band (or group of block columns) must hold whole
            // blocks, or its transfers would run into another process's share.
            if ((S / P) % B != 0) {
                fprintf(stderr, "Dataset side size/process (%lld) must be a multiple of the block size (%zu)\n",
                        S / P, static_cast<size_t>(B));
                break;
            }
        } else if ((D / P) % N != 0) {
            fprintf(stderr, "Dataset size/process (%lld) must be a multiple of the transfer buffer size (%zu)\n",
                    D / P, static_cast<size_t>(N));
            break;
        }

        const unsigned long long T = params.dim2d ? params.block_size * params.buf_size : params.buf_size;
        if (params.dim2d && params.block_size > ULLONG_MAX / params.buf_size) {
            fprintf(stderr, "malloc for transfer buffer size (%zu) failed\n", static_cast<size_t>(T));
            break;
        }
        // Page-aligned, and touched once here so no page faults land in the
        // timed transfers.
        const size_t rounded = (T + PAGE_SIZE - 1) / PAGE_SIZE * PAGE_SIZE;
        buffer = static_cast<unsigned char *>(std::aligned_alloc(PAGE_SIZE, rounded));
        if (buffer == nullptr) {
            fprintf(stderr, "malloc for transfer buffer size (%zu) failed\n", static_cast<size_t>(T));
            break;
        }
        std::memset(buffer, 0, rounded);

        if (bench_debug_level >= 4 && bench_rank == 0)
            fprintf(bench_output, "Timer details:\n");

        status = 0;
        for (long f = 1; f <= params.num_files && status == 0; ++f) {
            pio_make_filename(io_type, static_cast<unsigned long>(f), name, NAME_SIZE);
            if (bench_debug_level > 0)
                fprintf(bench_output, "rank %d: data filename=%s\n", bench_rank, name);

            // Write phase. The activity names the file for the message of a
            // fatal signal; it is noted outside every timed region.
            zarn_note_activity("writing", name, nullptr, false);
            MPI_Barrier(bench_comm);
            pio_timer_set_time(t, T_WRITE_OPEN_CLOSE, PIO_START);
            int rc = do_fopen(&params, name, &fd, PIO_CREATE);
            if (rc < 0)
                PIO_FAIL("do_fopen failed");
            if (agree(rc) < 0) {
                status = -1;
                break;
            }
            pio_timer_set_time(t, T_WRITE, PIO_START);
            rc = do_write(t, &fd, &params, params.num_dsets, D, params.buf_size, buffer);
            pio_timer_set_time(t, T_WRITE, PIO_STOP);
            if (rc < 0)
                PIO_FAIL("do_write failed");
            int close_rc = 0;
            if (is_open(io_type, fd) && (close_rc = do_fclose(io_type, &fd)) < 0)
                PIO_FAIL("do_fclose failed");
            pio_timer_set_time(t, T_WRITE_OPEN_CLOSE, PIO_STOP);
            if (agree(rc < 0 || close_rc < 0 ? -1 : 0) < 0) {
                status = -1;
                break;
            }

            // Read phase.
            if (!params.write_only) {
                zarn_note_activity("reading", name, nullptr, io_type == PIO_PHDF5);
                MPI_Barrier(bench_comm);
                pio_timer_set_time(t, T_READ_OPEN_CLOSE, PIO_START);
                rc = do_fopen(&params, name, &fd, PIO_READ);
                if (rc < 0)
                    PIO_FAIL("do_fopen failed");
                if (agree(rc) < 0) {
                    status = -1;
                    break;
                }
                pio_timer_set_time(t, T_READ, PIO_START);
                rc = do_read(t, &fd, &params, params.num_dsets, D, params.buf_size, buffer);
                pio_timer_set_time(t, T_READ, PIO_STOP);
                if (rc < 0)
                    PIO_FAIL("do_read failed");
                close_rc = 0;
                if (is_open(io_type, fd) && (close_rc = do_fclose(io_type, &fd)) < 0)
                    PIO_FAIL("do_fclose failed");
                pio_timer_set_time(t, T_READ_OPEN_CLOSE, PIO_STOP);
                if (agree(rc < 0 || close_rc < 0 ? -1 : 0) < 0) {
                    status = -1;
                    break;
                }
            }

            zarn_note_activity("removing", name, nullptr, false);
            MPI_Barrier(bench_comm);
            pio_cleanup(io_type, name);
        }
    } while (false);
    zarn_clear_activity();

    if (is_open(io_type, fd)) {
        switch (io_type) {
        case PIO_POSIX:
            if (close(fd.posix_fd) != 0)
                fprintf(stderr, "POSIX File Close failed\n");
            break;
        case PIO_MPIIO:
            if (MPI_File_close(&fd.mpi_fd) != MPI_SUCCESS)
                fprintf(stderr, "MPI File close failed\n");
            break;
        case PIO_PHDF5:
            if (H5Fclose(fd.h5_fd) < 0)
                fprintf(stderr, "HDF5 File Close failed\n");
            break;
        }
    }
    std::free(buffer);
    std::free(name);
    return status;
}
