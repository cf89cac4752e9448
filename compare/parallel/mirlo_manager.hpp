// The manager's side of a multi-process comparison: hands the pairs out to
// the workers in batches, splits a large dataset pair into pieces when a
// worker asks, folds the answers into the run, and prints every pair's
// output in pair order (the protocol is described in mirlo_parallel.hpp).
// The top-level comparison adds the pairs in match order, then runs the
// manager.
#pragma once
#include "mirlo_ordered_output.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_progress.hpp"
#include "mirlo_record.hpp"

#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

struct mirlo_manager {
    struct pair_entry {
        std::string name1, name2;
        object_pair_info info{};
        bool attributes_excluded = false; // the pair's resolved rule
        // A file pair compared whole (TASK_FILE_PAIR), and its outcome once
        // answered.
        bool whole_file_pair = false;
        pair_outcome file_pair_outcome;
        std::string file_pair_document; // with --json: its document, as the worker wrote it
        uint32_t rules_root_size = 0;     // see matched_pair
        // A dataset pair compared in pieces: one count per piece, and the
        // first piece that stopped on a failure (pieces after it are dropped,
        // as the strips after a failed one are never read by one process).
        std::vector<nfound_t> piece_found;
        uint32_t pieces_answered = 0;
        uint32_t first_failed = UINT32_MAX;
        nfound_t data_found = 0; // the data's count once every piece has answered
        bool attributes_answered = false;
        bool attributes_follow = true; // the attributes could be listed
        // With --json or --statistics: the pair's record (made when the
        // first part of it arrives: a run may hold a great many pairs), and
        // for a pair compared in pieces the records of its pieces and of its
        // attributes until they are folded into it.
        std::unique_ptr<object_record> record;
        std::vector<object_record> piece_records;
        std::unique_ptr<object_record> attributes_record; // made when it arrives

    };
    // A message of a worker being received, in the order the worker sent it.
    struct arriving {
        MPI_Request request = MPI_REQUEST_NULL;
        int tag = 0;
        std::vector<unsigned char> bytes;
    };
    struct worker_state {
        std::deque<uint32_t> batches; // unanswered tasks of each outstanding batch, oldest first
        std::list<arriving> inbox;    // received in this order, acted on in this order
    };

    std::vector<pair_entry> pairs;  // in match order; a pair's index is its sequence number
    size_t next_pair = 0;           // the next pair to send
    std::deque<mirlo_task> extra;   // pieces and attribute tasks, sent before further pairs
    std::vector<worker_state> workers; // index r-1 for rank r
    mirlo_outbox outbox;            // batches on their way
    double task_seconds = 0;        // running estimate of one pair's time
    bool have_estimate = false;
    ordered_output out;
    uint64_t pieces_made = 0;       // pieces handed out (reported in tests)
    // While the manager runs: the run's settings, and the run's outcome,
    // which every answer is added to.
    const mirlo_settings *settings = nullptr;
    run_outcome *total = nullptr;
    // Set by the caller: the run's progress, counted from the answers (or null).
    mirlo_progress *progress = nullptr;
};

// The record of a pair, made empty if none has arrived yet.
object_record &mirlo_manager_record(mirlo_manager::pair_entry *p);

// Adds one pair present on both sides, in match order.
void mirlo_manager_add_pair(mirlo_manager *m, const matched_pair &pair);

// Adds a file pair to be compared whole by one worker (a job of many file
// pairs), in the job's order.
void mirlo_manager_add_file_pair(mirlo_manager *m, const std::string &file1, const std::string &file2);

// Compares every pair added through the workers of crew under settings,
// printing their output in order, then stops the workers. Every answer is
// added to *total (differences, not comparable, member lists, status);
// output that could not be printed (see ordered_output) fails the run.
void mirlo_manager_run(mirlo_manager *m, mirlo_crew *crew, const mirlo_settings &settings, run_outcome *total);
