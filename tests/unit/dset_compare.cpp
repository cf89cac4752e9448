// Dataset comparison over the fixture pairs of dset_a.h5 and dset_b.h5:
// difference counts by type and storage, every not-comparable case and its
// message, warnings, and the whole-read / strip boundary.
#include "mirlo_comparable.hpp"
#include "mirlo_dset.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct file_pair {
    h5_file a;
    h5_file b;
    file_pair()
    {
        a = test_support::open_fixture("dset_a.h5");
        b = test_support::open_fixture("dset_b.h5");
    }
};

struct run_result {
    nfound_t found;
    std::string out;
    std::string err;
};

// diff_dataset of path in both files, with stdout and stderr captured.
run_result compare(const char *path, test_support::comparison &o)
{
    file_pair f;
    EXPECT_TRUE(f.a.valid() && f.b.valid());
    auto run = test_support::capture([&] { return diff_dataset(f.a, f.b, path, path, o.subsets(), o.ctx()); });
    return {run.result, run.out, run.err};
}

using test_support::occurrences;

// Each path, compared with default options, is comparable, without error,
// and counts the expected differences.
template <size_t N> void expect_comparable_counts(const std::pair<const char *, nfound_t> (&cases)[N])
{
    for (const auto &[path, expected] : cases) {
        test_support::comparison o;
        run_result r = compare(path, o);
        EXPECT_EQ(r.found, expected) << path;
        EXPECT_EQ(o.outcome.not_comparable, 0) << path;
        EXPECT_EQ(o.outcome.status, 0) << path;
    }
}

// --- comparable pairs -------------------------------------------------------

TEST(DatasetCountTest, EveryNativeTypeCountsItsTwoChangedElements)
{
    for (const char *name : {"schar", "uchar", "short", "ushort", "int", "uint", "long", "ulong", "llong",
                             "ullong", "float", "double", "ldouble"}) {
        const std::string path = std::string("/types/") + name;
        test_support::comparison o;
        run_result r = compare(path.c_str(), o);
        EXPECT_EQ(r.found, 2u) << name;
        EXPECT_EQ(o.outcome.not_comparable, 0) << name;
        EXPECT_EQ(o.outcome.status, 0) << name;
        EXPECT_EQ(r.out, "") << name;
    }
}

TEST(DatasetCountTest, NarrowAndWideTypesAreReadAsTheWiderOne)
{
    const std::pair<const char *, nfound_t> cases[] = {
        {"/mixed/i16_i32", 0}, {"/mixed/i16_i32_diff", 1}, {"/mixed/f32_f64", 0}, {"/mixed/be_le", 1}};
    expect_comparable_counts(cases);
}

TEST(DatasetCountTest, StorageAndStructuredTypes)
{
    const std::pair<const char *, nfound_t> cases[] = {
        {"/storage/chunked", 3},     {"/storage/deflate", 3},          {"/structured/compound", 3},
        {"/structured/array", 2},    {"/structured/vlen", 1},          {"/structured/vstring", 1},
        {"/structured/fstring", 2},  {"/structured/compound_vstring", 1}, {"/shapes/scalar", 1},
        {"/shapes/scalar_same", 0},  {"/subsets/two", 40},
    };
    expect_comparable_counts(cases);
}

TEST(DatasetCountTest, ScalarComparesItsOneElement)
{
    test_support::comparison o;
    o.settings.report_mode = 1;
    run_result r = compare("/shapes/scalar", o);
    EXPECT_EQ(r.found, 1u);
    EXPECT_EQ(r.out.rfind("size:           H5S_SCALAR", 0), 0u);
}

TEST(DatasetCountTest, ObjectReferencesCompareTheReferencedDatasets)
{
    test_support::comparison o;
    run_result r = compare("/refs", o);
    EXPECT_EQ(r.found, 4u); // two differences in /types/int and two in /types/double
    EXPECT_EQ(o.outcome.status, 0);
}

TEST(DatasetCountTest, CountLimitHoldsAcrossStrips)
{
    // /subsets/two differs in 40 elements spread over all of its rows.
    const hsize_t saved = hyperslab_bufsize;
    const hsize_t saved_limit = whole_read_limit;
    hyperslab_bufsize = 40; // one row of 10 ints per strip
    whole_read_limit = 0;
    test_support::comparison o;
    o.settings.count_mode = 1;
    o.settings.count_limit = 5;
    run_result r = compare("/subsets/two", o);
    hyperslab_bufsize = saved;
    whole_read_limit = saved_limit;
    EXPECT_EQ(r.found, 5u);
}

