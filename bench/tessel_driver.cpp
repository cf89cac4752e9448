// Process-count and buffer-size loops, iterations and their combination.
#include "tessel_driver.hpp"

#include "pio_owners.hpp"
#include "pio_run.hpp"
#include "tessel_progress.hpp"
#include "tessel_report.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>

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
    for (const long long N : tessel_transfer_sizes(o)) {
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
        if (!refused.empty() && ctx.rank == 0) {
            tessel_progress_hide(ctx.progress);
            std::fprintf(stderr, "%s\n", refused.c_str());
            tessel_progress_show(ctx.progress);
        }
        for (size_t i = 0; i < std::size(PIO_INTERFACES); ++i) {
            if (!(o.api & API_BIT[i]))
                continue;
            bench_parameters p = base;
            p.io_type = PIO_INTERFACES[i];
            results->push_back(run_test(ctx, o, p, refused));
            if (results->back().failed_iterations > 0)
                status = -1;
            if (ctx.progress != nullptr)
                tessel_progress_step(ctx.progress, results->back(), o);
        }
    }
    return status;
}

} // namespace

std::vector<int> tessel_process_counts(const bench_options &o)
{
    std::vector<int> counts;
    for (int n = o.max_num_processes; n >= o.min_num_processes && n > 0; n /= 2)
        counts.push_back(n);
    return counts;
}

std::vector<long long> tessel_transfer_sizes(const bench_options &o)
{
    std::vector<long long> sizes;
    const long long max = o.max_xfer_size;
    for (long long N = o.min_xfer_size; N > 0 && N <= max; N *= 2) {
        sizes.push_back(N);
        if (N > max / 2)
            break; // the next size would pass the largest (or overflow)
    }
    return sizes;
}

int tessel_measurement_count(const bench_options &o, int world_size)
{
    int counts = 0;
    for (const int n : tessel_process_counts(o))
        counts += n <= world_size ? 1 : 0;
    int interfaces = 0;
    for (const bench_api_bits bit : API_BIT)
        interfaces += (o.api & bit) != 0 ? 1 : 0;
    return counts * static_cast<int>(tessel_transfer_sizes(o).size()) * interfaces;
}

void tessel_keep_iteration(const pio_run_result &run, std::vector<tessel_iteration_record> *kept)
{
    tessel_iteration_record r{};
    std::copy(std::begin(run.timers.totals), std::end(run.timers.totals), r.totals);
    for (int d = 0; d < 2; ++d) {
        r.moved[d] = static_cast<double>(run.moved[d]);
        r.modes[d] = run.hdf5[d].modes;
        r.causes[d] = run.hdf5[d].causes;
    }
    r.file1_written = static_cast<double>(run.file1_written);
    r.stored_bytes = static_cast<double>(run.stored_bytes);
    kept->push_back(r);
}

void tessel_gather_iterations(const tessel_context &ctx, const std::vector<tessel_iteration_record> &kept,
                              tessel_measurement *m)
{
    constexpr int FIELDS = sizeof(tessel_iteration_record) / sizeof(double);
    const size_t iterations = kept.size();
    const auto procs = static_cast<size_t>(ctx.nprocs);
    std::vector<tessel_iteration_record> all(ctx.rank == 0 ? iterations * procs : 0);
    // One record per element, so the count is the number of iterations.
    mpi_type_list types;
    MPI_Datatype record = MPI_DATATYPE_NULL;
    MPI_Type_contiguous(FIELDS, MPI_DOUBLE, &record);
    types.add(record);
    MPI_Type_commit(&record);
    MPI_Gather(kept.data(), static_cast<int>(iterations), record, all.data(), static_cast<int>(iterations), record, 0,
               ctx.comm);
    if (ctx.rank != 0)
        return;
    // all holds the records rank by rank; the measurement keeps them
    // iteration by iteration.
    m->rank_totals.assign(iterations * procs * PIO_NUM_TIMERS, 0.0);
    for (int d = 0; d < 2; ++d)
        m->moved[d].assign(iterations, 0);
    m->file1_written = 0;
    for (size_t r = 0; r < procs; ++r) {
        for (size_t i = 0; i < iterations; ++i) {
            const tessel_iteration_record &rec = all[r * iterations + i];
            std::copy(std::begin(rec.totals), std::end(rec.totals),
                      m->rank_totals.begin() + static_cast<std::ptrdiff_t>((i * procs + r) * PIO_NUM_TIMERS));
            for (int d = 0; d < 2; ++d) {
                m->moved[d][i] += static_cast<long long>(rec.moved[d]);
                m->hdf5[d].modes |= static_cast<unsigned>(rec.modes[d]);
                m->hdf5[d].causes |= static_cast<unsigned>(rec.causes[d]);
            }
            if (i == 0)
                m->file1_written += static_cast<long long>(rec.file1_written);
        }
    }
    m->stored_bytes = iterations > 0 ? static_cast<long long>(all[0].stored_bytes) : -1;
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
    std::vector<tessel_iteration_record> kept;
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
        tessel_keep_iteration(run, &kept);
    }
    if (refused.empty())
        tessel_gather_iterations(ctx, kept, &m);
    report_measurement(ctx, o, m);
    std::fflush(ctx.out);
    return m;
}

int run_benchmarks(const tessel_context &ctx, const bench_options &o, std::vector<tessel_measurement> *results)
{
    int status = 0;
    for (const int n : tessel_process_counts(o)) {
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
