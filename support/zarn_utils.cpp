// Number lists of the subset notation, link classification and the
// hyperslab buffer settings.
#define ZARN_SOURCE "zarn_utils"
#include "zarn_utils.hpp"
#include "h5_handle.hpp"
#include "zarn.hpp"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

hsize_t hyperslab_bufsize = ZARN_HYPERSLAB_BUFSIZE;
hsize_t whole_read_limit = ZARN_WHOLE_READ_LIMIT;

namespace {

bool ends_list(char c)
{
    return c == '\0' || c == ';' || c == ']';
}

bool is_digit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

void parse_hsize_list(const char *text, hsize_list *list)
{
    if (text == nullptr || text[0] == '\0' || text[0] == ';')
        return;

    // A number starts at every digit that follows a non-digit.
    hsize_t count = 0;
    for (const char *p = text; !ends_list(*p); ++p)
        if (is_digit(*p) && (p == text || !is_digit(p[-1])))
            ++count;
    if (count == 0)
        return;

    auto *values = static_cast<hsize_t *>(std::calloc(count, sizeof(hsize_t)));
    if (values == nullptr) {
        ZARN_PUSH_ERROR(zarn_info_minor, "Unable to allocate space for subset data");
        return;
    }
    hsize_t stored = 0;
    const char *p = text;
    while (!ends_list(*p) && stored < count) {
        if (is_digit(*p)) {
            values[stored++] = std::strtoull(p, nullptr, 0);
            while (is_digit(*p))
                ++p;
            if (ends_list(*p))
                break;
            ++p; // the separator
        } else {
            ++p;
        }
    }
    list->values = values;
    list->count = count;
}

namespace {

// Length of the well-formed UTF-8 sequence at p that is not a control
// character (U+0080..U+009F), or 0.
size_t utf8_text_length(const unsigned char *p)
{
    auto cont = [](unsigned char c) { return (c & 0xC0) == 0x80; };
    const unsigned char c = p[0];
    if (c >= 0xC2 && c <= 0xDF)
        return cont(p[1]) && !(c == 0xC2 && p[1] < 0xA0) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;
        const unsigned char hi = c == 0xED ? 0x9F : 0xBF;
        return p[1] >= lo && p[1] <= hi && cont(p[2]) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned char lo = c == 0xF0 ? 0x90 : 0x80;
        const unsigned char hi = c == 0xF4 ? 0x8F : 0xBF;
        return p[1] >= lo && p[1] <= hi && cont(p[2]) && cont(p[3]) ? 4 : 0;
    }
    return 0;
}

// True when path names something other than a regular file (a FIFO, a
// device, a directory); false for a regular file or nothing at all.
bool exists_but_not_regular(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// False when any place HDF5 may look for an external link's target file
// (the name itself, the name or its last component under HDF5_EXT_PREFIX and
// in the linking file's folder) holds something other than a regular file.
bool target_file_is_regular(const char *parent_file, const char *child_file)
{
    const std::string name = child_file;
    const size_t slash = name.rfind('/');
    const std::string last = name[0] == '/' && slash != std::string::npos ? name.substr(slash + 1) : name;
    const std::string parent = parent_file;
    const size_t parent_slash = parent.rfind('/');
    const std::string parent_dir = parent_slash == std::string::npos ? "." : parent.substr(0, parent_slash);

    std::vector<std::string> candidates = {name, last, parent_dir + "/" + last};
    if (const char *prefixes = std::getenv("HDF5_EXT_PREFIX")) {
        std::string list = prefixes;
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            std::string dir = list.substr(start, end - start);
            if (dir.rfind("${ORIGIN}", 0) == 0)
                dir = parent_dir + dir.substr(9);
            if (!dir.empty())
                candidates.push_back(dir + "/" + last);
            start = end + 1;
        }
    }
    for (const std::string &c : candidates) {
        if (exists_but_not_regular(c))
            return false;
    }
    return true;
}

// External-link callback: refuses to let HDF5 open a target file that is no
// regular file. Opening a FIFO would block for ever, a device would be read
// as if it were a file. op_data is a bool set on refusal.
herr_t regular_files_only(const char *parent_file, const char *, const char *child_file, const char *,
                          unsigned *acc_flags, hid_t, void *op_data) noexcept
{
    // The target is opened, never made: a parent file that was created
    // passes its create flags, which the library refuses after a callback.
    *acc_flags &= ~static_cast<unsigned>(H5F_ACC_TRUNC | H5F_ACC_EXCL);
    try {
        if (!target_file_is_regular(parent_file, child_file))
            *static_cast<bool *>(op_data) = true;
    } catch (...) {
        return -1;
    }
    return *static_cast<bool *>(op_data) ? -1 : 0;
}

} // namespace

std::string zarn_printable_name(const char *name)
{
    std::string out;
    if (name == nullptr)
        return out;
    const auto *p = reinterpret_cast<const unsigned char *>(name);
    while (*p != '\0') {
        const unsigned char c = *p;
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
            ++p;
            continue;
        }
        if (c >= 0x80) {
            const size_t n = utf8_text_length(p);
            if (n > 0) {
                out.append(reinterpret_cast<const char *>(p), n);
                p += n;
                continue;
            }
        }
        switch (c) {
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default: {
            char octal[5];
            std::snprintf(octal, sizeof octal, "\\%03o", c);
            out += octal;
        }
        }
        ++p;
    }
    return out;
}

