// Progress of a comparison on standard error: at most one line every few
// seconds, "mirlo: 1,204 of 3,000 pairs, 2.1 of 4.0 GiB, 610 MiB/s, 3 s left".
// The counts come from the comparison loop of a one-process run after each
// pair, and from the workers' answers on the manager; nothing here is asked
// inside the element loops. On a terminal each line replaces the one before,
// unless the report goes to the same screen (a line rewritten in place would
// be torn by the report's lines): then, as elsewhere, the lines follow each
// other, the report written so far shown before each. Progress never changes the report,
// the JSON or the exit status: a standard error that is closed or cannot be
// written only ends the lines.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

// What one line says.
struct progress_counts {
    uint64_t pairs_done = 0;   // pairs compared
    uint64_t pairs_listed = 0; // pairs listed so far
    uint64_t bytes_done = 0;   // dataset bytes compared (the values of one side)
    uint64_t bytes_known = 0;  // dataset bytes of the pairs whose size is known so far
    double work_done = 0;      // pairs_done plus the share of split pairs whose pieces have answered
    bool listing_done = false; // every pair of the run has been listed
    double elapsed = 0;        // seconds since the run started
};

// The line (without a line break): counts with thousands separators, the
// bytes in the binary unit of their total, the rate, and the time left once
// the listing is done and some work has been.
std::string mirlo_progress_line(const progress_counts &c);

struct mirlo_progress {
    bool enabled = false;      // lines are printed (else the counts are only kept)
    double interval = 0;       // seconds between lines
    bool rewrite = false;      // standard error is a terminal, standard output is not
    bool flush_report = false; // standard output is a terminal: shown before each line
    bool broken = false;       // a write failed: no more lines
    bool visible = false;      // rewrite mode: a line is on screen
    bool printed = false;      // a line was printed
    double printed_work = 0;   // the counts it showed
    uint64_t printed_bytes = 0;
    size_t shown_size = 0;     // length of the line on screen
    uint64_t listings_left = 0; // file pairs still to be listed
    progress_counts counts;
    std::chrono::steady_clock::time_point started, last;
};

// Starts the progress of a run of file_pairs file pairs, printing a line at
// most every interval seconds (0 keeps the counts without printing).
void mirlo_progress_begin(mirlo_progress *p, double interval, uint64_t file_pairs);

// A file pair has been listed, with this many pairs to compare.
void mirlo_progress_listed(mirlo_progress *p, uint64_t pairs);
// The size of a pair's data became known before it was compared (a dataset
// pair split into pieces).
void mirlo_progress_known(mirlo_progress *p, uint64_t bytes);
// Pairs were compared whole, bytes of data among them.
void mirlo_progress_compared(mirlo_progress *p, uint64_t pairs, uint64_t bytes);
// A part of a split pair answered (a piece, or its attributes): bytes of
// its data, and share, its part of the pair's work.
void mirlo_progress_piece(mirlo_progress *p, uint64_t bytes, double share);
// Every part of a split pair has answered: the pair counts as compared.
void mirlo_progress_split_done(mirlo_progress *p);

// Prints a line when the interval has passed since the last one. Every
// function above calls it; p may be null everywhere.
void mirlo_progress_tick(mirlo_progress *p);
// Ends the progress: the final counts once more when any line was printed,
// then, on a terminal, a line break.
void mirlo_progress_finish(mirlo_progress *p);
