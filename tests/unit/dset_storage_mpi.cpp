// Storage layouts that strips and chunk shortcuts once got wrong, compared at
// one and at three processes, twice each, with strips of a few bytes and the
// chunk shortcuts on and off: every run gives the same lines, and the rows
// are those the fixture wrote, computed here from the written values, not
// from another run.
//  - strips that are boxes (a row of chunks larger than the strip budget):
//    each reported position holds the value the fixture put there;
//  - chunks never written without a fill value, or with fill time "never":
//    such elements read as zero on both sides, never as an earlier strip;
//  - a NaN under -N with --use-system-epsilon counts in every strip, also in
//    strips whose bytes are all equal;
//  - the datasets that object references lead to are compared whole, also
//    when they would be read in several strips and the dataset holding the
//    references is handed to the workers in pieces.
#include "mirlo_dset.hpp"
#include "zarn_utils.hpp"
#include "test_mpi_support.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

using test_support::world_rank;

// One difference row: position and the two values as printed.
struct row {
    std::vector<uint64_t> position;
    std::string value1, value2;
    bool operator==(const row &) const = default;
    bool operator<(const row &r) const { return position < r.position; }
};

std::vector<row> rows_of(const std::string &out)
{
    std::vector<row> rows;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("[ ", 0) != 0)
            continue;
        std::istringstream words(line.substr(2));
        row r;
        for (std::string w; words >> w && w != "]";)
            r.position.push_back(std::stoull(w));
        words >> r.value1 >> r.value2;
        rows.push_back(r);
    }
    return rows;
}

// The rows of a box-strip dataset of extent dims: the second file holds
// linear index + 1 at each written position, the first file 0.
std::vector<row> box_rows(const std::vector<uint64_t> &dims, const std::vector<uint64_t> &linear)
{
    std::vector<row> rows;
    for (uint64_t p : linear) {
        row r;
        r.position.resize(dims.size());
        uint64_t rest = p;
        for (size_t i = dims.size(); i-- > 0;) {
            r.position[i] = rest % dims[i];
            rest /= dims[i];
        }
        r.value1 = "0";
        r.value2 = std::to_string(p + 1);
        rows.push_back(r);
    }
    return rows;
}

std::vector<row> one_dimensional(const std::vector<std::vector<std::string>> &list)
{
    std::vector<row> rows;
    for (const auto &l : list)
        rows.push_back({{std::stoull(l[0])}, l[1], l[2]});
    return rows;
}

struct storage_case {
    const char *path;
    bool nan_epsilon;        // -N --use-system-epsilon
    std::vector<row> rows;   // every difference, as written by the fixture
    std::string largest_abs; // the statistics clause of the largest one
};

// Runs path of the storage pair at one and at three processes, twice each,
// with o, with the chunk shortcuts on and then off (every element read);
// every run must give the same result. Returns the result (on rank 0).
test_support::mpi_run_result run_everywhere(const char *path, const mirlo_settings &settings)
{
    const std::string a = test_support::fixture_path("storage_a.h5");
    const std::string b = test_support::fixture_path("storage_b.h5");
    const hsize_t saved_budget = hyperslab_bufsize, saved_limit = whole_read_limit;
    hyperslab_bufsize = 16;
    whole_read_limit = 0;
    std::vector<test_support::mpi_run_result> runs;
    mirlo_settings o = settings;
    for (bool shortcuts : {true, false}) {
        o.chunk_shortcuts = shortcuts;
        for (bool alone : {true, true, false, false})
            runs.push_back(test_support::mpi_run(a, b, o, alone, path, path));
    }
    hyperslab_bufsize = saved_budget;
    whole_read_limit = saved_limit;
    for (size_t k = 1; k < runs.size() && world_rank() == 0; ++k)
        EXPECT_EQ(runs[k], runs[0]) << path << ": run " << k << " differs from the first\n--- first:\n"
                                    << runs[0].out << "--- run " << k << ":\n" << runs[k].out;
    return runs[0];
}

