// Process-count and buffer-size loops, iterations and their combination.
#include "tessel_driver.hpp"

#include "pio_owners.hpp"
#include "pio_run.hpp"
#include "tessel_report.hpp"

#include <cstdio>

namespace {

constexpr double MB = 1048576.0;

// Kinds combined after every iteration, in the order they are reduced.
constexpr int WRITE_KINDS[] = {T_MPI_WRITE, T_WRITE, T_WRITE_OPEN_CLOSE, T_RAW_WRITE, T_WRITE_FILE_OPEN,
                               T_WRITE_FILE_CLOSE};
constexpr int READ_KINDS[] = {T_MPI_READ, T_READ, T_READ_OPEN_CLOSE, T_RAW_READ, T_READ_FILE_OPEN,
                              T_READ_FILE_CLOSE};

const char *api_title(pio_interface io)
{
    switch (io) {
    case pio_interface::posix: return "POSIX";
    case pio_interface::mpiio: return "MPIO";
    case pio_interface::phdf5: break;
    }
    return "PHDF5 (w/MPI-IO driver)";
}

constexpr bench_api_bits API_BIT[] = {API_POSIX, API_MPIIO, API_PHDF5}; // in the order of PIO_INTERFACES

void combine(const tessel_context &ctx, iteration_stats &s, const pio_timer_set &timers, int kind)
{
    double mine = pio_timer_get_time(&timers, kind);
    MPI_Allreduce(&mine, &s.max, 1, MPI_DOUBLE, MPI_MAX, ctx.comm);
    MPI_Allreduce(&mine, &s.min, 1, MPI_DOUBLE, MPI_MIN, ctx.comm);
    MPI_Allreduce(&mine, &s.sum, 1, MPI_DOUBLE, MPI_SUM, ctx.comm);
    s.nprocs = ctx.nprocs;
}

bench_parameters parameters_of(const bench_options &o, int nprocs, long long buf_size)
{
    bench_parameters p{};
    p.num_procs = nprocs;
    p.num_files = o.num_files;
    p.num_dsets = o.num_dsets;
    // The up-front checks refused every size beyond the largest file offset.
    p.dset_size = static_cast<long long>(bench_dataset_bytes(o, nprocs));
    p.num_iterations = o.num_iterations;
    p.buf_size = static_cast<uint64_t>(buf_size);
    p.block_size = static_cast<uint64_t>(o.block_size);
    p.interleaved = o.interleaved != 0;
    p.collective = o.collective != 0;
    p.dim2d = o.dim2d != 0;
    p.align = o.align;
    p.threshold = o.threshold;
    p.chunk = o.chunk != 0;
    p.write_only = o.write_only != 0;
    p.verify = o.verify != 0;
    // A shift outside 0..P-1 is taken modulo P.
    p.read_shift = static_cast<int>(((o.read_shift % nprocs) + nprocs) % nprocs);
    p.chunk_size = static_cast<uint64_t>(o.chunk_size > 0 ? o.chunk_size : o.block_size);
    p.deflate = o.deflate;
    p.data = o.data;
    p.deadline = o.deadline;
    return p;
}

int run_buffer_sizes(const tessel_context &ctx, const bench_options &o, std::vector<tessel_measurement> *results)
{
    int status = 0;
    const int nprocs = ctx.nprocs;
    tessel_log(ctx, 0, "Number of processors = %d\n", nprocs);
    const long long max = o.max_xfer_size;
    for (long long N = o.min_xfer_size; N != 0 && N <= max; N *= 2) {
        const bench_parameters base = parameters_of(o, nprocs, N);
        const double file_mb = static_cast<double>(base.dset_size) * static_cast<double>(o.num_dsets) / MB;
        if (o.dim2d) {
            const long long a = o.interleaved ? N : o.block_size;
            const long long b = o.interleaved ? o.block_size : N;
            tessel_log(ctx, 0, "Transfer Buffer Size: %lldx%lld bytes, File size: %.2f MB\n", a, b, file_mb);
            const double side_kb = static_cast<double>(o.num_bytes) * nprocs / 1024.0;
            tessel_log(ctx, 4, "  # of files: %ld, # of datasets: %ld, dataset size: %.2fx%.2f KB\n", o.num_files,
                       o.num_dsets, side_kb, side_kb);
        } else {
            tessel_log(ctx, 0, "Transfer Buffer Size: %lld bytes, File size: %.2f MB\n", N, file_mb);
            tessel_log(ctx, 4, "  # of files: %ld, # of datasets: %ld, dataset size: %.2f MB\n", o.num_files,
                       o.num_dsets, static_cast<double>(o.num_bytes) * nprocs / MB);
        }
        // Settings that make no whole shares are refused once for every
        // interface of this size.
        const std::string refused = pio_check_parameters(base);
        if (!refused.empty() && ctx.rank == 0)
            std::fprintf(stderr, "%s\n", refused.c_str());
        for (size_t i = 0; i < std::size(PIO_INTERFACES); ++i) {
            if (!(o.api & API_BIT[i]))
                continue;
            bench_parameters p = base;
            p.io_type = PIO_INTERFACES[i];
            results->push_back(run_test(ctx, o, p, refused));
            if (results->back().failed_iterations > 0)
                status = -1;
        }
        if (N > max / 2)
            break;
    }
    return status;
}

} // namespace

