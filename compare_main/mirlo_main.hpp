// The pmirlo main program: start-up, roles by rank, early exit, the summary
// and the exit status.
#pragma once
#include "mirlo_outcome.hpp"
#include "mirlo_settings.hpp"

struct mirlo_crew; // mirlo_parallel.hpp

// The program entry; returns the exit status of the run.
int mirlo_main(int argc, char **argv);

// Ends the run early with status (0 after -h or -V, 1 after a refused command
// line, 2 when the JSON report cannot be written): in a multi-process run the
// workers are stopped and all processes meet at a barrier; then the tools
// library is closed and MPI is finalised. Returns the exit status.
int comparison_end_early(int status, mirlo_crew *crew);

// The end-of-run lines about objects that were not comparable.
void print_summary(const mirlo_settings &settings, const run_outcome &run);
