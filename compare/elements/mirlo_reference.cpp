// Comparison of references: object references lead to datasets compared
// whole, dataset-region references to their datasets' region selections.
#define ZARN_SOURCE "mirlo_array"
#include "mirlo_reference.hpp"

#include "h5_handle.hpp"
#include "mirlo_dset.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace {

using hsize_buffer = zarn_malloc_ptr<hsize_t[]>;

// " at [ i j ]": where the element of a failing reference is (nothing for a
// scalar). Built only when a message is due.
std::string reference_place(const pair_context *ctx, uint64_t elem_idx)
{
    const std::string label = element_position_label(ctx, elem_idx);
    return label.empty() ? label : " at " + label;
}

// Names the reference (kind "object" or "region") that cannot be followed.
void report_reference_leading_nowhere(hid_t container, const char *kind, const pair_context *ctx,
                                      uint64_t elem_idx)
{
    print_failure_of(container, "the %s reference%s leads to no object: it was deleted, or the file is damaged",
                     kind, reference_place(ctx, elem_idx).c_str());
}

bool all_zero(const unsigned char *p, size_t size)
{
    for (size_t k = 0; k < size; ++k)
        if (p[k] != 0)
            return false;
    return true;
}

// Opens the objects two references of the given type lead to, each against
// its container. False, with the reason named and pushed and *error set,
// when either cannot be opened.
bool dereference_pair(hid_t container1, hid_t container2, H5R_type_t type, const unsigned char *e1,
                      const unsigned char *e2, h5_object obj[2], const pair_context *ctx,
                      uint64_t elem_idx, int *error)
{
    const char *kind = type == H5R_OBJECT ? "object" : "region";
    obj[0].reset(H5Rdereference2(container1, H5P_DEFAULT, type, e1));
    if (!obj[0].valid()) {
        report_reference_leading_nowhere(container1, kind, ctx, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rdereference2 object 1 failed");
        *error = 2;
        return false;
    }
    obj[1].reset(H5Rdereference2(container2, H5P_DEFAULT, type, e2));
    if (!obj[1].valid()) {
        report_reference_leading_nowhere(container2, kind, ctx, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rdereference2 object 2 failed");
        *error = 2;
        return false;
    }
    return true;
}

// Closes the handles in order, and pushes the message beside each one whose
// close fails (such a failure marks the element's comparison as failed).
struct reported_close {
    herr_t status;
    const char *failure;
};
void report_closes(std::initializer_list<reported_close> closes, int *error)
{
    for (const reported_close &c : closes) {
        if (c.status < 0) {
            ZARN_PUSH_ERROR(zarn_info_minor, "%s", c.failure);
            *error = 2;
        }
    }
}

nfound_t diff_region_reference(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                               const pair_context *ctx, pair_context *nested, hid_t container1,
                               hid_t container2, int *error)
{
    h5_object obj[2];
    if (!dereference_pair(container1, container2, H5R_DATASET_REGION, e1, e2, obj, ctx, elem_idx, error))
        return 0;
    nfound_t found = 0;
    h5_dataspace region1(H5Rget_region(container1, H5R_DATASET_REGION, e1));
    h5_dataspace region2(region1.valid() ? H5Rget_region(container2, H5R_DATASET_REGION, e2) : -1);
    if (region1.valid() && region2.valid())
        found = diff_region(obj[0], obj[1], region1, region2, nested);
    report_closes({{region2.close(), "H5Sclose H5T_STD_REF_DSETREG region 2 failed"},
                   {region1.close(), "H5Sclose H5T_STD_REF_DSETREG region 1 failed"},
                   {obj[1].close(), "H5Oclose H5T_STD_REF_DSETREG region 2 failed"},
                   {obj[0].close(), "H5Oclose H5T_STD_REF_DSETREG region 1 failed"}},
                  error);
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

// True when an object reference leads to an object (a reference that does
// not is reported where references are followed).
bool leads_somewhere(hid_t container, const unsigned char *e)
{
    h5_errors_off quiet;
    H5O_type_t type = H5O_TYPE_UNKNOWN;
    return H5Rget_obj_type2(container, H5R_OBJECT, e, &type) >= 0;
}

// The path an object reference leads to, whole however long; empty when it
// has none (an object without a name).
std::string referenced_path(hid_t container, const unsigned char *e)
{
    const ssize_t n = H5Rget_name(container, H5R_OBJECT, e, nullptr, 0);
    if (n <= 0)
        return {};
    std::string path(static_cast<size_t>(n) + 1, '\0');
    if (H5Rget_name(container, H5R_OBJECT, e, path.data(), path.size()) != n)
        return {};
    path.resize(static_cast<size_t>(n));
    return path;
}

// The path below a compared root ("/" for the root itself); a path outside
// the root is kept whole.
std::string_view below_root(std::string_view path, std::string_view root)
{
    if (root.empty() || path.substr(0, root.size()) != root)
        return path;
    if (path.size() == root.size())
        return "/";
    if (path[root.size()] != '/')
        return path;
    return path.substr(root.size());
}

// Two object references compared by where they lead: the same path below
// the compared roots is no difference; else one row naming both paths.
nfound_t diff_reference_paths(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                              pair_context *ctx, hid_t container1, hid_t container2)
{
    const std::string path1 = referenced_path(container1, e1);
    const std::string path2 = referenced_path(container2, e2);
    if (!path1.empty() && !path2.empty() && below_root(path1, ctx->roots[0]) == below_root(path2, ctx->roots[1]))
        return 0;
    ctx->relative_header = false;
    print_position(ctx, elem_idx, 0);
    if (rows_printed(*ctx->settings))
        output_print(ctx->out, "%-16s %-17s\n", path1.empty() ? "(unnamed object)" : shown(path1).c_str(),
                     path2.empty() ? "(unnamed object)" : shown(path2).c_str());
    return 1;
}

nfound_t diff_object_reference(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                               const pair_context *ctx, pair_context *nested, hid_t container1,
                               hid_t container2, int *error)
{
    H5O_type_t type1 = H5O_TYPE_UNKNOWN;
    H5O_type_t type2 = H5O_TYPE_UNKNOWN;
    if (H5Rget_obj_type2(container1, H5R_OBJECT, e1, &type1) < 0) {
        report_reference_leading_nowhere(container1, "object", ctx, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rget_obj_type2 object 1 failed");
        *error = 2;
        return 0;
    }
    if (H5Rget_obj_type2(container2, H5R_OBJECT, e2, &type2) < 0) {
        report_reference_leading_nowhere(container2, "object", ctx, elem_idx);
        ZARN_PUSH_ERROR(zarn_info_minor, "H5Rget_obj_type2 object 2 failed");
        *error = 2;
        return 0;
    }
    const std::string printable1 = shown(ctx->object_names[0]);
    const std::string printable2 = shown(ctx->object_names[1]);
    const char *name1 = printable1.c_str();
    const char *name2 = printable2.c_str();
    if (type1 != type2) {
        output_print(ctx->out, "Different object types referenced: <%s> and <%s>", name1, name2);
        print_failure_of(container1, "the object references%s lead to objects of different kinds",
                         reference_place(ctx, elem_idx).c_str());
        pair_not_comparable(nested, "references lead to objects of different kinds");
        *error = 2;
        return 0;
    }
    if (type1 != H5O_TYPE_DATASET) {
        // Groups and named datatypes have no values to compare; two
        // references that lead to the same path are the same reference, and
        // must not make two identical files "not comparable".
        if (same_referenced_path(container1, container2, e1, e2))
            return 0;
        if (ctx->settings->verbose_mode)
            output_print(ctx->out, "Warning: Comparison not possible of object types referenced: <%s> and <%s>\n",
                         name1, name2);
        pair_not_comparable(nested, "references lead to groups or datatypes, which have no values to compare");
        return 0;
    }
    h5_object obj[2];
    if (!dereference_pair(container1, container2, H5R_OBJECT, e1, e2, obj, ctx, elem_idx, error))
        return 0;
    // A subset names elements of the dataset holding the references, not of
    // the datasets they lead to: those are compared whole.
    const nfound_t found =
        diff_datasetid(obj[0], obj[1], ctx->object_names[0], ctx->object_names[1], nullptr, nested);
    report_closes({{obj[1].close(), "H5Oclose H5T_STD_REF_OBJ 2 failed"},
                   {obj[0].close(), "H5Oclose H5T_STD_REF_OBJ 1 failed"}},
                  error);
    return found;
}

} // namespace

nfound_t diff_reference_datum(const unsigned char *e1, const unsigned char *e2, uint64_t elem_idx,
                              pair_context *ctx, hid_t container1, hid_t container2, size_t size)
{
    const bool null1 = all_zero(e1, size);
    const bool null2 = all_zero(e2, size);
    if (null1 != null2)
        return 1;
    if (null1)
        return 0;
    if (ctx->references_by_path && size == sizeof(hobj_ref_t) && leads_somewhere(container1, e1) &&
        leads_somewhere(container2, e2))
        return diff_reference_paths(e1, e2, elem_idx, ctx, container1, container2);
    // The referenced objects are compared in a context of their own: their
    // comparison describes other buffers. Its table interrupts this one, so
    // whether the next row here needs a header again is what it leaves.
    pair_context nested = ctx->nested();
    nested.header_pending = ctx->header_pending;
    int error = 0;
    nfound_t found = 0;
    if (size == sizeof(hdset_reg_ref_t))
        found = diff_region_reference(e1, e2, elem_idx, ctx, &nested, container1, container2, &error);
    else if (size == sizeof(hobj_ref_t))
        found = diff_object_reference(e1, e2, elem_idx, ctx, &nested, container1, container2, &error);
    ctx->header_pending = nested.header_pending;
    ctx->outcome->status |= error;
    return found;
}

nfound_t diff_region(hid_t obj1, hid_t obj2, hid_t region1, hid_t region2, pair_context *ctx)
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
        pair_not_comparable(ctx, "referenced regions of different shapes");
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
            ctx->outcome->status |= 2;
        } else if (H5Sget_select_hyper_blocklist(region1, 0, nb, list1.get()) < 0 ||
                   H5Sget_select_hyper_blocklist(region2, 0, nb, list2.get()) < 0) {
            ctx->outcome->status |= 2;
        } else {
            for (uint64_t b = 0; b < nb; ++b)
                for (uint64_t d = 0; d < r; ++d) {
                    const uint64_t s = b * 2 * r + d;
                    if (list1[s] != list2[s] || list1[s + r] != list2[s + r])
                        ++block_total;
                }
            if (block_total != 0 && ctx->settings->verbose_mode) {
                H5O_info_t info1{}, info2{};
                {
                    h5_errors_off quiet;
                    (void)H5Oget_info2(obj1, &info1, H5O_INFO_BASIC);
                    (void)H5Oget_info2(obj2, &info2, H5O_INFO_BASIC);
                }
                output_print(ctx->out, "Referenced dataset      %lu            %lu\n",
                                    static_cast<unsigned long>(info1.addr), static_cast<unsigned long>(info2.addr));
                output_print(ctx->out, "------------------------------------------------------------\n");
                output_print(ctx->out, "Region blocks\n");
                for (uint64_t b = 0; b < nb; ++b) {
                    output_print(ctx->out, "block #%d", static_cast<int>(b));
                    print_block_corners(ctx->out, b, list1.get(), rank);
                    print_block_corners(ctx->out, b, list2.get(), rank);
                    output_print(ctx->out, "\n");
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
            ctx->outcome->status |= 2;
        } else if (H5Sget_select_elem_pointlist(region1, 0, np, list1.get()) < 0 ||
                   H5Sget_select_elem_pointlist(region2, 0, np, list2.get()) < 0) {
            ctx->outcome->status |= 2;
        } else {
            for (uint64_t i = 0; i < np * r; ++i)
                if (list1[i] != list2[i])
                    ++point_total;
            if (point_total != 0 && ctx->settings->verbose_mode) {
                output_print(ctx->out, "Region points\n");
                for (uint64_t p = 0; p < np; ++p) {
                    const hsize_t *c1 = list1.get() + p * r;
                    const hsize_t *c2 = list2.get() + p * r;
                    if (std::memcmp(c1, c2, r * sizeof(hsize_t)) == 0)
                        continue;
                    output_print(ctx->out, "point #%d", static_cast<int>(p));
                    output_print(ctx->out, "              (");
                    for (uint64_t d = 0; d < r; ++d)
                        output_print(ctx->out, d ? ",%llu" : "%llu", c1[d]);
                    output_print(ctx->out, ")              (");
                    for (uint64_t d = 0; d < r; ++d)
                        output_print(ctx->out, d ? ",%llu" : "%llu", c2[d]);
                    output_print(ctx->out, ")\n");
                }
            }
        }
    }
    return block_total / r + point_total / r;
}
