// Matching the attributes of two objects by name: the merged table, the
// status line and table by verbose level, and attributes on one side only.
#include "mirlo_attr.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct attr_files {
    h5_file f1, f2;
    attr_files()
    {
        f1 = test_support::open_fixture("attr_1.h5");
        f2 = test_support::open_fixture("attr_2.h5");
    }
};

struct row {
    std::string name;
    uint32_t first, second;
    bool operator==(const row &) const = default;
};

std::vector<row> rows_of(const attr_match_table &t)
{
    std::vector<row> out;
    for (const attr_match &e : t.entries)
        out.push_back({e.name, e.exists[0], e.exists[1]});
    return out;
}

// Runs the matching of path in both files at the given verbose level and
// returns what it printed.
std::string match(const char *path, int level, std::vector<row> *rows, attr_match_table *counts = nullptr)
{
    attr_files files;
    h5_object o1(H5Oopen(files.f1, path, H5P_DEFAULT));
    h5_object o2(H5Oopen(files.f2, path, H5P_DEFAULT));
    EXPECT_TRUE(o1.valid() && o2.valid()) << path;
    test_support::comparison opts;
    opts.settings.verbose_mode = 1;
    opts.settings.verbose_level = level;
    attr_match_table table;
    const auto run = test_support::capture([&] { return build_match_list_attrs(o1, o2, &table, opts.ctx()); });
    EXPECT_EQ(run.result, 0);
    if (rows)
        *rows = rows_of(table);
    if (counts)
        *counts = table;
    return run.out;
}

} // namespace

TEST(AttrMatch, ObjectsWithoutAttributesGiveAnEmptyTable)
{
    std::vector<row> rows;
    EXPECT_EQ(match("/none", 0, &rows), "");
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(match("/none", 1, &rows), "Attributes status:  0 common, 0 only in obj1, 0 only in obj2\n");
}

TEST(AttrMatch, MergesNamesAndCountsOneSidedAttributes)
{
    std::vector<row> rows;
    attr_match_table counts{};
    match("/abc", 0, &rows, &counts);
    std::vector<row> expected = {{"a", 1, 0}, {"b", 1, 1}, {"c", 1, 1}, {"d", 0, 1}};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(counts.only_in_first, 1u);
    EXPECT_EQ(counts.only_in_second, 1u);
}

TEST(AttrMatch, VerboseLevelsDecideStatusLineAndTable)
{
    EXPECT_EQ(match("/abc", 0, nullptr), "");
    const std::string status = "Attributes status:  2 common, 1 only in obj1, 1 only in obj2\n";
    EXPECT_EQ(match("/abc", 1, nullptr), status);
    EXPECT_EQ(match("/abc", 2, nullptr), "   obj1   obj2\n"
                                         " --------------------------------------\n"
                                         "    x           a              \n"
                                         "    x      x    b              \n"
                                         "    x      x    c              \n"
                                         "           x    d              \n" +
                                             status);
    EXPECT_EQ(match("/abc", 3, nullptr), status);
}

TEST(AttrMatch, NamesDifferingInCaseAreDifferentAttributes)
{
    std::vector<row> rows;
    EXPECT_EQ(match("/cased", 1, &rows), "Attributes status:  0 common, 1 only in obj1, 1 only in obj2\n");
    std::vector<row> expected = {{"Temp", 1, 0}, {"temp", 0, 1}};
    EXPECT_EQ(rows, expected);
}

TEST(AttrMatch, NamesLongerThanTheNameBufferAreKeptWhole)
{
    std::vector<row> rows;
    match("/dset", 0, &rows);
    const std::string n300(300, 'n');
    std::vector<row> expected = {{n300, 1, 1}, {n300 + "_one", 1, 0}, {n300 + "_two", 0, 1}, {"units", 1, 1}};
    EXPECT_EQ(rows, expected);
}

TEST(AttrMatch, OneSidedAttributesMakeTheMemberListsDiffer)
{
    attr_files files;
    h5_object a1(H5Oopen(files.f1, "/abc", H5P_DEFAULT));
    h5_object a2(H5Oopen(files.f2, "/abc", H5P_DEFAULT));
    test_support::comparison opts;
    EXPECT_EQ(diff_attr(a1, a2, "/abc", "/abc", opts.ctx()), 0u);
    EXPECT_TRUE(opts.outcome.members_differ);
    EXPECT_EQ(opts.outcome.status, 0);

    // The same object on both sides: the lists are the same.
    h5_object n1(H5Oopen(files.f1, "/grp", H5P_DEFAULT));
    h5_object n2(H5Oopen(files.f1, "/grp", H5P_DEFAULT));
    test_support::comparison same;
    EXPECT_EQ(diff_attr(n1, n2, "/grp", "/grp", same.ctx()), 0u);
    EXPECT_FALSE(same.outcome.members_differ);
}

TEST(AttrMatch, FailedMatchingIsAnErrorWithNoDifferences)
{
    attr_files files;
    h5_object o1(H5Oopen(files.f1, "/abc", H5P_DEFAULT));
    test_support::comparison opts;
    h5_errors_off quiet;
    EXPECT_EQ(diff_attr(o1, -1, "/abc", "/abc", opts.ctx()), 0u);
    EXPECT_EQ(opts.outcome.status, 2);
    attr_match_table table;
    table.entries.push_back({"stale", {1, 1}}); // replaced on entry
    EXPECT_EQ(build_match_list_attrs(-1, o1, &table, opts.ctx()), -1);
    EXPECT_TRUE(table.entries.empty());
}
