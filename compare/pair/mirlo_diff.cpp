// Comparison of one pair of objects: links first (followed on request), then
// by kind: groups and named datatypes compare their attributes, datasets
// their data and attributes, links their values. Each object is opened once
// per side, here, and its handles are passed on.
#define ZARN_SOURCE "mirlo"
#include "mirlo_diff.hpp"
#include "h5_handle.hpp"
#include "mirlo_attr.hpp"
#include "mirlo_dset.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "mirlo_stats.hpp"
#include "mirlo_storage.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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

// False when the attributes of a pair that are still to be compared cannot
// even be listed: the pair is then going to fail, and its count line must
// not say "0 differences found" before the failure is told.
bool attributes_follow(hid_t loc1, hid_t loc2, bool excluded)
{
    return excluded || attributes_listable(loc1, loc2);
}

// The pair's kind in its record, when one is kept.
void record_kind(const pair_context *ctx, const char *word)
{
    if (ctx->record != nullptr)
        ctx->record->kind = word;
}

// The objects of both sides, closed together.
template <class Handle> struct both {
    Handle side[2];
};

// The object of each side, opened with open; false when one cannot be (it
// is named, and the comparison fails). The second side is tried only when
// the first opened.
template <class Handle>
bool open_both(hid_t (*open)(hid_t, const char *, hid_t), const hid_t files[2], const char *const paths[2],
               const char *word, const char *long_word, const char *failure, Handle objs[2], pair_context *ctx)
{
    for (int k = 0; k < 2; ++k) {
        objs[k].reset(open_object_of_pair(open, files[k], paths[k], k, word, long_word, failure, ctx));
        if (!objs[k].valid())
            return false;
    }
    return true;
}

// Closes both objects; a close that fails fails the comparison.
template <class Handle> void close_both(Handle objs[2], const char *failure, pair_context *ctx)
{
    if (objs[0].close() < 0 || objs[1].close() < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "%s", failure);
        ctx->outcome->fail();
    }
}

// --- the kinds of object ---------------------------------------------------

nfound_t compare_groups(const hid_t files[2], const char *const paths[2], pair_context *ctx)
{
    h5_closed_quietly<both<h5_group>> grp;
    if (!open_both(H5Gopen2, files, paths, "group", "group", "H5Gopen2 group failed", grp->side, ctx))
        return 0;
    const bool attrs_excluded = ctx->rule.attributes_excluded;
    if (ctx->settings->verbose_mode) {
        print_found("group", paths[0], paths[1], *ctx->settings, ctx->out);
        if (attributes_follow(grp->side[0], grp->side[1], attrs_excluded))
            print_difference_count(ctx->out, 0);
    }
    nfound_t nfound = 0;
    if (!attrs_excluded)
        nfound = diff_attr(grp->side[0], grp->side[1], paths[0], paths[1], ctx);
    close_both(grp->side, "H5Gclose failed", ctx);
    return nfound;
}

// The data of a dataset pair, with its statistics gathered into the pair's
// record when one is kept. The outcome is the data's alone.
nfound_t compare_dataset_data(hid_t did1, hid_t did2, const char *path1, const char *path2, pair_context *ctx,
                              pair_outcome *data_outcome)
{
    pair_context data = *ctx;
    data.outcome = data_outcome;
    data.stats = ctx->record != nullptr ? &ctx->record->data : nullptr;
    const subset_spec *const subsets[2] = {ctx->settings->subsets[0].get(), ctx->settings->subsets[1].get()};
    return diff_dataset_data(did1, did2, path1, path2, subsets, &data);
}

// The storage of both datasets of a structure-only comparison: printed
// under -v, kept in the record. Never a difference; storage that cannot be
// read fails the pair's data.
void note_storage(const h5_dataset did[2], const char *const paths[2], const pair_context *ctx,
                  pair_outcome *data)
{
    const bool verbose = ctx->settings->verbose_mode;
    if (!ctx->settings->structure_only || (!verbose && ctx->record == nullptr))
        return;
    dataset_storage storage[2];
    for (int k = 0; k < 2; ++k) {
        if (read_dataset_storage(did[k], &storage[k]) < 0) {
            print_failure_in(did[k], paths[k], "the storage properties of the dataset cannot be read");
            record_error(ctx, "cannot read the storage properties of dataset <%s> in the %s file", paths[k],
                         k == 0 ? "first" : "second");
            data->fail();
            return;
        }
    }
    if (verbose)
        print_storage_pair(ctx->out, storage, paths[0], paths[1]);
    if (ctx->record != nullptr)
        ctx->record->storage.assign(std::make_move_iterator(storage), std::make_move_iterator(storage + 2));
}

