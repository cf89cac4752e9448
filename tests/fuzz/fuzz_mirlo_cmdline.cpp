// Fuzzes the pmirlo command line: options, values, exclusion lists, the
// verbose level and the subset suffixes of object names. A refused command
// line must come back as a status (never exit), and leave no settings behind.
#include "fuzz_common.hpp"
#include "mirlo_cmdline.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"

FUZZ_DEFINE_EXIT_HOOK()

namespace {

bool is_word(const char *p, int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (p == argv[i])
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zarn_set_progname("mirlo");
    zarn_init();
    rawoutstream = std::fopen("/dev/null", "w");
    rawerrorstream = std::fopen("/dev/null", "w");
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::arg_vector args("pmirlo", data, size);
    zarn_reset_scanner();
    mirlo_settings options;
    mirlo_args names;
    int status = 0;
    FUZZ_CATCH_EXIT(exited, status = mirlo_parse_args(args.argc, args.argv, &names, &options));
    if (exited)
        __builtin_trap(); // refusals come back as a status
    if (status == MIRLO_ARGS_VALID) {
        if (!names.file1 || !names.file2 || !is_word(names.file1, args.argc, args.argv) ||
            !is_word(names.file2, args.argc, args.argv))
            __builtin_trap();
        if ((names.obj1 == nullptr) != (names.obj2 == nullptr))
            __builtin_trap();
    } else if (status != 0 && status != 1) {
        __builtin_trap();
    } else if (!options.exclude_paths.empty() || !options.exclude_attrs.empty() || options.subsets[0] != nullptr) {
        __builtin_trap(); // a refused command line leaves nothing behind
    }
    return 0;
}
