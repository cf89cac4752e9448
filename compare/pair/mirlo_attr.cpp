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

void print_attr_table(const attr_match_table *table, const diff_options *options)
{
    if (options->verbose_level == 2) {
        zarn_buffered_print("   obj1   obj2\n");
        zarn_buffered_print(" --------------------------------------\n");
        for (const attr_match &e : table->entries)
            zarn_buffered_print("%5c %6c    %-15s\n", e.exists[0] ? 'x' : ' ', e.exists[1] ? 'x' : ' ',
                                zarn_printable_name(e.name.c_str()).c_str());
    }
    if (options->verbose_level > 0) {
        size_t common = table->entries.size() - table->only_in_first - table->only_in_second;
        zarn_buffered_print("Attributes status:  %zu common, %zu only in obj1, %zu only in obj2\n", common,
                            static_cast<size_t>(table->only_in_first), static_cast<size_t>(table->only_in_second));
    }
}

// "%s of <%s>": the attribute name and its object's path, as a table heading.
char *make_heading(const char *name, const char *path)
{
    int len = std::snprintf(nullptr, 0, "%s of <%s>", name, path);
    if (len < 0)
        return nullptr;
    auto *text = static_cast<char *>(std::malloc(static_cast<size_t>(len) + 1));
    if (text)
        std::snprintf(text, static_cast<size_t>(len) + 1, "%s of <%s>", name, path);
    return text;
}

// Attributes on one side only, in the record of the pair.
void record_one_side_attributes(const attr_match_table &table, const diff_options *options)
{
    object_record *r = record_of(options);
    if (r == nullptr)
        return;
    for (const attr_match &e : table.entries) {
        if (e.exists[0] && !e.exists[1])
            r->attributes_only_in_first.push_back(e.name);
        else if (!e.exists[0] && e.exists[1])
            r->attributes_only_in_second.push_back(e.name);
    }
}

// While it lives, the record of the pair being compared gives way to the
// record of one of its attribute pairs, which then joins the pair's record.
struct attribute_record {
    diff_options *options;
    object_record *parent;
    object_record record;
    attribute_record(diff_options *o, const char *name) : options(o), parent(record_of(o))
    {
        if (parent == nullptr)
            return;
        record.kind = "attribute";
        record.name1 = record.name2 = name != nullptr ? name : "";
        options->context->record = &record;
        options->context->stats = &record.data;
    }
    ~attribute_record()
    {
        if (parent == nullptr)
            return;
        options->context->record = parent;
        options->context->stats = nullptr;
        parent->attributes.push_back(std::move(record));
    }
    attribute_record(const attribute_record &) = delete;
    attribute_record &operator=(const attribute_record &) = delete;
};

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

int build_match_list_attrs(hid_t loc1, hid_t loc2, attr_match_table *table, diff_options *options)
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
    print_attr_table(table, options);
    return 0;
}

nfound_t diff_attr(hid_t loc1, hid_t loc2, const char *path1, const char *path2, diff_options *options)
{
    // The working fields of the caller's record are left as they were.
    // Attributes are always read whole: a subset given for the object does
    // not apply to them.
    diff_options opts = *options;
    opts.subsets[0] = opts.subsets[1] = nullptr;
    int status = options->error_status;
    nfound_t total = 0;

    attr_match_table table;
    if (build_match_list_attrs(loc1, loc2, &table, &opts) < 0) {
        record_error(&opts, "the attributes cannot be listed");
        ZARN_PUSH_ERROR(zarn_err_minor, "build_match_list_attrs failed");
        status = 2;
    } else {
        if (table.only_in_first > 0 || table.only_in_second > 0)
            opts.contents_equal = 0;
        record_one_side_attributes(table, &opts);
        for (const attr_match &e : table.entries) {
            if (!e.exists[0] || !e.exists[1])
                continue;
            h5_attribute a1(H5Aopen(loc1, e.name.c_str(), H5P_DEFAULT));
            if (!a1.valid()) {
                print_failure_of(loc1, "attribute <%s> cannot be opened", zarn_printable_name(e.name.c_str()).c_str());
                record_error(&opts, "cannot open attribute <%s> of <%s>", e.name.c_str(), path1);
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Aopen first attribute failed");
                status = 2;
                break;
            }
            h5_attribute a2(H5Aopen(loc2, e.name.c_str(), H5P_DEFAULT));
            if (!a2.valid()) {
                print_failure_of(loc2, "attribute <%s> cannot be opened", zarn_printable_name(e.name.c_str()).c_str());
                record_error(&opts, "cannot open attribute <%s> of <%s>", e.name.c_str(), path2);
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Aopen second attribute failed");
                status = 2;
                h5_errors_off quiet;
                a1.reset();
                break;
            }
            total += diff_attr_data(a1, a2, e.name.c_str(), e.name.c_str(), path1, path2, &opts);
            if (a1.close() < 0) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Aclose first attribute failed");
                status = 2;
                h5_errors_off quiet;
                a2.reset();
                break;
            }
            if (a2.close() < 0) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Aclose second attribute failed");
                status = 2;
                break;
            }
        }
    }

    options->header_pending = opts.header_pending;
    options->not_comparable = opts.not_comparable;
    options->contents_equal = opts.contents_equal;
    options->error_status = status | opts.error_status;
    return total;
}

