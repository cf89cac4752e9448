// The run-wide state as the sum of the comparisons' outcomes.
#include "mirlo_outcome.hpp"

void run_outcome_add(run_outcome *run, const pair_outcome &outcome)
{
    run->differences += outcome.differences;
    run->not_comparable = run->not_comparable || outcome.not_comparable;
    if (outcome.members_differ)
        run->contents_equal = false;
    run->status |= outcome.status;
}

int run_exit_status(const run_outcome &run)
{
    if (run.failed())
        return 2;
    if (run.differences > 0 || run.not_comparable || (run.status & MIRLO_STATUS_UNREADABLE) != 0 ||
        !run.contents_equal)
        return 1;
    return 0;
}
