// The manager's side of a multi-process comparison: hands the pairs out to
// the workers in batches, splits a large dataset pair into pieces when a
// worker asks, folds the answers into the run, and prints every pair's
// output in pair order (the protocol is described in mirlo_parallel.hpp).
// diff_match adds the pairs in match order, then runs the manager.
#pragma once
#include "mirlo_ordered_output.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_record.hpp"

#include <deque>
#include <list>
#include <map>
#include <string>
#include <vector>

struct mirlo_manager {
    struct pair_entry {
        std::string name1, name2;
        object_pair_info info{};
        // A dataset pair compared in pieces: one count per piece, and the
        // first piece that stopped on a failure (pieces after it are dropped,
        // as the strips after a failed one are never read by one process).
        std::vector<nfound_t> piece_found;
        uint32_t pieces_answered = 0;
        uint32_t first_failed = UINT32_MAX;
        nfound_t data_found = 0; // the data's count once every piece has answered
        bool attributes_answered = false;
        bool attributes_follow = true; // the attributes could be listed
        // With --json or --statistics: the pair's record, and for a pair
        // compared in pieces the records of its pieces and of its attributes
        // until they are folded into it.
        object_record record;
        std::vector<object_record> piece_records;
        object_record attributes_record;
    };
    // A message of a worker being received, in the order the worker sent it.
    struct arriving {
        MPI_Request request = MPI_REQUEST_NULL;
        int tag = 0;
        std::vector<unsigned char> bytes;
    };
    struct worker_state {
        std::deque<uint32_t> batches; // unanswered tasks of each outstanding batch, oldest first
        unsigned settings_sent = 0;   // settings generation the worker holds
        std::list<arriving> inbox;    // received in this order, acted on in this order
    };

    std::vector<pair_entry> pairs;  // in match order; a pair's index is its sequence number
    size_t next_pair = 0;           // the next pair to send
    std::deque<mirlo_task> extra;   // pieces and attribute tasks, sent before further pairs
    std::vector<worker_state> workers; // index r-1 for rank r
    mirlo_outbox outbox;            // batches and settings on their way
    unsigned settings_generation = 0;
    double task_seconds = 0;        // running estimate of one pair's time
    bool have_estimate = false;
    // With --exclude-attribute: first paths of the tasks not yet answered.
    std::multimap<std::string, int> unanswered;
    ordered_output out;
    nfound_t nfound = 0;            // sum of the answers
    uint64_t pieces_made = 0;       // pieces handed out (reported in tests)
};

// Adds one pair present on both sides, in match order.
void mirlo_manager_add_pair(mirlo_manager *m, const char *name1, const char *name2, const object_pair_info *pair);

// Compares every pair added through the workers, printing their output in
// order, then stops the workers. Answers update options (not_comparable,
// error_status, contents_equal, the --exclude-attribute entries); output that
// could not be printed (see ordered_output) sets error_status 2. Returns the
// sum of the pairs' counts.
nfound_t mirlo_manager_run(mirlo_manager *m, diff_options *options);
