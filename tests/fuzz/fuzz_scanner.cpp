// Fuzzes the option scanner with both programs' option sets and with an
// option string taken from the input. Checks that every scan ends, that the
// index stays within the command line, that a value always points into a
// word of the command line, and that only known letters are returned.
#include "fuzz_common.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"

#include <cstring>

FUZZ_DEFINE_EXIT_HOOK()

namespace {

constexpr zarn_long_option LONG_OPTIONS[] = {
    {"compare", arg_none, 'c'},     {"delta", arg_required, 'd'}, {"verbose", arg_optional, 'v'},
    {"enable-error-stack", arg_optional, 'S'}, {"exclude-path", arg_required, 'E'},
    {"api", arg_required, 'A'},     {"write-only", arg_required, 'w'}, {"x", arg_none, 'x'},
    {"", arg_required, 'e'},        {"=", arg_none, 'q'},         {nullptr, 0, 0},
};
constexpr zarn_long_option NO_LONG_OPTIONS[] = {{nullptr, 0, 0}};

const char *const OPTION_SETS[] = {"cd:ehln:p:qrv*xA:CE:NS*V", "a:A:B:cCd:D:e:F:ghi:Imno:p:P:stT:wx:X:"};

bool points_into_words(const char *p, int argc, char **argv)
{
    for (int i = 0; i < argc; ++i)
        if (p >= argv[i] && p <= argv[i] + std::strlen(argv[i]))
            return true;
    return false;
}

bool known_letter(int c, const char *shorts, const zarn_long_option *longs)
{
    if (c != ':' && c != '\0' && std::strchr(shorts, c) != nullptr)
        return true;
    for (const zarn_long_option *o = longs; o->name; ++o)
        if (o->letter == c)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    rawerrorstream = std::fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // First byte: which option string and table; in the third set the first
    // word of the command line is the option string itself.
    const int set = data[0] % 4;
    fuzz::arg_vector args("prog", data + 1, size - 1);
    const char *shorts = set < 2 ? OPTION_SETS[set] : "";
    int first = 0;
    if (set >= 2 && args.argc > 1) {
        shorts = args.argv[1];
        first = 1; // the scanner sees the words after it, with argv[0] kept
    }
    const zarn_long_option *longs = set == 3 ? NO_LONG_OPTIONS : LONG_OPTIONS;

    // The command line the scanner sees: program name, then the words.
    std::vector<char *> words;
    words.push_back(args.argv[0]);
    for (int i = 1 + first; i < args.argc; ++i)
        words.push_back(args.argv[i]);
    words.push_back(nullptr);
    const int argc = static_cast<int>(words.size()) - 1;
    char **argv = words.data();

    size_t budget = 4;
    for (int i = 0; i < argc; ++i)
        budget += std::strlen(argv[i]) + 1;

    zarn_reset_scanner();
    FUZZ_CATCH_EXIT(exited, {
        for (size_t calls = 0;; ++calls) {
            if (calls > budget)
                __builtin_trap(); // the scan does not end
            int c = zarn_scan_option(argc, argv, shorts, longs);
            if (zarn_opt_index < 1 || zarn_opt_index > argc)
                __builtin_trap();
            if (c == -1)
                break;
            if (c != '?' && !known_letter(c, shorts, longs))
                __builtin_trap();
            if (zarn_opt_arg != nullptr && !points_into_words(zarn_opt_arg, argc, argv))
                __builtin_trap();
        }
    });
    if (exited)
        __builtin_trap(); // the scanner must never end the process
    return 0;
}
