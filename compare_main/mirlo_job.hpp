// A job of many file pairs: two folders compared file by file, or the pairs
// of a list (--pairs), in one run of the program.
#pragma once
#include "mirlo_file_pairs.hpp"
#include "mirlo_json.hpp"
#include "mirlo_settings.hpp"

#include <string>
#include <vector>

struct mirlo_progress; // mirlo_progress.hpp

struct mirlo_crew;  // mirlo_parallel.hpp
struct output_sink; // mirlo_output.hpp

// What a job found: its counts and exit status, the names of the pairs with
// differences or errors (for --list-differing) and, with --json, the
// document of every pair.
struct mirlo_job_result {
    job_totals totals;
    int status = 0;
    std::vector<std::string> differing; // labels of the pairs, in the order compared
    std::vector<std::string> files; // with --json, each pair's document, in the order compared
};

// Compares every pair of plan under settings, printing to out: for two
// folders (dir1, dir2; empty for a pair list) the files of one side only
// ("Only in <dir>: <path>") interleaved with the pairs in path order; each
// pair's report preceded by "file: <a> and <b>"; then one summary line. A
// pair that fails is named on standard error and the job goes on. With
// several processes in crew, small pairs are handed to the workers one whole
// pair a task and larger ones object by object; the workers stay for every
// pair, and stopping them is left to the caller. The pairs of every file
// pair are counted into progress (when not null).
mirlo_job_result mirlo_run_job(const mirlo_file_plan &plan, const std::string &dir1, const std::string &dir2,
                               const mirlo_settings &settings, mirlo_crew *crew, output_sink *out,
                               mirlo_progress *progress = nullptr);

// The summary line of a job.
void print_job_summary(const job_totals &totals, output_sink *out);
