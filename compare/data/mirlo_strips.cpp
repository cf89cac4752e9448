// Strip planning: shapes the pieces within the buffer size, cuts the grid of
// selected elements into them, and maps each piece to a hyperslab of each
// dataset.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_strips.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <algorithm>
#include <numeric>

namespace {

// Least common multiple, or 0 when it would not fit.
hsize_t lcm_or_zero(hsize_t a, hsize_t b)
{
    if (a == 0 || b == 0)
        return 0;
    const hsize_t g = std::gcd(a, b);
    const unsigned __int128 l = static_cast<unsigned __int128>(a / g) * b;
    return l > static_cast<hsize_t>(-1) ? 0 : static_cast<hsize_t>(l);
}

// Shapes the pieces from the last dimension outwards within hyperslab_bufsize
// bytes per buffer: whole runs of the fastest dimensions, then as much of the
// next as fits, one index of the dimensions before it.
void shape_strips(strip_plan *plan, size_t elem_size)
{
    hsize_t bytes = elem_size;
    for (int i = plan->rank - 1; i >= 0; --i) {
        hsize_t size = bytes > hyperslab_bufsize ? 1 : hyperslab_bufsize / bytes;
        hsize_t e = std::min(plan->n[i], size);
        hsize_t unit = 1;
        if (plan->subset)
            unit = lcm_or_zero(plan->sel[0].block[i], plan->sel[1].block[i]);
        plan->unit[i] = unit;
        if (e < plan->n[i] && unit > 1 && e >= unit)
            e = e / unit * unit;
        plan->extent[i] = std::max<hsize_t>(e, 1);
        bytes *= plan->extent[i];
    }
    plan->strip_bytes = static_cast<size_t>(bytes);
}

// The part of dataset k's selection that covers grid indices [g, g + x)
// along dimension i.
void strip_dimension(const strip_plan &plan, int k, int i, hsize_t g, hsize_t x, hyperslab *out)
{
    const hyperslab &s = plan.sel[k];
    if (x == plan.n[i]) {
        out->start[i] = s.start[i];
        out->stride[i] = s.stride[i];
        out->count[i] = s.count[i];
        out->block[i] = s.block[i];
        return;
    }
    const hsize_t b = s.block[i];
    if (g % b == 0 && x % b == 0) {
        out->start[i] = s.start[i] + (g / b) * s.stride[i];
        out->stride[i] = s.stride[i];
        out->count[i] = x / b;
        out->block[i] = b;
    } else {
        // Inside one block.
        out->start[i] = s.start[i] + (g / b) * s.stride[i] + g % b;
        out->stride[i] = 1;
        out->count[i] = 1;
        out->block[i] = x;
    }
}

// Extent of the piece starting at grid index g along dimension i.
hsize_t strip_extent(const strip_plan &plan, int i, hsize_t g)
{
    if (plan.extent[i] >= plan.n[i])
        return plan.n[i];
    hsize_t x = std::min(plan.extent[i], plan.n[i] - g);
    if (plan.subset && (plan.unit[i] == 0 || plan.extent[i] < plan.unit[i])) {
        // Pieces shorter than a common unit must stay inside one block of each dataset.
        for (int k = 0; k < 2; ++k) {
            const hsize_t b = plan.sel[k].block[i];
            x = std::min(x, b - g % b);
        }
    }
    return x;
}

// Fills the extents and hyperslabs of the piece whose origin is set.
void describe_piece(const strip_plan &plan, strip_piece *piece)
{
    piece->rank = plan.rank;
    piece->elements = 1;
    for (int i = 0; i < plan.rank; ++i) {
        piece->extent[i] = strip_extent(plan, i, piece->origin[i]);
        piece->elements *= piece->extent[i];
        for (int k = 0; k < 2; ++k)
            strip_dimension(plan, k, i, piece->origin[i], piece->extent[i], &piece->slab[k]);
    }
}

} // namespace

void plan_whole_extent(int rank, const uint64_t *dims, size_t elem_size, strip_plan *plan)
{
    plan->rank = rank;
    plan->subset = false;
    plan->chunk_aligned = false;
    plan->elements = 1;
    for (int i = 0; i < rank; ++i) {
        for (hyperslab &h : plan->sel) {
            h.start[i] = 0;
            h.stride[i] = 1;
            h.count[i] = dims[i];
            h.block[i] = 1;
        }
        plan->n[i] = dims[i];
        plan->elements *= dims[i];
    }
    shape_strips(plan, elem_size);
}

hsize_t chunk_row_cap()
{
    return 8 * hyperslab_bufsize;
}

void plan_chunk_aligned(int rank, const uint64_t *dims, const hsize_t *chunk, size_t elem_size, strip_plan *plan)
{
    plan_whole_extent(rank, dims, elem_size, plan);
    if (rank == 0 || plan->elements == 0)
        return;
    hsize_t c[MIRLO_MAX_RANK];
    unsigned __int128 cell = elem_size;
    for (int i = 0; i < rank; ++i) {
        c[i] = std::clamp<hsize_t>(chunk[i], 1, std::max<hsize_t>(dims[i], 1));
        cell *= c[i];
    }
    // A single chunk (or common multiple of two chunk shapes) beyond the cap
    // keeps the plain strips: memory stays bounded, at the price of decoding
    // such chunks once per strip they meet.
    if (cell > std::max<hsize_t>(chunk_row_cap(), hyperslab_bufsize))
        return;
    plan->chunk_aligned = true;
    for (int i = 0; i < rank; ++i)
        plan->unit[i] = c[i];
    // Cut dimension d: the dimensions before it take one row of chunks, the
    // ones after it are whole. d is the first dimension for which one row of
    // chunks of d fits the cap (the last dimension when none does).
    const unsigned __int128 cap = std::max<hsize_t>(chunk_row_cap(), hyperslab_bufsize);
    for (int d = 0; d < rank; ++d) {
        unsigned __int128 per_index = elem_size;
        for (int j = 0; j < rank; ++j)
            if (j != d)
                per_index *= j < d ? c[j] : dims[j];
        if (per_index * c[d] > cap && d < rank - 1)
            continue;
        const unsigned __int128 fit = per_index > hyperslab_bufsize ? 0 : hyperslab_bufsize / per_index;
        hsize_t e = 0;
        if (fit >= dims[d])
            e = dims[d];
        else
            e = std::max<hsize_t>(c[d], static_cast<hsize_t>(fit) / c[d] * c[d]);
        unsigned __int128 bytes = elem_size;
        for (int j = 0; j < rank; ++j) {
            plan->extent[j] = j < d ? c[j] : j == d ? e : dims[j];
            bytes *= plan->extent[j];
        }
        plan->strip_bytes = static_cast<size_t>(bytes);
        return;
    }
}

