// The top-level comparison of two files, groups or objects.
#pragma once
#include "mirlo_options.hpp"
#include "trek.hpp"

struct run_report; // mirlo_record.hpp

// obj1 and obj2 are null for a whole-file comparison. Returns the number of
// differences; run-wide state (error_status, not_comparable,
// contents_equal) is left in options. With a report, the objects on one side
// only, the record of every pair (with --json) and a failure before the pairs
// are kept in it.
nfound_t mirlo(const char *file1, const char *file2, const char *obj1, const char *obj2, diff_options *options,
               run_report *report = nullptr);

// Number of MPI processes of the run (1 until the main program sets it);
// with more than one, rank 0 hands the pairs to workers.
extern int mpi_size;

// True when both names lead to the same object (same file number and address).
bool zarn_same_object(hid_t file1_id, const char *name1, hid_t file2_id, const char *name2);


// Merges the two sorted path lists into a match table of relative names with
// presence flags, leaving out excluded paths.
trek_table_ptr build_match_list(const trek_info *info1, const char *path1, const trek_info *info2,
                                const char *path2, diff_options *options);

// Compares every pair present on both sides of the table (itself with one
// process, through the workers with several) and returns the differences.
// With a report, the objects on one side only and (with --json) the pairs'
// records in match order go into it.
nfound_t diff_match(hid_t file1_id, const char *grp1, trek_info *info1, hid_t file2_id, const char *grp2,
                    trek_info *info2, trek_table *table, diff_options *options, run_report *report = nullptr);

// Link callback of a group listing: records links, or follows them when
// --follow-symlinks is given.
int trav_grp_symlinks(const char *path, const H5L_info_t *linfo, void *udata);
