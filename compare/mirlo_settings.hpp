// The settings of a comparison: everything the command line decides, built
// once before anything is compared and read-only from then on (the
// comparison takes them as const). A multi-process run sends them to every
// worker once, as one byte string.
#pragma once
#include "mirlo_rules.hpp"
#include "zarn_options.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A subset record of parse_subset_spec, read-only, shared by the copies of
// the settings that hold it.
using subset_spec_ptr = std::shared_ptr<const subset_spec>;
// Takes ownership of spec (null gives null).
subset_spec_ptr subset_spec_owned(subset_spec *spec);

struct mirlo_settings {
    // What is printed.
    bool quiet_mode = false;          // -q, print nothing
    bool report_mode = false;         // -r, print the differences
    bool verbose_mode = false;        // -v, also object lists and warnings
    int verbose_level = 0;            // N of -vN / --verbose=N
    bool list_not_comparable = false; // -c, a line per pair not comparable
    bool statistics_mode = false;     // --statistics
    bool json_mode = false;           // --json, a record kept of every pair

    // How two values are judged.
    bool delta_mode = false;          // -d given
    double delta = 0;                 // its value
    bool relative_mode = false;       // -p given (and not below 2^-52)
    double relative = 0;              // its value
    bool system_epsilon_mode = false; // --use-system-epsilon
    bool combined_mode = false;       // --atol or --rtol given
    double atol = 0;                  // |b - a| > atol + rtol * |a|
    double rtol = 0;
    bool detect_nans = true;          // cleared by -N
    bool nan_equal = false;           // --nan-equal, NaN tests on whatever -N says
    bool count_mode = false;          // -n given
    uint64_t count_limit = 0;         // its value

    // What is compared.
    bool follow_links = false;        // --follow-symlinks
    bool no_dangling_links = false;   // --no-dangling-links
    bool no_compact_subset = false;   // --no-compact-subset
    // --references-by-value: the object references of dimension-scale
    // attributes are followed and the data behind them compared, as
    // references elsewhere are.
    bool references_by_value = false;
    std::vector<std::string> exclude_paths; // --exclude-path, in the order given
    std::vector<std::string> exclude_attrs; // --exclude-attribute, in the order given
    std::vector<std::string> ignore_attrs;  // --ignore-attribute globs, on every object
    // --rules FILE: its name, its text as read, and the rules parsed from it
    // (workers receive the text and parse it again).
    std::string rules_file;
    std::string rules_text;
    std::vector<mirlo_rule> rules;
    subset_spec_ptr subsets[2];       // subsets of object 1 and 2, or null
    // --structure-only: member lists, kinds, links, types, shapes and
    // attributes are compared; no dataset value is read.
    bool structure_only = false;

    // Equal stored chunks, fill values and buffers settle data without
    // comparing its elements; off only where a check compares both paths.
    bool chunk_shortcuts = true;

    // Error-stack level of --enable-error-stack (the support library's
    // enable_error_stack on every process).
    int error_stack_level = 0;

    // --progress: seconds between progress lines on standard error of rank
    // 0; 0 for none.
    double progress_seconds = 0;

    // True when records are kept in this run (--json or --statistics).
    bool records_kept() const { return json_mode || statistics_mode; }
};

// The settings as one byte string, and back. settings_from_bytes returns 0,
// or -1 when the bytes are not a whole settings string (*settings is then
// left as a default one).
std::vector<unsigned char> settings_to_bytes(const mirlo_settings &settings);
int settings_from_bytes(const unsigned char *bytes, size_t size, mirlo_settings *settings);
