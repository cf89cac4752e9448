// The manager/worker exchange of a multi-process comparison, run under three
// processes: rank 0 dispatches pairs with the manager's functions, ranks 1 and
// 2 run the worker loop with a comparison whose output and counts each test
// chooses by the pair's name.
#include "mirlo.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_util.hpp"
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

std::string line_of(const char *name, int j)
{
    char buf[128];
    snprintf(buf, sizeof buf, "pair %s line %02d ..................................\n", name, j);
    return buf;
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
    }
    return out;
}

// The comparison the workers run: prints the pair's output and sets the
// run-wide state some names ask for.
nfound_t scripted_compare(hid_t, const char *path1, hid_t, const char *, diff_options *options,
                          object_pair_info *pair)
{
    std::string out = expected_output(path1);
    if (!out.empty())
        zarn_buffered_print("%s", out.c_str());
    if (std::strcmp(path1, "/nc") == 0)
        options->not_comparable = 1;
    if (std::strcmp(path1, "/err") == 0)
        options->error_status |= 2;
    if (std::strcmp(path1, "/ne") == 0)
        options->contents_equal = 0;
    if (std::strncmp(path1, "/attrs", 6) == 0) {
        // As the object comparison does: attributes are compared unless the
        // object's path is excluded.
        bool excluded = is_exclude_attr(path1, pair->obj_type1, options);
        zarn_buffered_print("%s %s\n", excluded ? "skipped" : "compared", path1);
    }
    if (std::strcmp(path1, "/subset") == 0) {
        const subset_spec *s = options->subsets[0];
        zarn_buffered_print("subset %s %llu %llu stride %llu second %s paths %s\n", s ? "yes" : "no",
                            s && s->start.count > 0 ? static_cast<unsigned long long>(s->start.values[0]) : 0ULL,
                            s && s->start.count > 1 ? static_cast<unsigned long long>(s->start.values[1]) : 0ULL,
                            static_cast<unsigned long long>(s ? s->stride.count : 99),
                            options->subsets[1] ? "yes" : "no", options->exclude_paths ? "set" : "null");
    }
    return static_cast<nfound_t>(std::strlen(path1));
}

struct session_result {
    std::string out;
    nfound_t nfound = 0;
    diff_options options = diff_options_defaults();
};

// Every rank but 0 serves as a worker until stopped (its output buffered
// when asked) and answers true; rank 0 answers false and runs the manager.
bool served_as_worker(bool buffered = true)
{
    mpi_size = world_size();
    reset_worker_stop();
    if (world_rank() == 0)
        return false;
    parallel_output = buffered ? 1 : 0;
    worker_run(scripted_compare);
    parallel_output = 0;
    return true;
}

// Runs one whole session: the manager dispatches the pairs (kind in
// obj_type1) and collects; the workers serve until stopped; everyone meets at
// the barrier. Only rank 0's result is meaningful.
session_result run_session(const std::vector<std::pair<std::string, int>> &pairs, diff_options options)
{
    session_result r;
    if (served_as_worker())
        return r;
    auto run = test_support::capture([&] {
        mirlo_send_file_names(FILE_A.c_str(), FILE_A.c_str(), &options);
        mirlo_manager m = mirlo_manager_begin();
        for (const auto &[name, kind] : pairs) {
            object_pair_info pair = {kind, kind, 0};
            mirlo_dispatch_task(&m, name.c_str(), name.c_str(), &pair, &options);
        }
        const nfound_t n = mirlo_collect_and_stop(&m, &options);
        MPI_Barrier(MPI_COMM_WORLD);
        return n;
    });
    r.nfound = run.result;
    r.out = std::move(run.out);
    r.options = options;
    return r;
}

diff_options fresh_options()
{
    return test_support::default_options();
}

TEST(Protocol, OutputOfEachPairArrivesWholeAndInOrder)
{
    std::vector<std::pair<std::string, int>> pairs;
    const char *names[] = {"/big1", "/quiet1", "/small1", "/huge1", "/small2", "/quiet2", "/big2", "/huge2", "/small3"};
    nfound_t expected_sum = 0;
    for (const char *n : names) {
        pairs.push_back({n, TREK_DATASET});
        expected_sum += std::strlen(n);
    }
    session_result r = run_session(pairs, fresh_options());
    if (world_rank() != 0)
        return;
    EXPECT_EQ(r.nfound, expected_sum);
    size_t total = 0;
    for (const char *n : names) {
        std::string block = expected_output(n);
        total += block.size();
        if (!block.empty()) {
            EXPECT_NE(r.out.find(block), std::string::npos) << "output of " << n << " missing or split";
        }
    }
    EXPECT_EQ(r.out.size(), total); // nothing else, nothing twice
    EXPECT_EQ(r.options.not_comparable, 0);
    EXPECT_EQ(r.options.error_status, 0);
    EXPECT_EQ(r.options.contents_equal, 1);
}

