// The lists built on the walk: a file's path list, the match table and the
// list of followed symbolic links.
#include "test_support.hpp"
#include "trek.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using test_support::open_fixture;

const trek_path *entry(const trek_info *info, const char *path)
{
    for (const trek_path &p : info->paths)
        if (p.path == path)
            return &p;
    return nullptr;
}

// Follows soft and external links the way a listing with link following
// does: each target is walked once under the link's own path.
int follow_link(const char *path, const H5L_info_t *linfo, void *udata)
{
    auto *info = static_cast<trek_info *>(udata);
    std::vector<char> value(linfo->u.val_size);
    if (H5Lget_val(info->file_id, path, value.data(), value.size(), H5P_DEFAULT) < 0)
        return -1;
    const char *file = nullptr;
    const char *target = value.data();
    if (linfo->type == H5L_TYPE_EXTERNAL) {
        unsigned flags = 0;
        if (H5Lunpack_elink_val(value.data(), value.size(), &flags, &file, &target) < 0)
            return -1;
    }
    if (symlink_was_visited(&info->symlinks_visited, linfo->type, file, target))
        return trek_info_append(info, path, linfo->type == H5L_TYPE_SOFT ? TREK_LINK : TREK_UDLINK);
    if (symlink_visit_add(&info->symlinks_visited, linfo->type, file, target) < 0)
        return -1;
    return trek_visit(info->file_id, path, true, true, trek_info_on_object, follow_link, info, H5O_INFO_BASIC);
}

} // namespace

TEST(TrekInfo, AppendedEntriesKeepTheirOrderAndCarryNoAddress)
{
    trek_info_ptr info = trek_info_create("some.h5", 42);
    ASSERT_NE(info, nullptr);
    for (int i = 0; i < 5; ++i) {
        std::string p = "/p" + std::to_string(i);
        ASSERT_EQ(trek_info_append(info.get(), p.c_str(), TREK_LINK), 0);
    }
    ASSERT_EQ(info->paths.size(), 5u);
    EXPECT_EQ(info->paths[4].path, "/p4");
    EXPECT_EQ(info->paths[4].address, HADDR_UNDEF);
    EXPECT_EQ(info->paths[4].file_number, 0u);
    EXPECT_EQ(trek_info_append(nullptr, "/x", TREK_LINK), -1);
    EXPECT_EQ(trek_info_append(info.get(), nullptr, TREK_LINK), -1);
}

TEST(TrekInfo, ListingKeepsEveryPathWithKindAndAddress)
{
    h5_file f = open_fixture("trek_graph.h5");
    ASSERT_TRUE(f.valid());
    trek_info_ptr owner = trek_info_create("trek_graph.h5", f);
    trek_info *info = owner.get();
    ASSERT_EQ(trek_visit(f, "/", true, true, trek_info_on_object, trek_info_on_link, info, H5O_INFO_BASIC), 0);
    ASSERT_EQ(info->paths.size(), 15u);
    EXPECT_EQ(info->paths[0].path, "/");
    EXPECT_EQ(info->paths[0].type, TREK_GROUP);

    // Both paths of the doubly linked group are listed, with one address.
    const trek_path *a = entry(info, "/a");
    const trek_path *c = entry(info, "/b/c");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(a->type, TREK_GROUP);
    EXPECT_EQ(a->address, c->address);
    EXPECT_EQ(a->file_number, c->file_number);
    EXPECT_NE(a->file_number, 0u);
    EXPECT_NE(entry(info, "/a/d")->address, a->address);
    EXPECT_EQ(entry(info, "/a/d")->type, TREK_DATASET);

    EXPECT_EQ(entry(info, "/s1")->type, TREK_LINK);
    EXPECT_EQ(entry(info, "/ext1")->type, TREK_UDLINK);
    EXPECT_EQ(entry(info, "/ext1")->address, HADDR_UNDEF);
    EXPECT_EQ(entry(info, "/ext1")->file_number, 0u);
}

