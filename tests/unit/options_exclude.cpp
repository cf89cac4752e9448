// Exclusion lists and the exit status of a comparison.
#include "mirlo_main.hpp"
#include "mirlo_util.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct exclusion_test : ::testing::Test {
    diff_options options = diff_options_defaults();
    void TearDown() override
    {
        exclude_list_free(&options.exclude_paths);
        exclude_list_free(&options.exclude_attrs);
    }
};

TEST_F(exclusion_test, AppendKeepsOrderAndFreeClears)
{
    exclude_list_append(&options.exclude_attrs, "/a");
    exclude_list_append(&options.exclude_attrs, "/b");
    exclude_list_append(&options.exclude_attrs, "/c");
    EXPECT_EQ(exclude_list_length(options.exclude_attrs), 3);
    EXPECT_STREQ(options.exclude_attrs->next->next->path, "/c");
    exclude_list_free(&options.exclude_attrs);
    EXPECT_EQ(options.exclude_attrs, nullptr);
    exclude_list_free(&options.exclude_attrs); // a second release is harmless
}

TEST_F(exclusion_test, AttributeModeOffExcludesNothing)
{
    exclude_list_append(&options.exclude_attrs, "/d");
    EXPECT_EQ(is_exclude_attr("/d", TREK_DATASET, &options), 0);
    EXPECT_EQ(options.exclude_attrs->obj_type, -1);
}

TEST_F(exclusion_test, ExactPathRecordsItsKind)
{
    options.exclude_attr_mode = 1;
    exclude_list_append(&options.exclude_attrs, "/d");
    EXPECT_EQ(is_exclude_attr("/dd", TREK_DATASET, &options), 0);
    EXPECT_EQ(is_exclude_attr("/d/x", TREK_DATASET, &options), 0);
    EXPECT_EQ(is_exclude_attr("/d", TREK_DATASET, &options), 1);
    EXPECT_EQ(options.exclude_attrs->obj_type, TREK_DATASET);
    // Matched to a dataset, the entry still excludes only its own path.
    EXPECT_EQ(is_exclude_attr("/d/x", TREK_DATASET, &options), 0);
}

TEST_F(exclusion_test, GroupExcludesItsMembersOnceMatched)
{
    options.exclude_attr_mode = 1;
    exclude_list_append(&options.exclude_attrs, "/other");
    exclude_list_append(&options.exclude_attrs, "/g");
    EXPECT_EQ(is_exclude_attr("/g/a", TREK_DATASET, &options), 0); // not matched yet
    EXPECT_EQ(is_exclude_attr("/g", TREK_GROUP, &options), 1);
    EXPECT_EQ(options.exclude_attrs->next->obj_type, TREK_GROUP);
    EXPECT_EQ(is_exclude_attr("/g/a", TREK_DATASET, &options), 1);
    EXPECT_EQ(is_exclude_attr("/g/sub/b", TREK_DATASET, &options), 1);
    EXPECT_EQ(is_exclude_attr("/gx", TREK_DATASET, &options), 0);
    EXPECT_EQ(is_exclude_attr("/g", TREK_GROUP, &options), 0); // the group itself, matched before
}

TEST_F(exclusion_test, PathListFollowsTheSameRule)
{
    options.exclude_path_mode = 1;
    exclude_list_append(&options.exclude_paths, "/g");
    exclude_list_append(&options.exclude_paths, "/d");
    EXPECT_EQ(is_exclude_path("/a", TREK_DATASET, &options), 0);
    EXPECT_EQ(is_exclude_path("/d", TREK_DATASET, &options), 1);
    EXPECT_EQ(is_exclude_path("/g", TREK_GROUP, &options), 1);
    EXPECT_EQ(is_exclude_path("/g/x", TREK_DATASET, &options), 1);
    EXPECT_EQ(is_exclude_path("/g2", TREK_DATASET, &options), 0);
    options.exclude_path_mode = 0;
    EXPECT_EQ(is_exclude_path("/d", TREK_DATASET, &options), 0);
}

TEST(ComparisonStatus, ErrorsThenDifferencesThenEqual)
{
    diff_options o = diff_options_defaults();
    o.contents_equal = 1;
    EXPECT_EQ(comparison_status(0, &o), 0);
    EXPECT_EQ(comparison_status(5, &o), 1);
    o.not_comparable = 1;
    EXPECT_EQ(comparison_status(0, &o), 1);
    o.not_comparable = 0;
    o.contents_equal = 0;
    EXPECT_EQ(comparison_status(0, &o), 1);
    o.contents_equal = 1;
    o.error_status = 1; // a dataset whose filters are unavailable
    EXPECT_EQ(comparison_status(0, &o), 1);
    o.error_status = 2;
    EXPECT_EQ(comparison_status(7, &o), 2);
    o.error_status = 3;
    EXPECT_EQ(comparison_status(0, &o), 2);
}

TEST(Summary, NotComparableBlock)
{
    diff_options o = diff_options_defaults();
    o.not_comparable = 1;
    EXPECT_EQ(test_support::capture([&] { print_summary(&o); }).out, "--------------------------------\n"
                                                                  "Some objects are not comparable\n"
                                                                  "--------------------------------\n"
                                                                  "Use -c for a list of objects.\n");
    o.verbose_mode = 1;
    EXPECT_NE(test_support::capture([&] { print_summary(&o); }).out.find(
                  "Use -c for a list of objects without details of differences.\n"),
              std::string::npos);
    for (int which = 0; which < 3; ++which) {
        diff_options q = diff_options_defaults();
        q.not_comparable = 1;
        if (which == 0)
            q.quiet_mode = 1;
        else if (which == 1)
            q.error_status = 2;
        else
            q.list_not_comparable = 1;
        EXPECT_EQ(test_support::capture([&] { print_summary(&q); }).out, "") << which;
    }
}

} // namespace
