// Difference statistics gathered by the buffer comparison: elements compared,
// largest absolute and relative differences with their positions in the full
// extent, the first differing elements, and the merge of pieces of one
// dataset in piece order; the --statistics line.
#include "mirlo_array.hpp"
#include "mirlo_report.hpp"
#include "mirlo_stats.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using coords = std::vector<uint64_t>;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

template <class T> std::vector<unsigned char> bytes_of(std::initializer_list<T> values)
{
    std::vector<unsigned char> b(values.size() * sizeof(T));
    std::memcpy(b.data(), values.begin(), b.size());
    return b;
}

// A number as the tests write it: integers exactly, others with %.10g.
std::string text(const stat_number &v)
{
    char buf[64];
    switch (v.kind) {
    case stat_number::signed_int: std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v.i)); break;
    case stat_number::unsigned_int: std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v.u)); break;
    case stat_number::floating: std::snprintf(buf, sizeof buf, "%.10g", v.f); break;
    default: return "-";
    }
    return buf;
}

// One buffer comparison of the full extent dims (or of the rows of it from
// block_start, when the buffers are shorter), with statistics gathered.
struct buffer_case {
    hid_t type;
    size_t elem_size;
    std::vector<unsigned char> a, b;
    coords dims;
    coords block_start = {};
    mirlo_settings settings = test_support::default_settings();
    const subset_spec *subset = nullptr; // the selection the buffers hold, or null
};

struct gathered {
    nfound_t found = 0;
    diff_stats stats;
};

gathered gather(buffer_case c)
{
    test_support::comparison run(c.settings);
    pair_context *o = run.ctx();
    o->mem_type_id = c.type;
    o->mem_type_size = c.elem_size;
    o->block_element_count = c.a.size() / c.elem_size;
    o->rank = static_cast<int>(c.dims.size());
    for (size_t i = 0; i < c.dims.size(); ++i) {
        o->dims[i] = c.dims[i];
        o->block_start[i] = i < c.block_start.size() ? c.block_start[i] : 0;
    }
    init_accumulators(o->rank, o->dims, o->accumulators);
    o->subset = c.subset;
    gathered g;
    o->stats = &g.stats;
    g.found = diff_array(c.a.data(), c.b.data(), o, -1, -1);
    return g;
}

std::vector<coords> first_positions(const diff_stats &s)
{
    std::vector<coords> p;
    for (const stat_example &e : s.first)
        p.push_back(e.position);
    return p;
}

mirlo_settings with_delta(double delta)
{
    mirlo_settings o = test_support::default_settings();
    o.delta_mode = 1;
    o.delta = delta;
    return o;
}

mirlo_settings with_count(uint64_t limit)
{
    mirlo_settings o = test_support::default_settings();
    o.count_mode = 1;
    o.count_limit = limit;
    return o;
}

struct numeric_row {
    const char *name;
    buffer_case input;
    nfound_t found;
    uint64_t elements;
    std::string max_abs;
    coords max_abs_at;
    std::string max_rel;
    coords max_rel_at;
    std::vector<coords> first;
};

