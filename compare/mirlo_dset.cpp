// Dataset comparison: opens two datasets, decides whether they can be compared,
// brings both to one native memory type, and reads them whole or strip by strip
// (subsets included), handing each pair of buffers to diff_array.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_dset.hpp"
#include "h5_handle.hpp"
#include "mirlo_array.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"
#include "zarn_filters.hpp"
#include "zarn_fopen.hpp"
#include "zarn_utils.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <optional>

namespace {

constexpr int STATUS_ERROR = 2;

// Turns HDF5's automatic error printing off while the identifiers declared
// between a quiet_close_scope and its quiet_close_trigger are closed on the
// way out of a function: the trigger, destroyed first, switches printing off;
// the scope, destroyed last, puts the saved handler back.
struct quiet_close_scope {
    std::optional<h5_errors_off> off;
};
struct quiet_close_trigger {
    quiet_close_scope &scope;
    ~quiet_close_trigger() { scope.off.emplace(); }
};

// A read buffer whose variable-length data, once a read has filled it, is
// reclaimed before the buffer is reused or released.
struct read_buffer {
    void *data = nullptr;
    hid_t type = -1;   // memory type the buffer was read with (borrowed)
    hid_t space = -1;  // space describing the buffer's elements (borrowed)
    bool has_vlen = false;
    bool filled = false;

    read_buffer() = default;
    read_buffer(const read_buffer &) = delete;
    read_buffer &operator=(const read_buffer &) = delete;
    ~read_buffer() { release(); }

