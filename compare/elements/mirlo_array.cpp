// Element-by-element comparison of two buffers: native numeric buffers go
// through the per-type loops of mirlo_numeric.hpp; every other type is
// compared element by element by diff_datum, which recurses through compound
// members, array elements and variable-length sequences, and compares
// strings, enums, bitfields, opaque values and references.
#define ZARN_SOURCE "mirlo_array"
#include "mirlo_array.hpp"

#include "h5_handle.hpp"
#include "mirlo_reference.hpp"
#include "mirlo_numeric.hpp"
#include "mirlo_report.hpp"
#include "mirlo_stats.hpp"
#include "zarn.hpp"

#include <cstring>

namespace {

// A NaN counts against itself: equal bytes of floating-point data may still
// differ.
bool nan_differs_from_itself(const pair_rule &rule)
{
    return !rule.detect_nans && rule.system_epsilon_mode;
}

bool always_examined(int cls)
{
    return cls == H5T_STRING || cls == H5T_COMPOUND || cls == H5T_REFERENCE || cls == H5T_VLEN;
}

// Runs the loop of the native numeric type equal to type over the buffers;
// 0 for a type that is no native one.
nfound_t diff_native_buffer(hid_t type, int cls, const void *buf1, const void *buf2, uint64_t count,
                            pair_context *ctx)
{
    if (cls == H5T_INTEGER) {
        if (H5Tequal(type, H5T_NATIVE_SCHAR) > 0)
            return numeric_diff_buffer<signed char>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_UCHAR) > 0)
            return numeric_diff_buffer<unsigned char>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_SHORT) > 0)
            return numeric_diff_buffer<short>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_USHORT) > 0)
            return numeric_diff_buffer<unsigned short>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_INT) > 0)
            return numeric_diff_buffer<int>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_UINT) > 0)
            return numeric_diff_buffer<unsigned>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_LONG) > 0)
            return numeric_diff_buffer<long>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_ULONG) > 0)
            return numeric_diff_buffer<unsigned long>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_LLONG) > 0)
            return numeric_diff_buffer<long long>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_ULLONG) > 0)
            return numeric_diff_buffer<unsigned long long>(buf1, buf2, count, ctx);
    } else if (cls == H5T_FLOAT) {
        if (H5Tequal(type, H5T_NATIVE_FLOAT) > 0)
            return numeric_diff_buffer<float>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_DOUBLE) > 0)
            return numeric_diff_buffer<double>(buf1, buf2, count, ctx);
        if (H5Tequal(type, H5T_NATIVE_LDOUBLE) > 0)
            return numeric_diff_buffer<long double>(buf1, buf2, count, ctx);
    }
    return 0;
}

nfound_t diff_integer_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                            pair_context *ctx, const member_types *m, int *error)
{
    const bool is_unsigned = m->sign == H5T_SGN_NONE;
    switch (m->size) {
    case 1:
        return is_unsigned ? diff_uchar_elem(e1, e2, elem_idx, ctx) : diff_schar_elem(e1, e2, elem_idx, ctx);
    case 2:
        return is_unsigned ? diff_ushort_elem(e1, e2, elem_idx, ctx)
                           : diff_short_elem(e1, e2, elem_idx, ctx);
    case 4:
        return is_unsigned ? diff_uint_elem(e1, e2, elem_idx, ctx) : diff_int_elem(e1, e2, elem_idx, ctx);
    case 8:
        return is_unsigned ? diff_ulong_elem(e1, e2, elem_idx, ctx) : diff_long_elem(e1, e2, elem_idx, ctx);
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
                          pair_context *ctx, size_t size)
{
    if (size == sizeof(long double))
        return diff_ldouble_elem(e1, e2, elem_idx, ctx);
    if (size == sizeof(double))
        return diff_double_elem(e1, e2, elem_idx, ctx);
    if (size == sizeof(float))
        return diff_float_elem(e1, e2, elem_idx, ctx);
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
                           pair_context *ctx, const member_types *m)
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
            found += diff_char_pair(s1.chars + k, s2.chars + k, elem_idx, k, ctx);
        return found;
    }
    // Same first n characters, different lengths: list the positions past the
    // end of the shorter string, shown there as a NUL, without counting them.
    if (!rows_printed(*ctx->settings))
        return found;
    const unsigned char nul = '\0';
    const size_t longer = s1.length > s2.length ? s1.length : s2.length;
    for (size_t k = n; k < longer; ++k) {
        if (s1.length > s2.length)
            (void)diff_char_pair(s1.chars + k, &nul, elem_idx, k, ctx);
        else
            (void)diff_char_pair(&nul, s2.chars + k, elem_idx, k, ctx);
    }
    return found;
}