nfound_t compare_datasets(const hid_t files[2], const char *const paths[2], pair_context *ctx)
{
    h5_closed_quietly<both<h5_dataset>> did;
    if (!open_both(H5Dopen2, files, paths, "dataset", "dataset", "H5Dopen2 failed", did->side, ctx))
        return 0;
    const h5_dataset *const d = did->side;
    const bool attrs_excluded = ctx->rule.attributes_excluded;
    const bool listed = ctx->settings->verbose_mode || ctx->settings->report_mode;
    // A dataset comparison that failed prints no count (nor statistics):
    // its failure is told on standard error instead.
    print_dataset_opening(paths[0], paths[1], *ctx->settings, ctx->out);
    pair_outcome data;
    nfound_t nfound = compare_dataset_data(d[0], d[1], paths[0], paths[1], ctx, &data);
    note_storage(d, paths, ctx, &data);
    ctx->outcome->add(data);
    if (data.split_strips > 0)
        return nfound; // the pair is to be compared in pieces; nothing more here
    // Whether attributes can be listed matters only for a zero count in
    // report and verbose modes; asked only then.
    const bool count_shown = listed && !data.failed() && nfound == 0;
    print_dataset_count(paths[0], paths[1], nfound, data.failed(),
                        !count_shown || attributes_follow(d[0], d[1], attrs_excluded), *ctx->settings, ctx->out);
    if (!data.failed() && ctx->record != nullptr)
        print_statistics(*ctx->settings, ctx->out, ctx->record->data, nfound, &ctx->record->tolerance);
    if (!attrs_excluded)
        nfound += diff_attr(d[0], d[1], paths[0], paths[1], ctx);
    close_both(did->side, "H5Dclose failed", ctx);
    return nfound;
}

nfound_t compare_named_types(const hid_t files[2], const char *const paths[2], pair_context *ctx)
{
    h5_closed_quietly<both<h5_datatype>> type;
    if (!open_both(H5Topen2, files, paths, "datatype", "named datatype", "H5Topen2 failed", type->side, ctx))
        return 0;
    const htri_t equal = H5Tequal(type->side[0], type->side[1]);
    if (equal < 0) {
        print_failure_in(files[0], paths[0], "the named datatypes cannot be compared");
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Tequal failed");
        ctx->outcome->fail();
        return 0;
    }
    nfound_t nfound = equal ? 0 : 1;
    const bool attrs_excluded = ctx->rule.attributes_excluded;
    const bool verbose = ctx->settings->verbose_mode;
    if (!equal || verbose) {
        if (!ctx->settings->quiet_mode)
            print_found("datatype", paths[0], paths[1], *ctx->settings, ctx->out);
        if (verbose && (nfound != 0 || attributes_follow(type->side[0], type->side[1], attrs_excluded)))
            print_difference_count(ctx->out, nfound);
    }
    if (!attrs_excluded)
        nfound += diff_attr(type->side[0], type->side[1], paths[0], paths[1], ctx);
    close_both(type->side, "H5Tclose failed", ctx);
    return nfound;
}

// A link pair's line and count: printed when the links differ or in
// verbose mode (the count in verbose mode only).
nfound_t print_link_pair(const char *word, const char *const paths[2], nfound_t nfound, const pair_context *ctx)
{
    const bool verbose = ctx->settings->verbose_mode;
    if (nfound == 0 && !verbose)
        return 0;
    if (!ctx->settings->quiet_mode)
        print_found(word, paths[0], paths[1], *ctx->settings, ctx->out);
    if (verbose)
        print_difference_count(ctx->out, nfound);
    return nfound;
}

nfound_t compare_soft_links(const link_target link[2], const char *const paths[2], const pair_context *ctx)
{
    const char *t1 = link[0].info.target_path ? link[0].info.target_path : "";
    const char *t2 = link[1].info.target_path ? link[1].info.target_path : "";
    return print_link_pair("link", paths, std::strcmp(t1, t2) != 0 ? 1 : 0, ctx);
}

