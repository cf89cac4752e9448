// Dataset comparison: opens two datasets, decides whether they can be compared,
// brings both to one native memory type, and reads them whole or strip by strip
// (subsets included), handing each pair of buffers to diff_array.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_dset.hpp"
#include "h5_handle.hpp"
#include "mirlo_array.hpp"
#include "mirlo_comparable.hpp"
#include "mirlo_read_buffer.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "mirlo_strips.hpp"
#include "zarn.hpp"
#include "zarn_filters.hpp"
#include "zarn_fopen.hpp"
#include "zarn_utils.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Everything one dataset comparison opens. Members are destroyed in reverse
// order, so buffers are reclaimed before the spaces and types they name close.
struct dset_pair {
    h5_dataspace sid[2];
    h5_datatype ftype[2];
    h5_datatype mtype[2];
    h5_dataspace memspace[2];
    read_buffer buf[2];
    zarn_malloc_ptr<char> names[2]; // what object_names point to during the comparison
};

// Points object_names at copies of n1 and n2 (null for a null name), owned by p.
void name_objects(dset_pair &p, diff_options *options, const char *n1, const char *n2)
{
    const char *const names[2] = {n1, n2};
    for (int k = 0; k < 2; ++k) {
        p.names[k].reset(names[k] != nullptr ? strdup(names[k]) : nullptr);
        options->object_names[k] = p.names[k].get();
    }
}

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

// Position bookkeeping for diff_array: bounds and row-major strides of the
// full extent, position and lowest index cleared.
void reset_positions(diff_options *options)
{
    for (int i = 0; i < options->rank; ++i)
        options->max_index[i] = options->dims[i];
    std::memset(options->position, 0, sizeof options->position);
    std::memset(options->min_index, 0, sizeof options->min_index);
    init_accumulators(options->rank, options->dims, options->accumulators, options->position,
                      options->min_index);
}

// diff_array with the count limit lowered to what is left of it for this
// object, so that a dataset compared in several pieces reports at most
// count_limit differences in all.
nfound_t compare_buffers(void *buf1, void *buf2, diff_options *options, hid_t did1, hid_t did2, nfound_t found)
{
    const uint64_t limit = options->count_limit;
    if (options->count_mode)
        options->count_limit = limit - found;
    nfound_t n = diff_array(buf1, buf2, options, did1, did2);
    options->count_limit = limit;
    return n;
}

// Data that cannot be read (damaged storage, a filter that fails) is named in
// the output, so that the failure does not pass for a pair without differences.
void print_unreadable(const char *name, int k, const diff_options *options)
{
    zarn_buffered_print("Cannot read dataset <%s>\n", name != nullptr ? name : "");
    record_error(options, "cannot read dataset <%s> in the %s file", name != nullptr ? name : "",
                 k == 0 ? "first" : "second");
}

bool limit_reached(const diff_options *options, nfound_t found)
{
    return options->count_mode && found >= options->count_limit;
}

// --- strips ----------------------------------------------------------------

// One-dimensional memory space of n elements, all selected; kept while the
// strips keep the same size.
bool memory_space_for(h5_dataspace &space, hsize_t n)
{
    if (space.valid() && H5Sget_simple_extent_npoints(space) == static_cast<hssize_t>(n))
        return true;
    space.reset(H5Screate_simple(1, &n, nullptr));
    if (!space.valid()) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Screate_simple failed");
        return false;
    }
    const hsize_t zero = 0;
    if (H5Sselect_hyperslab(space, H5S_SELECT_SET, &zero, nullptr, &n, nullptr) < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Sselect_hyperslab failed");
        return false;
    }
    return true;
}

