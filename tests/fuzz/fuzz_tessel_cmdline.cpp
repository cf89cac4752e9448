// Fuzzes the tessel command line: the scanner with tessel's options, sizes,
// numbers, the API and debug lists, the derived values, the up-front checks,
// and then the parameters report of an accepted command line (written to
// /dev/null). Refusals come back as a message; the parser never exits.
#include "fuzz_common.hpp"
#include "mpi_info.hpp"
#include "tessel_checks.hpp"
#include "tessel_options.hpp"
#include "tessel_usage.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"

FUZZ_DEFINE_EXIT_HOOK()

namespace {

FILE *null_stream = nullptr;

unsigned long long u(long long v)
{
    return static_cast<unsigned long long>(v);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zarn_init();
    null_stream = std::fopen("/dev/null", "w");
    rawoutstream = null_stream;
    rawerrorstream = null_stream;
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::arg_vector args("tessel", data, size);
    zarn_reset_scanner();
    zarn_opt_report = 0;
    bench_options o = bench_default_options(4);
    std::string message;
    bench_command command = bench_command::run;
    FUZZ_CATCH_EXIT(exited, command = parse_bench_command_line(args.argc, args.argv, &o, &message));
    if (exited)
        __builtin_trap(); // refusals are returned, never exits
    if ((command == bench_command::refused) == message.empty())
        __builtin_trap(); // a refusal always has its message, nothing else has one
    if (command != bench_command::run)
        return 0;
    // The derived values are in range.
    if (o.num_bytes == 0 || u(o.min_xfer_size) > u(o.max_xfer_size) || u(o.block_size) > u(o.num_bytes))
        __builtin_trap();
    if (!o.dim2d && u(o.max_xfer_size) > u(o.num_bytes))
        __builtin_trap();
    if (o.min_num_processes < 1 || o.min_num_processes > o.max_num_processes || o.num_iterations < 1)
        __builtin_trap();
    if (o.debug_level < 0 || o.debug_level > 4)
        __builtin_trap();
    (void)tessel_check_sizes(o, 4);
    tessel_context ctx;
    ctx.out = null_stream;
    print_bench_parameters(ctx, &o);
    return 0;
}
