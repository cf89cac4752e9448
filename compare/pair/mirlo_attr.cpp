// Attribute comparison: the attributes of two objects are merged by name,
// those on one side only are counted (and listed at verbose level 2), and
// every common pair goes through the type checks and the element comparison
// that datasets use.
#define ZARN_SOURCE "mirlo_attr"
#include "mirlo_attr.hpp"

#include "h5_handle.hpp"
#include "mirlo_array.hpp"
#include "mirlo_comparable.hpp"
#include "mirlo_dset.hpp"
#include "mirlo_read_buffer.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"
#include "zarn_fopen.hpp"
#include "zarn_utils.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Collects the attribute names of an object in increasing name order. One
// pass over the object: opening attributes by index instead would sort the
// object's attribute table again for every attribute. Names are kept whole,
// however long.
herr_t collect_name(hid_t, const char *name, const H5A_info_t *, void *op_data)
{
    try {
        static_cast<std::vector<std::string> *>(op_data)->emplace_back(name);
    } catch (...) {
        return -1;
    }
    return 0;
}

int attribute_names(hid_t loc, hsize_t count, std::vector<std::string> &names, const char *which)
{
    try {
        names.reserve(static_cast<size_t>(count));
    } catch (...) {
        ZARN_PUSH_ERROR(zarn_err_minor, "Table allocation failed");
        return -1;
    }
    hsize_t idx = 0;
    if (H5Aiterate2(loc, H5_INDEX_NAME, H5_ITER_INC, &idx, collect_name, &names) < 0) {
        print_failure_of(loc, "its attributes cannot be listed: the attribute table is damaged or unreadable");
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Aiterate2 %s object failed", which);
        return -1;
    }
    return 0;
}

// Appends a name with its presence flags; -1 when out of memory.
int table_append(attr_match_table *table, const std::string &name, uint32_t in_first, uint32_t in_second)
{
    try {
        table->entries.push_back({name, {in_first, in_second}});
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return 0;
}

void print_attr_table(const attr_match_table *table, const pair_context *ctx)
{
    if (ctx->settings->verbose_level == 2) {
        output_print(ctx->out, "   obj1   obj2\n");
        output_print(ctx->out, " --------------------------------------\n");
        for (const attr_match &e : table->entries)
            output_print(ctx->out, "%5c %6c    %-15s\n", e.exists[0] ? 'x' : ' ', e.exists[1] ? 'x' : ' ',
                                shown(e.name).c_str());
    }
    if (ctx->settings->verbose_level > 0) {
        size_t common = table->entries.size() - table->only_in_first - table->only_in_second;
        output_print(ctx->out, "Attributes status:  %zu common, %zu only in obj1, %zu only in obj2\n", common,
                            static_cast<size_t>(table->only_in_first), static_cast<size_t>(table->only_in_second));
    }
}

// Attributes on one side only, in the record of the pair.
void record_one_side_attributes(const attr_match_table &table, const pair_context *ctx)
{
    object_record *r = ctx->record;
    if (r == nullptr)
        return;
    for (const attr_match &e : table.entries) {
        if (e.exists[0] && !e.exists[1])
            r->attributes_only_in_first.push_back(e.name);
        else if (!e.exists[0] && e.exists[1])
            r->attributes_only_in_second.push_back(e.name);
    }
}

// What is held for one attribute of the pair being compared.
struct attr_side {
    h5_datatype ftype;
    h5_datatype mtype;
    h5_dataspace space;
    size_t msize = 0;
    int rank = 0;
    hsize_t dims[H5S_MAX_RANK] = {};
    read_buffer buf; // released before the types and space it names close
};

const char *const SIDE_WORDS[2] = {"first", "second"};

// The types, size, space and extent of one attribute. False, with the
// failure pushed, when one cannot be had.
bool describe_side(hid_t attr, int k, attr_side *side)
{
    side->ftype.reset(H5Aget_type(attr));
    if (!side->ftype.valid()) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Aget_type %s attribute failed", SIDE_WORDS[k]);
        return false;
    }
    side->mtype.reset(H5Tget_native_type(side->ftype, H5T_DIR_DEFAULT));
    if (!side->mtype.valid()) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Tget_native_type %s attribute ftype failed", SIDE_WORDS[k]);
        return false;
    }
    side->msize = H5Tget_size(side->mtype);
    if (side->msize == 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Tget_size %s attribute mtype failed", SIDE_WORDS[k]);
        return false;
    }
    side->space.reset(H5Aget_space(attr));
    if (!side->space.valid()) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Aget_space %s attribute failed", SIDE_WORDS[k]);
        return false;
    }
    side->rank = H5Sget_simple_extent_dims(side->space, side->dims, nullptr);
    if (side->rank < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Sget_simple_extent_dims %s attribute failed", SIDE_WORDS[k]);
        return false;
    }
    return true;
}

