// Object paths for shell completion.
#include "mirlo_object_paths.hpp"
#include "h5_handle.hpp"
#include "zarn_utils.hpp"

#include <hdf5.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

struct listing {
    std::string_view head; // the prefix up to and including its last '/'
    std::string_view stem; // what the member names must begin with
    std::vector<std::string> paths;
};

// True when the member name of group leads to a group: a hard link to one, or
// a soft link whose target is one. External and other user-defined links are
// not followed: that would open other files while the user waits.
bool leads_to_group(hid_t group, const char *name, const H5L_info_t *link)
{
    if (link->type != H5L_TYPE_HARD && link->type != H5L_TYPE_SOFT)
        return false;
    H5O_info_t info;
    return H5Oget_info_by_name2(group, name, &info, H5O_INFO_BASIC, H5P_DEFAULT) >= 0 && info.type == H5O_TYPE_GROUP;
}

herr_t list_member(hid_t group, const char *name, const H5L_info_t *link, void *data)
{
    listing &l = *static_cast<listing *>(data);
    const std::string_view member(name);
    if (member.substr(0, l.stem.size()) != l.stem || member.find('\n') != std::string_view::npos)
        return 0;
    std::string path(l.head);
    path += member;
    if (leads_to_group(group, name, link))
        path += '/';
    l.paths.push_back(std::move(path));
    return 0;
}

} // namespace

int mirlo_list_object_paths(FILE *out, const char *file, const char *prefix)
{
    // Only a regular file is opened: opening a FIFO for reading waits for a
    // writer, and the shell that asked would wait with it.
    struct stat st;
    const bool regular = stat(file, &st) == 0 && S_ISREG(st.st_mode);
    h5_errors_off quiet;
    h5_file f(regular ? H5Fopen(file, H5F_ACC_RDONLY, H5P_DEFAULT) : -1);
    if (!f.valid()) {
        std::fprintf(stderr, "mirlo error: <%s>: unable to open file\n", zarn_printable_name(file).c_str());
        return 2;
    }
    // Object names are absolute: an empty word starts at the root.
    const std::string_view typed(*prefix != '\0' ? prefix : "/");
    const size_t slash = typed.rfind('/');
    listing l{{}, typed, {}};
    std::string group_path = "/";
    if (slash != std::string_view::npos) {
        l.head = typed.substr(0, slash + 1);
        l.stem = typed.substr(slash + 1);
        // Read from the root either way: a relative prefix names the same
        // objects as the absolute one.
        group_path.append(l.head);
    }
    // A prefix through something that is not a group completes to nothing.
    h5_group g(H5Gopen2(f, group_path.c_str(), H5P_DEFAULT));
    if (!g.valid())
        return 0;
    // The library's own order is the cheapest to walk in a large group (no
    // table of every name sorted first); the paths are sorted afterwards. A
    // group that cannot be read to its end completes to what was read.
    hsize_t at = 0;
    (void)H5Literate(g, H5_INDEX_NAME, H5_ITER_NATIVE, &at, list_member, &l);
    std::sort(l.paths.begin(), l.paths.end());
    for (const std::string &path : l.paths)
        if (std::fputs(path.c_str(), out) == EOF || std::fputc('\n', out) == EOF)
            break;
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(stderr, "mirlo error: cannot write the object paths: %s\n", std::strerror(errno));
        return 2;
    }
    return 0;
}
