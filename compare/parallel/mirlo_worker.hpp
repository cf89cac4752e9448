// The worker side of a multi-process comparison.
#pragma once
#include "mirlo_diff.hpp"

#include <string>

// Runs on every rank but 0: opens the files the manager names, compares the
// tasks it is sent and answers each with its counts and collected output,
// until the stop message; then meets the manager at the final barrier
// (mirlo_barrier, which the manager must call too).
void worker_loop();

// The comparisons a worker runs: whole pairs, pieces of a dataset pair's data
// (the strips in ctx->window), and a dataset pair's attributes.
struct worker_comparers {
    pair_comparer pair;
    pair_comparer piece;
    pair_comparer attributes;
};

// worker_loop with the comparisons given (tests drive the protocol with
// comparisons whose output and counts they choose). What a comparison
// prints through the context's sink is collected in memory for the task
// and sent to the manager.
void worker_run(const worker_comparers &compare);

