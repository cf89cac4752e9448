// Comparability tests: type classes, shapes, storage, signs, time members,
// and the native-size equaliser.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_comparable.hpp"
#include "h5_handle.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <string>

namespace {

// An extent as the reasons of the report give it: [3x4], or "scalar".
std::string extent_text(int rank, const hsize_t *dims)
{
    if (rank <= 0)
        return "scalar";
    std::string text = "[";
    for (int i = 0; i < rank; ++i) {
        if (i > 0)
            text += 'x';
        text += std::to_string(static_cast<unsigned long long>(dims[i]));
    }
    text += ']';
    return text;
}

} // namespace

bool comparable_messages_wanted(const pair_context *ctx)
{
    return ctx->settings->verbose_mode || ctx->settings->list_not_comparable;
}

int diff_can_type(hid_t f_tid1, hid_t f_tid2, int rank1, int rank2, const hsize_t *dims1, const hsize_t *dims2,
                  const hsize_t *maxdim1, const hsize_t *maxdim2, pair_context *ctx, bool in_compound)
{
    const bool names = ctx->object_names[0] != nullptr && ctx->object_names[1] != nullptr;
    const bool print = comparable_messages_wanted(ctx) && names;
    const std::string shown1 = shown(ctx->object_names[0]);
    const std::string shown2 = shown(ctx->object_names[1]);
    const char *obj1 = ctx->object_names[0] != nullptr ? shown1.c_str() : nullptr;
    const char *obj2 = ctx->object_names[1] != nullptr ? shown2.c_str() : nullptr;

    H5T_class_t cls1 = H5Tget_class(f_tid1);
    if (cls1 < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Tget_class first object failed");
        ctx->outcome->status |= MIRLO_STATUS_ERROR;
        return -1;
    }
    H5T_class_t cls2 = H5Tget_class(f_tid2);
    if (cls2 < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Tget_class second object failed");
        ctx->outcome->status |= MIRLO_STATUS_ERROR;
        return -1;
    }

    if (cls1 != cls2) {
        if (print) {
            if (in_compound)
                output_print(ctx->out, "Not comparable: <%s> has a class %s and <%s> has a class %s\n", obj1,
                                    class_label(cls1), obj2, class_label(cls2));
            else
                output_print(ctx->out, "Not comparable: <%s> is of class %s and <%s> is of class %s\n", obj1,
                                    class_label(cls1), obj2, class_label(cls2));
        }
        pair_not_comparable(ctx, "%s: %s and %s",
                              in_compound ? "compound members of different type classes" : "different type classes",
                              class_label(cls1), class_label(cls2));
        return 0;
    }

    if (cls1 == H5T_TIME) {
        if (print)
            output_print(ctx->out, "Not comparable: <%s> and <%s> are of class %s\n", obj1, obj2, "H5T_TIME");
        pair_not_comparable(ctx, "time values (H5T_TIME) are not compared");
        return 0;
    }

    if (H5Tequal(f_tid1, f_tid2) == 0 && ctx->settings->verbose_mode && names) {
        output_print(ctx->out, "Warning: different storage datatype\n");
        if (cls1 == H5T_INTEGER || cls1 == H5T_FLOAT) {
            output_print(ctx->out, "<%s> has file datatype ", obj1);
            print_file_type_name(ctx->out, f_tid1);
            output_print(ctx->out, "\n");
            output_print(ctx->out, "<%s> has file datatype ", obj2);
            print_file_type_name(ctx->out, f_tid2);
            output_print(ctx->out, "\n");
        }
    }

    auto print_shapes = [&]() {
        output_print(ctx->out, "Not comparable: <%s> has rank %d, dimensions ", obj1, rank1);
        print_extent(ctx->out, rank1, dims1);
        output_print(ctx->out, ", max dimensions ");
        print_extent(ctx->out, rank1, maxdim1);
        output_print(ctx->out, "\n");
        output_print(ctx->out, "and <%s> has rank %d, dimensions ", obj2, rank2);
        print_extent(ctx->out, rank2, dims2);
        output_print(ctx->out, ", max dimensions ");
        print_extent(ctx->out, rank2, maxdim2);
        output_print(ctx->out, "\n");
    };

    if (rank1 != rank2) {
        if (print)
            print_shapes();
        pair_not_comparable(ctx, "different ranks: %d and %d", rank1, rank2);
        return 0;
    }

    bool dims_differ = false;
    bool maxdims_differ = false;
    for (int i = 0; i < rank1; ++i) {
        if (dims1[i] != dims2[i])
            dims_differ = true;
        if (maxdim1 != nullptr && maxdim2 != nullptr && maxdim1[i] != maxdim2[i])
            maxdims_differ = true;
    }
    if (dims_differ) {
        if (print)
            print_shapes();
        pair_not_comparable(ctx, "different dimensions: %s and %s", extent_text(rank1, dims1).c_str(),
                              extent_text(rank2, dims2).c_str());
        return 0;
    }
    if (maxdims_differ && ctx->settings->verbose_mode && obj1 != nullptr) {
        output_print(ctx->out, "Warning: different maximum dimensions\n");
        output_print(ctx->out, "<%s> has max dimensions ", obj1);
        print_extent(ctx->out, rank1, maxdim1);
        output_print(ctx->out, "\n");
        output_print(ctx->out, "<%s> has max dimensions ", obj2);
        print_extent(ctx->out, rank2, maxdim2);
        output_print(ctx->out, "\n");
    }

    if (cls1 == H5T_COMPOUND) {
        int n1 = H5Tget_nmembers(f_tid1);
        int n2 = H5Tget_nmembers(f_tid2);
        if (n1 != n2) {
            if (print) {
                output_print(ctx->out, "Not comparable: <%s> has %d members ", obj1, n1);
                output_print(ctx->out, "<%s> has %d members ", obj2, n2);
                output_print(ctx->out, "\n");
            }
            pair_not_comparable(ctx, "different numbers of compound members: %d and %d", n1, n2);
            return 0;
        }
        for (int i = 0; i < n1; ++i) {
            h5_datatype m1(H5Tget_member_type(f_tid1, static_cast<unsigned>(i)));
            h5_datatype m2(H5Tget_member_type(f_tid2, static_cast<unsigned>(i)));
            if (diff_can_type(m1, m2, rank1, rank2, dims1, dims2, maxdim1, maxdim2, ctx, true) != 1) {
                ctx->outcome->not_comparable = true;
                return 0;
            }
        }
    }

    if (cls1 == H5T_STRING) {
        htri_t vstr1 = H5Tis_variable_str(f_tid1);
        htri_t vstr2 = H5Tis_variable_str(f_tid2);
        if (vstr1 != vstr2) {
            if (print)
                output_print(ctx->out, "Not comparable: <%s> or <%s> is of mixed string type\n", obj1, obj2);
            pair_not_comparable(ctx, "a fixed-length and a variable-length string type");
            return 0;
        }
    }
    return 1;
}

