// Dataset comparison: opens two datasets, tests whether they can be compared
// (mirlo_comparable), and reads them whole or piece by piece (mirlo_dset_read,
// along a plan of mirlo_strips, skipping what mirlo_chunks proves equal),
// handing each pair of buffers to diff_array.
#pragma once
#include "mirlo_chunks.hpp"
#include "mirlo_options.hpp"

nfound_t diff_dataset(hid_t file_id1, hid_t file_id2, const char *path1, const char *path2,
                      diff_options *options);
nfound_t diff_datasetid(hid_t did1, hid_t did2, const char *name1, const char *name2, diff_options *options);

// Tests only: turns the chunk shortcuts (skipping data whose stored chunks or
// fill values prove it equal) off or back on, for this process, so that a
// test can compare the output of both paths; and the shortcuts' counts so far.
void dset_use_chunk_shortcuts(bool on);
chunk_stats dset_chunk_stats();