TEST(StatsGatherTest, NumericBuffersGiveTheirMaximaAndFirstDifferences)
{
    const int64_t lo = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max();
    const numeric_row rows[] = {
        {"ints in two dimensions",
         {H5T_NATIVE_INT, sizeof(int), bytes_of<int>({1, 2, 3, 4, 5, 6}), bytes_of<int>({1, 2, 3, 4, 50, 7}), {2, 3}},
         2, 6, "45", {1, 1}, "9", {1, 1}, {{1, 1}, {1, 2}}},
        {"an int difference beyond the int range stays exact",
         {H5T_NATIVE_INT, sizeof(int), bytes_of<int>({INT_MIN}), bytes_of<int>({INT_MAX}), {1}},
         1, 1, "4294967295", {0}, "2", {0}, {{0}}},
        {"64-bit differences need all 64 bits",
         {H5T_NATIVE_LLONG, sizeof(long long), bytes_of<long long>({lo, 0}), bytes_of<long long>({hi, 0}), {2}},
         1, 2, "18446744073709551615", {0}, "2", {0}, {{0}}},
        {"no relative difference against a zero",
         {H5T_NATIVE_ULLONG, sizeof(unsigned long long), bytes_of<unsigned long long>({0, 3}),
          bytes_of<unsigned long long>({ULLONG_MAX, 3}), {2}},
         1, 2, "18446744073709551615", {0}, "-", {}, {{0}}},
        {"NaN counts but never makes a maximum; an infinity does",
         {H5T_NATIVE_DOUBLE, sizeof(double), bytes_of<double>({1, NaN, 4, 0}), bytes_of<double>({1, 2, -Inf, 1}), {4}},
         3, 4, "inf", {2}, "inf", {2}, {{1}, {2}, {3}}},
        {"only differences under the tolerance count",
         {H5T_NATIVE_DOUBLE, sizeof(double), bytes_of<double>({1, 2, 3}), bytes_of<double>({1.25, 3, 3.75}), {3},
          {}, with_delta(0.5)},
         2, 3, "1", {1}, "0.5", {1}, {{1}, {2}}},
        {"an equal maximum keeps its first position",
         {H5T_NATIVE_FLOAT, sizeof(float), bytes_of<float>({1, 1, 1}), bytes_of<float>({2, 2, 1}), {3}},
         2, 3, "1", {0}, "1", {0}, {{0}, {1}}},
        {"equal buffers are compared and give nothing",
         {H5T_NATIVE_DOUBLE, sizeof(double), bytes_of<double>({1, 2}), bytes_of<double>({1, 2}), {2}},
         0, 2, "-", {}, "-", {}, {}},
        {"positions of a strip are in the full extent",
         {H5T_NATIVE_SHORT, sizeof(short), bytes_of<short>({1, 2, 3, 4, 5, 6}), bytes_of<short>({1, 9, 3, 4, 5, 0}),
          {4, 3}, {2, 0}},
         2, 6, "7", {2, 1}, "3.5", {2, 1}, {{2, 1}, {3, 2}}},
        {"the count limit stops at its last difference",
         {H5T_NATIVE_INT, sizeof(int), bytes_of<int>({1, 1, 1, 1, 1, 1}), bytes_of<int>({1, 2, 1, 3, 4, 5}), {6}, {},
          with_count(2)},
         2, 4, "2", {3}, "2", {3}, {{1}, {3}}},
    };
    for (const numeric_row &row : rows) {
        SCOPED_TRACE(row.name);
        const gathered g = gather(row.input);
        EXPECT_EQ(g.found, row.found);
        EXPECT_EQ(g.stats.elements, row.elements);
        EXPECT_EQ(text(g.stats.max_abs.value), row.max_abs);
        EXPECT_EQ(g.stats.max_abs.position, row.max_abs_at);
        EXPECT_EQ(text(g.stats.max_rel.value), row.max_rel);
        EXPECT_EQ(g.stats.max_rel.position, row.max_rel_at);
        EXPECT_EQ(first_positions(g.stats), row.first);
    }
}

TEST(StatsGatherTest, FirstDifferencesCarryBothValuesUpToTheCap)
{
    std::vector<double> a(25, 1.0), b(25, 1.0);
    for (size_t i = 0; i < a.size(); i += 2)
        b[i] = 1.0 + static_cast<double>(i);
    buffer_case c{H5T_NATIVE_DOUBLE, sizeof(double), {}, {}, {25}};
    c.a.assign(reinterpret_cast<unsigned char *>(a.data()), reinterpret_cast<unsigned char *>(a.data() + 25));
    c.b.assign(reinterpret_cast<unsigned char *>(b.data()), reinterpret_cast<unsigned char *>(b.data() + 25));
    const gathered g = gather(c);
    EXPECT_EQ(g.found, 12u);
    ASSERT_EQ(g.stats.first.size(), MIRLO_FIRST_DIFFERENCES);
    for (size_t k = 0; k < g.stats.first.size(); ++k) {
        EXPECT_EQ(g.stats.first[k].position, coords{2 * (k + 1)});
        EXPECT_EQ(text(g.stats.first[k].value1), "1");
        EXPECT_EQ(text(g.stats.first[k].value2), std::to_string(1 + 2 * (k + 1)));
    }
    EXPECT_EQ(text(g.stats.max_abs.value), "24");
    EXPECT_EQ(g.stats.max_abs.position, coords{24});
}

TEST(StatsGatherTest, SubsetElementsMapToTheirPositionsInTheDataset)
{
    // Elements 1, 4 and 7 of a dataset of 10 (start 1, stride 3, count 3).
    hsize_t start = 1, stride = 3, count = 3, block = 1;
    subset_spec subset{};
    subset.start = {&start, 1};
    subset.stride = {&stride, 1};
    subset.count = {&count, 1};
    subset.block = {&block, 1};
    buffer_case c{H5T_NATIVE_INT, sizeof(int), bytes_of<int>({5, 5, 5}), bytes_of<int>({6, 5, 8}), {10}, {1}};
    c.subset = &subset;
    const gathered g = gather(c);
    EXPECT_EQ(first_positions(g.stats), (std::vector<coords>{{1}, {7}}));
    EXPECT_EQ(g.stats.max_abs.position, coords{7});
}

