// tessel's JSON report: the text has the layout of nlohmann-json's dump(2),
// every number reads back as the value written, names that are not UTF-8
// cannot break the document, and a report holds the per-process times and
// summaries of the measurements it was given.
#include "tessel_test_support.hpp"

#include "tessel_export.hpp"
#include "tessel_json_writer.hpp"

#include <nlohmann/json.hpp>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace tessel_test;
using ojson = nlohmann::ordered_json;

TEST(JsonWriter, LaysOutADocumentAsTheLibraryDumpsIt)
{
    std::string text;
    tessel_json_writer w(&text);
    w.begin_object();
    w.integer("format", 1);
    w.string("name", "a \"quoted\" back\\slash, tab\t, line\n, bell\x07 and caf\xc3\xa9");
    w.begin_object("empty_object");
    w.end_object();
    w.begin_array("empty_array");
    w.end_array();
    w.begin_array("numbers");
    for (double v : {0.0, -0.0, 0.5, 2.0, 0.1, 1e-5, 0.0001, 123456.789, 1e15, 1e16, 1e+20, 2.5e-300})
        w.number(nullptr, v);
    w.end_array();
    w.begin_array("integers");
    for (long long v : {0LL, -1LL, LLONG_MAX, LLONG_MIN})
        w.integer(nullptr, v);
    w.end_array();
    w.begin_object("nested");
    w.boolean("yes", true);
    w.boolean("no", false);
    w.null("nothing");
    w.begin_array("objects");
    w.begin_object();
    w.positive("rate", 3.0);
    w.positive("none", 0.0);
    w.end_object();
    w.end_array();
    w.end_object();
    w.end_object();

    const ojson expected = {
        {"format", 1},
        {"name", "a \"quoted\" back\\slash, tab\t, line\n, bell\x07 and caf\xc3\xa9"},
        {"empty_object", ojson::object()},
        {"empty_array", ojson::array()},
        {"numbers", {0.0, -0.0, 0.5, 2.0, 0.1, 1e-5, 0.0001, 123456.789, 1e15, 1e16, 1e+20, 2.5e-300}},
        {"integers", {0LL, -1LL, LLONG_MAX, LLONG_MIN}},
        {"nested",
         {{"yes", true}, {"no", false}, {"nothing", nullptr}, {"objects", {{{"rate", 3.0}, {"none", nullptr}}}}}},
    };
    EXPECT_EQ(text, expected.dump(2));
}

double from_bits(uint64_t bits)
{
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

TEST(JsonWriter, EveryNumberReadsBackAsTheSameDouble)
{
    std::vector<double> values = {0.1,
                                  1.0 / 3.0,
                                  2.0 / 3.0,
                                  5e-324, // the smallest subnormal
                                  DBL_MIN,
                                  DBL_MAX,
                                  -DBL_MAX,
                                  DBL_EPSILON,
                                  9007199254740993.0, // 2^53 + 1 rounds to 2^53
                                  9007199254740994.0,
                                  1e15,
                                  123456789012345678.0,
                                  1e-4,
                                  9.999e-5,
                                  0.30000000000000004,
                                  1e23,
                                  4.35,
                                  100000.0};
    // And a spread of bit patterns over every exponent.
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    for (int i = 0; i < 2000; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        const double v = from_bits(state & ~(uint64_t{1} << 63));
        if (std::isfinite(v))
            values.push_back(i % 2 == 0 ? v : -v);
    }
    std::string text;
    tessel_json_writer w(&text);
    w.begin_array();
    for (double v : values)
        w.number(nullptr, v);
    w.number(nullptr, std::numeric_limits<double>::quiet_NaN());
    w.number(nullptr, std::numeric_limits<double>::infinity());
    w.end_array();

    const nlohmann::json parsed = nlohmann::json::parse(text);
    ASSERT_EQ(parsed.size(), values.size() + 2);
    for (size_t i = 0; i < values.size(); ++i) {
        // A floating-point value stays one even when it is whole.
        EXPECT_TRUE(parsed[i].is_number_float()) << parsed[i].dump();
        const double back = parsed[i].get<double>();
        EXPECT_EQ(std::memcmp(&back, &values[i], sizeof back), 0) << "wrote " << values[i] << ", read " << back;
    }
    // JSON has no NaN or infinity.
    EXPECT_TRUE(parsed[values.size()].is_null());
    EXPECT_TRUE(parsed[values.size() + 1].is_null());
}

TEST(JsonWriter, BytesThatAreNotUtf8BecomeTheReplacementCharacter)
{
    struct text_case {
        std::string written;
        std::string read;
    } cases[] = {
        {"/scratch/caf\xe9", "/scratch/caf\xef\xbf\xbd"}, // a Latin-1 byte
        {"\xff\xfe", "\xef\xbf\xbd\xef\xbf\xbd"},
        {"cut \xc3", "cut \xef\xbf\xbd"},          // a sequence cut short
        {"caf\xc3\xa9", "caf\xc3\xa9"},              // valid UTF-8 is kept
        {std::string("nul\0byte", 8), std::string("nul\0byte", 8)},
    };
    for (const text_case &c : cases) {
        std::string text;
        tessel_json_writer w(&text);
        w.begin_object();
        w.string("value", c.written);
        w.integer(c.written.c_str(), 1); // keys are names too (hints)
        w.end_object();
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(text)) << text;
        EXPECT_EQ(parsed["value"].get<std::string>(), c.read);
        // A key is written up to its first NUL.
        EXPECT_TRUE(parsed.contains(std::string(c.read.c_str()))) << text;
    }
}

