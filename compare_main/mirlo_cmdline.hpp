// The pmirlo command line: options into the settings, the file and object
// names, and the usage text.
#pragma once
#include "mirlo_settings.hpp"

// The names given on the command line (pointers into argv; obj1 and obj2 may
// be null). Subset suffixes have been cut off the object names.
struct mirlo_args {
    const char *file1 = nullptr;
    const char *file2 = nullptr;
    char *obj1 = nullptr;
    char *obj2 = nullptr;
    const char *json_file = nullptr; // --json=FILE ("-" for standard output), or null
    // Many file pairs in one run: both file names are folders, or the pairs
    // come from a list (--pairs FILE, "-" for standard input; no file names).
    bool directories = false;
    const char *pair_list = nullptr;
    const char *list_differing = nullptr; // --list-differing FILE, or null
    bool progress_given = false;          // --progress was given (else the terminal decides)
};

// Status mirlo_parse_args returns for a valid command line.
constexpr int MIRLO_ARGS_VALID = -1;

// Parses the command line into settings and args. Returns MIRLO_ARGS_VALID,
// or the exit status the run must end with (0 after -h or -V, 1 after a
// refusal) once the messages and the usage text have been printed. The
// scanner must be at its initial state.
int mirlo_parse_args(int argc, char **argv, mirlo_args *args, mirlo_settings *settings);

// True when the command line sends the JSON report to standard output
// (--json=-), found as parsing would find it, without printing anything; the
// scanner is left at its initial state.
bool json_to_standard_output(int argc, char **argv);

// Sets verbose_level after the scanner returned the letter v: the first word
// of the form -v or -vN decides (0 or N) and gives back a word the scanner
// took as the option's value; without such a word the scanner's value
// (--verbose=N) decides.
void find_verbose_level(int argc, char **argv, mirlo_settings *settings);

// The checks of option values; true when the value is acceptable.
bool is_valid_delta_value(const char *value);  // -d and -p
bool is_valid_count_value(const char *value);  // -n

// True when the command line asks for the object-path listing of shell
// completion: the hidden first word --list-object-paths, then a file name and
// an optional prefix (empty when absent), which are set. Anywhere else the
// word is an unknown option like any other.
bool mirlo_object_paths_request(int argc, char **argv, const char **file, const char **prefix);

// Writes the usage text on rawoutstream.
void print_usage();
