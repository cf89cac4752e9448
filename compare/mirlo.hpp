// The top-level comparison of two files, groups or objects.
#pragma once
#include "mirlo_options.hpp"

// obj1 and obj2 are null for a whole-file comparison. Returns the number of
// differences; run-wide state (error_status, not_comparable,
// contents_equal) is left in options.
nfound_t mirlo(const char *file1, const char *file2, const char *obj1, const char *obj2, diff_options *options);