// A two-process measurement of two iterations whose per-process times are
// set here: write kind k of rank r in iteration i takes times[i][r] + k/100.
tessel_measurement two_process_measurement()
{
    tessel_measurement m{};
    m.io = pio_interface::posix;
    m.procs = 2;
    m.transfer_size = 4096;
    m.transfer_bytes = 4096;
    m.block_size = 4096;
    m.dset_size = 8192;
    m.num_files = 1;
    m.num_dsets = 1;
    m.iterations = 2;
    m.size_mb = 8192.0 / 1048576.0;
    m.stored_bytes = -1;
    m.stats.resize(PIO_NUM_TIMERS);
    const double times[2][2] = {{0.25, 0.75}, {0.0, 0.0}}; // the second iteration too short to time
    m.rank_totals.assign(2 * 2 * PIO_NUM_TIMERS, 0.0);
    for (const tessel_phase &phase : TESSEL_PHASES) {
        for (int i = 0; i < 2; ++i) {
            const double slowest = std::max(times[i][0], times[i][1]);
            m.stats[static_cast<size_t>(phase.kind)].push_back({std::min(times[i][0], times[i][1]), slowest,
                                                                 times[i][0] + times[i][1], 2});
            for (int r = 0; r < 2; ++r)
                for (int kind : {phase.kind, phase.open_kind, phase.close_kind})
                    if (kind >= 0)
                        m.rank_totals[static_cast<size_t>((i * 2 + r) * PIO_NUM_TIMERS + kind)] =
                            times[i][r] + (kind == phase.kind ? 0.0 : kind / 100.0);
        }
    }
    return m;
}

TEST(JsonReport, HoldsEveryProcesssTimesAndTheSummariesOfEachPhase)
{
    tessel_run_info info;
    info.date = "2026-12-09T00:00:00Z";
    info.hosts = {"node1"};
    info.processes = 2;
    info.prefix = "/scratch/caf\xe9";
    info.has_prefix = true;
    info.hints_requested = {{"romio_cb_write", "enable"}};
    bench_options o = options_of({"-A", "posix", "-i", "2"});
    tessel_measurement failed = two_process_measurement();
    failed.io = pio_interface::mpiio;
    failed.failed_iterations = 2;
    failed.reason = "MPI-IO write failed: \"disk\" full";
    const std::string text = tessel_json(info, o, {two_process_measurement(), failed});
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');

    const nlohmann::json doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc["run"]["prefix"], "/scratch/caf\xef\xbf\xbd");
    EXPECT_EQ(doc["run"]["mpi_hints"]["requested"], nlohmann::json({{"romio_cb_write", "enable"}}));
    EXPECT_EQ(doc["run"]["options"]["iterations"], 2);
    ASSERT_EQ(doc["measurements"].size(), 2u);

    const nlohmann::json &m = doc["measurements"][0];
    EXPECT_EQ(m["status"], "ok");
    EXPECT_EQ(m["bytes"], 8192);
    ASSERT_EQ(m["phases"].size(), 4u);
    for (const nlohmann::json &phase : m["phases"]) {
        const std::string name = phase["phase"];
        const bool open_close = name.find("open-close") != std::string::npos;
        const nlohmann::json &first = phase["iterations"][0];
        EXPECT_EQ(first["rank_times_s"], nlohmann::json({0.25, 0.75})) << name;
        EXPECT_EQ(first["slowest_rank"], 1) << name;
        EXPECT_EQ(first["slowest_to_median"], 0.75 / 0.5) << name;
        EXPECT_EQ(first["mib_per_s"], (8192.0 / 1048576.0) / 0.75) << name;
        EXPECT_EQ(first["bytes"], 8192) << name;
        EXPECT_EQ(first.contains("rank_open_times_s"), open_close) << name;
        if (open_close) {
            const int open = name == "write open-close" ? T_WRITE_FILE_OPEN : T_READ_FILE_OPEN;
            EXPECT_EQ(first["rank_open_times_s"], nlohmann::json({0.25 + open / 100.0, 0.75 + open / 100.0})) << name;
        }
        // Times too short to divide by: no throughput, no ratio to the median.
        const nlohmann::json &second = phase["iterations"][1];
        EXPECT_EQ(second["rank_times_s"], nlohmann::json({0.0, 0.0})) << name;
        EXPECT_TRUE(second["mib_per_s"].is_null()) << name;
        EXPECT_TRUE(second["slowest_to_median"].is_null()) << name;
        EXPECT_EQ(phase["min_time_s"], 0.0) << name;
        EXPECT_EQ(phase["max_time_s"], 0.75) << name;
        // The slowest iteration gives the smallest throughput; the fastest
        // was too short to give any.
        EXPECT_EQ(phase["min_mib_per_s"], (8192.0 / 1048576.0) / 0.75) << name;
        EXPECT_TRUE(phase["max_mib_per_s"].is_null()) << name;
        EXPECT_TRUE(phase["stddev_mib_per_s"].is_null()) << name;
    }

    // A failed measurement: the reason, and no number in its phases.
    const nlohmann::json &f = doc["measurements"][1];
    EXPECT_EQ(f["status"], "failed");
    EXPECT_EQ(f["failed_iterations"], 2);
    for (const nlohmann::json &phase : f["phases"])
        EXPECT_EQ(phase, nlohmann::json({{"phase", phase["phase"]}, {"status", "failed"}, {"reason", failed.reason}}));
}

} // namespace