void hsize_list_free(hsize_list *list)
{
    if (list == nullptr)
        return;
    std::free(list->values);
    list->values = nullptr;
    list->count = 0;
}

bool zarn_same_object(hid_t file1_id, const char *name1, hid_t file2_id, const char *name2)
{
    H5O_info_t i1, i2;
    auto get = [](hid_t loc, const char *name, H5O_info_t *oi) {
        if (name == nullptr || std::strcmp(name, ".") == 0)
            return H5Oget_info2(loc, oi, H5O_INFO_BASIC);
        return H5Oget_info_by_name2(loc, name, oi, H5O_INFO_BASIC, H5P_DEFAULT);
    };
    if (get(file1_id, name1, &i1) < 0 || get(file2_id, name2, &i2) < 0)
        return false;
    return i1.fileno == i2.fileno && i1.addr == i2.addr;
}

std::string zarn_link_warning(const zarn_link_info &info, const char *path)
{
    const char *before = nullptr;
    const char *after = ">\n";
    switch (info.problem) {
    case ZARN_LINK_MISSING: before = "Warning: link <", after = "> doesn't exist \n"; break;
    case ZARN_LINK_INFO_UNREADABLE: before = "Warning: unable to get link info from <"; break;
    case ZARN_LINK_NO_MEMORY: before = "Warning: unable to allocate buffer for <"; break;
    case ZARN_LINK_VALUE_UNREADABLE: before = "Warning: unable to get link value from <"; break;
    case ZARN_LINK_TARGET_INFO_UNREADABLE: before = "Warning: unable to get object information for <"; break;
    case ZARN_LINK_TARGET_UNKNOWN: before = "Warning: target object of <", after = "> is unknown type\n"; break;
    default: return {};
    }
    return before + zarn_printable_name(path) + after;
}

int Zarn_get_symlink_info(hid_t loc_id, const char *path, zarn_link_info *info, bool get_obj_type)
{
    info->target_type = -1;
    if (std::strcmp(path, "/") == 0) {
        info->target_type = H5O_TYPE_GROUP;
        return 2;
    }
    info->problem = ZARN_LINK_OK;
    if (H5Lexists(loc_id, path, H5P_DEFAULT) < 1) {
        info->problem = ZARN_LINK_MISSING;
        return -1;
    }
    if (H5Lget_info(loc_id, path, &info->link_info, H5P_DEFAULT) < 0) {
        info->problem = ZARN_LINK_INFO_UNREADABLE;
        return -1;
    }
    if (info->link_info.type == H5L_TYPE_HARD)
        return 2;

    size_t size = info->link_info.u.val_size;
    info->target_path = static_cast<char *>(std::calloc(size + 1, 1));
    if (info->target_path == nullptr) {
        info->problem = ZARN_LINK_NO_MEMORY;
        return -1;
    }
    if (H5Lget_val(loc_id, path, info->target_path, size, H5P_DEFAULT) < 0) {
        info->problem = ZARN_LINK_VALUE_UNREADABLE;
        return -1;
    }

    // External targets are opened with the POSIX driver, and only when they
    // are regular files.
    h5_plist fapl;
    h5_plist lapl;
    bool target_refused = false;
    if (info->link_info.type == H5L_TYPE_EXTERNAL) {
        fapl.reset(H5Pcreate(H5P_FILE_ACCESS));
        if (!fapl.valid() || H5Pset_fapl_sec2(fapl) < 0)
            return -1;
        lapl.reset(H5Pcreate(H5P_LINK_ACCESS));
        if (!lapl.valid() || H5Pset_elink_fapl(lapl, fapl) < 0 ||
            H5Pset_elink_cb(lapl, regular_files_only, &target_refused) < 0)
            return -1;
    }
    if (!get_obj_type) {
        info->target_type = -1;
        return 1;
    }
    hid_t access = lapl.valid() ? lapl.id : H5P_DEFAULT;
    htri_t exists;
    {
        h5_errors_off quiet;
        exists = H5Oexists_by_name(loc_id, path, access);
    }
    // A target file that is no regular file is as good as missing.
    if (exists == 0 || target_refused)
        return 0;
    if (exists < 0)
        return -1;

    H5O_info_t oinfo;
    if (H5Oget_info_by_name2(loc_id, path, &oinfo, H5O_INFO_BASIC, access) < 0) {
        info->problem = ZARN_LINK_TARGET_INFO_UNREADABLE;
        return -1;
    }
    if (oinfo.type != H5O_TYPE_GROUP && oinfo.type != H5O_TYPE_DATASET && oinfo.type != H5O_TYPE_NAMED_DATATYPE) {
        info->problem = ZARN_LINK_TARGET_UNKNOWN;
        return -1;
    }
    info->target_type = oinfo.type;
    info->target_address = oinfo.addr;
    info->target_file_number = oinfo.fileno;
    return 1;
}
