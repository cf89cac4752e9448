// The tessel command line and its derived sizes.
#include "tessel_options.hpp"

#include "tessel_checks.hpp"

#include "zarn_options.hpp"

#include <cctype>
#include <cmath>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

constexpr const char *SHORT_OPTIONS = "a:A:B:cCd:D:e:F:ghi:Imno:p:P:stT:wx:X:";

constexpr zarn_long_option LONG_OPTIONS[] = {
    {"align", arg_required, 'a'},
    {"api", arg_required, 'A'},
    {"block-size", arg_required, 'B'},
    {"chunk", arg_none, 'c'},
    {"chunk-size", arg_required, OPT_CHUNK_SIZE},
    {"collective", arg_none, 'C'},
    {"csv", arg_required, OPT_CSV},
    {"data", arg_required, OPT_DATA},
    {"deadline", arg_required, OPT_DEADLINE},
    {"debug", arg_required, 'D'},
    {"deflate", arg_required, OPT_DEFLATE},
    {"geometry", arg_none, 'g'},
    {"help", arg_none, 'h'},
    {"interleaved", arg_required, 'I'},
    {"json", arg_required, OPT_JSON},
    {"max-num-processes", arg_required, 'P'},
    {"min-num-processes", arg_required, 'p'},
    {"max-xfer-size", arg_required, 'X'},
    {"min-xfer-size", arg_required, 'x'},
    {"num-bytes", arg_required, 'e'},
    {"num-dsets", arg_required, 'd'},
    {"num-files", arg_required, 'F'},
    {"num-iterations", arg_required, 'i'},
    {"output", arg_required, 'o'},
    {"progress", arg_optional, OPT_PROGRESS},
    {"read-shift", arg_required, OPT_READ_SHIFT},
    {"threshold", arg_required, 'T'},
    {"write-only", arg_required, 'w'},
    {nullptr, 0, 0},
};

constexpr size_t LIST_ITEM_MAX = 10;

// The next comma-separated item of *cursor, keeping at most 10 letters and
// digits; *cursor moves past the item and its comma (nullptr after the last).
std::string next_list_item(const char **cursor)
{
    const char *p = *cursor;
    const char *comma = std::strchr(p, ',');
    const char *end = comma ? comma : p + std::strlen(p);
    std::string kept;
    for (; p < end && kept.size() < LIST_ITEM_MAX; ++p)
        if (std::isalnum(static_cast<unsigned char>(*p)))
            kept += *p;
    *cursor = comma ? comma + 1 : nullptr;
    return kept;
}

bool all_digits(const std::string &text)
{
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

unsigned long long as_unsigned(long long v)
{
    return static_cast<unsigned long long>(v);
}

// The options that take a count, with the range of their field.
struct count_option {
    char letter;
    long long min, max;
};
constexpr count_option COUNT_OPTIONS[] = {
    {'d', LONG_MIN, LONG_MAX}, {'F', LONG_MIN, LONG_MAX}, {'i', INT_MIN, INT_MAX},
    {'p', INT_MIN, INT_MAX},   {'P', INT_MIN, INT_MAX},   {OPT_READ_SHIFT, LLONG_MIN, LLONG_MAX},
    {OPT_DEFLATE, INT_MIN, INT_MAX},
};

// The name of an option in messages: -x, or --long-name for the options
// that have no short form.
std::string option_name(char letter)
{
    for (const zarn_long_option &o : LONG_OPTIONS)
        if (o.name != nullptr && o.letter == letter && std::strchr(SHORT_OPTIONS, letter) == nullptr)
            return std::string("--") + o.name;
    return std::string("-") + letter;
}

constexpr const char *DATA_NAMES[] = {"zeros", "random", "pattern"};

// Seconds as a positive finite number, such as 2, 0.5 or 1e-3.
int parse_seconds(const char *text, double *seconds)
{
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(v))
        return -1;
    *seconds = v;
    return 0;
}

} // namespace

unsigned long long bench_times(unsigned long long a, unsigned long long b)
{
    unsigned long long r = 0;
    return __builtin_mul_overflow(a, b, &r) ? ULLONG_MAX : r;
}

unsigned long long bench_dataset_bytes(const bench_options &o, int nprocs)
{
    const unsigned long long side = bench_times(as_unsigned(o.num_bytes), static_cast<unsigned>(nprocs));
    return o.dim2d ? bench_times(side, side) : side;
}

const char *bench_data_name(bench_data data)
{
    return DATA_NAMES[static_cast<int>(data)];
}

