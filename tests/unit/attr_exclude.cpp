// Attributes left out by --exclude-attribute: the object comparison skips
// the attribute comparison of an excluded object and of everything inside an
// excluded group, while the data are still compared.
#include "mirlo.hpp"
#include "mirlo_diff.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

// diff of path in both attribute fixtures, quiet, with the pair's
// attributes excluded or not.
nfound_t compare(const char *path, trek_type type, test_support::comparison &run, bool excluded)
{
    h5_file f1 = test_support::open_fixture("attr_1.h5");
    h5_file f2 = test_support::open_fixture("attr_2.h5");
    EXPECT_TRUE(f1.valid() && f2.valid());
    object_pair_info pair{type, type, 0};
    run.settings.quiet_mode = true;
    return diff(f1, path, f2, path, run.ctx(excluded), &pair);
}

// The attributes_excluded flag of each pair, as matching resolves the
// entries against the pairs (path, kind, same object on both sides).
std::vector<bool> resolved(const std::vector<std::string> &entries,
                           const std::vector<std::tuple<const char *, int, bool>> &listed)
{
    std::vector<matched_pair> pairs;
    for (const auto &[path, kind, same] : listed) {
        matched_pair p;
        p.name1 = p.name2 = path;
        p.info = {kind, kind, static_cast<uint8_t>(same ? 1 : 0)};
        pairs.push_back(p);
    }
    resolve_attribute_exclusions(entries, &pairs);
    std::vector<bool> flags;
    for (const matched_pair &p : pairs)
        flags.push_back(p.attributes_excluded);
    return flags;
}

} // namespace

TEST(AttrExclude, ExcludedDatasetKeepsItsDataComparison)
{
    test_support::comparison all;
    // units differs; the long-named attributes are on one side only.
    EXPECT_EQ(compare("/dset", TREK_DATASET, all, false), 1u);
    EXPECT_TRUE(all.outcome.members_differ);

    test_support::comparison excluded;
    EXPECT_EQ(compare("/dset", TREK_DATASET, excluded, true), 0u);
    EXPECT_FALSE(excluded.outcome.members_differ);
    EXPECT_EQ(excluded.outcome.status, 0);
    // Other objects still have their attributes compared.
    EXPECT_EQ(compare("/scalar", TREK_GROUP, excluded, false), 1u);
}

TEST(AttrExclude, ExcludedGroupCoversItsMembers)
{
    test_support::comparison all;
    EXPECT_EQ(compare("/grp", TREK_GROUP, all, false), 1u);
    EXPECT_EQ(compare("/grp/inner", TREK_DATASET, all, false), 1u);

    const std::vector<bool> flags =
        resolved({"/grp"}, {{"/grp", TREK_GROUP, false}, {"/grp/inner", TREK_DATASET, false}});
    ASSERT_EQ(flags, (std::vector<bool>{true, true}));
    test_support::comparison excluded;
    EXPECT_EQ(compare("/grp", TREK_GROUP, excluded, flags[0]), 0u);
    EXPECT_EQ(compare("/grp/inner", TREK_DATASET, excluded, flags[1]), 0u);
    EXPECT_EQ(excluded.outcome.status, 0);
}

TEST(AttrExclude, EntriesResolveAgainstThePairsCompared)
{
    struct resolve_case {
        const char *name;
        std::vector<std::string> entries;
        std::vector<std::tuple<const char *, int, bool>> pairs;
        std::vector<bool> expected;
    };
    const resolve_case cases[] = {
        {"a dataset excludes itself only",
         {"/d"},
         {{"/d", TREK_DATASET, false}, {"/d/x", TREK_DATASET, false}, {"/dd", TREK_DATASET, false}},
         {true, false, false}},
        {"a group excludes what lies below it, not its neighbours",
         {"/other", "/g"},
         {{"/g", TREK_GROUP, false}, {"/g/a", TREK_DATASET, false}, {"/g/sub/b", TREK_DATASET, false},
          {"/gx", TREK_DATASET, false}},
         {true, true, true, false}},
        {"a path of no pair excludes nothing below it",
         {"/g"},
         {{"/g/a", TREK_DATASET, false}},
         {false}},
        {"a group on one side and a dataset on the other is no group",
         {"/g"},
         {{"/g", TREK_DATASET, false}, {"/g/a", TREK_DATASET, false}},
         {true, false}},
        {"a group that is the same object on both sides is not compared as one",
         {"/g"},
         {{"/g", TREK_GROUP, true}, {"/g/a", TREK_DATASET, true}},
         {true, false}},
        {"no entries exclude nothing",
         {},
         {{"/g", TREK_GROUP, false}},
         {false}},
    };
    for (const resolve_case &c : cases)
        EXPECT_EQ(resolved(c.entries, c.pairs), c.expected) << c.name;
}
