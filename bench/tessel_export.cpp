// JSON and CSV reports of the measurements.
#include "tessel_export.hpp"

#include "mpi_info.hpp"
#include "pio_backend.hpp"
#include "pio_names.hpp"
#include "tessel_json_writer.hpp"
#include "zarn.hpp"

#include <hdf5.h>

#include <cstdlib>
#include <ctime>

namespace {

const char *pattern_of(bool interleaved)
{
    return interleaved ? "interleaved" : "contiguous";
}

void hints_object(tessel_json_writer &w, const char *key, const mpi_hint_list &hints)
{
    w.begin_object(key);
    for (const auto &[name, value] : hints)
        w.string(name.c_str(), value);
    w.end_object();
}

void interfaces_of(tessel_json_writer &w, uint64_t api)
{
    w.begin_array("interfaces");
    if (api & API_POSIX)
        w.string(nullptr, "posix");
    if (api & API_MPIIO)
        w.string(nullptr, "mpiio");
    if (api & API_PHDF5)
        w.string(nullptr, "phdf5");
    w.end_array();
}

// The access pattern, geometry, I/O method and storage of the run, which the
// options and every measurement name alike.
void layout_fields(tessel_json_writer &w, const bench_options &o)
{
    w.string("pattern", pattern_of(o.interleaved != 0));
    w.string("geometry", o.dim2d ? "2D" : "1D");
    w.boolean("collective", o.collective != 0);
    w.boolean("chunked", o.chunk != 0);
}

// Every process's time of a kind in iteration i.
void rank_times(tessel_json_writer &w, const char *key, const tessel_measurement &m, size_t i, int kind)
{
    w.begin_array(key);
    for (int r = 0; r < m.procs; ++r)
        w.number(nullptr, tessel_rank_time(m, i, r, kind));
    w.end_array();
}

void iteration_json(tessel_json_writer &w, const tessel_measurement &m, const tessel_phase &phase, size_t i)
{
    const iteration_stats &s = m.stats[static_cast<size_t>(phase.kind)][i];
    const double mb = tessel_iteration_mb(m, phase.kind, i);
    w.begin_object();
    w.integer("iteration", static_cast<long long>(i + 1));
    w.number("time_s", s.max);
    w.number("min_process_time_s", s.min);
    // MB/s, or null when the time is too small to divide by.
    w.positive("mib_per_s", throughput(mb, s.max));
    w.integer("bytes", static_cast<long long>(mb * 1048576.0));
    if (!m.rank_totals.empty()) {
        rank_times(w, "rank_times_s", m, i, phase.kind);
        if (phase.open_kind >= 0) {
            rank_times(w, "rank_open_times_s", m, i, phase.open_kind);
            rank_times(w, "rank_close_times_s", m, i, phase.close_kind);
        }
        const straggler slow = tessel_straggler(m, i, phase.kind);
        w.integer("slowest_rank", slow.rank);
        w.positive("slowest_to_median", slow.to_median);
    }
    w.end_object();
}

// What parallel HDF5 did with a phase's transfers, in words.
void hdf5_io_json(tessel_json_writer &w, const pio_hdf5_io &io, bool collective)
{
    w.begin_object("hdf5_io");
    w.string("requested", collective ? "collective" : "independent");
    w.begin_array("achieved");
    for (size_t b = 0; b < std::size(PIO_HDF5_MODES); ++b)
        if (io.modes & (1U << b))
            w.string(nullptr, PIO_HDF5_MODES[b]);
    w.end_array();
    w.begin_array("no_collective_causes");
    for (const pio_hdf5_cause &c : PIO_HDF5_CAUSES)
        if (io.causes & c.bit)
            w.string(nullptr, c.words);
    w.end_array();
    w.end_object();
}

void phase_json(tessel_json_writer &w, const tessel_measurement &m, const tessel_phase &phase, const bench_options &o)
{
    w.begin_object();
    w.string("phase", phase.name);
    if (m.failed_iterations > 0) {
        w.string("status", "failed");
        w.string("reason", m.reason);
        w.end_object();
        return;
    }
    const std::vector<iteration_stats> &stats = m.stats[static_cast<size_t>(phase.kind)];
    w.string("status", "ok");
    w.begin_array("iterations");
    for (size_t i = 0; i < stats.size(); ++i)
        iteration_json(w, m, phase, i);
    w.end_array();
    const kind_summary k = summarize_iterations(stats, m.iterations);
    w.number("min_time_s", k.tmin);
    w.number("avg_time_s", k.tavg);
    w.number("max_time_s", k.tmax);
    // As in the text report: the slowest iteration gives the minimum
    // throughput, the fastest the maximum.
    const rate_summary rates = tessel_summarize_rates(m, phase.kind);
    w.positive("min_mib_per_s", rates.min);
    w.positive("avg_mib_per_s", rates.avg);
    w.positive("max_mib_per_s", rates.max);
    const rate_spread spread = tessel_rate_spread(m, phase.kind);
    if (spread.valid) {
        w.number("stddev_mib_per_s", spread.stddev);
        w.number("cv", spread.cv);
    } else {
        w.null("stddev_mib_per_s");
        w.null("cv");
    }
    if (m.io == pio_interface::phdf5 && phase.open_kind < 0)
        hdf5_io_json(w, m.hdf5[phase.reads ? 1 : 0], o.collective != 0);
    w.end_object();
}

void measurement_json(tessel_json_writer &w, const tessel_measurement &m, const bench_options &o)
{
    w.begin_object();
    w.string("interface", pio_interface_name(m.io));
    w.integer("processes", m.procs);
    w.integer("transfer_size", m.transfer_size);
    w.integer("transfer_bytes", m.transfer_bytes);
    w.integer("block_size", m.block_size);
    layout_fields(w, o);
    w.integer("files", m.num_files);
    w.integer("datasets", m.num_dsets);
    w.integer("dataset_size", m.dset_size);
    w.integer("bytes", static_cast<long long>(m.size_mb * 1048576.0));
    w.integer("iterations", m.iterations);
    w.integer("read_shift", m.read_shift);
    w.string("status", m.failed_iterations > 0 ? "failed" : "ok");
    if (m.io == pio_interface::phdf5 && m.stored_bytes >= 0) {
        // The first file's datasets: the bytes written into them and what
        // they take on disk (compressed, or allocated in whole chunks).
        const long long logical = m.file1_written;
        w.begin_object("storage");
        w.integer("logical_bytes", logical);
        w.integer("stored_bytes", m.stored_bytes);
        if (logical > 0)
            w.number("ratio", static_cast<double>(m.stored_bytes) / static_cast<double>(logical));
        else
            w.null("ratio");
        w.end_object();
    }
    if (m.failed_iterations > 0) {
        w.integer("failed_iterations", m.failed_iterations);
        w.string("reason", m.reason);
    }
    w.begin_array("phases");
    for (const tessel_phase &phase : TESSEL_PHASES)
        if (!(phase.reads && m.write_only))
            phase_json(w, m, phase, o);
    w.end_array();
    w.end_object();
}

// A CSV field: quoted when it holds a separator, a quote or a line break.
std::string csv_field(const std::string &text)
{
    if (text.find_first_of(",\"\n\r") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string number(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

std::string rate_field(double size_mb, double seconds)
{
    const double r = throughput(size_mb, seconds);
    return r > 0.0 ? number(r) : "";
}

std::string positive_field(double v)
{
    return v > 0.0 ? number(v) : "";
}

// The slowest process, its time over the median, and every process's time
// (separated by blanks); empty fields without per-process times.
std::string stragglers_fields(const tessel_measurement &m, int kind, size_t i)
{
    if (m.rank_totals.empty())
        return ",,";
    const straggler slow = tessel_straggler(m, i, kind);
    std::string times;
    for (int r = 0; r < m.procs; ++r)
        times += (r == 0 ? "" : " ") + number(tessel_rank_time(m, i, r, kind));
    return std::to_string(slow.rank) + "," + (slow.to_median > 0.0 ? number(slow.to_median) : "") + "," + times;
}

std::string hints_text(const mpi_hint_list &hints)
{
    std::string text;
    for (const auto &[key, value] : hints)
        text += (text.empty() ? "" : ";") + key + "=" + value;
    return text;
}

} // namespace

tessel_run_info gather_run_info(const tessel_context &ctx, bool probe_hints)
{
    tessel_run_info info;
    char date[32] = {};
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc);
    info.date = date;
    info.processes = ctx.world_size;

    // Every process's host name, gathered on rank 0; each name once.
    char host[MPI_MAX_PROCESSOR_NAME] = {};
    int length = 0;
    MPI_Get_processor_name(host, &length);
    std::vector<char> all(ctx.world_rank == 0 ? static_cast<size_t>(MPI_MAX_PROCESSOR_NAME) * ctx.world_size : 1);
    MPI_Gather(host, MPI_MAX_PROCESSOR_NAME, MPI_CHAR, all.data(), MPI_MAX_PROCESSOR_NAME, MPI_CHAR, 0, ctx.comm);
    if (ctx.world_rank == 0) {
        for (int r = 0; r < ctx.world_size; ++r) {
            std::string name(&all[static_cast<size_t>(r) * MPI_MAX_PROCESSOR_NAME]);
            bool seen = false;
            for (const std::string &h : info.hosts)
                seen = seen || h == name;
            if (!seen)
                info.hosts.push_back(name);
        }
    }

    unsigned major = 0, minor = 0, release = 0;
    H5get_libversion(&major, &minor, &release);
    info.hdf5_version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release);
    char mpi_version[MPI_MAX_LIBRARY_VERSION_STRING] = {};
    MPI_Get_library_version(mpi_version, &length);
    info.mpi_version = mpi_version;
    info.mpi_version = info.mpi_version.substr(0, info.mpi_version.find('\n'));
    for (char &c : info.mpi_version)
        if (c == '\t')
            c = ' ';

    info.has_prefix = ctx.prefix_set;
    info.prefix = ctx.prefix;
    info.hints_requested = mpi_info_pairs(ctx.hints);
    if (probe_hints)
        info.hints_in_effect = pio_hints_in_effect(ctx, pio_prefix_directory(ctx) + "/#pio_tmp_hints.mpio");
    return info;
}

std::string tessel_json(const tessel_run_info &info, const bench_options &o,
                        const std::vector<tessel_measurement> &results)
{
    std::string text;
    tessel_json_writer w(&text);
    w.begin_object();
    w.integer("format", TESSEL_JSON_FORMAT);
    w.string("program", "tessel");
    w.string("version", std::to_string(ZARN_VERS_MAJOR) + "." + std::to_string(ZARN_VERS_MINOR) + "." +
                            std::to_string(ZARN_VERS_RELEASE));
    w.string("status", info.exit_status == 0 ? "ok" : "failed");
    w.integer("exit_status", info.exit_status);

    w.begin_object("run");
    w.string("date", info.date);
    w.begin_array("hosts");
    for (const std::string &host : info.hosts)
        w.string(nullptr, host);
    w.end_array();
    w.integer("processes", info.processes);
    w.string("hdf5_version", info.hdf5_version);
    w.string("mpi_version", info.mpi_version);
    if (info.has_prefix)
        w.string("prefix", info.prefix);
    else
        w.null("prefix");
    w.begin_object("mpi_hints");
    hints_object(w, "requested", info.hints_requested);
    hints_object(w, "in_effect", info.hints_in_effect);
    w.end_object();

    w.begin_object("options");
    interfaces_of(w, o.api);
    w.integer("num_bytes", o.num_bytes);
    w.integer("num_files", o.num_files);
    w.integer("num_dsets", o.num_dsets);
    w.integer("iterations", o.num_iterations);
    w.integer("min_processes", o.min_num_processes);
    w.integer("max_processes", o.max_num_processes);
    w.integer("min_transfer_size", o.min_xfer_size);
    w.integer("max_transfer_size", o.max_xfer_size);
    w.integer("block_size", o.block_size);
    layout_fields(w, o);
    w.boolean("write_only", o.write_only != 0);
    w.boolean("verify", o.verify != 0);
    w.integer("align", o.align);
    w.integer("threshold", o.threshold);
    w.integer("read_shift", o.read_shift);
    if (o.chunk)
        w.integer("chunk_size", o.chunk_size > 0 ? o.chunk_size : o.block_size);
    else
        w.null("chunk_size");
    if (o.deflate > 0)
        w.integer("deflate", o.deflate);
    else
        w.null("deflate");
    w.string("data", o.verify ? "verify" : bench_data_name(o.data));
    if (o.deadline > 0)
        w.number("deadline_s", o.deadline);
    else
        w.null("deadline_s");
    w.end_object();
    w.end_object();

    w.begin_array("measurements");
    for (const tessel_measurement &m : results)
        measurement_json(w, m, o);
    w.end_array();
    w.end_object();
    text += '\n';
    return text;
}

std::string tessel_csv(const tessel_run_info &info, const bench_options &o, const std::vector<tessel_measurement> &results)
{
    std::string hosts;
    for (const std::string &h : info.hosts)
        hosts += (hosts.empty() ? "" : " ") + h;
    std::string text;
    text += "# tessel measurements, format " + std::to_string(TESSEL_JSON_FORMAT) + "\n";
    text += "# date: " + info.date + "\n";
    text += "# hosts: " + hosts + "\n";
    text += "# processes: " + std::to_string(info.processes) + "\n";
    text += "# hdf5_version: " + info.hdf5_version + "\n";
    text += "# mpi_version: " + info.mpi_version + "\n";
    text += "# prefix: " + (info.has_prefix ? info.prefix : std::string("(not set)")) + "\n";
    text += "# mpi_hints_requested: " + hints_text(info.hints_requested) + "\n";
    text += "# mpi_hints_in_effect: " + hints_text(info.hints_in_effect) + "\n";
    text += "# exit_status: " + std::to_string(info.exit_status) + "\n";
    text += "interface,processes,transfer_size,transfer_bytes,block_size,pattern,geometry,collective,chunked,"
            "phase,status,iteration,time_s,mib_per_s,min_mib_per_s,avg_mib_per_s,max_mib_per_s,reason,"
            "bytes,stddev_mib_per_s,cv,slowest_rank,slowest_to_median,rank_times_s\n";
    for (const tessel_measurement &m : results) {
        const std::string head = std::string(pio_interface_name(m.io)) + "," + std::to_string(m.procs) + "," +
                                 std::to_string(m.transfer_size) + "," + std::to_string(m.transfer_bytes) + "," +
                                 std::to_string(m.block_size) + "," + pattern_of(o.interleaved != 0) + "," +
                                 (o.dim2d ? "2D" : "1D") + "," + (o.collective ? "true" : "false") + "," +
                                 (o.chunk ? "true" : "false") + ",";
        for (const tessel_phase &phase : TESSEL_PHASES) {
            if (phase.reads && m.write_only)
                continue;
            if (m.failed_iterations > 0) {
                text += head + phase.name + ",failed,,,,,,," + csv_field(m.reason) + ",,,,,,\n";
                continue;
            }
            const std::vector<iteration_stats> &stats = m.stats[static_cast<size_t>(phase.kind)];
            const rate_summary rates = tessel_summarize_rates(m, phase.kind);
            const std::string summary = positive_field(rates.min) + "," + positive_field(rates.avg) + "," +
                                        positive_field(rates.max);
            const rate_spread spread = tessel_rate_spread(m, phase.kind);
            const std::string spread_fields = spread.valid ? number(spread.stddev) + "," + number(spread.cv) : ",";
            for (size_t i = 0; i < stats.size(); ++i) {
                const double mb = tessel_iteration_mb(m, phase.kind, i);
                text += head + phase.name + ",ok," + std::to_string(i + 1) + "," + number(stats[i].max) + "," +
                        rate_field(mb, stats[i].max) + "," + summary + ",," +
                        std::to_string(static_cast<long long>(mb * 1048576.0)) + "," + spread_fields + "," +
                        stragglers_fields(m, phase.kind, i) + "\n";
            }
        }
    }
    return text;
}