TEST(StatsGatherTest, ElementsOfOtherTypesAreListedWithoutValues)
{
    h5_datatype str(H5Tcopy(H5T_C_S1));
    ASSERT_GE(H5Tset_size(str, 4), 0);
    buffer_case c{str, 4, {}, {}, {3}};
    const char a[3][4] = {"abc", "xyz", "pqr"}, b[3][4] = {"abc", "xyw", "pq!"};
    c.a.assign(&a[0][0], &a[0][0] + sizeof a);
    c.b.assign(&b[0][0], &b[0][0] + sizeof b);
    const gathered g = gather(c);
    EXPECT_EQ(g.found, 2u);
    EXPECT_EQ(g.stats.elements, 3u);
    EXPECT_EQ(first_positions(g.stats), (std::vector<coords>{{1}, {2}}));
    EXPECT_FALSE(g.stats.first[0].value1.present());
    EXPECT_FALSE(g.stats.max_abs.value.present());
}

TEST(StatsGatherTest, PiecesMergedInOrderGiveTheStatisticsOfTheWhole)
{
    // Six rows of four: the largest difference (3) twice, in rows 1 and 4;
    // twelve differences in all, so the first ones run across pieces.
    std::vector<double> a(24), b(24);
    for (size_t i = 0; i < 24; ++i)
        a[i] = b[i] = static_cast<double>(i + 1);
    for (size_t i : {1, 2, 5, 6, 7, 9, 12, 13, 17, 18, 21, 23})
        b[i] += 1;
    b[5] = a[5] + 3;
    b[17] = a[17] + 3;
    auto slice = [](const std::vector<double> &v, size_t row, size_t rows) {
        std::vector<unsigned char> out(rows * 4 * sizeof(double));
        std::memcpy(out.data(), v.data() + row * 4, out.size());
        return out;
    };
    const gathered whole =
        gather({H5T_NATIVE_DOUBLE, sizeof(double), slice(a, 0, 6), slice(b, 0, 6), {6, 4}});
    diff_stats merged;
    for (size_t row : {0, 2, 4}) {
        const gathered piece =
            gather({H5T_NATIVE_DOUBLE, sizeof(double), slice(a, row, 2), slice(b, row, 2), {6, 4}, {row, 0}});
        stats_merge(&merged, piece.stats);
    }
    EXPECT_EQ(merged.elements, whole.stats.elements);
    EXPECT_EQ(text(merged.max_abs.value), "3");
    EXPECT_EQ(merged.max_abs.position, (coords{1, 1}));
    EXPECT_EQ(merged.max_abs.position, whole.stats.max_abs.position);
    EXPECT_EQ(merged.max_rel.position, whole.stats.max_rel.position);
    EXPECT_EQ(first_positions(merged), first_positions(whole.stats));
    EXPECT_EQ(merged.first.size(), MIRLO_FIRST_DIFFERENCES);
}

