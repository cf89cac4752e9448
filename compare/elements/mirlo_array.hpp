// Element-by-element comparison of two buffers of any HDF5 element type.
#pragma once
#include "mirlo_member_types.hpp"
#include "mirlo_context.hpp"

#include <cstddef>
#include <cstdint>

// True when equal bytes of data of type are equal values under the pair's
// rule, so that equal buffers or stored chunks hold no difference: false
// where a NaN counts against itself (NaN detection off with
// --use-system-epsilon, on any floating-point data, nested or not), for
// negative tolerances, and for data whose bytes are not its values
// (variable-length data and references, which point into each file). Every
// equal-bytes shortcut asks this one question, so they are on and off
// together.
bool equal_bytes_are_equal_values(const pair_rule &rule, hid_t type);

// Compares block_element_count elements of ctx->mem_type_id in buf1 and
// buf2, reporting at most ctx->count_left differences under a count limit;
// container1/2 are the datasets or attributes the buffers came from.
nfound_t diff_array(void *buf1, void *buf2, pair_context *ctx, hid_t container1, hid_t container2);
// diff_array on the next part of the same table: a buffer that continues
// the one compared before it (a dataset read block by block), so the table
// header is printed once, before the table's first difference, as for one
// buffer.
nfound_t diff_array_continued(void *buf1, void *buf2, pair_context *ctx, hid_t container1,
                              hid_t container2);

// Compares one element of ctx->mem_type_id. elem_idx is the element's
// index within the block (for the reported position); members is the record
// collected for ctx->mem_type_id, or null to collect one for this call.
nfound_t diff_datum(const void *elem1, const void *elem2, uint64_t elem_idx, pair_context *ctx,
                    hid_t container1, hid_t container2, const member_types *members);
