// The storage of a dataset read from its creation properties.
#define ZARN_SOURCE "mirlo_storage"
#include "mirlo_storage.hpp"
#include "h5_handle.hpp"
#include "mirlo_output.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"
#include "zarn_filters.hpp"

#include <cstddef>
#include <cstdio>
#include <vector>

namespace {

const char *layout_word(H5D_layout_t layout)
{
    switch (layout) {
    case H5D_COMPACT: return "compact";
    case H5D_CONTIGUOUS: return "contiguous";
    case H5D_CHUNKED: return "chunked";
    case H5D_VIRTUAL: return "virtual";
    default: return "unknown";
    }
}

bool read_filters(hid_t dcpl, std::vector<storage_filter> *filters)
{
    std::vector<zarn_filter> pipeline;
    if (!zarn_read_filters(dcpl, &pipeline))
        return false;
    for (zarn_filter &f : pipeline)
        filters->push_back({static_cast<int32_t>(f.id), std::move(f.name), {f.values.begin(), f.values.end()}});
    return true;
}

// A user-defined fill value in words: integers and floating-point values as
// numbers, anything else as the hexadecimal bytes of its native form.
bool fill_value_text(hid_t dcpl, hid_t ftype, std::string *text)
{
    const H5T_class_t cls = H5Tget_class(ftype);
    char word[64];
    if (cls == H5T_INTEGER && H5Tget_sign(ftype) == H5T_SGN_2) {
        long long v = 0;
        if (H5Pget_fill_value(dcpl, H5T_NATIVE_LLONG, &v) < 0)
            return false;
        std::snprintf(word, sizeof word, "%lld", v);
        *text = word;
        return true;
    }
    if (cls == H5T_INTEGER) {
        unsigned long long v = 0;
        if (H5Pget_fill_value(dcpl, H5T_NATIVE_ULLONG, &v) < 0)
            return false;
        std::snprintf(word, sizeof word, "%llu", v);
        *text = word;
        return true;
    }
    if (cls == H5T_FLOAT) {
        double v = 0;
        if (H5Pget_fill_value(dcpl, H5T_NATIVE_DOUBLE, &v) < 0)
            return false;
        std::snprintf(word, sizeof word, "%.*g", H5Tget_size(ftype) <= 4 ? 9 : 17, v);
        *text = word;
        return true;
    }
    // Variable-length values would come back as pointers into memory the
    // library allocates: only their presence is told.
    if (H5Tdetect_class(ftype, H5T_VLEN) > 0 || H5Tis_variable_str(ftype) > 0) {
        *text = "(variable length)";
        return true;
    }
    h5_datatype native(H5Tget_native_type(ftype, H5T_DIR_DEFAULT));
    if (!native.valid())
        return false;
    std::string bytes(H5Tget_size(native), '\0');
    if (bytes.empty() || H5Pget_fill_value(dcpl, native, bytes.data()) < 0)
        return false;
    *text = "0x";
    for (char b : bytes) {
        std::snprintf(word, sizeof word, "%02x", static_cast<unsigned char>(b));
        *text += word;
    }
    return true;
}

bool read_fill(hid_t dcpl, hid_t did, dataset_storage *storage)
{
    H5D_fill_value_t defined;
    if (H5Pfill_value_defined(dcpl, &defined) < 0)
        return false;
    if (defined == H5D_FILL_VALUE_UNDEFINED) {
        storage->fill_source = "undefined";
        return true;
    }
    if (defined == H5D_FILL_VALUE_DEFAULT) {
        storage->fill_source = "default";
        storage->fill_value = "0";
        return true;
    }
    storage->fill_source = "user";
    h5_datatype ftype(H5Dget_type(did));
    return ftype.valid() && fill_value_text(dcpl, ftype, &storage->fill_value);
}

} // namespace

int read_dataset_storage(hid_t did, dataset_storage *storage)
{
    *storage = dataset_storage();
    h5_errors_off quiet;
    h5_plist dcpl(H5Dget_create_plist(did));
    if (!dcpl.valid()) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_create_plist failed");
        return -1;
    }
    const H5D_layout_t layout = H5Pget_layout(dcpl);
    if (layout < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Pget_layout failed");
        return -1;
    }
    storage->layout = layout_word(layout);
    if (layout == H5D_CHUNKED) {
        hsize_t dims[H5S_MAX_RANK];
        const int rank = H5Pget_chunk(dcpl, H5S_MAX_RANK, dims);
        if (rank < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pget_chunk failed");
            return -1;
        }
        storage->chunk.assign(dims, dims + rank);
    }
    if (!read_filters(dcpl, &storage->filters) || !read_fill(dcpl, did, storage)) {
        ZARN_PUSH_ERROR(zarn_err_minor, "the filters or the fill value cannot be read");
        return -1;
    }
    return 0;
}

std::string storage_text(const dataset_storage &s)
{
    std::string text = s.layout;
    if (!s.chunk.empty()) {
        text += " [";
        for (size_t i = 0; i < s.chunk.size(); ++i)
            text += (i > 0 ? "x" : "") + std::to_string(s.chunk[i]);
        text += ']';
    }
    text += s.filters.empty() ? ", no filters" : ", filters ";
    for (size_t i = 0; i < s.filters.size(); ++i) {
        const storage_filter &f = s.filters[i];
        if (i > 0)
            text += ", ";
        if (!f.name.empty())
            text += shown(f.name) + ' ';
        text += '(' + std::to_string(f.id) + ')';
        if (f.parameters.empty())
            continue;
        text += " {";
        for (size_t k = 0; k < f.parameters.size(); ++k)
            text += (k > 0 ? " " : "") + std::to_string(f.parameters[k]);
        text += '}';
    }
    text += ", fill value ";
    if (s.fill_source == "undefined")
        text += "undefined";
    else if (s.fill_source == "default")
        text += s.fill_value + " (default)";
    else
        text += s.fill_value;
    return text;
}

void print_storage_pair(output_sink *out, const dataset_storage storage[2], const char *path1, const char *path2)
{
    if (storage[0] == storage[1]) {
        output_print(out, "storage: %s\n", storage_text(storage[0]).c_str());
        return;
    }
    output_print(out, "Warning: different storage (not counted as a difference)\n");
    output_print(out, "<%s> storage: %s\n", shown(path1).c_str(), storage_text(storage[0]).c_str());
    output_print(out, "<%s> storage: %s\n", shown(path2).c_str(), storage_text(storage[1]).c_str());
}
