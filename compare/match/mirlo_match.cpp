// Listing a group of each file, matching the two lists by name, and the
// pairs that matching leaves to compare.
#define ZARN_SOURCE "mirlo"
#include "mirlo_listing.hpp"
#include "h5_handle.hpp"
#include "mirlo.hpp"
#include "mirlo_diff.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

namespace {

// Object callback of a group listing: every path is kept.
int list_object(const char *path, const H5O_info_t *oinfo, const char *already_visited, void *udata)
{
    return trek_info_on_object(path, oinfo, already_visited, static_cast<group_listing *>(udata)->info);
}

// A link met by a listing that follows links: its target enters the list
// under the link's own path, followed by the target's members.
int follow_listed_link(const char *path, const H5L_info_t *linfo, group_listing *listing)
{
    trek_info *info = listing->info;
    link_target target;
    const int r = Zarn_get_symlink_info(info->file_id, path, &target.info, true);
    if (r < 0) {
        print_failure_in(info->file_id, path, "%s", LINK_UNREADABLE);
        listing->status |= MIRLO_STATUS_ERROR;
        return -1;
    }
    if (r == 0) {
        info->symlinks_visited.dangling_found = true;
        trek_info_append(info, path, linfo->type == H5L_TYPE_SOFT ? TREK_LINK : TREK_UDLINK);
        if (listing->settings->no_dangling_links) {
            // Said once here, where the listing meets it; the pair's
            // comparison later ends without a word of its own.
            print_failure_in(info->file_id, path, "%s", LINK_DANGLING);
            listing->status |= MIRLO_STATUS_ERROR;
        }
        return 0;
    }
    const char *file = nullptr;
    const char *obj = nullptr;
    if (linfo->type == H5L_TYPE_EXTERNAL) {
        unsigned flags = 0;
        if (H5Lunpack_elink_val(target.info.target_path, linfo->u.val_size, &flags, &file, &obj) < 0)
            return 0;
    } else {
        obj = target.info.target_path;
    }
    if (symlink_was_visited(&info->symlinks_visited, linfo->type, file, obj))
        return 0;
    if (symlink_visit_add(&info->symlinks_visited, linfo->type, file, obj) < 0)
        return 0;
    if (trek_visit(info->file_id, path, true, true, list_object, list_link, listing, H5O_INFO_BASIC) < 0) {
        output_print(listing->out, "Error: Could not get file contents\n");
        listing->status |= MIRLO_STATUS_ERROR;
        ZARN_PUSH_ERROR(zarn_err_minor, "Error: Could not get file contents");
        return -1;
    }
    return 0;
}

// The kind each name of the merged lists has (the first file's where both
// have it), in merge order.
struct merged_name {
    uint32_t flags[2];
    const char *name;
    trek_type type;
    bool same_target;
};

std::vector<merged_name> merge_lists(const trek_info *info1, const char *path1, const trek_info *info2,
                                     const char *path2)
{
    const size_t len1 = std::strcmp(path1, "/") == 0 ? 0 : std::strlen(path1);
    const size_t len2 = std::strcmp(path2, "/") == 0 ? 0 : std::strlen(path2);
    auto rel1 = [&](size_t i) { return info1->paths[i].path.c_str() + std::min(len1, info1->paths[i].path.size()); };
    auto rel2 = [&](size_t j) { return info2->paths[j].path.c_str() + std::min(len2, info2->paths[j].path.size()); };
    std::vector<merged_name> merged;
    size_t i = 0, j = 0;
    while (i < info1->paths.size() && j < info2->paths.size()) {
        const trek_path &p1 = info1->paths[i];
        const trek_path &p2 = info2->paths[j];
        const int c = std::strcmp(rel1(i), rel2(j));
        if (c == 0) {
            merged.push_back({{1, 1}, rel1(i), p1.type, p1.address == p2.address && p1.file_number == p2.file_number});
            ++i;
            ++j;
        } else if (c < 0) {
            merged.push_back({{1, 0}, rel1(i), p1.type, false});
            ++i;
        } else {
            merged.push_back({{0, 1}, rel2(j), p2.type, false});
            ++j;
        }
    }
    for (; i < info1->paths.size(); ++i)
        merged.push_back({{1, 0}, rel1(i), info1->paths[i].type, false});
    for (; j < info2->paths.size(); ++j)
        merged.push_back({{0, 1}, rel2(j), info2->paths[j].type, false});
    return merged;
}

} // namespace

int list_link(const char *path, const H5L_info_t *linfo, void *udata)
{
    auto *listing = static_cast<group_listing *>(udata);
    if (!listing->settings->follow_links) {
        trek_info_append(listing->info, path, linfo->type == H5L_TYPE_SOFT ? TREK_LINK : TREK_UDLINK);
        return 0;
    }
    if (linfo->type != H5L_TYPE_SOFT && linfo->type != H5L_TYPE_EXTERNAL) {
        output_print(listing->out, "Error: Invalid link type\n");
        listing->status |= MIRLO_STATUS_ERROR;
        ZARN_PUSH_ERROR(zarn_err_minor, "Error: Invalid link type");
        return -1;
    }
    return follow_listed_link(path, linfo, listing);
}