// The data fields of ctx for the attribute whose first side is side:
// rank, extent, strides, elements, memory type.
void describe_data(const attr_side &side, uint64_t element_count, pair_context *ctx)
{
    ctx->element_count = element_count;
    ctx->block_element_count = element_count;
    ctx->count_left = ctx->rule.count_limit;
    ctx->rank = side.rank;
    std::memset(ctx->dims, 0, sizeof ctx->dims);
    std::memset(ctx->position, 0, sizeof ctx->position);
    std::memset(ctx->block_start, 0, sizeof ctx->block_start);
    for (int d = 0; d < side.rank && d < MIRLO_MAX_RANK; ++d)
        ctx->dims[d] = side.dims[d];
    init_accumulators(side.rank, ctx->dims, ctx->accumulators);
    ctx->mem_type_id = side.mtype;
    ctx->mem_type_size = side.msize;
    ctx->relative_header = false;
}

// Reads both attributes into zero-filled buffers of at least one element
// (an attribute without elements still gets one). False when a buffer
// cannot be had or a read fails; *failed_side names the attribute then.
bool read_sides(const hid_t attrs[2], const char *const names[2], attr_side side[2], uint64_t element_count,
                pair_context *ctx, int *failed_side)
{
    const uint64_t alloc_count = element_count ? element_count : 1;
    bool allocated = true;
    for (int k = 0; k < 2; ++k) {
        if (!side[k].buf.allocate_zeroed(alloc_count, side[k].msize))
            allocated = false;
        side[k].buf.type = side[k].mtype;
        side[k].buf.space = side[k].space;
        side[k].buf.has_vlen = zarn_type_has_vlen(side[k].mtype) == 1;
    }
    if (!allocated) {
        output_print(ctx->out, "cannot read into memory\n");
        ZARN_PUSH_ERROR(zarn_err_minor, "buffer allocation failed");
        *failed_side = 0;
        return false;
    }
    for (int k = 0; k < 2; ++k) {
        if (H5Aread(attrs[k], side[k].mtype, side[k].buf.data) < 0) {
            output_print(ctx->out, "Failed reading attribute%d %s\n", k + 1, shown(names[k]).c_str());
            *failed_side = k;
            return false;
        }
        side[k].buf.filled = true;
    }
    return true;
}

// Closes what the attribute comparison opened, in order; a close that fails
// fails the comparison.
void close_sides(attr_side side[2], pair_context *ctx)
{
    for (int k = 0; k < 2; ++k)
        side[k].buf.release();
    for (int k = 0; k < 2; ++k) {
        if (side[k].ftype.close() < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Tclose %s attribute ftype failed", SIDE_WORDS[k]);
            ctx->outcome->fail();
        }
        if (side[k].space.close() < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Sclose %s attribute space failed", SIDE_WORDS[k]);
            ctx->outcome->fail();
        }
    }
    for (int k = 0; k < 2; ++k) {
        if (side[k].mtype.close() < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Tclose %s attribute mtype failed", SIDE_WORDS[k]);
            ctx->outcome->fail();
        }
    }
}

