// Parallel HDF5 transfers: one dataset of bytes per "Dataset_N", written and
// read through hyperslab selections with the MPI-IO file driver.
#include "pio_backend.hpp"
#include "tessel_text.hpp"

#include <cstdio>
#include <string>

namespace {

// The deepest message of the HDF5 error stack: the library's own words for
// what went wrong (for a full disk, the MPI-IO error text).
herr_t keep_description(unsigned, const H5E_error2_t *entry, void *data)
{
    if (entry->desc != nullptr && *entry->desc != '\0')
        *static_cast<std::string *>(data) = entry->desc;
    return 0;
}

std::string h5_reason(const std::string &name)
{
    std::string deepest;
    H5Ewalk2(H5E_DEFAULT, H5E_WALK_DOWNWARD, keep_description, &deepest);
    if (deepest.empty())
        return name;
    return tessel_one_line(deepest) + " (" + name + ")";
}

// The spaces and transfer list of one write or read phase, made once and
// reused for every transfer.
struct h5_layout {
    h5_dataspace file_space;
    h5_dataspace mem_space;
    h5_plist transfer_list;
};

int prepare(pio_io &io, h5_layout &l)
{
    const pio_hyperslab h = pio_hdf5_selection(io.params, io.share, io.owner, io.ctx.nprocs);
    if (io.params.dset_size < 1) {
        l.file_space.reset(H5Screate(H5S_SCALAR));
        if (!l.file_space.valid()) {
            pio_fail(io, "making the HDF5 dataspace");
            return -1;
        }
    } else {
        l.file_space.reset(H5Screate_simple(h.rank, h.dims, nullptr));
        if (!l.file_space.valid()) {
            pio_fail(io, "making the HDF5 dataspace");
            return -1;
        }
        if (H5Sselect_hyperslab(l.file_space, H5S_SELECT_SET, h.start, h.stride, h.count, h.block) < 0) {
            pio_fail(io, "selecting the share of the HDF5 dataset");
            return -1;
        }
    }
    l.mem_space.reset(H5Screate_simple(h.mem_rank, h.mem_dims, nullptr));
    if (!l.mem_space.valid()) {
        pio_fail(io, "making the HDF5 dataspace");
        return -1;
    }
    l.transfer_list.reset(H5Pcreate(H5P_DATASET_XFER));
    if (!l.transfer_list.valid()) {
        pio_fail_plain(io, "HDF5 Property List Create failed");
        return -1;
    }
    if (io.params.collective && H5Pset_dxpl_mpio(l.transfer_list, H5FD_MPIO_COLLECTIVE) < 0) {
        pio_fail_plain(io, "HDF5 Property List Set failed");
        return -1;
    }
    return 0;
}

// Each close is reported by its own message. The transfer list is kept
// for pio_hdf5_note_io_mode, which reads it after the timers stop.
int release(pio_io &io, h5_layout &l)
{
    io.transfer_list = std::move(l.transfer_list);
    int rc = 0;
    if (h5_close_now(l.file_space) < 0) {
        pio_fail_plain(io, "HDF5 Dataset Space Close failed");
        rc = -1;
    }
    if (h5_close_now(l.mem_space) < 0) {
        pio_fail_plain(io, "HDF5 Memory Space Close failed");
        rc = -1;
    }
    return rc;
}

// The name of dataset n in a test file.
std::string dataset_name(long n)
{
    return "Dataset_" + std::to_string(n);
}

// Creates (write phase) or opens (read phase) dataset n.
h5_dataset open_dataset(pio_io &io, const h5_layout &l, long n)
{
    const std::string name_text = dataset_name(n);
    const char *name = name_text.c_str();
    if (!io.writing) {
        h5_dataset dataset(H5Dopen2(io.file.hdf5, name, H5P_DEFAULT));
        if (!dataset.valid())
            pio_fail_plain(io, "HDF5 Dataset open failed");
        return dataset;
    }
    h5_plist creation(H5Pcreate(H5P_DATASET_CREATE));
    if (!creation.valid()) {
        pio_fail_plain(io, "HDF5 Property List Create failed");
        return h5_dataset();
    }
    if (io.params.chunk) {
        const hsize_t dims[2] = {io.params.chunk_size, io.params.chunk_size};
        if (H5Pset_chunk(creation, io.params.dim2d ? 2 : 1, dims) < 0 ||
            (io.params.deflate > 0 && H5Pset_deflate(creation, static_cast<unsigned>(io.params.deflate)) < 0)) {
            pio_fail_plain(io, "HDF5 Property List Set failed");
            return h5_dataset();
        }
    }
    h5_dataset dataset(
        H5Dcreate2(io.file.hdf5, name, H5T_NATIVE_UCHAR, l.file_space, H5P_DEFAULT, creation, H5P_DEFAULT));
    if (!dataset.valid())
        pio_fail_plain(io, "HDF5 Dataset Create failed: " + h5_reason(io.name));
    if (h5_close_now(creation) < 0) {
        pio_fail_plain(io, "HDF5 Property List Close failed");
        return h5_dataset();
    }
    return dataset;
}

int transfer(pio_io &io, const h5_layout &l, hid_t dataset, long long X)
{
    hssize_t offset[2];
    pio_hdf5_offset(io.params, io.ctx.nprocs, io.share.side, X, offset);
    if (H5Soffset_simple(l.file_space, offset) < 0) {
        pio_fail(io, "moving the HDF5 selection to the next transfer");
        return -1;
    }
    const herr_t rc =
        io.writing ? H5Dwrite(dataset, H5T_NATIVE_UCHAR, l.mem_space, l.file_space, l.transfer_list, io.buffer)
                   : H5Dread(dataset, H5T_NATIVE_UCHAR, l.mem_space, l.file_space, l.transfer_list, io.buffer);
    if (rc < 0) {
        pio_fail(io, io.writing ? "HDF5 write" : "HDF5 read", h5_reason(io.name));
        return -1;
    }
    return 0;
}

int phdf5_datasets(pio_io &io)
{
    h5_layout l;
    int rc = prepare(io, l);
    // Creating, opening and closing a dataset are collective: after each,
    // the processes agree to go on, so a failure on one of them never
    // leaves the others waiting in the next collective call.
    rc = pio_all_succeeded(io.ctx, rc) ? 0 : -1;
    for (long n = 1; n <= io.params.num_dsets && rc == 0; ++n) {
        h5_dataset dataset = open_dataset(io, l, n);
        if (!pio_all_succeeded(io.ctx, dataset.valid() ? 0 : -1)) {
            rc = -1;
            break;
        }
        rc = pio_transfer_dataset(io, n, [&](long long X) { return transfer(io, l, dataset, X); });
        if (h5_close_now(dataset) < 0) {
            pio_fail_plain(io, "HDF5 Dataset Close failed: " + h5_reason(io.name));
            rc = -1;
        }
        rc = pio_all_succeeded(io.ctx, rc) ? 0 : -1;
    }
    if (release(io, l) < 0)
        rc = -1;
    return rc;
}

int phdf5_open(pio_io &io, pio_open_mode mode)
{
    h5_plist access(H5Pcreate(H5P_FILE_ACCESS));
    if (!access.valid()) {
        pio_fail_plain(io, "HDF5 Property List Create failed");
        return -1;
    }
    if (H5Pset_fapl_mpio(access, io.ctx.comm, io.ctx.hints) < 0 ||
        H5Pset_alignment(access, static_cast<hsize_t>(io.params.threshold), static_cast<hsize_t>(io.params.align)) <
            0) {
        pio_fail_plain(io, "HDF5 Property List Set failed");
        return -1;
    }
    const char *name = io.name.c_str();
    io.file.hdf5.reset(mode == pio_open_mode::create ? H5Fcreate(name, H5F_ACC_TRUNC, H5P_DEFAULT, access)
                                                     : H5Fopen(name, H5F_ACC_RDONLY, access));
    int rc = 0;
    if (!io.file.hdf5.valid()) {
        std::fprintf(stderr, "HDF5 File Create failed(%s)\n", name);
        pio_keep_reason(io, "cannot open: " + h5_reason(io.name));
        rc = -1;
    }
    if (h5_close_now(access) < 0) {
        pio_fail_plain(io, "HDF5 Property List Close failed");
        rc = -1;
    }
    return rc;
}

int phdf5_close(pio_io &io)
{
    if (h5_close_now(io.file.hdf5) < 0) {
        const std::string why = h5_reason(io.name);
        std::fprintf(stderr, "HDF5 File Close failed: %s\n", why.c_str());
        pio_keep_reason(io, "cannot close: " + why);
        return -1;
    }
    return 0;
}

// The bit of each mode H5Pget_mpio_actual_io_mode reports, in the order of
// PIO_HDF5_MODES.
unsigned mode_bit(H5D_mpio_actual_io_mode_t mode)
{
    switch (mode) {
    case H5D_MPIO_NO_COLLECTIVE: return 1U << 0;
    case H5D_MPIO_CHUNK_INDEPENDENT: return 1U << 1;
    case H5D_MPIO_CHUNK_COLLECTIVE: return 1U << 2;
    case H5D_MPIO_CHUNK_MIXED: return 1U << 3;
    case H5D_MPIO_CONTIGUOUS_COLLECTIVE: return 1U << 4;
    }
    return 0;
}

} // namespace

