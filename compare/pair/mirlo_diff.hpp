// Comparison of one pair of objects of any kind, with link following.
#pragma once
#include "mirlo_context.hpp"
#include "zarn_utils.hpp"

#include <cstdlib>
#include <string>

struct object_record; // mirlo_record.hpp

// The comparison of one pair, as diff (the pieces and attributes of a dataset
// pair compared by several workers have the same form). It prints through
// ctx->out and notes what it finds in *ctx->outcome.
using pair_comparer = nfound_t (*)(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                                   pair_context *ctx, object_pair_info *pair_info);

// Runs compare on the pair in a context made from base (its settings, rule,
// sink and window) with an outcome of its own, and returns that outcome (its
// differences included). With a record, the record is named after the pair,
// takes what the comparison finds, and is completed afterwards (its own
// differences, and an error message when the comparison failed without one).
pair_outcome compare_in_context(pair_comparer compare, hid_t file1_id, const char *path1, hid_t file2_id,
                                const char *path2, const pair_context &base, object_pair_info *pair_info,
                                object_record *record);

// Compares the objects at path1 in file1_id and path2 in file2_id, whose
// kinds are in pair_info (link following may change them). Prints the pair's
// report lines and returns its number of differences. A dataset pair is
// compared within the subsets of the settings.
nfound_t diff(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2, pair_context *ctx,
              object_pair_info *pair_info);

// The lines a dataset pair prints before its data is compared, and the count
// line(s) after it: the pair line and the count in report and verbose modes,
// both only when there are differences otherwise. A failed comparison prints
// no count (its failure is told on standard error); a zero count is not
// printed either when the attributes that follow cannot be listed
// (attributes_listed false).
void print_dataset_opening(const char *path1, const char *path2, const mirlo_settings &settings, output_sink *out);
void print_dataset_count(const char *path1, const char *path2, nfound_t nfound, bool failed,
                         bool attributes_listed, const mirlo_settings &settings, output_sink *out);

// A piece of a dataset pair compared by several processes: the strips named
// by ctx->window, with the pair's opening lines when the window says so.
// No count line and no attributes.
nfound_t diff_dataset_piece(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                            pair_context *ctx, object_pair_info *pair_info);
// The attributes of a dataset pair compared in pieces; notes in the outcome
// when they cannot even be listed.
nfound_t diff_dataset_attributes(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                                 pair_context *ctx, object_pair_info *pair_info);

// The pair line: the kind word and both paths.
void print_found(const char *kind, const char *path1, const char *path2, const mirlo_settings &settings,
                 output_sink *out);

// Why a link could not be classified or followed, and why a dangling link
// is an error, as said on standard error.
constexpr const char *LINK_UNREADABLE =
    "the link cannot be followed: a cycle of soft links, too many links in a row, or a target that cannot be read";
constexpr const char *LINK_DANGLING =
    "dangling link: its target does not exist or cannot be opened (an error under --no-dangling-links)";

// Owns the link value read by the link classification.
struct link_target {
    zarn_link_info info{};
    link_target() { info.target_type = -1; }
    link_target(const link_target &) = delete;
    link_target &operator=(const link_target &) = delete;
    ~link_target() { std::free(info.target_path); }
};

// Classifies the link at path as Zarn_get_symlink_info does (following it
// when follow is set); in verbose mode the reason a link cannot be
// classified is printed to out.
int classify_link(hid_t file, const char *path, link_target *target, bool follow, const mirlo_settings &settings,
                  output_sink *out);
