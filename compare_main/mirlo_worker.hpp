// The worker side of a multi-process comparison.
#pragma once
#include "mirlo_options.hpp"

// Runs on every rank but 0: opens the files the manager names, compares each
// pair it is sent with diff and returns the counts and the collected output,
// until the stop message; then meets the manager at the final barrier.
void worker_loop();

// The comparison of one pair, as diff.
using pair_comparer = nfound_t (*)(hid_t file1_id, const char *path1, hid_t file2_id, const char *path2,
                                   diff_options *options, object_pair_info *pair_info);

// worker_loop with the pair comparison given (tests drive the protocol with
// comparisons whose output and counts they choose).
void worker_run(pair_comparer compare);

// Sends the worker's collected output (outBuff, then the overflow file) to
// rank 0 in OUTPUT_CHUNK-character TAG_OUTPUT messages, in order, and empties
// the buffer. Returns the number of chunks sent.
int send_collected_output();