bench_options bench_default_options(int world_size)
{
    bench_options o{};
    o.api = 0;
    o.output = nullptr;
    o.num_dsets = 1;
    o.num_files = 1;
    o.num_bytes = 0;
    o.num_iterations = 1;
    o.max_num_processes = world_size;
    o.min_num_processes = 1;
    o.align = 1;
    o.threshold = 1;
    o.progress = -1;
    return o;
}

int parse_size_text(const char *text, long long *size, std::string *why)
{
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    const bool out_of_range = errno == ERANGE;
    unsigned shift = 0;
    if (*end != '\0') {
        while (*end == ' ' || *end == '\t')
            ++end;
        switch (*end) {
        case 'K': case 'k': shift = 10; break;
        case 'M': case 'm': shift = 20; break;
        case 'G': case 'g': shift = 30; break;
        default:
            *why = std::string("Illegal size specifier '") + *end + "'";
            return -1;
        }
    }
    if (out_of_range || value > (LLONG_MAX >> shift) || value < (LLONG_MIN >> shift)) {
        *why = std::string("Size out of range '") + text + "': sizes must stay below 8 EiB";
        return -1;
    }
    *size = static_cast<long long>(as_unsigned(value) << shift);
    return 0;
}

int parse_count_text(const char *text, long long min, long long max, long long *value)
{
    const char *p = text;
    if (*p == '+' || *p == '-')
        ++p;
    if (*p == '\0' || !all_digits(p))
        return -1;
    errno = 0;
    const long long v = std::strtoll(text, nullptr, 10);
    if (errno == ERANGE || v < min || v > max)
        return -1;
    *value = v;
    return 0;
}

int parse_api_list(const char *text, uint64_t *api, std::string *bad)
{
    for (const char *cursor = text; cursor != nullptr;) {
        std::string item = next_list_item(&cursor);
        if (strcasecmp(item.c_str(), "phdf5") == 0)
            *api |= API_PHDF5;
        else if (strcasecmp(item.c_str(), "mpiio") == 0)
            *api |= API_MPIIO;
        else if (strcasecmp(item.c_str(), "posix") == 0)
            *api |= API_POSIX;
        else {
            *bad = item;
            return -1;
        }
    }
    return 0;
}

int parse_debug_list(const char *text, bench_options *options, std::string *bad)
{
    for (const char *cursor = text; cursor != nullptr;) {
        std::string item = next_list_item(&cursor);
        if (item.size() > 1 || (!item.empty() && std::isdigit(static_cast<unsigned char>(item[0])))) {
            if (!all_digits(item)) {
                *bad = item;
                return -1;
            }
            long long value = std::strtoll(item.c_str(), nullptr, 10);
            options->debug_level = static_cast<int>(value > 4 ? 4 : value);
        } else if (item == "v") {
            options->verify = 1;
        } else if (item == "t") {
            options->print_times = 1;
        } else if (item == "r") {
            options->print_raw = 1;
        } else {
            *bad = item;
            return -1;
        }
    }
    return 0;
}

void derive_bench_options(bench_options *o)
{
    const bool block_given = o->block_size != 0;
    if (o->num_bytes == 0)
        o->num_bytes = o->dim2d ? 8192 : 262144;
    if (o->max_xfer_size == 0)
        o->max_xfer_size = o->num_bytes;
    if (o->min_xfer_size == 0)
        o->min_xfer_size = o->num_bytes / 2;
    if (o->api == 0)
        o->api = API_ALL;
    if (!o->dim2d) {
        if (as_unsigned(o->min_xfer_size) > as_unsigned(o->num_bytes))
            o->min_xfer_size = o->num_bytes;
        if (as_unsigned(o->max_xfer_size) > as_unsigned(o->num_bytes))
            o->max_xfer_size = o->num_bytes;
    }
    // The default block is half of num_bytes, but never more than the
    // smallest transfer buffer: the transfer sizes double from the smallest,
    // so every one of them then holds whole blocks.
    if (!block_given) {
        o->block_size = o->num_bytes / 2;
        if (as_unsigned(o->min_xfer_size) < as_unsigned(o->block_size))
            o->block_size = o->min_xfer_size;
    }
    if (as_unsigned(o->block_size) > as_unsigned(o->num_bytes))
        o->block_size = o->num_bytes;
}

