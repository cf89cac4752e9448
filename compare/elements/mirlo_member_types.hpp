// The member-type record of an element type: what the element loop needs to
// know about a datatype, collected once per buffer so that comparing an
// element asks HDF5 nothing (except where the data itself must be looked up:
// enum names, references). The record owns the member and base types it
// opened and its nested records; they are closed and freed with it.
#pragma once
#include "h5_handle.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct member_types {
    struct member;

    std::vector<member> members;         // compound: one per member, in order; else empty
    hid_t id = H5I_INVALID_HID;          // the type recorded (borrowed: it lives as long as the record)
    int type_class = H5T_NO_CLASS;       // H5T_class_t; H5T_NO_CLASS when not collected
    size_t size = 0;                     // element size in bytes
    int sign = 0;                        // H5T_sign_t of an integer type
    int str_pad = 0;                     // H5T_str_t of a string type
    bool is_variable_str = false;        // a variable-length string
    h5_datatype base_id;                 // array or vlen: the base type, else empty
    size_t base_size = 0;                // size of one base element
    uint64_t base_count = 0;             // array: number of base elements (1 without dimensions)
    std::unique_ptr<member_types> base;  // array or vlen: record of the base type
};

// One member of a compound type.
struct member_types::member {
    h5_datatype type;                    // the member's type
    size_t offset = 0;                   // byte offset within the element
    member_types record;                 // the member type's own record
};

// Fills *record from type, replacing what it held; leaves it empty for a
// non-positive identifier and does nothing for a null record. A compound
// whose members cannot be recorded (out of memory) is left without members.
void collect_member_types(hid_t type, member_types *record);
