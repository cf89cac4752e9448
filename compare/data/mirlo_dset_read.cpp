// Reading and comparing the data of two open datasets: whole, or piece by
// piece along a strip plan, skipping what the chunk shortcuts prove equal.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_dset_read.hpp"
#include "mirlo_blocks.hpp"
#include "mirlo_chunks.hpp"
#include "mirlo_report.hpp"
#include "mirlo_stats.hpp"
#include "mirlo_strips.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Selects in space the parts of the chunks at offsets (rank values each,
// chunk dimensions chunk) that lie in piece: in dataset coordinates, or in
// the piece's own coordinates when in_piece is set (its memory space).
bool select_chunks(hid_t space, const std::vector<hsize_t> &offsets, const hsize_t *chunk, const strip_piece &piece,
                   bool in_piece)
{
    const int rank = piece.rank;
    for (size_t c = 0; c < offsets.size(); c += static_cast<size_t>(rank)) {
        hsize_t start[MIRLO_MAX_RANK], count[MIRLO_MAX_RANK];
        for (int i = 0; i < rank; ++i) {
            const hsize_t lo = std::max(offsets[c + i], piece.origin[i]);
            const hsize_t hi = std::min(offsets[c + i] + chunk[i], piece.origin[i] + piece.extent[i]);
            start[i] = in_piece ? lo - piece.origin[i] : lo;
            count[i] = hi - lo;
        }
        if (H5Sselect_hyperslab(space, c == 0 ? H5S_SELECT_SET : H5S_SELECT_OR, start, nullptr, count, nullptr) < 0)
            return false;
    }
    return true;
}

// Reads a piece of both datasets into their strip buffers: the whole piece,
// or, with unproven, only its chunks that prove nothing (into zeroed
// buffers). False after a failure (a failed read is named).
bool read_piece(const hid_t did[2], const char *const names[2], dset_pair &p, const strip_plan &plan,
                const chunk_pair &chunks, const strip_piece &piece, const std::vector<hsize_t> *unproven,
                const pair_context *ctx)
{
    const int rank = plan.rank;
    const hsize_t npoints = piece.elements;
    const size_t strip_bytes = static_cast<size_t>(npoints) * ctx->mem_type_size;
    for (int k = 0; k < 2; ++k) {
        const hyperslab &slab = piece.slab[k];
        if (unproven != nullptr)
            std::memset(p.buf[k].data, 0, strip_bytes);
        herr_t sel;
        if (rank == 0)
            sel = H5Sselect_all(p.sid[k]);
        else if (unproven != nullptr)
            sel = select_chunks(p.sid[k], *unproven, chunks.chunk, piece, false) ? 0 : -1;
        else if (plan.subset)
            sel = H5Sselect_hyperslab(p.sid[k], H5S_SELECT_SET, slab.start, slab.stride, slab.count, slab.block);
        else
            sel = H5Sselect_hyperslab(p.sid[k], H5S_SELECT_SET, slab.start, nullptr, slab.count, nullptr);
        if (sel < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, k == 0 ? "H5Sselect_hyperslab sid1 failed"
                                                   : "H5Sselect_hyperslab sid2 failed");
            return false;
        }
        const bool box = plan.chunk_aligned && rank > 0;
        if (!memory_space_for(p.memspace[k], box ? rank : 1, box ? piece.extent : &npoints) ||
            (unproven != nullptr && !select_chunks(p.memspace[k], *unproven, chunks.chunk, piece, true)))
            return false;
        if (!read_side(p, k, did[k], p.memspace[k], p.sid[k], names[k], ctx))
            return false;
    }
    return true;
}

// Compares the piece read into the strip buffers, whose positions are
// those of the piece in the whole extent (through the first dataset's
// selection within the piece, for subsets). found: the object's
// differences so far.
nfound_t compare_piece(dset_pair &p, const strip_plan &plan, strip_piece &piece, const hid_t did[2],
                       pair_context *ctx, nfound_t found)
{
    const int rank = plan.rank;
    ctx->block_element_count = piece.elements;
    for (int i = 0; i < rank; ++i)
        ctx->block_start[i] = piece.slab[0].start[i];
    if (!plan.subset) {
        reset_positions_in_box(ctx, piece.extent);
        return compare_buffers(p.buf[0].data, p.buf[1].data, ctx, did[0], did[1], found);
    }
    reset_positions(ctx);
    subset_spec strip_spec{};
    strip_spec.start = {piece.slab[0].start, static_cast<hsize_t>(rank)};
    strip_spec.stride = {piece.slab[0].stride, static_cast<hsize_t>(rank)};
    strip_spec.count = {piece.slab[0].count, static_cast<hsize_t>(rank)};
    strip_spec.block = {piece.slab[0].block, static_cast<hsize_t>(rank)};
    ctx->subset = &strip_spec;
    const nfound_t n = compare_buffers(p.buf[0].data, p.buf[1].data, ctx, did[0], did[1], found);
    ctx->subset = nullptr;
    return n;
}