// Compares the selections of plan piece by piece, in output order. The two
// strip buffers and memory spaces are made once and reused. Returns the
// differences found; a failure sets *failed and ends the loop after the
// pieces already compared.
nfound_t compare_strips(hid_t did1, hid_t did2, const char *const names[2], dset_pair &p, const strip_plan &plan,
                        diff_options *options, bool *failed)
{
    const hid_t did[2] = {did1, did2};
    nfound_t found = 0;
    if (options->element_count == 0)
        return 0;
    strip_window *const window = options->context != nullptr ? &options->context->window : nullptr;
    if (window != nullptr && window->may_split) {
        // Several processes may share the strips: say how many there are,
        // read nothing.
        const uint64_t strips = strip_count(plan);
        if (strips >= 2) {
            window->split_strips = strips;
            return 0;
        }
    }
    const bool in_window = window != nullptr && window->piece;

    for (int k = 0; k < 2; ++k) {
        if (!p.buf[k].allocate(plan.strip_bytes)) {
            ZARN_PUSH_ERROR(zarn_err_minor, "Could not allocate buffer for strip-mine");
            *failed = true;
            return 0;
        }
    }

    const int rank = plan.rank;
    subset_spec strip_spec{};
    subset_spec *const saved_subset = options->subsets[0];
    strip_piece piece;
    for (bool more = strip_first(plan, &piece); more; more = strip_next(plan, &piece)) {
        if (in_window) {
            if (piece.index < window->strip_begin)
                continue;
            if (piece.index >= window->strip_end)
                break;
            // A piece after the first prints its strips only: the opening
            // lines are the first piece's.
            if (piece.index == window->strip_begin && !window->print_opening)
                zarn_reset_buffered_output();
        }
        const hsize_t npoints = piece.elements;
        for (int k = 0; k < 2; ++k) {
            const hyperslab &slab = piece.slab[k];
            herr_t sel;
            if (rank == 0)
                sel = H5Sselect_all(p.sid[k]);
            else if (plan.subset)
                sel = H5Sselect_hyperslab(p.sid[k], H5S_SELECT_SET, slab.start, slab.stride, slab.count,
                                          slab.block);
            else
                sel = H5Sselect_hyperslab(p.sid[k], H5S_SELECT_SET, slab.start, nullptr, slab.count, nullptr);
            if (sel < 0) {
                ZARN_PUSH_ERROR(zarn_err_minor, k == 0 ? "H5Sselect_hyperslab sid1 failed"
                                                       : "H5Sselect_hyperslab sid2 failed");
                *failed = true;
                return found;
            }
            if (!memory_space_for(p.memspace[k], npoints)) {
                *failed = true;
                return found;
            }
            p.buf[k].space = p.memspace[k];
            if (H5Dread(did[k], p.mtype[k], p.memspace[k], p.sid[k], H5P_DEFAULT, p.buf[k].data) < 0) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Dread failed");
                print_unreadable(names[k], k, options);
                *failed = true;
                return found;
            }
            p.buf[k].filled = true;
        }

        options->block_element_count = npoints;
        for (int i = 0; i < rank; ++i)
            options->block_start[i] = piece.slab[0].start[i];
        reset_positions(options);
        if (plan.subset) {
            // The report maps element indices through the first dataset's
            // selection within this piece.
            strip_spec.start = {piece.slab[0].start, static_cast<hsize_t>(rank)};
            strip_spec.stride = {piece.slab[0].stride, static_cast<hsize_t>(rank)};
            strip_spec.count = {piece.slab[0].count, static_cast<hsize_t>(rank)};
            strip_spec.block = {piece.slab[0].block, static_cast<hsize_t>(rank)};
            options->subsets[0] = &strip_spec;
        }
        found += compare_buffers(p.buf[0].data, p.buf[1].data, options, did1, did2, found);
        options->subsets[0] = saved_subset;
        p.buf[0].reclaim();
        p.buf[1].reclaim();
        if (limit_reached(options, found))
            break;
    }
    return found;
}

// --- the comparison of two open datasets ------------------------------------

struct dset_shape {
    int rank = 0;
    hsize_t dims[MIRLO_MAX_RANK] = {};
    hsize_t maxdims[MIRLO_MAX_RANK] = {};
    H5D_layout_t layout = H5D_LAYOUT_ERROR;
    bool null_space = false; // a null dataspace: no elements at all
};

