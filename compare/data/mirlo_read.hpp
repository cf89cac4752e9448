// Reading one piece of each side of a dataset pair into its buffer, and
// handing the buffers to the element comparison with their positions: the
// steps that whole reads, strips and blocks share.
#pragma once
#include "h5_handle.hpp"
#include "mirlo_chunks.hpp"
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
    h5_plist dcpl[2]; // creation lists, read once for every question asked of them
    // Whether the creation lists are needed (pair_creation_lists): -1 not
    // yet asked, 0 not needed (left unread), 1 needed and read.
    int lists_needed = -1;
    read_buffer buf[2];
    // A read of the side may leave elements of its buffer as they were
    // (storage never written, no fill value or fill time "never"): its
    // buffer is zeroed before each read.
    bool zero_before_read[2] = {false, false};
};

// read_creation_lists for the pair, asked once: true when the lists are
// needed (and read into p.dcpl, an entry left invalid when it could not be).
bool pair_creation_lists(dset_pair &p, const hid_t did[2]);

// Position bookkeeping for diff_array: row-major strides of the full
// extent, position cleared.
void reset_positions(pair_context *ctx);
// Position bookkeeping for a buffer that holds the box of the extent whose
// sides are extent, row-major, starting at ctx->block_start.
void reset_positions_in_box(pair_context *ctx, const hsize_t *extent);

// Reads the file_space selection of dataset k of the pair into its buffer
// through mem_space (both H5S_ALL: the whole dataset). An unreadable side is
// named (in the report, on standard error and in the record) and answers
// false.
bool read_side(dset_pair &p, int k, hid_t did, hid_t mem_space, hid_t file_space, const char *name,
               const pair_context *ctx);

// Memory space of a piece's elements, all selected, kept while the pieces
// keep the same shape: one-dimensional (rank 1, dims the element count), or
// shaped as the piece's box. False after a failure.
bool memory_space_for(h5_dataspace &space, int rank, const hsize_t *dims);

// diff_array on buffers that may report what is left of the count limit for
// this object (found differences so far). A buffer that continues the table
// of the one before it (new_table false) prints no header of its own.
nfound_t compare_buffers(void *buf1, void *buf2, pair_context *ctx, hid_t did1, hid_t did2, nfound_t found,
                         bool new_table = true);

// True once found reaches the count limit.
bool limit_reached(const pair_context *ctx, nfound_t found);

// Data skipped because it provably holds no difference: the context is left
// as a comparison of equal buffers leaves it, and the elements count as
// compared.
void skip_equal_data(pair_context *ctx, uint64_t elements);

// Where the shortcuts taken are counted: the context's counts, or unread.
chunk_stats *shortcut_counts(pair_context *ctx, chunk_stats *unread);
