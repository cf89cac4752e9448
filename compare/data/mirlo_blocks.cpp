// Contiguous data read and compared block by block, each block compared
// while it is still in the processor's cache.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_blocks.hpp"
#include "zarn.hpp"

#include <algorithm>

namespace {

// The first dimension along which the box count has more than one index, and
// the elements of one index of it (*row, the product of the later
// dimensions); -1 for a box of one element.
int block_dimension(int rank, const hsize_t *count, hsize_t *row)
{
    for (int d = 0; d < rank; ++d) {
        if (count[d] <= 1)
            continue;
        *row = 1;
        for (int i = d + 1; i < rank; ++i)
            *row *= count[i];
        return d;
    }
    return -1;
}

} // namespace

// A box of contiguous data is read and compared in blocks of about this many
// bytes per buffer (4 MiB, an eighth of the strip budget when that is
// smaller), each compared while it is still in the processor's cache: a
// strip of 32 MiB read whole is compared from memory, which takes as long
// again as the read (the data then passes through memory twice).
hsize_t block_bytes()
{
    return std::min<hsize_t>(hsize_t(4) << 20, std::max<hsize_t>(hyperslab_bufsize / 8, 1));
}

// True when the box is worth reading block by block: several blocks of
// whole rows along its block dimension.
bool worth_blocks(int rank, const hsize_t *count, size_t elem_size)
{
    hsize_t row = 0;
    const int d = block_dimension(rank, count, &row);
    if (d < 0 || elem_size == 0)
        return false;
    const unsigned __int128 bytes = static_cast<unsigned __int128>(row) * count[d] * elem_size;
    return static_cast<unsigned __int128>(row) * elem_size <= block_bytes() && bytes > 2 * block_bytes();
}

// Reads and compares the box [start, start + count) of both datasets (no
// subset) block by block: runs of whole rows along its block dimension. The
// box is one table, as one buffer of it would be: the header is printed
// once, and positions are those of the whole extent. The buffers hold a
// block (block_bytes() at least). Adds the differences to *found, stops at the
// count limit; a failed read sets *failed.
void compare_box_in_blocks(const hid_t did[2], const char *const names[2], dset_pair &p, int rank,
                           const hsize_t *start, const hsize_t *count, size_t elem_size, pair_context *ctx,
                           nfound_t *found, bool *failed)
{
    hsize_t row = 1;
    const int d = block_dimension(rank, count, &row);
    const hsize_t rows = std::max<hsize_t>(1, block_bytes() / (row * elem_size));
    hsize_t s[MIRLO_MAX_RANK], c[MIRLO_MAX_RANK];
    std::copy(start, start + rank, s);
    std::copy(count, count + rank, c);
    for (hsize_t r = 0; r < count[d]; r += rows) {
        s[d] = start[d] + r;
        c[d] = std::min(rows, count[d] - r);
        const hsize_t n = row * c[d];
        for (int k = 0; k < 2; ++k) {
            if (H5Sselect_hyperslab(p.sid[k], H5S_SELECT_SET, s, nullptr, c, nullptr) < 0) {
                ZARN_PUSH_ERROR(zarn_err_minor, k == 0 ? "H5Sselect_hyperslab sid1 failed"
                                                       : "H5Sselect_hyperslab sid2 failed");
                *failed = true;
                return;
            }
            if (!memory_space_for(p.memspace[k], 1, &n)) {
                *failed = true;
                return;
            }
            if (!read_side(p, k, did[k], p.memspace[k], p.sid[k], names[k], ctx)) {
                *failed = true;
                return;
            }
        }
        ctx->block_element_count = n;
        for (int i = 0; i < rank; ++i)
            ctx->block_start[i] = s[i];
        reset_positions_in_box(ctx, c);
        *found += compare_buffers(p.buf[0].data, p.buf[1].data, ctx, did[0], did[1], *found, r == 0);
        p.buf[0].reclaim();
        p.buf[1].reclaim();
        if (limit_reached(ctx, *found))
            return;
    }
}