// Counts elements of the pair as compared (read, or settled by the
// storage), for the progress of the run.
void count_compared(pair_context *ctx, uint64_t elements)
{
    if (ctx->outcome != nullptr)
        ctx->outcome->data_bytes += elements * ctx->mem_type_size;
}

// Compares the selections of plan piece by piece, in output order. The two
// strip buffers and memory spaces are made once and reused. Returns the
// differences found; a failure sets *failed and ends the loop after the
// pieces already compared.
nfound_t compare_strips(hid_t did1, hid_t did2, const char *const names[2], dset_pair &p, const strip_plan &plan,
                        chunk_pair &chunks, pair_context *ctx, bool *failed)
{
    const hid_t did[2] = {did1, did2};
    nfound_t found = 0;
    if (ctx->element_count == 0)
        return 0;
    const strip_window *const window = ctx->window;
    if (window != nullptr && window->may_split) {
        // Several processes may share the strips: say how many there are,
        // read nothing.
        const uint64_t strips = strip_count(plan);
        if (strips >= 2) {
            ctx->outcome->split_strips = strips;
            count_compared(ctx, ctx->element_count);
            return 0;
        }
    }
    const bool in_window = window != nullptr && window->piece;

    for (int k = 0; k < 2; ++k) {
        if (!p.buf[k].allocate(plan.strip_bytes)) {
            ZARN_PUSH_ERROR(zarn_err_minor, "Could not allocate buffer for strip-mine");
            *failed = true;
            return 0;
        }
    }

    const size_t elem_size = std::max(H5Tget_size(p.mtype[0]), H5Tget_size(p.mtype[1]));
    const int rank = plan.rank;
    chunk_stats unread;
    strip_piece piece;
    std::vector<hsize_t> unproven; // chunks of the current piece that prove nothing
    // Every chunk of a piece is looked at (to read only those that prove
    // nothing) while chunks are being proven; after a piece in which none
    // was, the look stops at the first that proves nothing (reading stored
    // bytes that then differ costs without saving anything), until a piece
    // proves equal again.
    bool look_at_all = true;
    bool more = in_window ? strip_at(plan, window->strip_begin, &piece) : strip_first(plan, &piece);
    for (; more; more = strip_next(plan, &piece)) {
        if (in_window) {
            if (piece.index >= window->strip_end)
                break;
            // A piece after the first prints its strips only: the opening
            // lines are the first piece's.
            if (piece.index == window->strip_begin && !window->print_opening)
                output_drop(ctx->out);
        }
        count_compared(ctx, piece.elements);
        chunk_verdict verdict = chunk_verdict::unproven;
        unproven.clear();
        if (plan.chunk_aligned)
            verdict = chunks_hold_no_difference(chunks, did1, did2, piece.origin, piece.extent,
                                                shortcut_counts(ctx, &unread),
                                                look_at_all ? &unproven : nullptr);
        look_at_all = verdict != chunk_verdict::unproven;
        // Some chunks proven, some not: only the unproven ones are read, into
        // zeroed buffers, so the proven parts compare equal (under the rules
        // that allow proofs, equal values are never a difference) and what a
        // read leaves alone reads as zero on both sides.
        const bool partial = verdict != chunk_verdict::unproven && !unproven.empty();
        if (verdict == chunk_verdict::equal && !partial) {
            skip_equal_data(ctx, piece.elements);
            continue;
        }
        if (!plan.chunk_aligned && !plan.subset && rank > 0 && worth_blocks(rank, piece.slab[0].count, elem_size)) {
            compare_box_in_blocks(did, names, p, rank, piece.slab[0].start, piece.slab[0].count, elem_size, ctx,
                                  &found, failed);
            if (*failed || limit_reached(ctx, found))
                return found;
            continue;
        }
        if (partial)
            ++shortcut_counts(ctx, &unread)->partial;
        if (!read_piece(did, names, p, plan, chunks, piece, partial ? &unproven : nullptr, ctx)) {
            *failed = true;
            return found;
        }
        found += compare_piece(p, plan, piece, did, ctx, found);
        p.buf[0].reclaim();
        p.buf[1].reclaim();
        if (limit_reached(ctx, found))
            break;
    }
    return found;
}

