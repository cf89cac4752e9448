// The difference report: table header, position column, character rows of
// string comparisons, escaping, region blocks, and the small printers and
// labels used by the comparison messages.
#include "mirlo_report.hpp"

#include "h5_handle.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

template <class U> void print_extent_of(output_sink *out, int rank, const U *dims)
{
    if (rank <= 0) {
        output_print(out, "H5S_SCALAR");
        return;
    }
    if (dims == nullptr) {
        output_print(out, "dimension is NULL");
        return;
    }
    output_print(out, "[");
    for (int i = 0; i < rank; ++i)
        output_print(out, i ? "x%llu" : "%llu", static_cast<unsigned long long>(dims[i]));
    output_print(out, "]");
}

void print_table_header(const pair_context *ctx)
{
    const int rank = ctx->rank > MIRLO_MAX_RANK ? MIRLO_MAX_RANK : ctx->rank;
    output_print(ctx->out, "%-16s", "size:");
    print_extent_of(ctx->out, rank, ctx->dims);
    output_print(ctx->out, "%-11s", "");
    print_extent_of(ctx->out, rank, ctx->dims);
    output_print(ctx->out, "\n");
    const std::string printable1 = zarn_printable_name(ctx->object_names[0]);
    const std::string printable2 = zarn_printable_name(ctx->object_names[1]);
    const char *name1 = printable1.c_str();
    const char *name2 = printable2.c_str();
    if (ctx->relative_header) {
        output_print(ctx->out, "%-15s %-15s %-15s %-15s %-15s\n", "position", name1, name2, "difference",
                            "relative");
        output_print(ctx->out, "------------------------------------------------------------------------\n");
    } else {
        output_print(ctx->out, "%-15s %-15s %-15s %-20s\n", "position", name1, name2, "difference");
        output_print(ctx->out, "------------------------------------------------------------\n");
    }
}

// Linear offset, in the full extent and relative to the block start, of the
// element at elem_idx of a buffer read through the hyperslab selection of
// subset (start, stride, count, block per dimension). The selection's
// elements arrive in row-major order of their coordinates: along dimension i
// there are count x block of them, the s-th at start + (s / block) x stride +
// s % block. The outermost dimension is not bounded, so a buffer holding a run
// of whole selection rows (a strip of the subset) maps the same way.
uint64_t subset_linear_offset(uint64_t elem_idx, int rank, const subset_spec *subset, const uint64_t *dims)
{
    uint64_t offset = 0;
    uint64_t later_extent = 1; // product of dims of the dimensions after i
    for (int i = rank - 1; i >= 0; --i) {
        uint64_t stride = 1, count = 1, block = 1;
        if (static_cast<int>(subset->stride.count) > i && subset->stride.values)
            stride = subset->stride.values[i];
        if (static_cast<int>(subset->count.count) > i && subset->count.values)
            count = subset->count.values[i];
        if (static_cast<int>(subset->block.count) > i && subset->block.values)
            block = subset->block.values[i];
        if (block == 0)
            block = 1;
        uint64_t s = elem_idx;
        if (i > 0) {
            const uint64_t extent = count * block; // selected elements along dimension i
            if (extent == 0)
                return 0;
            s = elem_idx % extent;
            elem_idx /= extent;
        }
        const uint64_t coord = (s / block) * stride + s % block;
        offset += coord * later_extent;
        later_extent *= dims[i];
    }
    return offset;
}

// element_position for a rank between 1 and MIRLO_MAX_RANK; inline in the
// row printer, which runs once per difference in report mode.
inline void map_position(const pair_context *ctx, int rank, uint64_t elem_idx, uint64_t *position)
{
    uint64_t p = elem_idx;
    const subset_spec *subset = ctx->subset;
    if (subset != nullptr && elem_idx != 0)
        p = subset_linear_offset(elem_idx, rank, subset, ctx->dims);
    index_to_position(rank, p, ctx->accumulators, position);
    for (int i = 0; i < rank; ++i)
        position[i] += ctx->block_start[i];
}

std::string format_reason(const char *fmt, va_list ap)
{
    char reason[1024];
    std::vsnprintf(reason, sizeof reason, fmt, ap);
    return reason;
}