nfound_t compare_user_links(const link_target link[2], const char *const paths[2], const pair_context *ctx)
{
    const auto &i1 = link[0].info.link_info;
    const auto &i2 = link[1].info.link_info;
    if (i1.type != H5L_TYPE_EXTERNAL || i2.type != H5L_TYPE_EXTERNAL)
        return print_link_pair("user defined link", paths,
                               (i1.type != i2.type || i1.u.val_size != i2.u.val_size) ? 1 : 0, ctx);
    const bool same = i1.u.val_size == i2.u.val_size &&
                      (i1.u.val_size == 0 ||
                       std::memcmp(link[0].info.target_path, link[1].info.target_path, i1.u.val_size) == 0);
    if (same && !ctx->settings->verbose_mode)
        return 0;
    record_kind(ctx, "external link");
    if (!ctx->settings->quiet_mode)
        print_found("external link", paths[0], paths[1], *ctx->settings, ctx->out);
    if (ctx->settings->verbose_mode)
        print_difference_count(ctx->out, same ? 0 : 1);
    return same ? 0 : 1;
}

// Both names lead to the same object: nothing to compare; the pair line
// and a zero count in report and verbose modes.
void same_target(int type, const link_target link[2], const char *const paths[2], pair_context *ctx)
{
    if (!ctx->settings->verbose_mode && !ctx->settings->report_mode)
        return;
    const char *word = nullptr;
    switch (type) {
    case TREK_GROUP: word = "group"; break;
    case TREK_DATASET: word = "dataset"; break;
    case TREK_NAMED_DATATYPE: word = "datatype"; break;
    case TREK_LINK: word = "link"; break;
    case TREK_UDLINK: word = udlink_word(link[0], link[1]); break;
    default: break;
    }
    if (word != nullptr) {
        record_kind(ctx, word);
        print_found(word, paths[0], paths[1], *ctx->settings, ctx->out);
    } else {
        output_print(ctx->out, "Comparison not supported: <%s> and <%s> are of type %s\n", shown(paths[0]).c_str(),
                     shown(paths[1]).c_str(), object_type_label(type));
        pair_not_comparable(ctx, "objects of this kind are not compared");
    }
    print_difference_count(ctx->out, 0);
}

nfound_t compare_by_kind(int type, const hid_t files[2], const link_target link[2], const char *const paths[2],
                         pair_context *ctx)
{
    switch (type) {
    case TREK_GROUP: return compare_groups(files, paths, ctx);
    case TREK_DATASET: return compare_datasets(files, paths, ctx);
    case TREK_NAMED_DATATYPE: return compare_named_types(files, paths, ctx);
    case TREK_LINK: return compare_soft_links(link, paths, ctx);
    case TREK_UDLINK: return compare_user_links(link, paths, ctx);
    default:
        if (ctx->settings->verbose_mode)
            output_print(ctx->out, "Comparison not supported: <%s> and <%s> are of type %s\n",
                         shown(paths[0]).c_str(), shown(paths[1]).c_str(), object_type_label(type));
        pair_not_comparable(ctx, "objects of this kind are not compared");
        return 0;
    }
}

// --- links -----------------------------------------------------------------

// What the links of a pair came to.
enum class links_state {
    compare, // go on with the objects (the kinds of followed links replaced by their targets')
    failed,  // a link could not be read, or dangles under --no-dangling-links
    dangling // one side or both dangle: nothing to compare
};