// Reads both datasets whole. Returns false when the buffers cannot be had
// (the caller falls back to strips); a failed read sets *failed.
bool compare_whole(const hid_t did[2], const char *const names[2], dset_pair &p, hsize_t bytes,
                   size_t elem_size, bool contiguous, pair_context *ctx, nfound_t *found, bool *failed)
{
    const hsize_t origin[MIRLO_MAX_RANK] = {};
    hsize_t dims[MIRLO_MAX_RANK];
    std::copy(ctx->dims, ctx->dims + MIRLO_MAX_RANK, dims);
    if (contiguous && worth_blocks(ctx->rank, dims, elem_size)) {
        // Block by block, into buffers of a block.
        const hsize_t block = std::max<hsize_t>(block_bytes(), elem_size);
        if (!p.buf[0].allocate(block) || !p.buf[1].allocate(block)) {
            p.buf[0].release();
            p.buf[1].release();
            return false;
        }
        *found = 0;
        compare_box_in_blocks(did, names, p, ctx->rank, origin, dims, elem_size, ctx, found,
                              failed);
        p.buf[0].release();
        p.buf[1].release();
        return true;
    }
    if (!p.buf[0].allocate(bytes) || !p.buf[1].allocate(bytes)) {
        p.buf[0].release();
        p.buf[1].release();
        return false;
    }
    for (int k = 0; k < 2; ++k) {
        if (!read_side(p, k, did[k], H5S_ALL, H5S_ALL, names[k], ctx)) {
            *failed = true;
            return true;
        }
    }
    std::memset(ctx->block_start, 0, sizeof ctx->block_start);
    *found = compare_buffers(p.buf[0].data, p.buf[1].data, ctx, did[0], did[1], 0);
    p.buf[0].release();
    p.buf[1].release();
    return true;
}

} // namespace

nfound_t compare_data(const hid_t did[2], const char *const names[2], dset_pair &p, const hsize_t *const dims[2],
                      const subset_spec *const subsets[2], int first, hsize_t whole_bytes, size_t elem_size,
                      pair_context *ctx, bool *failed)
{
    const hid_t did1 = did[0], did2 = did[1];
    strip_plan plan;
    chunk_pair chunks;
    chunk_stats unread;
    // Compact and allocated contiguous datasets store every element, so a
    // read writes the whole buffer; only the others' lists are asked.
    const bool lists = pair_creation_lists(p, did);
    for (int k = 0; k < 2; ++k)
        p.zero_before_read[k] = lists && dataset_leaves_unwritten_alone(p.dcpl[k]);
    // What a difference counts, also where no buffer is compared.
    if (diff_stats *stats = ctx->stats; stats != nullptr && stats->depth == 0)
        stats->unit = stat_unit_of_class(H5Tget_class(p.mtype[0]));
    if (ctx->rank > 0 && subsets != nullptr && (subsets[0] != nullptr || subsets[1] != nullptr)) {
        // The subsets as the user gave them, for a message.
        const std::string texts[2] = {subsets[0] ? subset_text(subsets[0]) : "",
                                      subsets[1] ? subset_text(subsets[1]) : ""};
        subset_problem problem;
        if (!plan_subsets(subsets, ctx->rank, dims[0], dims[1], elem_size, &plan, &problem)) {
            const int k = problem.which;
            const std::string &text = texts[k].empty() ? texts[1 - k] : texts[k];
            if (!problem.reason.empty())
                print_failure_of(did[k], "the subset %s %s", text.c_str(), problem.reason.c_str());
            *failed = true;
            return 0;
        }
        ctx->element_count = plan.elements;
    } else {
        if (ctx->element_count == 0)
            return 0;
        const hid_t ftypes[2] = {p.ftype[0], p.ftype[1]};
        const hid_t mtypes[2] = {p.mtype[0], p.mtype[1]};
        const hid_t dcpls[2] = {p.dcpl[0], p.dcpl[1]};
        const bool shortcuts =
            ctx->settings->chunk_shortcuts &&
            equal_data_holds_no_difference(ctx->rule, ftypes[0], ftypes[1], p.buf[0].has_vlen || p.buf[1].has_vlen);
        // Two datasets never written hold their fill values only.
        if (shortcuts && unwritten_pair_holds_no_difference(did1, did2, dcpls, mtypes)) {
            count_compared(ctx, ctx->element_count);
            skip_equal_data(ctx, ctx->element_count);
            return 0;
        }
        const hsize_t *const extent = dims[first];
        chunk_pair_init(dcpls, ftypes, mtypes, ctx->rank, extent, shortcuts, &chunks);
        nfound_t found = 0;
        if (whole_bytes < whole_read_limit) {
            const hsize_t origin[MIRLO_MAX_RANK] = {};
            const chunk_verdict verdict =
                chunks_hold_no_difference(chunks, did1, did2, origin, extent, shortcut_counts(ctx, &unread));
            if (verdict == chunk_verdict::equal) {
                count_compared(ctx, ctx->element_count);
                skip_equal_data(ctx, ctx->element_count);
                return 0;
            }
            if (compare_whole(did, names, p, whole_bytes, elem_size, !chunks.chunked, ctx, &found, failed)) {
                count_compared(ctx, ctx->element_count);
                return found;
            }
        }
        if (chunks.chunked)
            plan_chunk_aligned(ctx->rank, ctx->dims, chunks.grid, elem_size, &plan);
        else
            plan_whole_extent(ctx->rank, ctx->dims, elem_size, &plan);
    }
    return compare_strips(did1, did2, names, p, plan, chunks, ctx, failed);
}
