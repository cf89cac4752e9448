// Process-count and buffer-size loops, iterations and the results report.
#include "tessel_driver.hpp"

#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace {

constexpr double MB = 1048576.0;

// Kinds combined after every iteration, in the order they are reduced.
constexpr int WRITE_KINDS[] = {T_MPI_WRITE, T_WRITE, T_WRITE_OPEN_CLOSE, T_RAW_WRITE, T_WRITE_FILE_OPEN,
                               T_WRITE_FILE_CLOSE};
constexpr int READ_KINDS[] = {T_MPI_READ, T_READ, T_READ_OPEN_CLOSE, T_RAW_READ, T_READ_FILE_OPEN,
                              T_READ_FILE_CLOSE};

const char *api_name(int io_type)
{
    switch (io_type) {
    case PIO_POSIX: return "POSIX";
    case PIO_MPIIO: return "MPIO";
    default: return "PHDF5 (w/MPI-IO driver)";
    }
}

void combine(std::vector<iteration_stats> &stats, int iteration, const pio_timer_set *timers, int kind)
{
    double mine = pio_timer_get_time(timers, kind);
    iteration_stats &s = stats[static_cast<size_t>(iteration)];
    MPI_Allreduce(&mine, &s.max, 1, MPI_DOUBLE, MPI_MAX, bench_comm);
    MPI_Allreduce(&mine, &s.min, 1, MPI_DOUBLE, MPI_MIN, bench_comm);
    MPI_Allreduce(&mine, &s.sum, 1, MPI_DOUBLE, MPI_SUM, bench_comm);
    MPI_Comm_size(bench_comm, &s.nprocs);
}

void print_details(const char *header, const std::vector<iteration_stats> &stats)
{
    bench_log(12, "%s", header);
    for (size_t i = 0; i < stats.size(); ++i) {
        bench_log(16, "Iteration %d:\n", static_cast<int>(i + 1));
        bench_log(20, "Minimum Time: %.2fs\n", stats[i].min);
        bench_log(20, "Maximum Time: %.2fs\n", stats[i].max);
    }
}

void print_throughput(const char *label, const std::vector<iteration_stats> &stats, const bench_options *o,
                      double size_mb)
{
    kind_summary k = summarize_iterations(stats, o->num_iterations);
    bench_log(12, "%s (%d iteration(s)):\n", label, o->num_iterations);
    const struct {
        const char *name;
        double time;
    } lines[] = {{"Maximum", k.tmin}, {"Average", k.tavg}, {"Minimum", k.tmax}};
    for (const auto &line : lines) {
        bench_log(16, "%s Throughput: %6.2f MB/s", line.name, throughput(size_mb, line.time));
        if (o->print_times)
            bench_log(0, " (%7.3f s)\n", line.time);
        else
            bench_log(0, "\n");
    }
}

void print_times(const char *label, const std::vector<iteration_stats> &stats, const bench_options *o)
{
    kind_summary k = summarize_iterations(stats, o->num_iterations);
    bench_log(12, "%s (%d iteration(s)):\n", label, o->num_iterations);
    bench_log(16, "Minimum Accumulated Time using %ld file(s): %7.5f s\n", o->num_files, k.tmin);
    bench_log(16, "Average Accumulated Time using %ld file(s): %7.5f s\n", o->num_files, k.tavg);
    bench_log(16, "Maximum Accumulated Time using %ld file(s): %7.5f s\n", o->num_files, k.tmax);
}

// The report of one direction: raw, phase, open-close, open and close times.
struct direction_labels {
    const char *raw_details, *raw;
    const char *mpi_details, *details, *phase;
    const char *oc_details, *oc;
    const char *open, *close;
    const char *open_details, *close_details;
    int mpi_kind, phase_kind, oc_kind, raw_kind, open_kind, close_kind;
};

constexpr direction_labels WRITE_LABELS = {
    "Raw Data Write details:\n", "Raw Data Write", "MPI Write details:\n", "Write details:\n", "Write",
    "Write Open-Close details:\n", "Write Open-Close", "Write File Open", "Write File Close",
    "Write file open details:\n", "Write file close details:\n",
    T_MPI_WRITE, T_WRITE, T_WRITE_OPEN_CLOSE, T_RAW_WRITE, T_WRITE_FILE_OPEN, T_WRITE_FILE_CLOSE};