TEST(Protocol, RunWideStateComesBackFromWorkers)
{
    session_result r = run_session({{"/nc", TREK_DATASET}, {"/quiet", TREK_DATASET}, {"/err", TREK_DATASET},
                                    {"/ne", TREK_DATASET}, {"/quiet2", TREK_DATASET}},
                                   fresh_options());
    if (world_rank() != 0)
        return;
    EXPECT_EQ(r.nfound, 3u + 6u + 4u + 3u + 7u);
    EXPECT_EQ(r.options.not_comparable, 1);
    EXPECT_EQ(r.options.error_status, 2);
    EXPECT_EQ(r.options.contents_equal, 0);
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

TEST(Protocol, SubsetsReachTheWorkersByMessage)
{
    diff_options o = fresh_options();
    char obj1[] = "/subset[3,4;;5]";
    o.subsets[0] = parse_subset_spec(obj1);
    // A pointer that means nothing in another process: the workers must never
    // follow it.
    o.exclude_paths = reinterpret_cast<exclude_node *>(0x10);
    o.exclude_path_mode = 1;
    session_result r = run_session({{"/subset", TREK_DATASET}, {"/subset", TREK_DATASET}}, o);
    subset_spec_free(o.subsets[0]);
    if (world_rank() != 0)
        return;
    EXPECT_EQ(r.out, "subset yes 3 4 stride 0 second no paths null\n"
                     "subset yes 3 4 stride 0 second no paths null\n");
}

TEST(Protocol, ExcludedGroupAttributesAsInOneProcess)
{
    // One process: /attrs is compared first, matches the entry as a group,
    // and from then on every object below it has its attributes skipped. The
    // workers see the same, whichever of them compares which pair.
    diff_options o = fresh_options();
    o.exclude_attr_mode = 1;
    exclude_list_append(&o.exclude_attrs, "/attrs/d");
    exclude_list_append(&o.exclude_attrs, "/attrs");
    std::vector<std::pair<std::string, int>> pairs = {
        {"/attrs", TREK_GROUP},     {"/attrs/a", TREK_DATASET}, {"/attrs/b", TREK_DATASET},
        {"/attrs/d", TREK_DATASET}, {"/attrsx", TREK_DATASET},  {"/attrs/g", TREK_GROUP},
        {"/attrs/g/c", TREK_DATASET},
    };
    session_result r = run_session(pairs, o);
    if (world_rank() == 0) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t nl; (nl = r.out.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(r.out.substr(start, nl - start));
        std::sort(lines.begin(), lines.end());
        EXPECT_EQ(lines, (std::vector<std::string>{"compared /attrsx", "skipped /attrs", "skipped /attrs/a",
                                                   "skipped /attrs/b", "skipped /attrs/d", "skipped /attrs/g",
                                                   "skipped /attrs/g/c"}));
        ASSERT_NE(o.exclude_attrs->next, nullptr);
        EXPECT_EQ(r.options.exclude_attrs->next->obj_type, TREK_GROUP);
    }
    exclude_list_free(&o.exclude_attrs);
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

TEST(ProtocolLimits, FileNameOf1023CharactersIsAccepted)
{
    std::optional<test_support::temp_dir> dir;
    std::string name;
    if (world_rank() == 0) {
        dir.emplace("mirlo_long");
        name = make_long_path(1023, *dir);
        ASSERT_EQ(name.size(), 1023u);
    }
    // The session runs with the long name; the workers open the file
    // through it.
    if (served_as_worker())
        return;
    diff_options o = fresh_options();
    const auto run = test_support::capture([&] {
        mirlo_send_file_names(name.c_str(), FILE_A.c_str(), &o);
        mirlo_manager m = mirlo_manager_begin();
        object_pair_info pair = {TREK_DATASET, TREK_DATASET, 0};
        mirlo_dispatch_task(&m, "/small1", "/small1", &pair, &o);
        const nfound_t n = mirlo_collect_and_stop(&m, &o);
        MPI_Barrier(MPI_COMM_WORLD);
        return n;
    });
    EXPECT_EQ(run.out, expected_output("/small1"));
    EXPECT_EQ(run.result, 7u);
}

TEST(ProtocolLimits, ObjectNameOf255CharactersIsAccepted)
{
    std::string name = "/small" + std::string(249, 'n');
    ASSERT_EQ(name.size(), 255u);
    session_result r = run_session({{name, TREK_DATASET}}, fresh_options());
    if (world_rank() == 0) {
        EXPECT_EQ(r.out, expected_output(name.c_str()));
        EXPECT_EQ(r.nfound, 255u);
    }
}

// The refusals below end the whole job with MPI_Abort; they are run one at a
// time by tests/cli/test_parallel_aborts.sh, which checks the message and the
// exit status.
TEST(ProtocolLimits, DISABLED_FileNameOf1024CharactersAborts)
{
    // The length is refused before anything is sent, so the name need not exist.
    if (served_as_worker(false))
        return;
    diff_options o = fresh_options();
    std::string name = "/" + std::string(1023, 'f');
    mirlo_send_file_names(FILE_A.c_str(), name.c_str(), &o);
    send_stop_to_workers();
    MPI_Barrier(MPI_COMM_WORLD);
}

TEST(ProtocolLimits, DISABLED_ObjectNameOf256CharactersAborts)
{
    if (served_as_worker())
        return;
    diff_options o = fresh_options();
    mirlo_send_file_names(FILE_A.c_str(), FILE_A.c_str(), &o);
    mirlo_manager m = mirlo_manager_begin();
    object_pair_info pair = {TREK_DATASET, TREK_DATASET, 0};
    mirlo_dispatch_task(&m, "/small1", "/small1", &pair, &o);
    std::string name = "/small" + std::string(250, 'n');
    mirlo_dispatch_task(&m, name.c_str(), name.c_str(), &pair, &o);
    mirlo_collect_and_stop(&m, &o);
    MPI_Barrier(MPI_COMM_WORLD);
}

TEST(ProtocolLimits, DISABLED_WorkerThatCannotOpenAFileAborts)
{
    if (served_as_worker(false))
        return;
    diff_options o = fresh_options();
    mirlo_send_file_names(FILE_A.c_str(), "/nonexistent/mirlo_missing.h5", &o);
    mirlo_manager m = mirlo_manager_begin();
    object_pair_info pair = {TREK_DATASET, TREK_DATASET, 0};
    mirlo_dispatch_task(&m, "/small1", "/small1", &pair, &o);
    mirlo_collect_and_stop(&m, &o);
    MPI_Barrier(MPI_COMM_WORLD);
}

} // namespace
