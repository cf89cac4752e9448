// Comparison of one pair of objects of any kind, with link following.
#pragma once
#include "mirlo_options.hpp"
#include "zarn_utils.hpp"

#include <cstdlib>

// The comparison of one pair, as diff (the pieces and attributes of a dataset
// pair compared by several workers have the same form).
using pair_comparer = nfound_t (*)(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                                   diff_options *options, object_pair_info *pair_info);

// Runs compare on the pair with context as the pair's context. When the
// context holds a record, the record is named after the pair, takes what the
// comparison finds, and is completed afterwards (its own differences, and an
// error message when the comparison failed without one).
nfound_t diff_in_context(pair_comparer compare, hid_t file1_id, const char *path1, hid_t file2_id,
                         const char *path2, diff_options *options, object_pair_info *pair_info,
                         pair_context *context);

// Compares the objects at path1 in file1_id and path2 in file2_id, whose
// kinds are in pair_info (link following may change them). Prints the pair's
// report lines and returns its number of differences.
nfound_t diff(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2, diff_options *options,
              object_pair_info *pair_info);

// The lines a dataset pair prints before its data is compared, and the count
// line(s) after it: the pair line and the count in report and verbose modes,
// both only when there are differences otherwise. A failed comparison prints
// no count (its failure is told on standard error); a zero count is not
// printed either when the attributes that follow cannot be listed
// (attributes_listed false).
void print_dataset_opening(const char *path1, const char *path2, const diff_options *options);
void print_dataset_count(const char *path1, const char *path2, nfound_t nfound, bool failed,
                         bool attributes_listed, const diff_options *options);
// The --statistics line of a dataset's data after its count line, from the
// statistics gathered in the pair's record (nothing without one).
void print_dataset_statistics(nfound_t nfound, const diff_options *options);

// A piece of a dataset pair compared by several processes: the strips named
// by options->context->window, with the pair's opening lines when the window says so.
// No count line and no attributes.
nfound_t diff_dataset_piece(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                            diff_options *options, object_pair_info *pair_info);
// The attributes of a dataset pair compared in pieces.
nfound_t diff_dataset_attributes(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                                 diff_options *options, object_pair_info *pair_info);

// The pair line: the kind word and both paths.
void print_found(const char *kind, const char *path1, const char *path2, const diff_options *options);

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
