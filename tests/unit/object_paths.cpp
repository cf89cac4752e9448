// Object paths listed for shell completion: which members of which group
// complete a prefix, groups marked for descending, and the failures.
#include "mirlo_object_paths.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

namespace {

using test_support::temp_dir;

// A file with groups, datasets and every kind of link a member can be:
//   /alpha (dataset)   /g/d1 /g/d2 (datasets)   /g/sub/deep (groups)
//   /g/to_sub -> /g/sub (soft)   /g/lost -> /nowhere (dangling soft)
//   /g/ext -> other.h5:/x (external)   "/g/bad\nname" (dataset)
std::string write_tree(const temp_dir &dir)
{
    const std::string name = dir.file("tree.h5");
    h5_file f(H5Fcreate(name.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
    h5_dataspace scalar(H5Screate(H5S_SCALAR));
    for (const char *path : {"/g", "/g/sub", "/g/sub/deep"})
        h5_group(H5Gcreate2(f, path, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    for (const char *path : {"/alpha", "/g/d1", "/g/d2", "/g/bad\nname"})
        h5_dataset(H5Dcreate2(f, path, H5T_NATIVE_INT, scalar, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    H5Lcreate_soft("/g/sub", f, "/g/to_sub", H5P_DEFAULT, H5P_DEFAULT);
    H5Lcreate_soft("/nowhere", f, "/g/lost", H5P_DEFAULT, H5P_DEFAULT);
    H5Lcreate_external("other.h5", "/x", f, "/g/ext", H5P_DEFAULT, H5P_DEFAULT);
    return name;
}

struct listed {
    int status;
    std::string out;
};

listed list(const std::string &file, const char *prefix)
{
    FILE *out = std::tmpfile();
    const auto run = test_support::capture([&] { return mirlo_list_object_paths(out, file.c_str(), prefix); });
    listed l{run.result, test_support::read_all(out)};
    std::fclose(out);
    return l;
}

TEST(ObjectPaths, CompletesTheMembersOfTheGroupThePrefixNames)
{
    temp_dir dir("object_paths");
    ASSERT_TRUE(dir.valid());
    const std::string file = write_tree(dir);
    const struct {
        const char *prefix;
        const char *expected;
    } cases[] = {
        {"", "/alpha\n/g/\n"},
        {"/", "/alpha\n/g/\n"},
        {"/g", "/g/\n"},
        {"/g/", "/g/d1\n/g/d2\n/g/ext\n/g/lost\n/g/sub/\n/g/to_sub/\n"},
        {"/g/d", "/g/d1\n/g/d2\n"},
        {"/g/s", "/g/sub/\n"},
        {"/g/to_sub/", "/g/to_sub/deep/\n"},
        {"/g//s", "/g//sub/\n"},
        {"g/t", "g/to_sub/\n"},
        {"al", "alpha\n"},
        {"/g/sub/deep/", ""},
        {"/g/d1/", ""},
        {"/g/ext/", ""},
        {"/nope/x", ""},
        {"/g/zz", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("prefix \"") + c.prefix + "\"");
        const listed l = list(file, c.prefix);
        EXPECT_EQ(l.status, 0);
        EXPECT_EQ(l.out, c.expected);
    }
}

TEST(ObjectPaths, FileThatCannotBeOpenedOrOutputThatCannotBeWrittenIsStatusTwo)
{
    temp_dir dir("object_paths");
    ASSERT_TRUE(dir.valid());
    // A FIFO without a writer would block the open for ever.
    const std::string fifo = dir.file("fifo.h5");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string &name : {dir.file("missing.h5"), fifo, dir.path()}) {
        const auto run = test_support::capture([&] { return mirlo_list_object_paths(stdout, name.c_str(), "/"); });
        EXPECT_EQ(run.result, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "mirlo error: <" + name + ">: unable to open file\n");
    }

    const std::string file = write_tree(dir);
    FILE *full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    const auto written = test_support::capture([&] { return mirlo_list_object_paths(full, file.c_str(), "/g/"); });
    std::fclose(full);
    EXPECT_EQ(written.result, 2);
    EXPECT_NE(written.err.find("cannot write the object paths"), std::string::npos) << written.err;
}

} // namespace
