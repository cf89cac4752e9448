// Strip planning of a dataset comparison: how the selections of two datasets
// are cut into pieces that fit one read buffer each.
//
// Both datasets' selections are seen as one grid of selected elements, n[i]
// along dimension i (count x block, the same for both). A plan cuts the grid
// into boxes, the pieces, and gives them in output order (row-major over the
// grid). A piece is self-contained: it carries the hyperslab of each dataset
// that it covers and its place in output order, so a piece can be read and
// compared on its own; along each dimension it is a regular hyperslab of
// each dataset, so both datasets give the same elements in the same order.
#pragma once
#include "mirlo_subset.hpp"

#include <cstddef>
#include <cstdint>

// A plan. Callers read elements, strip_bytes and subset; the other fields
// belong to the planner.
struct strip_plan {
    int rank = 0;
    bool subset = false;             // the selections come from subset records
    hyperslab sel[2];                // each dataset's whole selection
    hsize_t n[MIRLO_MAX_RANK];       // selected elements along each dimension
    hsize_t extent[MIRLO_MAX_RANK];  // piece extent along each dimension
    hsize_t unit[MIRLO_MAX_RANK];    // pieces of a cut dimension cover whole units of this many
    bool chunk_aligned = false;      // piece boundaries fall on chunk boundaries of the extent
    uint64_t elements = 0;           // selected elements in all (each dataset)
    size_t strip_bytes = 0;          // bytes of one buffer that holds any piece
};

// One piece of a plan.
struct strip_piece {
    uint64_t index = 0;              // place in output order, from 0
    int rank = 0;
    hsize_t origin[MIRLO_MAX_RANK];  // first grid index covered along each dimension
    hsize_t extent[MIRLO_MAX_RANK];  // grid indices covered along each dimension
    uint64_t elements = 0;           // elements covered (the product of extent; 1 for rank 0)
    hyperslab slab[2];               // what the piece selects in each dataset
};

// Plans the whole extent dims of two datasets of rank dimensions, with
// buffers of elements of elem_size bytes.
void plan_whole_extent(int rank, const uint64_t *dims, size_t elem_size, strip_plan *plan);

// Memory one piece of a chunk-aligned plan may take, per buffer, when a
// single row of chunks is larger than the strip budget: eight budgets
// (256 MiB with the default budget, the size below which a dataset is read
// whole anyway).
hsize_t chunk_row_cap();

// Plans the whole extent dims of two chunked datasets whose chunk grids
// share the boundaries of chunk (the chunk dimensions, or a common multiple
// of both datasets' chunk dimensions), so that every chunk lies in one piece
// and is decoded once. A piece is one or more whole rows of chunks along the
// first dimension with every other dimension whole, within the strip budget
// where a row fits it and up to chunk_row_cap() where it does not. Only when
// a row of chunks exceeds that cap are later dimensions cut, on chunk
// boundaries too, down to one chunk per piece; a single chunk beyond the cap
// leaves the plan of plan_whole_extent (chunk_aligned false).
void plan_chunk_aligned(int rank, const uint64_t *dims, const hsize_t *chunk, size_t elem_size,
                        strip_plan *plan);

// Plans the selections of two subset records; a null record takes the other
// one's selection (one of them must be given). The lists a record leaves out
// take their defaults, and each record is checked against its dataset's
// extent (dims1, dims2). Selections of different shapes with the same number of elements
// are compared in selection order in one piece, when they fit one buffer.
// False, with the reason pushed, when a record is wrong or the selections
// cannot be paired.
[[nodiscard]] bool plan_subsets(const subset_spec *const records[2], int rank, const hsize_t *dims1,
                                const hsize_t *dims2, size_t elem_size, strip_plan *plan,
                                subset_problem *problem = nullptr);

// The first piece of plan; false when the plan selects no element.
[[nodiscard]] bool strip_first(const strip_plan &plan, strip_piece *piece);
// Replaces *piece by the piece after it in output order; false after the last.
[[nodiscard]] bool strip_next(const strip_plan &plan, strip_piece *piece);
// The number of pieces of plan (nothing is read to count them).
uint64_t strip_count(const strip_plan &plan);
// The piece of plan with place index in output order; false past the last.
// Costs no more than one strip_next for plans of the whole extent.
[[nodiscard]] bool strip_at(const strip_plan &plan, uint64_t index, strip_piece *piece);
