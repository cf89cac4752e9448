// The file pairs of two directory trees and of a pair list.
#include "mirlo_file_pairs.hpp"
#include "test_support.hpp"

#include <hdf5.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using test_support::temp_dir;

namespace {

// An HDF5 file with a user block of the given size (0 for none).
void write_hdf5(const std::string &path, hsize_t user_block = 0)
{
    fs::create_directories(fs::path(path).parent_path());
    h5_plist fcpl(H5Pcreate(H5P_FILE_CREATE));
    ASSERT_GE(H5Pset_userblock(fcpl, user_block), 0);
    h5_file f(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, fcpl, H5P_DEFAULT));
    ASSERT_TRUE(f.valid());
}

void write_text(const std::string &path, const std::string &text)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

TEST(FilePairs, RecognisesHdf5BySignatureUserBlocksIncluded)
{
    temp_dir d("pairs_sig");
    ASSERT_TRUE(d.valid());
    write_hdf5(d.file("plain.h5"));
    write_hdf5(d.file("block.txt"), 2048); // the name does not matter
    write_text(d.file("notes.h5"), "\x89HDX not quite");
    write_text(d.file("empty.h5"), "");
    EXPECT_EQ(mirlo_is_hdf5_file(d.file("plain.h5")), 1);
    EXPECT_EQ(mirlo_is_hdf5_file(d.file("block.txt")), 1);
    EXPECT_EQ(mirlo_is_hdf5_file(d.file("notes.h5")), 0);
    EXPECT_EQ(mirlo_is_hdf5_file(d.file("empty.h5")), 0);
    EXPECT_EQ(mirlo_is_hdf5_file(d.file("absent.h5")), -1);
    EXPECT_EQ(mirlo_is_hdf5_file(d.path()), -1);
}

TEST(FilePairs, PairsTreesInSortedOrderWithFilesOnOneSide)
{
    temp_dir d("pairs_dirs");
    ASSERT_TRUE(d.valid());
    const std::string a = d.file("run1"), b = d.file("run2"), elsewhere = d.file("elsewhere");
    for (const auto &root : {a, b}) {
        write_hdf5(root + "/z.h5");
        write_hdf5(root + "/sub/deep/x.h5", 512);
        write_text(root + "/README", "text");
    }
    write_hdf5(a + "/only1.h5");
    write_hdf5(b + "/sub/only2.h5");
    write_text(b + "/gone.h5", "not hdf5 on this side"); // a.h5 below is HDF5 only in run1
    write_hdf5(a + "/gone.h5");
    write_text(a + "/text_only_here.dat", "x");
    fs::create_directories(a + "/empty");
    // Links to files are followed; links to folders are not entered.
    write_hdf5(elsewhere + "/linked.h5");
    fs::create_symlink(elsewhere + "/linked.h5", a + "/link.h5");
    fs::create_symlink(elsewhere + "/linked.h5", b + "/link.h5");
    fs::create_symlink(elsewhere, a + "/dirlink");
    fs::create_symlink(d.file("nowhere"), a + "/dangling.h5");

    mirlo_file_plan plan;
    std::string message;
    ASSERT_EQ(mirlo_plan_directories(a, b, &plan, &message), 0) << message;
    std::vector<std::string> labels;
    for (const auto &p : plan.pairs)
        labels.push_back(p.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"gone.h5", "link.h5", "sub/deep/x.h5", "z.h5"}));
    EXPECT_EQ(plan.pairs[2].file1, a + "/sub/deep/x.h5");
    EXPECT_EQ(plan.pairs[2].file2, b + "/sub/deep/x.h5");
    EXPECT_EQ(plan.only_in_first, (std::vector<std::string>{"only1.h5"}));
    EXPECT_EQ(plan.only_in_second, (std::vector<std::string>{"sub/only2.h5"}));
    EXPECT_EQ(plan.not_hdf5, (std::vector<std::string>{a + "/README", a + "/text_only_here.dat", b + "/README"}));
    EXPECT_TRUE(plan.unreadable.empty());

    EXPECT_EQ(mirlo_plan_directories(a, d.file("absent"), &plan, &message), -1);
    EXPECT_EQ(message, d.file("absent") + ": not a folder");
}

TEST(FilePairs, PairListsWithCommentsRelativePathsAndMalformedLines)
{
    mirlo_file_plan plan;
    std::string message;
    const std::string text = "# reference\tcandidate\n"
                             "\n"
                             "a.h5\tout/a.h5\n"
                             "   # indented comment\n"
                             "/abs/b.h5\tb.h5\r\n"
                             "with space.h5\t#hash.h5\n";
    ASSERT_EQ(mirlo_parse_pair_list(text, "list", "/base", &plan, &message), 0) << message;
    ASSERT_EQ(plan.pairs.size(), 3u);
    EXPECT_EQ(plan.pairs[0].file1, "/base/a.h5");
    EXPECT_EQ(plan.pairs[0].file2, "/base/out/a.h5");
    EXPECT_EQ(plan.pairs[0].label, "a.h5");
    EXPECT_EQ(plan.pairs[1].file1, "/abs/b.h5");
    EXPECT_EQ(plan.pairs[1].file2, "/base/b.h5");
    EXPECT_EQ(plan.pairs[2].file2, "/base/#hash.h5");

    struct bad {
        const char *text;
        const char *message;
    };
    for (const bad &c : std::vector<bad>{
             {"a.h5\tb.h5\nonly-one-path\n", "list:2: no tab between the two paths"},
             {"a.h5\tb.h5\tc.h5\n", "list:1: more than one tab (two paths a line)"},
             {"\tb.h5\n", "list:1: the first path is empty"},
             {"a.h5\t\n", "list:1: the second path is empty"},
         }) {
        EXPECT_EQ(mirlo_parse_pair_list(c.text, "list", "", &plan, &message), -1) << c.text;
        EXPECT_EQ(message, c.message);
        EXPECT_TRUE(plan.pairs.empty());
    }

    temp_dir d("pairs_list");
    ASSERT_TRUE(d.valid());
    write_text(d.file("l.txt"), "x.h5\ty.h5\n");
    ASSERT_EQ(mirlo_read_pair_list(d.file("l.txt"), &plan, &message), 0) << message;
    EXPECT_EQ(plan.pairs.at(0).file1, d.file("x.h5"));
    EXPECT_EQ(mirlo_read_pair_list(d.file("none.txt"), &plan, &message), -2);
    EXPECT_EQ(message, d.file("none.txt") + ": cannot be read: No such file or directory");
}

} // namespace