// Dataspaces, shapes, file types and storage layouts of both datasets.
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
    for (int k = 0; k < 2; ++k) {
        h5_plist dcpl(H5Dget_create_plist(did[k]));
        if (!dcpl.valid()) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_create_plist failed");
            return false;
        }
        shape[k].layout = H5Pget_layout(dcpl);
        if (shape[k].layout < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pget_layout failed");
            return false;
        }
    }
    return true;
}

// Reads both datasets whole. Returns false when the buffers cannot be had
// (the caller falls back to strips); a failed read sets *failed.
bool compare_whole(const hid_t did[2], const char *const names[2], dset_pair &p, hsize_t bytes,
                   diff_options *options, nfound_t *found, bool *failed)
{
    if (!p.buf[0].allocate(bytes) || !p.buf[1].allocate(bytes)) {
        p.buf[0].release();
        p.buf[1].release();
        return false;
    }
    for (int k = 0; k < 2; ++k) {
        p.buf[k].space = p.sid[k];
        if (H5Dread(did[k], p.mtype[k], H5S_ALL, H5S_ALL, H5P_DEFAULT, p.buf[k].data) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Dread failed");
            print_unreadable(names[k], k, options);
            *failed = true;
            return true;
        }
        p.buf[k].filled = true;
    }
    std::memset(options->block_start, 0, sizeof options->block_start);
    *found = diff_array(p.buf[0].data, p.buf[1].data, options, did[0], did[1]);
    p.buf[0].release();
    p.buf[1].release();
    return true;
}

// The steps of diff_datasetid between opening and finishing. Returns the
// count; a failure sets *failed.
nfound_t compare_open_datasets(hid_t did1, hid_t did2, const char *name1, const char *name2,
                               diff_options *options, dset_pair &p, bool *failed)
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
        if (comparable_messages_wanted(options) && name1 != nullptr && name2 != nullptr)
            zarn_buffered_print("Not comparable: <%s> or <%s> is an empty dataset\n", name1, name2);
        record_not_comparable(options, "one dataset has a null dataspace (no elements), the other has elements");
        options->not_comparable = 1;
        return 0;
    }
    const bool comparable = storage_comparable(did1, did2, shape[0].layout, shape[1].layout, name1, name2,
                                               options);

    name_objects(p, options, null_if_empty(name1), null_if_empty(name2));
    int can = diff_can_type(p.ftype[0], p.ftype[1], shape[0].rank, shape[1].rank, shape[0].dims, shape[1].dims,
                            shape[0].maxdims, shape[1].maxdims, options, false);
    if (can < 0) {
        *failed = true;
        return 0;
    }
    // A pair already known not comparable needs no memory types: a type the
    // library has no native form for (a time member, say) would otherwise
    // turn a not-comparable pair into a failure.
    if (!comparable || can == 0)
        return 0;

    // Two datasets without elements have no values that could differ.
    if (element_product(shape[0].rank, shape[0].dims) == 0 && element_product(shape[1].rank, shape[1].dims) == 0)
        return 0;
    // A time value nested in an array or variable-length member has no
    // native form either: the pair is not comparable, as a time dataset is.
    if (!times_comparable(p.ftype[0], p.ftype[1], name1, name2, options))
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
    if (!signs_comparable(p.mtype[0], p.mtype[1], name1, name2, options))
        return 0;
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

    options->rank = shape[first].rank;
    for (int i = 0; i < MIRLO_MAX_RANK; ++i)
        options->dims[i] = i < options->rank ? shape[first].dims[i] : 0;
    options->mem_type_size = msize[first];
    options->mem_type_id = p.mtype[first];
    options->element_count = nelmts[first];
    options->block_element_count = options->element_count;
    name_objects(p, options, name1 != nullptr ? last_path_component(name1) : nullptr,
                 name2 != nullptr ? last_path_component(name2) : nullptr);
    reset_positions(options);

    // Strip buffers hold the larger of the two native elements.
    const size_t elem_size = std::max(msize[0], msize[1]);
    strip_plan plan;
    if (options->rank > 0 && (options->subsets[0] != nullptr || options->subsets[1] != nullptr)) {
        if (!plan_subsets(options->subsets, options->rank, shape[0].dims, shape[1].dims, elem_size, &plan)) {
            *failed = true;
            return 0;
        }
        options->element_count = plan.elements;
    } else {
        if (options->element_count == 0)
            return 0;
        nfound_t found = 0;
        if (whole_bytes < whole_read_limit && compare_whole(did, names, p, whole_bytes, options, &found, failed))
            return found;
        plan_whole_extent(options->rank, options->dims, elem_size, &plan);
    }
    return compare_strips(did1, did2, names, p, plan, options, failed);
}

} // namespace

