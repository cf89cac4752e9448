// The pair context: what one comparison needs while it runs. The caller of a
// comparison makes it on its stack and passes it down; every stage reads the
// settings and the pair's rule through it, prints through its output sink,
// and notes what it finds in the outcome it points to. Nothing in it is
// restored afterwards, because nothing below changes what its caller set.
#pragma once
#include "mirlo_outcome.hpp"
#include "mirlo_settings.hpp"
#include "trek.hpp"

#include <hdf5.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int MIRLO_MAX_RANK = 32;

// The kinds of a pair of objects (trek_type values), as listed.
struct object_pair_info {
    int32_t obj_type1;
    int32_t obj_type2;
    uint8_t is_same_target; // both names lead to the same object
};

// One pair present on both sides, as matching found it: its full names, its
// kinds as listed, and whether its attributes are excluded.
struct matched_pair {
    std::string name1, name2;
    object_pair_info info{};
    bool attributes_excluded = false;
    // Where each dataset lies in its file, when its listing reached it there
    // (not through an external link): it is then opened by its address,
    // without looking its path up again. HADDR_UNDEF otherwise.
    haddr_t address[2] = {HADDR_UNDEF, HADDR_UNDEF};
    // Bytes at the start of name1 that are the compared root's path; the
    // rest is what the rules file's patterns match ("/" when nothing is left).
    size_t rules_root_size = 0;
};

// The path the rules file's patterns match for an object named name1 under
// a compared root of root_size bytes.
std::string_view rules_path_of(std::string_view name1, size_t root_size);


// The rule one pair is compared under, resolved for that pair from the
// settings (and the rules file) before its comparison starts.
struct pair_rule {
    bool delta_mode = false;          // |a - b| > delta
    double delta = 0;
    bool relative_mode = false;       // |b - a| / |a| > relative
    double relative = 0;
    bool system_epsilon_mode = false; // floating-point values within the type's epsilon are equal
    bool combined_mode = false;       // |b - a| > atol + rtol * |a|
    double atol = 0;
    double rtol = 0;
    bool detect_nans = true;          // two NaNs are equal, a NaN against a number differs
    bool count_mode = false;          // report at most count_limit differences of an object
    uint64_t count_limit = 0;
    bool attributes_excluded = false; // the pair's attributes are not compared
    bool ignored = false;             // a rule leaves the object out altogether
    // The rule reports name: the one that set the tolerance, else the first
    // whose path matches; 0 for none.
    uint32_t number = 0;
    uint32_t tolerance_number = 0;    // the rule that set the tolerance, 0 for the command line's
    // Attribute-name globs of the pair's rule beyond the command line's
    // (borrowed from the settings' rules), or null.
    const std::vector<std::string> *rule_ignore_attributes = nullptr;
};

// The rule of a pair under settings. rules_path is the path of the pair's
// first object as seen from the compared root of the first file, which is
// what the rules' patterns match.
pair_rule pair_rule_of(const mirlo_settings &settings, std::string_view rules_path, bool attributes_excluded);

// True when some rule of the settings ignores objects, and when the object
// at rules_path (as pair_rule_of takes it) is one of them.
bool rules_ignore_some(const mirlo_settings &settings);
bool rules_ignore_object(const mirlo_settings &settings, std::string_view rules_path);

// The tolerance a pair's rule applies, in the rules file's terms.
mirlo_tolerance pair_tolerance(const pair_rule &rule);

// True when the attribute named name is neither compared nor listed under
// the pair's rule (--ignore-attribute, or the rule's ignore_attributes).
bool pair_attribute_ignored(const mirlo_settings &settings, const pair_rule &rule, std::string_view name);

// Which strips of a dataset pair's data one comparison covers, when a
// multi-process run compares a large pair in pieces.
struct strip_window {
    bool may_split = false;    // a pair read in several strips answers with their number instead
    bool piece = false;        // compare only strips [strip_begin, strip_end)
    bool print_opening = true; // keep the lines printed before the first strip
    uint64_t strip_begin = 0;
    uint64_t strip_end = 0;
};

struct chunk_stats;   // mirlo_chunks.hpp
struct diff_stats;    // mirlo_stats.hpp
struct object_record; // mirlo_record.hpp
struct output_sink;   // mirlo_output.hpp
struct parent_groups; // mirlo_dset.hpp

struct pair_context {
    const mirlo_settings *settings = nullptr;
    pair_rule rule;
    output_sink *out = nullptr;          // where the report goes
    pair_outcome *outcome = nullptr;     // what the comparison finds
    const strip_window *window = nullptr; // the strips to compare, or null for all
    // Where the differences of the data being compared are summed up for
    // --statistics and --json, or null when nothing is gathered.
    diff_stats *stats = nullptr;
    // The record of the object being compared (the pair, or the attribute
    // pair within it), or null when no record is kept.
    object_record *record = nullptr;
    // Where the chunk shortcuts taken are counted, or null.
    chunk_stats *chunk_counts = nullptr;
    // The groups that held the objects opened last, kept open by the caller
    // of a run of pairs so that the next objects open relative to them, or
    // null (objects then open by their full paths).
    parent_groups *parents = nullptr;

    // The paths of the compared roots (empty for the root group), which
    // references compared by path are taken relative to; borrowed from the
    // caller's names.
    std::string_view roots[2];
    // Object references are compared by the paths they lead to, not by
    // the data behind them (the attributes that tie dimension scales).
    bool references_by_path = false;

    // The difference table of the object being compared.
    bool header_pending = true;   // the table header is still to be printed
    bool relative_header = false; // rows carry the relative column
    bool index_pending = false;   // the next rank-0 position carries a character index
    const char *object_names[2] = {nullptr, nullptr}; // column titles

    // The data being compared: the object's shape, the selection and the
    // buffers now compared.
    int rank = 0;
    uint64_t dims[MIRLO_MAX_RANK] = {};         // extent of the object
    uint64_t accumulators[MIRLO_MAX_RANK] = {}; // row-major strides of the buffers' elements
    uint64_t position[MIRLO_MAX_RANK] = {};     // the position being reported
    uint64_t block_start[MIRLO_MAX_RANK] = {};  // where the buffers start in the extent
    const subset_spec *subset = nullptr;        // the first object's selection in the buffers, or null
    uint64_t element_count = 0;                 // elements of the selection
    uint64_t block_element_count = 0;           // elements of the buffers
    size_t mem_type_size = 0;                   // bytes of one element in memory
    hid_t mem_type_id = H5I_INVALID_HID;        // memory type of the buffers (borrowed)
    uint64_t count_left = 0;                    // with a count limit: differences the buffers may still report

    // A context for a comparison within this one (an attribute pair, a
    // referenced dataset): the same settings, rule, sink, outcome and
    // record, nothing of the data.
    pair_context nested() const
    {
        pair_context c;
        c.settings = settings;
        c.rule = rule;
        c.out = out;
        c.outcome = outcome;
        c.record = record;
        c.stats = stats;
        c.chunk_counts = chunk_counts;
        c.roots[0] = roots[0];
        c.roots[1] = roots[1];
        c.references_by_path = references_by_path;
        c.parents = parents;
        return c;
    }
};

// Sets the compared roots of ctx from a pair's names and the root size of
// the first (both names end in the same path below their roots).
void set_pair_roots(pair_context *ctx, std::string_view name1, std::string_view name2, size_t root1_size);