// Classifies the links of a pair whose kinds include a link; side k's
// dangling link sets dangling[k]. Side 2 is classified only when side 1 can
// be read and does not fail the run.
links_state classify_links(const hid_t files[2], const char *const paths[2], link_target link[2],
                           bool dangling[2], bool *failed_before_second, pair_context *ctx)
{
    static const char *const which[2] = {"first", "second"};
    for (int k = 0; k < 2; ++k) {
        const int r = classify_link(files[k], paths[k], &link[k], ctx->settings->follow_links, *ctx->settings,
                                    ctx->out);
        if (r < 0) {
            print_failure_in(files[k], paths[k], "%s", LINK_UNREADABLE);
            record_error(ctx, "cannot read link <%s> in the %s file", paths[k], which[k]);
            ZARN_PUSH_ERROR(zarn_err_minor, "Zarn_get_symlink_info failed");
            ctx->outcome->fail();
            *failed_before_second = k == 0;
            return links_state::failed;
        }
        if (r != 0)
            continue;
        if (ctx->settings->no_dangling_links) {
            if (ctx->settings->verbose_mode)
                output_print(ctx->out, "Warning: <%s> is a dangling link.\n", shown(paths[k]).c_str());
            record_error(ctx, "<%s> is a dangling link (an error under --no-dangling-links)", paths[k]);
            ZARN_PUSH_ERROR(zarn_err_minor, "dangling link is error");
            ctx->outcome->fail();
            *failed_before_second = k == 0;
            return links_state::failed;
        }
        dangling[k] = true;
    }
    if (dangling[0] || dangling[1]) {
        record_kind(ctx, "dangling link");
        return links_state::dangling;
    }
    return links_state::compare;
}

// The tail of a pair with a dangling side: two dangling links are the same
// (a zero count, shown in verbose mode), one against an object is one
// difference.
nfound_t finish_dangling(const bool dangling[2], const char *const paths[2], nfound_t nfound, pair_context *ctx)
{
    const bool verbose = ctx->settings->verbose_mode;
    const bool quiet = ctx->settings->quiet_mode;
    if (dangling[0] && dangling[1]) {
        if ((verbose || nfound != 0) && !quiet) {
            print_found("dangling link", paths[0], paths[1], *ctx->settings, ctx->out);
            print_difference_count(ctx->out, nfound);
            return nfound;
        }
        return 0;
    }
    if (!dangling[0] && !dangling[1])
        return nfound;
    if (verbose)
        output_print(ctx->out, "obj%d <%s> is a dangling link.\n", dangling[0] ? 1 : 2,
                     shown(paths[dangling[0] ? 0 : 1]).c_str());
    ++nfound;
    if (!quiet)
        print_difference_count(ctx->out, nfound);
    return nfound;
}

} // namespace

int classify_link(hid_t file, const char *path, link_target *target, bool follow, const mirlo_settings &settings,
                  output_sink *out)
{
    const int r = Zarn_get_symlink_info(file, path, &target->info, follow);
    if (r < 0 && settings.verbose_mode) {
        const std::string warning = zarn_link_warning(target->info, path);
        output_write(out, warning.data(), warning.size());
    }
    return r;
}

void print_found(const char *kind, const char *path1, const char *path2, const mirlo_settings &settings,
                 output_sink *out)
{
    if (settings.verbose_level > 0)
        output_print(out, "\n");
    output_print(out, "%-7s: <%s> and <%s>\n", kind, shown(path1).c_str(), shown(path2).c_str());
}

void print_dataset_opening(const char *path1, const char *path2, const mirlo_settings &settings, output_sink *out)
{
    if (settings.verbose_mode || settings.report_mode)
        print_found("dataset", path1, path2, settings, out);
}

void print_dataset_count(const char *path1, const char *path2, nfound_t nfound, bool failed,
                         bool attributes_listed, const mirlo_settings &settings, output_sink *out)
{
    if (failed)
        return;
    if (settings.verbose_mode || settings.report_mode) {
        if (nfound != 0 || attributes_listed)
            print_difference_count(out, nfound);
    } else if (!settings.quiet_mode && nfound != 0) {
        print_found("dataset", path1, path2, settings, out);
        print_difference_count(out, nfound);
    }
}

namespace {

// Under -v, the rule a pair is compared under when a rules file chose it.
void print_rule(const pair_context *ctx)
{
    if (!ctx->settings->verbose_mode || ctx->rule.number == 0 || ctx->rule.number > ctx->settings->rules.size())
        return;
    const mirlo_rule &rule = ctx->settings->rules[ctx->rule.number - 1];
    output_print(ctx->out, "rule %u (%s): %s\n", ctx->rule.number, shown(rule.path.c_str()).c_str(),
                 mirlo_tolerance_words(pair_tolerance(ctx->rule)).c_str());
}

} // namespace

nfound_t diff_dataset_piece(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                            pair_context *ctx, object_pair_info *)
{
    record_kind(ctx, "dataset");
    if (ctx->window == nullptr || ctx->window->print_opening) {
        print_rule(ctx);
        print_dataset_opening(path1, path2, *ctx->settings, ctx->out);
    }
    pair_context data = *ctx;
    data.stats = ctx->record != nullptr ? &ctx->record->data : nullptr;
    const subset_spec *const subsets[2] = {ctx->settings->subsets[0].get(), ctx->settings->subsets[1].get()};
    return diff_dataset(file1_id, file2_id, path1, path2, subsets, &data);
}

