// The member-type record tree: one record per type, nested through compound
// members and the base types of arrays and variable-length sequences.
#include "mirlo_member_types.hpp"

#include <new>

void collect_member_types(hid_t type, member_types *record)
{
    if (record == nullptr)
        return;
    *record = member_types{};
    if (type <= 0)
        return;
    record->id = type;
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
        record->base_id.reset(H5Tget_super(type));
        if (!record->base_id.valid())
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
        record->base.reset(new (std::nothrow) member_types);
        if (record->base)
            collect_member_types(record->base_id, record->base.get());
        break;
    }
    case H5T_COMPOUND: {
        const int n = H5Tget_nmembers(type);
        if (n <= 0)
            break;
        try {
            record->members.resize(static_cast<size_t>(n));
        } catch (const std::bad_alloc &) {
            break;
        }
        for (int i = 0; i < n; ++i) {
            member_types::member &m = record->members[static_cast<size_t>(i)];
            m.type.reset(H5Tget_member_type(type, static_cast<unsigned>(i)));
            m.offset = H5Tget_member_offset(type, static_cast<unsigned>(i));
            collect_member_types(m.type, &m.record);
        }
        break;
    }
    default: break;
    }
}