bool plan_subsets(const subset_spec *const records[2], int rank, const hsize_t *dims1, const hsize_t *dims2,
                  size_t elem_size, strip_plan *plan, subset_problem *problem)
{
    const hsize_t *const dims[2] = {dims1, dims2};
    plan->rank = rank;
    plan->subset = true;
    plan->chunk_aligned = false;
    subset_spec_ptr filled[2];
    for (int k = 0; k < 2; ++k) {
        if (records[k] == nullptr)
            continue;
        filled[k] = subset_with_defaults(records[k], rank);
        if (filled[k] == nullptr) {
            ZARN_PUSH_ERROR(zarn_err_minor, "Could not allocate subset lists");
            return false;
        }
        if (!validate_subset(filled[k].get(), k, rank, dims[k], problem))
            return false;
    }
    hyperslab_from_subset(filled[0] ? filled[0].get() : filled[1].get(), rank, &plan->sel[0]);
    hyperslab_from_subset(filled[1] ? filled[1].get() : filled[0].get(), rank, &plan->sel[1]);

    hsize_t total[2] = {1, 1};
    bool same_shape = true;
    for (int i = 0; i < rank; ++i) {
        plan->n[i] = plan->sel[0].count[i] * plan->sel[0].block[i];
        const hsize_t n2 = plan->sel[1].count[i] * plan->sel[1].block[i];
        same_shape = same_shape && n2 == plan->n[i];
        total[0] *= plan->n[i];
        total[1] *= n2;
    }
    if (total[0] != total[1]) {
        ZARN_PUSH_ERROR(zarn_err_minor, "subset selections hold different numbers of elements");
        if (problem != nullptr)
            *problem = {1, "selects " + std::to_string(static_cast<unsigned long long>(total[1])) +
                               " elements where the first dataset's selects " +
                               std::to_string(static_cast<unsigned long long>(total[0]))};
        return false;
    }
    plan->elements = total[0];
    if (same_shape) {
        shape_strips(plan, elem_size);
        return true;
    }
    const hsize_t bytes = total[0] * elem_size;
    if (bytes > hyperslab_bufsize) {
        ZARN_PUSH_ERROR(zarn_err_minor, "subset selections of different shapes exceed one strip");
        if (problem != nullptr)
            *problem = {1, "has a shape other than the first dataset's selection, and the selections are too "
                           "large to be compared in one piece"};
        return false;
    }
    // Every dimension whole: each dataset reads its own selection.
    for (int i = 0; i < rank; ++i) {
        plan->extent[i] = plan->n[i];
        plan->unit[i] = 1;
    }
    plan->strip_bytes = static_cast<size_t>(bytes);
    return true;
}

bool strip_first(const strip_plan &plan, strip_piece *piece)
{
    if (plan.elements == 0)
        return false;
    piece->index = 0;
    for (int i = 0; i < plan.rank; ++i)
        piece->origin[i] = 0;
    describe_piece(plan, piece);
    return true;
}

bool strip_next(const strip_plan &plan, strip_piece *piece)
{
    // Advance the last dimension, carrying into the one before it when the
    // last wraps; a carry out of the first dimension ends the plan.
    for (int i = plan.rank - 1; i >= 0; --i) {
        piece->origin[i] += piece->extent[i];
        if (piece->origin[i] < plan.n[i]) {
            ++piece->index;
            describe_piece(plan, piece);
            return true;
        }
        piece->origin[i] = 0;
    }
    return false;
}

uint64_t strip_count(const strip_plan &plan)
{
    if (plan.elements == 0)
        return 0;
    if (!plan.subset) {
        // Every piece of a whole-extent plan has the plan's extent, the last
        // one along each dimension excepted.
        uint64_t n = 1;
        for (int i = 0; i < plan.rank; ++i)
            n *= (plan.n[i] + plan.extent[i] - 1) / plan.extent[i];
        return n;
    }
    uint64_t n = 0;
    strip_piece piece;
    for (bool more = strip_first(plan, &piece); more; more = strip_next(plan, &piece))
        ++n;
    return n;
}

bool strip_at(const strip_plan &plan, uint64_t index, strip_piece *piece)
{
    if (plan.subset) {
        bool more = strip_first(plan, piece);
        while (more && piece->index < index)
            more = strip_next(plan, piece);
        return more;
    }
    if (index >= strip_count(plan))
        return false;
    // Pieces are numbered row-major over the grid of pieces.
    uint64_t rest = index;
    for (int i = plan.rank - 1; i >= 0; --i) {
        const uint64_t along = (plan.n[i] + plan.extent[i] - 1) / plan.extent[i];
        piece->origin[i] = (rest % along) * plan.extent[i];
        rest /= along;
    }
    piece->index = index;
    describe_piece(plan, piece);
    return true;
}