nfound_t diff_bytes_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                          pair_context *ctx, size_t size)
{
    nfound_t found = 0;
    for (size_t k = 0; k < size; ++k)
        found += diff_byte_elem(e1 + k, e2 + k, elem_idx, ctx);
    return found;
}

nfound_t diff_enum_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                         pair_context *ctx, const member_types *m)
{
    constexpr size_t NAME_SIZE = 1024;
    char name1[NAME_SIZE];
    char name2[NAME_SIZE];
    bool ok1, ok2;
    {
        h5_errors_off quiet;
        ok1 = H5Tenum_nameof(m->id, e1, name1, NAME_SIZE) >= 0;
        ok2 = H5Tenum_nameof(m->id, e2, name2, NAME_SIZE) >= 0;
    }
    if (!ok1)
        std::strcpy(name1, "**INVALID VALUE**");
    if (!ok2)
        std::strcpy(name2, "**INVALID VALUE**");
    name1[NAME_SIZE - 1] = '\0';
    name2[NAME_SIZE - 1] = '\0';
    if (ok1 && ok2 && std::strcmp(name1, name2) == 0)
        return diff_bytes_datum(e1, e2, elem_idx, ctx, m->size);
    ctx->relative_header = false;
    print_position(ctx, elem_idx, 0);
    if (rows_printed(*ctx->settings))
        output_print(ctx->out, "%-16s %-17s\n", name1, name2);
    return 1;
}


} // namespace

bool equal_bytes_are_equal_values(const pair_rule &rule, hid_t type)
{
    if ((rule.delta_mode && rule.delta < 0) || (rule.relative_mode && rule.relative < 0))
        return false;
    if (H5Tdetect_class(type, H5T_REFERENCE) != 0 || H5Tdetect_class(type, H5T_VLEN) != 0)
        return false;
    return !(nan_differs_from_itself(rule) && H5Tdetect_class(type, H5T_FLOAT) != 0);
}

nfound_t diff_datum(const void *elem1, const void *elem2, uint64_t elem_idx, pair_context *ctx, hid_t container1,
                    hid_t container2, const member_types *m)
{
    if (m == nullptr) {
        // No record (the caller has none, or one could not be built):
        // collect one for this element.
        member_types local;
        collect_member_types(ctx->mem_type_id, &local);
        return diff_datum(elem1, elem2, elem_idx, ctx, container1, container2, &local);
    }
    const auto *e1 = static_cast<const unsigned char *>(elem1);
    const auto *e2 = static_cast<const unsigned char *>(elem2);
    const int cls = m->type_class;
    const size_t size = m->size;
    // Equal bytes mean equal values except where the bytes are pointers or
    // references (fixed-length strings are safe to skip too), or hold
    // floating-point values while a NaN counts against itself.
    const bool fixed_string = cls == H5T_STRING && !m->is_variable_str;
    const bool may_hold_nan = (cls == H5T_FLOAT || cls == H5T_ARRAY) && nan_differs_from_itself(ctx->rule);
    if ((!always_examined(cls) || fixed_string) && !may_hold_nan && std::memcmp(e1, e2, size) == 0)
        return 0;

    int error = 0;
    nfound_t found = 0;
    switch (cls) {
    case H5T_INTEGER: found = diff_integer_datum(e1, e2, elem_idx, ctx, m, &error); break;
    case H5T_FLOAT: found = diff_float_datum(e1, e2, elem_idx, ctx, size); break;
    case H5T_STRING: found = diff_string_datum(e1, e2, elem_idx, ctx, m); break;
    case H5T_BITFIELD:
    case H5T_OPAQUE: found = diff_bytes_datum(e1, e2, elem_idx, ctx, size); break;
    case H5T_COMPOUND:
        for (const member_types::member &member : m->members)
            found += diff_datum(e1 + member.offset, e2 + member.offset, elem_idx, ctx, container1, container2,
                                &member.record);
        break;
    case H5T_ARRAY: {
        for (uint64_t k = 0; k < m->base_count; ++k)
            found += diff_datum(e1 + k * m->base_size, e2 + k * m->base_size, elem_idx, ctx, container1,
                                container2, m->base.get());
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
            const auto *p1 = static_cast<const unsigned char *>(v1.p);
            const auto *p2 = static_cast<const unsigned char *>(v2.p);
            for (size_t k = 0; k < len; ++k)
                found += diff_datum(p1 + k * m->base_size, p2 + k * m->base_size, elem_idx, ctx, container1,
                                    container2, m->base.get());
        }
        break;
    }
    case H5T_ENUM: found = diff_enum_datum(e1, e2, elem_idx, ctx, m); break;
    case H5T_REFERENCE:
        found = diff_reference_datum(e1, e2, elem_idx, ctx, container1, container2, size);
        break;
    default:
        ZARN_PUSH_ERROR(zarn_err_minor, "Invalid type class");
        error = 2;
        break;
    }
    ctx->outcome->status |= error;
    return found;
}


