// Number lists of the subset notation, link classification and the
// hyperslab buffer settings.
#pragma once
#include <hdf5.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

// Owner of memory from malloc, strdup and the like.
struct zarn_free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <typename T> using zarn_malloc_ptr = std::unique_ptr<T, zarn_free_deleter>;

struct hsize_list {
    hsize_t *values = nullptr; // owned (malloc)
    hsize_t count = 0;
};

// Reads numbers up to the next ';' or ']' or the end; leaves list untouched
// when none is read.
void parse_hsize_list(const char *text, hsize_list *list);
void hsize_list_free(hsize_list *list);

struct zarn_link_info {
    int32_t target_type;  // H5O_type_t of the target, -1 when not determined
    char *target_path;    // link value (owned, malloc); the caller frees it
    haddr_t target_address;
    unsigned long target_file_number;
    H5L_info_t link_info;
    int32_t msg_mode;     // 1: warnings are printed
};

// 2: root or hard link; 1: soft/external link with a target (or when
// get_obj_type is false); 0: dangling; -1: failure.
int Zarn_get_symlink_info(hid_t loc_id, const char *path, zarn_link_info *info, bool get_obj_type);

// Byte budget of one strip, and the largest whole read.
extern hsize_t hyperslab_bufsize;
extern hsize_t whole_read_limit;
constexpr hsize_t ZARN_HYPERSLAB_BUFSIZE = 33554432;
constexpr hsize_t ZARN_WHOLE_READ_LIMIT = 268435456;

// The name with every control character escaped, so that a printed object,
// attribute or file name cannot start a new line or drive the terminal:
// \b \t \n \f \r as in C, other control bytes (below 32, 127, the UTF-8
// forms of 128..159) and bytes that are not UTF-8 as a backslash and three
// octal digits. Everything else, UTF-8 text included, is kept as it is.
std::string zarn_printable_name(const char *name);
