// Access lists by driver name, driver names of lists, opening files written
// through other drivers, and the variable-length datatype tests.
#include "zarn.hpp"
#include "zarn_fopen.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using test_support::fixture_path;

// Starts the tools library once, so failures can be pushed on its stack.
class tools_environment : public testing::Environment {
public:
    void SetUp() override { zarn_init(); }
};
const auto *const env = testing::AddGlobalTestEnvironment(new tools_environment);

herr_t collect_message(unsigned, const H5E_error2_t *err, void *data)
{
    static_cast<std::vector<std::string> *>(data)->push_back(err->desc);
    return 0;
}

// Messages pushed on the tools stack while it lives, at the given level.
struct pushed_messages {
    int saved_level;
    explicit pushed_messages(int level) : saved_level(enable_error_stack)
    {
        H5Eclear2(zarn_error_stack);
        enable_error_stack = level;
    }
    ~pushed_messages()
    {
        H5Eclear2(zarn_error_stack);
        enable_error_stack = saved_level;
    }
    std::vector<std::string> list() const
    {
        std::vector<std::string> out;
        H5Ewalk2(zarn_error_stack, H5E_WALK_UPWARD, collect_message, &out);
        return out;
    }
};

// Automatic error handlers of both forms that print the stack on a stream.
herr_t print_v2(hid_t stack, void *stream)
{
    return H5Eprint2(stack, static_cast<FILE *>(stream));
}
herr_t print_v1(void *stream)
{
    return H5Eprint1(static_cast<FILE *>(stream));
}

std::string driver_of(hid_t fapl)
{
    char name[32] = "untouched";
    EXPECT_EQ(zarn_get_vfd_name(fapl, name, sizeof name), 0);
    return name;
}

TEST(FaplTest, DefaultBaseWithoutDriverGivesAFreshSec2List)
{
    h5_plist fapl(zarn_get_fapl(H5P_DEFAULT, nullptr));
    ASSERT_TRUE(fapl.valid());
    EXPECT_NE(fapl.id, H5P_DEFAULT);
    EXPECT_EQ(driver_of(fapl), "sec2");
}

TEST(FaplTest, NegativeBaseIsRefused)
{
    pushed_messages m(1);
    EXPECT_EQ(zarn_get_fapl(-1, nullptr), -1);
    EXPECT_EQ(m.list(), std::vector<std::string>{"invalid FAPL"});
}

TEST(FaplTest, CopiesTheBaseList)
{
    h5_plist base(H5Pcreate(H5P_FILE_ACCESS));
    ASSERT_GE(H5Pset_fapl_stdio(base), 0);
    h5_plist fapl(zarn_get_fapl(base, nullptr));
    ASSERT_TRUE(fapl.valid());
    EXPECT_NE(fapl.id, base.id);
    EXPECT_EQ(driver_of(fapl), "stdio");
}

TEST(FaplTest, EachAvailableDriverIsReportedByItsName)
{
    const std::pair<const char *, const char *> cases[] = {
        {"sec2", "sec2"},   {"log", "log"},     {"stdio", "stdio"}, {"core", "core"},
        {"family", "family"}, {"split", "multi"}, {"multi", "multi"}, {"mpio", "mpio"},
    };
    for (const auto &[request, reported] : cases) {
        const vfd_spec spec{nullptr, request};
        h5_plist fapl(zarn_get_fapl(H5P_DEFAULT, &spec));
        ASSERT_TRUE(fapl.valid()) << request;
        EXPECT_EQ(driver_of(fapl), reported) << request;
    }
}

TEST(FaplTest, UnavailableDriversFailWithTheirOwnMessageFirst)
{
    const std::pair<const char *, const char *> cases[] = {
        {"direct", "Direct VFD is not enabled"},
        {"windows", "Windows VFD is not enabled"},
        {"ros3", "Read-only S3 VFD is not enabled"},
        {"hdfs", "The HDFS VFD is not enabled"},
        {"SEC2", "invalid VFD name"},
        {"sec", "invalid VFD name"},
    };
    for (const auto &[request, message] : cases) {
        pushed_messages m(1);
        const vfd_spec spec{nullptr, request};
        EXPECT_EQ(zarn_get_fapl(H5P_DEFAULT, &spec), -1) << request;
        EXPECT_EQ(m.list(), (std::vector<std::string>{message, "failed to set VFD on FAPL"})) << request;
    }
}