constexpr direction_labels READ_LABELS = {
    "Raw Data Read details:\n", "Raw Data Read", "MPI Read details:\n", "Read details:\n", "Read",
    "Read Open-Close details:\n", "Read Open-Close", "Read File Open", "Read File Close",
    "Read file open details:\n", "Read file close details:\n",
    T_MPI_READ, T_READ, T_READ_OPEN_CLOSE, T_RAW_READ, T_READ_FILE_OPEN, T_READ_FILE_CLOSE};

void report_direction(const direction_labels &l, const std::vector<std::vector<iteration_stats>> &stats,
                      const bench_options *o, double size_mb)
{
    const bool details = bench_debug_level >= 3;
    auto of = [&](int kind) -> const std::vector<iteration_stats> & { return stats[static_cast<size_t>(kind)]; };
    if (o->print_raw) {
        if (details)
            print_details(l.raw_details, of(l.raw_kind));
        print_throughput(l.raw, of(l.raw_kind), o, size_mb);
    }
    if (details) {
        print_details(l.mpi_details, of(l.mpi_kind));
        print_details(l.details, of(l.phase_kind));
    }
    print_throughput(l.phase, of(l.phase_kind), o, size_mb);
    if (details)
        print_details(l.oc_details, of(l.oc_kind));
    print_throughput(l.oc, of(l.oc_kind), o, size_mb);
    if (o->print_times) {
        print_times(l.open, of(l.open_kind), o);
        print_times(l.close, of(l.close_kind), o);
    }
    if (details) {
        print_details(l.open_details, of(l.open_kind));
        print_details(l.close_details, of(l.close_kind));
    }
}

// Sizes too large for the range wrap around instead of overflowing; the
// engine then refuses them.
long long dataset_size(const bench_options *o, int nprocs)
{
    unsigned long long side = static_cast<unsigned long long>(o->num_bytes) * static_cast<unsigned>(nprocs);
    return static_cast<long long>(o->dim2d ? side * side : side);
}

int run_buffer_sizes(const bench_options *o, int nprocs)
{
    int status = 0;
    bench_log(0, "Number of processors = %d\n", nprocs);
    const long long max = o->max_xfer_size;
    for (long long N = o->min_xfer_size; N != 0 && N <= max; N *= 2) {
        const long long dset_size = dataset_size(o, nprocs);
        const double file_mb = static_cast<double>(dset_size) * static_cast<double>(o->num_dsets) / MB;
        if (o->dim2d) {
            const long long a = o->interleaved ? N : o->block_size;
            const long long b = o->interleaved ? o->block_size : N;
            bench_log(0, "Transfer Buffer Size: %ldx%ld bytes, File size: %.2f MB\n", static_cast<long>(a),
                      static_cast<long>(b), file_mb);
            const double side_kb = static_cast<double>(o->num_bytes) * nprocs / 1024.0;
            bench_log(4, "  # of files: %ld, # of datasets: %ld, dataset size: %.2fx%.2f KB\n", o->num_files,
                      o->num_dsets, side_kb, side_kb);
        } else {
            bench_log(0, "Transfer Buffer Size: %ld bytes, File size: %.2f MB\n", static_cast<long>(N), file_mb);
            bench_log(4, "  # of files: %ld, # of datasets: %ld, dataset size: %.2f MB\n", o->num_files,
                      o->num_dsets, static_cast<double>(o->num_bytes) * nprocs / MB);
        }

        bench_parameters p{};
        p.num_procs = nprocs;
        p.num_files = o->num_files;
        p.num_dsets = o->num_dsets;
        p.dset_size = dset_size;
        p.num_iterations = o->num_iterations;
        p.buf_size = static_cast<uint64_t>(N);
        p.block_size = static_cast<uint64_t>(o->block_size);
        p.interleaved = static_cast<unsigned>(o->interleaved);
        p.collective = static_cast<unsigned>(o->collective);
        p.dim2d = static_cast<unsigned>(o->dim2d);
        p.align = o->align;
        p.threshold = o->threshold;
        p.chunk = o->chunk;
        p.write_only = o->write_only;
        p.verify = o->verify;

        if ((o->api & API_POSIX) && run_test(PIO_POSIX, o, p) < 0)
            status = -1;
        if ((o->api & API_MPIIO) && run_test(PIO_MPIIO, o, p) < 0)
            status = -1;
        if ((o->api & API_PHDF5) && run_test(PIO_PHDF5, o, p) < 0)
            status = -1;
        if (N > max / 2)
            break;
    }
    return status;
}

} // namespace

