// The pmirlo command line.
#include "mirlo_cmdline.hpp"
#include "mirlo_glob.hpp"
#include "mirlo_main.hpp"
#include "mirlo_rules.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"
#include "zarn_utils.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *SHORT_OPTIONS = "cd:ehln:p:qrv*xA:CE:NS*V";

constexpr zarn_long_option LONG_OPTIONS[] = {
    {"compare", arg_none, 'c'},
    {"delta", arg_required, 'd'},
    {"use-system-epsilon", arg_none, 'e'},
    {"help", arg_none, 'h'},
    {"follow-symlinks", arg_none, 'l'},
    {"count", arg_required, 'n'},
    {"relative", arg_required, 'p'},
    {"quiet", arg_none, 'q'},
    {"report", arg_none, 'r'},
    {"verbose", arg_optional, 'v'},
    {"no-dangling-links", arg_none, 'x'},
    {"exclude-attribute", arg_required, 'A'},
    {"no-compact-subset", arg_none, 'C'},
    {"exclude-path", arg_required, 'E'},
    {"nan", arg_none, 'N'},
    {"enable-error-stack", arg_optional, 'S'},
    {"version", arg_none, 'V'},
    {"json", arg_required, 'J'},
    {"statistics", arg_none, 'T'},
    {"pairs", arg_required, 'P'},
    {"list-differing", arg_required, 'D'},
    {"atol", arg_required, 'L'},
    {"rtol", arg_required, 'R'},
    {"nan-equal", arg_none, 'Q'},
    {"rules", arg_required, 'U'},
    {"ignore-attribute", arg_required, 'I'},
    {"references-by-value", arg_none, 'B'},
    {"structure-only", arg_none, 'O'},
    {"progress", arg_optional, 'G'},
    {nullptr, 0, 0},
};

// Seconds between progress lines when --progress has no value, and when
// standard error is a terminal.
constexpr double PROGRESS_DEFAULT_SECONDS = 5;

// Values below this magnitude leave relative mode off.
constexpr double RELATIVE_FLOOR = 2.220446049250313e-16;

// A refused value: the message on standard output, then the usage text.
int refuse_value(char letter, const char *value)
{
    printf("<-%c %s> is not a valid option\n", letter, value);
    print_usage();
    return 1;
}

// A refused value of a long option that has no letter.
int refuse_long_value(const char *option, const char *value)
{
    printf("<--%s %s> is not a valid option\n", option, value);
    print_usage();
    return 1;
}

// Reads the rules file into the settings; on failure one message on
// standard error and status 1.
int take_rules_file(const char *file, mirlo_settings *settings)
{
    if (!settings->rules_file.empty()) {
        zarn_error_msg("--rules is given more than once: one rules file per run\n");
        return 1;
    }
    std::string message;
    if (mirlo_read_rules_text(file, &settings->rules_text, &settings->rules, &message) < 0) {
        zarn_error_msg("%s\n", message.c_str());
        return 1;
    }
    settings->rules_file = file;
    return MIRLO_ARGS_VALID;
}


} // namespace

bool is_valid_delta_value(const char *value)
{
    // "0x" alone has always been taken as 0; longer hexadecimal values are not.
    if (std::strcmp(value, "0x") == 0)
        return true;
    if (std::strncmp(value, "0x", 2) == 0 || std::strncmp(value, "0X", 2) == 0)
        return false;
    // The whole value must be one number: no leading blank, nothing after it.
    if (value[0] == '\0' || std::isspace(static_cast<unsigned char>(value[0])))
        return false;
    char *end = nullptr;
    const double d = std::strtod(value, &end);
    if (*end != '\0')
        return false;
    // NaN would hide every difference, and so would an infinite tolerance
    // (written out, or a value beyond the range of double).
    if (!std::isfinite(d))
        return false;
    return !(d < 0);
}

