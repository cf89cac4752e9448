// The record of a comparison kept for the machine-readable report and the
// --statistics lines: one per pair of objects, with one per attribute pair
// under it, and the run's record that holds them in match order.
//
// The comparison code fills the record of the object it is comparing through
// the pair's context (ctx->record): the hooks below do nothing
// when no record is kept, so a run without --json or --statistics pays one
// test of a null pointer where an object turns out not comparable or fails.
#pragma once
#include "mirlo_context.hpp"
#include "mirlo_stats.hpp"
#include "zarn.hpp"

#include <cstdint>
#include <string>
#include <vector>

// How a dataset is stored: shown beside a structure-only comparison, never
// counted as a difference.
struct storage_filter {
    int32_t id = 0;
    std::string name;                 // as the library names it, may be empty
    std::vector<uint32_t> parameters; // the filter's client values
    bool operator==(const storage_filter &) const = default;
};

struct dataset_storage {
    std::string layout;                  // "compact", "contiguous", "chunked", "virtual"
    std::vector<uint64_t> chunk;         // chunk dimensions of chunked data
    std::vector<storage_filter> filters; // in pipeline order
    std::string fill_source;             // "undefined", "default" or "user"
    std::string fill_value;              // the value in words, empty when undefined
    bool operator==(const dataset_storage &) const = default;
};

struct object_record {
    std::string kind;        // the report's kind word: "dataset", "group", ..., "attribute"
    std::string name1;       // paths of a pair, attribute names of an attribute pair
    std::string name2;
    bool comparable = true;
    std::string reason;      // why the objects are not comparable
    std::string error;       // why the comparison failed
    nfound_t differences = 0; // the object's own differences (its attributes' are theirs)
    uint32_t rule = 0;       // the rule that decided the object's tolerance (0: the command line)
    mirlo_tolerance tolerance; // the tolerance in force
    bool has_data = false;   // a dataset's or attribute's values: the statistics below apply
    diff_stats data;
    // A dataset's storage on both sides when it was read (structure-only
    // runs), else empty: most records never hold one, and a run may keep
    // a record per object.
    std::vector<dataset_storage> storage;
    std::vector<object_record> attributes; // attribute pairs, in name order
    std::vector<std::string> attributes_only_in_first;
    std::vector<std::string> attributes_only_in_second;
};

// An object found on one side only.
struct one_side_object {
    std::string path;
    int kind = -1; // trek_type
};

// Everything a run records for its JSON report.
struct run_report {
    std::vector<one_side_object> only_in_first;
    std::vector<one_side_object> only_in_second;
    std::vector<object_record> pairs; // in match order
    std::string error;                // a failure before any pair was compared
    bool failed_before_matching = false; // the run ended in an error before the member lists were matched
};

// The object being compared is not comparable, for the reason given in
// words: noted in the outcome, and the reason in the record when one is
// kept. The first reason given for an object stands.
void pair_not_comparable(const pair_context *ctx, const char *fmt, ...) ZARN_FORMAT(2, 3);
// The comparison of the object failed, with the message given. The first
// message stands.
void record_error(const pair_context *ctx, const char *fmt, ...) ZARN_FORMAT(2, 3);

// The kind word of a trek_type, as the report prints it ("dataset", "group",
// "datatype", "link", "external link"...).
const char *record_kind_word(int trek_kind);

// Completes a pair's record once its comparison returned total (data and
// attributes) with or without a failure: its own differences, and an error
// message when it failed without one.
// Notes the pair's rule and tolerance in a record.
void record_rule(object_record *record, const pair_rule &rule);

void record_finish_pair(object_record *record, nfound_t total, bool failed);