void emit_failure(const char *file, const char *object, const std::string &reason)
{
    zarn_error_msg("<%s>: <%s>: %s\n", zarn_printable_name(file).c_str(), zarn_printable_name(object).c_str(),
                   reason.c_str());
}

// A name the library keeps for an identifier (file, path, attribute name);
// empty when it has none.
template <class Get> std::string name_of(hid_t id, Get get)
{
    h5_errors_off quiet;
    const ssize_t n = get(id, nullptr, 0);
    if (n <= 0)
        return {};
    std::string name(static_cast<size_t>(n) + 1, '\0');
    if (get(id, name.data(), name.size()) < 0)
        return {};
    name.resize(std::strlen(name.c_str()));
    return name;
}

} // namespace

std::string shown(const char *name)
{
    return name != nullptr ? zarn_printable_name(name) : std::string();
}

std::string element_position_label(const pair_context *ctx, uint64_t elem_idx)
{
    const int rank = ctx->rank > MIRLO_MAX_RANK ? MIRLO_MAX_RANK : ctx->rank;
    if (rank <= 0)
        return {};
    uint64_t coords[MIRLO_MAX_RANK];
    element_position(ctx, elem_idx, coords);
    std::string label = "[ ";
    for (int i = 0; i < rank; ++i)
        label += std::to_string(coords[i]) + " ";
    return label + "]";
}

void print_failure_in(hid_t loc, const char *path, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const std::string reason = format_reason(fmt, ap);
    va_end(ap);
    emit_failure(name_of(loc, H5Fget_name).c_str(), path, reason);
}

void print_failure_of(hid_t id, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string reason = format_reason(fmt, ap);
    va_end(ap);
    if (H5Iget_type(id) == H5I_ATTR) {
        const std::string attribute =
            name_of(id, [](hid_t a, char *buf, size_t size) { return H5Aget_name(a, size, buf); });
        reason = "attribute <" + zarn_printable_name(attribute.c_str()) + ">: " + reason;
    }
    // An attribute's path is that of the object it belongs to.
    emit_failure(name_of(id, H5Fget_name).c_str(), name_of(id, H5Iget_name).c_str(), reason);
}

void print_position(pair_context *ctx, uint64_t elem_idx, size_t char_idx)
{
    if (!rows_printed(*ctx->settings))
        return;
    if (ctx->header_pending) {
        ctx->header_pending = false;
        print_table_header(ctx);
    }
    const int rank = ctx->rank > MIRLO_MAX_RANK ? MIRLO_MAX_RANK : ctx->rank;
    if (rank <= 0) {
        if (ctx->index_pending) {
            output_print(ctx->out, "[ %zu]", char_idx);
            ctx->index_pending = false;
        } else {
            output_print(ctx->out, "      ");
        }
        output_print(ctx->out, "          ");
        return;
    }
    map_position(ctx, rank, elem_idx, ctx->position);
    output_print(ctx->out, "[ ");
    for (int i = 0; i < rank; ++i)
        output_print(ctx->out, "%llu ", static_cast<unsigned long long>(ctx->position[i]));
    output_print(ctx->out, "]          ");
    // The character index is shown only for rank 0; drop the request here so
    // it cannot reach a later row of a scalar object.
    ctx->index_pending = false;
}

void element_position(const pair_context *ctx, uint64_t elem_idx, uint64_t *position)
{
    const int rank = ctx->rank > MIRLO_MAX_RANK ? MIRLO_MAX_RANK : ctx->rank;
    if (rank > 0)
        map_position(ctx, rank, elem_idx, position);
}

uint64_t index_to_position(int rank, uint64_t index, const uint64_t *accumulators, uint64_t *position)
{
    for (int i = 0; i < rank; ++i) {
        if (index == 0 || accumulators[i] == 0) {
            position[i] = 0;
        } else {
            position[i] = index / accumulators[i];
            index -= position[i] * accumulators[i];
        }
    }
    return index;
}

void init_accumulators(int rank, const uint64_t *dims, uint64_t *accumulators)
{
    if (rank <= 0)
        return;
    accumulators[rank - 1] = 1;
    for (int i = rank - 2; i >= 0; --i)
        accumulators[i] = accumulators[i + 1] * dims[i + 1];
}

