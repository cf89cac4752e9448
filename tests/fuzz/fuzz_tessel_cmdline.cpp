// Fuzzes the tessel command line: the scanner with tessel's options, sizes,
// numbers, the API and debug lists, the derived values, and then the
// parameters report of an accepted command line (written to /dev/null). An
// exit() of a refused size or list item is caught and must carry status 1.
#include "fuzz_common.hpp"
#include "mpi_info.hpp"
#include "tessel_options.hpp"
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
    bench_debug_level = 0;
    bench_output = null_stream;
    bench_world_rank = 0;
    bench_options o = bench_default_options(4);
    int rc = 0;
    FUZZ_CATCH_EXIT(exited, rc = parse_bench_command_line(args.argc, args.argv, &o));
    if (exited) {
        if (fuzz::exit_status != 1)
            __builtin_trap();
        return 0;
    }
    if (rc != 0)
        return 0;
    // The derived values are in range.
    if (o.num_bytes == 0 || u(o.min_xfer_size) > u(o.max_xfer_size) || u(o.block_size) > u(o.num_bytes))
        __builtin_trap();
    if (!o.dim2d && u(o.max_xfer_size) > u(o.num_bytes))
        __builtin_trap();
    if (o.min_num_processes < 1 || o.min_num_processes > o.max_num_processes || o.num_iterations < 1)
        __builtin_trap();
    if (bench_debug_level < 0 || bench_debug_level > 4)
        __builtin_trap();
    print_bench_parameters(&o);
    return 0;
}