nfound_t diff_attr_data(hid_t attr1, hid_t attr2, const char *name1, const char *name2, const char *path1,
                        const char *path2, diff_options *options)
{
    int status = options->error_status;
    nfound_t nfound = 0;
    attr_side side[2];
    const hid_t attrs[2] = {attr1, attr2};
    const char *which[2] = {"first", "second"};
    char *const saved_names[2] = {options->object_names[0], options->object_names[1]};
    zarn_malloc_ptr<char> names[2];
    zarn_malloc_ptr<char> headings[2];
    bool failed = false;
    int failed_side = 0; // the attribute named when reading fails
    attribute_record recorded(options, name1);

    do {
        for (int i = 0; i < 2 && !failed; ++i) {
            side[i].ftype.reset(H5Aget_type(attrs[i]));
            if (!side[i].ftype.valid()) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Aget_type %s attribute failed", which[i]);
                failed = true;
                failed_side = i;
            }
        }
        for (int i = 0; i < 2 && !failed; ++i) {
            side[i].mtype.reset(H5Tget_native_type(side[i].ftype, H5T_DIR_DEFAULT));
            if (!side[i].mtype.valid()) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Tget_native_type %s attribute ftype failed", which[i]);
                failed = true;
                failed_side = i;
            }
        }
        for (int i = 0; i < 2 && !failed; ++i) {
            side[i].msize = H5Tget_size(side[i].mtype);
            if (side[i].msize == 0) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Tget_size %s attribute mtype failed", which[i]);
                failed = true;
                failed_side = i;
            }
        }
        for (int i = 0; i < 2 && !failed; ++i) {
            side[i].space.reset(H5Aget_space(attrs[i]));
            if (!side[i].space.valid()) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Aget_space %s attribute failed", which[i]);
                failed = true;
                failed_side = i;
            }
        }
        for (int i = 0; i < 2 && !failed; ++i) {
            side[i].rank = H5Sget_simple_extent_dims(side[i].space, side[i].dims, nullptr);
            if (side[i].rank < 0) {
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Sget_simple_extent_dims %s attribute failed", which[i]);
                failed = true;
                failed_side = i;
            }
        }
        if (failed)
            break;

        // Type messages name the attributes.
        names[0].reset(name1 ? strdup(name1) : nullptr);
        names[1].reset(name2 ? strdup(name2) : nullptr);
        options->object_names[0] = names[0].get();
        options->object_names[1] = names[1].get();

        int can = diff_can_type(side[0].ftype, side[1].ftype, side[0].rank, side[1].rank, side[0].dims,
                                side[1].dims, side[0].dims, side[1].dims, options, false);
        if (can < 0)
            print_failure_of(attr1, "its datatype cannot be read");
        if (can != 1)
            break; // not comparable (0) or failed (-1, error_status already set)

        if (match_up_memsize(side[0].ftype, side[1].ftype, &side[0].mtype.id, &side[1].mtype.id, &side[0].msize,
                             &side[1].msize) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "match_up_memsize failed");
            failed = true;
            break;
        }

        // A null dataspace holds no element at all.
        hssize_t npoints = H5Sget_simple_extent_npoints(side[0].space);
        if (npoints < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Sget_simple_extent_npoints first attribute failed");
            failed = true;
            break;
        }
        const uint64_t element_count = static_cast<uint64_t>(npoints);
        options->element_count = element_count;
        options->rank = side[0].rank;
        std::memset(options->dims, 0, sizeof options->dims);
        std::memset(options->position, 0, sizeof options->position);
        std::memset(options->min_index, 0, sizeof options->min_index);
        for (int d = 0; d < side[0].rank; ++d)
            options->dims[d] = side[0].dims[d];
        std::memcpy(options->max_index, options->dims, sizeof options->max_index);
        init_accumulators(side[0].rank, options->dims, options->accumulators, options->position,
                          options->min_index);

        // Zero-filled, and at least one element, so that an attribute without
        // elements still gets a buffer.
        const uint64_t alloc_count = element_count ? element_count : 1;
        bool allocated = true;
        for (int i = 0; i < 2; ++i) {
            if (!side[i].buf.allocate_zeroed(alloc_count, side[i].msize))
                allocated = false;
            side[i].buf.type = side[i].mtype;
            side[i].buf.space = side[i].space;
            side[i].buf.has_vlen = zarn_type_has_vlen(side[i].mtype) == 1;
        }
        if (!allocated) {
            zarn_buffered_print("cannot read into memory\n");
            ZARN_PUSH_ERROR(zarn_err_minor, "buffer allocation failed");
            failed = true;
            break;
        }
        if (H5Aread(attr1, side[0].mtype, side[0].buf.data) < 0) {
            zarn_buffered_print("Failed reading attribute1 %s\n", zarn_printable_name(name1).c_str());
            failed = true;
            break;
        }
        side[0].buf.filled = true;
        if (H5Aread(attr2, side[1].mtype, side[1].buf.data) < 0) {
            zarn_buffered_print("Failed reading attribute2 %s\n", zarn_printable_name(name2).c_str());
            failed = true;
            failed_side = 1;
            break;
        }
        side[1].buf.filled = true;

        headings[0].reset(make_heading(name1, path1));
        headings[1].reset(make_heading(name2, path2));
        if (!headings[0] || !headings[1]) {
            ZARN_PUSH_ERROR(zarn_err_minor, "name buffer allocation failed");
            failed = true;
            break;
        }
        options->object_names[0] = headings[0].get();
        options->object_names[1] = headings[1].get();

        options->block_element_count = element_count;
        options->mem_type_id = side[0].mtype;
        options->mem_type_size = side[0].msize;
        options->relative_header = 0;
        std::memset(options->block_start, 0, sizeof options->block_start);

        auto print_pair = [&]() {
            zarn_buffered_print("%-7s: <%s> and <%s>\n", "attribute", zarn_printable_name(headings[0].get()).c_str(),
                                zarn_printable_name(headings[1].get()).c_str());
        };
        // A comparison that failed part way (a reference that leads nowhere)
        // prints no count: the failure is told on standard error instead.
        const int status_before = options->error_status;
        options->error_status = 0;
        if (options->verbose_mode || options->report_mode) {
            print_pair();
            nfound = diff_array(side[0].buf.data, side[1].buf.data, options, attr1, attr2);
            if ((options->error_status & 2) == 0)
                print_difference_count(nfound);
        } else {
            nfound = diff_array(side[0].buf.data, side[1].buf.data, options, attr1, attr2);
            if (!options->quiet_mode && nfound != 0 && (options->error_status & 2) == 0) {
                print_pair();
                print_difference_count(nfound);
            }
        }
        const bool failed_part_way = (options->error_status & 2) != 0;
        options->error_status |= status_before;
        if (recorded.parent != nullptr && !failed_part_way)
            print_statistics(options, recorded.record.data, nfound);
    } while (false);

    if (failed) {
        print_failure_of(attrs[failed_side], "its values cannot be read");
        record_error(options, "cannot read attribute <%s>", name1 != nullptr ? name1 : "");
        status = 2;
    }
    recorded.record.differences = nfound;

    options->object_names[0] = saved_names[0];
    options->object_names[1] = saved_names[1];

    for (attr_side &s : side)
        s.buf.release();
    for (int i = 0; i < 2; ++i) {
        if (side[i].ftype.close() < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Tclose %s attribute ftype failed", which[i]);
            status = 2;
        }
        if (side[i].space.close() < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Sclose %s attribute space failed", which[i]);
            status = 2;
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (side[i].mtype.close() < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Tclose %s attribute mtype failed", which[i]);
            status = 2;
        }
    }
    options->error_status |= status;
    return nfound;
}