    bool allocate(size_t bytes)
    {
        release();
        data = std::malloc(bytes == 0 ? 1 : bytes);
        return data != nullptr;
    }
    void reclaim()
    {
        if (filled && has_vlen)
            (void)H5Dvlen_reclaim(type, space, H5P_DEFAULT, data);
        filled = false;
    }
    void release()
    {
        reclaim();
        std::free(data);
        data = nullptr;
    }
};

// Everything one dataset comparison opens. Members are destroyed in reverse
// order, so buffers are reclaimed before the spaces and types they name close.
struct dset_pair {
    h5_dataspace sid[2];
    h5_datatype ftype[2];
    h5_datatype mtype[2];
    h5_dataspace memspace[2];
    read_buffer buf[2];
};

// One hyperslab per dimension: start, stride, count and block.
struct hyperslab {
    hsize_t start[MIRLO_MAX_RANK];
    hsize_t stride[MIRLO_MAX_RANK];
    hsize_t count[MIRLO_MAX_RANK];
    hsize_t block[MIRLO_MAX_RANK];
};

bool messages_wanted(const diff_options *options)
{
    return options->verbose_mode || options->list_not_comparable;
}

char *copy_name(const char *name)
{
    return (name != nullptr && name[0] != '\0') ? strdup(name) : nullptr;
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
void print_unreadable(const char *name)
{
    zarn_buffered_print("Cannot read dataset <%s>\n", name != nullptr ? name : "");
}

bool limit_reached(const diff_options *options, nfound_t found)
{
    return options->count_mode && found >= options->count_limit;
}

// --- subsets ---------------------------------------------------------------

// Fills the lists missing from the subset record with their defaults (start 0, stride 1,
// count 1, block 1, one entry per dimension) and stores them in the record.
bool fill_subset_defaults(subset_spec *spec, int rank)
{
    struct {
        hsize_list *list;
        hsize_t value;
    } lists[] = {{&spec->start, 0}, {&spec->stride, 1}, {&spec->count, 1}, {&spec->block, 1}};
    for (auto &l : lists) {
        if (l.list->values != nullptr && l.list->count != 0)
            continue;
        auto *values = static_cast<hsize_t *>(std::malloc(sizeof(hsize_t) * static_cast<size_t>(rank)));
        if (values == nullptr)
            return false;
        std::fill(values, values + rank, l.value);
        std::free(l.list->values);
        l.list->values = values;
        l.list->count = static_cast<hsize_t>(rank);
    }
    return true;
}

// Checks one filled record against the dataset's extent; which is 0 for the
// first object's record and 1 for the second's.
bool validate_subset(const subset_spec *spec, int which, int rank, const hsize_t *dims)
{
    const hsize_list *lists[] = {&spec->start, &spec->stride, &spec->count, &spec->block};
    for (const hsize_list *l : lists) {
        if (l->count != static_cast<hsize_t>(rank)) {
            ZARN_PUSH_ERROR(zarn_err_minor, "wrong subset selection[%d]; one value per dimension is required",
                            which);
            return false;
        }
    }
    for (int i = 0; i < rank; ++i) {
        if (spec->count.values[i] > 1 && spec->stride.values[i] < spec->block.values[i]) {
            ZARN_PUSH_ERROR(zarn_err_minor, "wrong subset selection[%d]; blocks overlap", which);
            return false;
        }
    }
    for (int i = 0; i < rank; ++i) {
        const unsigned __int128 count = spec->count.values[i];
        const unsigned __int128 block = spec->block.values[i];
        if (count == 0 || block == 0)
            continue;
        const unsigned __int128 end = spec->start.values[i] + (count - 1) * spec->stride.values[i] + block;
        if (end > dims[i]) {
            ZARN_PUSH_ERROR(zarn_err_minor, "wrong subset selection[%d]; selection exceeds the dataset extent",
                            which);
            return false;
        }
    }
    return true;
}

// Copies a record's lists into a hyperslab.
void hyperslab_from_subset(const subset_spec *spec, int rank, hyperslab *h)
{
    for (int i = 0; i < rank; ++i) {
        h->start[i] = spec->start.values[i];
        h->stride[i] = spec->stride.values[i];
        h->count[i] = spec->count.values[i];
        h->block[i] = spec->block.values[i];
    }
}

// --- strips ----------------------------------------------------------------

// How a selection is cut into strips. Both objects' selections are seen as
// one grid of selected elements, n[i] along dimension i (count x block, the
// same for both); a strip is a box of that grid, and along each dimension it
// is a regular hyperslab of each object, so both objects give the same
// elements in the same (row-major) order.
struct strip_plan {
    int rank = 0;
    bool subset = false;     // selections come from subset records
    hyperslab sel[2];        // each object's whole selection
    hsize_t n[MIRLO_MAX_RANK];      // selected elements along each dimension
    hsize_t extent[MIRLO_MAX_RANK]; // strip extent along each dimension
    hsize_t unit[MIRLO_MAX_RANK];   // strips of a cut dimension cover whole units of this many
    size_t strip_bytes = 0;         // one buffer
};

// Least common multiple, or 0 when it would not fit.
hsize_t lcm_or_zero(hsize_t a, hsize_t b)
{
    if (a == 0 || b == 0)
        return 0;
    const hsize_t g = std::gcd(a, b);
    const unsigned __int128 l = static_cast<unsigned __int128>(a / g) * b;
    return l > static_cast<hsize_t>(-1) ? 0 : static_cast<hsize_t>(l);
}

// Shapes the strips from the last dimension outwards within hyperslab_bufsize
// bytes per buffer: whole runs of the fastest dimensions, then as much of the
// next as fits, one index of the dimensions before it.
void shape_strips(strip_plan *plan, size_t elem_size)
{
    hsize_t bytes = elem_size;
    for (int i = plan->rank - 1; i >= 0; --i) {
        hsize_t size = bytes > hyperslab_bufsize ? 1 : hyperslab_bufsize / bytes;
        hsize_t e = std::min(plan->n[i], size);
        hsize_t unit = 1;
        if (plan->subset)
            unit = lcm_or_zero(plan->sel[0].block[i], plan->sel[1].block[i]);
        plan->unit[i] = unit;
        if (e < plan->n[i] && unit > 1 && e >= unit)
            e = e / unit * unit;
        plan->extent[i] = std::max<hsize_t>(e, 1);
        bytes *= plan->extent[i];
    }
    plan->strip_bytes = static_cast<size_t>(bytes);
}

// The piece of object k's selection that covers grid indices [g, g + x)
// along dimension i.
void strip_dimension(const strip_plan &plan, int k, int i, hsize_t g, hsize_t x, hyperslab *out)
{
    const hyperslab &s = plan.sel[k];
    if (x == plan.n[i]) {
        out->start[i] = s.start[i];
        out->stride[i] = s.stride[i];
        out->count[i] = s.count[i];
        out->block[i] = s.block[i];
        return;
    }
    const hsize_t b = s.block[i];
    if (g % b == 0 && x % b == 0) {
        out->start[i] = s.start[i] + (g / b) * s.stride[i];
        out->stride[i] = s.stride[i];
        out->count[i] = x / b;
        out->block[i] = b;
    } else {
        // Inside one block.
        out->start[i] = s.start[i] + (g / b) * s.stride[i] + g % b;
        out->stride[i] = 1;
        out->count[i] = 1;
        out->block[i] = x;
    }
}

// Extent of the strip starting at grid index g along dimension i.
hsize_t strip_extent(const strip_plan &plan, int i, hsize_t g)
{
    if (plan.extent[i] >= plan.n[i])
        return plan.n[i];
    hsize_t x = std::min(plan.extent[i], plan.n[i] - g);
    if (plan.subset && (plan.unit[i] == 0 || plan.extent[i] < plan.unit[i])) {
        // Strips shorter than a common unit must stay inside one block of each object.
        for (int k = 0; k < 2; ++k) {
            const hsize_t b = plan.sel[k].block[i];
            x = std::min(x, b - g % b);
        }
    }
    return x;
}

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

// Compares the selections of plan strip by strip. The two strip buffers and
// memory spaces are made once and reused. Returns the differences found; a
// failure sets *failed and ends the loop after the strips already compared.
nfound_t compare_strips(hid_t did1, hid_t did2, const char *const names[2], dset_pair &p, strip_plan &plan,
                        diff_options *options, bool *failed)
{
    const hid_t did[2] = {did1, did2};
    nfound_t found = 0;
    if (options->element_count == 0)
        return 0;

    for (int k = 0; k < 2; ++k) {
        if (!p.buf[k].allocate(plan.strip_bytes)) {
            ZARN_PUSH_ERROR(zarn_err_minor, "Could not allocate buffer for strip-mine");
            *failed = true;
            return 0;
        }
    }

    const int rank = plan.rank;
    hsize_t grid[MIRLO_MAX_RANK] = {};
    hsize_t x[MIRLO_MAX_RANK];
    hyperslab piece[2];
    subset_spec strip_spec{};
    subset_spec *const saved_subset = options->subsets[0];
    uint64_t compared = 0;

    while (compared < options->element_count) {
        hsize_t npoints = 1;
        for (int i = 0; i < rank; ++i) {
            x[i] = strip_extent(plan, i, grid[i]);
            npoints *= x[i];
            for (int k = 0; k < 2; ++k)
                strip_dimension(plan, k, i, grid[i], x[i], &piece[k]);
        }

        for (int k = 0; k < 2; ++k) {
            herr_t sel;
            if (rank == 0)
                sel = H5Sselect_all(p.sid[k]);
            else if (plan.subset)
                sel = H5Sselect_hyperslab(p.sid[k], H5S_SELECT_SET, piece[k].start, piece[k].stride,
                                          piece[k].count, piece[k].block);
            else
                sel = H5Sselect_hyperslab(p.sid[k], H5S_SELECT_SET, piece[k].start, nullptr, piece[k].count,
                                          nullptr);
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
                print_unreadable(names[k]);
                *failed = true;
                return found;
            }
            p.buf[k].filled = true;
        }

        options->block_element_count = npoints;
        for (int i = 0; i < rank; ++i)
            options->block_start[i] = piece[0].start[i];
        reset_positions(options);
        if (plan.subset) {
            // The report maps element indices through the first object's
            // selection within this strip.
            strip_spec.start = {piece[0].start, static_cast<hsize_t>(rank)};
            strip_spec.stride = {piece[0].stride, static_cast<hsize_t>(rank)};
            strip_spec.count = {piece[0].count, static_cast<hsize_t>(rank)};
            strip_spec.block = {piece[0].block, static_cast<hsize_t>(rank)};
            options->subsets[0] = &strip_spec;
        }
        found += compare_buffers(p.buf[0].data, p.buf[1].data, options, did1, did2, found);
        options->subsets[0] = saved_subset;
        p.buf[0].reclaim();
        p.buf[1].reclaim();

        compared += npoints;
        if (limit_reached(options, found))
            break;

        // Next strip: advance the last dimension, carrying into the one
        // before it when the last wraps.
        for (int i = rank - 1; i >= 0; --i) {
            grid[i] += x[i];
            if (grid[i] < plan.n[i])
                break;
            grid[i] = 0;
        }
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

// Storage test: false when one dataset has storage and the other, not
// virtual, has none. Two datasets that both have no storage hold nothing but
// their fill values (or no elements at all) and are compared like any pair,
// so that a file compared with its own copy is found equal.
bool storage_comparable(hid_t did1, hid_t did2, const dset_shape shape[2], const char *name1, const char *name2,
                        diff_options *options)
{
    const bool stored1 = H5Dget_storage_size(did1) != 0;
    const bool stored2 = H5Dget_storage_size(did2) != 0;
    if (stored1 && stored2)
        return true;
    const bool print = messages_wanted(options) && name1 != nullptr && name2 != nullptr;
    if (shape[0].layout == H5D_VIRTUAL || shape[1].layout == H5D_VIRTUAL) {
        if (print)
            zarn_buffered_print("Warning: <%s> or <%s> is a virtual dataset\n", name1, name2);
        return true;
    }
    if (!stored1 && !stored2)
        return true;
    if (print)
        zarn_buffered_print("Not comparable: <%s> or <%s> is an empty dataset\n", name1, name2);
    options->not_comparable = 1;
    return false;
}

// Sign test of the two native types.
bool signs_comparable(hid_t mtype1, hid_t mtype2, const char *name1, const char *name2, diff_options *options)
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
    if (messages_wanted(options) && name1 != nullptr && name2 != nullptr) {
        zarn_buffered_print("Not comparable: <%s> has sign %s ", name1, sign_label(sign1));
        zarn_buffered_print("and <%s> has sign %s\n", name2, sign_label(sign2));
    }
    options->not_comparable = 1;
    return false;
}

// Strips over the whole extent.
void plan_whole_extent(const diff_options *options, strip_plan *plan)
{
    plan->rank = options->rank;
    for (int i = 0; i < plan->rank; ++i) {
        for (hyperslab &h : plan->sel) {
            h.start[i] = 0;
            h.stride[i] = 1;
            h.count[i] = options->dims[i];
            h.block[i] = 1;
        }
        plan->n[i] = options->dims[i];
    }
}

// Strips over the subsets: fills in and checks each record given, and uses
// a record given for one object only for both. Sets element_count. Selections
// of different shapes (same number of elements) are compared in selection
// order in one strip, when they fit one. False on failure.
bool plan_subsets(diff_options *options, const dset_shape shape[2], size_t elem_size, strip_plan *plan)
{
    subset_spec *rec[2] = {options->subsets[0], options->subsets[1]};
    plan->rank = options->rank;
    plan->subset = true;
    for (int k = 0; k < 2; ++k) {
        if (rec[k] == nullptr)
            continue;
        if (!fill_subset_defaults(rec[k], shape[k].rank)) {
            ZARN_PUSH_ERROR(zarn_err_minor, "Could not allocate subset lists");
            return false;
        }
        if (!validate_subset(rec[k], k, shape[k].rank, shape[k].dims))
            return false;
    }
    hyperslab_from_subset(rec[0] ? rec[0] : rec[1], plan->rank, &plan->sel[0]);
    hyperslab_from_subset(rec[1] ? rec[1] : rec[0], plan->rank, &plan->sel[1]);

    hsize_t total[2] = {1, 1};
    bool same_shape = true;
    for (int i = 0; i < plan->rank; ++i) {
        plan->n[i] = plan->sel[0].count[i] * plan->sel[0].block[i];
        const hsize_t n2 = plan->sel[1].count[i] * plan->sel[1].block[i];
        same_shape = same_shape && n2 == plan->n[i];
        total[0] *= plan->n[i];
        total[1] *= n2;
    }
    if (total[0] != total[1]) {
        ZARN_PUSH_ERROR(zarn_err_minor, "subset selections hold different numbers of elements");
        return false;
    }
    options->element_count = total[0];
    if (same_shape) {
        shape_strips(plan, elem_size);
        return true;
    }
    const hsize_t bytes = total[0] * elem_size;
    if (bytes > hyperslab_bufsize) {
        ZARN_PUSH_ERROR(zarn_err_minor, "subset selections of different shapes exceed one strip");
        return false;
    }
    // Every dimension whole: each object reads its own selection.
    for (int i = 0; i < plan->rank; ++i) {
        plan->extent[i] = plan->n[i];
        plan->unit[i] = 1;
    }
    plan->strip_bytes = static_cast<size_t>(bytes);
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
            print_unreadable(names[k]);
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
        if (messages_wanted(options) && name1 != nullptr && name2 != nullptr)
            zarn_buffered_print("Not comparable: <%s> or <%s> is an empty dataset\n", name1, name2);
        options->not_comparable = 1;
        return 0;
    }
    const bool comparable = storage_comparable(did1, did2, shape, name1, name2, options);

    options->object_names[0] = copy_name(name1);
    options->object_names[1] = copy_name(name2);
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
    if (H5Tdetect_class(p.ftype[0], H5T_TIME) > 0 || H5Tdetect_class(p.ftype[1], H5T_TIME) > 0) {
        if (messages_wanted(options) && name1 != nullptr && name2 != nullptr)
            zarn_buffered_print("Not comparable: <%s> and <%s> are of class %s\n", name1, name2, "H5T_TIME");
        options->not_comparable = 1;
        return 0;
    }
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
    for (int k = 0; k < 2; ++k) {
        const char *name = k == 0 ? name1 : name2;
        std::free(options->object_names[k]);
        options->object_names[k] = name != nullptr ? strdup(last_path_component(name)) : nullptr;
    }
    reset_positions(options);

    // Strip buffers hold the larger of the two native elements.
    const size_t elem_size = std::max(msize[0], msize[1]);
    strip_plan plan;
    if (options->rank > 0 && (options->subsets[0] != nullptr || options->subsets[1] != nullptr)) {
        if (!plan_subsets(options, shape, elem_size, &plan)) {
            *failed = true;
            return 0;
        }
    } else {
        if (options->element_count == 0)
            return 0;
        nfound_t found = 0;
        if (whole_bytes < whole_read_limit && compare_whole(did, names, p, whole_bytes, options, &found, failed))
            return found;
        plan_whole_extent(options, &plan);
        shape_strips(&plan, elem_size);
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
        quiet_close_scope quiet;
        dset_pair p;
        quiet_close_trigger trigger{quiet};
        found = compare_open_datasets(did1, did2, name1, name2, options, p, &failed);
    }
    if (failed)
        options->error_status |= STATUS_ERROR;
    for (int k = 0; k < 2; ++k) {
        std::free(options->object_names[k]);
        options->object_names[k] = saved_names[k];
    }
    return found;
}

nfound_t diff_dataset(hid_t file_id1, hid_t file_id2, const char *path1, const char *path2,
                      diff_options *options)
{
    diff_options local = *options;
    int status = 0;
    nfound_t found = 0;
    {
        quiet_close_scope quiet;
        h5_dataset did1;
        h5_dataset did2;
        h5_plist dcpl1;
        h5_plist dcpl2;
        quiet_close_trigger trigger{quiet};

        did1.reset(H5Dopen2(file_id1, path1, H5P_DEFAULT));
        if (!did1.valid()) {
            zarn_buffered_print("Cannot open dataset <%s>\n", path1);
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Dopen2 first dataset failed");
            status = STATUS_ERROR;
        }
        if (status == 0) {
            did2.reset(H5Dopen2(file_id2, path2, H5P_DEFAULT));
            if (!did2.valid()) {
                zarn_buffered_print("Cannot open dataset <%s>\n", path2);
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Dopen2 second dataset failed");
                status = STATUS_ERROR;
            }
        }
        if (status == 0) {
            dcpl1.reset(H5Dget_create_plist(did1));
            if (!dcpl1.valid()) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_create_plist first dataset failed");
                status = STATUS_ERROR;
            }
        }
        if (status == 0) {
            dcpl2.reset(H5Dget_create_plist(did2));
            if (!dcpl2.valid()) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Dget_create_plist second dataset failed");
                status = STATUS_ERROR;
            }
        }
        if (status == 0) {
            int readable = zarn_canreadf(local.verbose_mode ? path1 : nullptr, dcpl1);
            if (readable == 1)
                readable = zarn_canreadf(local.verbose_mode ? path2 : nullptr, dcpl2);
            if (readable != 1) {
                local.not_comparable = 1;
                status = 1;
            } else {
                found = diff_datasetid(did1, did2, path1, path2, &local);
                status = local.error_status;
            }
        }
    }
    options->header_pending = local.header_pending;
    options->not_comparable = local.not_comparable;
    options->error_status = status | local.error_status;
    return found;
}

