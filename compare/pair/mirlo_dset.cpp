// Dataset comparison: opens two datasets, decides whether they can be compared,
// brings both to one native memory type and sets the working fields; the data
// is then read and compared by mirlo_dset_read.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_dset.hpp"
#include "mirlo_dset_read.hpp"
#include "h5_handle.hpp"
#include "mirlo_comparable.hpp"
#include "mirlo_read_buffer.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"
#include "zarn_filters.hpp"
#include "zarn_fopen.hpp"
#include "zarn_utils.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char *null_if_empty(const char *name)
{
    return (name != nullptr && name[0] != '\0') ? name : nullptr;
}

// Product of the extents; 1 for rank 0.
hsize_t element_product(int rank, const hsize_t *dims)
{
    hsize_t n = 1;
    for (int i = 0; i < rank; ++i)
        n *= dims[i];
    return n;
}

// --- the comparison of two open datasets ------------------------------------

struct dset_shape {
    int rank = 0;
    hsize_t dims[MIRLO_MAX_RANK] = {};
    hsize_t maxdims[MIRLO_MAX_RANK] = {};
    bool null_space = false; // a null dataspace: no elements at all
};

// Dataspaces, shapes and file types of both datasets.
bool read_shapes(const hid_t did[2], dset_pair &p, dset_shape shape[2])
{
    for (int k = 0; k < 2; ++k) {
        p.sid[k].reset(H5Dget_space(did[k]));
        if (!p.sid[k].valid()) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_space failed");
            return false;
        }
        shape[k].rank = H5Sget_simple_extent_ndims(p.sid[k]);
        if (shape[k].rank < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Sget_simple_extent_ndims failed");
            return false;
        }
        if (H5Sget_simple_extent_dims(p.sid[k], shape[k].dims, shape[k].maxdims) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Sget_simple_extent_dims failed");
            return false;
        }
        shape[k].null_space = H5Sget_simple_extent_type(p.sid[k]) == H5S_NULL;
    }
    for (int k = 0; k < 2; ++k) {
        p.ftype[k].reset(H5Dget_type(did[k]));
        if (!p.ftype[k].valid()) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_type failed");
            return false;
        }
    }
    return true;
}


// The steps of diff_datasetid between opening and finishing. Returns the
// count; a failure sets *failed.
nfound_t compare_open_datasets(hid_t did1, hid_t did2, const char *name1, const char *name2,
                               const subset_spec *const subsets[2], pair_context *ctx, dset_pair &p, bool *failed)
{
    const hid_t did[2] = {did1, did2};
    const char *const names[2] = {name1, name2};
    dset_shape shape[2];
    if (!read_shapes(did, p, shape)) {
        *failed = true;
        return 0;
    }
    // A null dataspace has no elements (its rank of 0 is not a scalar's):
    // two of them are equal, one against a dataset with elements is not
    // comparable.
    if (shape[0].null_space || shape[1].null_space) {
        if (shape[0].null_space && shape[1].null_space)
            return 0;
        if (comparable_messages_wanted(ctx) && name1 != nullptr && name2 != nullptr)
            output_print(ctx->out, "Not comparable: <%s> or <%s> is an empty dataset\n", shown(name1).c_str(),
                         shown(name2).c_str());
        pair_not_comparable(ctx, "one dataset has a null dataspace (no elements), the other has elements");
        return 0;
    }
    // Whether data was written is a question of values, which a
    // structure-only comparison leaves alone.
    const bool structure_only = ctx->settings->structure_only;
    bool comparable = true;
    if (!structure_only) {
        H5D_layout_t layout[2] = {H5D_LAYOUT_ERROR, H5D_LAYOUT_ERROR};
        if (pair_creation_lists(p, did)) {
            for (int k = 0; k < 2; ++k) {
                layout[k] = p.dcpl[k].valid() ? H5Pget_layout(p.dcpl[k]) : H5D_LAYOUT_ERROR;
                if (layout[k] < 0) {
                    ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_create_plist failed");
                    *failed = true;
                    return 0;
                }
            }
        }
        comparable = storage_comparable(did1, did2, layout[0], layout[1], name1, name2, ctx);
    }

    ctx->object_names[0] = null_if_empty(name1);
    ctx->object_names[1] = null_if_empty(name2);
    int can = diff_can_type(p.ftype[0], p.ftype[1], shape[0].rank, shape[1].rank, shape[0].dims, shape[1].dims,
                            shape[0].maxdims, shape[1].maxdims, ctx, false);
    if (can < 0) {
        *failed = true;
        return 0;
    }
    // A pair already known not comparable needs no memory types: a type the
    // library has no native form for (a time member, say) would otherwise
    // turn a not-comparable pair into a failure.
    if (!comparable || can == 0)
        return 0;

    // The sign test holds whatever the element count (the file types carry
    // the sign their native types would).
    if (!signs_comparable(p.ftype[0], p.ftype[1], name1, name2, ctx))
        return 0;
    if (structure_only) {
        times_comparable(p.ftype[0], p.ftype[1], name1, name2, ctx);
        return 0;
    }
    // Two datasets without elements have no values that could differ.
    if (element_product(shape[0].rank, shape[0].dims) == 0 && element_product(shape[1].rank, shape[1].dims) == 0)
        return 0;
    // A time value nested in an array or variable-length member has no
    // native form either: the pair is not comparable, as a time dataset is.
    if (!times_comparable(p.ftype[0], p.ftype[1], name1, name2, ctx))
        return 0;
    size_t msize[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        p.mtype[k].reset(H5Tget_native_type(p.ftype[k], H5T_DIR_DEFAULT));
        if (!p.mtype[k].valid()) {
            ZARN_PUSH_ERROR(zarn_err_minor, k == 0 ? "H5Tget_native_type first ftype failed"
                                                   : "H5Tget_native_type second ftype failed");
            *failed = true;
            return 0;
        }
        msize[k] = H5Tget_size(p.mtype[k]);
    }
    for (int k = 0; k < 2; ++k)
        p.buf[k].has_vlen = zarn_type_has_vlen(p.mtype[k]) == 1;

    const hsize_t nelmts[2] = {element_product(shape[0].rank, shape[0].dims),
                               element_product(shape[1].rank, shape[1].dims)};
    hsize_t whole_bytes = 0;
    int first = 0; // the dataset that describes the buffers to diff_array
    if (H5Tget_class(p.ftype[0]) == H5T_ARRAY) {
        first = msize[1] < msize[0] ? 1 : 0;
        whole_bytes = nelmts[1 - first] * msize[1 - first];
    } else {
        hid_t m1 = p.mtype[0].release();
        hid_t m2 = p.mtype[1].release();
        int r = match_up_memsize(p.ftype[0], p.ftype[1], &m1, &m2, &msize[0], &msize[1]);
        p.mtype[0].reset(m1);
        p.mtype[1].reset(m2);
        if (r < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "match_up_memsize failed");
            *failed = true;
            return 0;
        }
        whole_bytes = nelmts[0] * msize[0];
    }
    for (int k = 0; k < 2; ++k)
        p.buf[k].type = p.mtype[k];

    ctx->rank = shape[first].rank;
    for (int i = 0; i < MIRLO_MAX_RANK; ++i)
        ctx->dims[i] = i < ctx->rank ? shape[first].dims[i] : 0;
    ctx->mem_type_size = msize[first];
    ctx->mem_type_id = p.mtype[first];
    ctx->element_count = nelmts[first];
    ctx->block_element_count = ctx->element_count;
    ctx->object_names[0] = last_path_component(name1);
    ctx->object_names[1] = last_path_component(name2);
    reset_positions(ctx);

    // Strip buffers hold the larger of the two native elements.
    const hsize_t *const dims[2] = {shape[0].dims, shape[1].dims};
    return compare_data(did, names, p, dims, subsets, first, whole_bytes, std::max(msize[0], msize[1]), ctx,
                        failed);
}

} // namespace

