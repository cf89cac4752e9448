// Link classification of external links whose target file is a regular
// file, missing, or a FIFO wherever the library would look for it.
#include "h5_handle.hpp"
#include "zarn_utils.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A scratch folder with a file of links, removed afterwards.
class LinkInfoTest : public testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/link_info_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
        ASSERT_EQ(mkfifo((dir + "/fifo.h5").c_str(), 0644), 0);
        ASSERT_EQ(mkfifo((dir + "/sub/deep.h5").c_str(), 0644), 0);
        write_target(dir + "/real.h5");

        file.reset(H5Fcreate((dir + "/links.h5").c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
        ASSERT_TRUE(file.valid());
        const std::string externals[][2] = {
            {"real.h5", "ext_real"},          {"missing.h5", "ext_missing"},  {"fifo.h5", "ext_fifo"},
            {dir + "/fifo.h5", "ext_fifo_abs"}, {"deep.h5", "ext_deep"},
        };
        for (const auto &l : externals)
            ASSERT_GE(H5Lcreate_external(l[0].c_str(), "/data", file, l[1].c_str(), H5P_DEFAULT, H5P_DEFAULT), 0);
        // Runs that wait on a FIFO are ended rather than left hanging.
        alarm(60);
    }
    void TearDown() override
    {
        alarm(0);
        file.reset();
        unsetenv("HDF5_EXT_PREFIX");
        for (const char *name : {"/links.h5", "/real.h5", "/fifo.h5", "/sub/deep.h5"})
            unlink((dir + name).c_str());
        rmdir((dir + "/sub").c_str());
        rmdir(dir.c_str());
    }

    static void write_target(const std::string &path)
    {
        h5_file f(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
        h5_dataspace s(H5Screate(H5S_SCALAR));
        h5_dataset d(H5Dcreate2(f, "data", H5T_NATIVE_INT, s, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    }

    int classify(const char *path, int *target_type = nullptr)
    {
        zarn_link_info info{};
        const int r = Zarn_get_symlink_info(file, path, &info, true);
        if (target_type)
            *target_type = info.target_type;
        std::free(info.target_path);
        return r;
    }

    std::string dir;
    h5_file file;
};

TEST_F(LinkInfoTest, TargetFilesThatAreNoRegularFilesAreDangling)
{
    h5_errors_off quiet;
    struct link_case {
        const char *path;
        int result;
        int target_type;
    };
    const link_case cases[] = {
        {"/ext_real", 1, H5O_TYPE_DATASET},
        {"/ext_missing", 0, -1},
        {"/ext_fifo", 0, -1},
        {"/ext_fifo_abs", 0, -1},
    };
    for (const auto &c : cases) {
        int type = -2;
        EXPECT_EQ(classify(c.path, &type), c.result) << c.path;
        EXPECT_EQ(type, c.target_type) << c.path;
    }
}

TEST_F(LinkInfoTest, FifoFoundThroughTheExternalPrefixIsNotOpened)
{
    h5_errors_off quiet;
    // deep.h5 is a FIFO only under sub/, where the prefix list leads.
    setenv("HDF5_EXT_PREFIX", (dir + "/nowhere:" + dir + "/sub").c_str(), 1);
    EXPECT_EQ(classify("/ext_deep"), 0);
    EXPECT_EQ(classify("/ext_real"), 1);
}

} // namespace