bool storage_comparable(hid_t did1, hid_t did2, H5D_layout_t layout1, H5D_layout_t layout2, const char *name1,
                        const char *name2, pair_context *ctx)
{
    const bool stored1 = H5Dget_storage_size(did1) != 0;
    const bool stored2 = H5Dget_storage_size(did2) != 0;
    if (stored1 && stored2)
        return true;
    const bool print = comparable_messages_wanted(ctx) && name1 != nullptr && name2 != nullptr;
    if (layout1 == H5D_VIRTUAL || layout2 == H5D_VIRTUAL) {
        if (print)
            output_print(ctx->out, "Warning: <%s> or <%s> is a virtual dataset\n", shown(name1).c_str(),
                                shown(name2).c_str());
        return true;
    }
    if (!stored1 && !stored2)
        return true;
    if (print)
        output_print(ctx->out, "Not comparable: <%s> or <%s> is an empty dataset\n", shown(name1).c_str(),
                            shown(name2).c_str());
    pair_not_comparable(ctx, "one dataset was never written (empty), the other was");
    return false;
}

bool signs_comparable(hid_t mtype1, hid_t mtype2, const char *name1, const char *name2, pair_context *ctx)
{
    H5T_sign_t sign1, sign2;
    {
        // Types without a sign answer with an error; both then compare equal.
        h5_errors_off quiet;
        sign1 = H5Tget_sign(mtype1);
        sign2 = H5Tget_sign(mtype2);
    }
    if (sign1 == sign2)
        return true;
    if (comparable_messages_wanted(ctx) && name1 != nullptr && name2 != nullptr) {
        output_print(ctx->out, "Not comparable: <%s> has sign %s ", shown(name1).c_str(), sign_label(sign1));
        output_print(ctx->out, "and <%s> has sign %s\n", shown(name2).c_str(), sign_label(sign2));
    }
    pair_not_comparable(ctx, "different signs: %s and %s", sign_label(sign1), sign_label(sign2));
    return false;
}

bool times_comparable(hid_t ftype1, hid_t ftype2, const char *name1, const char *name2, pair_context *ctx)
{
    if (H5Tdetect_class(ftype1, H5T_TIME) <= 0 && H5Tdetect_class(ftype2, H5T_TIME) <= 0)
        return true;
    if (comparable_messages_wanted(ctx) && name1 != nullptr && name2 != nullptr)
        output_print(ctx->out, "Not comparable: <%s> and <%s> are of class %s\n", shown(name1).c_str(),
                            shown(name2).c_str(), "H5T_TIME");
    pair_not_comparable(ctx, "time values (H5T_TIME) are not compared");
    return false;
}

int match_up_memsize(hid_t f_tid1, hid_t f_tid2, hid_t *m_tid1, hid_t *m_tid2, size_t *m_size1,
                     size_t *m_size2)
{
    if (*m_size1 == *m_size2)
        return 0;
    // The smaller side takes the native type of the other side's file type.
    const bool first_smaller = *m_size1 < *m_size2;
    hid_t *m_small = first_smaller ? m_tid1 : m_tid2;
    size_t *size_small = first_smaller ? m_size1 : m_size2;
    const size_t size_large = first_smaller ? *m_size2 : *m_size1;
    const hid_t f_large = first_smaller ? f_tid2 : f_tid1;

    H5Tclose(*m_small);
    *m_small = H5Tget_native_type(f_large, H5T_DIR_DEFAULT);
    if (*m_small < 0) {
        zarn_push_error("mirlo_util", __func__, __LINE__, zarn_err_minor, "H5Tget_native_type failed");
        return -1;
    }
    *size_small = H5Tget_size(*m_small);
    if (*size_small != size_large) {
        zarn_push_error("mirlo_util", __func__, __LINE__, zarn_err_minor, "native type sizes do not compare");
        return -1;
    }
    return 0;
}