int diff_can_type(hid_t f_tid1, hid_t f_tid2, int rank1, int rank2, const hsize_t *dims1, const hsize_t *dims2,
                  const hsize_t *maxdim1, const hsize_t *maxdim2, diff_options *options, bool in_compound)
{
    const char *obj1 = options->object_names[0];
    const char *obj2 = options->object_names[1];
    const bool names = obj1 != nullptr && obj2 != nullptr;
    const bool print = messages_wanted(options) && names;

    H5T_class_t cls1 = H5Tget_class(f_tid1);
    if (cls1 < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Tget_class first object failed");
        options->error_status |= STATUS_ERROR;
        return -1;
    }
    H5T_class_t cls2 = H5Tget_class(f_tid2);
    if (cls2 < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Tget_class second object failed");
        options->error_status |= STATUS_ERROR;
        return -1;
    }

    if (cls1 != cls2) {
        if (print) {
            if (in_compound)
                zarn_buffered_print("Not comparable: <%s> has a class %s and <%s> has a class %s\n", obj1,
                                    class_label(cls1), obj2, class_label(cls2));
            else
                zarn_buffered_print("Not comparable: <%s> is of class %s and <%s> is of class %s\n", obj1,
                                    class_label(cls1), obj2, class_label(cls2));
        }
        options->not_comparable = 1;
        return 0;
    }

    if (cls1 == H5T_TIME) {
        if (print)
            zarn_buffered_print("Not comparable: <%s> and <%s> are of class %s\n", obj1, obj2, "H5T_TIME");
        options->not_comparable = 1;
        return 0;
    }

    if (H5Tequal(f_tid1, f_tid2) == 0 && options->verbose_mode && names) {
        zarn_buffered_print("Warning: different storage datatype\n");
        if (cls1 == H5T_INTEGER || cls1 == H5T_FLOAT) {
            zarn_buffered_print("<%s> has file datatype ", obj1);
            print_file_type_name(f_tid1);
            zarn_buffered_print("\n");
            zarn_buffered_print("<%s> has file datatype ", obj2);
            print_file_type_name(f_tid2);
            zarn_buffered_print("\n");
        }
    }

    auto print_shapes = [&]() {
        zarn_buffered_print("Not comparable: <%s> has rank %d, dimensions ", obj1, rank1);
        print_extent(rank1, dims1);
        zarn_buffered_print(", max dimensions ");
        print_extent(rank1, maxdim1);
        zarn_buffered_print("\n");
        zarn_buffered_print("and <%s> has rank %d, dimensions ", obj2, rank2);
        print_extent(rank2, dims2);
        zarn_buffered_print(", max dimensions ");
        print_extent(rank2, maxdim2);
        zarn_buffered_print("\n");
    };

    if (rank1 != rank2) {
        if (print)
            print_shapes();
        options->not_comparable = 1;
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
        options->not_comparable = 1;
        return 0;
    }
    if (maxdims_differ && options->verbose_mode && obj1 != nullptr) {
        zarn_buffered_print("Warning: different maximum dimensions\n");
        zarn_buffered_print("<%s> has max dimensions ", obj1);
        print_extent(rank1, maxdim1);
        zarn_buffered_print("\n");
        zarn_buffered_print("<%s> has max dimensions ", obj2);
        print_extent(rank2, maxdim2);
        zarn_buffered_print("\n");
    }

    if (cls1 == H5T_COMPOUND) {
        int n1 = H5Tget_nmembers(f_tid1);
        int n2 = H5Tget_nmembers(f_tid2);
        if (n1 != n2) {
            if (print) {
                zarn_buffered_print("Not comparable: <%s> has %d members ", obj1, n1);
                zarn_buffered_print("<%s> has %d members ", obj2, n2);
                zarn_buffered_print("\n");
            }
            options->not_comparable = 1;
            return 0;
        }
        for (int i = 0; i < n1; ++i) {
            h5_datatype m1(H5Tget_member_type(f_tid1, static_cast<unsigned>(i)));
            h5_datatype m2(H5Tget_member_type(f_tid2, static_cast<unsigned>(i)));
            if (diff_can_type(m1, m2, rank1, rank2, dims1, dims2, maxdim1, maxdim2, options, true) != 1) {
                options->not_comparable = 1;
                return 0;
            }
        }
    }

    if (cls1 == H5T_STRING) {
        htri_t vstr1 = H5Tis_variable_str(f_tid1);
        htri_t vstr2 = H5Tis_variable_str(f_tid2);
        if (vstr1 != vstr2) {
            if (print)
                zarn_buffered_print("Not comparable: <%s> or <%s> is of mixed string type\n", obj1, obj2);
            options->not_comparable = 1;
            return 0;
        }
    }
    return 1;
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
