// Reading one piece of each side of a dataset pair into its buffer, and
// handing the buffers to the element comparison with their positions.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_read.hpp"
#include "mirlo_array.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "mirlo_stats.hpp"
#include "zarn.hpp"

#include <algorithm>
#include <cstring>

namespace {

// Data that cannot be read (damaged storage, a filter that fails) is named in
// the output, so that the failure does not pass for a pair without
// differences, and on standard error with the file.
void print_unreadable(hid_t did, const char *name, int k, const pair_context *ctx)
{
    output_print(ctx->out, "Cannot read dataset <%s>\n", shown(name).c_str());
    print_failure_of(did, "its data cannot be read: the storage is damaged or a filter failed");
    record_error(ctx, "cannot read dataset <%s> in the %s file", name != nullptr ? name : "",
                 k == 0 ? "first" : "second");
}

} // namespace

bool pair_creation_lists(dset_pair &p, const hid_t did[2])
{
    if (p.lists_needed < 0)
        p.lists_needed = read_creation_lists(did, p.dcpl) ? 1 : 0;
    return p.lists_needed == 1;
}

void reset_positions(pair_context *ctx)
{
    std::memset(ctx->position, 0, sizeof ctx->position);
    init_accumulators(ctx->rank, ctx->dims, ctx->accumulators);
}

// Position bookkeeping for a buffer that holds the box of the extent whose
// sides are extent, row-major, starting at ctx->block_start: element
// indices map through the box's strides, so that a piece that does not span
// the later dimensions whole still reports positions in the whole extent.
void reset_positions_in_box(pair_context *ctx, const hsize_t *extent)
{
    reset_positions(ctx);
    uint64_t sides[MIRLO_MAX_RANK] = {};
    for (int i = 0; i < ctx->rank && i < MIRLO_MAX_RANK; ++i)
        sides[i] = extent[i];
    init_accumulators(ctx->rank, sides, ctx->accumulators);
}

// Where the shortcuts taken are counted: the context's counts, or a place
// that nobody reads.
chunk_stats *shortcut_counts(pair_context *ctx, chunk_stats *unread)
{
    return ctx->chunk_counts != nullptr ? ctx->chunk_counts : unread;
}

// diff_array on buffers that may report what is left of the count limit
// for this object, so that a dataset compared in several pieces reports at
// most count_limit differences in all. A buffer that continues the table of
// the one before it (new_table false) prints no header of its own.
nfound_t compare_buffers(void *buf1, void *buf2, pair_context *ctx, hid_t did1, hid_t did2, nfound_t found,
                         bool new_table)
{
    ctx->count_left = ctx->rule.count_limit - found;
    return new_table ? diff_array(buf1, buf2, ctx, did1, did2) : diff_array_continued(buf1, buf2, ctx, did1, did2);
}

// Reads the file_space selection of dataset k of the pair into its buffer
// through mem_space (both H5S_ALL: the whole dataset). An unreadable side is
// named (print_unreadable) and answers false.
bool read_side(dset_pair &p, int k, hid_t did, hid_t mem_space, hid_t file_space, const char *name,
               const pair_context *ctx)
{
    p.buf[k].space = mem_space == H5S_ALL ? static_cast<hid_t>(p.sid[k]) : mem_space;
    if (p.zero_before_read[k]) {
        // What the read leaves alone reads as zero, not as what the buffer
        // held before (an earlier strip, or whatever the allocator gave).
        const hssize_t n = H5Sget_simple_extent_npoints(p.buf[k].space);
        if (n > 0)
            std::memset(p.buf[k].data, 0, static_cast<size_t>(n) * H5Tget_size(p.mtype[k]));
    }
    if (H5Dread(did, p.mtype[k], mem_space, file_space, H5P_DEFAULT, p.buf[k].data) < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Dread failed");
        print_unreadable(did, name, k, ctx);
        return false;
    }
    p.buf[k].filled = true;
    return true;
}

bool limit_reached(const pair_context *ctx, nfound_t found)
{
    return ctx->rule.count_mode && found >= ctx->rule.count_limit;
}

// Data skipped because it provably holds no difference leaves the options
// as a comparison of equal buffers does.
void skip_equal_data(pair_context *ctx, uint64_t elements)
{
    ctx->header_pending = true;
    if (ctx->chunk_counts != nullptr)
        ++ctx->chunk_counts->skipped;
    // The elements count as compared, as on the path that reads them.
    if (diff_stats *stats = ctx->stats; stats != nullptr && stats->depth == 0)
        stats->elements += elements;
}

// Memory space of a piece's elements, all selected, kept while the pieces
// keep the same shape: one-dimensional (rank 1, dims the element count), or
// shaped as the piece's box. A box lets the library map each chunk of a
// chunk-aligned piece to memory as one block; against a one-dimensional
// space it maps chunks element by element. Either way the buffer holds the
// elements in the same (row-major) order.
bool memory_space_for(h5_dataspace &space, int rank, const hsize_t *dims)
{
    if (space.valid() && H5Sget_simple_extent_ndims(space) == rank) {
        hsize_t now[MIRLO_MAX_RANK];
        if (H5Sget_simple_extent_dims(space, now, nullptr) == rank && std::equal(dims, dims + rank, now) &&
            H5Sselect_all(space) >= 0)
            return true;
    }
    space.reset(H5Screate_simple(rank, dims, nullptr));
    if (!space.valid()) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Screate_simple failed");
        return false;
    }
    const hsize_t zero[MIRLO_MAX_RANK] = {};
    if (H5Sselect_hyperslab(space, H5S_SELECT_SET, zero, nullptr, dims, nullptr) < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Sselect_hyperslab failed");
        return false;
    }
    return true;
}