namespace {

// diff_datasetid with what the caller has found of the pair already in
// *known (its creation lists), or with nothing (known null).
nfound_t compare_datasets_with(hid_t did1, hid_t did2, const char *name1, const char *name2,
                               const subset_spec *const subsets[2], dset_pair *known, pair_context *ctx)
{
    // The data is described afresh: nothing of the caller's buffers applies.
    pair_context data = ctx->nested();
    data.window = ctx->window;
    data.header_pending = ctx->header_pending;
    bool failed = false;
    nfound_t found = 0;
    if (known != nullptr) {
        found = compare_open_datasets(did1, did2, name1, name2, subsets, &data, *known, &failed);
    } else {
        h5_closed_quietly<dset_pair> p;
        found = compare_open_datasets(did1, did2, name1, name2, subsets, &data, *p, &failed);
    }
    ctx->header_pending = data.header_pending;
    if (failed)
        ctx->outcome->fail();
    return found;
}

} // namespace

nfound_t diff_datasetid(hid_t did1, hid_t did2, const char *name1, const char *name2,
                        const subset_spec *const subsets[2], pair_context *ctx)
{
    return compare_datasets_with(did1, did2, name1, name2, subsets, nullptr, ctx);
}

namespace {

// "Not comparable" with the filter that a dataset needs and this process
// lacks; one line for both datasets when both lack it.
void print_missing_filters(output_sink *out, const h5_plist dcpl[2], const char *path1, const char *path2)
{
    H5Z_filter_t id[2] = {0, 0};
    char name[2][128] = {"", ""};
    bool missing[2];
    for (int k = 0; k < 2; ++k)
        missing[k] = zarn_unavailable_filter(dcpl[k], &id[k], name[k], sizeof name[k]) == 1;
    auto filter = [&](int k) {
        return (name[k][0] != '\0' ? shown(name[k]) + " " : std::string()) + "(" +
               std::to_string(id[k]) + ")";
    };
    if (missing[0] && missing[1] && id[0] == id[1])
        output_print(out, "Not comparable: <%s> and <%s> cannot be read: filter %s is not available\n",
                            shown(path1).c_str(), shown(path2).c_str(), filter(0).c_str());
    else
        for (int k = 0; k < 2; ++k)
            if (missing[k])
                output_print(out, "Not comparable: <%s> cannot be read: filter %s is not available\n",
                                    shown(k == 0 ? path1 : path2).c_str(), filter(k).c_str());
}

} // namespace

