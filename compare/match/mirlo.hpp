// The top-level comparison of two files, groups or objects: opening, listing
// both sides, matching the lists, and comparing every pair present on both.
#pragma once
#include "mirlo_context.hpp"
#include "mirlo_exclude.hpp"
#include "trek.hpp"

#include <string>
#include <vector>

struct run_report;  // mirlo_record.hpp
struct mirlo_crew;  // mirlo_parallel.hpp
struct output_sink; // mirlo_output.hpp
struct mirlo_progress; // mirlo_progress.hpp

// Compares file1 and file2 (the objects obj1 and obj2, or whole files when
// they are null) under settings, printing the report to out. With several
// processes in crew, rank 0 hands the pairs to the workers (and stops them
// when it ends before). With a report, the objects on one side only, the
// record of every pair (with --json) and a failure before the pairs are
// kept in it. The pairs listed and compared are counted into progress (when
// not null). Returns the run's outcome.
run_outcome mirlo(const char *file1, const char *file2, const char *obj1, const char *obj2,
                  const mirlo_settings &settings, mirlo_crew *crew, output_sink *out, run_report *report = nullptr,
                  mirlo_progress *progress = nullptr);

// One file pair of a job of many: the line that names it ("file: <a> and
// <b>", not under -q), the comparison of the two files as mirlo makes it,
// and the summary of the run; a failure whose reason is known (a file that
// cannot be opened) is also named on standard error, so every failed pair
// has its line there. With --json, *document receives the pair's JSON
// document (processes: the job's process count). The same text whichever
// process compares it.
run_outcome mirlo_compare_file_pair(const char *file1, const char *file2, const mirlo_settings &settings,
                                    mirlo_crew *crew, output_sink *out, int processes, std::string *document,
                                    mirlo_progress *progress = nullptr);

// The end-of-run lines about objects that were not comparable.
void print_run_summary(const mirlo_settings &settings, const run_outcome &run, output_sink *out);

// Merges the two sorted path lists into a match table of relative names with
// presence flags, leaving out the paths --exclude-path excludes.
trek_table_ptr build_match_list(const trek_info *info1, const char *path1, const trek_info *info2,
                                const char *path2, const mirlo_settings &settings);

// The pairs of the table present on both sides, in match order, with their
// full names (grp1 and grp2 before the table's relative names), their kinds
// as listed, and whether --exclude-attribute excludes their attributes.
std::vector<matched_pair> pairs_to_compare(const trek_table &table, const trek_info &info1, const char *grp1,
                                           const trek_info &info2, const char *grp2,
                                           const mirlo_settings &settings);

// Sets attributes_excluded of every pair from the --exclude-attribute
// entries: an entry excludes the attributes of the object it names, and,
// when that object is a group compared as one, of everything below it.
void resolve_attribute_exclusions(const std::vector<std::string> &entries, std::vector<matched_pair> *pairs);
