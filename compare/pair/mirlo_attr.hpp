// Attribute comparison: matches the attributes of two objects by name,
// reports those on one side only, and compares the values of every common
// attribute element by element.
#pragma once
#include "mirlo_context.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One attribute name of the merged lists of two objects.
struct attr_match {
    std::string name;
    uint32_t exists[2];  // present on the first object, on the second
};

// The attribute names of two objects in increasing name order.
struct attr_match_table {
    std::vector<attr_match> entries;
    uint64_t only_in_first = 0;
    uint64_t only_in_second = 0;
};

// Builds the merged name table of the attributes of loc1 and loc2 into
// *table (replacing what it held), and prints its status (and, at verbose
// level 2, the table itself). Returns 0, or -1 after a failure.
int build_match_list_attrs(hid_t loc1, hid_t loc2, attr_match_table *table, pair_context *ctx);

// True when the attribute names of both objects can be listed, the first
// step of their comparison; nothing is printed or recorded either way.
bool attributes_listable(hid_t loc1, hid_t loc2);

// Compares the attributes of two open objects whose paths are path1 and
// path2. Returns the number of differences over all common attributes; sets
// contents_equal to 0 when an attribute exists on one side only.
nfound_t diff_attr(hid_t loc1, hid_t loc2, const char *path1, const char *path2, pair_context *ctx);

// Compares the values of two open attributes named name1 and name2, of the
// objects at path1 and path2. Returns the number of differences.
nfound_t diff_attr_data(hid_t attr1, hid_t attr2, const char *name1, const char *name2, const char *path1,
                        const char *path2, pair_context *ctx);
