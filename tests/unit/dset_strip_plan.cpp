// Strip plans: the pieces of a plan cover every selected element exactly
// once, come numbered in output order, fit the buffer the plan asks for, and
// select the same grid elements in both datasets.
#include "mirlo_strips.hpp"
#include "test_support.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <set>
#include <string>
#include <vector>

namespace {

using list = std::vector<hsize_t>;

// One dataset's selection, every list given (one value per dimension).
struct selection {
    list start, stride, count, block;
};

struct plan_case {
    std::string name;
    list dims;                 // extent of both datasets
    std::vector<selection> sel; // none: the whole extent; one: both; two: one each (same shape)
    size_t elem_size;
    hsize_t budget;            // hyperslab_bufsize while planning
};

hsize_list list_of(list &v)
{
    return {v.data(), static_cast<hsize_t>(v.size())};
}

// Grid index along dimension i of coordinate x of a selection.
hsize_t grid_index(const selection &s, size_t i, hsize_t x)
{
    const hsize_t offset = x - s.start[i];
    return offset / s.stride[i] * s.block[i] + offset % s.stride[i];
}

// Grid indices along dimension i that a piece's hyperslab selects, in order.
list grid_indices(const hyperslab &h, const selection &s, size_t i)
{
    list out;
    for (hsize_t c = 0; c < h.count[i]; ++c)
        for (hsize_t b = 0; b < h.block[i]; ++b)
            out.push_back(grid_index(s, i, h.start[i] + c * h.stride[i] + b));
    return out;
}

// Checks every piece of the plan against the selections it was made from.
void expect_pieces_tile_the_grid(const strip_plan &plan, const plan_case &c, const selection (&sel)[2])
{
    const size_t rank = c.dims.size();
    std::set<std::vector<hsize_t>> seen;
    uint64_t covered = 0;
    uint64_t expected_index = 0;
    strip_piece piece;
    for (bool more = strip_first(plan, &piece); more; more = strip_next(plan, &piece)) {
        EXPECT_EQ(piece.index, expected_index++) << c.name;
        EXPECT_LE(piece.elements * c.elem_size, plan.strip_bytes) << c.name;
        covered += piece.elements;
        std::vector<list> grid(rank);
        for (size_t i = 0; i < rank; ++i) {
            grid[i] = grid_indices(piece.slab[0], sel[0], i);
            EXPECT_EQ(grid_indices(piece.slab[1], sel[1], i), grid[i]) << c.name << " dimension " << i;
        }
        // Every element of the box, once over all pieces.
        std::vector<size_t> at(rank, 0);
        for (uint64_t e = 0; e < piece.elements; ++e) {
            std::vector<hsize_t> point(rank);
            for (size_t i = 0; i < rank; ++i)
                point[i] = grid[i][at[i]];
            EXPECT_TRUE(seen.insert(point).second) << c.name;
            for (size_t i = rank; i-- > 0;) {
                if (++at[i] < grid[i].size())
                    break;
                at[i] = 0;
            }
        }
    }
    EXPECT_EQ(covered, plan.elements) << c.name;
    EXPECT_EQ(seen.size(), rank == 0 ? 1u : plan.elements) << c.name;
}

TEST(StripPlan, PiecesCoverTheSelectionOnceInOutputOrderWithinTheBuffer)
{
    const selection blocks{{1, 2}, {4, 5}, {4, 5}, {2, 3}};
    const selection other_blocks{{0, 0}, {5, 6}, {2, 3}, {4, 5}};
    const plan_case cases[] = {
        {"whole 1-D", {10}, {}, 8, 24},
        {"whole 2-D", {5, 7}, {}, 4, 40},
        {"whole, buffer below one element", {3, 4}, {}, 8, 4},
        {"scalar", {}, {}, 8, 1024},
        {"both records, blocks split", {20, 30}, {blocks}, 4, 16},
        {"both records, whole rows", {20, 30}, {blocks}, 4, 4096},
        {"two records, same shape, other blocks", {20, 30}, {blocks, other_blocks}, 8, 40},
        {"two records, same shape, whole rows", {20, 30}, {blocks, other_blocks}, 8, 4096},
    };
    const hsize_t saved = hyperslab_bufsize;
    for (const plan_case &c : cases) {
        hyperslab_bufsize = c.budget;
        selection sel[2];
        strip_plan plan;
        if (c.sel.empty()) {
            for (selection &s : sel)
                s = {list(c.dims.size(), 0), list(c.dims.size(), 1), c.dims, list(c.dims.size(), 1)};
            std::vector<uint64_t> dims(c.dims.begin(), c.dims.end());
            plan_whole_extent(static_cast<int>(c.dims.size()), dims.data(), c.elem_size, &plan);
        } else {
            sel[0] = c.sel[0];
            sel[1] = c.sel.size() > 1 ? c.sel[1] : c.sel[0];
            subset_spec specs[2];
            for (int k = 0; k < 2; ++k)
                specs[k] = {list_of(sel[k].start), list_of(sel[k].stride), list_of(sel[k].count),
                            list_of(sel[k].block)};
            subset_spec *const records[2] = {&specs[0], c.sel.size() > 1 ? &specs[1] : nullptr};
            ASSERT_TRUE(plan_subsets(records, static_cast<int>(c.dims.size()), c.dims.data(), c.dims.data(),
                                     c.elem_size, &plan))
                << c.name;
        }
        expect_pieces_tile_the_grid(plan, c, sel);
    }
    hyperslab_bufsize = saved;
}

TEST(StripPlan, SelectionsOfDifferentShapesAreOnePieceEachWhole)
{
    list wide[4] = {{0, 0}, {1, 1}, {2, 6}, {1, 1}};
    list tall[4] = {{0, 0}, {1, 1}, {3, 4}, {1, 1}};
    subset_spec specs[2] = {{list_of(wide[0]), list_of(wide[1]), list_of(wide[2]), list_of(wide[3])},
                            {list_of(tall[0]), list_of(tall[1]), list_of(tall[2]), list_of(tall[3])}};
    subset_spec *const records[2] = {&specs[0], &specs[1]};
    const hsize_t dims[2] = {20, 30};
    strip_plan plan;
    ASSERT_TRUE(plan_subsets(records, 2, dims, dims, 8, &plan));
    EXPECT_EQ(plan.elements, 12u);
    strip_piece piece;
    ASSERT_TRUE(strip_first(plan, &piece));
    EXPECT_EQ(piece.elements, 12u);
    EXPECT_EQ(piece.slab[0].count[0] * piece.slab[0].count[1], 12u);
    EXPECT_EQ(piece.slab[1].count[0], 3u);
    EXPECT_EQ(piece.slab[1].count[1], 4u);
    EXPECT_FALSE(strip_next(plan, &piece));

    // Too large for one buffer, they cannot be paired.
    const hsize_t saved = hyperslab_bufsize;
    hyperslab_bufsize = 64;
    EXPECT_FALSE(plan_subsets(records, 2, dims, dims, 8, &plan));
    hyperslab_bufsize = saved;
}

TEST(StripPlan, EmptyExtentHasNoPieceAndWrongRecordsNoPlan)
{
    strip_plan empty;
    const uint64_t dims[2] = {0, 3};
    plan_whole_extent(2, dims, 8, &empty);
    strip_piece piece;
    EXPECT_FALSE(strip_first(empty, &piece));

    zarn_init();
    const hsize_t extent[1] = {10};
    struct bad {
        const char *name;
        list start, stride, count, block;
    } cases[] = {
        {"blocks overlap", {0}, {2}, {3}, {3}},
        {"past the extent", {6}, {2}, {3}, {1}},
        {"one value too many", {0, 0}, {1, 1}, {1, 1}, {1, 1}},
    };
    for (bad &c : cases) {
        subset_spec spec{list_of(c.start), list_of(c.stride), list_of(c.count), list_of(c.block)};
        subset_spec *const records[2] = {&spec, nullptr};
        strip_plan plan;
        EXPECT_FALSE(plan_subsets(records, 1, extent, extent, 8, &plan)) << c.name;
    }
}

} // namespace