int pio_hdf5_note_io_mode(pio_io &io)
{
    if (!io.transfer_list.valid())
        return 0;
    H5D_mpio_actual_io_mode_t mode = H5D_MPIO_NO_COLLECTIVE;
    uint32_t local = 0, global = 0;
    pio_hdf5_io &record = io.hdf5[io.writing ? 0 : 1];
    if (H5Pget_mpio_actual_io_mode(io.transfer_list, &mode) >= 0)
        record.modes |= mode_bit(mode);
    if (H5Pget_mpio_no_collective_cause(io.transfer_list, &local, &global) >= 0)
        record.causes |= local | global;
    if (h5_close_now(io.transfer_list) < 0) {
        pio_fail_plain(io, "HDF5 Dataset Transfer Property List Close failed");
        return -1;
    }
    return 0;
}

long long pio_hdf5_stored_bytes(const std::string &name, long num_dsets)
{
    h5_errors_off quiet;
    h5_file file(H5Fopen(name.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    if (!file.valid())
        return -1;
    long long stored = 0;
    for (long n = 1; n <= num_dsets; ++n) {
        h5_dataset dataset(H5Dopen2(file, dataset_name(n).c_str(), H5P_DEFAULT));
        if (!dataset.valid())
            return -1;
        stored += static_cast<long long>(H5Dget_storage_size(dataset));
    }
    return stored;
}

const pio_backend PIO_PHDF5_BACKEND = {phdf5_open, phdf5_datasets, phdf5_datasets, phdf5_close, pio_delete_file};