int list_group(hid_t file, const char *path, bool visit_start, group_listing *listing)
{
    return trek_visit(file, path, visit_start, true, list_object, list_link, listing, H5O_INFO_BASIC);
}

void sort_paths(trek_info *info)
{
    // Both lists in name order, so the merge pairs equal names whatever
    // order the walk produced (a walk goes depth first, which is not strcmp
    // order when names contain characters below '/').
    std::stable_sort(info->paths.begin(), info->paths.end(), [](const trek_path &a, const trek_path &b) {
        return std::strcmp(a.path.c_str(), b.path.c_str()) < 0;
    });
}

trek_table_ptr build_match_list(const trek_info *info1, const char *path1, const trek_info *info2,
                                const char *path2, const mirlo_settings &settings)
{
    trek_table_ptr table = trek_table_create();
    if (table == nullptr)
        return nullptr;
    const std::vector<merged_name> merged = merge_lists(info1, path1, info2, path2);
    // An --exclude-path entry that names a group the lists hold excludes
    // everything below it.
    std::unordered_set<std::string> groups;
    for (const merged_name &m : merged)
        if (m.type == TREK_GROUP)
            groups.insert(m.name);
    const exclusion_list excluded =
        resolve_exclusions(settings.exclude_paths, [&](const std::string &p) { return groups.count(p) > 0; });
    const bool ignoring = rules_ignore_some(settings);
    for (const merged_name &m : merged) {
        // Objects a rule ignores are left out as excluded ones are: neither
        // compared nor listed as on one side only.
        if (is_excluded(excluded, m.name) || (ignoring && rules_ignore_object(settings, m.name)))
            continue;
        if (trek_table_append_flags(m.flags, m.name, m.type, table.get()) == 0 && m.same_target)
            table->objects.back().is_same_target = true;
    }
    return table;
}

std::vector<matched_pair> pairs_to_compare(const trek_table &table, const trek_info &info1, const char *grp1,
                                           const trek_info &info2, const char *grp2,
                                           const mirlo_settings &settings)
{
    const std::string base1 = std::strcmp(grp1, "/") == 0 ? "" : grp1;
    const std::string base2 = std::strcmp(grp2, "/") == 0 ? "" : grp2;
    std::vector<matched_pair> pairs;
    const trek_info *const infos[2] = {&info1, &info2};
    size_t pos[2] = {0, 0};
    // The number of each file: an object listed with another one was reached
    // through an external link, and its address means nothing here.
    unsigned long file_number[2] = {0, 0};
    bool numbered[2] = {false, false};
    for (int k = 0; k < 2; ++k) {
        H5O_info_t root{};
        h5_errors_off quiet;
        numbered[k] = H5Oget_info2(infos[k]->file_id, &root, H5O_INFO_BASIC) >= 0;
        file_number[k] = root.fileno;
    }
    for (const trek_object &entry : table.objects) {
        if (!entry.flags[0] || !entry.flags[1])
            continue;
        matched_pair p;
        p.name1 = base1 + entry.name;
        p.rules_root_size = base1.size();
        p.name2 = base2 + entry.name;
        const std::string *const names[2] = {&p.name1, &p.name2};
        int32_t *const types[2] = {&p.info.obj_type1, &p.info.obj_type2};
        // Each list in name order: the kind is found by going on from the
        // place the previous pair's was found.
        for (int k = 0; k < 2; ++k) {
            *types[k] = TREK_UNKNOWN;
            for (size_t at = pos[k]; at < infos[k]->paths.size(); ++at) {
                const trek_path &listed = infos[k]->paths[at];
                if (*names[k] == listed.path) {
                    *types[k] = listed.type;
                    if (listed.type == TREK_DATASET && numbered[k] && listed.file_number == file_number[k])
                        p.address[k] = listed.address;
                    pos[k] = at + 1;
                    break;
                }
            }
        }
        p.info.is_same_target = entry.is_same_target ? 1 : 0;
        pairs.push_back(std::move(p));
    }
    resolve_attribute_exclusions(settings.exclude_attrs, &pairs);
    return pairs;
}

void resolve_attribute_exclusions(const std::vector<std::string> &entries, std::vector<matched_pair> *pairs)
{
    if (entries.empty())
        return;
    // Only a group compared as one (not the same object on both sides) can
    // exclude what lies below it.
    std::unordered_set<std::string> groups;
    for (const matched_pair &p : *pairs)
        if (p.info.obj_type1 == TREK_GROUP && p.info.obj_type2 == TREK_GROUP && !p.info.is_same_target)
            groups.insert(p.name1);
    const exclusion_list excluded =
        resolve_exclusions(entries, [&](const std::string &path) { return groups.count(path) > 0; });
    for (matched_pair &p : *pairs)
        p.attributes_excluded = is_excluded(excluded, p.name1);
}
