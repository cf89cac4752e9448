// Comparison of reference elements and of the region selections they name.
#pragma once
#include "mirlo_context.hpp"

#include <cstddef>

// Compares two reference elements of size bytes (an object reference or a
// dataset-region reference), each dereferenced against its container. A
// null reference against a non-null one is one difference; two null ones
// none. The referenced datasets are compared in a context of their own. A
// reference that leads nowhere is named, with the element's position
// (elem_idx), on standard error.
nfound_t diff_reference_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                              pair_context *ctx, hid_t container1, hid_t container2, size_t size);

// Compares two region selections of the referenced datasets obj1 and obj2.
nfound_t diff_region(hid_t obj1, hid_t obj2, hid_t region1, hid_t region2, pair_context *ctx);
