// Element-by-element comparison of two buffers of any HDF5 element type.
#pragma once
#include "mirlo_options.hpp"

#include <cstddef>
#include <cstdint>

// What the element loop needs to know about one datatype, collected once per
// buffer so that comparing an element asks HDF5 nothing (except where the
// data itself must be looked up: enum names, references).
//
// For a compound type: count members, each with its type (owned), byte
// offset and nested record. For an array or vlen type: the base type (owned)
// and its record in `base`. The other fields describe the type itself.
struct member_types {
    uint32_t count;           // compound members; 0 for a type that is not compound
    hid_t *type_ids;          // count member types, closed on release
    size_t *offsets;          // count byte offsets within the element
    member_types **nested;    // count records of the member types

    int type_class;           // H5T_class_t; H5T_NO_CLASS when not collected
    size_t size;              // element size in bytes
    int sign;                 // H5T_sign_t of an integer type
    int str_pad;              // H5T_str_t of a string type
    int is_variable_str;      // 1 for a variable-length string
    hid_t base_id;            // array or vlen: the base type (owned), else -1
    size_t base_size;         // size of one base element
    uint64_t base_count;      // array: number of base elements (1 without dimensions)
    member_types *base;       // array or vlen: record of the base type
};

// Fills *record (zeroed by the caller) from type; does nothing for a
// non-positive identifier or a null record.
void collect_member_types(hid_t type, member_types *record);
// Releases what collect_member_types put in *record (not the record itself)
// and leaves it empty.
void release_member_types(member_types *record);

// Compares block_element_count elements of options->mem_type_id in buf1 and
// buf2; container1/2 are the datasets or attributes the buffers came from.
nfound_t diff_array(void *buf1, void *buf2, diff_options *options, hid_t container1, hid_t container2);

// Compares one element of options->mem_type_id. elem_idx is the element's
// index within the block (for the reported position); members is the record
// collected for options->mem_type_id, or null to collect one for this call.
nfound_t diff_datum(void *elem1, void *elem2, uint64_t elem_idx, diff_options *options, hid_t container1,
                    hid_t container2, member_types *members);

// Compares two region selections of the referenced datasets obj1 and obj2.
nfound_t diff_region(hid_t obj1, hid_t obj2, hid_t region1, hid_t region2, diff_options *options);
