// Contiguous data read and compared block by block: a box of about 4 MiB
// per buffer at a time, each compared while it is still in the processor's
// cache.
#pragma once
#include "mirlo_read.hpp"

// Bytes of one block per buffer: 4 MiB, or an eighth of the strip budget
// when that is smaller.
hsize_t block_bytes();

// True when the box of extent count is worth reading block by block:
// several blocks of whole rows along its first dimension of more than one
// index.
bool worth_blocks(int rank, const hsize_t *count, size_t elem_size);

// Reads and compares the box [start, start + count) of both datasets (no
// subset) block by block. The box is one table, as one buffer of it would
// be: the header is printed once, and positions are those of the whole
// extent. The buffers hold a block. Adds the differences to *found, stops
// at the count limit; a failed read sets *failed.
void compare_box_in_blocks(const hid_t did[2], const char *const names[2], dset_pair &p, int rank,
                           const hsize_t *start, const hsize_t *count, size_t elem_size, pair_context *ctx,
                           nfound_t *found, bool *failed);
