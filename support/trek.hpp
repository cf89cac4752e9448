// Walking the object graph of an HDF5 file, the per-file path list built from
// that walk, the match table of two files, and the list of symbolic links
// already followed (so that following links cannot loop).
#pragma once
#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifndef TREK_TYPE_DEFINED
#define TREK_TYPE_DEFINED
// Kinds of objects and links; the first three equal HDF5's object types.
enum trek_type : int32_t {
    TREK_UNKNOWN = -1,
    TREK_GROUP = 0,
    TREK_DATASET = 1,
    TREK_NAMED_DATATYPE = 2,
    TREK_LINK = 3,
    TREK_UDLINK = 4,
};
#endif

// Called for each object reached through a hard link. already_visited is the
// path under which the same object was first reached in this walk, or null.
// A negative result aborts the walk.
using trek_object_func = int (*)(const char *path, const H5O_info_t *oinfo, const char *already_visited,
                                 void *udata);
// Called for each soft, external or other user-defined link. A negative
// result aborts the walk.
using trek_link_func = int (*)(const char *path, const H5L_info_t *linfo, void *udata);

struct trek_visitor {
    trek_object_func on_object;
    trek_link_func on_link;
    void *user_data;
};

// The lists below own their entries through standard containers: nothing
// in them is freed by hand, and an info or table is owned by the pointer its
// create function returns.

// One path of a file listing.
struct trek_path {
    std::string path;          // full path
    trek_type type = TREK_UNKNOWN;
    haddr_t address = HADDR_UNDEF; // object address; all ones for links
    unsigned long file_number = 0; // HDF5 file number of the object; 0 for links
};

// A symbolic link already followed.
struct trek_symlink {
    H5L_type_t link_type;
    std::optional<std::string> file; // external links only, else none
    std::string path;                // the link's target path
};

struct trek_symlink_list {
    std::vector<trek_symlink> entries;
    bool dangling_found = false; // a followed link had no target
};

// The path list of one file, in visiting order.
struct trek_info {
    const char *file_name = nullptr; // borrowed from the caller
    hid_t file_id = -1;
    std::vector<trek_path> paths;
    trek_symlink_list symlinks_visited;
};

// One name of the match table of two files.
struct trek_object {
    haddr_t address = 0;       // 0 for entries made by trek_table_append_flags
    uint32_t flags[2] = {0, 0}; // present in file 1, present in file 2
    bool is_same_target = false;
    std::string name;
    trek_type type = TREK_UNKNOWN;
    std::vector<std::string> aliases; // further paths of the same object
};

struct trek_table {
    std::vector<trek_object> objects;
};

// Free an info or a table with everything in it; the owners below call them.
void trek_info_destroy(trek_info *info);
void trek_table_destroy(trek_table *table);
struct trek_info_deleter {
    void operator()(trek_info *info) const noexcept { trek_info_destroy(info); }
};
struct trek_table_deleter {
    void operator()(trek_table *table) const noexcept { trek_table_destroy(table); }
};
using trek_info_ptr = std::unique_ptr<trek_info, trek_info_deleter>;
using trek_table_ptr = std::unique_ptr<trek_table, trek_table_deleter>;

// Walks from start_path: reports the start object itself when visit_start is
// set, then every link below it (recursively, or only the start group's own
// links when recurse is false), by name in increasing order, depth first,
// each group's members right after the group. Only hard links to groups are
// followed, a group with several hard links only the first time it is
// reached. fields is the object-information mask handed to
// H5Oget_info_by_name2; the basic fields are always among them. The file's
// metadata cache keeps its size during the walk (its configuration is put
// back afterwards). Returns 0, or -1 when the walk failed or a callback
// aborted it.
int trek_visit(hid_t file_id, const char *start_path, bool visit_start, bool recurse, trek_object_func on_object,
               trek_link_func on_link, void *user_data, unsigned fields);
int traverse(hid_t file_id, const char *start_path, bool visit_start, bool recurse, const trek_visitor *visitor,
             unsigned fields);

// Reads the object header of start_path and of every object below it (hard
// links, by name, as trek_visit reaches them; external links are not
// followed, not even in start_path), so that opening those
// objects later finds them in the file's metadata cache. Asks stop() after
// every 16 objects and ends at its first yes. Returns the number of objects
// read; an error ends the walk without printing anything.
size_t trek_read_headers(hid_t file_id, const char *start_path, const std::function<bool()> &stop);

// A new empty path list; null when out of memory.
trek_info_ptr trek_info_create(const char *file_name, hid_t file_id);
// Appends a copy of path with the given kind, address all ones, file number
// 0. Returns 0, or -1 when out of memory (or info is null).
int trek_info_append(trek_info *info, const char *path, trek_type type);
// Visitor callbacks that fill a trek_info (udata is the trek_info).
int trek_info_on_object(const char *path, const H5O_info_t *oinfo, const char *already_visited, void *udata);
int trek_info_on_link(const char *path, const H5L_info_t *linfo, void *udata);

// A new empty match table; null when out of memory.
trek_table_ptr trek_table_create();
// Appends name with the two presence flags. Returns 0, or -1 when out of
// memory (the table is left unchanged).
int trek_table_append_flags(const uint32_t flags[2], const char *name, trek_type type, trek_table *table);

// Records a followed link; the file is kept for external links only.
// Returns 0 or -1 (the list stays usable).
int symlink_visit_add(trek_symlink_list *list, H5L_type_t link_type, const char *file, const char *path);
// True when a link of the same type to the same path (and, for external
// links, the same file) was already followed.
bool symlink_was_visited(const trek_symlink_list *list, H5L_type_t link_type, const char *file,
                         const char *path);
