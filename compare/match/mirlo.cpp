// The top-level comparison: opens both files, decides what is compared (two
// files, two groups or two objects), lists both sides, merges the lists into
// a match table and compares every pair present on both sides.
#define ZARN_SOURCE "mirlo"
#include "mirlo.hpp"
#include "h5_handle.hpp"
#include "mirlo_diff.hpp"
#include "mirlo_manager.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_report.hpp"
#include "mirlo_subset.hpp"
#include "mirlo_record.hpp"
#include "mirlo_util.hpp"
#include "trek.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"
#include "zarn_fopen.hpp"
#include "zarn_utils.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

int mpi_size = 1;

namespace {

// Object callback of a group listing: every path is kept.
int list_object(const char *path, const H5O_info_t *oinfo, const char *already_visited, void *udata)
{
    return trek_info_on_object(path, oinfo, already_visited, udata);
}

// Both lists in name order, so the merge pairs equal names whatever order
// the walk produced (a walk goes depth first, which is not strcmp order when
// names contain characters below '/').
void sort_paths(trek_info *info)
{
    std::stable_sort(info->paths.begin(), info->paths.end(), [](const trek_path &a, const trek_path &b) {
        return std::strcmp(a.path.c_str(), b.path.c_str()) < 0;
    });
}

// The name as an absolute path: a leading "/" is added when missing.
std::string absolute_path(const char *name)
{
    std::string path;
    if (name[0] != '/')
        path.push_back('/');
    path.append(name);
    return path;
}

// A name as printed in messages: control characters escaped.
std::string shown(const char *name)
{
    return zarn_printable_name(name);
}

// What a dangling link on one side of a comparison of two links leads to.
enum class dangling_outcome { go_on, error, one_difference };

// Side which (1 or 2) at path in file is a dangling link; other is how the
// other side resolved (0 dangling too). Under --no-dangling-links that is an
// error, named on standard error; otherwise it is said in verbose mode, and
// against a side that is not dangling it is one difference (printed here).
dangling_outcome dangling_link(int which, hid_t file, const std::string &path, int other,
                               const diff_options *options)
{
    if (options->no_dangling_links) {
        if (options->verbose_mode)
            zarn_buffered_print("Warning: <%s> is a dangling link.\n", shown(path.c_str()).c_str());
        print_failure_in(file, path.c_str(), "%s", LINK_DANGLING);
        ZARN_PUSH_ERROR(zarn_err_minor, "treat dangling link as error");
        return dangling_outcome::error;
    }
    if (options->verbose_mode)
        zarn_buffered_print("obj%d <%s> is a dangling link.\n", which, shown(path.c_str()).c_str());
    if (other != 0) {
        zarn_buffered_print("%llu differences found\n", 1ULL);
        return dangling_outcome::one_difference;
    }
    return dangling_outcome::go_on;
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

void close_quietly(h5_file &f)
{
    h5_errors_off quiet;
    f.reset();
}

} // namespace

int trav_grp_symlinks(const char *path, const H5L_info_t *linfo, void *udata)
{
    auto *info = static_cast<trek_info *>(udata);
    auto *options = static_cast<diff_options *>(info->options);

    if (!options->follow_links) {
        trek_info_append(info, path, linfo->type == H5L_TYPE_SOFT ? TREK_LINK : TREK_UDLINK);
        return 0;
    }
    if (linfo->type != H5L_TYPE_SOFT && linfo->type != H5L_TYPE_EXTERNAL) {
        zarn_buffered_print("Error: Invalid link type\n");
        options->error_status = 2;
        ZARN_PUSH_ERROR(zarn_err_minor, "Error: Invalid link type");
        return -1;
    }

    link_target target;
    int r = Zarn_get_symlink_info(info->file_id, path, &target.info, true);
    if (r < 0) {
        print_failure_in(info->file_id, path, "%s", LINK_UNREADABLE);
        options->error_status = 2;
        return -1;
    }
    if (r == 0) {
        info->symlinks_visited.dangling_found = true;
        trek_info_append(info, path, linfo->type == H5L_TYPE_SOFT ? TREK_LINK : TREK_UDLINK);
        if (options->no_dangling_links) {
            // Said once here, where the listing meets it; the pair's
            // comparison later ends without a word of its own.
            print_failure_in(info->file_id, path, "%s", LINK_DANGLING);
            options->error_status = 2;
        }
        return 0;
    }

    const char *file = nullptr;
    const char *obj = nullptr;
    if (linfo->type == H5L_TYPE_EXTERNAL) {
        unsigned flags = 0;
        if (H5Lunpack_elink_val(target.info.target_path, linfo->u.val_size, &flags, &file, &obj) < 0)
            return 0;
    } else {
        obj = target.info.target_path;
    }
    if (symlink_was_visited(&info->symlinks_visited, linfo->type, file, obj))
        return 0;
    if (symlink_visit_add(&info->symlinks_visited, linfo->type, file, obj) < 0)
        return 0;
    // The link enters the list under its own path as its target object,
    // followed by the target's members.
    if (trek_visit(info->file_id, path, true, true, list_object, trav_grp_symlinks, info, H5O_INFO_BASIC) < 0) {
        zarn_buffered_print("Error: Could not get file contents\n");
        options->error_status = 2;
        ZARN_PUSH_ERROR(zarn_err_minor, "Error: Could not get file contents");
        return -1;
    }
    return 0;
}

bool zarn_same_object(hid_t file1_id, const char *name1, hid_t file2_id, const char *name2)
{
    H5O_info_t i1, i2;
    auto get = [](hid_t loc, const char *name, H5O_info_t *oi) {
        if (name == nullptr || std::strcmp(name, ".") == 0)
            return H5Oget_info2(loc, oi, H5O_INFO_BASIC);
        return H5Oget_info_by_name2(loc, name, oi, H5O_INFO_BASIC, H5P_DEFAULT);
    };
    if (get(file1_id, name1, &i1) < 0 || get(file2_id, name2, &i2) < 0)
        return false;
    return i1.fileno == i2.fileno && i1.addr == i2.addr;
}

trek_table_ptr build_match_list(const trek_info *info1, const char *path1, const trek_info *info2,
                                const char *path2, diff_options *options)
{
    trek_table_ptr table = trek_table_create();
    if (table == nullptr)
        return nullptr;
    size_t len1 = std::strcmp(path1, "/") == 0 ? 0 : std::strlen(path1);
    size_t len2 = std::strcmp(path2, "/") == 0 ? 0 : std::strlen(path2);
    auto rel1 = [&](size_t i) { return info1->paths[i].path.c_str() + std::min(len1, info1->paths[i].path.size()); };
    auto rel2 = [&](size_t j) { return info2->paths[j].path.c_str() + std::min(len2, info2->paths[j].path.size()); };
    auto excluded = [&](const char *name, int type) {
        return options->exclude_path_mode && is_exclude_path(name, type, options);
    };
    auto add = [&](uint32_t f1, uint32_t f2, const char *name, trek_type type) {
        const uint32_t flags[2] = {f1, f2};
        trek_table_append_flags(flags, name, type, table.get());
    };

    size_t i = 0, j = 0;
    while (i < info1->paths.size() && j < info2->paths.size()) {
        const char *n1 = rel1(i);
        const char *n2 = rel2(j);
        int c = std::strcmp(n1, n2);
        if (c == 0) {
            if (!excluded(n1, info1->paths[i].type)) {
                add(1, 1, n1, info1->paths[i].type);
                if (info1->paths[i].address == info2->paths[j].address &&
                    info1->paths[i].file_number == info2->paths[j].file_number)
                    table->objects.back().is_same_target = true;
            }
            ++i;
            ++j;
        } else if (c < 0) {
            if (!excluded(n1, info1->paths[i].type))
                add(1, 0, n1, info1->paths[i].type);
            ++i;
        } else {
            if (!excluded(n2, info2->paths[j].type))
                add(0, 1, n2, info2->paths[j].type);
            ++j;
        }
    }
    for (; i < info1->paths.size(); ++i)
        if (!excluded(rel1(i), info1->paths[i].type))
            add(1, 0, rel1(i), info1->paths[i].type);
    for (; j < info2->paths.size(); ++j)
        if (!excluded(rel2(j), info2->paths[j].type))
            add(0, 1, rel2(j), info2->paths[j].type);

    exclude_list_free(&options->exclude_paths);
    return table;
}

nfound_t diff_match(hid_t file1_id, const char *grp1, trek_info *info1, hid_t file2_id, const char *grp2,
                    trek_info *info2, trek_table *table, diff_options *options, run_report *report)
{
    const char *base1 = std::strcmp(grp1, "/") == 0 ? "" : grp1;
    const char *base2 = std::strcmp(grp2, "/") == 0 ? "" : grp2;
    nfound_t nfound = 0;
    int local_status = 0;

    if (!options->exclude_path_mode && info1->paths.size() != info2->paths.size())
        options->contents_equal = 0;
    for (const trek_object &entry : table->objects)
        if (!entry.flags[0] || !entry.flags[1])
            options->contents_equal = 0;
    if (report != nullptr) {
        for (const trek_object &entry : table->objects) {
            if (entry.flags[0] && !entry.flags[1])
                report->only_in_first.push_back({std::string(base1) + entry.name, entry.type});
            else if (!entry.flags[0] && entry.flags[1])
                report->only_in_second.push_back({std::string(base2) + entry.name, entry.type});
        }
    }
    const bool keep_records = records_kept(options);

    mirlo_manager manager;

    size_t pos1 = 0, pos2 = 0;
    for (const trek_object &entry : table->objects) {
        if (!entry.flags[0] || !entry.flags[1])
            continue;
        std::string name1 = std::string(base1) + entry.name;
        std::string name2 = std::string(base2) + entry.name;

        object_pair_info pair{};
        pair.obj_type1 = TREK_UNKNOWN;
        pair.obj_type2 = TREK_UNKNOWN;
        for (size_t p = pos1; p < info1->paths.size(); ++p)
            if (name1 == info1->paths[p].path) {
                pair.obj_type1 = info1->paths[p].type;
                pos1 = p + 1;
                break;
            }
        for (size_t p = pos2; p < info2->paths.size(); ++p)
            if (name2 == info2->paths[p].path) {
                pair.obj_type2 = info2->paths[p].type;
                pos2 = p + 1;
                break;
            }
        pair.is_same_target = entry.is_same_target ? 1 : 0;
        options->common_objects = 1;

        if (mpi_size > 1) {
            mirlo_manager_add_pair(&manager, name1.c_str(), name2.c_str(), &pair);
        } else if (keep_records) {
            zarn_note_activity("comparing", name1.c_str(), name2.c_str());
            object_record record;
            pair_context context;
            context.record = &record;
            nfound += diff_in_context(diff, file1_id, name1.c_str(), file2_id, name2.c_str(), options, &pair,
                                      &context);
            if (report != nullptr && options->json_mode)
                report->pairs.push_back(std::move(record));
        } else {
            zarn_note_activity("comparing", name1.c_str(), name2.c_str());
            nfound += diff(file1_id, name1.c_str(), file2_id, name2.c_str(), options, &pair);
        }
    }
    if (mpi_size > 1) {
        nfound += mirlo_manager_run(&manager, options);
        if (report != nullptr && options->json_mode)
            for (mirlo_manager::pair_entry &p : manager.pairs)
                report->pairs.push_back(std::move(p.record));
    }
    zarn_clear_activity();

    options->error_status |= local_status;
    exclude_list_free(&options->exclude_attrs);
    return nfound;
}

nfound_t mirlo(const char *fname1, const char *fname2, const char *objname1, const char *objname2,
               diff_options *options, run_report *report)
{
    nfound_t nfound = 0;
    int local_status = 0;
    h5_file file1, file2;
    trek_info_ptr info1, info2;
    link_target target1, target2;
    std::string path1 = "/", path2 = "/";
    bool reached_match = false;

    // Everything after the mode checks ends here.
    auto finish = [&]() -> nfound_t {
        options->error_status |= local_status;
        if (report != nullptr && !reached_match && (options->error_status & 2) != 0)
            report->failed_before_matching = true;
        if (mpi_size > 1 && !reached_match)
            send_stop_to_workers();
        info1.reset();
        info2.reset();
        close_quietly(file1);
        close_quietly(file2);
        return nfound;
    };
    auto fail = [&]() -> nfound_t {
        local_status = 2;
        nfound = 0;
        return finish();
    };

    if (options->quiet_mode && (options->verbose_mode || options->report_mode)) {
        zarn_buffered_print("Error: -q (quiet mode) cannot be added to verbose or report modes\n");
        options->error_status = 2;
        return finish();
    }
    if (options->no_dangling_links && !options->follow_links) {
        zarn_buffered_print("Error: --no-dangling-links must be used along with --follow-symlinks option.\n");
        options->error_status = 2;
        return finish();
    }
    options->common_objects = 1;
    options->error_status = 0;

    zarn_note_activity("opening file", fname1, nullptr);
    file1.reset(zarn_fopen(fname1, H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 0));
    if (!file1.valid()) {
        zarn_buffered_print("mirlo: <%s>: unable to open file\n", shown(fname1).c_str());
        if (report != nullptr)
            report->error = std::string("<") + fname1 + ">: unable to open file";
        ZARN_PUSH_ERROR(zarn_err_minor, "<%s>: unable to open file\n", fname1);
        return fail();
    }
    zarn_note_activity("opening file", fname2, nullptr);
    file2.reset(zarn_fopen(fname2, H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 0));
    if (!file2.valid()) {
        zarn_buffered_print("mirlo: <%s>: unable to open file\n", shown(fname2).c_str());
        if (report != nullptr)
            report->error = std::string("<") + fname2 + ">: unable to open file";
        ZARN_PUSH_ERROR(zarn_err_minor, "<%s>: unable to open file\n", fname2);
        return fail();
    }
    for (const char *name : {fname1, fname2})
        if (zarn_file_left_open(name) == 1)
            zarn_warn_msg("<%s>: the file is still marked as open for writing (its writer did not close it): it is "
                          "read as it is, and may be incomplete\n",
                          shown(name).c_str());
    zarn_note_activity("listing", fname1, fname2);
    // The workers open the files while this process lists them.
    if (mpi_size > 1)
        mirlo_send_setup(fname1, fname2, objname1 ? absolute_path(objname1).c_str() : "/",
                         objname2 ? absolute_path(objname2).c_str() : "/", options);

    info1 = trek_info_create(fname1, file1);
    info2 = trek_info_create(fname2, file2);
    if (!info1 || !info2)
        return fail();
    info1->options = options;
    info2->options = options;

    int type1 = TREK_GROUP, type2 = TREK_GROUP;
    if (objname1) {
        path1 = absolute_path(objname1);
        path2 = absolute_path(objname2);
        struct side {
            h5_file &file;
            const char *fname;
            std::string &path;
            trek_info *info;
            int &type;
        } sides[2] = {{file1, fname1, path1, info1.get(), type1}, {file2, fname2, path2, info2.get(), type2}};
        for (auto &s : sides) {
            if (s.path == "/")
                continue;
            htri_t exists;
            {
                h5_errors_off quiet;
                exists = H5Lexists(s.file, s.path.c_str(), H5P_DEFAULT);
            }
            if (exists <= 0) {
                zarn_buffered_print("Object <%s> could not be found in <%s>\n", shown(s.path.c_str()).c_str(),
                                    shown(s.fname).c_str());
                if (report != nullptr)
                    report->error = "object <" + s.path + "> could not be found in <" + s.fname + ">";
                ZARN_PUSH_ERROR(zarn_err_minor, "Error: Object could not be found");
                return fail();
            }
            H5L_info_t linfo;
            if (H5Lget_info(s.file, s.path.c_str(), &linfo, H5P_DEFAULT) < 0) {
                zarn_buffered_print("Unable to get link info from <%s>\n", shown(s.path.c_str()).c_str());
                ZARN_PUSH_ERROR(zarn_err_minor, "H5Lget_info failed");
                return fail();
            }
            if (linfo.type == H5L_TYPE_EXTERNAL) {
                s.type = TREK_UDLINK;
                trek_info_append(s.info, s.path.c_str(), TREK_UDLINK);
            } else if (linfo.type == H5L_TYPE_SOFT) {
                s.type = TREK_LINK;
                trek_info_append(s.info, s.path.c_str(), TREK_LINK);
            } else if (linfo.type == H5L_TYPE_HARD) {
                H5O_info_t oinfo;
                herr_t got;
                {
                    h5_errors_off quiet;
                    got = H5Oget_info_by_name2(s.file, s.path.c_str(), &oinfo, H5O_INFO_BASIC, H5P_DEFAULT);
                }
                if (got < 0) {
                    zarn_buffered_print("Error: Could not get file contents\n");
                    ZARN_PUSH_ERROR(zarn_err_minor, "Error: Could not get file contents");
                    return fail();
                }
                s.type = oinfo.type;
                trek_info_append(s.info, s.path.c_str(), static_cast<trek_type>(oinfo.type));
                trek_path &last = s.info->paths.back();
                last.address = oinfo.addr;
                last.file_number = oinfo.fileno;
            } else {
                s.type = TREK_GROUP;
            }
        }
    }

    if (options->verbose_mode) {
        target1.info.msg_mode = 1;
        target2.info.msg_mode = 1;
    }
    int r1 = Zarn_get_symlink_info(file1, path1.c_str(), &target1.info, options->follow_links);
    int r2 = Zarn_get_symlink_info(file2, path2.c_str(), &target2.info, options->follow_links);
    if (options->follow_links) {
        auto take_target = [](trek_info *info, int &type, const link_target &t) {
            type = t.info.target_type;
            if (!info->paths.empty()) {
                trek_path &last = info->paths.back();
                last.type = static_cast<trek_type>(t.info.target_type);
                last.address = t.info.target_address;
                last.file_number = t.info.target_file_number;
            }
        };
        bool check_side2 = true;
        // A dangling side ends the comparison with an error or one
        // difference, or lets it go on.
        auto settle = [&](dangling_outcome outcome) -> std::optional<nfound_t> {
            switch (outcome) {
            case dangling_outcome::error: return fail();
            case dangling_outcome::one_difference: nfound = 1; return finish();
            case dangling_outcome::go_on: break;
            }
            return std::nullopt;
        };
        if (r1 == 0) {
            if (auto done = settle(dangling_link(1, file1, path1, r2, options)))
                return *done;
        } else if (r1 < 0) {
            zarn_buffered_print("Object <%s> could not be found in <%s>\n", shown(path1.c_str()).c_str(),
                                shown(fname1).c_str());
            print_failure_in(file1, path1.c_str(), "%s", LINK_UNREADABLE);
            ZARN_PUSH_ERROR(zarn_err_minor, "Object could not be found");
            return fail();
        } else {
            if (r1 == 1)
                take_target(info1.get(), type1, target1);
            if (r2 == 1)
                take_target(info2.get(), type2, target2);
            else if (r2 < 0) {
                zarn_buffered_print("Object <%s> could not be found in <%s>\n", shown(path2.c_str()).c_str(),
                                    shown(fname2).c_str());
                print_failure_in(file2, path2.c_str(), "%s", LINK_UNREADABLE);
                ZARN_PUSH_ERROR(zarn_err_minor, "Object could not be found");
                return fail();
            }
            check_side2 = r2 == 0;
        }
        if (check_side2 && r2 == 0) {
            if (auto done = settle(dangling_link(2, file2, path2, r1, options)))
                return *done;
        }
    }

    // A subset selects elements of a dataset; given for anything else it
    // cannot be honoured.
    {
        const struct {
            const subset_spec *subset;
            int type;
            hid_t file;
            const std::string &path;
        } named[2] = {{options->subsets[0], type1, file1, path1}, {options->subsets[1], type2, file2, path2}};
        for (const auto &n : named) {
            if (n.subset != nullptr && n.type != TREK_DATASET) {
                print_failure_in(n.file, n.path.c_str(), "the subset %s applies to datasets only, and this is %s",
                                 subset_text(n.subset).c_str(), object_kind_words(n.type));
                ZARN_PUSH_ERROR(zarn_err_minor, "subset given for an object that is not a dataset");
                return fail();
            }
        }
    }

    if (!options->verbose_mode && !options->report_mode && r1 > 0 && r2 > 0 &&
        zarn_same_object(file1, path1.c_str(), file2, path2.c_str()))
        return finish();

    if (type1 == TREK_GROUP && type2 == TREK_GROUP) {
        struct side {
            h5_file &file;
            std::string &path;
            trek_info *info;
        } sides[2] = {{file1, path1, info1.get()}, {file2, path2, info2.get()}};
        for (auto &s : sides) {
            s.info->options = options;
            // A named group is already the first entry of its list; a whole
            // file's listing starts with "/" itself.
            bool visit_start = s.info->paths.empty();
            if (trek_visit(s.file, s.path.c_str(), visit_start, true, list_object, trav_grp_symlinks, s.info,
                           H5O_INFO_BASIC) < 0) {
                // A link that could not be followed has been named already.
                if ((options->error_status & 2) == 0)
                    print_failure_in(s.file, s.path.c_str(), "its members cannot be listed: the file may be damaged");
                zarn_buffered_print("Error: Could not get file contents\n");
                ZARN_PUSH_ERROR(zarn_err_minor, "Could not get file contents");
                return fail();
            }
            sort_paths(s.info);
        }
    }

    trek_table_ptr table(build_match_list(info1.get(), path1.c_str(), info2.get(), path2.c_str(), options));
    if (!table) {
        ZARN_PUSH_ERROR(zarn_info_minor, "Cannot create traverse table");
        return fail();
    }

    if (type1 == TREK_GROUP && type2 == TREK_GROUP && options->verbose_mode) {
        if (options->verbose_level > 2) {
            zarn_buffered_print("file1: %s\n", shown(fname1).c_str());
            zarn_buffered_print("file2: %s\n", shown(fname2).c_str());
        }
        zarn_buffered_print("\n");
        if (path1 == "/" && path2 == "/")
            zarn_buffered_print("file1     file2\n");
        else
            zarn_buffered_print("group1   group2\n");
        zarn_buffered_print("---------------------------------------\n");
        for (const trek_object &o : table->objects)
            zarn_buffered_print("%5c %6c    %-15s\n", o.flags[0] ? 'x' : ' ', o.flags[1] ? 'x' : ' ',
                                shown(o.name.c_str()).c_str());
        zarn_buffered_print("\n");
    }

    reached_match = true;
    nfound = diff_match(file1, path1.c_str(), info1.get(), file2, path2.c_str(), info2.get(), table.get(), options,
                        report);
    return finish();
}
