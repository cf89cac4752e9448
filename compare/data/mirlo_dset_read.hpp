// Reading and comparing the data of two open datasets whose memory types
// and working fields (rank, dims, element counts, names) are set: whole, or
// piece by piece along a strip plan (subsets, whole extent, or chunk-aligned),
// skipping data that the storage proves equal (mirlo_chunks).
#pragma once
#include "mirlo_read.hpp"

// Compares the data of did[0] and did[1] (extents dims[0] and dims[1];
// dataset first describes the buffers; the selections of subsets, when it
// is not null and names one), read whole when whole_bytes is below
// the whole-read limit, else in strips of elements of elem_size bytes.
// Returns the differences found; a failure sets *failed.
nfound_t compare_data(const hid_t did[2], const char *const names[2], dset_pair &p, const hsize_t *const dims[2],
                      const subset_spec *const subsets[2], int first, hsize_t whole_bytes, size_t elem_size,
                      pair_context *ctx, bool *failed);
