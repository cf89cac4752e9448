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
    int32_t problem;      // zarn_link_problem: why the link could not be classified
};

// Why Zarn_get_symlink_info could not classify a link.
enum zarn_link_problem : int32_t {
    ZARN_LINK_OK = 0,
    ZARN_LINK_MISSING,               // no link of that name
    ZARN_LINK_INFO_UNREADABLE,       // its link information cannot be read
    ZARN_LINK_NO_MEMORY,             // no buffer for its value
    ZARN_LINK_VALUE_UNREADABLE,      // its value cannot be read
    ZARN_LINK_TARGET_INFO_UNREADABLE, // its target's object information cannot be read
    ZARN_LINK_TARGET_UNKNOWN,        // its target is no group, dataset or named datatype
};

// The warning line of the problem info->problem met at path (with a line
// end), or an empty string when there was none.
std::string zarn_link_warning(const zarn_link_info &info, const char *path);

// 2: root or hard link; 1: soft/external link with a target (or when
// get_obj_type is false); 0: dangling; -1: failure (some failures say why
// in info->problem).
int Zarn_get_symlink_info(hid_t loc_id, const char *path, zarn_link_info *info, bool get_obj_type);

// True when both names lead to the same object (same file number and
// address); a null name or "." is the location itself.
bool zarn_same_object(hid_t file1_id, const char *name1, hid_t file2_id, const char *name2);

// The value of a hexadecimal digit (either case), or -1 for any other character.
constexpr int zarn_hex_digit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

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
