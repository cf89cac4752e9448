// Element-by-element comparison of two buffers: native numeric buffers go
// through the per-type loops of mirlo_numeric.hpp; every other type is
// compared element by element by diff_datum, which recurses through compound
// members, array elements and variable-length sequences, and compares
// strings, enums, bitfields, opaque values and references.
#define ZARN_SOURCE "mirlo_array"
#include "mirlo_array.hpp"

#include "h5_handle.hpp"
#include "mirlo_dset.hpp"
#include "mirlo_numeric.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
using hsize_buffer = std::unique_ptr<hsize_t[], free_deleter>;

// " at [ i j ]": where the element of a failing reference is (nothing for a
// scalar). Built only when a message is due.
std::string reference_place(const diff_options *options, uint64_t elem_idx)
{
    const std::string label = element_position_label(options, elem_idx);
    return label.empty() ? label : " at " + label;
}

// Names the reference (kind "object" or "region") that cannot be followed.
void report_reference_leading_nowhere(hid_t container, const char *kind, const diff_options *options,
                                      uint64_t elem_idx)
{
    print_failure_of(container, "the %s reference%s leads to no object: it was deleted, or the file is damaged",
                     kind, reference_place(options, elem_idx).c_str());
}

bool rows_printed(const diff_options *options)
{
    return (options->report_mode || options->verbose_mode) && !options->quiet_mode;
}

bool always_examined(int cls)
{
    return cls == H5T_STRING || cls == H5T_COMPOUND || cls == H5T_REFERENCE || cls == H5T_VLEN;
}

// Runs the loop of the native numeric type equal to type over the buffers;
// 0 for a type that is no native one.
nfound_t diff_native_buffer(hid_t type, int cls, const void *buf1, const void *buf2, uint64_t count,
                            diff_options *options)
{
    if (cls == H5T_INTEGER) {
        if (H5Tequal(type, H5T_NATIVE_SCHAR) > 0)
            return numeric_diff_buffer<signed char>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_UCHAR) > 0)
            return numeric_diff_buffer<unsigned char>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_SHORT) > 0)
            return numeric_diff_buffer<short>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_USHORT) > 0)
            return numeric_diff_buffer<unsigned short>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_INT) > 0)
            return numeric_diff_buffer<int>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_UINT) > 0)
            return numeric_diff_buffer<unsigned>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_LONG) > 0)
            return numeric_diff_buffer<long>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_ULONG) > 0)
            return numeric_diff_buffer<unsigned long>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_LLONG) > 0)
            return numeric_diff_buffer<long long>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_ULLONG) > 0)
            return numeric_diff_buffer<unsigned long long>(buf1, buf2, count, options);
    } else if (cls == H5T_FLOAT) {
        if (H5Tequal(type, H5T_NATIVE_FLOAT) > 0)
            return numeric_diff_buffer<float>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_DOUBLE) > 0)
            return numeric_diff_buffer<double>(buf1, buf2, count, options);
        if (H5Tequal(type, H5T_NATIVE_LDOUBLE) > 0)
            return numeric_diff_buffer<long double>(buf1, buf2, count, options);
    }
    return 0;
}

nfound_t diff_integer_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                            diff_options *options, const member_types *m, int *error)
{
    const bool is_unsigned = m->sign == H5T_SGN_NONE;
    switch (m->size) {
    case 1:
        return is_unsigned ? diff_uchar_elem(e1, e2, elem_idx, options) : diff_schar_elem(e1, e2, elem_idx, options);
    case 2:
        return is_unsigned ? diff_ushort_elem(e1, e2, elem_idx, options)
                           : diff_short_elem(e1, e2, elem_idx, options);
    case 4:
        return is_unsigned ? diff_uint_elem(e1, e2, elem_idx, options) : diff_int_elem(e1, e2, elem_idx, options);
    case 8:
        return is_unsigned ? diff_ulong_elem(e1, e2, elem_idx, options) : diff_long_elem(e1, e2, elem_idx, options);
    case 16:
        if (is_unsigned)
            ZARN_PUSH_ERROR(zarn_err_minor, "Type size is not unsigned long long size");
        else
            ZARN_PUSH_ERROR(zarn_err_minor, "Type size is not long long size");
        *error = 2;
        return 0;
    default:
        return 0;
    }
}

