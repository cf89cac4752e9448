// Reading and comparing the data of two open datasets whose memory types
// and working fields (rank, dims, element counts, names) are set: whole, or
// piece by piece along a strip plan (subsets, whole extent, or chunk-aligned),
// skipping data that the storage proves equal (mirlo_chunks).
#pragma once
#include "h5_handle.hpp"
#include "mirlo_context.hpp"
#include "mirlo_read_buffer.hpp"
#include "zarn_utils.hpp"

// Everything one dataset comparison opens. Members are destroyed in reverse
// order, so buffers are reclaimed before the spaces and types they name close.
struct dset_pair {
    h5_dataspace sid[2];
    h5_datatype ftype[2];
    h5_datatype mtype[2];
    h5_dataspace memspace[2];
    read_buffer buf[2];
    // A read of the side may leave elements of its buffer as they were
    // (storage never written, no fill value or fill time "never"): its
    // buffer is zeroed before each read.
    bool zero_before_read[2] = {false, false};
};

// Position bookkeeping for diff_array: row-major strides of the full
// extent, position cleared.
void reset_positions(pair_context *ctx);

// Compares the data of did[0] and did[1] (extents dims[0] and dims[1];
// dataset first describes the buffers; the selections of subsets, when it
// is not null and names one), read whole when whole_bytes is below
// the whole-read limit, else in strips of elements of elem_size bytes.
// Returns the differences found; a failure sets *failed.
nfound_t compare_data(const hid_t did[2], const char *const names[2], dset_pair &p, const hsize_t *const dims[2],
                      const subset_spec *const subsets[2], int first, hsize_t whole_bytes, size_t elem_size,
                      pair_context *ctx, bool *failed);