// The values of two attributes whose types can be compared, read and
// compared, with the pair line and count. Returns the differences; a
// failure to read sets *failed_side (0 or 1) and returns 0 with *failed.
nfound_t compare_values(const hid_t attrs[2], const char *const names[2], const char *const paths[2],
                        attr_side side[2], pair_context *ctx, bool *failed, int *failed_side)
{
    if (match_up_memsize(side[0].ftype, side[1].ftype, &side[0].mtype.id, &side[1].mtype.id, &side[0].msize,
                         &side[1].msize) < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "match_up_memsize failed");
        *failed = true;
        return 0;
    }
    // A null dataspace holds no element at all.
    const hssize_t npoints = H5Sget_simple_extent_npoints(side[0].space);
    if (npoints < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Sget_simple_extent_npoints first attribute failed");
        *failed = true;
        return 0;
    }
    const uint64_t element_count = static_cast<uint64_t>(npoints);
    describe_data(side[0], element_count, ctx);
    if (!read_sides(attrs, names, side, element_count, ctx, failed_side)) {
        *failed = true;
        return 0;
    }
    // The table's column titles: "name of <path>".
    const std::string headings[2] = {std::string(names[0]) + " of <" + paths[0] + ">",
                                     std::string(names[1]) + " of <" + paths[1] + ">"};
    ctx->object_names[0] = headings[0].c_str();
    ctx->object_names[1] = headings[1].c_str();
    const auto print_pair = [&]() {
        output_print(ctx->out, "%-7s: <%s> and <%s>\n", "attribute", shown(headings[0]).c_str(),
                     shown(headings[1]).c_str());
    };
    // A comparison that failed part way (a reference that leads nowhere)
    // prints no count: the failure is told on standard error instead.
    pair_outcome values;
    pair_outcome *const outer = ctx->outcome;
    ctx->outcome = &values;
    const bool listed = ctx->settings->verbose_mode || ctx->settings->report_mode;
    if (listed)
        print_pair();
    const nfound_t nfound = diff_array(side[0].buf.data, side[1].buf.data, ctx, attrs[0], attrs[1]);
    if (!values.failed()) {
        if (!listed && !ctx->settings->quiet_mode && nfound != 0)
            print_pair();
        if (listed || (!ctx->settings->quiet_mode && nfound != 0))
            print_difference_count(ctx->out, nfound);
        if (ctx->record != nullptr)
            print_statistics(*ctx->settings, ctx->out, ctx->record->data, nfound, &ctx->record->tolerance);
    }
    ctx->outcome = outer;
    outer->add(values);
    ctx->object_names[0] = ctx->object_names[1] = nullptr;
    return nfound;
}

} // namespace

bool attributes_listable(hid_t loc1, hid_t loc2)
{
    auto skip = [](hid_t, const char *, const H5A_info_t *, void *) -> herr_t { return 0; };
    for (hid_t loc : {loc1, loc2}) {
        hsize_t idx = 0;
        if (H5Aiterate2(loc, H5_INDEX_NAME, H5_ITER_INC, &idx, skip, nullptr) < 0)
            return false;
    }
    return true;
}

int build_match_list_attrs(hid_t loc1, hid_t loc2, attr_match_table *table, pair_context *ctx)
{
    *table = attr_match_table{};
    H5O_info_t oinfo1, oinfo2;
    if (H5Oget_info2(loc1, &oinfo1, H5O_INFO_NUM_ATTRS) < 0) {
        print_failure_of(loc1, "its number of attributes cannot be read");
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Oget_info first object failed");
        return -1;
    }
    if (H5Oget_info2(loc2, &oinfo2, H5O_INFO_NUM_ATTRS) < 0) {
        print_failure_of(loc2, "its number of attributes cannot be read");
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Oget_info second object failed");
        return -1;
    }
    std::vector<std::string> names1, names2;
    if (attribute_names(loc1, oinfo1.num_attrs, names1, "first") < 0 ||
        attribute_names(loc2, oinfo2.num_attrs, names2, "second") < 0)
        return -1;
    // Ignored attributes are neither compared nor listed on either side.
    if (ctx->settings != nullptr) {
        auto ignored = [&](const std::string &name) {
            return pair_attribute_ignored(*ctx->settings, ctx->rule, name);
        };
        std::erase_if(names1, ignored);
        std::erase_if(names2, ignored);
    }
    const size_t n1 = names1.size();
    const size_t n2 = names2.size();
    size_t i = 0, j = 0;
    int ret = 0;
    while (ret == 0 && i < n1 && j < n2) {
        int cmp = std::strcmp(names1[i].c_str(), names2[j].c_str());
        if (cmp == 0) {
            ret = table_append(table, names1[i], 1, 1);
            ++i;
            ++j;
        } else if (cmp < 0) {
            ret = table_append(table, names1[i], 1, 0);
            table->only_in_first++;
            ++i;
        } else {
            ret = table_append(table, names2[j], 0, 1);
            table->only_in_second++;
            ++j;
        }
    }
    for (; ret == 0 && i < n1; ++i) {
        ret = table_append(table, names1[i], 1, 0);
        table->only_in_first++;
    }
    for (; ret == 0 && j < n2; ++j) {
        ret = table_append(table, names2[j], 0, 1);
        table->only_in_second++;
    }
    if (ret < 0) {
        *table = attr_match_table{};
        return -1;
    }
    print_attr_table(table, ctx);
    return 0;
}