void tessel_gather_iteration(const tessel_context &ctx, const pio_run_result &run, bool first, tessel_measurement *m)
{
    const size_t at = m->rank_totals.size();
    if (ctx.rank == 0)
        m->rank_totals.resize(at + static_cast<size_t>(ctx.nprocs) * PIO_NUM_TIMERS);
    MPI_Gather(run.timers.totals, PIO_NUM_TIMERS, MPI_DOUBLE, ctx.rank == 0 ? &m->rank_totals[at] : nullptr,
               PIO_NUM_TIMERS, MPI_DOUBLE, 0, ctx.comm);
    long long sums[3] = {run.moved[0], run.moved[1], run.file1_written};
    MPI_Reduce(ctx.rank == 0 ? MPI_IN_PLACE : sums, sums, 3, MPI_LONG_LONG, MPI_SUM, 0, ctx.comm);
    unsigned modes[4] = {run.hdf5[0].modes, run.hdf5[0].causes, run.hdf5[1].modes, run.hdf5[1].causes};
    MPI_Reduce(ctx.rank == 0 ? MPI_IN_PLACE : modes, modes, 4, MPI_UNSIGNED, MPI_BOR, 0, ctx.comm);
    if (ctx.rank != 0)
        return;
    m->moved[0].push_back(sums[0]);
    m->moved[1].push_back(sums[1]);
    m->hdf5[0].modes |= modes[0];
    m->hdf5[0].causes |= modes[1];
    m->hdf5[1].modes |= modes[2];
    m->hdf5[1].causes |= modes[3];
    if (first) {
        m->file1_written = sums[2];
        m->stored_bytes = run.stored_bytes;
    }
}

tessel_measurement run_test(const tessel_context &ctx, const bench_options &o, const bench_parameters &p,
                            const std::string &refused)
{
    tessel_log(ctx, 8, "IO API = %s\n", api_title(p.io_type));

    tessel_measurement m{};
    m.io = p.io_type;
    m.procs = ctx.nprocs;
    m.transfer_size = static_cast<long long>(p.buf_size);
    m.transfer_bytes = p.dim2d ? static_cast<long long>(p.buf_size * p.block_size) : static_cast<long long>(p.buf_size);
    m.block_size = static_cast<long long>(p.block_size);
    m.dset_size = p.dset_size;
    m.num_files = p.num_files;
    m.num_dsets = p.num_dsets;
    m.iterations = o.num_iterations;
    m.write_only = p.write_only;
    m.size_mb = static_cast<double>(p.num_files) * static_cast<double>(p.num_dsets) * static_cast<double>(p.dset_size) / MB;

    m.read_shift = p.read_shift;
    m.stored_bytes = -1;

    const auto iterations = static_cast<size_t>(o.num_iterations);
    m.stats.resize(PIO_NUM_TIMERS);
    for (int kind : WRITE_KINDS)
        m.stats[static_cast<size_t>(kind)].assign(iterations, iteration_stats{});
    if (!o.write_only)
        for (int kind : READ_KINDS)
            m.stats[static_cast<size_t>(kind)].assign(iterations, iteration_stats{});

    if (!refused.empty()) {
        m.failed_iterations = o.num_iterations;
        m.reason = refused;
    }
    for (size_t i = 0; i < iterations && refused.empty(); ++i) {
        MPI_Barrier(ctx.comm);
        const pio_run_result run = pio_run(ctx, p);
        if (run.status < 0 && m.failed_iterations++ == 0)
            m.reason = run.reason;
        for (int kind : WRITE_KINDS)
            combine(ctx, m.stats[static_cast<size_t>(kind)][i], run.timers, kind);
        if (!o.write_only)
            for (int kind : READ_KINDS)
                combine(ctx, m.stats[static_cast<size_t>(kind)][i], run.timers, kind);
        tessel_gather_iteration(ctx, run, i == 0, &m);
    }
    report_measurement(ctx, o, m);
    std::fflush(ctx.out);
    return m;
}

int run_benchmarks(const tessel_context &ctx, const bench_options &o, std::vector<tessel_measurement> *results)
{
    int status = 0;
    for (int n = o.max_num_processes; n >= o.min_num_processes && n > 0; n /= 2) {
        if (ctx.world_size < n) {
            // Every process would print the same words.
            if (ctx.world_rank == 0)
                std::fprintf(stderr, "number of process(%d) must be <= number of processes in MPI_COMM_WORLD(%d)\n",
                             n, ctx.world_size);
            continue;
        }
        const int colour = ctx.world_rank < n ? 1 : 0;
        mpi_comm group;
        if (MPI_Comm_split(MPI_COMM_WORLD, colour, ctx.world_rank, group.receive()) != MPI_SUCCESS) {
            if (ctx.world_rank == 0)
                std::fprintf(stderr, "MPI_Comm_split failed\n");
            continue;
        }
        if (colour == 0)
            continue; // this count runs without this process
        tessel_context group_ctx = ctx;
        group_ctx.comm = group.get();
        MPI_Comm_size(group_ctx.comm, &group_ctx.nprocs);
        MPI_Comm_rank(group_ctx.comm, &group_ctx.rank);
        if (run_buffer_sizes(group_ctx, o, results) < 0)
            status = -1;
    }
    return status;
}
