// What tessel's per-process records cost a long run: keeping them after
// every iteration and gathering them after the last (every process's timer
// totals, the bytes moved, the HDF5 modes), and the JSON report, for
// ITERATIONS iterations (default 10^4) of three interfaces. Run under the
// launcher, e.g. mpiexec -n 2 build-perf/perf/bench_tessel_gather [ITERATIONS].
#include "tessel_driver.hpp"
#include "tessel_export.hpp"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// A measurement of the given iterations, as run_test fills it.
tessel_measurement measurement_of(pio_interface io, int procs, int iterations)
{
    tessel_measurement m{};
    m.io = io;
    m.procs = procs;
    m.iterations = iterations;
    m.size_mb = 1.0;
    m.stored_bytes = -1;
    m.stats.resize(PIO_NUM_TIMERS);
    for (const tessel_phase &phase : TESSEL_PHASES)
        m.stats[static_cast<size_t>(phase.kind)].assign(static_cast<size_t>(iterations), {0.001, 0.002, 0.003, procs});
    return m;
}

} // namespace

int main(int argc, char **argv)
{
    MPI_Init(&argc, &argv);
    tessel_context ctx;
    MPI_Comm_rank(MPI_COMM_WORLD, &ctx.rank);
    MPI_Comm_size(MPI_COMM_WORLD, &ctx.nprocs);
    ctx.world_rank = ctx.rank;
    ctx.world_size = ctx.nprocs;
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 10000;

    pio_run_result run;
    for (int k = 0; k < PIO_NUM_TIMERS; ++k)
        run.timers.totals[k] = 0.001 * (k + 1) * (ctx.rank + 1);
    run.moved[0] = run.moved[1] = 1 << 20;
    std::vector<tessel_measurement> results;
    MPI_Barrier(ctx.comm);
    const double start = MPI_Wtime();
    for (pio_interface io : PIO_INTERFACES) {
        tessel_measurement m = measurement_of(io, ctx.nprocs, iterations);
        std::vector<tessel_iteration_record> kept;
        for (int i = 0; i < iterations; ++i)
            tessel_keep_iteration(run, &kept);
        tessel_gather_iterations(ctx, kept, &m);
        results.push_back(std::move(m));
    }
    const double gathered = MPI_Wtime() - start;
    if (ctx.rank == 0) {
        bench_options o = bench_default_options(ctx.nprocs);
        o.num_iterations = iterations;
        const double json_start = MPI_Wtime();
        const std::string text = tessel_json(tessel_run_info{}, o, results);
        const double json_seconds = MPI_Wtime() - json_start;
        // The same report without the per-process records, as it was before
        // they were kept.
        for (tessel_measurement &m : results)
            m.rank_totals.clear();
        const double plain_start = MPI_Wtime();
        const std::string plain = tessel_json(tessel_run_info{}, o, results);
        const double plain_seconds = MPI_Wtime() - plain_start;
        std::printf("%d processes, %d iterations x 3 interfaces: gathering %.3f s; JSON report %.3f s (%.1f MiB), "
                    "without the per-process records %.3f s (%.1f MiB)\n",
                    ctx.nprocs, iterations, gathered, json_seconds, static_cast<double>(text.size()) / 1048576.0,
                    plain_seconds, static_cast<double>(plain.size()) / 1048576.0);
    }
    MPI_Finalize();
    return 0;
}