nfound_t diff_float_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                          diff_options *options, size_t size)
{
    if (size == sizeof(long double))
        return diff_ldouble_elem(e1, e2, elem_idx, options);
    if (size == sizeof(double))
        return diff_double_elem(e1, e2, elem_idx, options);
    if (size == sizeof(float))
        return diff_float_elem(e1, e2, elem_idx, options);
    return 0;
}

// Lengths and characters of one string element.
struct string_view_of {
    const unsigned char *chars; // null for a null variable-length string
    size_t length;
};

string_view_of string_of(const unsigned char *elem, const member_types *m)
{
    if (m->is_variable_str) {
        const char *s = nullptr;
        std::memcpy(&s, elem, sizeof s);
        return {reinterpret_cast<const unsigned char *>(s), s ? std::strlen(s) : 0};
    }
    if (m->str_pad == H5T_STR_NULLTERM) {
        const void *nul = std::memchr(elem, '\0', m->size);
        return {elem, nul ? static_cast<size_t>(static_cast<const unsigned char *>(nul) - elem) : m->size};
    }
    return {elem, m->size};
}

nfound_t diff_string_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                           diff_options *options, const member_types *m)
{
    const string_view_of s1 = string_of(e1, m);
    const string_view_of s2 = string_of(e2, m);
    nfound_t found = s1.length != s2.length ? 1 : 0;
    const size_t n = s1.length < s2.length ? s1.length : s2.length;
    const string_view_of &shorter = s1.length < s2.length ? s1 : s2;
    if (shorter.chars == nullptr)
        return found;
    if (s1.length == s2.length || std::memcmp(s1.chars, s2.chars, n) != 0) {
        for (size_t k = 0; k < n; ++k)
            found += diff_char_pair(s1.chars + k, s2.chars + k, elem_idx, k, options);
        return found;
    }
    // Same first n characters, different lengths: list the positions past the
    // end of the shorter string, shown there as a NUL, without counting them.
    if (!rows_printed(options))
        return found;
    const unsigned char nul = '\0';
    const size_t longer = s1.length > s2.length ? s1.length : s2.length;
    for (size_t k = n; k < longer; ++k) {
        if (s1.length > s2.length)
            (void)diff_char_pair(s1.chars + k, &nul, elem_idx, k, options);
        else
            (void)diff_char_pair(&nul, s2.chars + k, elem_idx, k, options);
    }
    return found;
}

nfound_t diff_bytes_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                          diff_options *options, size_t size)
{
    nfound_t found = 0;
    for (size_t k = 0; k < size; ++k)
        found += diff_byte_elem(e1 + k, e2 + k, elem_idx, options);
    return found;
}

nfound_t diff_enum_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                         diff_options *options, size_t size)
{
    constexpr size_t NAME_SIZE = 1024;
    char name1[NAME_SIZE];
    char name2[NAME_SIZE];
    bool ok1, ok2;
    {
        h5_errors_off quiet;
        ok1 = H5Tenum_nameof(options->mem_type_id, e1, name1, NAME_SIZE) >= 0;
        ok2 = H5Tenum_nameof(options->mem_type_id, e2, name2, NAME_SIZE) >= 0;
    }
    if (!ok1)
        std::strcpy(name1, "**INVALID VALUE**");
    if (!ok2)
        std::strcpy(name2, "**INVALID VALUE**");
    name1[NAME_SIZE - 1] = '\0';
    name2[NAME_SIZE - 1] = '\0';
    if (ok1 && ok2 && std::strcmp(name1, name2) == 0)
        return diff_bytes_datum(e1, e2, elem_idx, options, size);
    options->relative_header = 0;
    print_position(options, elem_idx, 0);
    if (rows_printed(options))
        zarn_buffered_print("%-16s %-17s\n", name1, name2);
    return 1;
}

