// Comparison of one pair of objects: links first (followed on request), then
// by kind: groups and named datatypes compare their attributes, datasets
// their data and attributes, links their values.
#define ZARN_SOURCE "mirlo"
#include "mirlo_diff.hpp"
#include "h5_handle.hpp"
#include "mirlo_attr.hpp"
#include "mirlo_dset.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Closes whatever the pair opened with HDF5's error printing off.
struct pair_objects {
    h5_group grp1, grp2;
    h5_dataset dset1, dset2;
    h5_datatype type1, type2;
    ~pair_objects()
    {
        h5_errors_off quiet;
        grp1.reset();
        grp2.reset();
        dset1.reset();
        dset2.reset();
        type1.reset();
        type2.reset();
    }
};

bool is_link_kind(int t)
{
    return t == TREK_LINK || t == TREK_UDLINK;
}

const char *udlink_word(const link_target &l1, const link_target &l2)
{
    return l1.info.link_info.type == H5L_TYPE_EXTERNAL && l2.info.link_info.type == H5L_TYPE_EXTERNAL
               ? "external link"
               : "user defined link";
}

// A name as printed in messages: control characters escaped.
std::string shown(const char *name)
{
    return zarn_printable_name(name);
}

// False when the attributes of a pair that are still to be compared cannot
// even be listed: the pair is then going to fail, and its count line must
// not say "0 differences found" before the failure is told.
bool attributes_follow(hid_t loc1, hid_t loc2, bool excluded)
{
    return excluded || attributes_listable(loc1, loc2);
}

// The pair's kind in its record, when one is kept.
void record_kind(const diff_options *options, const char *word)
{
    if (object_record *r = record_of(options))
        r->kind = word;
}

// An object of the pair that cannot be opened (side 0 or 1): named in the
// report, on standard error with its file, and in the pair's record. word is
// the report's word for the kind, long_word the one of the message.
void report_unopenable(const char *word, const char *long_word, int side, hid_t file1_id, const char *path1,
                       hid_t file2_id, const char *path2, const diff_options *options)
{
    const char *path = side == 0 ? path1 : path2;
    zarn_buffered_print("Cannot open %s <%s>\n", word, shown(path).c_str());
    print_failure_in(side == 0 ? file1_id : file2_id, path, "the %s cannot be opened", long_word);
    record_error(options, "cannot open %s <%s> in the %s file", word, path, side == 0 ? "first" : "second");
}

// While it lives, the statistics of the dataset's data are gathered into the
// pair's record, when one is kept.
struct dataset_statistics {
    diff_options *options;
    explicit dataset_statistics(diff_options *o) : options(o)
    {
        if (object_record *r = record_of(o))
            o->context->stats = &r->data;
    }
    ~dataset_statistics()
    {
        if (options->context != nullptr)
            options->context->stats = nullptr;
    }
    dataset_statistics(const dataset_statistics &) = delete;
    dataset_statistics &operator=(const dataset_statistics &) = delete;
};

} // namespace

void print_found(const char *kind, const char *path1, const char *path2, const diff_options *options)
{
    if (options->verbose_level > 0)
        zarn_buffered_print("\n");
    zarn_buffered_print("%-7s: <%s> and <%s>\n", kind, shown(path1).c_str(), shown(path2).c_str());
}

void print_dataset_opening(const char *path1, const char *path2, const diff_options *options)
{
    if (options->verbose_mode || options->report_mode)
        print_found("dataset", path1, path2, options);
}

void print_dataset_count(const char *path1, const char *path2, nfound_t nfound, bool failed,
                         bool attributes_listed, const diff_options *options)
{
    if (failed)
        return;
    if (options->verbose_mode || options->report_mode) {
        if (nfound != 0 || attributes_listed)
            print_difference_count(nfound);
    } else if (!options->quiet_mode && nfound != 0) {
        print_found("dataset", path1, path2, options);
        print_difference_count(nfound);
    }
}

void print_dataset_statistics(nfound_t nfound, const diff_options *options)
{
    if (const object_record *r = record_of(options))
        print_statistics(options, r->data, nfound);
}

nfound_t diff_dataset_piece(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                            diff_options *options, object_pair_info *)
{
    record_kind(options, "dataset");
    if (options->context == nullptr || options->context->window.print_opening)
        print_dataset_opening(path1, path2, options);
    dataset_statistics gathered(options);
    return diff_dataset(file1_id, file2_id, path1, path2, options);
}

