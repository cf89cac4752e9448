// Filter availability of datasets and the encoder test.
#include "zarn_filters.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

// The creation list of a dataset of dset_a.h5.
struct creation_list {
    h5_file file;
    h5_dataset dset;
    h5_plist dcpl;
    explicit creation_list(const char *path)
    {
        file = test_support::open_fixture("dset_a.h5");
        dset.reset(H5Dopen2(file, path, H5P_DEFAULT));
        dcpl.reset(H5Dget_create_plist(dset));
    }
};

int canreadf_quietly(const char *name, hid_t dcpl, std::string *err)
{
    auto run = test_support::capture([&] { return zarn_canreadf(name, dcpl); });
    *err = run.err;
    return run.result;
}

TEST(CanReadTest, DatasetsWithoutFiltersOrWithBuiltInFiltersAreReadable)
{
    for (const char *path : {"/types/int", "/storage/chunked", "/storage/deflate"}) {
        creation_list c(path);
        ASSERT_TRUE(c.dcpl.valid()) << path;
        std::string err;
        EXPECT_EQ(canreadf_quietly(path, c.dcpl, &err), 1) << path;
        EXPECT_EQ(canreadf_quietly(nullptr, c.dcpl, &err), 1) << path;
        EXPECT_EQ(err, "");
    }
}

TEST(CanReadTest, UnregisteredUserFilterMakesTheDatasetUnreadable)
{
    creation_list c("/storage/user_filter");
    ASSERT_TRUE(c.dcpl.valid());
    std::string err;
    EXPECT_EQ(canreadf_quietly("/storage/user_filter", c.dcpl, &err), 0);
    EXPECT_EQ(err, "Warning: dataset </storage/user_filter> cannot be read, user defined filter is not available\n");
    EXPECT_EQ(canreadf_quietly(nullptr, c.dcpl, &err), 0);
    EXPECT_EQ(err, "");
}

TEST(CanReadTest, EveryMissingFilterIsWarnedAbout)
{
    h5_plist dcpl(H5Pcreate(H5P_DATASET_CREATE));
    hsize_t chunk = 4;
    H5Pset_chunk(dcpl, 1, &chunk);
    H5Pset_filter(dcpl, 32101, H5Z_FLAG_OPTIONAL, 0, nullptr);
    H5Pset_deflate(dcpl, 1);
    H5Pset_filter(dcpl, 32102, H5Z_FLAG_OPTIONAL, 0, nullptr);
    std::string err;
    EXPECT_EQ(canreadf_quietly("d", dcpl, &err), 0);
    const std::string one = "Warning: dataset <d> cannot be read, user defined filter is not available\n";
    EXPECT_EQ(err, one + one);
}

TEST(CanReadTest, NotACreationListFails)
{
    h5_errors_off quiet;
    std::string err;
    EXPECT_EQ(canreadf_quietly(nullptr, H5T_NATIVE_INT, &err), -1);
}

} // namespace
