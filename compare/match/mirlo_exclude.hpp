// Exclusions of --exclude-path and --exclude-attribute, resolved against
// what the listing found before anything is compared, and then only asked.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One excluded path. An entry that names a group excludes everything below
// it too.
struct exclusion {
    std::string path;
    bool group = false;
};
using exclusion_list = std::vector<exclusion>;

// The entries of paths (in the order given), each resolved by is_group: true
// when the path names a group that the listing meets.
exclusion_list resolve_exclusions(const std::vector<std::string> &paths,
                                  const std::function<bool(const std::string &)> &is_group);

// True when path is excluded: it is an entry's path, or lies below the path
// of an entry that names a group.
bool is_excluded(const exclusion_list &list, std::string_view path);
