// Attributes left out by --exclude-attribute: the object comparison skips
// the attribute comparison of an excluded object and of everything inside an
// excluded group, while the data are still compared.
#include "mirlo_diff.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

diff_options fresh_options()
{
    diff_options o = test_support::default_options();
    o.quiet_mode = 1;
    return o;
}

nfound_t compare(const char *path, trek_type type, diff_options &opts)
{
    h5_file f1 = test_support::open_fixture("attr_1.h5");
    h5_file f2 = test_support::open_fixture("attr_2.h5");
    EXPECT_TRUE(f1.valid() && f2.valid());
    object_pair_info pair{type, type, 0};
    return diff(f1, path, f2, path, &opts, &pair);
}

} // namespace

TEST(AttrExclude, ExcludedDatasetKeepsItsDataComparison)
{
    diff_options all = fresh_options();
    // units differs; the long-named attributes are on one side only.
    EXPECT_EQ(compare("/dset", TREK_DATASET, all), 1u);
    EXPECT_EQ(all.contents_equal, 0);

    char path[] = "/dset";
    exclude_node node{path, TREK_UNKNOWN, nullptr};
    diff_options opts = fresh_options();
    opts.exclude_attr_mode = 1;
    opts.exclude_attrs = &node;
    EXPECT_EQ(compare("/dset", TREK_DATASET, opts), 0u);
    EXPECT_EQ(opts.contents_equal, 1);
    EXPECT_EQ(opts.error_status, 0);
    EXPECT_EQ(node.obj_type, TREK_DATASET);
    // Other objects still have their attributes compared.
    EXPECT_EQ(compare("/scalar", TREK_GROUP, opts), 1u);
}

TEST(AttrExclude, ExcludedGroupCoversItsMembers)
{
    diff_options all = fresh_options();
    EXPECT_EQ(compare("/grp", TREK_GROUP, all), 1u);
    EXPECT_EQ(compare("/grp/inner", TREK_DATASET, all), 1u);

    char path[] = "/grp";
    exclude_node node{path, TREK_UNKNOWN, nullptr};
    diff_options opts = fresh_options();
    opts.exclude_attr_mode = 1;
    opts.exclude_attrs = &node;
    EXPECT_EQ(compare("/grp", TREK_GROUP, opts), 0u);
    EXPECT_EQ(node.obj_type, TREK_GROUP);
    EXPECT_EQ(compare("/grp/inner", TREK_DATASET, opts), 0u);
    EXPECT_EQ(opts.error_status, 0);
}