TEST(TrekInfo, FollowedLinksAreWalkedOncePerTarget)
{
    h5_file f = open_fixture("trek_graph.h5");
    trek_info_ptr owner = trek_info_create("trek_graph.h5", f);
    trek_info *info = owner.get();
    ASSERT_EQ(trek_visit(f, "/", true, true, trek_info_on_object, follow_link, info, H5O_INFO_BASIC), 0);
    // Both external links are followed (same path, different files); of the
    // two soft links to /a/d only the first is.
    ASSERT_NE(entry(info, "/ext1/v"), nullptr);
    ASSERT_NE(entry(info, "/ext2/v"), nullptr);
    EXPECT_EQ(entry(info, "/ext1")->type, TREK_GROUP);
    EXPECT_EQ(entry(info, "/s1")->type, TREK_DATASET);
    EXPECT_EQ(entry(info, "/s1")->address, entry(info, "/a/d")->address);
    EXPECT_EQ(entry(info, "/s2")->type, TREK_LINK);
    EXPECT_EQ(info->symlinks_visited.entries.size(), 4u); // ext1, ext2, s1, s3
    // The soft link back to /g is walked under its own path.
    EXPECT_NE(entry(info, "/s3/y/z"), nullptr);
}

TEST(TrekSymlinks, ExternalLinksDifferByFileSoftLinksOnlyByPath)
{
    trek_symlink_list list;
    ASSERT_EQ(symlink_visit_add(&list, H5L_TYPE_EXTERNAL, "a.h5", "/data"), 0);
    EXPECT_TRUE(symlink_was_visited(&list, H5L_TYPE_EXTERNAL, "a.h5", "/data"));
    EXPECT_FALSE(symlink_was_visited(&list, H5L_TYPE_EXTERNAL, "b.h5", "/data"));
    EXPECT_FALSE(symlink_was_visited(&list, H5L_TYPE_SOFT, nullptr, "/data"));
    ASSERT_EQ(symlink_visit_add(&list, H5L_TYPE_EXTERNAL, "b.h5", "/data"), 0);
    EXPECT_TRUE(symlink_was_visited(&list, H5L_TYPE_EXTERNAL, "b.h5", "/data"));

    // The file of a soft link is neither kept nor compared.
    ASSERT_EQ(symlink_visit_add(&list, H5L_TYPE_SOFT, "ignored.h5", "/t"), 0);
    EXPECT_FALSE(list.entries[2].file.has_value());
    EXPECT_TRUE(symlink_was_visited(&list, H5L_TYPE_SOFT, nullptr, "/t"));
    EXPECT_TRUE(symlink_was_visited(&list, H5L_TYPE_SOFT, "other.h5", "/t"));
    EXPECT_FALSE(symlink_was_visited(&list, H5L_TYPE_SOFT, nullptr, "/T"));
    EXPECT_EQ(list.entries.size(), 3u);

    // An external link without a file name does not match one with a name.
    ASSERT_EQ(symlink_visit_add(&list, H5L_TYPE_EXTERNAL, nullptr, "/n"), 0);
    EXPECT_TRUE(symlink_was_visited(&list, H5L_TYPE_EXTERNAL, nullptr, "/n"));
    EXPECT_FALSE(symlink_was_visited(&list, H5L_TYPE_EXTERNAL, "a.h5", "/n"));

    // A link without a target path is refused and leaves the list as it was.
    EXPECT_EQ(symlink_visit_add(&list, H5L_TYPE_SOFT, nullptr, nullptr), -1);
    EXPECT_EQ(list.entries.size(), 4u);
}

TEST(TrekTable, AppendCopiesNameAndFlags)
{
    trek_table_ptr table = trek_table_create();
    ASSERT_NE(table, nullptr);
    char name[] = "/grp/dset";
    const uint32_t second[2] = {0, 1};
    ASSERT_EQ(trek_table_append_flags(second, name, TREK_DATASET, table.get()), 0);
    name[1] = 'X';
    ASSERT_EQ(table->objects.size(), 1u);
    const trek_object &o = table->objects[0];
    EXPECT_EQ(o.name, "/grp/dset");
    EXPECT_EQ(o.address, 0u);
    EXPECT_EQ(o.flags[0], 0u);
    EXPECT_EQ(o.flags[1], 1u);
    EXPECT_FALSE(o.is_same_target);
    EXPECT_EQ(o.type, TREK_DATASET);
    EXPECT_TRUE(o.aliases.empty());
}
