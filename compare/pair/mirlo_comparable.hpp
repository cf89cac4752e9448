// Comparability tests of two datasets or attributes: type classes, ranks
// and dimensions (diff_can_type), storage, signs and time members, and the
// native-size equaliser that brings both sides to one memory element size.
#pragma once
#include "mirlo_context.hpp"

// True when a "Not comparable" message is wanted (-v or -c).
bool comparable_messages_wanted(const pair_context *ctx);

// 1 comparable, 0 not comparable (not_comparable set, the reason printed when
// wanted and both object_names are set), -1 failure. in_compound: the types
// are members of a compound.
int diff_can_type(hid_t f_type1, hid_t f_type2, int rank1, int rank2, const hsize_t *dims1,
                  const hsize_t *dims2, const hsize_t *maxdim1, const hsize_t *maxdim2,
                  pair_context *ctx, bool in_compound);

// Brings the smaller of two native memory types to the native type of the
// other side's file type (closing the one it replaces). 0, or -1 on failure.
int match_up_memsize(hid_t f_tid1, hid_t f_tid2, hid_t *m_tid1, hid_t *m_tid2, size_t *m_size1,
                     size_t *m_size2);

// Storage test of two datasets: false (not comparable) when one has storage
// and the other, not virtual, has none. Two datasets without storage hold
// only their fill values and are compared like any pair.
bool storage_comparable(hid_t did1, hid_t did2, H5D_layout_t layout1, H5D_layout_t layout2, const char *name1,
                        const char *name2, pair_context *ctx);

// Sign test of two integer types (file or native types carry the same sign):
// false (not comparable) when they differ.
bool signs_comparable(hid_t type1, hid_t type2, const char *name1, const char *name2, pair_context *ctx);

// Time test of two file types: false (not comparable) when either holds a
// time value anywhere (nested in an array or vlen member too), for which
// the library has no native form.
bool times_comparable(hid_t ftype1, hid_t ftype2, const char *name1, const char *name2, pair_context *ctx);
