// Object traversal: walks the links below a group by name, reports objects
// and symbolic links to a visitor, and recognises further hard links to an
// object already reached by its address.
#define ZARN_SOURCE "trek"
#include "trek.hpp"

#include "h5_handle.hpp"
#include "zarn.hpp"

#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// Objects with more than one hard link met during one walk: the address and
// the path under which each was first reached. Hashed by address, so a file
// with many multiply-linked objects is still walked in linear time; the
// paths handed to the callbacks stay put while entries are added.
struct trek_addr_list {
    std::unordered_map<haddr_t, std::string> entries;

    const char *find(haddr_t address) const
    {
        auto it = entries.find(address);
        return it == entries.end() ? nullptr : it->second.c_str();
    }

    // Throws std::bad_alloc when out of memory: the walk relies on this list
    // to enter a multiply-linked group once, so it cannot go on without it.
    void add(haddr_t address, const std::string &path) { entries.emplace(address, path); }
};

struct walk_state {
    trek_addr_list seen;
    const trek_visitor *visitor;
    unsigned fields;
    // Path of the entry being reported: the start path joined with the path
    // relative to it, or the relative path alone when the start path is
    // relative. The part naming the current group stays while its members
    // are reported, so each member costs one append.
    std::string path;
};

// One link of a group, copied out of the library's iteration.
struct group_member {
    std::string name;
    H5L_info_t linfo;
};

herr_t collect_member(hid_t, const char *name, const H5L_info_t *linfo, void *op_data)
{
    auto *members = static_cast<std::vector<group_member> *>(op_data);
    try {
        members->push_back({name, *linfo});
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return 0;
}

// Reports the links of an open group by name in increasing order, each
// member group's own members right after its entry (depth first, pre-order)
// when recurse is set. Only hard links to groups are entered, and a group
// with several hard links only the first time it is reached. The links are
// copied out before any is reported, so no iteration of the library stays
// open while the walk descends, and each link is looked up once, in its own
// group. Returns 0, or -1 when a link or group could not be read or a
// callback answered negative.
int walk_group(walk_state *st, hid_t group, bool recurse)
{
    std::vector<group_member> members;
    if (H5Literate(group, H5_INDEX_NAME, H5_ITER_INC, nullptr, collect_member, &members) < 0)
        return -1;
    const size_t prefix_len = st->path.size();
    const trek_visitor &visitor = *st->visitor;
    for (const group_member &m : members) {
        st->path.resize(prefix_len);
        st->path.append(m.name);
        if (m.linfo.type != H5L_TYPE_HARD) {
            if (visitor.on_link && visitor.on_link(st->path.c_str(), &m.linfo, visitor.user_data) < 0)
                return -1;
            continue;
        }
        H5O_info_t oinfo;
        if (H5Oget_info_by_name2(group, m.name.c_str(), &oinfo, st->fields, H5P_DEFAULT) < 0)
            return -1;
        const char *already_visited = nullptr;
        if (oinfo.rc > 1) {
            already_visited = st->seen.find(oinfo.addr);
            if (!already_visited)
                st->seen.add(oinfo.addr, st->path);
        }
        if (visitor.on_object &&
            visitor.on_object(st->path.c_str(), &oinfo, already_visited, visitor.user_data) < 0)
            return -1;
        if (!recurse || oinfo.type != H5O_TYPE_GROUP || already_visited)
            continue;
        h5_group member(H5Gopen2(group, m.name.c_str(), H5P_DEFAULT));
        if (!member.valid())
            return -1;
        st->path.push_back('/');
        if (walk_group(st, member, true) < 0)
            return -1;
    }
    return 0;
}

// Keeps a file's metadata cache from growing for a scope and puts the
// configuration found back when the scope ends. HDF5 enlarges the cache while
// its hit rate stays low, and a walk that reads each object header once, from
// the group holding it, hits little: the cache would grow to its maximum and
// keep that many decoded object headers (for small objects several times their
// size in the file) for the rest of the run. Nothing changes when the
// configuration cannot be read.
class cache_growth_off {
public:
    explicit cache_growth_off(hid_t object) noexcept : file_(H5Iget_file_id(object))
    {
        h5_errors_off quiet;
        saved_.version = H5AC__CURR_CACHE_CONFIG_VERSION;
        if (!file_.valid() || H5Fget_mdc_config(file_, &saved_) < 0 || saved_.incr_mode == H5C_incr__off)
            return;
        H5AC_cache_config_t held = saved_;
        held.incr_mode = H5C_incr__off;
        held_ = H5Fset_mdc_config(file_, &held) >= 0;
    }
    cache_growth_off(const cache_growth_off &) = delete;
    cache_growth_off &operator=(const cache_growth_off &) = delete;
    ~cache_growth_off() noexcept
    {
        if (!held_)
            return;
        h5_errors_off quiet;
        (void)H5Fset_mdc_config(file_, &saved_);
    }

private:
    h5_file file_;
    H5AC_cache_config_t saved_{};
    bool held_ = false;
};

} // namespace