nfound_t diff_char_pair(const unsigned char *c1, const unsigned char *c2, uint64_t elem_idx, size_t char_idx,
                        pair_context *ctx)
{
    if (*c1 == *c2)
        return 0;
    if (!rows_printed(*ctx->settings))
        return 1;
    ctx->relative_header = false;
    ctx->index_pending = true;
    print_position(ctx, elem_idx, char_idx);
    output_print(ctx->out, "  ");
    print_escaped_char(ctx->out, *c1);
    output_print(ctx->out, "            ");
    print_escaped_char(ctx->out, *c2);
    output_print(ctx->out, "\n");
    return 1;
}

void print_escaped_char(output_sink *out, int c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    switch (u) {
    case '\b': output_print(out, "\\b"); return;
    case '\t': output_print(out, "\\t"); return;
    case '\n': output_print(out, "\\n"); return;
    case '\f': output_print(out, "\\f"); return;
    case '\r': output_print(out, "\\r"); return;
    case '"': output_print(out, "\\\""); return;
    case '\\': output_print(out, "\\\\"); return;
    default: break;
    }
    if (u < 128 && isprint(u))
        output_print(out, "%c", u);
    else
        output_print(out, "\\%03o", u);
}

void print_block_corners(output_sink *out, uint64_t block, const hsize_t *coords, int rank)
{
    output_print(out, "        ");
    if (rank > 0) {
        const hsize_t *start = coords + block * 2 * static_cast<uint64_t>(rank);
        const hsize_t *end = start + rank;
        output_print(out, "%s%llu", "   (", start[0]);
        for (int i = 1; i < rank; ++i)
            output_print(out, "%s%llu", ",", start[i]);
        output_print(out, "%s%llu", ")-(", end[0]);
        for (int i = 1; i < rank; ++i)
            output_print(out, "%s%llu", ",", end[i]);
    }
    output_print(out, ")");
}

void print_extent(output_sink *out, int rank, const hsize_t *dims)
{
    print_extent_of(out, rank, dims);
}

namespace {

// A predefined datatype and its name.
struct named {
    hid_t id;
    const char *name;
};

// Prints the name of the first type in names equal to type, else unknown.
template <size_t N> void print_name_among(output_sink *out, hid_t type, const named (&names)[N], const char *unknown)
{
    for (const named &n : names)
        if (H5Tequal(type, n.id) > 0) {
            output_print(out, "%s", n.name);
            return;
        }
    output_print(out, "%s", unknown);
}

} // namespace

