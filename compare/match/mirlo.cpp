// The top-level comparison: opens both files, decides what is compared (two
// files, two groups or two objects), lists both sides, merges the lists into
// a match table and compares every pair present on both sides (itself with
// one process, through the workers with several).
#define ZARN_SOURCE "mirlo"
#include "mirlo.hpp"
#include "mirlo_dset.hpp"
#include "h5_handle.hpp"
#include "mirlo_diff.hpp"
#include "mirlo_json.hpp"
#include "mirlo_listing.hpp"
#include "mirlo_manager.hpp"
#include "mirlo_output.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_progress.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "mirlo_subset.hpp"
#include "trek.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"
#include "zarn_fopen.hpp"
#include "zarn_utils.hpp"

#include <mpi.h>

#include <cstring>
#include <string>

namespace {

// The name as an absolute path: a leading "/" is added when missing.
std::string absolute_path(const char *name)
{
    std::string path;
    if (name[0] != '/')
        path.push_back('/');
    path.append(name);
    return path;
}

// An object's kind in words, for messages.
const char *object_kind_words(int type)
{
    switch (type) {
    case TREK_GROUP: return "a group";
    case TREK_NAMED_DATATYPE: return "a named datatype";
    case TREK_LINK: return "a soft link";
    case TREK_UDLINK: return "an external or user-defined link";
    default: return "not a dataset";
    }
}

// One side of the run: its file, the object compared (a group of it, or
// one object), its kind, and its listing. The listing is released before
// the file, which closes quietly.
struct run_side {
    const char *fname = nullptr;
    h5_file file;
    trek_info_ptr info;
    std::string path = "/";
    int type = TREK_GROUP;
    link_target target;
    int resolved = 0; // how the link classification answered for path
    ~run_side()
    {
        info.reset();
        h5_errors_off quiet;
        file.reset();
    }
};

// What the top-level comparison works with.
struct run {
    const mirlo_settings &settings;
    output_sink *out;
    run_report *report;
    mirlo_progress *progress;
    run_side side[2];
    pair_outcome start; // what the steps before the pairs found
};

// A step that ends the run with a failure.
bool failed(run &r)
{
    r.start.fail();
    r.start.differences = 0;
    return false;
}

bool modes_accepted(run &r)
{
    if (r.settings.quiet_mode && (r.settings.verbose_mode || r.settings.report_mode)) {
        output_print(r.out, "Error: -q (quiet mode) cannot be added to verbose or report modes\n");
        return failed(r);
    }
    if (r.settings.no_dangling_links && !r.settings.follow_links) {
        output_print(r.out, "Error: --no-dangling-links must be used along with --follow-symlinks option.\n");
        return failed(r);
    }
    return true;
}

bool open_files(run &r)
{
    for (run_side &s : r.side) {
        zarn_note_activity("opening file", s.fname, nullptr);
        s.file.reset(zarn_fopen(s.fname, H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 0));
        if (!s.file.valid()) {
            output_print(r.out, "mirlo: <%s>: unable to open file\n", shown(s.fname).c_str());
            if (r.report != nullptr)
                r.report->error = std::string("<") + s.fname + ">: unable to open file";
            ZARN_PUSH_ERROR(zarn_err_minor, "<%s>: unable to open file\n", s.fname);
            return failed(r);
        }
    }
    for (const run_side &s : r.side)
        if (zarn_file_left_open(s.fname) == 1)
            zarn_warn_msg("<%s>: the file is still marked as open for writing (its writer did not close it): it is "
                          "read as it is, and may be incomplete\n",
                          shown(s.fname).c_str());
    return true;
}

// The named object of one side: it must exist; its kind and its entry at
// the head of the side's list.
bool locate_object(run &r, run_side &s)
{
    if (s.path == "/")
        return true;
    htri_t exists;
    {
        h5_errors_off quiet;
        exists = H5Lexists(s.file, s.path.c_str(), H5P_DEFAULT);
    }
    if (exists <= 0) {
        output_print(r.out, "Object <%s> could not be found in <%s>\n", shown(s.path).c_str(), shown(s.fname).c_str());
        if (r.report != nullptr)
            r.report->error = "object <" + s.path + "> could not be found in <" + s.fname + ">";
        ZARN_PUSH_ERROR(zarn_err_minor, "Error: Object could not be found");
        return failed(r);
    }
    H5L_info_t linfo;
    if (H5Lget_info(s.file, s.path.c_str(), &linfo, H5P_DEFAULT) < 0) {
        output_print(r.out, "Unable to get link info from <%s>\n", shown(s.path).c_str());
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Lget_info failed");
        return failed(r);
    }
    if (linfo.type == H5L_TYPE_EXTERNAL || linfo.type == H5L_TYPE_SOFT) {
        s.type = linfo.type == H5L_TYPE_EXTERNAL ? TREK_UDLINK : TREK_LINK;
        trek_info_append(s.info.get(), s.path.c_str(), static_cast<trek_type>(s.type));
    } else if (linfo.type == H5L_TYPE_HARD) {
        H5O_info_t oinfo;
        herr_t got;
        {
            h5_errors_off quiet;
            got = H5Oget_info_by_name2(s.file, s.path.c_str(), &oinfo, H5O_INFO_BASIC, H5P_DEFAULT);
        }
        if (got < 0) {
            output_print(r.out, "Error: Could not get file contents\n");
            ZARN_PUSH_ERROR(zarn_err_minor, "Error: Could not get file contents");
            return failed(r);
        }
        s.type = oinfo.type;
        trek_info_append(s.info.get(), s.path.c_str(), static_cast<trek_type>(oinfo.type));
        trek_path &last = s.info->paths.back();
        last.address = oinfo.addr;
        last.file_number = oinfo.fileno;
    } else {
        s.type = TREK_GROUP;
    }
    return true;
}

// A start object that is a followed link takes its target's kind.
void take_target(run_side &s)
{
    s.type = s.target.info.target_type;
    if (!s.info->paths.empty()) {
        trek_path &last = s.info->paths.back();
        last.type = static_cast<trek_type>(s.target.info.target_type);
        last.address = s.target.info.target_address;
        last.file_number = s.target.info.target_file_number;
    }
}

// Side which (0 or 1) starts at a dangling link. Under --no-dangling-links
// that fails the run; otherwise it is said in verbose mode, and against a
// side that is not dangling it is one difference (printed here). True when
// the run goes on.
bool dangling_start(run &r, int which)
{
    const run_side &s = r.side[which];
    const int other = r.side[1 - which].resolved;
    if (r.settings.no_dangling_links) {
        if (r.settings.verbose_mode)
            output_print(r.out, "Warning: <%s> is a dangling link.\n", shown(s.path).c_str());
        print_failure_in(s.file, s.path.c_str(), "%s", LINK_DANGLING);
        ZARN_PUSH_ERROR(zarn_err_minor, "treat dangling link as error");
        return failed(r);
    }
    if (r.settings.verbose_mode)
        output_print(r.out, "obj%d <%s> is a dangling link.\n", which + 1, shown(s.path).c_str());
    if (other == 0)
        return true;
    output_print(r.out, "%llu differences found\n", 1ULL);
    r.start.differences = 1;
    return false;
}

bool start_unreadable(run &r, const run_side &s)
{
    output_print(r.out, "Object <%s> could not be found in <%s>\n", shown(s.path).c_str(), shown(s.fname).c_str());
    print_failure_in(s.file, s.path.c_str(), "%s", LINK_UNREADABLE);
    ZARN_PUSH_ERROR(zarn_err_minor, "Object could not be found");
    return failed(r);
}

// Classifies the start paths (links followed with --follow-symlinks). False
// when the run ends here.
bool resolve_start_links(run &r)
{
    for (run_side &s : r.side)
        s.resolved = classify_link(s.file, s.path.c_str(), &s.target, r.settings.follow_links, r.settings, r.out);
    if (!r.settings.follow_links)
        return true;
    run_side &s1 = r.side[0];
    run_side &s2 = r.side[1];
    if (s1.resolved == 0)
        return dangling_start(r, 0) && (s2.resolved != 0 || dangling_start(r, 1));
    if (s1.resolved < 0)
        return start_unreadable(r, s1);
    if (s1.resolved == 1)
        take_target(s1);
    if (s2.resolved == 1)
        take_target(s2);
    else if (s2.resolved < 0)
        return start_unreadable(r, s2);
    return s2.resolved != 0 || dangling_start(r, 1);
}

// A subset selects elements of a dataset; given for anything else it
// cannot be honoured.
bool subsets_apply(run &r)
{
    for (int k = 0; k < 2; ++k) {
        const subset_spec *subset = r.settings.subsets[k].get();
        const run_side &s = r.side[k];
        if (subset != nullptr && s.type != TREK_DATASET) {
            print_failure_in(s.file, s.path.c_str(), "the subset %s applies to datasets only, and this is %s",
                             subset_text(subset).c_str(), object_kind_words(s.type));
            ZARN_PUSH_ERROR(zarn_err_minor, "subset given for an object that is not a dataset");
            return failed(r);
        }
    }
    return true;
}

bool list_both(run &r)
{
    for (run_side &s : r.side) {
        group_listing listing{s.info.get(), &r.settings, r.out, 0};
        // A named group is already the first entry of its list; a whole
        // file's listing starts with "/" itself.
        const bool visit_start = s.info->paths.empty();
        const int walked = list_group(s.file, s.path.c_str(), visit_start, &listing);
        r.start.status |= listing.status;
        if (walked < 0) {
            // A link that could not be followed has been named already.
            if ((listing.status & MIRLO_STATUS_ERROR) == 0)
                print_failure_in(s.file, s.path.c_str(), "its members cannot be listed: the file may be damaged");
            output_print(r.out, "Error: Could not get file contents\n");
            ZARN_PUSH_ERROR(zarn_err_minor, "Could not get file contents");
            return failed(r);
        }
        sort_paths(s.info.get());
    }
    return true;
}

void print_object_list(const run &r, const trek_table &table)
{
    if (r.settings.verbose_level > 2) {
        output_print(r.out, "file1: %s\n", shown(r.side[0].fname).c_str());
        output_print(r.out, "file2: %s\n", shown(r.side[1].fname).c_str());
    }
    output_print(r.out, "\n");
    if (r.side[0].path == "/" && r.side[1].path == "/")
        output_print(r.out, "file1     file2\n");
    else
        output_print(r.out, "group1   group2\n");
    output_print(r.out, "---------------------------------------\n");
    for (const trek_object &o : table.objects)
        output_print(r.out, "%5c %6c    %-15s\n", o.flags[0] ? 'x' : ' ', o.flags[1] ? 'x' : ' ',
                     shown(o.name).c_str());
    output_print(r.out, "\n");
}

// The member lists of the table differ when an object is on one side only
// (or, without --exclude-path, the lists differ in length); such objects go
// into the report.
pair_outcome compare_member_lists(const run &r, const trek_table &table)
{
    pair_outcome lists;
    const trek_info &info1 = *r.side[0].info;
    const trek_info &info2 = *r.side[1].info;
    if (r.settings.exclude_paths.empty() && !rules_ignore_some(r.settings) &&
        info1.paths.size() != info2.paths.size())
        lists.members_differ = true;
    const std::string base1 = r.side[0].path == "/" ? "" : r.side[0].path;
    const std::string base2 = r.side[1].path == "/" ? "" : r.side[1].path;
    for (const trek_object &entry : table.objects) {
        if (entry.flags[0] && entry.flags[1])
            continue;
        lists.members_differ = true;
        if (r.report == nullptr)
            continue;
        if (entry.flags[0])
            r.report->only_in_first.push_back({base1 + entry.name, entry.type});
        else
            r.report->only_in_second.push_back({base2 + entry.name, entry.type});
    }
    return lists;
}

// Compares the pairs in this process; run_outcome_add sums their outcomes.
void compare_here(const run &r, const std::vector<matched_pair> &pairs, run_outcome *total)
{
    const bool keep_records = r.settings.records_kept();
    parent_groups parents;
    pair_context base;
    base.settings = &r.settings;
    base.out = r.out;
    base.parents = &parents;
    for (const matched_pair &p : pairs) {
        zarn_note_activity("comparing", p.name1.c_str(), p.name2.c_str());
        base.rule = pair_rule_of(r.settings, rules_path_of(p.name1, p.rules_root_size), p.attributes_excluded);
        set_pair_roots(&base, p.name1, p.name2, p.rules_root_size);
        const std::string *const names[2] = {&p.name1, &p.name2};
        for (int k = 0; k < 2; ++k) {
            parents.sides[k].listed_file = r.side[k].file;
            parents.sides[k].listed_path = *names[k];
            parents.sides[k].listed_address = p.address[k];
        }
        object_pair_info info = p.info;
        object_record record;
        const pair_outcome outcome = compare_in_context(diff, r.side[0].file, p.name1.c_str(), r.side[1].file,
                                                        p.name2.c_str(), base, &info, keep_records ? &record : nullptr);
        run_outcome_add(total, outcome);
        mirlo_progress_compared(r.progress, 1, outcome.data_bytes);
        if (keep_records && r.report != nullptr && r.settings.json_mode)
            r.report->pairs.push_back(std::move(record));
    }
}

// Compares the pairs through the workers.
void compare_through_workers(const run &r, const std::vector<matched_pair> &pairs, mirlo_crew *crew,
                             run_outcome *total)
{
    mirlo_manager manager;
    manager.progress = r.progress;
    for (const matched_pair &p : pairs)
        mirlo_manager_add_pair(&manager, p);
    mirlo_manager_run(&manager, crew, r.settings, total);
    if (r.report != nullptr && r.settings.json_mode)
        for (mirlo_manager::pair_entry &p : manager.pairs)
            r.report->pairs.push_back(std::move(mirlo_manager_record(&p)));
}

} // namespace

