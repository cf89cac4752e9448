// Exclusion lists, the outcomes of comparisons summed into the run, the exit
// status of a run and its summary lines.
#include "mirlo_exclude.hpp"
#include "mirlo_main.hpp"
#include "mirlo_outcome.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Exclusions, ExactPathsAndWhatLiesBelowAGroup)
{
    const std::vector<std::string> entries = {"/d", "/g", "/other"};
    const exclusion_list none = resolve_exclusions(entries, [](const std::string &) { return false; });
    const exclusion_list groups =
        resolve_exclusions(entries, [](const std::string &p) { return p == "/g" || p == "/other"; });
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].path, "/d");
    EXPECT_FALSE(groups[0].group);
    EXPECT_TRUE(groups[1].group);
    const struct {
        const char *path;
        bool unresolved;
        bool resolved;
    } cases[] = {
        {"/d", true, true},       {"/g", true, true},        {"/g/x", false, true},
        {"/g/sub/y", false, true}, {"/gx", false, false},    {"/g2", false, false},
        {"/d/x", false, false},   {"/dd", false, false},     {"/a", false, false},
        {"", false, false},       {"/other/z", false, true},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(is_excluded(none, c.path), c.unresolved) << c.path;
        EXPECT_EQ(is_excluded(groups, c.path), c.resolved) << c.path;
    }
    EXPECT_FALSE(is_excluded({}, "/d"));
}

TEST(Exclusions, AnEmptyGroupPathExcludesEveryAbsolutePath)
{
    // Comparing two groups, the group itself is the relative name "".
    const exclusion_list root = resolve_exclusions({""}, [](const std::string &) { return true; });
    EXPECT_TRUE(is_excluded(root, ""));
    EXPECT_TRUE(is_excluded(root, "/a"));
    EXPECT_FALSE(is_excluded(root, "a"));
}

pair_outcome outcome_of(nfound_t differences, bool not_comparable, bool members_differ, int status)
{
    pair_outcome o;
    o.differences = differences;
    o.not_comparable = not_comparable;
    o.members_differ = members_differ;
    o.status = status;
    return o;
}

TEST(RunOutcome, OutcomesAddUpAndDecideTheExitStatus)
{
    struct sum_case {
        const char *name;
        std::vector<pair_outcome> outcomes;
        nfound_t differences;
        bool not_comparable;
        bool contents_equal;
        int status;
        int exit_status;
    };
    const sum_case cases[] = {
        {"nothing compared", {}, 0, false, true, 0, 0},
        {"equal pairs", {outcome_of(0, false, false, 0), outcome_of(0, false, false, 0)}, 0, false, true, 0, 0},
        {"differences add", {outcome_of(3, false, false, 0), outcome_of(4, false, false, 0)}, 7, false, true, 0, 1},
        {"one pair not comparable", {outcome_of(0, false, false, 0), outcome_of(0, true, false, 0)}, 0, true, true,
         0, 1},
        {"member lists differ", {outcome_of(0, false, true, 0), outcome_of(0, false, false, 0)}, 0, false, false, 0,
         1},
        {"a filter is missing", {outcome_of(0, true, false, MIRLO_STATUS_UNREADABLE)}, 0, true, true, 1, 1},
        {"unreadable alone still differs", {outcome_of(0, false, false, MIRLO_STATUS_UNREADABLE)}, 0, false, true,
         1, 1},
        {"a failure wins over differences", {outcome_of(5, true, true, 0), outcome_of(2, false, false, 2)}, 7, true,
         false, 2, 2},
        {"both bits", {outcome_of(0, false, false, 1), outcome_of(0, false, false, 2)}, 0, false, true, 3, 2},
    };
    for (const sum_case &c : cases) {
        run_outcome run;
        for (const pair_outcome &o : c.outcomes)
            run_outcome_add(&run, o);
        EXPECT_EQ(run.differences, c.differences) << c.name;
        EXPECT_EQ(run.not_comparable, c.not_comparable) << c.name;
        EXPECT_EQ(run.contents_equal, c.contents_equal) << c.name;
        EXPECT_EQ(run.status, c.status) << c.name;
        EXPECT_EQ(run_exit_status(run), c.exit_status) << c.name;
    }
}

TEST(RunOutcome, StepsOfAComparisonAddIntoItsOutcome)
{
    pair_outcome pair = outcome_of(1, false, false, 0);
    pair_outcome data = outcome_of(4, true, false, 0);
    data.split_strips = 6;
    pair_outcome attributes = outcome_of(2, false, true, 0);
    attributes.attributes_unlisted = true;
    pair.add(data);
    pair.add(attributes);
    EXPECT_EQ(pair.differences, 7u);
    EXPECT_TRUE(pair.not_comparable);
    EXPECT_TRUE(pair.members_differ);
    EXPECT_FALSE(pair.failed());
    EXPECT_EQ(pair.split_strips, 6u);
    EXPECT_TRUE(pair.attributes_unlisted);
    pair.fail();
    EXPECT_TRUE(pair.failed());
    EXPECT_EQ(pair.status, MIRLO_STATUS_ERROR);
}

TEST(Summary, NotComparableBlock)
{
    mirlo_settings settings;
    run_outcome run;
    run.not_comparable = true;
    EXPECT_EQ(test_support::capture([&] { print_summary(settings, run); }).out, "--------------------------------\n"
                                                                               "Some objects are not comparable\n"
                                                                               "--------------------------------\n"
                                                                               "Use -c for a list of objects.\n");
    settings.verbose_mode = true;
    EXPECT_NE(test_support::capture([&] { print_summary(settings, run); })
                  .out.find("Use -c for a list of objects without details of differences.\n"),
              std::string::npos);
    for (int which = 0; which < 3; ++which) {
        mirlo_settings quiet;
        run_outcome failed;
        failed.not_comparable = true;
        if (which == 0)
            quiet.quiet_mode = true;
        else if (which == 1)
            failed.status = 2;
        else
            quiet.list_not_comparable = true;
        EXPECT_EQ(test_support::capture([&] { print_summary(quiet, failed); }).out, "") << which;
    }
}

} // namespace