void print_file_type_name(output_sink *out, hid_t type)
{
    const H5T_class_t cls = H5Tget_class(type);
    if (cls == H5T_INTEGER) {
        const named names[] = {
            {H5T_STD_I8BE, "H5T_STD_I8BE"},       {H5T_STD_I8LE, "H5T_STD_I8LE"},
            {H5T_STD_I16BE, "H5T_STD_I16BE"},     {H5T_STD_I16LE, "H5T_STD_I16LE"},
            {H5T_STD_I32BE, "H5T_STD_I32BE"},     {H5T_STD_I32LE, "H5T_STD_I32LE"},
            {H5T_STD_I64BE, "H5T_STD_I64BE"},     {H5T_STD_I64LE, "H5T_STD_I64LE"},
            {H5T_STD_U8BE, "H5T_STD_U8BE"},       {H5T_STD_U8LE, "H5T_STD_U8LE"},
            {H5T_STD_U16BE, "H5T_STD_U16BE"},     {H5T_STD_U16LE, "H5T_STD_U16LE"},
            {H5T_STD_U32BE, "H5T_STD_U32BE"},     {H5T_STD_U32LE, "H5T_STD_U32LE"},
            {H5T_STD_U64BE, "H5T_STD_U64BE"},     {H5T_STD_U64LE, "H5T_STD_U64LE"},
            {H5T_NATIVE_SCHAR, "H5T_NATIVE_SCHAR"}, {H5T_NATIVE_UCHAR, "H5T_NATIVE_UCHAR"},
            {H5T_NATIVE_SHORT, "H5T_NATIVE_SHORT"}, {H5T_NATIVE_USHORT, "H5T_NATIVE_USHORT"},
            {H5T_NATIVE_INT, "H5T_NATIVE_INT"},   {H5T_NATIVE_UINT, "H5T_NATIVE_UINT"},
            {H5T_NATIVE_LONG, "H5T_NATIVE_LONG"}, {H5T_NATIVE_ULONG, "H5T_NATIVE_ULONG"},
            {H5T_NATIVE_LLONG, "H5T_NATIVE_LLONG"}, {H5T_NATIVE_ULLONG, "H5T_NATIVE_ULLONG"},
        };
        print_name_among(out, type, names, "undefined integer");
    } else if (cls == H5T_FLOAT) {
        const named names[] = {
            {H5T_IEEE_F32BE, "H5T_IEEE_F32BE"},       {H5T_IEEE_F32LE, "H5T_IEEE_F32LE"},
            {H5T_IEEE_F64BE, "H5T_IEEE_F64BE"},       {H5T_IEEE_F64LE, "H5T_IEEE_F64LE"},
            {H5T_NATIVE_FLOAT, "H5T_NATIVE_FLOAT"},   {H5T_NATIVE_DOUBLE, "H5T_NATIVE_DOUBLE"},
            {H5T_NATIVE_LDOUBLE, "H5T_NATIVE_LDOUBLE"},
        };
        print_name_among(out, type, names, "undefined float");
    } else if (cls == H5T_BITFIELD) {
        const named names[] = {
            {H5T_STD_B8BE, "H5T_STD_B8BE"},   {H5T_STD_B8LE, "H5T_STD_B8LE"},
            {H5T_STD_B16BE, "H5T_STD_B16BE"}, {H5T_STD_B16LE, "H5T_STD_B16LE"},
            {H5T_STD_B32BE, "H5T_STD_B32BE"}, {H5T_STD_B32LE, "H5T_STD_B32LE"},
            {H5T_STD_B64BE, "H5T_STD_B64BE"}, {H5T_STD_B64LE, "H5T_STD_B64LE"},
        };
        print_name_among(out, type, names, "undefined bitfield");
    }
}

const char *object_type_label(int type)
{
    switch (type) {
    case TREK_GROUP: return "H5G_GROUP";
    case TREK_DATASET: return "H5G_DATASET";
    case TREK_NAMED_DATATYPE: return "H5G_TYPE";
    case TREK_LINK: return "H5G_LINK";
    case TREK_UDLINK: return "H5G_UDLINK";
    default: return "unknown type";
    }
}

const char *sign_label(int sign)
{
    switch (sign) {
    case H5T_SGN_ERROR: return "H5T_SGN_ERROR";
    case H5T_SGN_NONE: return "H5T_SGN_NONE";
    case H5T_SGN_2: return "H5T_SGN_2";
    case H5T_NSGN: return "H5T_NSGN";
    default: return "unknown sign value";
    }
}

const char *class_label(int cls)
{
    switch (cls) {
    case H5T_INTEGER: return "H5T_INTEGER";
    case H5T_FLOAT: return "H5T_FLOAT";
    case H5T_TIME: return "H5T_TIME";
    case H5T_STRING: return "H5T_STRING";
    case H5T_BITFIELD: return "H5T_BITFIELD";
    case H5T_OPAQUE: return "H5T_OPAQUE";
    case H5T_COMPOUND: return "H5T_COMPOUND";
    case H5T_REFERENCE: return "H5T_REFERENCE";
    case H5T_ENUM: return "H5T_ENUM";
    case H5T_VLEN: return "H5T_VLEN";
    case H5T_ARRAY: return "H5T_ARRAY";
    default: return "Invalid class";
    }
}

void print_difference_count(output_sink *out, nfound_t n)
{
    output_print(out, "%llu differences found\n", static_cast<unsigned long long>(n));
}

const char *last_path_component(const char *path)
{
    if (path == nullptr)
        return nullptr;
    size_t end = strlen(path);
    while (end > 0 && path[end - 1] == '/')
        --end;
    if (end == 0)
        return path; // empty, or only slashes
    for (size_t i = end; i > 0; --i)
        if (path[i - 1] == '/')
            return path + i;
    return path;
}