TEST(StatsGatherTest, TheLineSaysWhatADifferenceCounts)
{
    // Two strings with three differing characters (a length that differs
    // counts one more), two bytes of one opaque value, one number: the line
    // counts elements, and says what each difference is where it is not an
    // element.
    h5_datatype text(H5Tcopy(H5T_C_S1));
    H5Tset_size(text, 4);
    H5Tset_strpad(text, H5T_STR_NULLTERM);
    h5_datatype opaque(H5Tcreate(H5T_OPAQUE, 2));
    auto chars = [](const char *s) { return std::vector<unsigned char>(s, s + 8); };
    mirlo_settings on = test_support::default_settings();
    on.statistics_mode = true;
    output_sink out(stdout);
    const struct {
        const char *name;
        buffer_case c;
        stat_unit unit;
        std::string line;
    } rows[] = {
        {"strings", {text, 4, chars("abc\0xyz\0"), chars("abd\0xq\0\0"), {2}}, stat_unit::character,
         "statistics: 2 elements compared, 3 differences (one per differing character)\n"},
        {"opaque", {opaque, 2, {1, 2}, {3, 4}, {1}}, stat_unit::byte,
         "statistics: 1 elements compared, 2 differences (one per differing byte)\n"},
        {"numbers", {H5T_NATIVE_INT, sizeof(int), bytes_of<int>({1, 2}), bytes_of<int>({1, 5}), {2}},
         stat_unit::element,
         "statistics: 2 elements compared, 1 differences, largest absolute difference 3 at [ 1 ], "
         "largest relative difference 1.5 at [ 1 ]\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const gathered g = gather(row.c);
        EXPECT_EQ(g.stats.unit, row.unit);
        const auto printed = test_support::capture([&] { print_statistics(on, &out, g.stats, g.found); });
        EXPECT_EQ(printed.out, row.line);
    }
}

TEST(StatsGatherTest, StatisticsLineFollowsOnlyObjectsWithDifferences)
{
    diff_stats s;
    s.elements = 6;
    s.max_abs = {stat_number::of_unsigned(45), {1, 1}};
    s.max_rel = {stat_number::of_double(9), {1, 1}};
    diff_stats scalar;
    scalar.elements = 1;
    scalar.max_abs = {stat_number::of_double(0.5), {}};
    const mirlo_settings off = test_support::default_settings();
    mirlo_settings on = off;
    on.statistics_mode = true;
    mirlo_settings quiet = on;
    quiet.quiet_mode = true;
    output_sink out(stdout);
    const struct {
        const char *name;
        const mirlo_settings *options;
        const diff_stats *stats;
        nfound_t differences;
        std::string line;
    } rows[] = {
        {"two dimensions", &on, &s, 1,
         "statistics: 6 elements compared, 1 differences, largest absolute difference 45 at [ 1 1 ], "
         "largest relative difference 9 at [ 1 1 ]\n"},
        {"a scalar without a relative difference", &on, &scalar, 1,
         "statistics: 1 elements compared, 1 differences, largest absolute difference 0.5\n"},
        {"no differences", &on, &s, 0, ""},
        {"quiet", &quiet, &s, 1, ""},
        {"not asked for", &off, &s, 1, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const auto printed = test_support::capture([&] { print_statistics(*row.options, &out, *row.stats, row.differences); });
        EXPECT_EQ(printed.out, row.line);
    }
}

// Under the exact rule the line ends with the smallest tolerances that
// pass: never rounded below the largest differences, none for NaNs, no
// --rtol where a first value is zero, none under another rule.
TEST(StatsGatherTest, StatisticsLineNamesTheSmallestPassingTolerances)
{
    mirlo_settings on = test_support::default_settings();
    on.statistics_mode = true;
    output_sink out(stdout);
    const mirlo_tolerance exact{};
    const mirlo_tolerance combined{tolerance_kind::combined, 1e-6, 0};
    auto stats = [](stat_number abs, double rel, uint64_t nans, bool zero_first) {
        diff_stats s;
        s.elements = 4;
        s.max_abs = {abs, {}};
        if (rel >= 0)
            s.max_rel = {stat_number::of_double(rel), {}};
        s.nan_differences = nans;
        s.zero_first = zero_first;
        return s;
    };
    const std::string head = "statistics: 4 elements compared, 2 differences, largest absolute difference ";
    const struct {
        const char *name;
        diff_stats s;
        const mirlo_tolerance *tolerance;
        std::string line;
    } rows[] = {
        {"rounded up", stats(stat_number::of_double(1.0 / 3), 0.16666666666666666, 0, false), &exact,
         head + "0.333333, largest relative difference 0.166667; it would pass with --atol 0.334 (the largest "
                "absolute difference) or with --rtol 0.167 (the largest relative difference)\n"},
        {"to nearest when that is not below", stats(stat_number::of_double(0.1), 0.5, 0, false), &exact,
         head + "0.1, largest relative difference 0.5; it would pass with --atol 0.1 (the largest absolute "
                "difference) or with --rtol 0.5 (the largest relative difference)\n"},
        {"integers exactly", stats(stat_number::of_unsigned(UINT64_MAX), -1, 0, true), &exact,
         head + "18446744073709551615; it would pass with --atol 18446744073709551615 (the largest absolute "
                "difference)\n"},
        {"a NaN passes no tolerance", stats(stat_number::of_double(2), 1, 1, false), &exact,
         "statistics: 4 elements compared, 2 differences, 1 with a NaN, largest absolute difference 2, largest "
         "relative difference 1\n"},
        {"another rule saw only its differences", stats(stat_number::of_double(2), 1, 0, false), &combined,
         head + "2, largest relative difference 1\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const auto printed = test_support::capture([&] { print_statistics(on, &out, row.s, 2, row.tolerance); });
        EXPECT_EQ(printed.out, row.line);
    }
}

} // namespace