TEST(FaplTest, NothingIsPushedAtLevelZero)
{
    pushed_messages m(0);
    const vfd_spec spec{nullptr, "direct"};
    EXPECT_EQ(zarn_get_fapl(H5P_DEFAULT, &spec), -1);
    EXPECT_TRUE(m.list().empty());
}

TEST(VfdNameTest, ArgumentsAreCheckedInOrder)
{
    char name[8];
    {
        pushed_messages m(1);
        EXPECT_EQ(zarn_get_vfd_name(-1, nullptr, 0), -1);
        EXPECT_EQ(m.list(), std::vector<std::string>{"invalid FAPL"});
    }
    {
        pushed_messages m(1);
        EXPECT_EQ(zarn_get_vfd_name(H5P_DEFAULT, nullptr, 8), -1);
        EXPECT_EQ(m.list(), std::vector<std::string>{"drivername is NULL"});
    }
    {
        pushed_messages m(1);
        EXPECT_EQ(zarn_get_vfd_name(H5P_DEFAULT, name, 0), -1);
        EXPECT_EQ(m.list(), std::vector<std::string>{"drivername_size must be non-zero"});
    }
}

TEST(VfdNameTest, DefaultListIsSec2AndShortBuffersAreTerminated)
{
    EXPECT_EQ(driver_of(H5P_DEFAULT), "sec2");
    char one[1] = {'x'};
    EXPECT_EQ(zarn_get_vfd_name(H5P_DEFAULT, one, 1), 0);
    EXPECT_EQ(one[0], '\0');
    char three[3];
    EXPECT_EQ(zarn_get_vfd_name(H5P_DEFAULT, three, 3), 0);
    EXPECT_STREQ(three, "se");
}

struct open_case {
    const char *file;
    const char *driver;
};

TEST(FopenTest, FilesOfOtherDriversOpenWithoutNamingTheDriver)
{
    const open_case cases[] = {
        {"dset_a.h5", "sec2"},
        {"dset_core.h5", "sec2"},
        {"dset_family%05d.h5", "family"},
        {"dset_split", "multi"},
    };
    for (const auto &c : cases) {
        const std::string path = fixture_path(c.file);
        char name[16] = "untouched";
        h5_file f(zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, name, sizeof name));
        ASSERT_TRUE(f.valid()) << c.file;
        EXPECT_STREQ(name, c.driver) << c.file;
        // The data is readable through the driver found.
        h5_dataset d(H5Dopen2(f, c.file == std::string("dset_a.h5") ? "/types/int" : "/data", H5P_DEFAULT));
        EXPECT_TRUE(d.valid()) << c.file;
    }
}

