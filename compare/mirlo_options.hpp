// The comparison options record, shared by every piece of comparison code and
// sent byte for byte to the workers with each task.
#pragma once
#include "trek.hpp"
#include "zarn_options.hpp"

#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

constexpr int MIRLO_MAX_RANK = 32;


// One --exclude-path or --exclude-attribute entry.
struct exclude_node {
    const char *path;   // the option's text, not copied
    int32_t obj_type;   // trek_type once matched, -1 before
    exclude_node *next;
};
static_assert(sizeof(exclude_node) == 24);

// Which strips of a dataset pair's data one comparison covers, when a
// multi-process run compares a large pair in pieces. Per-pair state, owned by
// the worker that runs the task.
struct strip_window {
    bool may_split = false;     // a pair read in several strips answers with their number instead
    uint64_t split_strips = 0;  // set when the pair asks to be split: nothing was compared
    bool piece = false;         // compare only strips [strip_begin, strip_end)
    bool print_opening = true;  // keep the lines printed before the first strip
    uint64_t strip_begin = 0;
    uint64_t strip_end = 0;
};

struct diff_options {
    int32_t quiet_mode;
    int32_t report_mode;
    int32_t verbose_mode;
    int32_t verbose_level;
    int32_t list_not_comparable;
    int32_t header_pending;
    int32_t relative_header;
    int32_t index_pending;
    int32_t delta_mode;
    int32_t pad36;
    double delta;
    int32_t system_epsilon_mode;
    int32_t relative_mode;
    double relative;
    bool follow_links;
    uint8_t pad65[3];
    int32_t no_dangling_links;
    int32_t common_objects;
    int32_t not_comparable;
    int32_t contents_equal;
    int32_t detect_nans;
    int32_t no_compact_subset;
    int32_t exclude_path_mode;
    int32_t exclude_attr_mode;
    int32_t pad100;
    exclude_node *exclude_paths;
    exclude_node *exclude_attrs;
    int32_t count_mode;
    int32_t pad124;
    uint64_t count_limit;
    int32_t error_status;
    int32_t pad140;
    uint64_t element_count;
    uint64_t block_element_count;
    int32_t rank;
    int32_t pad164;
    uint64_t mem_type_size;
    hid_t mem_type_id;
    uint64_t dims[MIRLO_MAX_RANK];
    uint64_t min_index[MIRLO_MAX_RANK];
    uint64_t max_index[MIRLO_MAX_RANK];
    uint64_t accumulators[MIRLO_MAX_RANK];
    uint64_t position[MIRLO_MAX_RANK];
    uint64_t block_start[MIRLO_MAX_RANK];
    char *object_names[2];
    subset_spec *subsets[2];
    strip_window *window; // per-pair: the strips a piece covers; null compares the whole pair
};

static_assert(std::is_trivially_copyable_v<diff_options>);
static_assert(std::is_standard_layout_v<diff_options>);
static_assert(sizeof(diff_options) == 1760);
static_assert(offsetof(diff_options, delta_mode) == 32);
static_assert(offsetof(diff_options, delta) == 40);
static_assert(offsetof(diff_options, system_epsilon_mode) == 48);
static_assert(offsetof(diff_options, relative) == 56);
static_assert(offsetof(diff_options, follow_links) == 64);
static_assert(offsetof(diff_options, no_dangling_links) == 68);
static_assert(offsetof(diff_options, contents_equal) == 80);
static_assert(offsetof(diff_options, exclude_paths) == 104);
static_assert(offsetof(diff_options, exclude_attrs) == 112);
static_assert(offsetof(diff_options, count_mode) == 120);
static_assert(offsetof(diff_options, count_limit) == 128);
static_assert(offsetof(diff_options, error_status) == 136);
static_assert(offsetof(diff_options, element_count) == 144);
static_assert(offsetof(diff_options, rank) == 160);
static_assert(offsetof(diff_options, mem_type_size) == 168);
static_assert(offsetof(diff_options, mem_type_id) == 176);
static_assert(offsetof(diff_options, dims) == 184);
static_assert(offsetof(diff_options, min_index) == 440);
static_assert(offsetof(diff_options, max_index) == 696);
static_assert(offsetof(diff_options, accumulators) == 952);
static_assert(offsetof(diff_options, position) == 1208);
static_assert(offsetof(diff_options, block_start) == 1464);
static_assert(offsetof(diff_options, object_names) == 1720);
static_assert(offsetof(diff_options, subsets) == 1736);
static_assert(offsetof(diff_options, window) == 1752);

// The settings of a run before the command line fills them in: everything
// zero, except contents_equal and detect_nans.
inline diff_options diff_options_defaults()
{
    diff_options o{};
    o.contents_equal = 1;
    o.detect_nans = 1;
    return o;
}

// The kinds of a pair of objects handed to diff.
struct object_pair_info {
    int32_t obj_type1;
    int32_t obj_type2;
    uint8_t is_same_target;
};

// The differences found by a comparison.
using nfound_t = uint64_t;

// 1 when an attribute at path is excluded by --exclude-attribute.
int is_exclude_attr(const char *path, int obj_type, diff_options *options);