run_outcome mirlo(const char *fname1, const char *fname2, const char *objname1, const char *objname2,
                  const mirlo_settings &settings, mirlo_crew *crew, output_sink *out, run_report *report,
                  mirlo_progress *progress)
{
    run r{settings, out, report, progress, {}, {}};
    r.side[0].fname = fname1;
    r.side[1].fname = fname2;
    bool reached_match = false;
    run_outcome total;

    // Everything ends here: the pairs' outcomes and the steps' before them.
    auto finish = [&]() -> run_outcome {
        run_outcome_add(&total, r.start);
        if (report != nullptr && !reached_match && total.failed())
            report->failed_before_matching = true;
        if (crew != nullptr && !reached_match)
            stop_workers(crew);
        // A run that ended before its pairs were listed has listed none.
        if (!reached_match)
            mirlo_progress_listed(progress, 0);
        return total;
    };

    if (!modes_accepted(r) || !open_files(r))
        return finish();
    zarn_note_activity("listing", fname1, fname2);
    // The workers open the files while this process lists them.
    if (crew != nullptr && crew->parallel())
        mirlo_send_setup(crew, fname1, fname2, objname1 ? absolute_path(objname1).c_str() : "/",
                         objname2 ? absolute_path(objname2).c_str() : "/", settings);
    for (run_side &s : r.side) {
        s.info = trek_info_create(s.fname, s.file);
        if (!s.info)
            return failed(r), finish();
    }
    if (objname1 != nullptr) {
        r.side[0].path = absolute_path(objname1);
        r.side[1].path = absolute_path(objname2);
        for (run_side &s : r.side)
            if (!locate_object(r, s))
                return finish();
    }
    if (!resolve_start_links(r) || !subsets_apply(r))
        return finish();
    if (!settings.verbose_mode && !settings.report_mode && r.side[0].resolved > 0 && r.side[1].resolved > 0 &&
        zarn_same_object(r.side[0].file, r.side[0].path.c_str(), r.side[1].file, r.side[1].path.c_str()))
        return finish();
    const bool groups = r.side[0].type == TREK_GROUP && r.side[1].type == TREK_GROUP;
    if (groups && !list_both(r))
        return finish();
    trek_table_ptr table(build_match_list(r.side[0].info.get(), r.side[0].path.c_str(), r.side[1].info.get(),
                                          r.side[1].path.c_str(), settings));
    if (!table) {
        ZARN_PUSH_ERROR(zarn_info_minor, "Cannot create traverse table");
        return failed(r), finish();
    }
    if (groups && settings.verbose_mode)
        print_object_list(r, *table);

    reached_match = true;
    run_outcome_add(&total, compare_member_lists(r, *table));
    const std::vector<matched_pair> pairs = pairs_to_compare(*table, *r.side[0].info, r.side[0].path.c_str(),
                                                             *r.side[1].info, r.side[1].path.c_str(), settings);
    mirlo_progress_listed(progress, pairs.size());
    if (crew != nullptr && crew->parallel())
        compare_through_workers(r, pairs, crew, &total);
    else
        compare_here(r, pairs, &total);
    zarn_clear_activity();
    return finish();
}

