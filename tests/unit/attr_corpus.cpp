// Every object of every corpus file compared with itself: the attributes of
// files written by other projects (variable-length strings, references,
// compounds, null dataspaces, 16-byte integers, half floats...) must compare
// equal, without errors and without a single difference row.
#include "mirlo_attr.hpp"
#include "test_support.hpp"
#include "trek.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::vector<std::string> corpus_files()
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto &e : std::filesystem::recursive_directory_iterator(ZARN_CORPUS_DIR, ec)) {
        if (!e.is_regular_file())
            continue;
        std::string p = e.path().string();
        h5_errors_off quiet;
        if (H5Fis_hdf5(p.c_str()) > 0)
            files.push_back(p);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

TEST(AttrCorpus, EveryObjectComparedWithItselfHasNoDifference)
{
    if (!std::filesystem::is_directory(ZARN_CORPUS_DIR))
        GTEST_SKIP() << "no corpus of HDF5 files at " << ZARN_CORPUS_DIR;
    std::vector<std::string> files = corpus_files();
    ASSERT_GE(files.size(), 20u) << "corpus incomplete in " << ZARN_CORPUS_DIR;
    size_t objects = 0, with_attrs = 0;
    for (const auto &name : files) {
        SCOPED_TRACE(name);
        h5_file f1(H5Fopen(name.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        h5_file f2(H5Fopen(name.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        ASSERT_TRUE(f1.valid() && f2.valid());
        trek_info_ptr info = trek_info_create(name.c_str(), f1);
        ASSERT_EQ(trek_visit(f1, "/", true, true, trek_info_on_object, trek_info_on_link, info.get(), H5O_INFO_BASIC),
                  0);
        for (const trek_path &p : info->paths) {
            if (p.type != TREK_GROUP && p.type != TREK_DATASET && p.type != TREK_NAMED_DATATYPE)
                continue;
            const char *path = p.path.c_str();
            SCOPED_TRACE(path);
            h5_object o1(H5Oopen(f1, path, H5P_DEFAULT));
            h5_object o2(H5Oopen(f2, path, H5P_DEFAULT));
            ASSERT_TRUE(o1.valid() && o2.valid());
            H5O_info_t oinfo;
            ASSERT_GE(H5Oget_info2(o1, &oinfo, H5O_INFO_NUM_ATTRS), 0);
            ++objects;
            with_attrs += oinfo.num_attrs > 0;

            test_support::comparison opts(true);
            opts.settings.list_not_comparable = 1;
            opts.settings.verbose_mode = 1;
            const auto run = test_support::capture([&] { return diff_attr(o1, o2, path, path, opts.ctx()); });
            const nfound_t n = run.result;
            const std::string &out = run.out;
            EXPECT_EQ(n, 0u);
            EXPECT_EQ(opts.outcome.status, 0);
            EXPECT_FALSE(opts.outcome.members_differ);
            // Only the framing lines: no table header, no row.
            EXPECT_EQ(out.find("size:"), std::string::npos) << out;
            // One framed pair, with a count of 0, per attribute.
            size_t pairs = 0;
            for (size_t at = out.find("\n0 differences found\n"); at != std::string::npos;
                 at = out.find("\n0 differences found\n", at + 1))
                ++pairs;
            EXPECT_EQ(pairs, oinfo.num_attrs) << out;
            // Object references are followed to what they name: referenced
            // datasets without storage (netCDF dimension scales) and referenced
            // groups are the only pairs that may not be comparable.
            size_t not_comparable_lines = 0;
            size_t from = 0;
            while (from < out.size()) {
                size_t eol = out.find('\n', from);
                if (eol == std::string::npos)
                    eol = out.size();
                std::string line = out.substr(from, eol - from);
                from = eol + 1;
                bool empty_dataset = line.starts_with("Not comparable") && line.ends_with("is an empty dataset");
                bool group_ref = line.starts_with("Warning: Comparison not possible of object types referenced");
                if (empty_dataset || group_ref)
                    ++not_comparable_lines;
                else
                    EXPECT_EQ(line.find("omparable"), std::string::npos) << line;
            }
            EXPECT_EQ(opts.outcome.not_comparable != 0, not_comparable_lines > 0) << out;
        }
    }
    EXPECT_GT(objects, 1000u);
    EXPECT_GT(with_attrs, 100u);
}