namespace {

// Elements a native numeric loop looked at: all of them, unless the count
// limit stopped it at the difference noted last (one element at a limit of 0).
uint64_t native_examined(const pair_context *ctx, uint64_t count, nfound_t found, const diff_stats *stats)
{
    if (!ctx->rule.count_mode)
        return count;
    if (ctx->count_left == 0)
        return count < 1 ? count : 1;
    return found >= ctx->count_left ? stats->last_index + 1 : count;
}

// diff_array's comparison. With stats (the outermost buffer comparison of an
// object whose statistics are gathered) the differences are noted and
// *examined receives the number of elements looked at.
nfound_t compare_array(void *buf1, void *buf2, pair_context *ctx, hid_t container1, hid_t container2,
                       diff_stats *stats, uint64_t *examined, bool new_table)
{
    if (new_table)
        ctx->header_pending = true;
    const hid_t type = ctx->mem_type_id;
    const size_t size = H5Tget_size(type);
    const H5T_class_t cls = H5Tget_class(type);
    uint64_t count = ctx->block_element_count;
    if (size == 0 || cls == H5T_NO_CLASS) {
        ZARN_PUSH_ERROR(zarn_err_minor, "Invalid type class");
        ctx->outcome->status |= 2;
        return 0;
    }
    if (count == 0)
        return 0;

    if (!always_examined(cls)) {
        if (equal_bytes_are_equal_values(ctx->rule, type) && std::memcmp(buf1, buf2, size * count) == 0) {
            if (stats)
                *examined = count;
            return 0;
        }
        if (cls == H5T_INTEGER || cls == H5T_FLOAT) {
            if (stats == nullptr)
                return diff_native_buffer(type, cls, buf1, buf2, count, ctx);
            stats->native = true;
            const nfound_t found = diff_native_buffer(type, cls, buf1, buf2, count, ctx);
            stats->native = false;
            *examined = native_examined(ctx, count, found, stats);
            return found;
        }
        if (cls == H5T_TIME)
            return 0;
    }

    uint64_t limit = UINT64_MAX;
    if (ctx->rule.count_mode) {
        limit = ctx->count_left;
        if (limit == 0)
            count = 1; // the limit is checked after each element, so one is compared
    }
    member_types members;
    collect_member_types(type, &members);
    const auto *p1 = static_cast<const unsigned char *>(buf1);
    const auto *p2 = static_cast<const unsigned char *>(buf2);
    nfound_t found = 0;
    uint64_t i = 0;
    while (i < count) {
        const nfound_t n = diff_datum(p1 + i * size, p2 + i * size, i, ctx, container1, container2, &members);
        if (n != 0 && stats != nullptr) [[unlikely]]
            stats_note_element(stats, ctx, i);
        found += n;
        ++i;
        if (found >= limit)
            break;
    }
    if (stats)
        *examined = i;
    return found;
}

} // namespace

namespace {

nfound_t diff_table(void *buf1, void *buf2, pair_context *ctx, hid_t container1, hid_t container2,
                    bool new_table)
{
    diff_stats *const stats = ctx->stats;
    if (stats == nullptr || stats->depth > 0)
        return compare_array(buf1, buf2, ctx, container1, container2, nullptr, nullptr, new_table);
    uint64_t examined = 0;
    stats->unit = stat_unit_of_class(H5Tget_class(ctx->mem_type_id));
    ++stats->depth;
    const nfound_t found = compare_array(buf1, buf2, ctx, container1, container2, stats, &examined, new_table);
    --stats->depth;
    stats->elements += examined;
    return found;
}

} // namespace

nfound_t diff_array(void *buf1, void *buf2, pair_context *ctx, hid_t container1, hid_t container2)
{
    return diff_table(buf1, buf2, ctx, container1, container2, true);
}

nfound_t diff_array_continued(void *buf1, void *buf2, pair_context *ctx, hid_t container1,
                              hid_t container2)
{
    return diff_table(buf1, buf2, ctx, container1, container2, false);
}
