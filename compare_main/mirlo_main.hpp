// The pmirlo main program: start-up, roles by rank, early exit, the summary
// and the exit status.
#pragma once
#include "mirlo_options.hpp"

// The program entry; returns the exit status of the run.
int mirlo_main(int argc, char **argv);

// Ends the run early with status (0 after -h or -V, 1 after a refused command
// line): in a multi-process run the workers are stopped and all processes
// meet at a barrier; then the tools library is closed, MPI is finalised and
// the process exits.
[[noreturn]] void comparison_exit(int status);

// The exit status of a finished comparison: 2 when an error occurred; else
// 1 when a difference was found, a pair was not comparable or the compared
// member lists differ; else 0.
int comparison_status(nfound_t nfound, const diff_options *options);

// The end-of-run lines about objects that were not comparable.
void print_summary(const diff_options *options);

// Manager of a multi-process run: prints what it collected itself through
// zarn_buffered_print (outBuff, then the overflow file) and empties the buffer.
void print_manager_output();
