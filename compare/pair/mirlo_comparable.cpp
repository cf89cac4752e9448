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

namespace {

// The two objects as the messages of diff_can_type name them.
struct named_pair {
    std::string shown[2];
    const char *obj[2];
    bool names; // both objects are named
    bool print; // "Not comparable" lines are wanted and can name them
};

named_pair names_of(const pair_context *ctx)
{
    named_pair n;
    for (int k = 0; k < 2; ++k) {
        n.shown[k] = shown(ctx->object_names[k]);
        n.obj[k] = ctx->object_names[k] != nullptr ? n.shown[k].c_str() : nullptr;
    }
    n.names = ctx->object_names[0] != nullptr && ctx->object_names[1] != nullptr;
    n.print = comparable_messages_wanted(ctx) && n.names;
    return n;
}

// The classes of both types: 1 the same (in *cls), 0 not comparable, -1
// failure.
int classes_comparable(hid_t f_tid1, hid_t f_tid2, const named_pair &n, bool in_compound, pair_context *ctx,
                       H5T_class_t *cls)
{
    const H5T_class_t cls1 = H5Tget_class(f_tid1);
    const H5T_class_t cls2 = cls1 < 0 ? cls1 : H5Tget_class(f_tid2);
    if (cls1 < 0 || cls2 < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, cls1 < 0 ? "H5Tget_class first object failed"
                                                 : "H5Tget_class second object failed");
        ctx->outcome->fail();
        return -1;
    }
    if (cls1 != cls2) {
        if (n.print)
            output_print(ctx->out,
                         in_compound ? "Not comparable: <%s> has a class %s and <%s> has a class %s\n"
                                     : "Not comparable: <%s> is of class %s and <%s> is of class %s\n",
                         n.obj[0], class_label(cls1), n.obj[1], class_label(cls2));
        pair_not_comparable(ctx, "%s: %s and %s",
                            in_compound ? "compound members of different type classes" : "different type classes",
                            class_label(cls1), class_label(cls2));
        return 0;
    }
    if (cls1 == H5T_TIME) {
        if (n.print)
            output_print(ctx->out, "Not comparable: <%s> and <%s> are of class %s\n", n.obj[0], n.obj[1], "H5T_TIME");
        pair_not_comparable(ctx, "time values (H5T_TIME) are not compared");
        return 0;
    }
    *cls = cls1;
    return 1;
}

void print_storage_type_warning(hid_t f_tid1, hid_t f_tid2, H5T_class_t cls, const named_pair &n,
                                const pair_context *ctx)
{
    if (H5Tequal(f_tid1, f_tid2) != 0 || !ctx->settings->verbose_mode || !n.names)
        return;
    output_print(ctx->out, "Warning: different storage datatype\n");
    if (cls != H5T_INTEGER && cls != H5T_FLOAT)
        return;
    const hid_t types[2] = {f_tid1, f_tid2};
    for (int k = 0; k < 2; ++k) {
        output_print(ctx->out, "<%s> has file datatype ", n.obj[k]);
        print_file_type_name(ctx->out, types[k]);
        output_print(ctx->out, "\n");
    }
}

// One side's shape.
struct shape_of {
    int rank;
    const hsize_t *dims;
    const hsize_t *maxdims;
};

// Ranks and dimensions: true when they match (a difference of maximum
// dimensions only is a warning in verbose mode).
bool shapes_comparable(const shape_of shape[2], const named_pair &n, pair_context *ctx)
{
    auto print_shapes = [&]() {
        for (int k = 0; k < 2; ++k) {
            output_print(ctx->out, k == 0 ? "Not comparable: <%s> has rank %d, dimensions "
                                          : "and <%s> has rank %d, dimensions ",
                         n.obj[k], shape[k].rank);
            print_extent(ctx->out, shape[k].rank, shape[k].dims);
            output_print(ctx->out, ", max dimensions ");
            print_extent(ctx->out, shape[k].rank, shape[k].maxdims);
            output_print(ctx->out, "\n");
        }
    };
    if (shape[0].rank != shape[1].rank) {
        if (n.print)
            print_shapes();
        pair_not_comparable(ctx, "different ranks: %d and %d", shape[0].rank, shape[1].rank);
        return false;
    }
    bool dims_differ = false;
    bool maxdims_differ = false;
    for (int i = 0; i < shape[0].rank; ++i) {
        if (shape[0].dims[i] != shape[1].dims[i])
            dims_differ = true;
        if (shape[0].maxdims != nullptr && shape[1].maxdims != nullptr && shape[0].maxdims[i] != shape[1].maxdims[i])
            maxdims_differ = true;
    }
    if (dims_differ) {
        if (n.print)
            print_shapes();
        pair_not_comparable(ctx, "different dimensions: %s and %s", extent_text(shape[0].rank, shape[0].dims).c_str(),
                            extent_text(shape[1].rank, shape[1].dims).c_str());
        return false;
    }
    if (maxdims_differ && ctx->settings->verbose_mode && n.obj[0] != nullptr) {
        output_print(ctx->out, "Warning: different maximum dimensions\n");
        for (int k = 0; k < 2; ++k) {
            output_print(ctx->out, "<%s> has max dimensions ", n.obj[k]);
            print_extent(ctx->out, shape[k].rank, shape[k].maxdims);
            output_print(ctx->out, "\n");
        }
    }
    return true;
}

} // namespace

int diff_can_type(hid_t f_tid1, hid_t f_tid2, int rank1, int rank2, const hsize_t *dims1, const hsize_t *dims2,
                  const hsize_t *maxdim1, const hsize_t *maxdim2, pair_context *ctx, bool in_compound)
{
    const named_pair n = names_of(ctx);
    H5T_class_t cls = H5T_NO_CLASS;
    const int classes = classes_comparable(f_tid1, f_tid2, n, in_compound, ctx, &cls);
    if (classes != 1)
        return classes;
    print_storage_type_warning(f_tid1, f_tid2, cls, n, ctx);
    const shape_of shape[2] = {{rank1, dims1, maxdim1}, {rank2, dims2, maxdim2}};
    if (!shapes_comparable(shape, n, ctx))
        return 0;

    if (cls == H5T_COMPOUND) {
        const int n1 = H5Tget_nmembers(f_tid1);
        const int n2 = H5Tget_nmembers(f_tid2);
        if (n1 != n2) {
            if (n.print) {
                output_print(ctx->out, "Not comparable: <%s> has %d members ", n.obj[0], n1);
                output_print(ctx->out, "<%s> has %d members ", n.obj[1], n2);
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
    if (cls == H5T_STRING && H5Tis_variable_str(f_tid1) != H5Tis_variable_str(f_tid2)) {
        if (n.print)
            output_print(ctx->out, "Not comparable: <%s> or <%s> is of mixed string type\n", n.obj[0], n.obj[1]);
        pair_not_comparable(ctx, "a fixed-length and a variable-length string type");
        return 0;
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