TEST(DatasetCountTest, CallersWorkingFieldsAreLeftAsTheyWere)
{
    test_support::comparison o;
    o.c.rank = 7;
    o.c.element_count = 99;
    o.c.dims[0] = 123;
    run_result r = compare("/types/int", o);
    EXPECT_EQ(r.found, 2u);
    EXPECT_EQ(o.c.rank, 7);
    EXPECT_EQ(o.c.element_count, 99u);
    EXPECT_EQ(o.c.dims[0], 123u);
    EXPECT_EQ(o.c.object_names[0], nullptr);
    EXPECT_EQ(o.c.header_pending, 1); // from the buffer comparison
}

// --- whole read or strips -----------------------------------------------------

TEST(DatasetStripTest, WholeReadBelowTheLimitStripsFromTheLimitOn)
{
    // /storage/chunked: 1000 doubles (8000 bytes) differing at 0, 499 and 999.
    // Strips of 100 elements put the three differences in three strips, and
    // each strip with a difference prints its own table header.
    const hsize_t saved = hyperslab_bufsize;
    const hsize_t saved_limit = whole_read_limit;
    hyperslab_bufsize = 800;

    whole_read_limit = 8001;
    test_support::comparison whole;
    whole.settings.report_mode = 1;
    run_result w = compare("/storage/chunked", whole);

    whole_read_limit = 8000;
    test_support::comparison strips;
    strips.settings.report_mode = 1;
    run_result s = compare("/storage/chunked", strips);

    hyperslab_bufsize = saved;
    whole_read_limit = saved_limit;

    EXPECT_EQ(w.found, 3u);
    EXPECT_EQ(occurrences(w.out, "size:"), 1u);
    EXPECT_EQ(s.found, 3u);
    EXPECT_EQ(occurrences(s.out, "size:"), 3u);
    // Positions are those of the full extent.
    for (const char *pos : {"[ 0 ]", "[ 499 ]", "[ 999 ]"}) {
        EXPECT_EQ(occurrences(w.out, pos), 1u) << pos;
        EXPECT_EQ(occurrences(s.out, pos), 1u) << pos;
    }
}

TEST(DatasetStripTest, TwoDimensionalStripsReportTruePositions)
{
    // /subsets/two is 12 x 10 ints; elements whose linear index is a multiple
    // of 3 differ. Strips of 4 rows (160 bytes), and of 7 elements of one row.
    for (hsize_t budget : {160, 28, 4}) {
        const hsize_t saved = hyperslab_bufsize;
        const hsize_t saved_limit = whole_read_limit;
        hyperslab_bufsize = budget;
        whole_read_limit = 0;
        test_support::comparison o;
        o.settings.report_mode = 1;
        run_result r = compare("/subsets/two", o);
        hyperslab_bufsize = saved;
        whole_read_limit = saved_limit;

        EXPECT_EQ(r.found, 40u) << budget;
        std::string expected_positions;
        for (int i = 0; i < 120; i += 3)
            expected_positions += "[ " + std::to_string(i / 10) + " " + std::to_string(i % 10) + " ]";
        std::string printed;
        for (size_t at = r.out.find("\n[ "); at != std::string::npos; at = r.out.find("\n[ ", at + 1))
            printed += r.out.substr(at + 1, r.out.find(']', at) - at);
        EXPECT_EQ(printed, expected_positions) << budget;
    }
}

// --- not comparable -------------------------------------------------------------

struct not_comparable_case {
    const char *path;
    const char *message;
};

TEST(DatasetNotComparableTest, MessagesWithListOptionAndSilenceWithout)
{
    const not_comparable_case cases[] = {
        {"/mixed/signed_unsigned",
         "Not comparable: </mixed/signed_unsigned> has sign H5T_SGN_2 and </mixed/signed_unsigned> has sign "
         "H5T_SGN_NONE\n"},
        {"/mixed/int_float",
         "Not comparable: </mixed/int_float> is of class H5T_INTEGER and </mixed/int_float> is of class "
         "H5T_FLOAT\n"},
        {"/shapes/rank", "Not comparable: </shapes/rank> has rank 1, dimensions [6], max dimensions [6]\n"
                         "and </shapes/rank> has rank 2, dimensions [2x3], max dimensions [2x3]\n"},
        {"/shapes/dims", "Not comparable: </shapes/dims> has rank 2, dimensions [3x4], max dimensions [3x4]\n"
                         "and </shapes/dims> has rank 2, dimensions [4x3], max dimensions [4x3]\n"},
        {"/shapes/half_empty",
         "Not comparable: </shapes/half_empty> or </shapes/half_empty> is an empty dataset\n"},
        {"/structured/compound_members",
         "Not comparable: </structured/compound_members> has 2 members </structured/compound_members> has 3 "
         "members \n"},
        {"/structured/mixed_string",
         "Not comparable: </structured/mixed_string> or </structured/mixed_string> is of mixed string type\n"},
    };
    for (const auto &c : cases) {
        test_support::comparison quiet;
        run_result q = compare(c.path, quiet);
        EXPECT_EQ(q.found, 0u) << c.path;
        EXPECT_EQ(quiet.outcome.not_comparable, 1) << c.path;
        EXPECT_EQ(quiet.outcome.status, 0) << c.path;
        EXPECT_EQ(q.out, "") << c.path;

        test_support::comparison listed;
        listed.settings.list_not_comparable = 1;
        run_result l = compare(c.path, listed);
        EXPECT_EQ(l.found, 0u) << c.path;
        EXPECT_EQ(listed.outcome.not_comparable, 1) << c.path;
        EXPECT_EQ(l.out, c.message) << c.path;
    }
}