TEST(StorageLayoutProcesses, RowsAreTheWrittenDifferencesAtEveryProcessCount)
{
    const std::string nan = "nan";
    const storage_case cases[] = {
        {"/box2", false, box_rows({3, 64}, {5, 64 + 5, 128 + 7, 64 + 41, 128 + 63}), "192 at [ 2 63 ]"},
        {"/box3", false,
         box_rows({4, 20, 4}, {3, 80 + 20 + 3, 160 + 8, 240 + 76 + 3, 36 + 1, 240 + 16 + 2}), "320 at [ 3 19 3 ]"},
        {"/undefined", false, one_dimensional({{"7", "8", "100"}}), "92 at [ 7 ]"},
        {"/never", false, {}, ""},
        {"/one_side", false,
         one_dimensional({{"8", "9", "0"}, {"9", "10", "0"}, {"10", "11", "0"}, {"11", "12", "0"},
                          {"12", "13", "0"}, {"13", "14", "0"}, {"14", "15", "0"}, {"15", "16", "0"}}),
         "16 at [ 15 ]"},
        {"/nans", true, one_dimensional({{"5", nan, nan}, {"7", "3.5", "4.5"}, {"45", nan, nan}}), "1 at [ 7 ]"},
        {"/nans_contiguous", true, one_dimensional({{"5", nan, nan}, {"7", "3.5", "4.5"}, {"45", nan, nan}}),
         "1 at [ 7 ]"},
    };
    for (const storage_case &c : cases) {
        mirlo_settings o = test_support::default_settings(true);
        o.statistics_mode = 1;
        if (c.nan_epsilon)
            o.detect_nans = 0, o.system_epsilon_mode = 1;
        const auto r = run_everywhere(c.path, o);
        if (world_rank() != 0)
            continue;
        EXPECT_EQ(r.error_status, 0) << c.path << "\n" << r.out;
        EXPECT_EQ(r.found, c.rows.size()) << c.path << "\n" << r.out;
        std::vector<row> got = rows_of(r.out), want = c.rows;
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(got, want) << c.path << "\n" << r.out;
        if (!c.largest_abs.empty()) {
            EXPECT_NE(r.out.find("largest absolute difference " + c.largest_abs), std::string::npos)
                << c.path << "\n" << r.out;
        }
    }
}

TEST(StorageLayoutProcesses, CountLimitKeepsTheFirstRowsOfTheFullListing)
{
    for (const char *path : {"/box2", "/box3"}) {
        const auto all = run_everywhere(path, test_support::default_settings(true));
        mirlo_settings o = test_support::default_settings(true);
        o.count_mode = 1;
        o.count_limit = 3;
        const auto limited = run_everywhere(path, o);
        if (world_rank() != 0)
            continue;
        const std::vector<row> every = rows_of(all.out);
        ASSERT_GE(every.size(), 3u) << path;
        EXPECT_EQ(rows_of(limited.out), std::vector<row>(every.begin(), every.begin() + 3)) << path;
        EXPECT_EQ(limited.found, 3u) << path;
    }
}

TEST(StorageLayoutProcesses, DatasetsThatReferencesLeadToAreComparedWhole)
{
    // /refs leads to /types/int and /types/double, six values each, of which
    // the fixture changed elements 2 and 5: four rows, at every process count,
    // however the referenced data is cut into strips.
    const std::string a = test_support::fixture_path("dset_a.h5");
    const std::string b = test_support::fixture_path("dset_b.h5");
    const hsize_t saved_budget = hyperslab_bufsize, saved_limit = whole_read_limit;
    hyperslab_bufsize = 16;
    whole_read_limit = 0;
    const mirlo_settings o = test_support::default_settings(true);
    std::vector<test_support::mpi_run_result> runs;
    for (bool alone : {true, false})
        runs.push_back(test_support::mpi_run(a, b, o, alone, "/refs", "/refs"));
    hyperslab_bufsize = saved_budget;
    whole_read_limit = saved_limit;
    if (world_rank() != 0)
        return;
    for (const test_support::mpi_run_result &r : runs) {
        EXPECT_EQ(r.error_status, 0) << r.out;
        EXPECT_EQ(r.found, 4u) << r.out;
        std::vector<row> got = rows_of(r.out);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, (std::vector<row>{{{2}, "2", "7"}, {{2}, "2", "7"}, {{5}, "5", "9"}, {{5}, "5", "9"}}))
            << r.out;
    }
    EXPECT_EQ(runs[1].out, runs[0].out);
}

} // namespace
