// Subset records of a dataset comparison: filling in the lists a record
// leaves out, checking a record against the dataset's extent, and turning it
// into a hyperslab.
#pragma once
#include "mirlo_context.hpp"

#include <string>

// One hyperslab per dimension: start, stride, count and block.
struct hyperslab {
    hsize_t start[MIRLO_MAX_RANK];
    hsize_t stride[MIRLO_MAX_RANK];
    hsize_t count[MIRLO_MAX_RANK];
    hsize_t block[MIRLO_MAX_RANK];
};

// A copy of the record with the lists it leaves out filled with their
// defaults (start 0, stride 1, count 1, block 1, one entry per dimension);
// null when out of memory.
subset_spec_ptr subset_with_defaults(const subset_spec *spec, int rank);

// Why a subset cannot be used: the dataset it belongs to (0 or 1) and the
// reason in words.
struct subset_problem {
    int which = 0;
    std::string reason;
};

// The record as the suffix a user writes, "[1,2;;3]" (lists left out stay
// empty; trailing empty lists are dropped).
std::string subset_text(const subset_spec *spec);

// Checks one filled record against the dataset's extent: one value per
// dimension, blocks that do not overlap, a selection inside the extent.
// which is 0 for the first object's record and 1 for the second's (it names
// the record in the error pushed on failure); *problem, when given, says why
// a record is refused.
[[nodiscard]] bool validate_subset(const subset_spec *spec, int which, int rank, const hsize_t *dims,
                                   subset_problem *problem = nullptr);

// Copies a filled record's lists into a hyperslab.
void hyperslab_from_subset(const subset_spec *spec, int rank, hyperslab *h);