int traverse(hid_t file_id, const char *start_path, bool visit_start, bool recurse, const trek_visitor *visitor,
             unsigned fields)
{
    // Type, reference count and address decide the walk, so the basic
    // fields are read whatever else the caller asks for.
    fields |= H5O_INFO_BASIC;
    H5O_info_t oinfo;
    if (H5Oget_info_by_name2(file_id, start_path, &oinfo, fields, H5P_DEFAULT) < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Oget_info_by_name failed");
        return -1;
    }
    // The start object is reported like any other: a negative answer of the
    // callback ends the walk here.
    if (visit_start && visitor->on_object &&
        visitor->on_object(start_path, &oinfo, nullptr, visitor->user_data) < 0)
        return -1;
    if (oinfo.type != H5O_TYPE_GROUP)
        return 0;

    // A failed walk leaves the same message on the error stack as it always
    // has, for a recursive and for a one-level walk.
    const char *failure = recurse ? "H5Lvisit_by_name failed" : "H5Literate_by_name failed";
    int ret = 0;
    try {
        walk_state st{{}, visitor, fields, {}};
        // A start group with further links to it is known under the start
        // path: a link back to it is reported as an alias and not entered.
        if (oinfo.rc > 1)
            st.seen.add(oinfo.addr, start_path);
        const size_t len = std::strlen(start_path);
        if (len == 0 || start_path[0] == '/') {
            st.path.assign(start_path, len);
            if (len == 0 || start_path[len - 1] != '/')
                st.path.push_back('/');
        }
        h5_group start(H5Gopen2(file_id, start_path, H5P_DEFAULT));
        if (!start.valid()) {
            ret = -1;
        } else {
            cache_growth_off cache(start);
            ret = walk_group(&st, start, recurse);
        }
    } catch (const std::bad_alloc &) {
        ret = -1;
    }
    if (ret < 0)
        ZARN_PUSH_ERROR(zarn_err_minor, "%s", failure);
    return ret;
}

namespace {

struct header_walk {
    const std::function<bool()> *stop;
    hid_t lapl;
    size_t read = 0;
};

// Refuses every external link: opening its target could block (a FIFO) or
// reach files the comparison never opens.
herr_t refuse_external_link(const char *, const char *, const char *, const char *, unsigned *, hid_t, void *)
{
    return -1;
}

herr_t read_header(hid_t group, const char *rel, const H5L_info_t *linfo, void *op_data)
{
    auto *walk = static_cast<header_walk *>(op_data);
    if (linfo->type != H5L_TYPE_HARD)
        return 0;
    H5O_info_t oinfo;
    if (H5Oget_info_by_name2(group, rel, &oinfo, H5O_INFO_BASIC, walk->lapl) < 0)
        return -1;
    ++walk->read;
    return walk->read % 16 == 0 && (*walk->stop)() ? 1 : 0;
}

} // namespace

size_t trek_read_headers(hid_t file_id, const char *start_path, const std::function<bool()> &stop)
{
    h5_errors_off quiet;
    h5_plist lapl(H5Pcreate(H5P_LINK_ACCESS));
    if (!lapl.valid() || H5Pset_elink_cb(lapl, refuse_external_link, nullptr) < 0)
        return 0;
    H5O_info_t oinfo;
    if (H5Oget_info_by_name2(file_id, start_path, &oinfo, H5O_INFO_BASIC, lapl) < 0)
        return 0;
    header_walk walk{&stop, lapl, 1};
    if (oinfo.type == H5O_TYPE_GROUP && !stop())
        H5Lvisit_by_name(file_id, start_path, H5_INDEX_NAME, H5_ITER_INC, read_header, &walk, lapl);
    return walk.read;
}

