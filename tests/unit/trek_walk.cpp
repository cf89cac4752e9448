// Walks over the trek fixture files: visiting order, full paths, hard-link
// aliases, start objects, non-recursive walks and aborted walks; reading the
// object headers ahead.
#include "trek.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct visit {
    std::string path;
    std::string kind; // "obj" or "link"
    std::string previous; // path of the first visit, "" when none
    int type;             // H5O_type_t for objects, H5L_type_t for links
};

struct recorder {
    std::vector<visit> visits;
    int fail_at = -1; // index of the visit whose callback answers -1
};

int record_object(const char *path, const H5O_info_t *oinfo, const char *prev, void *udata)
{
    auto *r = static_cast<recorder *>(udata);
    r->visits.push_back({path, "obj", prev ? prev : "", static_cast<int>(oinfo->type)});
    return static_cast<int>(r->visits.size()) - 1 == r->fail_at ? -1 : 0;
}

int record_link(const char *path, const H5L_info_t *linfo, void *udata)
{
    auto *r = static_cast<recorder *>(udata);
    r->visits.push_back({path, "link", "", static_cast<int>(linfo->type)});
    return static_cast<int>(r->visits.size()) - 1 == r->fail_at ? -1 : 0;
}

using test_support::open_fixture;

std::vector<std::string> paths_of(const recorder &r)
{
    std::vector<std::string> out;
    for (const auto &v : r.visits)
        out.push_back(v.path);
    return out;
}

const visit *find(const recorder &r, const std::string &path)
{
    for (const auto &v : r.visits)
        if (v.path == path)
            return &v;
    return nullptr;
}

} // namespace

TEST(TrekWalk, WholeFileListsStartThenEveryLinkInNameOrder)
{
    h5_file f = open_fixture("trek_graph.h5");
    ASSERT_TRUE(f.valid());
    recorder r;
    ASSERT_EQ(trek_visit(f, "/", true, true, record_object, record_link, &r, H5O_INFO_BASIC), 0);
    std::vector<std::string> expected = {"/",      "/a",      "/a/d", "/b",   "/b/c",   "/ext1", "/ext2",
                                         "/g",     "/g/self", "/g/x", "/g/y", "/g/y/z", "/s1",   "/s2",
                                         "/s3"};
    EXPECT_EQ(paths_of(r), expected);
    // The root appears once, as the first entry, with no previous path.
    EXPECT_EQ(r.visits[0].kind, "obj");
    EXPECT_EQ(r.visits[0].type, H5O_TYPE_GROUP);
    EXPECT_EQ(r.visits[0].previous, "");
    EXPECT_EQ(find(r, "/ext1")->kind, "link");
    EXPECT_EQ(find(r, "/ext1")->type, H5L_TYPE_EXTERNAL);
    EXPECT_EQ(find(r, "/s1")->type, H5L_TYPE_SOFT);
    EXPECT_EQ(find(r, "/a/d")->type, H5O_TYPE_DATASET);
}

TEST(TrekWalk, WithoutVisitStartTheStartGroupIsNotReported)
{
    h5_file f = open_fixture("trek_graph.h5");
    recorder r;
    ASSERT_EQ(trek_visit(f, "/", false, true, record_object, record_link, &r, H5O_INFO_BASIC), 0);
    ASSERT_FALSE(r.visits.empty());
    EXPECT_EQ(r.visits[0].path, "/a");
    EXPECT_EQ(find(r, "/"), nullptr);
}

TEST(TrekWalk, SecondHardLinkToGroupIsReportedAsAliasAndNotEntered)
{
    h5_file f = open_fixture("trek_graph.h5");
    recorder r;
    ASSERT_EQ(trek_visit(f, "/", true, true, record_object, record_link, &r, H5O_INFO_BASIC), 0);
    const visit *a = find(r, "/a");
    const visit *c = find(r, "/b/c");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(a->previous, "");
    EXPECT_EQ(c->previous, "/a");
    EXPECT_EQ(find(r, "/b/c/d"), nullptr);
    // Objects with a single link never carry a previous path.
    EXPECT_EQ(find(r, "/a/d")->previous, "");
    // The link of /g to itself names /g, reached first.
    EXPECT_EQ(find(r, "/g/self")->previous, "/g");
}