nfound_t diff_dataset_attributes(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                                 diff_options *options, object_pair_info *)
{
    record_kind(options, "dataset");
    pair_objects objs;
    {
        h5_errors_off quiet;
        objs.dset1.reset(H5Dopen2(file1_id, path1, H5P_DEFAULT));
        objs.dset2.reset(objs.dset1.valid() ? H5Dopen2(file2_id, path2, H5P_DEFAULT) : -1);
    }
    if (!objs.dset1.valid() || !objs.dset2.valid()) {
        report_unopenable("dataset", "dataset", objs.dset1.valid() ? 1 : 0, file1_id, path1, file2_id, path2,
                          options);
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Dopen2 failed");
        options->error_status |= 2;
        return 0;
    }
    const bool attrs_excluded = is_exclude_attr(path1, TREK_DATASET, options) != 0;
    if (options->context != nullptr)
        options->context->window.attributes_follow = attributes_follow(objs.dset1, objs.dset2, attrs_excluded);
    nfound_t nfound = 0;
    if (!attrs_excluded)
        nfound = diff_attr(objs.dset1, objs.dset2, path1, path2, options);
    if (objs.dset1.close() < 0 || objs.dset2.close() < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Dclose failed");
        options->error_status |= 2;
    }
    return nfound;
}

