// The settings byte string that carries the exclusion list and the subset
// records to the workers, and the worker's output chunks.
#include "mirlo_parallel.hpp"
#include "mirlo_util.hpp"
#include "zarn.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(Settings, RoundTripKeepsEntriesKindsAndSubsets)
{
    diff_options o = test_support::default_options();
    o.exclude_attr_mode = 1;
    exclude_list_append(&o.exclude_attrs, "/g");
    exclude_list_append(&o.exclude_attrs, "/d");
    exclude_list_append(&o.exclude_attrs, "");
    o.exclude_attrs->obj_type = TREK_GROUP;
    char obj1[] = "/d[1,2;3;4,5;6]";
    char obj2[] = "/e[;;7]";
    o.subsets[0] = parse_subset_spec(obj1);
    o.subsets[1] = parse_subset_spec(obj2);
    int saved_level = enable_error_stack;
    enable_error_stack = 2;
    std::vector<unsigned char> bytes = mirlo_pack_settings(&o);
    enable_error_stack = saved_level;

    mirlo_worker_settings s;
    ASSERT_EQ(mirlo_unpack_settings(bytes.data(), bytes.size(), &s), 0);
    EXPECT_EQ(s.error_stack_level, 2);
    ASSERT_EQ(s.attrs.size(), 3u);
    EXPECT_STREQ(s.attrs[0].path, "/g");
    EXPECT_EQ(s.attrs[0].obj_type, TREK_GROUP);
    EXPECT_STREQ(s.attrs[1].path, "/d");
    EXPECT_EQ(s.attrs[1].obj_type, -1);
    EXPECT_STREQ(s.attrs[2].path, "");
    EXPECT_EQ(s.attrs[2].next, nullptr);
    ASSERT_NE(s.subsets[0], nullptr);
    ASSERT_EQ(s.subsets[0]->start.count, 2u);
    EXPECT_EQ(s.subsets[0]->start.values[1], 2u);
    ASSERT_EQ(s.subsets[0]->block.count, 1u);
    EXPECT_EQ(s.subsets[0]->block.values[0], 6u);
    ASSERT_NE(s.subsets[1], nullptr);
    EXPECT_EQ(s.subsets[1]->start.count, 0u);
    ASSERT_EQ(s.subsets[1]->count.count, 1u);
    EXPECT_EQ(s.subsets[1]->count.values[0], 7u);

    // The received record's pointers are replaced by the worker's own.
    diff_options received = o;
    received.exclude_paths = reinterpret_cast<exclude_node *>(0x10);
    mirlo_apply_settings(&s, &received);
    EXPECT_EQ(received.exclude_paths, nullptr);
    EXPECT_EQ(received.exclude_attrs, s.attrs.data());
    EXPECT_EQ(received.subsets[0], s.subsets[0]);
    EXPECT_EQ(is_exclude_attr("/g/x", TREK_DATASET, &received), 1);

    mirlo_worker_settings_clear(&s);
    exclude_list_free(&o.exclude_attrs);
    subset_spec_free(o.subsets[0]);
    subset_spec_free(o.subsets[1]);
}

TEST(Settings, WithoutAttributeModeNoListTravels)
{
    diff_options o = test_support::default_options();
    exclude_list_append(&o.exclude_attrs, "/g");
    std::vector<unsigned char> bytes = mirlo_pack_settings(&o);
    mirlo_worker_settings s;
    ASSERT_EQ(mirlo_unpack_settings(bytes.data(), bytes.size(), &s), 0);
    EXPECT_TRUE(s.attrs.empty());
    EXPECT_EQ(s.subsets[0], nullptr);
    exclude_list_free(&o.exclude_attrs);
}

TEST(Settings, MalformedBytesAreRefused)
{
    diff_options o = test_support::default_options();
    o.exclude_attr_mode = 1;
    exclude_list_append(&o.exclude_attrs, "/group/path");
    char obj1[] = "/d[1,2]";
    o.subsets[0] = parse_subset_spec(obj1);
    std::vector<unsigned char> bytes = mirlo_pack_settings(&o);
    mirlo_worker_settings s;
    // Every cut short string, and one byte too many.
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_EQ(mirlo_unpack_settings(bytes.data(), n, &s), -1) << n;
    bytes.push_back(0);
    EXPECT_EQ(mirlo_unpack_settings(bytes.data(), bytes.size(), &s), -1);
    EXPECT_TRUE(s.attrs.empty());
    EXPECT_EQ(s.subsets[0], nullptr);
    exclude_list_free(&o.exclude_attrs);
    subset_spec_free(o.subsets[0]);
}

} // namespace