nfound_t diff_datasetid(hid_t did1, hid_t did2, const char *name1, const char *name2, diff_options *options)
{
    char *const saved_names[2] = {options->object_names[0], options->object_names[1]};
    options->object_names[0] = options->object_names[1] = nullptr;
    bool failed = false;
    nfound_t found = 0;
    {
        h5_closed_quietly<dset_pair> p;
        found = compare_open_datasets(did1, did2, name1, name2, options, *p, &failed);
    }
    if (failed)
        options->error_status |= MIRLO_STATUS_ERROR;
    options->object_names[0] = saved_names[0];
    options->object_names[1] = saved_names[1];
    return found;
}

namespace {

// The two datasets diff_dataset opens and their creation lists.
struct opened_datasets {
    h5_dataset did[2];
    h5_plist dcpl[2];
};

// Opens both datasets and their creation lists into d; when the filters of
// both can be applied, compares them into *found. Returns the pair's status:
// 0, 1 (a filter is missing: not comparable) or MIRLO_STATUS_ERROR.
int open_and_compare(hid_t file_id1, hid_t file_id2, const char *path1, const char *path2, opened_datasets &d,
                     diff_options *local, nfound_t *found)
{
    d.did[0].reset(H5Dopen2(file_id1, path1, H5P_DEFAULT));
    if (!d.did[0].valid()) {
        zarn_buffered_print("Cannot open dataset <%s>\n", path1);
        record_error(local, "cannot open dataset <%s> in the first file", path1);
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Dopen2 first dataset failed");
        return MIRLO_STATUS_ERROR;
    }
    d.did[1].reset(H5Dopen2(file_id2, path2, H5P_DEFAULT));
    if (!d.did[1].valid()) {
        zarn_buffered_print("Cannot open dataset <%s>\n", path2);
        record_error(local, "cannot open dataset <%s> in the second file", path2);
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Dopen2 second dataset failed");
        return MIRLO_STATUS_ERROR;
    }
    d.dcpl[0].reset(H5Dget_create_plist(d.did[0]));
    if (!d.dcpl[0].valid()) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_create_plist first dataset failed");
        return MIRLO_STATUS_ERROR;
    }
    d.dcpl[1].reset(H5Dget_create_plist(d.did[1]));
    if (!d.dcpl[1].valid()) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_create_plist second dataset failed");
        return MIRLO_STATUS_ERROR;
    }
    int readable = zarn_canreadf(local->verbose_mode ? path1 : nullptr, d.dcpl[0]);
    if (readable == 1)
        readable = zarn_canreadf(local->verbose_mode ? path2 : nullptr, d.dcpl[1]);
    if (readable != 1) {
        record_not_comparable(local, "a filter the data needs is not available");
        record_error(local, "cannot read the data: a filter it needs is not available");
        local->not_comparable = 1;
        return 1;
    }
    *found = diff_datasetid(d.did[0], d.did[1], path1, path2, local);
    return local->error_status;
}

} // namespace

nfound_t diff_dataset(hid_t file_id1, hid_t file_id2, const char *path1, const char *path2,
                      diff_options *options)
{
    diff_options local = *options;
    int status = 0;
    nfound_t found = 0;
    {
        h5_closed_quietly<opened_datasets> opened;
        status = open_and_compare(file_id1, file_id2, path1, path2, *opened, &local, &found);
    }
    options->header_pending = local.header_pending;
    options->not_comparable = local.not_comparable;
    options->error_status = status | local.error_status;
    return found;
}