nfound_t diff_dataset_attributes(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                                 pair_context *ctx, object_pair_info *)
{
    record_kind(ctx, "dataset");
    const hid_t files[2] = {file1_id, file2_id};
    const char *const paths[2] = {path1, path2};
    h5_closed_quietly<both<h5_dataset>> did;
    if (!open_both(H5Dopen2, files, paths, "dataset", "dataset", "H5Dopen2 failed", did->side, ctx))
        return 0;
    const bool attrs_excluded = ctx->rule.attributes_excluded;
    if (!attributes_follow(did->side[0], did->side[1], attrs_excluded))
        ctx->outcome->attributes_unlisted = true;
    nfound_t nfound = 0;
    if (!attrs_excluded)
        nfound = diff_attr(did->side[0], did->side[1], path1, path2, ctx);
    close_both(did->side, "H5Dclose failed", ctx);
    return nfound;
}

nfound_t diff(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2, pair_context *ctx,
              object_pair_info *pair_info)
{
    const hid_t files[2] = {file1_id, file2_id};
    const char *const paths[2] = {path1, path2};
    print_rule(ctx);
    link_target link[2];
    int type1 = pair_info->obj_type1;
    int type2 = pair_info->obj_type2;

    if (is_link_kind(type1) || is_link_kind(type2)) {
        bool dangling[2] = {false, false};
        bool failed_before_second = false;
        switch (classify_links(files, paths, link, dangling, &failed_before_second, ctx)) {
        case links_state::failed:
            // A failure on the second side still tells of a dangling first.
            return failed_before_second ? 0 : finish_dangling(dangling, paths, 0, ctx);
        case links_state::dangling: return finish_dangling(dangling, paths, 0, ctx);
        case links_state::compare: break;
        }
        if (ctx->settings->follow_links) {
            auto followed = [](const link_target &l) {
                return l.info.link_info.type == H5L_TYPE_SOFT || l.info.link_info.type == H5L_TYPE_EXTERNAL;
            };
            if (is_link_kind(type1) && followed(link[0]))
                type1 = link[0].info.target_type;
            if (is_link_kind(type2) && followed(link[1]))
                type2 = link[1].info.target_type;
            pair_info->obj_type1 = type1;
            pair_info->obj_type2 = type2;
        }
    }

    record_kind(ctx, record_kind_word(type1));
    if (type1 != type2) {
        pair_not_comparable(ctx, "different kinds of object: %s and %s", record_kind_word(type1),
                            record_kind_word(type2));
        if (ctx->settings->verbose_mode || ctx->settings->list_not_comparable)
            output_print(ctx->out, "Not comparable: <%s> is of type %s and <%s> is of type %s\n",
                         shown(path1).c_str(), object_type_label(type1), shown(path2).c_str(),
                         object_type_label(type2));
        return 0;
    }
    if (pair_info->is_same_target &&
        (ctx->settings->follow_links || type1 == TREK_GROUP || type1 == TREK_DATASET ||
         type1 == TREK_NAMED_DATATYPE)) {
        same_target(type1, link, paths, ctx);
        return 0;
    }
    return compare_by_kind(type1, files, link, paths, ctx);
}

pair_outcome compare_in_context(pair_comparer compare, hid_t file1_id, const char *path1, hid_t file2_id,
                                const char *path2, const pair_context &base, object_pair_info *pair_info,
                                object_record *record)
{
    pair_outcome outcome;
    pair_context ctx = base.nested();
    ctx.window = base.window;
    ctx.outcome = &outcome;
    ctx.record = record;
    ctx.stats = nullptr;
    if (record != nullptr) {
        record->name1 = path1;
        record->name2 = path2;
        record->kind = record_kind_word(pair_info->obj_type1);
        record_rule(record, ctx.rule);
    }
    outcome.differences = compare(file1_id, path1, file2_id, path2, &ctx, pair_info);
    if (record != nullptr)
        record_finish_pair(record, outcome.differences, outcome.failed());
    return outcome;
}