TEST(DatasetEmptyTest, TwoDatasetsWithoutStorageCompareTheirFillValues)
{
    test_support::comparison o;
    o.settings.list_not_comparable = 1;
    run_result r = compare("/shapes/empty", o);
    EXPECT_EQ(r.found, 0u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(o.outcome.not_comparable, 0);
    EXPECT_EQ(o.outcome.status, 0);
}

TEST(DatasetNotComparableTest, UnreadableFilterAddsStatusOne)
{
    test_support::comparison o;
    run_result r = compare("/storage/user_filter", o);
    EXPECT_EQ(r.found, 0u);
    EXPECT_EQ(o.outcome.not_comparable, 1);
    EXPECT_EQ(o.outcome.status, 1);
    EXPECT_EQ(r.err, "");

    test_support::comparison v;
    v.settings.verbose_mode = 1;
    run_result rv = compare("/storage/user_filter", v);
    EXPECT_EQ(rv.err,
              "Warning: dataset </storage/user_filter> cannot be read, user defined filter is not available\n");
    EXPECT_EQ(v.outcome.status, 1);
}

TEST(DatasetNotComparableTest, TypeWithoutNativeFormIsNotAFailure)
{
    test_support::comparison o;
    o.settings.list_not_comparable = 1;
    run_result r = compare("/shapes/empty_time", o);
    EXPECT_EQ(r.out, "Not comparable: </shapes/empty_time> and </shapes/empty_time> are of class H5T_TIME\n");
    EXPECT_EQ(o.outcome.not_comparable, 1);
    EXPECT_EQ(o.outcome.status, 0);
}

TEST(DatasetNotComparableTest, FlagStaysSetForLaterComparablePairs)
{
    test_support::comparison o;
    compare("/shapes/half_empty", o);
    run_result r = compare("/types/int", o);
    EXPECT_EQ(r.found, 2u);
    EXPECT_EQ(o.outcome.not_comparable, 1);
}

// --- warnings and failures ------------------------------------------------------

TEST(DatasetWarningTest, VirtualDatasetWithoutStorageIsComparedAfterAWarning)
{
    test_support::comparison o;
    o.settings.list_not_comparable = 1;
    run_result r = compare("/shapes/virtual", o);
    EXPECT_EQ(r.out, "Warning: </shapes/virtual> or </shapes/virtual> is a virtual dataset\n");
    EXPECT_EQ(r.found, 0u);
    EXPECT_EQ(o.outcome.not_comparable, 0);
    EXPECT_EQ(o.outcome.status, 0);
}

TEST(DatasetWarningTest, DifferentMaximumDimensionsInVerboseMode)
{
    test_support::comparison o;
    o.settings.verbose_mode = 1;
    run_result r = compare("/shapes/maxdims", o);
    EXPECT_EQ(r.found, 0u);
    EXPECT_EQ(o.outcome.not_comparable, 0);
    EXPECT_EQ(r.out, "Warning: different maximum dimensions\n"
                     "</shapes/maxdims> has max dimensions [4]\n"
                     "</shapes/maxdims> has max dimensions [18446744073709551615]\n");
}

TEST(DatasetWarningTest, DifferentStorageTypesInVerboseMode)
{
    test_support::comparison o;
    o.settings.verbose_mode = 1;
    run_result r = compare("/mixed/be_le", o);
    EXPECT_EQ(r.found, 1u);
    EXPECT_EQ(r.out.substr(0, r.out.find("size:")),
              "Warning: different storage datatype\n"
              "</mixed/be_le> has file datatype H5T_STD_I32LE\n"
              "</mixed/be_le> has file datatype H5T_STD_I32BE\n");
}

TEST(DatasetFailureTest, MissingDatasetIsAnError)
{
    test_support::comparison o;
    file_pair f;
    const auto run = test_support::capture([&] {
        h5_errors_off quiet;
        return diff_dataset(f.a, f.b, "/types/int", "/nope", o.subsets(), o.ctx());
    });
    EXPECT_EQ(run.out, "Cannot open dataset </nope>\n");
    EXPECT_EQ(run.result, 0u);
    EXPECT_EQ(o.outcome.status, 2);
    EXPECT_EQ(o.outcome.not_comparable, 0);
}

// The fixture's user filter, registered here with a decoder that always
// fails: the dataset passes the filter check and then cannot be read.
size_t failing_filter(unsigned, size_t, const unsigned[], size_t, size_t *, void **)
{
    return 0;
}

TEST(DatasetFailureTest, UnreadableDataIsNamedInTheOutput)
{
    const H5Z_class2_t cls = {H5Z_CLASS_T_VERS, 32100, 1, 1, "failing", nullptr, nullptr, failing_filter};
    ASSERT_GE(H5Zregister(&cls), 0);
    test_support::comparison o;
    run_result r;
    {
        h5_errors_off quiet;
        r = compare("/storage/user_filter", o);
    }
    H5Zunregister(32100);
    EXPECT_EQ(r.out, "Cannot read dataset </storage/user_filter>\n");
    EXPECT_EQ(r.found, 0u);
    EXPECT_EQ(o.outcome.status, 2);
    EXPECT_EQ(o.outcome.not_comparable, 0);
}

TEST(CanTypeTest, TimeClassAndCompoundMemberClassesAreNotComparable)
{
    test_support::comparison o;
    o.settings.list_not_comparable = 1;
    char n1[] = "a", n2[] = "b";
    o.c.object_names[0] = n1;
    o.c.object_names[1] = n2;
    hsize_t dims[1] = {2};

    h5_datatype c1(H5Tcreate(H5T_COMPOUND, 8));
    H5Tinsert(c1, "x", 0, H5T_NATIVE_INT);
    h5_datatype c2(H5Tcreate(H5T_COMPOUND, 8));
    H5Tinsert(c2, "x", 0, H5T_NATIVE_FLOAT);
    auto can_type = [&](hid_t t1, hid_t t2) {
        return test_support::capture([&] { return diff_can_type(t1, t2, 1, 1, dims, dims, dims, dims, o.ctx(), false); });
    };
    auto members = can_type(c1, c2);
    EXPECT_EQ(members.result, 0);
    EXPECT_EQ(members.out, "Not comparable: <a> has a class H5T_INTEGER and <b> has a class H5T_FLOAT\n");
    EXPECT_EQ(o.outcome.not_comparable, 1);

    h5_datatype t(H5Tcopy(H5T_UNIX_D32LE));
    auto times = can_type(t, t);
    EXPECT_EQ(times.result, 0);
    EXPECT_EQ(times.out, "Not comparable: <a> and <b> are of class H5T_TIME\n");

    // Without names nothing is printed.
    o.c.object_names[1] = nullptr;
    auto unnamed = can_type(t, t);
    EXPECT_EQ(unnamed.result, 0);
    EXPECT_EQ(unnamed.out, "");
}

TEST(MatchUpMemsizeTest, SmallerSideTakesTheWiderNativeType)
{
    hid_t m1 = H5Tcopy(H5T_NATIVE_SHORT);
    hid_t m2 = H5Tcopy(H5T_NATIVE_INT);
    size_t s1 = 2, s2 = 4;
    EXPECT_EQ(match_up_memsize(H5T_STD_I16LE, H5T_STD_I32BE, &m1, &m2, &s1, &s2), 0);
    EXPECT_EQ(s1, 4u);
    EXPECT_GT(H5Tequal(m1, H5T_NATIVE_INT), 0);
    H5Tclose(m1);
    H5Tclose(m2);

    m1 = H5Tcopy(H5T_NATIVE_DOUBLE);
    m2 = H5Tcopy(H5T_NATIVE_FLOAT);
    s1 = 8;
    s2 = 4;
    EXPECT_EQ(match_up_memsize(H5T_IEEE_F64LE, H5T_IEEE_F32LE, &m1, &m2, &s1, &s2), 0);
    EXPECT_EQ(s2, 8u);
    EXPECT_GT(H5Tequal(m2, H5T_NATIVE_DOUBLE), 0);
    H5Tclose(m1);
    H5Tclose(m2);
}

} // namespace
