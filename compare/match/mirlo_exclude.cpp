// Exclusion lists: resolved once, then only asked.
#include "mirlo_exclude.hpp"

exclusion_list resolve_exclusions(const std::vector<std::string> &paths,
                                  const std::function<bool(const std::string &)> &is_group)
{
    exclusion_list list;
    list.reserve(paths.size());
    for (const std::string &p : paths)
        list.push_back({p, is_group(p)});
    return list;
}

bool is_excluded(const exclusion_list &list, std::string_view path)
{
    for (const exclusion &e : list) {
        if (path == e.path)
            return true;
        if (e.group && path.size() > e.path.size() && path.compare(0, e.path.size(), e.path) == 0 &&
            path[e.path.size()] == '/')
            return true;
    }
    return false;
}