TEST(FopenTest, TheSuperblockTellsAFileLeftOpenByItsWriter)
{
    const struct {
        const char *file;
        int left_open;
    } cases[] = {
        {"open_for_writing.h5", 1}, // flushed, never closed
        {"closed_copy.h5", 0},      // the same, closed
        {"dset_a.h5", 0},           // an older superblock, without the flags
        {"no_such_file.h5", -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(zarn_file_left_open(fixture_path(c.file).c_str()), c.left_open) << c.file;
    // A file that is not HDF5 has no superblock.
    test_support::temp_dir dir("left_open");
    ASSERT_TRUE(dir.valid());
    FILE *text = std::fopen(dir.file("text.h5").c_str(), "w");
    ASSERT_NE(text, nullptr);
    for (int k = 0; k < 100; ++k)
        std::fputs("not an HDF5 file, long enough to hold several places a superblock may start at\n", text);
    std::fclose(text);
    EXPECT_EQ(zarn_file_left_open(dir.file("text.h5").c_str()), -1);
}

TEST(FopenTest, HostileNamesAreJustNamesThatDoNotOpen)
{
    // Each name fails like any missing file: no driver may take it as a
    // printf format or copy it past a fixed buffer.
    const std::string long_name = fixture_path(std::string(1100, 'a'));
    const std::string long_template = fixture_path(std::string(1100, 'b') + "%d.h5");
    const std::string names[] = {
        "%s%s%n", "%n", "fam%d%n.h5", "%s", "%d%d", "%ld.h5", "%*d", "%5$d", "%lln", "a%", "%p",
        "%100d.h5", long_name, long_template, fixture_path("missing%d.h5"),
    };
    for (const auto &name : names) {
        char driver[16] = "untouched";
        EXPECT_LT(zarn_fopen(name.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, driver, sizeof driver), 0) << name;
        EXPECT_STREQ(driver, "untouched") << name;
    }
    // A list that names the family driver itself is refused the same way.
    h5_plist family(H5Pcreate(H5P_FILE_ACCESS));
    ASSERT_GE(H5Pset_fapl_family(family, 0, H5P_DEFAULT), 0);
    EXPECT_LT(zarn_fopen("%s%s%n", H5F_ACC_RDONLY, family, true, nullptr, 0), 0);
    EXPECT_LT(zarn_fopen(long_template.c_str(), H5F_ACC_RDONLY, family, true, nullptr, 0), 0);
}

TEST(FopenTest, FamilyTemplatesNeedExactlyOneIntegerConversion)
{
    struct template_case {
        const char *name;
        bool ok;
    };
    const template_case cases[] = {
        {"fam%d.h5", true},   {"fam%05d.h5", true}, {"f%%%u", true},     {"%x-%%.h5", true},
        {"%-3.2i", true},     {"fam.h5", false},    {"%%d", false},      {"%d%d", false},
        {"%s", false},        {"%n", false},        {"%ld", false},      {"%hhd", false},
        {"%*d", false},       {"%1$d", false},      {"%123d", false},    {"%.123d", false},
        {"trailing%", false}, {"%", false},         {"%f", false},       {nullptr, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(zarn_is_family_template(c.name), c.ok) << (c.name ? c.name : "(null)");
    EXPECT_FALSE(zarn_is_family_template((std::string(1100, 'a') + "%d").c_str()));
}

TEST(FopenTest, WithoutNameBufferTheNameIsNotLookedUp)
{
    const std::string path = fixture_path("dset_split");
    pushed_messages m(1);
    char name[4] = "abc";
    h5_file f(zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, name, 0));
    ASSERT_TRUE(f.valid());
    EXPECT_STREQ(name, "abc");
    h5_file g(zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 16));
    EXPECT_TRUE(g.valid());
}

TEST(FopenTest, SpecifiedListOnlyDoesNotTryOtherDrivers)
{
    const std::string path = fixture_path("dset_split");
    pushed_messages m(1);
    EXPECT_LT(zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, true, nullptr, 0), 0);
    EXPECT_EQ(m.list(), std::vector<std::string>{"failed to open file using specified FAPL"});
}

TEST(FopenTest, MissingFileFailsAndTheLoopLeavesOnlyDriverMessages)
{
    const std::string path = fixture_path("dset_no_such_file.h5");
    {
        pushed_messages m(0);
        EXPECT_LT(zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 0), 0);
        EXPECT_TRUE(m.list().empty());
    }
    pushed_messages m(1);
    EXPECT_LT(zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 0), 0);
    const auto list = m.list();
    // No message of zarn_fopen's own about the loop as a whole; the four
    // unavailable drivers leave two messages each.
    int unavailable = 0;
    for (const auto &s : list) {
        EXPECT_NE(s, "failed to retrieve name of VFD used to open file");
        if (s == "failed to set VFD on FAPL")
            ++unavailable;
    }
    EXPECT_EQ(unavailable, 4);
}