bool is_valid_count_value(const char *value)
{
    if (value[0] == '0')
        return false;
    for (const char *p = value; *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

void find_verbose_level(int argc, char **argv, mirlo_settings *settings)
{
    if (argc < 2)
        return;
    // The scanner took the word after the option as its value when the value
    // is that very word (a --verbose=N value lies inside the option's word and
    // is never given back).
    bool took_next_word = zarn_opt_arg != nullptr && zarn_opt_index >= 2 && zarn_opt_arg == argv[zarn_opt_index - 1];
    for (int i = 1; i < argc; ++i) {
        const char *word = argv[i];
        if (word[0] == '-' && word[1] == 'v') {
            if (took_next_word)
                --zarn_opt_index;
            settings->verbose_level = word[2] == '\0' ? 0 : std::atoi(word + 2);
            return;
        }
        settings->verbose_level = zarn_opt_arg ? std::atoi(zarn_opt_arg) : 0;
    }
}

namespace {

// One option of the scanner into the settings. Returns MIRLO_ARGS_VALID to
// go on, or the status the run ends with.
int take_option(int opt, const char *value, int argc, char **argv, mirlo_args *args, mirlo_settings *settings)
{
    switch (opt) {
    case 'q': settings->quiet_mode = true; break;
    case 'r': settings->report_mode = true; break;
    case 'v':
        settings->verbose_mode = true;
        find_verbose_level(argc, argv, settings);
        break;
    case 'c': settings->list_not_comparable = true; break;
    case 'd':
        settings->delta_mode = true;
        if (!is_valid_delta_value(value))
            return refuse_value('d', value);
        settings->delta = std::atof(value);
        break;
    case 'p':
        settings->relative_mode = true;
        if (!is_valid_delta_value(value))
            return refuse_value('p', value);
        settings->relative = std::atof(value);
        if (std::fabs(settings->relative) < RELATIVE_FLOOR)
            settings->relative_mode = false;
        break;
    case 'e': settings->system_epsilon_mode = true; break;
    case 'l': settings->follow_links = true; break;
    case 'x': settings->no_dangling_links = true; break;
    case 'N': settings->detect_nans = false; break;
    case 'C': settings->no_compact_subset = true; break;
    case 'n':
        settings->count_mode = true;
        if (!is_valid_count_value(value))
            return refuse_value('n', value);
        settings->count_limit = std::strtoull(value, nullptr, 0);
        break;
    case 'E': settings->exclude_paths.emplace_back(value); break;
    case 'A': settings->exclude_attrs.emplace_back(value); break;
    case 'S': settings->error_stack_level = value ? std::atoi(value) : 1; break;
    case 'J':
        settings->json_mode = true;
        args->json_file = value;
        break;
    case 'T': settings->statistics_mode = true; break;
    case 'P': args->pair_list = value; break;
    case 'D': args->list_differing = value; break;
    case 'L':
    case 'R':
        if (!is_valid_delta_value(value))
            return refuse_long_value(opt == 'L' ? "atol" : "rtol", value);
        settings->combined_mode = true;
        (opt == 'L' ? settings->atol : settings->rtol) = std::atof(value);
        break;
    case 'Q': settings->nan_equal = true; break;
    case 'B': settings->references_by_value = true; break;
    case 'U': return take_rules_file(value, settings);
    case 'I':
        if (const std::string bad = glob_check(value); !bad.empty()) {
            zarn_error_msg("--ignore-attribute %s: %s\n", zarn_printable_name(value).c_str(), bad.c_str());
            return 1;
        }
        settings->ignore_attrs.emplace_back(value);
        break;
    case 'O': settings->structure_only = true; break;
    case 'G':
        // Any finite number of seconds, not negative; 0 turns progress off.
        if (value != nullptr && !is_valid_delta_value(value))
            return refuse_long_value("progress", value);
        settings->progress_seconds = value != nullptr ? std::atof(value) : PROGRESS_DEFAULT_SECONDS;
        args->progress_given = true;
        break;
    case 'h': print_usage(); return 0;
    case 'V': zarn_print_version(zarn_get_progname()); return 0;
    default: print_usage(); return 1;
    }
    return MIRLO_ARGS_VALID;
}

// The options before the operands.
int scan_options(int argc, char **argv, mirlo_args *args, mirlo_settings *settings)
{
    int opt;
    while ((opt = zarn_scan_option(argc, argv, SHORT_OPTIONS, LONG_OPTIONS)) != -1) {
        // Options that need a value and arrived without one (a long option as
        // the last word or before a word beginning with '-') are refused.
        const char *value = zarn_opt_arg;
        if (opt == 'J' && (value == nullptr || value[0] == '\0')) {
            zarn_error_msg("--json needs a file name (- for standard output)\n");
            return 1;
        }
        if (opt == 'J' && args->json_file != nullptr) {
            zarn_error_msg("--json is given more than once: one report file per run\n");
            return 1;
        }
        if ((opt == 'P' || opt == 'D') && (value == nullptr || value[0] == '\0')) {
            zarn_error_msg("--%s needs a file name%s\n", opt == 'P' ? "pairs" : "list-differing",
                           opt == 'P' ? " (- for standard input)" : "");
            return 1;
        }
                const bool needs_value = opt == 'd' || opt == 'p' || opt == 'n' || opt == 'E' || opt == 'A' || opt == 'L' ||
                                 opt == 'R' || opt == 'U' || opt == 'I';
        if (needs_value && value == nullptr) {
            print_usage();
            return 1;
        }
        if (const int status = take_option(opt, value, argc, argv, args, settings); status != MIRLO_ARGS_VALID)
            return status;
    }
    if (int(settings->relative_mode) + int(settings->delta_mode) + int(settings->system_epsilon_mode) +
            int(settings->combined_mode) >
        1) {
        printf("%s error: -d, -p, --use-system-epsilon and --atol/--rtol options are mutually-exclusive;\n",
               "mirlo");
        printf("use no more than one.\n");
        printf("Try '-h' or '--help' option for more information or see the %s entry in the 'HDF5 Reference "
               "Manual'.\n",
               "mirlo");
        return 1;
    }
    return MIRLO_ARGS_VALID;
}

// The file and object names after the options, and the subsets of the
// object names.
bool is_folder(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The operands of a job of many file pairs: none after --pairs, two folders
// without object names otherwise.
int take_job_operands(int argc, char **argv, mirlo_args *args)
{
    if (args->pair_list != nullptr) {
        if (zarn_opt_index < argc) {
            zarn_error_msg("--pairs takes the files from its list: no file names after it\n");
            return 1;
        }
        return MIRLO_ARGS_VALID;
    }
    if (zarn_opt_index + 2 < argc) {
        zarn_error_msg("<%s> and <%s> are folders: obj1 and obj2 cannot be given with them\n",
                       zarn_printable_name(argv[zarn_opt_index]).c_str(),
                       zarn_printable_name(argv[zarn_opt_index + 1]).c_str());
        return 1;
    }
    args->file1 = argv[zarn_opt_index];
    args->file2 = argv[zarn_opt_index + 1];
    args->directories = true;
    return MIRLO_ARGS_VALID;
}

int take_operands(int argc, char **argv, mirlo_args *args, mirlo_settings *settings)
{
    if (args->pair_list != nullptr ||
        (zarn_opt_index + 1 < argc && is_folder(argv[zarn_opt_index]) && is_folder(argv[zarn_opt_index + 1])))
        return take_job_operands(argc, argv, args);
    if (zarn_opt_index >= argc || zarn_opt_index + 1 >= argc) {
        zarn_error_msg("missing file names\n");
        print_usage();
        return 1;
    }
    args->file1 = argv[zarn_opt_index];
    args->file2 = argv[zarn_opt_index + 1];
    if (zarn_opt_index + 2 >= argc)
        return MIRLO_ARGS_VALID;
    args->obj1 = argv[zarn_opt_index + 2];
    args->obj2 = zarn_opt_index + 3 < argc ? argv[zarn_opt_index + 3] : args->obj1;
    if (settings->no_compact_subset)
        return MIRLO_ARGS_VALID;
    // A malformed suffix is refused here, before anything is read, rather
    // than read as some other selection.
    for (const char *obj : {args->obj1, args->obj2}) {
        const std::string problem = zarn_subset_suffix_error(obj);
        if (!problem.empty()) {
            zarn_error_msg("invalid subset in <%s>: %s\n", zarn_printable_name(obj).c_str(), problem.c_str());
            print_usage();
            *args = mirlo_args{};
            return 1;
        }
    }
    // When obj2 is obj1 itself the first call has already cut the suffix, so
    // the second record stays null.
    settings->subsets[0] = subset_spec_owned(parse_subset_spec(args->obj1));
    settings->subsets[1] = subset_spec_owned(parse_subset_spec(args->obj2));
    return MIRLO_ARGS_VALID;
}

} // namespace

int mirlo_parse_args(int argc, char **argv, mirlo_args *args, mirlo_settings *settings)
{
    *settings = mirlo_settings();
    *args = mirlo_args{};
    int status = scan_options(argc, argv, args, settings);
    if (status == MIRLO_ARGS_VALID)
        status = take_operands(argc, argv, args, settings);
    // Progress is shown by default only to someone watching standard error.
    if (!args->progress_given && isatty(STDERR_FILENO) == 1)
        settings->progress_seconds = PROGRESS_DEFAULT_SECONDS;
    // A command line that ends the run leaves no settings behind.
    if (status != MIRLO_ARGS_VALID)
        *settings = mirlo_settings();
    return status;
}

bool mirlo_object_paths_request(int argc, char **argv, const char **file, const char **prefix)
{
    if (argc < 3 || std::strcmp(argv[1], "--list-object-paths") != 0)
        return false;
    *file = argv[2];
    *prefix = argc > 3 ? argv[3] : "";
    return true;
}

bool json_to_standard_output(int argc, char **argv)
{
    // The options are scanned as parsing scans them, silently, down to the
    // -v words that give a file name back and the stop at an unknown option.
    mirlo_settings scratch;
    const int saved_report = zarn_opt_report;
    zarn_reset_scanner();
    zarn_opt_report = 0;
    bool to_stdout = false;
    int opt;
    while ((opt = zarn_scan_option(argc, argv, SHORT_OPTIONS, LONG_OPTIONS)) != -1 && opt != '?') {
        if (opt == 'v')
            find_verbose_level(argc, argv, &scratch);
        else if (opt == 'J')
            to_stdout = zarn_opt_arg != nullptr && std::strcmp(zarn_opt_arg, "-") == 0;
    }
    zarn_reset_scanner();
    zarn_opt_report = saved_report;
    return to_stdout;
}

void print_usage()
{
    static const char *const lines[] = {
        "usage: mirlo [OPTIONS] file1 file2 [obj1[ obj2]]",
        "       mirlo [OPTIONS] dir1 dir2",
        "       mirlo [OPTIONS] --pairs=FILE",
        "  file1             File name of the first HDF5 file",
        "  file2             File name of the second HDF5 file",
        "  [obj1]            Name of an HDF5 object, in absolute path",
        "  [obj2]            Name of an HDF5 object, in absolute path",
        "",
        "  ERROR",
        "   --enable-error-stack Prints messages from the HDF5 error stack as they occur.",
        "                        Optional value 2 also prints file open errors.",
        "  OPTIONS",
        "   -h, --help",
        "         Print a usage message and exit.",
        "   -V, --version",
        "         Print version number and exit.",
        "   -r, --report",
        "         Report mode. Print differences.",
        "   -v --verbose",
        "         Verbose mode. Print differences information and list of objects.",
        "   -vN --verbose=N",
        "         Verbose mode with level. Print differences and list of objects.",
        "         Level of detail depends on value of N:",
        "          0 : Identical to '-v' or '--verbose'.",
        "          1 : All level 0 information plus one-line attribute status summary.",
        "          2 : All level 1 information plus extended attribute status report.",
        "          3 : All level 2 information plus file names.",
        "   -q, --quiet",
        "         Quiet mode. Do not produce output.",
        "   --follow-symlinks",
        "         Follow symbolic links (soft links and external links and compare the)",
        "         links' target objects.",
        "         If symbolic link(s) with the same name exist in the files being",
        "         compared, then determine whether the target of each link is an existing",
        "         object (dataset, group, or named datatype) or the link is a dangling",
        "         link (a soft or external link pointing to a target object that does",
        "         not yet exist).",
        "         - If both symbolic links are dangling links, they are treated as being",
        "           the same; by default, mirlo returns an exit code of 0.",
        "           If, however, --no-dangling-links is used with --follow-symlinks,",
        "           this situation is treated as an error and mirlo returns an",
        "           exit code of 2.",
        "         - If only one of the two links is a dangling link,they are treated as",
        "           being different and mirlo returns an exit code of 1.",
        "           If, however, --no-dangling-links is used with --follow-symlinks,",
        "           this situation is treated as an error and mirlo returns an",
        "           exit code of 2.",
        "         - If both symbolic links point to existing objects, mirlo compares the",
        "           two objects.",
        "         If any symbolic link specified in the call to mirlo does not exist,",
        "         mirlo treats it as an error and returns an exit code of 2.",
        "   --no-dangling-links",
        "         Must be used with --follow-symlinks option; otherwise, mirlo shows",
        "         error message and returns an exit code of 2.",
        "         Check for any symbolic links (soft links or external links) that do not",
        "         resolve to an existing object (dataset, group, or named datatype).",
        "         If any dangling link is found, this situation is treated as an error",
        "         and mirlo returns an exit code of 2.",
        "   -c, --compare",
        "         List objects that are not comparable",
        "   -N, --nan",
        "         Avoid NaNs detection",
        "   -n C, --count=C",
        "         Print differences up to C. C must be a positive integer.",
        "   -d D, --delta=D",
        "         Print difference if (|a-b| > D). D must be a positive number. Where a",
        "         is the data point value in file1 and b is the data point value in file2.",
        "         Can not use with '-p' or '--use-system-epsilon'.",
        "   -p R, --relative=R",
        "         Print difference if (|(b-a)/a| > R). R must be a positive number. Where a",
        "         is the data point value in file1 and b is the data point value in file2.",
        "         Can not use with '-d' or '--use-system-epsilon'.",
        "   --use-system-epsilon",
        "         Print difference if (|a-b| > EPSILON), EPSILON is system defined value. Where a",
        "         is the data point value in file1 and b is the data point value in file2.",
        "         If the system epsilon is not defined,one of the following predefined",
        "         values will be used:",
        "           FLT_EPSILON = 1.19209E-07 for floating-point type",
        "           DBL_EPSILON = 2.22045E-16 for double precision type",
        "         Can not use with '-p' or '-d'.",
        "   --atol=A, --rtol=R",
        "         Print difference if (|b-a| > A + R*|a|). A and R must be finite numbers,",
        "         not negative; either alone sets the other to 0. Where a is the data",
        "         point value in file1 and b is the data point value in file2.",
        "         Can not use with '-d', '-p' or '--use-system-epsilon'.",
        "   --nan-equal",
        "         A NaN against a NaN at the same position is equal; a NaN against a",
        "         number is always a difference, under every tolerance.",
        "   --rules FILE",
        "         Read per-object rules (tolerances, NaN handling, count limits, objects",
        "         and attribute names to ignore) from the TOML file FILE.",
        "   --ignore-attribute GLOB",
        "         Neither compare nor list the attributes whose name matches GLOB, on",
        "         any object. This option can be used repeatedly.",
        "   --references-by-value",
        "         Compare the data behind the object references of the dimension-scale",
        "         attributes DIMENSION_LIST and REFERENCE_LIST, instead of where they lead.",
        "   --exclude-path \"path\"",
        "         Exclude the specified path to an object when comparing files or groups.",
        "         If a group is excluded, all member objects will also be excluded.",
        "         The specified path is excluded wherever it occurs.",
        "         This flexibility enables the same option to exclude either objects that",
        "         exist only in one file or common objects that are known to differ.",
        "",
        "         When comparing files, \"path\" is the absolute path to the excluded;",
        "         object; when comparing groups, \"path\" is similar to the relative",
        "         path from the group to the excluded object. This \"path\" can be",
        "         taken from the first section of the output of the --verbose option.",
        "         For example, if you are comparing the group /groupA in two files and",
        "         you want to exclude /groupA/groupB/groupC in both files, the exclude",
        "         option would read as follows:",
        "           --exclude-path \"/groupB/groupC\"",
        "",
        "         If there are multiple paths to an object, only the specified path(s)",
        "         will be excluded; the comparison will include any path not explicitly",
        "         excluded.",
        "         This option can be used repeatedly to exclude multiple paths.",
        "",
        "   --exclude-attribute \"path/to/object/with/attribute\"",
        "         Exclude attributes on the specified path to an object when comparing files or groups.",
        "",
        "         If there are multiple paths to an object, only the specified path(s)",
        "         will be excluded; the comparison will include any path not explicitly",
        "         excluded.",
        "         This option can be used repeatedly to exclude multiple paths.",
        "",
        "   --json=FILE",
        "         Also write the report as one JSON document to FILE. With FILE '-' the",
        "         document goes to standard output, which then carries nothing else.",
        "   --statistics",
        "         After each dataset or attribute with differences, print the elements",
        "         compared, the differences, and the largest absolute and relative",
        "         differences with their positions.",
        "   --pairs=FILE",
        "         Compare the file pairs listed in FILE instead of file1 and file2: one",
        "         pair a line, the two paths separated by a tab, relative paths taken",
        "         from the folder of FILE; lines starting with '#' are comments.",
        "         With FILE '-' the list is read from standard input.",
        "   --list-differing=FILE",
        "         Write to FILE the file pairs with differences or errors, one a line",
        "         (their paths relative to the folders, or the first file of a listed",
        "         pair).",
        "   --progress[=SECONDS]",
        "         Show on standard error, at most every SECONDS seconds (default 5), the",
        "         pairs and bytes compared, the rate and the time left; 0 turns it off.",
        "         On by default when standard error is a terminal.",
        "   --structure-only",
        "         Compare member lists, kinds, link values, datatypes, dataspaces and",
        "         attributes (their values included) without reading dataset values.",
        "         With -v or --json, also show each dataset's storage (layout, chunks,",
        "         filters, fill value); storage that differs is not a difference.",
        "",
        " Modes of output:",
        "  Default mode: print the number of differences found and where they occurred",
        "  -r Report mode: print the above plus the differences",
        "  -v Verbose mode: print the above plus a list of objects and warnings",
        "  -q Quiet mode: do not print output",
        "",
        " File comparison:",
        "  If no objects [obj1[ obj2]] are specified, the mirlo comparison proceeds as",
        "  a comparison of the two files' root groups.  That is, mirlo first compares",
        "  the names of root group members, generates a report of root group objects",
        "  that appear in only one file or in both files, and recursively compares",
        "  common objects.",
        "",
        " Folder comparison:",
        "  If file1 and file2 are both folders, every HDF5 file under file1 is",
        "  compared with the file of the same relative path under file2, in path",
        "  order; files found under one folder only are listed and count as a",
        "  difference; files that are not HDF5 are skipped (listed with -v). Each",
        "  pair's report follows a line naming it; a summary line ends the run.",
        "",
        " Object comparison:",
        "  1) Groups",
        "      First compares the names of member objects (relative path, from the",
        "      specified group) and generates a report of objects that appear in only",
        "      one group or in both groups. Common objects are then compared recursively.",
        "  2) Datasets",
        "      Array rank and dimensions, datatypes, and data values are compared.",
        "  3) Datatypes",
        "      The comparison is based on the return value of H5Tequal.",
        "  4) Symbolic links",
        "      The paths to the target objects are compared.",
        "      (The option --follow-symlinks overrides the default behavior when",
        "       symbolic links are compared.).",
        "",
        " Subsetting options:",
        "  --no-compact-subset  Disable compact form of subsetting and allow the use",
        "                          of \"[\" in dataset names.",
        "  Subsetting is available by using the fcompact form of subsetting, as follows:",
        "    obj1 /foo/mydataset[START;STRIDE;COUNT;BLOCK]",
        "  It is not required to use all parameters, but until the last parameter value used,",
        "  all of the semicolons (;) are required, even when a parameter value is not specified. Example:",
        "    obj1 /foo/mydataset[START;;COUNT;BLOCK]",
        "    obj1 /foo/mydataset[START]",
        "  The STRIDE, COUNT, and BLOCK parameters are optional and will default to 1 in",
        "  each dimension. START is optional and will default to 0 in each dimension.",
        "  Each of START, STRIDE, COUNT, and BLOCK must be a comma-separated list of integers with",
        "  one integer for each dimension of the dataset.",
        "",
        " Exit code:",
        "  0 if no differences, 1 if differences found, 2 if error",
        "",
        " Examples of use:",
        " 1) mirlo file1 file2 /g1/dset1 /g1/dset2",
        "    Compares object '/g1/dset1' in file1 with '/g1/dset2' in file2",
        "",
        " 2) mirlo file1 file2 /g1/dset1",
        "    Compares object '/g1/dset1' in both files",
        "",
        " 3) mirlo file1 file2",
        "    Compares all objects in both files",
        "",
        " Notes:",
        "  file1 and file2 can be the same file.",
        "  Use mirlo file1 file1 /g1/dset1 /g1/dset2 to compare",
        "  '/g1/dset1' and '/g1/dset2' in the same file",
    };
    for (const char *line : lines) {
        if (rawoutstream == nullptr)
            return;
        fputs(line, rawoutstream);
        fputc('\n', rawoutstream);
    }
}
