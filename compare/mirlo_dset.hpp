// Dataset comparison: comparability tests, whole and strip-by-strip reads.
#pragma once
#include "mirlo_options.hpp"

nfound_t diff_dataset(hid_t file_id1, hid_t file_id2, const char *path1, const char *path2,
                      diff_options *options);
nfound_t diff_datasetid(hid_t did1, hid_t did2, const char *name1, const char *name2, diff_options *options);
// 1 comparable, 0 not comparable, -1 failure.
int diff_can_type(hid_t f_type1, hid_t f_type2, int rank1, int rank2, const hsize_t *dims1,
                  const hsize_t *dims2, const hsize_t *maxdim1, const hsize_t *maxdim2,
                  diff_options *options, bool in_compound);
int match_up_memsize(hid_t f_tid1, hid_t f_tid2, hid_t *m_tid1, hid_t *m_tid2, size_t *m_size1,
                     size_t *m_size2);