kind_summary summarize_iterations(const std::vector<iteration_stats> &stats, int num_iterations)
{
    kind_summary k{DBL_MAX, 0.0, -DBL_MAX};
    double sum = 0.0;
    for (const iteration_stats &s : stats) {
        if (s.max < k.tmin)
            k.tmin = s.max;
        if (s.max > k.tmax)
            k.tmax = s.max;
        sum += s.max;
    }
    k.tavg = num_iterations > 0 ? sum / num_iterations : 0.0;
    return k;
}

double throughput(double size_mb, double seconds)
{
    if (std::fabs(seconds) < DBL_EPSILON)
        return 0.0;
    return size_mb / seconds;
}

void bench_log(int indent, const char *fmt, ...)
{
    if (bench_rank != 0)
        return;
    if (indent > 0)
        fprintf(bench_output, "%*s", indent, "");
    va_list ap;
    va_start(ap, fmt);
    vfprintf(bench_output, fmt, ap);
    va_end(ap);
}

int run_test(int io_type, const bench_options *o, bench_parameters p)
{
    p.io_type = io_type;
    bench_log(8, "IO API = %s\n", api_name(io_type));

    const auto iterations = static_cast<size_t>(o->num_iterations);
    std::vector<std::vector<iteration_stats>> stats(PIO_NUM_TIMERS);
    for (int kind : WRITE_KINDS)
        stats[static_cast<size_t>(kind)].assign(iterations, iteration_stats{});
    if (!o->write_only)
        for (int kind : READ_KINDS)
            stats[static_cast<size_t>(kind)].assign(iterations, iteration_stats{});

    int status = 0;
    for (int i = 0; i < o->num_iterations; ++i) {
        MPI_Barrier(bench_comm);
        pio_timer_set *timers = nullptr;
        if (pio_run(p, &timers) < 0)
            status = -1;
        // A run that made no timer set reports zero times.
        for (int kind : WRITE_KINDS)
            combine(stats[static_cast<size_t>(kind)], i, timers, kind);
        if (!o->write_only)
            for (int kind : READ_KINDS)
                combine(stats[static_cast<size_t>(kind)], i, timers, kind);
        pio_timer_free(timers);
    }

    const double size_mb =
        static_cast<double>(p.num_files) * static_cast<double>(p.num_dsets) * static_cast<double>(p.dset_size) / MB;
    report_direction(WRITE_LABELS, stats, o, size_mb);
    if (!o->write_only)
        report_direction(READ_LABELS, stats, o, size_mb);
    fflush(bench_output);
    return status;
}

int run_benchmarks(const bench_options *o)
{
    int status = 0;
    if (o->max_num_processes < o->min_num_processes)
        return 0;
    for (int n = o->max_num_processes; n >= o->min_num_processes; n /= 2) {
        if (bench_world_size < n) {
            fprintf(stderr, "number of process(%d) must be <= number of processes in MPI_COMM_WORLD(%d)\n", n,
                    bench_world_size);
            if (n == 0)
                break;
            continue;
        }
        MPI_Comm group = MPI_COMM_NULL;
        int colour = bench_world_rank < n ? 1 : 0;
        if (MPI_Comm_split(MPI_COMM_WORLD, colour, bench_world_rank, &group) != MPI_SUCCESS) {
            fprintf(stderr, "MPI_Comm_split failed\n");
            if (n == 0)
                break;
            continue;
        }
        if (colour == 0) {
            MPI_Comm_free(&group);
        } else {
            bench_comm = group;
            MPI_Comm_size(bench_comm, &bench_nprocs);
            MPI_Comm_rank(bench_comm, &bench_rank);
            if (run_buffer_sizes(o, n) < 0)
                status = -1;
            MPI_Comm_free(&bench_comm);
            bench_comm = MPI_COMM_WORLD;
            bench_nprocs = bench_world_size;
            bench_rank = bench_world_rank;
        }
        if (n == 0)
            break;
    }
    return status;
}