nfound_t diff(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2, diff_options *options,
              object_pair_info *pair_info)
{
    link_target link1, link2;
    if (options->verbose_mode) {
        link1.info.msg_mode = 1;
        link2.info.msg_mode = 1;
    }
    bool dangling1 = false, dangling2 = false;
    nfound_t nfound = 0;
    int status = options->error_status;
    pair_objects objs;
    const bool verbose = options->verbose_mode != 0;
    const bool quiet = options->quiet_mode != 0;

    // The tail shared by every way out: status, dangling links.
    auto finish = [&]() -> nfound_t {
        options->error_status |= status;
        if (dangling1 && dangling2) {
            if ((verbose || nfound != 0) && !quiet) {
                print_found("dangling link", path1, path2, options);
                print_difference_count(nfound);
            } else {
                nfound = 0;
            }
        } else if (dangling1 || dangling2) {
            if (verbose) {
                if (dangling1)
                    zarn_buffered_print("obj1 <%s> is a dangling link.\n", shown(path1).c_str());
                else
                    zarn_buffered_print("obj2 <%s> is a dangling link.\n", shown(path2).c_str());
            }
            ++nfound;
            if (!quiet)
                print_difference_count(nfound);
        }
        return nfound;
    };

    int type1 = pair_info->obj_type1;
    int type2 = pair_info->obj_type2;

    if (is_link_kind(type1) || is_link_kind(type2)) {
        int r1 = Zarn_get_symlink_info(file1_id, path1, &link1.info, options->follow_links);
        if (r1 < 0) {
            print_failure_in(file1_id, path1, "%s", LINK_UNREADABLE);
            record_error(options, "cannot read link <%s> in the first file", path1);
            ZARN_PUSH_ERROR(zarn_err_minor, "Zarn_get_symlink_info failed");
            options->error_status |= 2;
            return 0;
        }
        if (r1 == 0) {
            if (options->no_dangling_links) {
                if (verbose)
                    zarn_buffered_print("Warning: <%s> is a dangling link.\n", shown(path1).c_str());
                record_error(options, "<%s> is a dangling link (an error under --no-dangling-links)", path1);
                ZARN_PUSH_ERROR(zarn_err_minor, "dangling link is error");
                options->error_status |= 2;
                return 0;
            }
            dangling1 = true;
        }
        int r2 = Zarn_get_symlink_info(file2_id, path2, &link2.info, options->follow_links);
        if (r2 < 0) {
            print_failure_in(file2_id, path2, "%s", LINK_UNREADABLE);
            record_error(options, "cannot read link <%s> in the second file", path2);
            ZARN_PUSH_ERROR(zarn_err_minor, "Zarn_get_symlink_info failed");
            status = 2;
            return finish();
        }
        if (r2 == 0) {
            if (options->no_dangling_links) {
                if (verbose)
                    zarn_buffered_print("Warning: <%s> is a dangling link.\n", shown(path2).c_str());
                record_error(options, "<%s> is a dangling link (an error under --no-dangling-links)", path2);
                ZARN_PUSH_ERROR(zarn_err_minor, "dangling link is error");
                status = 2;
                return finish();
            }
            dangling2 = true;
        }
        if (dangling1 || dangling2) {
            record_kind(options, "dangling link");
            status = 0;
            return finish();
        }
        if (options->follow_links) {
            auto followed = [](const link_target &l) {
                return l.info.link_info.type == H5L_TYPE_SOFT || l.info.link_info.type == H5L_TYPE_EXTERNAL;
            };
            if (is_link_kind(type1) && followed(link1))
                type1 = link1.info.target_type;
            if (is_link_kind(type2) && followed(link2))
                type2 = link2.info.target_type;
            pair_info->obj_type1 = type1;
            pair_info->obj_type2 = type2;
        }
    }

    record_kind(options, record_kind_word(type1));
    if (type1 != type2) {
        record_not_comparable(options, "different kinds of object: %s and %s", record_kind_word(type1),
                              record_kind_word(type2));
        if (verbose || options->list_not_comparable)
            zarn_buffered_print("Not comparable: <%s> is of type %s and <%s> is of type %s\n",
                                shown(path1).c_str(), object_type_label(type1), shown(path2).c_str(),
                                object_type_label(type2));
        options->not_comparable = 1;
        status = 0;
        return finish();
    }

    if (pair_info->is_same_target &&
        (options->follow_links || type1 == TREK_GROUP || type1 == TREK_DATASET || type1 == TREK_NAMED_DATATYPE)) {
        if (verbose || options->report_mode) {
            const char *word = nullptr;
            switch (type1) {
            case TREK_GROUP: word = "group"; break;
            case TREK_DATASET: word = "dataset"; break;
            case TREK_NAMED_DATATYPE: word = "datatype"; break;
            case TREK_LINK: word = "link"; break;
            case TREK_UDLINK: word = udlink_word(link1, link2); break;
            default: break;
            }
            if (word)
                record_kind(options, word);
            if (word) {
                print_found(word, path1, path2, options);
            } else {
                zarn_buffered_print("Comparison not supported: <%s> and <%s> are of type %s\n",
                                    shown(path1).c_str(), shown(path2).c_str(), object_type_label(type1));
                record_not_comparable(options, "objects of this kind are not compared");
                options->not_comparable = 1;
            }
            print_difference_count(0);
        }
        status = 0;
        return finish();
    }

    switch (type1) {
    case TREK_GROUP: {
        objs.grp1.reset(H5Gopen2(file1_id, path1, H5P_DEFAULT));
        if (!objs.grp1.valid()) {
            report_unopenable("group", "group", 0, file1_id, path1, file2_id, path2, options);
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Gopen2 first group failed");
            status = 2;
            return finish();
        }
        objs.grp2.reset(H5Gopen2(file2_id, path2, H5P_DEFAULT));
        if (!objs.grp2.valid()) {
            report_unopenable("group", "group", 1, file1_id, path1, file2_id, path2, options);
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Gopen2 second group failed");
            status = 2;
            return finish();
        }
        const bool attrs_excluded = is_exclude_attr(path1, TREK_GROUP, options) != 0;
        if (verbose) {
            print_found("group", path1, path2, options);
            if (attributes_follow(objs.grp1, objs.grp2, attrs_excluded))
                print_difference_count(0);
        }
        if (!attrs_excluded)
            nfound = diff_attr(objs.grp1, objs.grp2, path1, path2, options);
        if (objs.grp1.close() < 0 || objs.grp2.close() < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Gclose failed");
            status = 2;
            return finish();
        }
        break;
    }

    case TREK_DATASET:
        {
            h5_errors_off quiet;
            objs.dset1.reset(H5Dopen2(file1_id, path1, H5P_DEFAULT));
            objs.dset2.reset(objs.dset1.valid() ? H5Dopen2(file2_id, path2, H5P_DEFAULT) : -1);
        }
        if (!objs.dset1.valid() || !objs.dset2.valid()) {
            // A damaged object header: say which dataset, not just the status.
            report_unopenable("dataset", "dataset", objs.dset1.valid() ? 1 : 0, file1_id, path1, file2_id, path2,
                              options);
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Dopen2 failed");
            status = 2;
            nfound = 0;
            return finish();
        }
        {
            // A dataset comparison that failed prints no count (nor
            // statistics): its failure is told on standard error instead.
            const bool attrs_excluded = is_exclude_attr(path1, TREK_DATASET, options) != 0;
            const int status_before = options->error_status;
            options->error_status = 0;
            print_dataset_opening(path1, path2, options);
            {
                dataset_statistics gathered(options);
                nfound = diff_dataset(file1_id, file2_id, path1, path2, options);
            }
            if (options->context != nullptr && options->context->window.split_strips > 0) {
                // The pair is to be compared in pieces; nothing more here.
                options->error_status |= status_before;
                status = 0;
                return finish();
            }
            const bool failed = (options->error_status & 2) != 0;
            // Whether attributes can be listed matters only for a zero count
            // in report and verbose modes; asked only then.
            const bool count_shown = (verbose || options->report_mode) && !failed && nfound == 0;
            print_dataset_count(path1, path2, nfound, failed,
                                !count_shown || attributes_follow(objs.dset1, objs.dset2, attrs_excluded), options);
            if (!failed)
                print_dataset_statistics(nfound, options);
            options->error_status |= status_before;
            if (!attrs_excluded)
                nfound += diff_attr(objs.dset1, objs.dset2, path1, path2, options);
        }
        if (objs.dset1.close() < 0 || objs.dset2.close() < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Dclose failed");
            status = 2;
            return finish();
        }
        break;

    case TREK_NAMED_DATATYPE: {
        objs.type1.reset(H5Topen2(file1_id, path1, H5P_DEFAULT));
        objs.type2.reset(objs.type1.valid() ? H5Topen2(file2_id, path2, H5P_DEFAULT) : -1);
        if (!objs.type1.valid() || !objs.type2.valid()) {
            report_unopenable("datatype", "named datatype", objs.type1.valid() ? 1 : 0, file1_id, path1, file2_id,
                              path2, options);
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Topen2 failed");
            status = 2;
            return finish();
        }
        htri_t equal = H5Tequal(objs.type1, objs.type2);
        if (equal < 0) {
            print_failure_in(file1_id, path1, "the named datatypes cannot be compared");
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Tequal failed");
            status = 2;
            nfound = 0;
            return finish();
        }
        nfound = equal ? 0 : 1;
        const bool attrs_excluded = is_exclude_attr(path1, TREK_NAMED_DATATYPE, options) != 0;
        if (!equal || verbose) {
            if (!quiet)
                print_found("datatype", path1, path2, options);
            if (verbose && (nfound != 0 || attributes_follow(objs.type1, objs.type2, attrs_excluded)))
                print_difference_count(nfound);
        }
        if (!attrs_excluded)
            nfound += diff_attr(objs.type1, objs.type2, path1, path2, options);
        if (objs.type1.close() < 0 || objs.type2.close() < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Tclose failed");
            status = 2;
            return finish();
        }
        break;
    }

    case TREK_LINK: {
        const char *t1 = link1.info.target_path ? link1.info.target_path : "";
        const char *t2 = link2.info.target_path ? link2.info.target_path : "";
        nfound = std::strcmp(t1, t2) != 0 ? 1 : 0;
        if (nfound || verbose) {
            if (!quiet)
                print_found("link", path1, path2, options);
            if (verbose)
                print_difference_count(nfound);
        }
        break;
    }

    case TREK_UDLINK: {
        const auto &i1 = link1.info.link_info;
        const auto &i2 = link2.info.link_info;
        if (i1.type == H5L_TYPE_EXTERNAL && i2.type == H5L_TYPE_EXTERNAL) {
            if (i1.u.val_size != i2.u.val_size) {
                nfound = 1;
            } else {
                bool same = i1.u.val_size == 0 ||
                            std::memcmp(link1.info.target_path, link2.info.target_path, i1.u.val_size) == 0;
                if (same && !verbose) {
                    nfound = 0;
                    break;
                }
                nfound = same ? 0 : 1;
            }
            record_kind(options, "external link");
            if (!quiet)
                print_found("external link", path1, path2, options);
            if (verbose)
                print_difference_count(nfound);
        } else {
            nfound = (i1.type != i2.type || i1.u.val_size != i2.u.val_size) ? 1 : 0;
            if (nfound == 0 && !verbose)
                break;
            if (!quiet)
                print_found("user defined link", path1, path2, options);
            if (verbose)
                print_difference_count(nfound);
        }
        break;
    }

    default:
        if (verbose)
            zarn_buffered_print("Comparison not supported: <%s> and <%s> are of type %s\n", shown(path1).c_str(),
                                shown(path2).c_str(), object_type_label(type1));
        record_not_comparable(options, "objects of this kind are not compared");
        options->not_comparable = 1;
        nfound = 0;
        break;
    }
    return finish();
}

nfound_t diff_in_context(pair_comparer compare, hid_t file1_id, const char *path1, hid_t file2_id,
                         const char *path2, diff_options *options, object_pair_info *pair_info,
                         pair_context *context)
{
    pair_context *const saved = options->context;
    options->context = context;
    object_record *const record = context->record;
    if (record == nullptr) {
        const nfound_t nfound = compare(file1_id, path1, file2_id, path2, options, pair_info);
        options->context = saved;
        return nfound;
    }
    record->name1 = path1;
    record->name2 = path2;
    record->kind = record_kind_word(pair_info->obj_type1);
    // The pair's own failure, told apart from the failures of earlier pairs.
    const int status_before = options->error_status;
    options->error_status = 0;
    const nfound_t nfound = compare(file1_id, path1, file2_id, path2, options, pair_info);
    const bool failed = (options->error_status & MIRLO_STATUS_ERROR) != 0;
    options->error_status |= status_before;
    options->context = saved;
    record_finish_pair(record, nfound, failed);
    return nfound;
}
