// The command-line option scanner shared by both programs, the version line
// and the subset suffix of object names.
#pragma once
#include "zarn_utils.hpp"

#include <cstdio>
#include <string>

enum zarn_arg_kind : int { arg_none = 0, arg_required = 1, arg_optional = 2 };

struct zarn_long_option {
    const char *name;
    int arg_kind;
    char letter;
};

// Scanner state: one scanner per process.
extern int zarn_opt_index;
extern int zarn_opt_pos;
extern const char *zarn_opt_arg;
extern int zarn_opt_report;

// Returns the next option letter, '?' for a refused option, -1 at the end.
int zarn_scan_option(int argc, const char *const *argv, const char *short_options,
                     const zarn_long_option *long_options);

// Puts the scanner back to its initial state (tests scan many command lines).
void zarn_reset_scanner();

void zarn_print_version(const char *program_name);
// The same line on out.
void zarn_print_version(FILE *out, const char *program_name);

// start, stride, count and block lists from "[START;STRIDE;COUNT;BLOCK]".
struct subset_spec {
    hsize_list start;
    hsize_list stride;
    hsize_list count;
    hsize_list block;
};

// What is wrong with the subset suffix of path, in words; empty when path
// has no "[" or its suffix is well formed: one pair of brackets at the very
// end around at most four ';'-separated lists, each empty or made of
// ','-separated non-negative decimal integers (no sign, no leading zero, no
// empty entry), with at least one number in all. Rank and extent are not
// checked here: they depend on the dataset.
std::string zarn_subset_suffix_error(const char *path);

// Cuts the suffix off path (in place) and returns the parsed record, or
// nullptr when the path has no "[". Free with subset_spec_free.
subset_spec *parse_subset_spec(char *path);
void subset_spec_free(subset_spec *spec);
