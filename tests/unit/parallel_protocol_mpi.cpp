// The manager/worker exchange of a multi-process comparison: rank 0 runs the
// manager over a list of pairs, the other ranks run the worker loop with
// comparisons whose output, counts and timing each test chooses by the
// pair's name. The output must be each pair's output in pair order,
// whatever order the workers finish in.
//
// The suite runs at three processes, and again at two, three and five with
// UCX_RNDV_THRESH=0 in the environment, which makes this MPI hold every send
// until its receive is posted (rendezvous), as it does by itself for
// messages above its eager limit: a send that waits for a peer itself
// waiting to send hangs the run there. The message-size tests then send
// names of 64 KiB, thousands of pairs and outputs of megabytes both ways.
#include "mirlo.hpp"
#include "mirlo_diff.hpp"
#include "mirlo_manager.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_wait.hpp"
#include "mirlo_record.hpp"
#include "mirlo_output.hpp"
#include "mirlo_worker.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>
#include <mpi.h>

#include <algorithm>
#include <optional>
#include <cstring>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <ctime>
#include <vector>

namespace {

const std::string FILE_A = test_support::fixture_path("e2e_a.h5");

int world_rank()
{
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    return rank;
}

int world_size()
{
    int size = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    return size;
}

int workers()
{
    return world_size() - 1;
}

std::string line_of(const char *name, int j)
{
    char number[16];
    snprintf(number, sizeof number, "%02d", j);
    return std::string("pair ") + name + " line " + number + " ..................................\n";
}

// The output each test pair prints, as the worker's comparison prints it.
std::string expected_output(const char *name)
{
    std::string out;
    if (std::strncmp(name, "/small", 6) == 0) {
        for (int j = 0; j < 3; ++j)
            out += line_of(name, j);
    } else if (std::strncmp(name, "/big", 4) == 0) {
        for (int j = 0; j < 80; ++j) // about 4500 characters: outBuff, then the overflow file
            out += line_of(name, j);
    } else if (std::strncmp(name, "/huge", 5) == 0) {
        // The first text alone is larger than outBuff.
        out += std::string("pair ") + name + " " + std::string(3000, 'y') + "\n";
        out += line_of(name, 1);
    } else if (std::strncmp(name, "/many", 5) == 0) {
        out += line_of(name, 0);
    } else if (std::strncmp(name, "/long", 5) == 0 || std::strncmp(name, "/flood", 6) == 0) {
        // Names of 64 KiB print a label; /long pairs print 100 KiB, more
        // than an answer carries, /flood pairs 6 MiB, more than a worker
        // keeps on its way.
        const std::string label = std::string(name, 8) + " of " + std::to_string(std::strlen(name));
        const int lines = name[1] == 'l' ? 1600 : 98304;
        for (int j = 0; j < lines; ++j)
            out += line_of(label.c_str(), j % 100);
    }
    return out;
}

// The comparison the workers run: prints the pair's output and notes in its
// outcome what some names ask for.
nfound_t scripted_compare(hid_t, const char *path1, hid_t, const char *, pair_context *ctx, object_pair_info *)
{
    std::string out = expected_output(path1);
    // Printed a line at a time, as a comparison prints its rows.
    for (size_t at = 0; at < out.size();) {
        const size_t end = std::min(out.find('\n', at), out.size() - 1) + 1;
        output_print(ctx->out, "%s", out.substr(at, end - at).c_str());
        at = end;
    }
    if (std::strcmp(path1, "/nc") == 0)
        ctx->outcome->not_comparable = true;
    if (std::strcmp(path1, "/err") == 0)
        ctx->outcome->fail();
    if (std::strcmp(path1, "/ne") == 0)
        ctx->outcome->members_differ = true;
    if (std::strncmp(path1, "/attrs", 6) == 0) {
        // As the object comparison does: attributes are compared unless the
        // pair's rule excludes them.
        output_print(ctx->out, "%s %s\n", ctx->rule.attributes_excluded ? "skipped" : "compared", path1);
    }
    if (std::strcmp(path1, "/subset") == 0) {
        const mirlo_settings &st = *ctx->settings;
        const subset_spec *s = st.subsets[0].get();
        output_print(ctx->out, "subset %s %llu %llu stride %llu second %s paths %zu %s\n", s ? "yes" : "no",
                     s && s->start.count > 0 ? static_cast<unsigned long long>(s->start.values[0]) : 0ULL,
                     s && s->start.count > 1 ? static_cast<unsigned long long>(s->start.values[1]) : 0ULL,
                     static_cast<unsigned long long>(s ? s->stride.count : 99), st.subsets[1] ? "yes" : "no",
                     st.exclude_paths.size(), st.exclude_paths.empty() ? "" : st.exclude_paths.back().c_str());
    }
    if (std::strncmp(path1, "/slow", 5) == 0) {
        // Finishes after the pairs handed out behind it.
        timespec pause{0, 30000000};
        nanosleep(&pause, nullptr);
    }
    if (std::strncmp(path1, "/split", 6) == 0 && ctx->window != nullptr && ctx->window->may_split) {
        // A large pair: asks to be compared in ten pieces; what it printed
        // so far must not show.
        output_print(ctx->out, "opening printed by the split request\n");
        ctx->outcome->split_strips = 10;
        return 0;
    }
    return static_cast<nfound_t>(std::strlen(path1));
}

// Strip k of a split pair prints one row and counts 1. "/splitfail" cannot
// read strip 4: it stops there, as a failed read does. With records kept,
// strip k compares 1000 elements and its difference, at position k, is k.
nfound_t scripted_piece(hid_t, const char *path1, hid_t, const char *path2, pair_context *ctx, object_pair_info *)
{
    const strip_window *w = ctx->window;
    if (w->print_opening)
        print_dataset_opening(path1, path2, *ctx->settings, ctx->out);
    object_record *record = ctx->record;
    nfound_t n = 0;
    for (uint64_t k = w->strip_begin; k < w->strip_end; ++k) {
        if (std::strcmp(path1, "/splitfail") == 0 && k == 4) {
            output_print(ctx->out, "Cannot read dataset <%s>\n", path1);
            record_error(ctx, "cannot read strip %llu", static_cast<unsigned long long>(k));
            ctx->outcome->fail();
            return n;
        }
        output_print(ctx->out, "%s strip %llu row\n", path1, static_cast<unsigned long long>(k));
        ++n;
        if (record != nullptr) {
            diff_stats &s = record->data;
            s.elements += 1000;
            const stat_number v = stat_number::of_unsigned(k);
            if (stat_greater(v, s.max_abs.value))
                s.max_abs = {v, {k}};
            if (s.first.size() < MIRLO_FIRST_DIFFERENCES)
                s.first.push_back({{k}, v, v});
        }
    }
    return n;
}

nfound_t scripted_attributes(hid_t, const char *path1, hid_t, const char *, pair_context *ctx, object_pair_info *)
{
    output_print(ctx->out, "attributes of %s\n", path1);
    return 100;
}

// What a one-process run prints for a split pair in report mode (a failed
// pair prints no count line).
std::string split_output(const char *name, int strips, int failed_at = -1)
{
    std::string out = std::string("dataset: <") + name + "> and <" + name + ">\n";
    int rows = 0;
    for (int k = 0; k < strips; ++k) {
        if (k == failed_at) {
            out += std::string("Cannot read dataset <") + name + ">\n";
            break;
        }
        out += std::string(name) + " strip " + std::to_string(k) + " row\n";
        ++rows;
    }
    if (failed_at < 0)
        out += std::to_string(rows) + " differences found\n";
    out += std::string("attributes of ") + name + "\n";
    return out;
}

const worker_comparers SCRIPTED = {scripted_compare, scripted_piece, scripted_attributes};

struct session_result {
    std::string out;
    nfound_t nfound = 0;
    run_outcome outcome;
    uint64_t pieces = 0;
    std::vector<object_record> records; // with --json or --statistics
};

// Runs one whole session: the manager compares the pairs (kind in
// obj_type1, exclusions resolved as matching resolves them) and stops the
// workers, which serve until stopped; everyone meets at the barrier. Only
// rank 0's result is meaningful.
// memory_bound: output the manager holds in memory before it uses a
// temporary file.
session_result run_session(const std::vector<std::pair<std::string, int>> &pairs, const mirlo_settings &settings,
                           const std::string &file1 = FILE_A, size_t memory_bound = MIRLO_OUTPUT_MEMORY_BOUND)
{
    session_result r;
    mirlo_crew crew;
    crew.size = world_size();
    if (world_rank() != 0) {
        worker_run(SCRIPTED);
        return r;
    }
    testing::internal::CaptureStdout();
    mirlo_send_setup(&crew, file1.c_str(), FILE_A.c_str(), "/", "/", settings);
    {
        std::vector<matched_pair> matched;
        for (const auto &[name, kind] : pairs) {
            matched_pair p;
            p.name1 = p.name2 = name;
            p.info = {kind, kind, 0};
            matched.push_back(p);
        }
        resolve_attribute_exclusions(settings.exclude_attrs, &matched);
        mirlo_manager m;
        m.out.memory_bound = memory_bound;
        for (const matched_pair &p : matched)
            mirlo_manager_add_pair(&m, p);
        mirlo_manager_run(&m, &crew, settings, &r.outcome);
        r.nfound = r.outcome.differences;
        r.pieces = m.pieces_made;
        for (mirlo_manager::pair_entry &p : m.pairs)
            r.records.push_back(mirlo_manager_record(&p));
    }
    mirlo_barrier();
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

mirlo_settings fresh_options()
{
    return test_support::default_settings();
}

TEST(Protocol, OutputOfEveryPairPrintsWholeAndInPairOrder)
{
    std::vector<std::pair<std::string, int>> pairs;
    const char *names[] = {"/slow1", "/big1", "/quiet1", "/small1", "/huge1", "/small2", "/slowbig", "/quiet2",
                           "/big2", "/huge2", "/small3"};
    nfound_t expected_sum = 0;
    std::string expected;
    for (const char *n : names) {
        pairs.push_back({n, TREK_GROUP});
        expected_sum += std::strlen(n);
        expected += expected_output(n);
    }
    // Many short pairs after them, so that batches of several pairs travel.
    for (int i = 0; i < 300; ++i) {
        std::string n = "/small_many" + std::to_string(i);
        pairs.push_back({n, TREK_GROUP});
        expected_sum += n.size();
        expected += expected_output(n.c_str());
    }
    session_result r = run_session(pairs, fresh_options());
    if (world_rank() != 0)
        return;
    EXPECT_EQ(r.nfound, expected_sum);
    EXPECT_EQ(r.out, expected);
    EXPECT_FALSE(r.outcome.not_comparable);
    EXPECT_EQ(r.outcome.status, 0);
    EXPECT_TRUE(r.outcome.contents_equal);
}

TEST(Protocol, RunWideStateComesBackFromWorkers)
{
    session_result r = run_session({{"/nc", TREK_DATASET}, {"/quiet", TREK_DATASET}, {"/err", TREK_DATASET},
                                    {"/ne", TREK_DATASET}, {"/quiet2", TREK_DATASET}},
                                   fresh_options());
    if (world_rank() != 0)
        return;
    EXPECT_EQ(r.nfound, 3u + 6u + 4u + 3u + 7u);
    EXPECT_TRUE(r.outcome.not_comparable);
    EXPECT_EQ(r.outcome.status, 2);
    EXPECT_FALSE(r.outcome.contents_equal);
    EXPECT_EQ(r.out, "");
}

TEST(Protocol, MoreWorkersThanPairsAndNoPairs)
{
    session_result one = run_session({{"/small9", TREK_DATASET}}, fresh_options());
    if (world_rank() == 0) {
        EXPECT_EQ(one.out, expected_output("/small9"));
        EXPECT_EQ(one.nfound, 7u);
    }
    session_result none = run_session({}, fresh_options());
    if (world_rank() == 0) {
        EXPECT_EQ(none.out, "");
        EXPECT_EQ(none.nfound, 0u);
    }
}

TEST(Protocol, SettingsReachTheWorkersByMessage)
{
    mirlo_settings o = fresh_options();
    char obj1[] = "/subset[3,4;;5]";
    o.subsets[0] = subset_spec_owned(parse_subset_spec(obj1));
    o.exclude_paths = {"/first", "/second"};
    session_result r = run_session({{"/subset", TREK_DATASET}, {"/subset", TREK_DATASET}}, o);
    if (world_rank() != 0)
        return;
    EXPECT_EQ(r.out, "subset yes 3 4 stride 0 second no paths 2 /second\n"
                     "subset yes 3 4 stride 0 second no paths 2 /second\n");
}

TEST(Protocol, ExcludedGroupAttributesAsInOneProcess)
{
    // /attrs is a group compared as one: the entry naming it excludes the
    // attributes of everything below it. The manager resolves that while it
    // matches, so every worker sees the same, whichever compares which pair.
    mirlo_settings o = fresh_options();
    o.exclude_attrs = {"/attrs/d", "/attrs"};
    std::vector<std::pair<std::string, int>> pairs = {
        {"/attrs", TREK_GROUP},     {"/attrs/a", TREK_DATASET}, {"/attrs/b", TREK_DATASET},
        {"/attrs/d", TREK_DATASET}, {"/attrsx", TREK_DATASET},  {"/attrs/g", TREK_GROUP},
        {"/attrs/g/c", TREK_DATASET},
    };
    session_result r = run_session(pairs, o);
    if (world_rank() == 0) {
        EXPECT_EQ(r.out, "skipped /attrs\nskipped /attrs/a\nskipped /attrs/b\nskipped /attrs/d\n"
                         "compared /attrsx\nskipped /attrs/g\nskipped /attrs/g/c\n");
    }
}

TEST(Protocol, LargePairIsComparedInPiecesAndPrintsAsOne)
{
    if (workers() < 2)
        GTEST_SKIP() << "a pair is split only between two workers or more";
    mirlo_settings o = fresh_options();
    o.report_mode = true;
    session_result r = run_session({{"/small1", TREK_DATASET}, {"/split", TREK_DATASET},
                                    {"/slow2", TREK_DATASET}, {"/splitfail", TREK_DATASET},
                                    {"/small2", TREK_DATASET}},
                                   o);
    if (world_rank() != 0)
        return;
    // Both split pairs in pieces: one piece per strip with many workers.
    EXPECT_EQ(r.pieces, 2u * std::min(10u, 4u * static_cast<unsigned>(workers())));
    EXPECT_EQ(r.out, expected_output("/small1") + split_output("/split", 10) + split_output("/splitfail", 10, 4) +
                         expected_output("/small2"));
    // The pieces after the failed one count nothing, as strips never read.
    EXPECT_EQ(r.nfound, 7u + (10u + 100u) + 6u + (4u + 100u) + 7u);
    EXPECT_EQ(r.outcome.status, 2);
}

TEST(Protocol, RecordsOfAPairInPiecesMergeInPieceOrderUpToAFailedPiece)
{
    if (workers() < 2)
        GTEST_SKIP() << "a pair is split only between two workers or more";
    mirlo_settings o = fresh_options();
    o.report_mode = true;
    o.statistics_mode = true;
    o.json_mode = true;
    session_result r = run_session({{"/split", TREK_DATASET}, {"/splitfail", TREK_DATASET}}, o);
    if (world_rank() != 0)
        return;
    // The statistics line follows the count line the manager prints; a
    // failed pair prints neither.
    auto with_statistics = [](std::string text, const std::string &line) {
        const size_t at = text.find(" differences found\n") + std::strlen(" differences found\n");
        return text.insert(at, line);
    };
    EXPECT_EQ(r.out,
              with_statistics(split_output("/split", 10),
                              "statistics: 10000 elements compared, 10 differences, largest absolute difference 9 "
                              "at [ 9 ]; it would pass with --atol 9 (the largest absolute difference)\n") +
                  split_output("/splitfail", 10, 4));
    ASSERT_EQ(r.records.size(), 2u);
    const object_record &whole = r.records[0];
    EXPECT_EQ(whole.name1, "/split");
    EXPECT_EQ(whole.differences, 10u);
    EXPECT_EQ(whole.data.elements, 10000u);
    ASSERT_EQ(whole.data.first.size(), 10u);
    for (uint64_t k = 0; k < 10; ++k)
        EXPECT_EQ(whole.data.first[k].position, std::vector<uint64_t>{k});
    EXPECT_EQ(whole.error, "");
    const object_record &failed = r.records[1];
    EXPECT_EQ(failed.differences, 4u);
    EXPECT_EQ(failed.data.max_abs.position, std::vector<uint64_t>{3});
    EXPECT_EQ(failed.data.first.size(), 4u);
    EXPECT_EQ(failed.error, "cannot read strip 4");
}

TEST(Protocol, LargePairIsComparedWholeUnderACountLimit)
{
    mirlo_settings o = fresh_options();
    o.count_mode = true;
    o.count_limit = 5;
    session_result r = run_session({{"/split", TREK_DATASET}}, o);
    if (world_rank() == 0) {
        EXPECT_EQ(r.pieces, 0u);
        EXPECT_EQ(r.nfound, 6u);
    }
}

// A path of exactly length characters naming FILE_A, through a symbolic link
// at the end of a chain of new folders inside dir.
std::string make_long_path(size_t length, const test_support::temp_dir &dir)
{
    if (!dir.valid())
        return "";
    std::string path = dir.path();
    while (length - path.size() > 201) {
        path += "/" + std::string(150, 'd');
        if (mkdir(path.c_str(), 0700) != 0)
            return "";
    }
    path.push_back('/');
    path.append(length - path.size(), 'f');
    if (symlink(FILE_A.c_str(), path.c_str()) != 0)
        return "";
    return path;
}

TEST(ProtocolNames, NamesOfAnyLengthTravel)
{
    std::optional<test_support::temp_dir> dir;
    std::string file;
    if (world_rank() == 0) {
        dir.emplace("mirlo_long");
        file = make_long_path(1500, *dir);
        ASSERT_EQ(file.size(), 1500u);
    }
    std::string object = "/small" + std::string(4000, 'n');
    session_result r = run_session({{"/small1", TREK_DATASET}, {object, TREK_DATASET}}, fresh_options(), file);
    if (world_rank() != 0)
        return;
    EXPECT_EQ(r.out, expected_output("/small1") + expected_output(object.c_str()));
    EXPECT_EQ(r.nfound, 7u + object.size());
}

TEST(Protocol, OutputThatCannotWaitEndsTheRunWithStatusTwo)
{
    if (workers() < 2)
        GTEST_SKIP() << "one worker answers in pair order: nothing waits";
    // The first pair answers last; what the others print must wait, with no
    // room in memory and no temporary folder.
    test_support::temp_dir dir("mirlo_gone");
    const std::string missing = dir.file("no/such/folder");
    test_support::scoped_env env("TMPDIR", missing.c_str());
    std::vector<std::pair<std::string, int>> pairs = {{"/slow1", TREK_GROUP}};
    for (int i = 0; i < 20; ++i)
        pairs.push_back({"/big" + std::to_string(i), TREK_GROUP});
    if (world_rank() == 0)
        testing::internal::CaptureStderr();
    session_result r = run_session(pairs, fresh_options(), FILE_A, 0);
    if (world_rank() != 0)
        return;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.outcome.status, 2);
    EXPECT_EQ(test_support::occurrences(err, " error: cannot create the output waiting to be printed in a "
                                             "temporary file in " + missing + ": No such file or directory\n"),
              1u)
        << err;
    // Nothing printed past the failure: the first pair answered last.
    EXPECT_EQ(r.out, "");
}

// Whether this MPI holds a send until its receive is posted: rank 0 starts a
// send to rank 1 and polls it while rank 1 receives another message first.
bool sends_wait_for_receives()
{
    if (world_size() < 2 || world_rank() > 1)
        return false;
    char byte = 0;
    if (world_rank() == 1) {
        MPI_Recv(nullptr, 0, MPI_BYTE, 0, 2, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        MPI_Recv(&byte, 1, MPI_BYTE, 0, 1, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        return false;
    }
    MPI_Request request;
    MPI_Isend(&byte, 1, MPI_BYTE, 1, 1, MPI_COMM_WORLD, &request);
    int done = 0;
    for (int i = 0; i < 1000 && !done; ++i)
        MPI_Test(&request, &done, MPI_STATUS_IGNORE);
    MPI_Send(nullptr, 0, MPI_BYTE, 1, 2, MPI_COMM_WORLD);
    MPI_Wait(&request, MPI_STATUS_IGNORE);
    return !done;
}

TEST(ProtocolRendezvous, TheEnvironmentHoldsSendsUntilReceived)
{
    const bool held = sends_wait_for_receives();
    if (std::getenv("UCX_RNDV_THRESH") == nullptr)
        GTEST_SKIP() << "run without UCX_RNDV_THRESH=0";
    // Without this the message-size tests below prove less.
    if (world_rank() == 0) {
        EXPECT_TRUE(held);
    }
}

struct bulk {
    std::vector<std::pair<std::string, int>> pairs;
    std::string expected;
    nfound_t nfound = 0;
    void add(const std::string &name)
    {
        pairs.push_back({name, TREK_DATASET});
        expected += expected_output(name.c_str());
        nfound += name.size();
    }
};

TEST(ProtocolRendezvous, NamesOf64KiBAndOutputsOfMegabytesTravelBothWays)
{
    // Batches of names of 64 KiB towards the workers while their outputs,
    // each larger than an answer carries, come back; two outputs larger than
    // a worker keeps on its way.
    bulk b;
    for (int i = 0; i < 24; ++i) {
        if (i == 3 || i == 15)
            b.add("/flood" + std::to_string(i));
        b.add("/long" + std::to_string(i) + std::string(64 * 1024, 'n'));
    }
    session_result r = run_session(b.pairs, fresh_options());
    if (world_rank() != 0)
        return;
    EXPECT_EQ(r.nfound, b.nfound);
    EXPECT_TRUE(r.out == b.expected) << "output of " << r.out.size() << " bytes, expected " << b.expected.size();
}

TEST(ProtocolRendezvous, TenThousandPairsEachWithOutput)
{
    bulk b;
    for (int i = 0; i < 10000; ++i)
        b.add("/many" + std::to_string(i) + std::string(200, 'm'));
    session_result r = run_session(b.pairs, fresh_options());
    if (world_rank() != 0)
        return;
    EXPECT_EQ(r.nfound, b.nfound);
    EXPECT_TRUE(r.out == b.expected) << "output of " << r.out.size() << " bytes, expected " << b.expected.size();
}

// A file that a worker cannot open (the manager opened it: it changed since,
// or the worker sees another file system) fails every pair of the worker's
// that needs it, with the reason in the pair's record, and the run ends as
// usual instead of aborting the job.
TEST(Protocol, WorkerThatCannotOpenAFileFailsItsPairsAndTheRunGoesOn)
{
    mirlo_settings settings = fresh_options();
    settings.json_mode = true;
    const session_result r = run_session({{"/small1", TREK_DATASET}, {"/small2", TREK_DATASET}, {"/g", TREK_GROUP}},
                                         settings, "/nonexistent/mirlo_missing.h5");
    if (world_rank() != 0)
        return;
    EXPECT_TRUE(r.outcome.failed());
    EXPECT_EQ(run_exit_status(r.outcome), 2);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(r.records.size(), 3u);
    for (const object_record &record : r.records)
        EXPECT_EQ(record.error, "</nonexistent/mirlo_missing.h5>: unable to open file") << record.name1;
    EXPECT_EQ(r.records[2].name1, "/g");
}

} // namespace