bench_command parse_bench_command_line(int argc, const char *const *argv, bench_options *o, std::string *message)
{
    for (;;) {
        const int c = zarn_scan_option(argc, argv, SHORT_OPTIONS, LONG_OPTIONS);
        if (c == -1)
            break;
        const char *arg = zarn_opt_arg;
        std::string bad;
        if (c >= 'A' && c <= 'z')
            o->given |= uint64_t{1} << (c - 'A');
        switch (c) {
        case 'A':
            if (arg != nullptr && parse_api_list(arg, &o->api, &bad) < 0) {
                *message = "tesselrun: invalid --api option " + bad;
                return bench_command::refused;
            }
            break;
        case 'D':
            if (arg != nullptr && parse_debug_list(arg, o, &bad) < 0) {
                *message = "tesselrun: invalid --debug option " + bad;
                return bench_command::refused;
            }
            break;
        case 'o':
            if (arg != nullptr)
                o->output = arg;
            break;
        case 'c': o->chunk = 1; break;
        case 'C': o->collective = 1; break;
        case 'g': o->dim2d = 1; break;
        case 'I': o->interleaved = 1; break;
        case 'w': o->write_only = 1; break;
        case 'h': return bench_command::help;
        case OPT_JSON: case OPT_CSV:
            // A report file name is required: a missing one is refused like
            // any option without its value.
            if (arg == nullptr || *arg == '\0')
                return bench_command::usage;
            (c == OPT_JSON ? o->json_path : o->csv_path) = arg;
            break;
        case OPT_DATA: {
            if (arg == nullptr)
                return bench_command::usage;
            int found = -1;
            for (int i = 0; i < static_cast<int>(std::size(DATA_NAMES)); ++i)
                if (std::strcmp(arg, DATA_NAMES[i]) == 0)
                    found = i;
            if (found < 0) {
                *message = std::string("tessel: --data takes zeros, random or pattern, not '") + arg + "'";
                return bench_command::refused;
            }
            o->data = static_cast<bench_data>(found);
            break;
        }
        case OPT_PROGRESS:
            // Bare, it turns progress on; 0 turns it off (on a terminal,
            // where it is on by default) and 1 on.
            if (arg == nullptr) {
                o->progress = 1;
            } else if (std::strcmp(arg, "0") == 0 || std::strcmp(arg, "1") == 0) {
                o->progress = arg[0] - '0';
            } else {
                *message = std::string("tessel: --progress takes 0 (off) or 1 (on), not '") + arg + "'";
                return bench_command::refused;
            }
            break;
        case OPT_DEADLINE:
            if (arg == nullptr)
                return bench_command::usage;
            if (parse_seconds(arg, &o->deadline) < 0) {
                *message = std::string("tessel: --deadline takes a number of seconds, not '") + arg + "'";
                return bench_command::refused;
            }
            break;
        case 'a': case 'B': case 'e': case 'T': case 'x': case 'X': case OPT_CHUNK_SIZE: {
            // A long option of kind required may arrive without its value;
            // it is refused like an unknown option rather than converted.
            if (arg == nullptr)
                return bench_command::usage;
            long long size = 0;
            if (parse_size_text(arg, &size, message) < 0)
                return bench_command::refused;
            switch (c) {
            case 'a': o->align = size; break;
            case 'B': o->block_size = size; break;
            case 'e': o->num_bytes = size; break;
            case 'T': o->threshold = size; break;
            case OPT_CHUNK_SIZE: o->chunk_size = size; break;
            case 'x': o->min_xfer_size = size; break;
            default: o->max_xfer_size = size; break;
            }
            break;
        }
        case 'd': case 'F': case 'i': case 'p': case 'P': case OPT_READ_SHIFT: case OPT_DEFLATE: {
            if (arg == nullptr)
                return bench_command::usage;
            const count_option *spec = COUNT_OPTIONS;
            while (spec->letter != c)
                ++spec;
            long long value = 0;
            if (parse_count_text(arg, spec->min, spec->max, &value) < 0) {
                *message = "tessel: " + option_name(static_cast<char>(c)) + " takes a whole number (at most " +
                           std::to_string(spec->max) + "), not '" + arg + "'";
                return bench_command::refused;
            }
            switch (c) {
            case 'd': o->num_dsets = static_cast<long>(value); break;
            case 'F': o->num_files = static_cast<long>(value); break;
            case 'i': o->num_iterations = static_cast<int>(value); break;
            case 'p': o->min_num_processes = static_cast<int>(value); break;
            case OPT_READ_SHIFT: o->read_shift = value; break;
            case OPT_DEFLATE: o->deflate = static_cast<int>(value); break;
            default: o->max_num_processes = static_cast<int>(value); break;
            }
            break;
        }
        default: // m, n, s, t and '?'
            return bench_command::usage;
        }
    }
    // Values as given, then as derived (a default may meet a given value).
    *message = tessel_check_values(*o, true);
    if (message->empty()) {
        derive_bench_options(o);
        *message = tessel_check_values(*o, false);
    }
    return message->empty() ? bench_command::run : bench_command::refused;
}
