// Progress of a run on standard error: one line per finished measurement,
// "tessel: 7 of 42: mpiio 2 procs 1 MiB transfers done", printed by rank 0
// between measurements (never while one is timed). On a terminal each line
// replaces the one before; elsewhere the lines follow each other. Progress
// never changes the reports or the exit status: a standard error that is
// closed or cannot be written only ends the progress lines.
#pragma once
#include "tessel_options.hpp"
#include "tessel_results.hpp"

#include <string>

struct tessel_progress {
    int total = 0;             // measurements the run will make
    int done = 0;              // measurements finished
    bool rewrite = false;      // standard error is a terminal: each line replaces the last
    bool report_on_terminal = false; // the text report goes to a terminal too
    bool broken = false;       // a write to standard error failed: no more lines
    std::string line;          // the latest line
    bool visible = false;      // rewrite mode: the latest line is on screen
};

// Whether a run shows progress: as --progress says, else when standard
// error is a terminal.
bool tessel_progress_wanted(const bench_options &o);

// Progress for the whole run: its total is the number of measurements the
// options make at this world size.
tessel_progress tessel_progress_start(const bench_options &o, int world_size);

// The line of one finished measurement (without a line break):
// "tessel: 7 of 42: mpiio 2 procs 1 MiB transfers done", "... failed" when
// its runs failed. In 2D the transfer is the block times the transfer
// buffer, as in the text report ("4 KiB x 8 KiB transfers").
std::string tessel_progress_line(int done, int total, const tessel_measurement &m, const bench_options &o);

// Counts a finished measurement and prints its line (nothing when p is
// nullptr).
void tessel_progress_step(tessel_progress *p, const tessel_measurement &m, const bench_options &o);

// Around other output on the terminal (a line of the text report, a
// message on standard error): on a terminal the progress line is taken off
// the screen before it and put back after it, so it stays below the rest.
// Both do nothing when p is nullptr or the lines are not rewritten.
void tessel_progress_hide(tessel_progress *p);
void tessel_progress_show(tessel_progress *p);

// Ends the run's progress: on a terminal, the last line is closed with a
// line break so what follows starts on a line of its own.
void tessel_progress_finish(tessel_progress *p);