TEST(FopenTest, LibraryDiagnosticsOnlyAtLevelTwo)
{
    const std::string path = fixture_path("dset_no_such_file.h5");
    H5E_auto2_t saved = nullptr;
    void *saved_data = nullptr;
    H5Eget_auto2(H5E_DEFAULT, &saved, &saved_data);
    H5Eset_auto2(H5E_DEFAULT, print_v2, stderr);

    for (int level : {0, 1, 2}) {
        pushed_messages m(level);
        const auto run = test_support::capture(
            [&] { return zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, true, nullptr, 0); });
        EXPECT_LT(run.result, 0);
        const std::string &err = run.err;
        if (level < 2)
            EXPECT_EQ(err, "") << level;
        else
            EXPECT_NE(err.find("HDF5-DIAG"), std::string::npos) << level;
        // The handler is back afterwards.
        H5E_auto2_t now = nullptr;
        void *now_data = nullptr;
        H5Eget_auto2(H5E_DEFAULT, &now, &now_data);
        EXPECT_EQ(now, print_v2);
        EXPECT_EQ(now_data, stderr);
    }
    H5Eset_auto2(H5E_DEFAULT, saved, saved_data);
}

TEST(FopenTest, VersionOneHandlerIsSilencedAndPutBack)
{
    const std::string path = fixture_path("dset_no_such_file.h5");
    H5E_auto2_t saved = nullptr;
    void *saved_data = nullptr;
    H5Eget_auto2(H5E_DEFAULT, &saved, &saved_data);
    H5Eset_auto1(print_v1, stderr);

    pushed_messages m(0);
    const auto run = test_support::capture(
        [&] { return zarn_fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, true, nullptr, 0); });
    EXPECT_LT(run.result, 0);
    EXPECT_EQ(run.err, "");
    unsigned is_v2 = 1;
    H5Eauto_is_v2(H5E_DEFAULT, &is_v2);
    EXPECT_EQ(is_v2, 0u);
    H5E_auto1_t now = nullptr;
    void *now_data = nullptr;
    H5Eget_auto1(&now, &now_data);
    EXPECT_EQ(now, print_v1);
    EXPECT_EQ(now_data, stderr);
    H5Eset_auto2(H5E_DEFAULT, saved, saved_data);
}

TEST(VlenTypeTest, VariableLengthDataIsFoundAtAnyDepth)
{
    h5_datatype vstr(H5Tcopy(H5T_C_S1));
    H5Tset_size(vstr, H5T_VARIABLE);
    hsize_t two = 2;
    h5_datatype arr(H5Tarray_create2(vstr, 1, &two));
    h5_datatype inner(H5Tcreate(H5T_COMPOUND, 8 + H5Tget_size(arr)));
    H5Tinsert(inner, "n", 0, H5T_NATIVE_LLONG);
    H5Tinsert(inner, "names", 8, arr);
    h5_datatype outer(H5Tcreate(H5T_COMPOUND, 4 + H5Tget_size(inner)));
    H5Tinsert(outer, "i", 0, H5T_NATIVE_INT);
    H5Tinsert(outer, "inner", 4, inner);
    EXPECT_EQ(zarn_type_has_vlen(outer), 1);
    EXPECT_EQ(zarn_type_has_vlen_string(outer), 1);

    h5_datatype plain(H5Tcreate(H5T_COMPOUND, 16));
    H5Tinsert(plain, "i", 0, H5T_NATIVE_INT);
    H5Tinsert(plain, "d", 8, H5T_NATIVE_DOUBLE);
    EXPECT_EQ(zarn_type_has_vlen(plain), 0);
    EXPECT_EQ(zarn_type_has_vlen_string(plain), 0);

    h5_datatype seq(H5Tvlen_create(H5T_NATIVE_INT));
    EXPECT_EQ(zarn_type_has_vlen(seq), 1);
    EXPECT_EQ(zarn_type_has_vlen_string(seq), 0);

    h5_datatype fixed(H5Tcopy(H5T_C_S1));
    H5Tset_size(fixed, 5);
    EXPECT_EQ(zarn_type_has_vlen(fixed), 0);
    EXPECT_EQ(zarn_type_has_vlen(H5T_NATIVE_INT), 0);
}

} // namespace
