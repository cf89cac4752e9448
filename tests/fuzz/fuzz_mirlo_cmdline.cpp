// Fuzzes the pmirlo command line: options, values, exclusion lists, the
// verbose level and the subset suffixes of object names. A refused command
// line must come back as a status (never exit), and everything allocated
// for an accepted one must be released by release_command_line.
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
    diff_options options;
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
        if (options.verbose_mode > 1 || options.quiet_mode > 1)
            __builtin_trap();
        release_command_line(&options);
    } else if (status != 0 && status != 1) {
        __builtin_trap();
    }
    enable_error_stack = 0;
    return 0;
}
