// Throughput and time summaries and per-iteration details.
#include "tessel_report.hpp"

#include "tessel_progress.hpp"

#include <cfloat>
#include <cmath>
#include <cstdarg>

namespace {

void print_details(const tessel_context &ctx, const char *header, const std::vector<iteration_stats> &stats)
{
    tessel_log(ctx, 12, "%s", header);
    for (size_t i = 0; i < stats.size(); ++i) {
        tessel_log(ctx, 16, "Iteration %d:\n", static_cast<int>(i + 1));
        tessel_log(ctx, 20, "Minimum Time: %.2fs\n", stats[i].min);
        tessel_log(ctx, 20, "Maximum Time: %.2fs\n", stats[i].max);
    }
}

void print_throughput(const tessel_context &ctx, const char *label, const tessel_measurement &m, int kind,
                      const bench_options &o)
{
    const kind_summary k = summarize_iterations(m.stats[static_cast<size_t>(kind)], o.num_iterations);
    const rate_summary rates = tessel_summarize_rates(m, kind);
    tessel_log(ctx, 12, "%s (%d iteration(s)):\n", label, o.num_iterations);
    const struct {
        const char *name;
        double rate;
        double time;
    } lines[] = {{"Maximum", rates.max, k.tmin}, {"Average", rates.avg, k.tavg}, {"Minimum", rates.min, k.tmax}};
    for (const auto &line : lines) {
        if (o.print_times)
            tessel_log(ctx, 16, "%s Throughput: %6.2f MB/s (%7.3f s)\n", line.name, line.rate, line.time);
        else
            tessel_log(ctx, 16, "%s Throughput: %6.2f MB/s\n", line.name, line.rate);
    }
}

void print_times(const tessel_context &ctx, const char *label, const std::vector<iteration_stats> &stats,
                 const bench_options &o)
{
    const kind_summary k = summarize_iterations(stats, o.num_iterations);
    tessel_log(ctx, 12, "%s (%d iteration(s)):\n", label, o.num_iterations);
    tessel_log(ctx, 16, "Minimum Accumulated Time using %ld file(s): %7.5f s\n", o.num_files, k.tmin);
    tessel_log(ctx, 16, "Average Accumulated Time using %ld file(s): %7.5f s\n", o.num_files, k.tavg);
    tessel_log(ctx, 16, "Maximum Accumulated Time using %ld file(s): %7.5f s\n", o.num_files, k.tmax);
}

// The labels and timer kinds of one direction's report.
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

void report_direction(const tessel_context &ctx, const direction_labels &l, const tessel_measurement &m,
                      const bench_options &o)
{
    if (m.failed_iterations > 0) {
        tessel_log(ctx, 12, "%s failed: %s\n", l.phase, m.reason.c_str());
        return;
    }
    const bool details = ctx.debug_level >= 3;
    auto of = [&](int kind) -> const std::vector<iteration_stats> & { return m.stats[static_cast<size_t>(kind)]; };
    if (o.print_raw) {
        if (details)
            print_details(ctx, l.raw_details, of(l.raw_kind));
        print_throughput(ctx, l.raw, m, l.raw_kind, o);
    }
    if (details) {
        print_details(ctx, l.mpi_details, of(l.mpi_kind));
        print_details(ctx, l.details, of(l.phase_kind));
    }
    print_throughput(ctx, l.phase, m, l.phase_kind, o);
    if (details)
        print_details(ctx, l.oc_details, of(l.oc_kind));
    print_throughput(ctx, l.oc, m, l.oc_kind, o);
    if (o.print_times) {
        print_times(ctx, l.open, of(l.open_kind), o);
        print_times(ctx, l.close, of(l.close_kind), o);
    }
    if (details) {
        print_details(ctx, l.open_details, of(l.open_kind));
        print_details(ctx, l.close_details, of(l.close_kind));
    }
}

} // namespace

void tessel_log(const tessel_context &ctx, int indent, const char *fmt, ...)
{
    if (ctx.rank != 0)
        return;
    // A progress line on the terminal that shows this report stays below it.
    tessel_progress *below = ctx.progress != nullptr && ctx.progress->report_on_terminal ? ctx.progress : nullptr;
    tessel_progress_hide(below);
    if (indent > 0)
        std::fprintf(ctx.out, "%*s", indent, "");
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(ctx.out, fmt, ap);
    va_end(ap);
    if (below != nullptr) {
        std::fflush(ctx.out);
        tessel_progress_show(below);
    }
}

std::string tessel_collective_warning(const bench_options &o, const std::vector<tessel_measurement> &results)
{
    if (!o.collective)
        return "";
    for (const tessel_measurement &m : results) {
        for (int d = 0; d < 2 && m.io == pio_interface::phdf5; ++d) {
            if (!(m.hdf5[d].modes & PIO_HDF5_NOT_COLLECTIVE))
                continue;
            std::string causes;
            for (const pio_hdf5_cause &c : PIO_HDF5_CAUSES)
                if (m.hdf5[d].causes & c.bit)
                    causes += (causes.empty() ? "" : ", ") + std::string(c.words);
            return "tessel: warning: collective I/O was asked for (-C), but parallel HDF5 did " +
                   std::string(d == 0 ? "writes" : "reads") + " independently (" + std::to_string(m.procs) +
                   " processes, transfers of " + std::to_string(m.transfer_bytes) + " bytes)" +
                   (causes.empty() ? "" : ": " + causes);
        }
    }
    return "";
}

void report_measurement(const tessel_context &ctx, const bench_options &o, const tessel_measurement &m)
{
    report_direction(ctx, WRITE_LABELS, m, o);
    if (!o.write_only)
        report_direction(ctx, READ_LABELS, m, o);
}
