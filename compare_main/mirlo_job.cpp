// A job of many file pairs: each pair compared as a run of two files is,
// under a line that names it (with several processes, small pairs one whole
// pair a worker's task); the files of one side only; the summary line and
// the worst status.
#include "mirlo_job.hpp"
#include "mirlo.hpp"
#include "mirlo_manager.hpp"
#include "mirlo_output.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_progress.hpp"
#include "mirlo_record.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"

#include <mpi.h>

#include <algorithm>
#include <cstdint>
#include <sys/stat.h>
#include <vector>

namespace {

struct job {
    const mirlo_file_plan &plan;
    const std::string &dir1, &dir2;
    const mirlo_settings &settings;
    mirlo_crew *crew;
    output_sink *out;
    mirlo_progress *progress;
    mirlo_job_result result;
};

void only_in(job &j, const std::string &dir, const std::string &path)
{
    ++j.result.totals.one_side_only;
    j.result.status = std::max(j.result.status, 1);
    if (!j.settings.quiet_mode)
        output_print(j.out, "Only in %s: %s\n", shown(dir).c_str(), shown(path).c_str());
}

// Counts a file pair's outcome into the job.
void count_pair(job &j, const mirlo_file_pair &pair, const run_outcome &outcome)
{
    const int status = run_exit_status(outcome);
    job_totals &totals = j.result.totals;
    ++totals.compared;
    if (status == 1)
        ++totals.differing;
    else if (status == 2)
        ++totals.failed;
    if (status != 0)
        j.result.differing.push_back(pair.label);
    j.result.status = std::max(j.result.status, status);
}

// One file pair compared here, or with its objects handed to the workers.
void compare_pair(job &j, const mirlo_file_pair &pair)
{
    std::string document;
    const run_outcome outcome = mirlo_compare_file_pair(pair.file1.c_str(), pair.file2.c_str(), j.settings, j.crew,
                                                        j.out, j.crew != nullptr ? j.crew->size : 1, &document,
                                                        j.progress);
    count_pair(j, pair, outcome);
    if (j.settings.json_mode)
        j.result.files.push_back(std::move(document));
}

// True when the pair is compared whole by one worker: a job of several
// processes, and both files small.
bool compared_whole(const job &j, const mirlo_file_pair &pair)
{
    if (j.crew == nullptr || !j.crew->parallel())
        return false;
    struct stat st;
    for (const std::string *file : {&pair.file1, &pair.file2})
        if (stat(file->c_str(), &st) != 0 || static_cast<uint64_t>(st.st_size) >= MIRLO_WHOLE_FILE_PAIR_BYTES)
            return false;
    return true;
}

// Small file pairs, handed to the workers one pair a task: each worker
// compares different pairs at once, and the manager prints their reports in
// order.
void compare_whole(job &j, const std::vector<const mirlo_file_pair *> &pairs)
{
    mirlo_send_setup(j.crew, "", "", "/", "/", j.settings);
    mirlo_manager m;
    m.progress = j.progress;
    for (const mirlo_file_pair *p : pairs)
        mirlo_manager_add_file_pair(&m, p->file1, p->file2);
    run_outcome total;
    mirlo_manager_run(&m, j.crew, j.settings, &total);
    for (size_t k = 0; k < pairs.size(); ++k) {
        run_outcome outcome;
        run_outcome_add(&outcome, m.pairs[k].file_pair_outcome);
        // Output that could not be printed fails every pair of the run.
        if (ordered_output_failed(&m.out)) {
            pair_outcome failed;
            failed.fail();
            run_outcome_add(&outcome, failed);
        }
        count_pair(j, *pairs[k], outcome);
        if (j.settings.json_mode)
            j.result.files.push_back(std::move(m.pairs[k].file_pair_document));
    }
}

} // namespace

mirlo_job_result mirlo_run_job(const mirlo_file_plan &plan, const std::string &dir1, const std::string &dir2,
                               const mirlo_settings &settings, mirlo_crew *crew, output_sink *out,
                               mirlo_progress *progress)
{
    job j{plan, dir1, dir2, settings, crew, out, progress, {}};
    for (const std::string &reason : plan.unreadable)
        zarn_error_msg("%s\n", shown(reason).c_str());
    if (!plan.unreadable.empty())
        j.result.status = 2;
    if (settings.verbose_mode && !settings.quiet_mode)
        for (const std::string &path : plan.not_hdf5)
            output_print(out, "Not an HDF5 file, skipped: %s\n", shown(path).c_str());

    if (crew != nullptr)
        crew->more_file_pairs = true;
    // Pairs and files of one side only in path order, as the folders sort
    // them (a pair list has no files of one side only).
    // Consecutive small pairs go to the workers together, up to a bound, so
    // that what the manager keeps stays bounded whatever the number of files.
    constexpr size_t WHOLE_PAIRS_AT_ONCE = 1024;
    std::vector<const mirlo_file_pair *> small;
    const auto flush_small = [&] {
        if (!small.empty())
            compare_whole(j, small);
        small.clear();
    };
    size_t p = 0, a = 0, b = 0;
    const auto &pairs = plan.pairs;
    const auto &first = plan.only_in_first, &second = plan.only_in_second;
    while (p < pairs.size() || a < first.size() || b < second.size()) {
        const std::string *least = nullptr;
        int which = -1;
        if (p < pairs.size())
            least = &pairs[p].label, which = 0;
        if (a < first.size() && (least == nullptr || first[a] < *least))
            least = &first[a], which = 1;
        if (b < second.size() && (least == nullptr || second[b] < *least))
            least = &second[b], which = 2;
        if (which == 0 && compared_whole(j, pairs[p])) {
            small.push_back(&pairs[p++]);
            if (small.size() == WHOLE_PAIRS_AT_ONCE)
                flush_small();
            continue;
        }
        flush_small();
        if (which == 0)
            compare_pair(j, pairs[p++]);
        else if (which == 1)
            only_in(j, dir1, first[a++]);
        else
            only_in(j, dir2, second[b++]);
    }
    flush_small();
    if (crew != nullptr)
        crew->more_file_pairs = false;
    if (!settings.quiet_mode)
        print_job_summary(j.result.totals, out);
    return std::move(j.result);
}

void print_job_summary(const job_totals &t, output_sink *out)
{
    output_print(out, "%llu file pairs compared: %llu with differences, %llu failed; %llu files on one side only\n",
                 static_cast<unsigned long long>(t.compared), static_cast<unsigned long long>(t.differing),
                 static_cast<unsigned long long>(t.failed), static_cast<unsigned long long>(t.one_side_only));
}