TEST(TrekWalk, RootWithOneLinkIsNotRememberedButRootWithTwoIs)
{
    {
        // Root reference count 1: nothing in the file names "/" as previous.
        h5_file f = open_fixture("trek_graph.h5");
        recorder r;
        ASSERT_EQ(trek_visit(f, "/", true, true, record_object, record_link, &r, H5O_INFO_BASIC), 0);
        for (const auto &v : r.visits)
            EXPECT_NE(v.previous, "/") << v.path;
    }
    {
        h5_file f = open_fixture("trek_rootlink.h5");
        ASSERT_TRUE(f.valid());
        recorder r;
        ASSERT_EQ(trek_visit(f, "/", true, true, record_object, record_link, &r, H5O_INFO_BASIC), 0);
        std::vector<std::string> expected = {"/", "/k", "/up"};
        EXPECT_EQ(paths_of(r), expected);
        EXPECT_EQ(find(r, "/up")->previous, "/");
    }
}

TEST(TrekWalk, StartGroupWithTwoLinksIsEnteredFirst)
{
    h5_file f = open_fixture("trek_graph.h5");
    recorder r;
    ASSERT_EQ(trek_visit(f, "/g", true, true, record_object, record_link, &r, H5O_INFO_BASIC), 0);
    std::vector<std::string> expected = {"/g", "/g/self", "/g/x", "/g/y", "/g/y/z"};
    EXPECT_EQ(paths_of(r), expected);
    EXPECT_EQ(find(r, "/g/self")->previous, "/g");
}

TEST(TrekWalk, WalkStartedAtDatasetReportsOnlyThatDataset)
{
    h5_file f = open_fixture("trek_graph.h5");
    recorder r;
    ASSERT_EQ(trek_visit(f, "/a/d", true, true, record_object, record_link, &r, H5O_INFO_BASIC), 0);
    ASSERT_EQ(r.visits.size(), 1u);
    EXPECT_EQ(r.visits[0].path, "/a/d");
    EXPECT_EQ(r.visits[0].type, H5O_TYPE_DATASET);

    recorder quiet;
    ASSERT_EQ(trek_visit(f, "/a/d", false, true, record_object, record_link, &quiet, H5O_INFO_BASIC), 0);
    EXPECT_TRUE(quiet.visits.empty());
}

TEST(TrekWalk, NonRecursiveWalkReportsDirectChildrenOnly)
{
    h5_file f = open_fixture("trek_graph.h5");
    recorder r;
    ASSERT_EQ(trek_visit(f, "/g", false, false, record_object, record_link, &r, H5O_INFO_BASIC), 0);
    std::vector<std::string> expected = {"/g/self", "/g/x", "/g/y"};
    EXPECT_EQ(paths_of(r), expected);
}

TEST(TrekWalk, StartPathEndingInSlashOrRelativeJoinsAccordingly)
{
    h5_file f = open_fixture("trek_graph.h5");
    recorder slash;
    ASSERT_EQ(trek_visit(f, "/g/", false, false, record_object, record_link, &slash, H5O_INFO_BASIC), 0);
    std::vector<std::string> expected = {"/g/self", "/g/x", "/g/y"};
    EXPECT_EQ(paths_of(slash), expected);

    // A relative start path reports paths relative to the start group.
    recorder rel;
    ASSERT_EQ(trek_visit(f, "g", false, true, record_object, record_link, &rel, H5O_INFO_BASIC), 0);
    std::vector<std::string> rel_expected = {"self", "x", "y", "y/z"};
    EXPECT_EQ(paths_of(rel), rel_expected);
}

TEST(TrekWalk, WalkThroughLinkPathsUsesTheLinkPath)
{
    h5_file f = open_fixture("trek_graph.h5");
    // A soft link to a group: the target's members appear under the link.
    recorder soft;
    ASSERT_EQ(trek_visit(f, "/s3", true, false, record_object, record_link, &soft, H5O_INFO_BASIC), 0);
    std::vector<std::string> soft_expected = {"/s3", "/s3/self", "/s3/x", "/s3/y"};
    EXPECT_EQ(paths_of(soft), soft_expected);
    // An external link leads into the other file.
    recorder ext;
    ASSERT_EQ(trek_visit(f, "/ext2", true, true, record_object, record_link, &ext, H5O_INFO_BASIC), 0);
    std::vector<std::string> ext_expected = {"/ext2", "/ext2/v"};
    EXPECT_EQ(paths_of(ext), ext_expected);
    EXPECT_EQ(ext.visits[0].type, H5O_TYPE_GROUP);
}