int trek_visit(hid_t file_id, const char *start_path, bool visit_start, bool recurse, trek_object_func on_object,
               trek_link_func on_link, void *user_data, unsigned fields)
{
    trek_visitor visitor{on_object, on_link, user_data};
    if (traverse(file_id, start_path, visit_start, recurse, &visitor, fields) < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "traverse failed");
        return -1;
    }
    return 0;
}

trek_info_ptr trek_info_create(const char *file_name, hid_t file_id)
{
    trek_info_ptr info(new (std::nothrow) trek_info);
    if (!info)
        return nullptr;
    info->file_name = file_name;
    info->file_id = file_id;
    return info;
}

void trek_info_destroy(trek_info *info)
{
    delete info;
}

int trek_info_append(trek_info *info, const char *path, trek_type type)
{
    if (!info || !path)
        return -1;
    try {
        info->paths.push_back({path, type, HADDR_UNDEF, 0});
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return 0;
}

int trek_info_on_object(const char *path, const H5O_info_t *oinfo, const char *, void *udata)
{
    auto *info = static_cast<trek_info *>(udata);
    trek_type type = TREK_UNKNOWN;
    switch (oinfo->type) {
    case H5O_TYPE_GROUP: type = TREK_GROUP; break;
    case H5O_TYPE_DATASET: type = TREK_DATASET; break;
    case H5O_TYPE_NAMED_DATATYPE: type = TREK_NAMED_DATATYPE; break;
    default: break;
    }
    if (trek_info_append(info, path, type) < 0)
        return -1;
    info->paths.back().address = oinfo->addr;
    info->paths.back().file_number = oinfo->fileno;
    return 0;
}

int trek_info_on_link(const char *path, const H5L_info_t *linfo, void *udata)
{
    auto *info = static_cast<trek_info *>(udata);
    return trek_info_append(info, path, linfo->type == H5L_TYPE_SOFT ? TREK_LINK : TREK_UDLINK);
}

trek_table_ptr trek_table_create()
{
    return trek_table_ptr(new (std::nothrow) trek_table);
}

void trek_table_destroy(trek_table *table)
{
    delete table;
}

int trek_table_append_flags(const uint32_t flags[2], const char *name, trek_type type, trek_table *table)
{
    if (!table || !name)
        return -1;
    try {
        trek_object obj;
        obj.flags[0] = flags[0];
        obj.flags[1] = flags[1];
        obj.name = name;
        obj.type = type;
        table->objects.push_back(std::move(obj));
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return 0;
}

int symlink_visit_add(trek_symlink_list *list, H5L_type_t link_type, const char *file, const char *path)
{
    trek_symlink entry{link_type, std::nullopt, {}};
    if (link_type == H5L_TYPE_EXTERNAL && file) {
        try {
            entry.file.emplace(file);
        } catch (const std::bad_alloc &) {
            ZARN_PUSH_ERROR(zarn_err_minor, "visited data structure name allocation failed");
            return -1;
        }
    }
    bool path_copied = path != nullptr;
    if (path_copied) {
        try {
            entry.path = path;
        } catch (const std::bad_alloc &) {
            path_copied = false;
        }
    }
    if (!path_copied) {
        ZARN_PUSH_ERROR(zarn_err_minor, "visited data structure path allocation failed");
        return -1;
    }
    try {
        list->entries.push_back(std::move(entry));
    } catch (const std::bad_alloc &) {
        ZARN_PUSH_ERROR(zarn_err_minor, "visited data structure realloc failed");
        return -1;
    }
    return 0;
}

bool symlink_was_visited(const trek_symlink_list *list, H5L_type_t link_type, const char *file, const char *path)
{
    for (const trek_symlink &e : list->entries) {
        if (e.link_type != link_type || path == nullptr || e.path != path)
            continue;
        if (link_type != H5L_TYPE_EXTERNAL)
            return true;
        if (file == nullptr ? !e.file.has_value() : (e.file.has_value() && *e.file == file))
            return true;
    }
    return false;
}