namespace {

// Where to open path of file from: its parent group held in *held (opened
// there when another group is held), with *name set to the last component;
// else the file itself, with the whole path.
hid_t location_of(parent_groups::side *held, hid_t file, const char *path, const char **name)
{
    *name = path;
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr || slash[1] == '\0')
        return file;
    const size_t parent_len = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (held->file != file || held->path.compare(0, std::string::npos, path, parent_len) != 0) {
        held->group.reset();
        held->file = file;
        held->path.assign(path, parent_len);
        h5_errors_off quiet;
        held->group.reset(H5Gopen2(file, held->path.c_str(), H5P_DEFAULT));
    }
    if (!held->group.valid())
        return file;
    *name = slash + 1;
    return held->group;
}

// The dataset at path by the address its listing gave, when it gave one for
// this path; an invalid identifier otherwise (the path is then looked up).
hid_t open_listed_dataset(const parent_groups::side &held, hid_t file, const char *path)
{
    if (held.listed_address == HADDR_UNDEF || held.listed_file != file || held.listed_path != path)
        return H5I_INVALID_HID;
    h5_errors_off quiet;
    hid_t id = H5Oopen_by_addr(file, held.listed_address);
    if (id >= 0 && H5Iget_type(id) != H5I_DATASET) {
        H5Oclose(id);
        id = H5I_INVALID_HID;
    }
    return id;
}

} // namespace

hid_t open_object_of_pair(hid_t (*open)(hid_t, const char *, hid_t), hid_t file, const char *path, int side,
                          const char *word, const char *long_word, const char *failure, pair_context *ctx)
{
    hid_t id = H5I_INVALID_HID;
    if (ctx->parents != nullptr && open == H5Dopen2)
        id = open_listed_dataset(ctx->parents->sides[side], file, path);
    if (id < 0) {
        const char *name = path;
        const hid_t loc = ctx->parents != nullptr ? location_of(&ctx->parents->sides[side], file, path, &name) : file;
        h5_errors_off quiet;
        id = open(loc, name, H5P_DEFAULT);
    }
    if (id >= 0)
        return id;
    // A damaged object header: say which object, not just the status.
    output_print(ctx->out, "Cannot open %s <%s>\n", word, shown(path).c_str());
    print_failure_in(file, path, "the %s cannot be opened", long_word);
    record_error(ctx, "cannot open %s <%s> in the %s file", word, path, side == 0 ? "first" : "second");
    ZARN_PUSH_ERROR(zarn_err_minor, "%s", failure);
    ctx->outcome->fail();
    return id;
}

nfound_t diff_dataset_data(hid_t did1, hid_t did2, const char *path1, const char *path2,
                           const subset_spec *const subsets[2], pair_context *ctx)
{
    // Without values to read, no filter is needed.
    if (ctx->settings->structure_only)
        return diff_datasetid(did1, did2, path1, path2, subsets, ctx);
    const hid_t did[2] = {did1, did2};
    h5_closed_quietly<dset_pair> p;
    // Only chunked data can pass through filters: the others need no test.
    if (pair_creation_lists(*p, did)) {
        h5_plist *const dcpl = p->dcpl;
        for (int k = 0; k < 2; ++k) {
            if (!dcpl[k].valid()) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_create_plist failed");
                ctx->outcome->fail();
                return 0;
            }
        }
        int readable = zarn_canreadf(ctx->settings->verbose_mode ? path1 : nullptr, dcpl[0]);
        if (readable == 1)
            readable = zarn_canreadf(ctx->settings->verbose_mode ? path2 : nullptr, dcpl[1]);
        if (readable != 1) {
            // Data that no filter here can decode is not comparable: listed as
            // such with the filter, and counted in the summary like any such pair.
            if (comparable_messages_wanted(ctx))
                print_missing_filters(ctx->out, dcpl, path1, path2);
            pair_not_comparable(ctx, "a filter the data needs is not available");
            record_error(ctx, "cannot read the data: a filter it needs is not available");
            ctx->outcome->status |= MIRLO_STATUS_UNREADABLE;
            return 0;
        }
    }
    return compare_datasets_with(did1, did2, path1, path2, subsets, &*p, ctx);
}

nfound_t diff_dataset(hid_t file_id1, hid_t file_id2, const char *path1, const char *path2,
                      const subset_spec *const subsets[2], pair_context *ctx)
{
    h5_closed_quietly<h5_dataset> did1(open_object_of_pair(H5Dopen2, file_id1, path1, 0, "dataset", "dataset",
                                                                     "H5Dopen2 first dataset failed", ctx));
    if (!did1->valid())
        return 0;
    h5_closed_quietly<h5_dataset> did2(open_object_of_pair(H5Dopen2, file_id2, path2, 1, "dataset", "dataset",
                                                                     "H5Dopen2 second dataset failed", ctx));
    if (!did2->valid())
        return 0;
    return diff_dataset_data(*did1, *did2, path1, path2, subsets, ctx);
}
