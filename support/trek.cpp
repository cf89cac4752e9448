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

    // A failure only means later aliases of this object are reported as
    // first visits.
    void add(haddr_t address, const char *path) noexcept
    {
        try {
            entries.emplace(address, path);
        } catch (...) {
        }
    }
};

struct walk_state {
    trek_addr_list *seen;
    const trek_visitor *visitor;
    bool is_absolute;     // start path begins with "/"
    const char *base;     // start path
    size_t base_len;
    bool base_has_slash;  // start path ends with "/"
    unsigned fields;
    std::string path_buf; // reused buffer for joined paths
};

// Joins the start path and a path relative to it into the state's buffer;
// returns null when out of memory.
const char *full_path_of(walk_state *st, const char *rel)
{
    if (!st->is_absolute)
        return rel;
    try {
        st->path_buf.assign(st->base, st->base_len);
        if (!st->base_has_slash)
            st->path_buf.push_back('/');
        st->path_buf.append(rel);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return st->path_buf.c_str();
}

herr_t walk_link(hid_t group, const char *rel, const H5L_info_t *linfo, void *op_data)
{
    auto *st = static_cast<walk_state *>(op_data);
    const char *path = full_path_of(st, rel);
    if (!path)
        return -1;

    if (linfo->type == H5L_TYPE_HARD) {
        H5O_info_t oinfo;
        if (H5Oget_info_by_name2(group, rel, &oinfo, st->fields, H5P_DEFAULT) < 0)
            return -1;
        const char *already_visited = nullptr;
        if (oinfo.rc > 1) {
            already_visited = st->seen->find(oinfo.addr);
            if (!already_visited)
                st->seen->add(oinfo.addr, path);
        }
        if (st->visitor->on_object &&
            st->visitor->on_object(path, &oinfo, already_visited, st->visitor->user_data) < 0)
            return -1;
    } else if (st->visitor->on_link &&
               st->visitor->on_link(path, linfo, st->visitor->user_data) < 0) {
        return -1;
    }
    return 0;
}

} // namespace

int traverse(hid_t file_id, const char *start_path, bool visit_start, bool recurse, const trek_visitor *visitor,
             unsigned fields)
{
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

    trek_addr_list seen;
    // A start group with further links to it is known under the start path,
    // so a link back to it is reported as an alias.
    if (oinfo.rc > 1)
        seen.add(oinfo.addr, start_path);

    size_t len = std::strlen(start_path);
    walk_state st{};
    st.seen = &seen;
    st.visitor = visitor;
    st.is_absolute = len == 0 || start_path[0] == '/';
    st.base = start_path;
    st.base_len = len;
    st.base_has_slash = len > 0 && start_path[len - 1] == '/';
    st.fields = fields;

    int ret = 0;
    if (recurse) {
        if (H5Lvisit_by_name(file_id, start_path, H5_INDEX_NAME, H5_ITER_INC, walk_link, &st, H5P_DEFAULT) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Lvisit_by_name failed");
            ret = -1;
        }
    } else {
        if (H5Literate_by_name(file_id, start_path, H5_INDEX_NAME, H5_ITER_INC, nullptr, walk_link, &st,
                               H5P_DEFAULT) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Literate_by_name failed");
            ret = -1;
        }
    }
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
