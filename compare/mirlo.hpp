// The top-level comparison of two files, groups or objects.
#pragma once
#include "mirlo_options.hpp"

// obj1 and obj2 are null for a whole-file comparison. Returns the number of
// differences; run-wide state (error_status, not_comparable,
// contents_equal) is left in options.
nfound_t mirlo(const char *file1, const char *file2, const char *obj1, const char *obj2, diff_options *options);

// Number of MPI processes of the run (1 until the main program sets it);
// with more than one, rank 0 hands the pairs to workers.
extern int mpi_size;

// True when both names lead to the same object (same file number and address).
bool zarn_same_object(hid_t file1_id, const char *name1, hid_t file2_id, const char *name2);