void print_run_summary(const mirlo_settings &settings, const run_outcome &run, output_sink *out)
{
    // A failure ends the run without a summary; a dataset whose filters are
    // not available (status bit 1) is a pair that is not comparable.
    if (settings.quiet_mode || run.failed())
        return;
    if (run.not_comparable && !settings.list_not_comparable) {
        output_print(out, "--------------------------------\n"
                          "Some objects are not comparable\n"
                          "--------------------------------\n");
        if (settings.verbose_mode)
            output_print(out, "Use -c for a list of objects without details of differences.\n");
        else
            output_print(out, "Use -c for a list of objects.\n");
    }
}

run_outcome mirlo_compare_file_pair(const char *file1, const char *file2, const mirlo_settings &settings,
                                    mirlo_crew *crew, output_sink *out, int processes, std::string *document,
                                    mirlo_progress *progress)
{
    if (!settings.quiet_mode)
        output_print(out, "file: <%s> and <%s>\n", shown(file1).c_str(), shown(file2).c_str());
    const double started = MPI_Wtime();
    run_report report;
    const run_outcome outcome = mirlo(file1, file2, nullptr, nullptr, settings, crew, out, &report, progress);
    print_run_summary(settings, outcome, out);
    if (outcome.failed() && !report.error.empty())
        zarn_error_msg("%s\n", shown(report.error).c_str());
    if (settings.json_mode && document != nullptr) {
        json_run run;
        run.file1 = file1;
        run.file2 = file2;
        run.options = json_options_text(settings);
        run.processes = processes;
        run.elapsed_seconds = MPI_Wtime() - started;
        json_run_set_outcome(&run, run_exit_status(outcome), outcome);
        *document = json_document_text(run, report);
    }
    return outcome;
}
