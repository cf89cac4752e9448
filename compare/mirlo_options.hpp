// The comparison options record, shared by every piece of comparison code and
// sent byte for byte to the workers with each task.
#pragma once
#include "trek.hpp"
#include "zarn_options.hpp"

#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

constexpr int MIRLO_MAX_RANK = 32;
// The bit error_status takes after a failure.
constexpr int32_t MIRLO_STATUS_ERROR = 2;

// One --exclude-path or --exclude-attribute entry.
struct exclude_node {
    const char *path;   // the option's text, not copied
    int32_t obj_type;   // trek_type once matched, -1 before
    exclude_node *next;
};
static_assert(sizeof(exclude_node) == 24);

// Which strips of a dataset pair's data one comparison covers, when a
// multi-process run compares a large pair in pieces.
struct strip_window {
    bool may_split = false;     // a pair read in several strips answers with their number instead
    uint64_t split_strips = 0;  // set when the pair asks to be split: nothing was compared
    bool piece = false;         // compare only strips [strip_begin, strip_end)
    bool print_opening = true;  // keep the lines printed before the first strip
    uint64_t strip_begin = 0;
    uint64_t strip_end = 0;
    bool attributes_follow = true; // set by the attributes of a split pair: they can be listed (or are excluded)
};

struct diff_stats;     // mirlo_stats.hpp
struct object_record;  // mirlo_record.hpp

// The state of the pair being compared that the comparison code reaches
// through the options record. Owned by whoever runs the pair (diff_match in a
// one-process run, the worker in a multi-process run); copies of the record
// share it.
struct pair_context {
    strip_window window;
    // Where the differences of the data being compared are summed up for
    // --statistics and --json, or null when nothing is gathered.
    diff_stats *stats = nullptr;
    // The record of the object being compared (the pair, or the attribute
    // pair within it), or null when no record is kept.
    object_record *record = nullptr;
};

// Every field is one of three kinds:
//   setting  - filled from the command line before the run, read-only after
//              (the exclusion lists' obj_type is filled in as paths match);
//   per-pair - working state of the object being compared, reset by the code
//              that starts each dataset or attribute comparison;
//   result   - run-wide state that the comparison accumulates.
// The align_* fields hold nothing: they keep the next field on its natural
// boundary and are zero, so the record's bytes are fully defined when sent.
struct diff_options {
    int32_t quiet_mode;            // setting: -q, print nothing
    int32_t report_mode;           // setting: -r, print the differences
    int32_t verbose_mode;          // setting: -v, also object lists and warnings
    int32_t verbose_level;         // setting: N of -vN / --verbose=N
    int32_t list_not_comparable;   // setting: -c, a line per pair not comparable
    int32_t header_pending;        // per-pair: table header still to be printed
    int32_t relative_header;       // per-pair: rows carry the relative column
    int32_t index_pending;         // per-pair: next rank-0 position carries a character index
    int32_t delta_mode;            // setting: -d given
    int32_t statistics_mode;       // setting: --statistics, a line of statistics per object with differences
    double delta;                  // setting: the -d value
    int32_t system_epsilon_mode;   // setting: --use-system-epsilon
    int32_t relative_mode;         // setting: -p given (and not below 2^-52)
    double relative;               // setting: the -p value
    bool follow_links;             // setting: --follow-symlinks
    uint8_t align_no_dangling_links[3]; // zero
    int32_t no_dangling_links;     // setting: --no-dangling-links
    int32_t common_objects;        // result: some pair was present on both sides
    int32_t not_comparable;        // result: some pair was not comparable
    int32_t contents_equal;        // result: the member lists matched (starts 1)
    int32_t detect_nans;           // setting: NaN detection, cleared by -N (starts 1)
    int32_t no_compact_subset;     // setting: --no-compact-subset
    int32_t exclude_path_mode;     // setting: some --exclude-path given
    int32_t exclude_attr_mode;     // setting: some --exclude-attribute given
    int32_t json_mode;             // setting: --json, a record kept of every pair
    exclude_node *exclude_paths;   // setting: --exclude-path list, or null
    exclude_node *exclude_attrs;   // setting: --exclude-attribute list, or null
    int32_t count_mode;            // setting: -n given
    int32_t align_count_limit;     // zero
    uint64_t count_limit;          // setting: the -n value (lowered per piece while a dataset is read in strips)
    int32_t error_status;          // result: 2 after a failure, bits ORed
    int32_t align_element_count;   // zero
    uint64_t element_count;        // per-pair: elements of the current selection
    uint64_t block_element_count;  // per-pair: elements of the buffers being compared
    int32_t rank;                  // per-pair: dimensions of the current object
    int32_t align_mem_type_size;   // zero
    uint64_t mem_type_size;        // per-pair: bytes of one element in memory
    hid_t mem_type_id;             // per-pair: memory type of the buffers (borrowed)
    uint64_t dims[MIRLO_MAX_RANK];         // per-pair: extent of the current object
    uint64_t min_index[MIRLO_MAX_RANK];    // per-pair: lowest index per dimension
    uint64_t max_index[MIRLO_MAX_RANK];    // per-pair: bound per dimension
    uint64_t accumulators[MIRLO_MAX_RANK]; // per-pair: row-major element strides
    uint64_t position[MIRLO_MAX_RANK];     // per-pair: position being reported
    uint64_t block_start[MIRLO_MAX_RANK];  // per-pair: start of the block being compared
    char *object_names[2];         // per-pair: column titles of the difference table
    subset_spec *subsets[2];       // setting: subset records of object 1 and 2, or null
    pair_context *context;         // per-pair: strips, statistics and record of the pair; null for none
};

static_assert(std::is_trivially_copyable_v<diff_options>);
static_assert(std::is_standard_layout_v<diff_options>);
static_assert(sizeof(diff_options) == 1760);
static_assert(offsetof(diff_options, delta_mode) == 32);
static_assert(offsetof(diff_options, statistics_mode) == 36);
static_assert(offsetof(diff_options, delta) == 40);
static_assert(offsetof(diff_options, system_epsilon_mode) == 48);
static_assert(offsetof(diff_options, relative) == 56);
static_assert(offsetof(diff_options, follow_links) == 64);
static_assert(offsetof(diff_options, no_dangling_links) == 68);
static_assert(offsetof(diff_options, contents_equal) == 80);
static_assert(offsetof(diff_options, json_mode) == 100);
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
static_assert(offsetof(diff_options, context) == 1752);

// The record as a run starts it: every byte zero, except contents_equal and
// detect_nans, which start at 1. The command line begins from it, and so does
// every test and benchmark that builds a record of its own.
inline diff_options diff_options_defaults() noexcept
{
    diff_options o;
    std::memset(&o, 0, sizeof o);
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
