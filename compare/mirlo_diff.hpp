// Comparison of one pair of objects of any kind, with link following.
#pragma once
#include "mirlo_options.hpp"
#include "zarn_utils.hpp"

#include <cstdlib>

// Compares the objects at path1 in file1_id and path2 in file2_id, whose
// kinds are in pair_info (link following may change them). Prints the pair's
// report lines and returns its number of differences.
nfound_t diff(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2, diff_options *options,
              object_pair_info *pair_info);

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
