// JSON and CSV reports of the measurements.
#include "tessel_export.hpp"

#include "mpi_info.hpp"
#include "pio_backend.hpp"
#include "pio_names.hpp"
#include "zarn.hpp"

#include <hdf5.h>

#include <cstdlib>
#include <ctime>

using json = nlohmann::ordered_json;

namespace {

const char *pattern_of(bool interleaved)
{
    return interleaved ? "interleaved" : "contiguous";
}

json hints_object(const mpi_hint_list &hints)
{
    json object = json::object();
    for (const auto &[key, value] : hints)
        object[key] = value;
    return object;
}

json interfaces_of(uint64_t api)
{
    json list = json::array();
    if (api & API_POSIX)
        list.push_back("posix");
    if (api & API_MPIIO)
        list.push_back("mpiio");
    if (api & API_PHDF5)
        list.push_back("phdf5");
    return list;
}

// MB/s for a time, or null when the time is too small to divide by.
json rate(double size_mb, double seconds)
{
    const double r = throughput(size_mb, seconds);
    return r > 0.0 ? json(r) : json(nullptr);
}

// Every process's time of a kind in iteration i.
json rank_times(const tessel_measurement &m, size_t i, int kind)
{
    json times = json::array();
    for (int r = 0; r < m.procs; ++r)
        times.push_back(tessel_rank_time(m, i, r, kind));
    return times;
}

json iteration_json(const tessel_measurement &m, const tessel_phase &phase, size_t i)
{
    const iteration_stats &s = m.stats[static_cast<size_t>(phase.kind)][i];
    const double mb = tessel_iteration_mb(m, phase.kind, i);
    json j = {{"iteration", i + 1},
              {"time_s", s.max},
              {"min_process_time_s", s.min},
              {"mib_per_s", rate(mb, s.max)},
              {"bytes", static_cast<long long>(mb * 1048576.0)}};
    if (m.rank_totals.empty())
        return j;
    j["rank_times_s"] = rank_times(m, i, phase.kind);
    if (phase.open_kind >= 0) {
        j["rank_open_times_s"] = rank_times(m, i, phase.open_kind);
        j["rank_close_times_s"] = rank_times(m, i, phase.close_kind);
    }
    const straggler slow = tessel_straggler(m, i, phase.kind);
    j["slowest_rank"] = slow.rank;
    j["slowest_to_median"] = slow.to_median > 0.0 ? json(slow.to_median) : json(nullptr);
    return j;
}

// What parallel HDF5 did with a phase's transfers, in words.
json hdf5_io_json(const pio_hdf5_io &io, bool collective)
{
    json modes = json::array();
    for (size_t b = 0; b < std::size(PIO_HDF5_MODES); ++b)
        if (io.modes & (1U << b))
            modes.push_back(PIO_HDF5_MODES[b]);
    json causes = json::array();
    for (const pio_hdf5_cause &c : PIO_HDF5_CAUSES)
        if (io.causes & c.bit)
            causes.push_back(c.words);
    return {{"requested", collective ? "collective" : "independent"},
            {"achieved", modes},
            {"no_collective_causes", causes}};
}

json phase_json(const tessel_measurement &m, const tessel_phase &phase, const bench_options &o)
{
    json j = {{"phase", phase.name}};
    if (m.failed_iterations > 0) {
        j["status"] = "failed";
        j["reason"] = m.reason;
        return j;
    }
    const std::vector<iteration_stats> &stats = m.stats[static_cast<size_t>(phase.kind)];
    j["status"] = "ok";
    json iterations = json::array();
    for (size_t i = 0; i < stats.size(); ++i)
        iterations.push_back(iteration_json(m, phase, i));
    j["iterations"] = iterations;
    const kind_summary k = summarize_iterations(stats, m.iterations);
    j["min_time_s"] = k.tmin;
    j["avg_time_s"] = k.tavg;
    j["max_time_s"] = k.tmax;
    // As in the text report: the slowest iteration gives the minimum
    // throughput, the fastest the maximum.
    const rate_summary rates = tessel_summarize_rates(m, phase.kind);
    j["min_mib_per_s"] = rates.min > 0.0 ? json(rates.min) : json(nullptr);
    j["avg_mib_per_s"] = rates.avg > 0.0 ? json(rates.avg) : json(nullptr);
    j["max_mib_per_s"] = rates.max > 0.0 ? json(rates.max) : json(nullptr);
    const rate_spread spread = tessel_rate_spread(m, phase.kind);
    j["stddev_mib_per_s"] = spread.valid ? json(spread.stddev) : json(nullptr);
    j["cv"] = spread.valid ? json(spread.cv) : json(nullptr);
    if (m.io == pio_interface::phdf5 && phase.open_kind < 0)
        j["hdf5_io"] = hdf5_io_json(m.hdf5[phase.reads ? 1 : 0], o.collective != 0);
    return j;
}

json measurement_json(const tessel_measurement &m, const bench_options &o)
{
    json j = {{"interface", pio_interface_name(m.io)},
              {"processes", m.procs},
              {"transfer_size", m.transfer_size},
              {"transfer_bytes", m.transfer_bytes},
              {"block_size", m.block_size},
              {"pattern", pattern_of(o.interleaved != 0)},
              {"geometry", o.dim2d ? "2D" : "1D"},
              {"collective", o.collective != 0},
              {"chunked", o.chunk != 0},
              {"files", m.num_files},
              {"datasets", m.num_dsets},
              {"dataset_size", m.dset_size},
              {"bytes", static_cast<long long>(m.size_mb * 1048576.0)},
              {"iterations", m.iterations},
              {"read_shift", m.read_shift},
              {"status", m.failed_iterations > 0 ? "failed" : "ok"}};
    if (m.io == pio_interface::phdf5 && m.stored_bytes >= 0) {
        // The first file's datasets: the bytes written into them and what
        // they take on disk (compressed, or allocated in whole chunks).
        const long long logical = m.file1_written;
        j["storage"] = {{"logical_bytes", logical},
                        {"stored_bytes", m.stored_bytes},
                        {"ratio", logical > 0 ? json(static_cast<double>(m.stored_bytes) / static_cast<double>(logical))
                                              : json(nullptr)}};
    }
    if (m.failed_iterations > 0) {
        j["failed_iterations"] = m.failed_iterations;
        j["reason"] = m.reason;
    }
    json phases = json::array();
    for (const tessel_phase &phase : TESSEL_PHASES)
        if (!(phase.reads && m.write_only))
            phases.push_back(phase_json(m, phase, o));
    j["phases"] = phases;
    return j;
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

json tessel_json(const tessel_run_info &info, const bench_options &o, const std::vector<tessel_measurement> &results)
{
    json options = {{"interfaces", interfaces_of(o.api)},
                    {"num_bytes", o.num_bytes},
                    {"num_files", o.num_files},
                    {"num_dsets", o.num_dsets},
                    {"iterations", o.num_iterations},
                    {"min_processes", o.min_num_processes},
                    {"max_processes", o.max_num_processes},
                    {"min_transfer_size", o.min_xfer_size},
                    {"max_transfer_size", o.max_xfer_size},
                    {"block_size", o.block_size},
                    {"pattern", pattern_of(o.interleaved != 0)},
                    {"geometry", o.dim2d ? "2D" : "1D"},
                    {"collective", o.collective != 0},
                    {"chunked", o.chunk != 0},
                    {"write_only", o.write_only != 0},
                    {"verify", o.verify != 0},
                    {"align", o.align},
                    {"threshold", o.threshold},
                    {"read_shift", o.read_shift},
                    {"chunk_size", o.chunk ? json(o.chunk_size > 0 ? o.chunk_size : o.block_size) : json(nullptr)},
                    {"deflate", o.deflate > 0 ? json(o.deflate) : json(nullptr)},
                    {"data", o.verify ? "verify" : bench_data_name(o.data)},
                    {"deadline_s", o.deadline > 0 ? json(o.deadline) : json(nullptr)}};
    json run = {{"date", info.date},
                {"hosts", info.hosts},
                {"processes", info.processes},
                {"hdf5_version", info.hdf5_version},
                {"mpi_version", info.mpi_version},
                {"prefix", info.has_prefix ? json(info.prefix) : json(nullptr)},
                {"mpi_hints",
                 {{"requested", hints_object(info.hints_requested)}, {"in_effect", hints_object(info.hints_in_effect)}}},
                {"options", options}};
    json measurements = json::array();
    for (const tessel_measurement &m : results)
        measurements.push_back(measurement_json(m, o));
    return {{"format", TESSEL_JSON_FORMAT},
            {"program", "tessel"},
            {"version", std::to_string(ZARN_VERS_MAJOR) + "." + std::to_string(ZARN_VERS_MINOR) + "." +
                            std::to_string(ZARN_VERS_RELEASE)},
            {"status", info.exit_status == 0 ? "ok" : "failed"},
            {"exit_status", info.exit_status},
            {"run", run},
            {"measurements", measurements}};
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
