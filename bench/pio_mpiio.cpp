// MPI-IO transfers: independent (MPI_File_write_at) or collective
// (MPI_File_write_at_all, with a file view for the interleaved and 2D
// patterns) on one shared file.
#include "pio_backend.hpp"
#include "mpi_info.hpp"
#include "tessel_text.hpp"

#include <climits>
#include <cstdio>
#include <string>

namespace {

std::string mpi_reason(int code, const std::string &name)
{
    char text[MPI_MAX_ERROR_STRING + 1] = {};
    int length = 0;
    MPI_Error_string(code, text, &length);
    return tessel_one_line(text) + " (" + name + ")";
}

bool fits_int(long long v)
{
    return v >= 0 && v <= INT_MAX;
}

// The derived datatypes of one write or read phase, made once and reused
// for every transfer.
struct mpi_layout {
    mpi_type_list types;
    MPI_Datatype block = MPI_DATATYPE_NULL;     // 1D: one block of B bytes
    MPI_Datatype file_view = MPI_DATATYPE_NULL; // 1D interleaved: N / B blocks P blocks apart
    MPI_Datatype view_2d = MPI_DATATYPE_NULL;   // 2D: the file view of one transfer
};

// Keeps a type just made (create_status is the status of the call that
// wrote *made) and commits it, or reports the step that failed.
bool made(pio_io &io, mpi_layout &l, int create_status, const MPI_Datatype *made, MPI_Datatype *kept)
{
    if (create_status != MPI_SUCCESS) {
        pio_fail(io, "making an MPI datatype");
        return false;
    }
    *kept = l.types.add(*made);
    if (MPI_Type_commit(kept) != MPI_SUCCESS) {
        pio_fail(io, "committing an MPI datatype");
        return false;
    }
    return true;
}

int prepare_1d(pio_io &io, mpi_layout &l)
{
    const auto B = static_cast<long long>(io.params.block_size);
    const auto N = static_cast<long long>(io.params.buf_size);
    if (!fits_int(B) || !fits_int(N / B)) {
        pio_fail(io, "making an MPI datatype", "sizes beyond the range of an MPI count");
        return -1;
    }
    MPI_Datatype block = MPI_DATATYPE_NULL, view = MPI_DATATYPE_NULL;
    if (MPI_Type_contiguous(static_cast<int>(B), MPI_BYTE, &block) != MPI_SUCCESS) {
        pio_fail(io, "making an MPI datatype");
        return -1;
    }
    const int view_status = MPI_Type_vector(static_cast<int>(N / B), 1, io.ctx.nprocs, block, &view);
    // Freed view first, then block; committed in the same order.
    if (!made(io, l, view_status, &view, &l.file_view)) {
        l.types.add(block);
        return -1;
    }
    if (!made(io, l, MPI_SUCCESS, &block, &l.block))
        return -1;
    return 0;
}

int prepare_2d(pio_io &io, mpi_layout &l)
{
    const auto B = static_cast<long long>(io.params.block_size);
    const auto N = static_cast<long long>(io.params.buf_size);
    const long long S = io.share.side;
    if (!fits_int(N) || !fits_int(B) || !fits_int(S / N) || !fits_int(S / B) || !fits_int(N * B) ||
        !fits_int(B * B)) {
        pio_fail(io, "making an MPI datatype", "sizes beyond the range of an MPI count");
        return -1;
    }
    const int n = static_cast<int>(N), b = static_cast<int>(B);
    MPI_Datatype row = MPI_DATATYPE_NULL, cont = MPI_DATATYPE_NULL, inter_row = MPI_DATATYPE_NULL;
    MPI_Datatype inter = MPI_DATATYPE_NULL, full_buffer = MPI_DATATYPE_NULL, chunk = MPI_DATATYPE_NULL;
    MPI_Datatype chunk_inter = MPI_DATATYPE_NULL, t = MPI_DATATYPE_NULL;
    // Made and committed in this order, freed in the same order.
    if (!made(io, l, MPI_Type_contiguous(n, MPI_BYTE, &t), &t, &row) ||
        !made(io, l, MPI_Type_vector(b, 1, static_cast<int>(S / N), row, &t), &t, &cont) ||
        !made(io, l, MPI_Type_contiguous(b, MPI_BYTE, &t), &t, &inter_row) ||
        !made(io, l, MPI_Type_vector(n, 1, static_cast<int>(S / B), inter_row, &t), &t, &inter) ||
        !made(io, l, MPI_Type_contiguous(n * b, MPI_BYTE, &t), &t, &full_buffer) ||
        !made(io, l, MPI_Type_contiguous(b * b, MPI_BYTE, &t), &t, &chunk) ||
        !made(io, l, MPI_Type_vector(n / b, 1, static_cast<int>(S / B), chunk, &t), &t, &chunk_inter))
        return -1;
    if (io.params.chunk)
        l.view_2d = io.params.interleaved ? chunk_inter : full_buffer;
    else
        l.view_2d = io.params.interleaved ? inter : cont;
    return 0;
}

// One MPI-IO call at an offset, independent or collective.
int transfer_at(pio_io &io, bool collective, MPI_Offset offset, void *data, int count, MPI_Datatype type)
{
    MPI_Status status;
    const MPI_File f = io.file.mpi.get();
    int rc;
    if (collective)
        rc = io.writing ? MPI_File_write_at_all(f, offset, data, count, type, &status)
                        : MPI_File_read_at_all(f, offset, data, count, type, &status);
    else
        rc = io.writing ? MPI_File_write_at(f, offset, data, count, type, &status)
                        : MPI_File_read_at(f, offset, data, count, type, &status);
    if (rc != MPI_SUCCESS) {
        pio_fail(io, io.writing ? "MPI-IO write" : "MPI-IO read", mpi_reason(rc, io.name));
        return -1;
    }
    return 0;
}

int set_view(pio_io &io, MPI_Offset displacement, MPI_Datatype elementary, MPI_Datatype file_type)
{
    const int rc = MPI_File_set_view(io.file.mpi.get(), displacement, elementary, file_type, "native", io.ctx.hints);
    if (rc != MPI_SUCCESS) {
        pio_fail(io, "setting the MPI-IO file view", mpi_reason(rc, io.name));
        return -1;
    }
    return 0;
}

int transfer_1d(pio_io &io, const mpi_layout &l, long long base, long long X)
{
    const auto B = static_cast<long long>(io.params.block_size);
    const auto N = static_cast<long long>(io.params.buf_size);
    const long long P = io.ctx.nprocs;
    const int blocks = static_cast<int>(N / B);
    unsigned char *buf = io.buffer;
    if (!io.params.interleaved)
        return transfer_at(io, io.params.collective, base + X, buf, blocks, l.block);
    if (io.params.collective) {
        if (set_view(io, base + P * X, l.block, l.file_view) < 0)
            return -1;
        return transfer_at(io, true, 0, buf, blocks, l.block);
    }
    for (long long j = 0; j < N; j += B)
        if (transfer_at(io, false, base + P * (X + j), buf + j, 1, l.block) < 0)
            return -1;
    return 0;
}

int transfer_2d(pio_io &io, const mpi_layout &l, long long base, long long X)
{
    const pio_pieces pieces = pio_2d_pieces(io.params, io.ctx.nprocs, io.share.side, X);
    if (io.params.collective) {
        if (set_view(io, base + pieces.first, MPI_BYTE, l.view_2d) < 0)
            return -1;
        return transfer_at(io, true, 0, io.buffer, static_cast<int>(io.share.transfer_bytes), MPI_BYTE);
    }
    long long offset = base + pieces.first;
    for (long long done = 0; done < io.share.transfer_bytes; done += pieces.piece, offset += pieces.distance)
        if (transfer_at(io, false, offset, io.buffer + done, static_cast<int>(pieces.piece), MPI_BYTE) < 0)
            return -1;
    return 0;
}

int mpiio_datasets(pio_io &io)
{
    mpi_layout l;
    int rc = io.params.dim2d ? prepare_2d(io, l) : prepare_1d(io, l);
    // Datasets lie end to end in the file.
    for (long n = 1; n <= io.params.num_dsets && rc == 0; ++n) {
        const long long base = io.share.base + io.params.dset_size * (n - 1);
        rc = pio_transfer_dataset(io, n, [&](long long X) {
            return io.params.dim2d ? transfer_2d(io, l, base, X) : transfer_1d(io, l, base, X);
        });
    }
    if (l.types.free_all() != 0) {
        pio_fail(io, "freeing the MPI datatypes");
        rc = -1;
    }
    return rc;
}

// The hints the MPI library applies to an open file, as key=value pairs.
mpi_hint_list hints_of(MPI_File f)
{
    MPI_Info info = MPI_INFO_NULL;
    if (MPI_File_get_info(f, &info) != MPI_SUCCESS)
        return {};
    mpi_hint_list hints = mpi_info_pairs(info);
    MPI_Info_free(&info);
    return hints;
}

int mpiio_open(pio_io &io, pio_open_mode mode)
{
    const char *name = io.name.c_str();
    int rc;
    if (mode == pio_open_mode::create) {
        (void)MPI_File_delete(name, io.ctx.hints);
        // No process may create the file before every other has finished
        // deleting the old one.
        MPI_Barrier(io.ctx.comm);
        rc = MPI_File_open(io.ctx.comm, name, MPI_MODE_CREATE | MPI_MODE_RDWR, io.ctx.hints, io.file.mpi.receive());
    } else {
        rc = MPI_File_open(io.ctx.comm, name, MPI_MODE_RDONLY, io.ctx.hints, io.file.mpi.receive());
    }
    if (rc != MPI_SUCCESS) {
        *io.file.mpi.receive() = MPI_FILE_NULL;
        std::fprintf(stderr, "MPI File Open failed(%s)\n", name);
        pio_keep_reason(io, "cannot open: " + mpi_reason(rc, io.name));
        return -1;
    }
    if (mode == pio_open_mode::create) {
        if (MPI_File_set_size(io.file.mpi.get(), 0) != MPI_SUCCESS) {
            pio_fail_plain(io, "MPI_File_set_size failed");
            return -1;
        }
    }
    return 0;
}

int mpiio_close(pio_io &io)
{
    if (int rc = io.file.mpi.close(); rc != MPI_SUCCESS) {
        std::fprintf(stderr, "MPI File close failed\n");
        pio_keep_reason(io, "cannot close: " + mpi_reason(rc, io.name));
        return -1;
    }
    return 0;
}

} // namespace

const pio_backend PIO_MPIIO_BACKEND = {mpiio_open, mpiio_datasets, mpiio_datasets, mpiio_close, pio_delete_file};

mpi_hint_list pio_hints_in_effect(const tessel_context &ctx, const std::string &name)
{
    mpi_file f;
    mpi_hint_list hints;
    if (MPI_File_open(ctx.comm, name.c_str(), MPI_MODE_CREATE | MPI_MODE_RDWR | MPI_MODE_DELETE_ON_CLOSE, ctx.hints,
                      f.receive()) != MPI_SUCCESS) {
        *f.receive() = MPI_FILE_NULL;
        return hints;
    }
    hints = hints_of(f.get());
    (void)f.close();
    return hints;
}