bool all_zero(const unsigned char *p, size_t size)
{
    for (size_t k = 0; k < size; ++k)
        if (p[k] != 0)
            return false;
    return true;
}

nfound_t diff_region_reference(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                               diff_options *copy, hid_t container1, hid_t container2, int *error)
{
    nfound_t found = 0;
    hid_t obj1 = H5Rdereference2(container1, H5P_DEFAULT, H5R_DATASET_REGION, e1);
    if (obj1 < 0) {
        report_reference_leading_nowhere(container1, "region", copy, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rdereference2 object 1 failed");
        *error = 2;
        return 0;
    }
    hid_t obj2 = H5Rdereference2(container2, H5P_DEFAULT, H5R_DATASET_REGION, e2);
    if (obj2 < 0) {
        report_reference_leading_nowhere(container2, "region", copy, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rdereference2 object 2 failed");
        *error = 2;
        H5Oclose(obj1);
        return 0;
    }
    hid_t region1 = H5Rget_region(container1, H5R_DATASET_REGION, e1);
    hid_t region2 = region1 >= 0 ? H5Rget_region(container2, H5R_DATASET_REGION, e2) : -1;
    if (region1 >= 0 && region2 >= 0)
        found = diff_region(obj1, obj2, region1, region2, copy);
    if (region2 >= 0 && H5Sclose(region2) < 0) {
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Sclose H5T_STD_REF_DSETREG region 2 failed");
        *error = 2;
    }
    if (region1 >= 0 && H5Sclose(region1) < 0) {
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Sclose H5T_STD_REF_DSETREG region 1 failed");
        *error = 2;
    }
    if (H5Oclose(obj2) < 0) {
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Oclose H5T_STD_REF_DSETREG region 2 failed");
        *error = 2;
    }
    if (H5Oclose(obj1) < 0) {
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Oclose H5T_STD_REF_DSETREG region 1 failed");
        *error = 2;
    }
    return found;
}

// True when both object references lead to the same, named path.
bool same_referenced_path(hid_t container1, hid_t container2, const unsigned char *e1, const unsigned char *e2)
{
    char path1[1024];
    char path2[1024];
    ssize_t n1 = H5Rget_name(container1, H5R_OBJECT, e1, path1, sizeof path1);
    ssize_t n2 = H5Rget_name(container2, H5R_OBJECT, e2, path2, sizeof path2);
    return n1 > 0 && n2 > 0 && static_cast<size_t>(n1) < sizeof path1 && static_cast<size_t>(n2) < sizeof path2 &&
           std::strcmp(path1, path2) == 0;
}

nfound_t diff_object_reference(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                               const diff_options *options, diff_options *copy, hid_t container1,
                               hid_t container2, int *error)
{
    H5O_type_t type1 = H5O_TYPE_UNKNOWN;
    H5O_type_t type2 = H5O_TYPE_UNKNOWN;
    if (H5Rget_obj_type2(container1, H5R_OBJECT, e1, &type1) < 0) {
        report_reference_leading_nowhere(container1, "object", options, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rget_obj_type2 object 1 failed");
        *error = 2;
        return 0;
    }
    if (H5Rget_obj_type2(container2, H5R_OBJECT, e2, &type2) < 0) {
        report_reference_leading_nowhere(container2, "object", options, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rget_obj_type2 object 2 failed");
        *error = 2;
        return 0;
    }
    const std::string printable1 = zarn_printable_name(options->object_names[0]);
    const std::string printable2 = zarn_printable_name(options->object_names[1]);
    const char *name1 = printable1.c_str();
    const char *name2 = printable2.c_str();
    if (type1 != type2) {
        zarn_buffered_print("Different object types referenced: <%s> and <%s>", name1, name2);
        print_failure_of(container1, "the object references%s lead to objects of different kinds",
                         reference_place(options, elem_idx).c_str());
        copy->not_comparable = 1;
        *error = 2;
        return 0;
    }
    if (type1 != H5O_TYPE_DATASET) {
        // Groups and named datatypes have no values to compare; two
        // references that lead to the same path are the same reference, and
        // must not make two identical files "not comparable".
        if (same_referenced_path(container1, container2, e1, e2))
            return 0;
        if (copy->verbose_mode)
            zarn_buffered_print("Warning: Comparison not possible of object types referenced: <%s> and <%s>\n",
                                name1, name2);
        copy->not_comparable = 1;
        return 0;
    }
    hid_t obj1 = H5Rdereference2(container1, H5P_DEFAULT, H5R_OBJECT, e1);
    if (obj1 < 0) {
        report_reference_leading_nowhere(container1, "object", options, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rdereference2 object 1 failed");
        *error = 2;
        return 0;
    }
    hid_t obj2 = H5Rdereference2(container2, H5P_DEFAULT, H5R_OBJECT, e2);
    if (obj2 < 0) {
        report_reference_leading_nowhere(container2, "object", options, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rdereference2 object 2 failed");
        *error = 2;
        H5Oclose(obj1);
        return 0;
    }
    // A subset names elements of the dataset holding the references, not of
    // the datasets they lead to: those are compared whole.
    copy->subsets[0] = nullptr;
    copy->subsets[1] = nullptr;
    const nfound_t found = diff_datasetid(obj1, obj2, options->object_names[0], options->object_names[1], copy);
    if (H5Oclose(obj2) < 0) {
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Oclose H5T_STD_REF_OBJ 2 failed");
        *error = 2;
    }
    if (H5Oclose(obj1) < 0) {
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Oclose H5T_STD_REF_OBJ 1 failed");
        *error = 2;
    }
    return found;
}

nfound_t diff_reference_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                              diff_options *options, hid_t container1, hid_t container2, size_t size)
{
    const bool null1 = all_zero(e1, size);
    const bool null2 = all_zero(e2, size);
    if (null1 != null2)
        return 1;
    if (null1)
        return 0;
    // The referenced objects are compared on a copy: their comparison
    // rewrites the working fields describing the current buffers.
    diff_options copy = *options;
    copy.object_names[0] = nullptr;
    copy.object_names[1] = nullptr;
    int error = 0;
    nfound_t found = 0;
    if (size == sizeof(hdset_reg_ref_t))
        found = diff_region_reference(e1, e2, elem_idx, &copy, container1, container2, &error);
    else if (size == sizeof(hobj_ref_t))
        found = diff_object_reference(e1, e2, elem_idx, options, &copy, container1, container2, &error);
    options->header_pending = copy.header_pending;
    options->not_comparable = copy.not_comparable;
    options->error_status |= copy.error_status | error;
    return found;
}

nfound_t datum_compare(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx, diff_options *options,
                       hid_t container1, hid_t container2, const member_types *m);

// Compares element pairs of a member or base type, with options->mem_type_id
// switched to that type for the duration.
struct type_switch {
    diff_options *options;
    hid_t saved;
    type_switch(diff_options *o, hid_t type) : options(o), saved(o->mem_type_id) { o->mem_type_id = type; }
    ~type_switch() { options->mem_type_id = saved; }
    type_switch(const type_switch &) = delete;
    type_switch &operator=(const type_switch &) = delete;
};

nfound_t datum_compare(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx, diff_options *options,
                       hid_t container1, hid_t container2, const member_types *m)
{
    if (m == nullptr) {
        // No record (one could not be built): collect one for this element.
        member_types local{};
        collect_member_types(options->mem_type_id, &local);
        const nfound_t found = datum_compare(e1, e2, elem_idx, options, container1, container2, &local);
        release_member_types(&local);
        return found;
    }
    const int cls = m->type_class;
    const size_t size = m->size;
    // Equal bytes mean equal values except where the bytes are pointers or
    // references (fixed-length strings are safe to skip too).
    const bool fixed_string = cls == H5T_STRING && !m->is_variable_str;
    if ((!always_examined(cls) || fixed_string) && std::memcmp(e1, e2, size) == 0)
        return 0;

    int error = 0;
    nfound_t found = 0;
    switch (cls) {
    case H5T_INTEGER: found = diff_integer_datum(e1, e2, elem_idx, options, m, &error); break;
    case H5T_FLOAT: found = diff_float_datum(e1, e2, elem_idx, options, size); break;
    case H5T_STRING: found = diff_string_datum(e1, e2, elem_idx, options, m); break;
    case H5T_BITFIELD:
    case H5T_OPAQUE: found = diff_bytes_datum(e1, e2, elem_idx, options, size); break;
    case H5T_COMPOUND:
        for (uint32_t i = 0; i < m->count; ++i) {
            type_switch member(options, m->type_ids[i]);
            found += datum_compare(e1 + m->offsets[i], e2 + m->offsets[i], elem_idx, options, container1,
                                   container2, m->nested[i]);
        }
        break;
    case H5T_ARRAY: {
        type_switch base(options, m->base_id);
        for (uint64_t k = 0; k < m->base_count; ++k)
            found += datum_compare(e1 + k * m->base_size, e2 + k * m->base_size, elem_idx, options, container1,
                                   container2, m->base);
        break;
    }
    case H5T_VLEN: {
        hvl_t v1, v2;
        std::memcpy(&v1, e1, sizeof v1);
        std::memcpy(&v2, e2, sizeof v2);
        // Sequences of different lengths are one difference; the elements
        // both have are compared (never reading past the shorter one).
        const size_t len = v1.len < v2.len ? v1.len : v2.len;
        if (v1.len != v2.len)
            found = 1;
        if (len > 0 && v1.p && v2.p) {
            type_switch base(options, m->base_id);
            const auto *p1 = static_cast<const unsigned char *>(v1.p);
            const auto *p2 = static_cast<const unsigned char *>(v2.p);
            for (size_t k = 0; k < len; ++k)
                found += datum_compare(p1 + k * m->base_size, p2 + k * m->base_size, elem_idx, options,
                                       container1, container2, m->base);
        }
        break;
    }
    case H5T_ENUM: found = diff_enum_datum(e1, e2, elem_idx, options, size); break;
    case H5T_REFERENCE:
        found = diff_reference_datum(e1, e2, elem_idx, options, container1, container2, size);
        break;
    default:
        ZARN_PUSH_ERROR(zarn_err_minor, "Invalid type class");
        error = 2;
        break;
    }
    options->error_status |= error;
    return found;
}

} // namespace

void collect_member_types(hid_t type, member_types *record)
{
    if (type <= 0 || record == nullptr)
        return;
    record->base_id = -1;
    record->type_class = H5Tget_class(type);
    record->size = H5Tget_size(type);
    switch (record->type_class) {
    case H5T_INTEGER: record->sign = H5Tget_sign(type); break;
    case H5T_STRING:
        record->str_pad = H5Tget_strpad(type);
        record->is_variable_str = H5Tis_variable_str(type) > 0;
        break;
    case H5T_ARRAY:
    case H5T_VLEN: {
        record->base_id = H5Tget_super(type);
        if (record->base_id < 0)
            break;
        record->base_size = H5Tget_size(record->base_id);
        record->base_count = 1;
        if (record->type_class == H5T_ARRAY) {
            const int ndims = H5Tget_array_ndims(type);
            hsize_t dims[H5S_MAX_RANK];
            if (ndims > 0 && ndims <= H5S_MAX_RANK && H5Tget_array_dims2(type, dims) >= 0)
                for (int i = 0; i < ndims; ++i)
                    record->base_count *= dims[i];
        }
        record->base = static_cast<member_types *>(std::calloc(1, sizeof(member_types)));
        collect_member_types(record->base_id, record->base);
        break;
    }
    case H5T_COMPOUND: {
        const int n = H5Tget_nmembers(type);
        if (n <= 0)
            break;
        record->type_ids = static_cast<hid_t *>(std::calloc(n, sizeof(hid_t)));
        record->offsets = static_cast<size_t *>(std::calloc(n, sizeof(size_t)));
        record->nested = static_cast<member_types **>(std::calloc(n, sizeof(member_types *)));
        if (!record->type_ids || !record->offsets || !record->nested) {
            release_member_types(record);
            record->type_class = H5T_COMPOUND;
            break;
        }
        record->count = static_cast<uint32_t>(n);
        for (int i = 0; i < n; ++i) {
            record->type_ids[i] = H5Tget_member_type(type, static_cast<unsigned>(i));
            record->offsets[i] = H5Tget_member_offset(type, static_cast<unsigned>(i));
            record->nested[i] = static_cast<member_types *>(std::calloc(1, sizeof(member_types)));
            collect_member_types(record->type_ids[i], record->nested[i]);
        }
        break;
    }
    default: break;
    }
}

void release_member_types(member_types *record)
{
    if (record == nullptr)
        return;
    for (uint32_t i = 0; i < record->count; ++i) {
        if (record->nested && record->nested[i]) {
            release_member_types(record->nested[i]);
            std::free(record->nested[i]);
        }
        if (record->type_ids && record->type_ids[i] > 0)
            H5Tclose(record->type_ids[i]);
    }
    std::free(record->type_ids);
    std::free(record->offsets);
    std::free(record->nested);
    if (record->base) {
        release_member_types(record->base);
        std::free(record->base);
    }
    if (record->base_id > 0)
        H5Tclose(record->base_id);
    *record = member_types{};
}

nfound_t diff_array(void *buf1, void *buf2, diff_options *options, hid_t container1, hid_t container2)
{
    options->header_pending = 1;
    const hid_t type = options->mem_type_id;
    const size_t size = H5Tget_size(type);
    const H5T_class_t cls = H5Tget_class(type);
    uint64_t count = options->block_element_count;
    if (size == 0 || cls == H5T_NO_CLASS) {
        ZARN_PUSH_ERROR(zarn_err_minor, "Invalid type class");
        options->error_status |= 2;
        return 0;
    }
    if (count == 0)
        return 0;

    if (!always_examined(cls)) {
        if (std::memcmp(buf1, buf2, size * count) == 0)
            return 0;
        if (cls == H5T_INTEGER || cls == H5T_FLOAT)
            return diff_native_buffer(type, cls, buf1, buf2, count, options);
        if (cls == H5T_TIME)
            return 0;
    }

    uint64_t limit = UINT64_MAX;
    if (options->count_mode) {
        limit = options->count_limit;
        if (limit == 0)
            count = 1; // the limit is checked after each element, so one is compared
    }
    member_types members{};
    collect_member_types(type, &members);
    const auto *p1 = static_cast<const unsigned char *>(buf1);
    const auto *p2 = static_cast<const unsigned char *>(buf2);
    nfound_t found = 0;
    for (uint64_t i = 0; i < count; ++i) {
        found += datum_compare(p1 + i * size, p2 + i * size, i, options, container1, container2, &members);
        if (found >= limit)
            break;
    }
    release_member_types(&members);
    return found;
}

nfound_t diff_datum(void *elem1, void *elem2, uint64_t elem_idx, diff_options *options, hid_t container1,
                    hid_t container2, member_types *members)
{
    return datum_compare(static_cast<const unsigned char *>(elem1), static_cast<const unsigned char *>(elem2),
                         elem_idx, options, container1, container2, members);
}

nfound_t diff_region(hid_t obj1, hid_t obj2, hid_t region1, hid_t region2, diff_options *options)
{
    const int rank1 = H5Sget_simple_extent_ndims(region1);
    const int rank2 = H5Sget_simple_extent_ndims(region2);
    hssize_t nblocks1, nblocks2, npoints1, npoints2;
    {
        h5_errors_off quiet;
        nblocks1 = H5Sget_select_hyper_nblocks(region1);
        nblocks2 = H5Sget_select_hyper_nblocks(region2);
        npoints1 = H5Sget_select_elem_npoints(region1);
        npoints2 = H5Sget_select_elem_npoints(region2);
    }
    if (nblocks1 != nblocks2 || npoints1 != npoints2 || rank1 != rank2) {
        options->not_comparable = 1;
        return 0;
    }
    const int rank = rank1;
    if (rank <= 0)
        return 0; // a region of a scalar space selects no blocks or points
    const auto r = static_cast<uint64_t>(rank);

    uint64_t block_total = 0;
    if (nblocks1 >= 1) {
        const auto nb = static_cast<uint64_t>(nblocks1);
        const size_t bytes = nb * 2 * r * sizeof(hsize_t);
        hsize_buffer list1(static_cast<hsize_t *>(std::malloc(bytes)));
        hsize_buffer list2(static_cast<hsize_t *>(std::malloc(bytes)));
        if (!list1 || !list2) {
            ZARN_PUSH_ERROR(zarn_info_minor, "Buffer allocation failed");
            options->error_status |= 2;
        } else if (H5Sget_select_hyper_blocklist(region1, 0, nb, list1.get()) < 0 ||
                   H5Sget_select_hyper_blocklist(region2, 0, nb, list2.get()) < 0) {
            options->error_status |= 2;
        } else {
            for (uint64_t b = 0; b < nb; ++b)
                for (uint64_t d = 0; d < r; ++d) {
                    const uint64_t s = b * 2 * r + d;
                    if (list1[s] != list2[s] || list1[s + r] != list2[s + r])
                        ++block_total;
                }
            if (block_total != 0 && options->verbose_mode) {
                H5O_info_t info1{}, info2{};
                {
                    h5_errors_off quiet;
                    (void)H5Oget_info2(obj1, &info1, H5O_INFO_BASIC);
                    (void)H5Oget_info2(obj2, &info2, H5O_INFO_BASIC);
                }
                zarn_buffered_print("Referenced dataset      %lu            %lu\n",
                                    static_cast<unsigned long>(info1.addr), static_cast<unsigned long>(info2.addr));
                zarn_buffered_print("------------------------------------------------------------\n");
                zarn_buffered_print("Region blocks\n");
                for (uint64_t b = 0; b < nb; ++b) {
                    zarn_buffered_print("block #%d", static_cast<int>(b));
                    print_block_corners(b, list1.get(), rank);
                    print_block_corners(b, list2.get(), rank);
                    zarn_buffered_print("\n");
                }
            }
        }
    }

    uint64_t point_total = 0;
    if (npoints1 >= 1) {
        const auto np = static_cast<uint64_t>(npoints1);
        const size_t bytes = np * r * sizeof(hsize_t);
        hsize_buffer list1(static_cast<hsize_t *>(std::malloc(bytes)));
        hsize_buffer list2(static_cast<hsize_t *>(std::malloc(bytes)));
        if (!list1 || !list2) {
            ZARN_PUSH_ERROR(zarn_info_minor, "Buffer allocation failed");
            options->error_status |= 2;
        } else if (H5Sget_select_elem_pointlist(region1, 0, np, list1.get()) < 0 ||
                   H5Sget_select_elem_pointlist(region2, 0, np, list2.get()) < 0) {
            options->error_status |= 2;
        } else {
            for (uint64_t i = 0; i < np * r; ++i)
                if (list1[i] != list2[i])
                    ++point_total;
            if (point_total != 0 && options->verbose_mode) {
                zarn_buffered_print("Region points\n");
                for (uint64_t p = 0; p < np; ++p) {
                    const hsize_t *c1 = list1.get() + p * r;
                    const hsize_t *c2 = list2.get() + p * r;
                    if (std::memcmp(c1, c2, r * sizeof(hsize_t)) == 0)
                        continue;
                    zarn_buffered_print("point #%d", static_cast<int>(p));
                    zarn_buffered_print("              (");
                    for (uint64_t d = 0; d < r; ++d)
                        zarn_buffered_print(d ? ",%llu" : "%llu", c1[d]);
                    zarn_buffered_print(")              (");
                    for (uint64_t d = 0; d < r; ++d)
                        zarn_buffered_print(d ? ",%llu" : "%llu", c2[d]);
                    zarn_buffered_print(")\n");
                }
            }
        }
    }
    return block_total / r + point_total / r;
}
