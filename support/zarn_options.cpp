// The option scanner, the version line and the subset suffix of object names.
#define ZARN_SOURCE "zarn"
#include "zarn_options.hpp"
#include "zarn.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

int zarn_opt_index = 1;
int zarn_opt_pos = 1;
const char *zarn_opt_arg = nullptr;
int zarn_opt_report = 1;

void zarn_reset_scanner()
{
    zarn_opt_index = 1;
    zarn_opt_pos = 1;
    zarn_opt_arg = nullptr;
    zarn_opt_report = 1;
}

namespace {

FILE *err_stream()
{
    return rawerrorstream ? rawerrorstream : stderr;
}

int scan_long(int argc, const char *const *argv, const zarn_long_option *long_options)
{
    const char *word = argv[zarn_opt_index] + 2;
    const char *eq = std::strchr(word, '=');
    std::string name = eq ? std::string(word, static_cast<size_t>(eq - word)) : std::string(word);
    zarn_opt_arg = eq ? eq + 1 : nullptr;

    int result = '?';
    const zarn_long_option *match = nullptr;
    for (const zarn_long_option *o = long_options; o && o->name; ++o) {
        if (name == o->name) {
            match = o;
            break;
        }
    }
    if (match == nullptr) {
        if (zarn_opt_report)
            fprintf(err_stream(), "%s: unknown option \"%s\"\n", argv[0], name.c_str());
    } else if (match->arg_kind == arg_none) {
        if (eq) {
            if (zarn_opt_report)
                fprintf(err_stream(), "%s: no option required for \"%s\" flag\n", argv[0], name.c_str());
        } else {
            result = match->letter;
        }
    } else {
        result = match->letter;
        if (!eq && match->arg_kind == arg_required && zarn_opt_index + 1 < argc &&
            argv[zarn_opt_index + 1][0] != '-') {
            zarn_opt_arg = argv[++zarn_opt_index];
        }
    }
    ++zarn_opt_index;
    zarn_opt_pos = 1;
    return result;
}

} // namespace

int zarn_scan_option(int argc, const char *const *argv, const char *short_options,
                     const zarn_long_option *long_options)
{
    if (zarn_opt_pos == 1) {
        if (zarn_opt_index >= argc)
            return -1;
        const char *word = argv[zarn_opt_index];
        if (word[0] != '-' || word[1] == '\0')
            return -1;
        if (std::strcmp(word, "--") == 0) {
            ++zarn_opt_index;
            return -1;
        }
        if (word[1] == '-')
            return scan_long(argc, argv, long_options);
    }

    const char *word = argv[zarn_opt_index];
    char c = word[zarn_opt_pos];
    const char *spec = c == ':' ? nullptr : std::strchr(short_options, c);
    bool last_letter = word[zarn_opt_pos + 1] == '\0';

    auto next_letter = [&]() {
        if (last_letter) {
            ++zarn_opt_index;
            zarn_opt_pos = 1;
        } else {
            ++zarn_opt_pos;
        }
    };

    if (spec == nullptr) {
        if (zarn_opt_report)
            fprintf(err_stream(), "%s: unknown option \"%c\"\n", argv[0], c);
        next_letter();
        return '?';
    }
    if (spec[1] == ':') {
        if (!last_letter) {
            zarn_opt_arg = word + zarn_opt_pos + 1;
            ++zarn_opt_index;
        } else if (zarn_opt_index + 1 < argc) {
            zarn_opt_arg = argv[zarn_opt_index + 1];
            zarn_opt_index += 2;
        } else {
            if (zarn_opt_report)
                fprintf(err_stream(), "%s: value expected for option \"%c\"\n", argv[0], c);
            ++zarn_opt_index;
            zarn_opt_pos = 1;
            return '?';
        }
        zarn_opt_pos = 1;
        return c;
    }
    if (spec[1] == '*') {
        ++zarn_opt_index;
        zarn_opt_pos = 1;
        if (zarn_opt_index + 1 < argc && argv[zarn_opt_index][0] != '-') {
            zarn_opt_arg = argv[zarn_opt_index];
            ++zarn_opt_index;
        } else {
            zarn_opt_arg = nullptr;
        }
        return c;
    }
    zarn_opt_arg = nullptr;
    next_letter();
    return c;
}

void zarn_print_version(const char *program_name)
{
    if (rawoutstream)
        zarn_print_version(rawoutstream, program_name);
}

void zarn_print_version(FILE *out, const char *program_name)
{
    fprintf(out, "%s: Version %u.%u.%u%s%s\n", program_name, ZARN_VERS_MAJOR, ZARN_VERS_MINOR, ZARN_VERS_RELEASE, "",
            "");
}

namespace {

std::string not_allowed(char c)
{
    const char text[2] = {c, '\0'};
    return "'" + zarn_printable_name(text) + "' is not allowed: the lists hold non-negative decimal integers";
}

} // namespace

std::string zarn_subset_suffix_error(const char *path)
{
    const char *bracket = std::strrchr(path, '[');
    if (bracket == nullptr)
        return {};
    const char *close = std::strchr(bracket, ']');
    if (close == nullptr)
        return "the subset has no closing ']'";
    if (close[1] != '\0')
        return "the subset does not end the name: text follows its ']'";

    constexpr int MAX_LISTS = 4;
    int lists = 1;
    int numbers = 0;
    const char *p = bracket + 1;
    // One list per pass: empty, or numbers separated by single commas.
    for (;;) {
        if (*p != ';' && *p != ']') {
            for (;;) {
                if (*p < '0' || *p > '9') {
                    if (*p == ',' || *p == ';' || *p == ']')
                        return "a list has an empty entry";
                    return not_allowed(*p);
                }
                const char *digits = p;
                while (*p >= '0' && *p <= '9')
                    ++p;
                if (*digits == '0' && p - digits > 1)
                    return "a number has a leading zero";
                errno = 0;
                (void)std::strtoull(digits, nullptr, 10);
                if (errno == ERANGE)
                    return "a number is too large";
                ++numbers;
                if (*p != ',')
                    break;
                ++p;
            }
        }
        if (*p == ']')
            break;
        if (*p != ';') {
            return not_allowed(*p);
        }
        if (++lists > MAX_LISTS)
            return "more than four lists (START;STRIDE;COUNT;BLOCK)";
        ++p;
    }
    if (numbers == 0)
        return "the subset holds no number";
    return {};
}

subset_spec *parse_subset_spec(char *path)
{
    char *bracket = std::strrchr(path, '[');
    if (bracket == nullptr)
        return nullptr;
    *bracket = '\0';

    auto *spec = static_cast<subset_spec *>(std::calloc(1, sizeof(subset_spec)));
    if (spec == nullptr)
        return nullptr;
    // Each list runs up to the next ';' (or ']' or the end); the lists are
    // start, stride, count and block in that order.
    hsize_list *lists[4] = {&spec->start, &spec->stride, &spec->count, &spec->block};
    const char *p = bracket + 1;
    for (int i = 0; i < 4; ++i) {
        parse_hsize_list(p, lists[i]);
        const char *semi = std::strchr(p, ';');
        if (semi == nullptr)
            break;
        p = semi + 1;
    }
    return spec;
}

void subset_spec_free(subset_spec *spec)
{
    if (spec == nullptr)
        return;
    hsize_list_free(&spec->start);
    hsize_list_free(&spec->stride);
    hsize_list_free(&spec->count);
    hsize_list_free(&spec->block);
    std::free(spec);
}