TEST(TrekWalk, NegativeCallbackAbortsTheWalk)
{
    h5_file f = open_fixture("trek_graph.h5");
    recorder r;
    r.fail_at = 2; // "/a/d"
    EXPECT_EQ(trek_visit(f, "/", true, true, record_object, record_link, &r, H5O_INFO_BASIC), -1);
    EXPECT_EQ(r.visits.size(), 3u);

    // The start object's callback can stop the walk as well.
    recorder first;
    first.fail_at = 0;
    EXPECT_EQ(trek_visit(f, "/", true, true, record_object, record_link, &first, H5O_INFO_BASIC), -1);
    EXPECT_EQ(first.visits.size(), 1u);

}

TEST(TrekWalk, MissingStartPathFails)
{
    h5_file f = open_fixture("trek_graph.h5");
    h5_errors_off quiet;
    recorder r;
    EXPECT_EQ(trek_visit(f, "/nothing/here", true, true, record_object, record_link, &r, H5O_INFO_BASIC), -1);
    EXPECT_TRUE(r.visits.empty());
}

namespace {

// A file of 3 groups of per_group datasets each (49 objects with the root for
// 15). With small_cache, it is opened with a small metadata cache and a short
// resize epoch, so that the cache fills and adapts its size within a walk.
h5_file write_wide_file(const std::string &name, int per_group = 15, bool small_cache = false)
{
    {
        h5_file f(H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
        h5_dataspace space(H5Screate(H5S_SCALAR));
        char name_buf[16];
        for (int g = 0; g < 3; ++g) {
            std::snprintf(name_buf, sizeof name_buf, "/g%d", g);
            h5_group gid(H5Gcreate2(f, name_buf, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
            for (int d = 0; d < per_group; ++d) {
                std::snprintf(name_buf, sizeof name_buf, "d%d", d);
                h5_dataset(H5Dcreate2(gid, name_buf, H5T_NATIVE_INT, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
            }
        }
    }
    h5_plist fapl(H5Pcreate(H5P_FILE_ACCESS));
    H5AC_cache_config_t config{};
    config.version = H5AC__CURR_CACHE_CONFIG_VERSION;
    if (small_cache && H5Pget_mdc_config(fapl, &config) >= 0) {
        config.epoch_length = 100;
        config.min_size = 64 * 1024;
        config.set_initial_size = true;
        config.initial_size = config.min_size;
        H5Pset_mdc_config(fapl, &config);
    }
    return h5_file(H5Fopen(name.c_str(), H5F_ACC_RDONLY, fapl));
}

size_t objects_listed(hid_t file, const char *start)
{
    recorder r;
    trek_visit(file, start, true, true, record_object, nullptr, &r, H5O_INFO_BASIC);
    return r.visits.size();
}

} // namespace

// Reading the headers ahead goes over what a walk lists, stops when asked
// (after every 16 objects, and before the first link when asked at once),
// follows no external link, and ends without a word where there is nothing
// to read.
TEST(TrekWalk, ReadingHeadersAheadCoversTheWalkAndStopsWhenAsked)
{
    test_support::temp_dir dir("trek_headers");
    h5_file wide = write_wide_file(dir.file("wide.h5"));
    h5_file graph = open_fixture("trek_graph.h5");
    ASSERT_TRUE(wide.valid());
    ASSERT_TRUE(graph.valid());
    const auto never = [] { return false; };
    int asked = 0;
    const auto on_second_ask = [&asked] { return ++asked == 2; };
    const auto at_once = [] { return true; };
    struct row {
        hid_t file;
        const char *start;
        std::function<bool()> stop;
        size_t expected;
    } rows[] = {
        {wide, "/", never, objects_listed(wide, "/")},
        {wide, "/g1", never, objects_listed(wide, "/g1")},
        {wide, "/g1/d3", never, 1},
        {graph, "/", never, objects_listed(graph, "/")},
        {wide, "/", on_second_ask, 16},
        {wide, "/", at_once, 1},
        {wide, "/nothing/here", never, 0},
        {graph, "/ext1", never, 0},
    };
    ASSERT_EQ(objects_listed(wide, "/"), 49u);
    for (const row &r : rows) {
        asked = 0;
        auto run = test_support::capture([&] { return trek_read_headers(r.file, r.start, r.stop); });
        EXPECT_EQ(run.result, r.expected) << r.start;
        EXPECT_EQ(run.out + run.err, "") << r.start;
    }
}

namespace {

// A group S reached first at depth three (/a/deep/shared) and again at depth
// two (/z/shared), with a link from S back to /a, and /z holding twelve more
// datasets written in reverse name order, so that with the newest file format
// /z keeps its links in dense storage:
//   /a, /a/deep, /a/deep/shared = S, S/up -> /a, S/v, /a/e,
//   /z, /z/k00 .. /z/k11, /z/shared -> S, /z/t, /z/t/w
h5_file write_shared_file(const std::string &name, bool latest_format)
{
    {
        h5_plist fapl(H5Pcreate(H5P_FILE_ACCESS));
        if (latest_format)
            H5Pset_libver_bounds(fapl, H5F_LIBVER_LATEST, H5F_LIBVER_LATEST);
        h5_file f(H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl));
        h5_dataspace space(H5Screate(H5S_SCALAR));
        auto group = [&](const char *path) { h5_group(H5Gcreate2(f, path, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT)); };
        auto dataset = [&](const char *path) {
            h5_dataset(H5Dcreate2(f, path, H5T_NATIVE_INT, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        };
        for (const char *g : {"/a", "/a/deep", "/a/deep/shared", "/z", "/z/t"})
            group(g);
        for (const char *d : {"/a/deep/shared/v", "/a/e", "/z/t/w"})
            dataset(d);
        char name_buf[16];
        for (int k = 11; k >= 0; --k) {
            std::snprintf(name_buf, sizeof name_buf, "/z/k%02d", k);
            dataset(name_buf);
        }
        H5Lcreate_hard(f, "/a", f, "/a/deep/shared/up", H5P_DEFAULT, H5P_DEFAULT);
        H5Lcreate_hard(f, "/a/deep/shared", f, "/z/shared", H5P_DEFAULT, H5P_DEFAULT);
    }
    return h5_file(H5Fopen(name.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
}

std::vector<std::string> z_datasets(const char *prefix)
{
    std::vector<std::string> out;
    char name_buf[32];
    for (int k = 0; k < 12; ++k) {
        std::snprintf(name_buf, sizeof name_buf, "%sk%02d", prefix, k);
        out.push_back(name_buf);
    }
    return out;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

// A group with several hard links is entered once, under the path that
// reaches it first in a depth-first walk by name, whatever the depth of its
// other links and wherever the walk starts; its other paths are reported as
// aliases of that one, and after a member group the walk goes on with the
// next link of the group above. The same in the original and the newest
// file format (symbol table and dense link storage).
TEST(TrekWalk, MultiplyLinkedGroupsAreEnteredOnceUnderTheirFirstPath)
{
    test_support::temp_dir dir("trek_shared");
    ASSERT_TRUE(dir.valid());
    struct row {
        const char *start;
        bool visit_start;
        bool recurse;
        std::vector<std::string> paths;
        std::vector<std::pair<std::string, std::string>> aliases; // path, first path
    } rows[] = {
        {"/", true, true,
         concat(concat({"/", "/a", "/a/deep", "/a/deep/shared", "/a/deep/shared/up", "/a/deep/shared/v", "/a/e", "/z"},
                       z_datasets("/z/")),
                {"/z/shared", "/z/t", "/z/t/w"}),
         {{"/a/deep/shared/up", "/a"}, {"/z/shared", "/a/deep/shared"}}},
        // The start group is known under the start path before the walk.
        {"/a", true, true, {"/a", "/a/deep", "/a/deep/shared", "/a/deep/shared/up", "/a/deep/shared/v", "/a/e"},
         {{"/a/deep/shared/up", "/a"}}},
        // From /z the shared group is first reached at depth one, and /a
        // below it.
        {"/z/", false, true,
         concat(z_datasets("/z/"), {"/z/shared", "/z/shared/up", "/z/shared/up/deep", "/z/shared/up/deep/shared",
                                    "/z/shared/up/e", "/z/shared/v", "/z/t", "/z/t/w"}),
         {{"/z/shared/up/deep/shared", "/z/shared"}}},
        {"z/shared", true, true, {"z/shared", "up", "up/deep", "up/deep/shared", "up/e", "v"},
         {{"up/deep/shared", "z/shared"}}},
        {"/a/deep/shared", false, false, {"/a/deep/shared/up", "/a/deep/shared/v"}, {}},
    };
    for (bool latest : {false, true}) {
        h5_file f = write_shared_file(dir.file(latest ? "latest.h5" : "earliest.h5"), latest);
        ASSERT_TRUE(f.valid());
        for (const row &r : rows) {
            recorder rec;
            ASSERT_EQ(trek_visit(f, r.start, r.visit_start, r.recurse, record_object, record_link, &rec,
                                 H5O_INFO_BASIC),
                      0)
                << r.start;
            EXPECT_EQ(paths_of(rec), r.paths) << r.start << (latest ? " latest" : " earliest");
            std::vector<std::pair<std::string, std::string>> aliases;
            for (const visit &v : rec.visits)
                if (!v.previous.empty())
                    aliases.emplace_back(v.path, v.previous);
            EXPECT_EQ(aliases, r.aliases) << r.start << (latest ? " latest" : " earliest");
        }
    }
}

namespace {

// The current maximum size of f's metadata cache and how it grows.
std::pair<size_t, H5C_cache_incr_mode> cache_of(hid_t f)
{
    size_t max_size = 0, min_clean = 0, cur_size = 0;
    int entries = 0;
    H5AC_cache_config_t config{};
    config.version = H5AC__CURR_CACHE_CONFIG_VERSION;
    if (H5Fget_mdc_size(f, &max_size, &min_clean, &cur_size, &entries) < 0 || H5Fget_mdc_config(f, &config) < 0)
        return {0, H5C_incr__off};
    return {max_size, config.incr_mode};
}

} // namespace

// A walk reads every object header once, a pattern of few cache hits on
// which HDF5 would keep enlarging the file's metadata cache (and keep that
// many decoded headers in memory for the rest of the run): the walk keeps the
// cache at its size and leaves its configuration as it found it, whether the
// walk ends normally or a callback stops it.
TEST(TrekWalk, WalkNeitherGrowsTheMetadataCacheNorChangesItsConfiguration)
{
    test_support::temp_dir dir("trek_cache");
    ASSERT_TRUE(dir.valid());
    const std::string name = dir.file("many.h5");
    struct row {
        const char *start;
        bool recurse;
        int fail_at;
    } rows[] = {{"/", true, -1}, {"/g1", false, -1}, {"/", true, 500}};
    for (const row &r : rows) {
        h5_file f = write_wide_file(name, 300, true);
        ASSERT_TRUE(f.valid());
        const auto before = cache_of(f);
        ASSERT_EQ(before.second, H5C_incr__threshold);
        recorder rec;
        rec.fail_at = r.fail_at;
        h5_errors_off quiet;
        EXPECT_EQ(trek_visit(f, r.start, true, r.recurse, record_object, record_link, &rec, H5O_INFO_BASIC),
                  r.fail_at < 0 ? 0 : -1)
            << r.start;
        const auto after = cache_of(f);
        EXPECT_LE(after.first, before.first) << r.start;
        EXPECT_EQ(after.second, H5C_incr__threshold) << r.start;
    }
    // Reading the same headers ahead does grow the cache: the file is large
    // enough for the checks above to mean something.
    h5_file f = write_wide_file(name, 300, true);
    const size_t start_size = cache_of(f).first;
    EXPECT_EQ(trek_read_headers(f, "/", [] { return false; }), 904u);
    EXPECT_GT(cache_of(f).first, start_size);
}
