// What a comparison returns, and the run-wide state that is their sum.
#pragma once
#include <cstdint>

// The differences found by a comparison.
using nfound_t = uint64_t;

// The status bit of a failure, and the bit of data that no filter here can
// decode (a pair not comparable that does not fail the run).
constexpr int MIRLO_STATUS_ERROR = 2;
constexpr int MIRLO_STATUS_UNREADABLE = 1;

// The outcome of one comparison (a pair, a piece of one, the attributes of
// one, or a step within them).
struct pair_outcome {
    nfound_t differences = 0;
    bool not_comparable = false;
    bool members_differ = false; // an object or attribute on one side only
    int status = 0;              // MIRLO_STATUS_* bits
    // A dataset pair that may be compared in pieces: the strips its data
    // would be read in, when it asks to be split instead (nothing compared).
    uint64_t split_strips = 0;
    // The attributes still to compare cannot even be listed.
    bool attributes_unlisted = false;
    // Bytes of dataset values compared (of the first side); for a split
    // request, the bytes its pieces will compare. Counted for progress only.
    uint64_t data_bytes = 0;

    bool failed() const { return (status & MIRLO_STATUS_ERROR) != 0; }
    void fail() { status |= MIRLO_STATUS_ERROR; }
    // Takes in the outcome of a step of this comparison.
    void add(const pair_outcome &step)
    {
        differences += step.differences;
        not_comparable = not_comparable || step.not_comparable;
        members_differ = members_differ || step.members_differ;
        status |= step.status;
        split_strips += step.split_strips;
        attributes_unlisted = attributes_unlisted || step.attributes_unlisted;
        data_bytes += step.data_bytes;
    }
};

// The state of a whole run: the sum of its outcomes.
struct run_outcome {
    nfound_t differences = 0;
    bool not_comparable = false;
    bool contents_equal = true; // the compared member lists matched
    int status = 0;

    bool failed() const { return (status & MIRLO_STATUS_ERROR) != 0; }
};

// Adds the outcome of one comparison to the run. The one place where the
// run-wide state changes.
void run_outcome_add(run_outcome *run, const pair_outcome &outcome);

// The exit status of a run: 2 when an error occurred; else 1 when a
// difference was found, a pair was not comparable or the compared member
// lists differ; else 0.
int run_exit_status(const run_outcome &run);