nfound_t diff_attr(hid_t loc1, hid_t loc2, const char *path1, const char *path2, pair_context *ctx)
{
    nfound_t total = 0;
    attr_match_table table;
    if (build_match_list_attrs(loc1, loc2, &table, ctx) < 0) {
        record_error(ctx, "the attributes cannot be listed");
        ZARN_PUSH_ERROR(zarn_err_minor, "build_match_list_attrs failed");
        ctx->outcome->fail();
        return 0;
    }
    if (table.only_in_first > 0 || table.only_in_second > 0)
        ctx->outcome->members_differ = true;
    record_one_side_attributes(table, ctx);
    const hid_t locs[2] = {loc1, loc2};
    const char *const paths[2] = {path1, path2};
    for (const attr_match &e : table.entries) {
        if (!e.exists[0] || !e.exists[1])
            continue;
        h5_attribute a[2];
        for (int k = 0; k < 2; ++k) {
            a[k].reset(H5Aopen(locs[k], e.name.c_str(), H5P_DEFAULT));
            if (a[k].valid())
                continue;
            print_failure_of(locs[k], "attribute <%s> cannot be opened", shown(e.name).c_str());
            record_error(ctx, "cannot open attribute <%s> of <%s>", e.name.c_str(), paths[k]);
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Aopen %s attribute failed", SIDE_WORDS[k]);
            ctx->outcome->fail();
            h5_errors_off quiet;
            a[0].reset();
            return total;
        }
        total += diff_attr_data(a[0], a[1], e.name.c_str(), e.name.c_str(), path1, path2, ctx);
        for (int k = 0; k < 2; ++k) {
            if (a[k].close() < 0) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Aclose %s attribute failed", SIDE_WORDS[k]);
                ctx->outcome->fail();
                h5_errors_off quiet;
                a[1].reset();
                return total;
            }
        }
    }
    return total;
}

nfound_t diff_attr_data(hid_t attr1, hid_t attr2, const char *name1, const char *name2, const char *path1,
                        const char *path2, pair_context *ctx)
{
    // Every attribute pair is a table of its own, read whole: a subset
    // given for the object does not apply to it. With records kept, it has
    // a record of its own, which joins the pair's.
    object_record record;
    pair_context actx = ctx->nested();
    actx.stats = nullptr;
    // The attributes that tie variables to their dimension scales hold
    // object references: those objects are compared in their own right,
    // so here only where the references lead counts.
    const std::string_view attr_name = name1 != nullptr ? name1 : "";
    actx.references_by_path = !ctx->settings->references_by_value &&
                              (attr_name == "DIMENSION_LIST" || attr_name == "REFERENCE_LIST");
    if (ctx->record != nullptr) {
        record.kind = "attribute";
        record_rule(&record, ctx->rule);
        record.name1 = record.name2 = name1 != nullptr ? name1 : "";
        actx.record = &record;
        actx.stats = &record.data;
    }
    const hid_t attrs[2] = {attr1, attr2};
    const char *const names[2] = {name1 != nullptr ? name1 : "", name2 != nullptr ? name2 : ""};
    const char *const paths[2] = {path1, path2};
    attr_side side[2];
    bool failed = false;
    int failed_side = 0; // the attribute named when reading fails
    nfound_t nfound = 0;
    for (int k = 0; k < 2 && !failed; ++k)
        if (!describe_side(attrs[k], k, &side[k])) {
            failed = true;
            failed_side = k;
        }
    if (!failed) {
        // Type messages name the attributes.
        actx.object_names[0] = name1;
        actx.object_names[1] = name2;
        const int can = diff_can_type(side[0].ftype, side[1].ftype, side[0].rank, side[1].rank, side[0].dims,
                                      side[1].dims, side[0].dims, side[1].dims, &actx, false);
        if (can < 0)
            print_failure_of(attr1, "its datatype cannot be read");
        // Not comparable (0) or failed (-1, the failure already noted).
        if (can == 1)
            nfound = compare_values(attrs, names, paths, side, &actx, &failed, &failed_side);
    }
    if (failed) {
        print_failure_of(attrs[failed_side], "its values cannot be read");
        record_error(&actx, "cannot read attribute <%s>", names[0]);
        actx.outcome->fail();
    }
    record.differences = nfound;
    close_sides(side, &actx);
    if (ctx->record != nullptr)
        ctx->record->attributes.push_back(std::move(record));
    return nfound;
}
