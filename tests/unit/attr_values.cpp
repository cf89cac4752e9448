// Comparing attribute values: counts, the report line by output mode,
// pairs that are not comparable, attributes without elements, and the
// fields left in the caller's options record.
#include "mirlo_attr.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

diff_options fresh_options()
{
    return test_support::default_options();
}

struct result {
    nfound_t nfound;
    std::string out;
};

// diff_attr on the object at path in attr_1.h5 and attr_2.h5.
result compare(const char *path, diff_options &opts)
{
    h5_file f1 = test_support::open_fixture("attr_1.h5");
    h5_file f2 = test_support::open_fixture("attr_2.h5");
    h5_object o1(H5Oopen(f1, path, H5P_DEFAULT));
    h5_object o2(H5Oopen(f2, path, H5P_DEFAULT));
    EXPECT_TRUE(o1.valid() && o2.valid()) << path;
    const auto run = test_support::capture([&] { return diff_attr(o1, o2, path, path, &opts); });
    return {run.result, run.out};
}

bool starts_with(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string &s, const std::string &suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

TEST(AttrValues, DefaultModePrintsReportLineAndCountOnlyForDifferences)
{
    diff_options opts = fresh_options();
    result r = compare("/grp", opts);
    EXPECT_EQ(r.nfound, 1u);
    EXPECT_EQ(r.out, "attribute: <temp of </grp>> and <temp of </grp>>\n"
                     "1 differences found\n");
    EXPECT_EQ(opts.error_status, 0);
    EXPECT_EQ(opts.not_comparable, 0);

    diff_options equal = fresh_options();
    result root = compare("/", equal);
    EXPECT_EQ(root.nfound, 0u);
    EXPECT_EQ(root.out, "");
}

TEST(AttrValues, QuietModeCountsWithoutPrinting)
{
    diff_options opts = fresh_options();
    opts.quiet_mode = 1;
    result r = compare("/grp", opts);
    EXPECT_EQ(r.nfound, 1u);
    EXPECT_EQ(r.out, "");
}

TEST(AttrValues, VerboseAndReportModesFrameEveryPair)
{
    for (int mode = 0; mode < 2; ++mode) {
        diff_options opts = fresh_options();
        (mode ? opts.report_mode : opts.verbose_mode) = 1;
        result r = compare("/scalar", opts);
        EXPECT_EQ(r.nfound, 1u);
        EXPECT_TRUE(starts_with(r.out, "attribute: <s of </scalar>> and <s of </scalar>>\n")) << r.out;
        EXPECT_TRUE(ends_with(r.out, "\n1 differences found\n")) << r.out;
        // The difference table in between starts with its header.
        EXPECT_NE(r.out.find("size:"), std::string::npos) << r.out;

        // An equal pair is framed too, with a count of 0.
        diff_options eq = fresh_options();
        (mode ? eq.report_mode : eq.verbose_mode) = 1;
        result root = compare("/", eq);
        EXPECT_EQ(root.out, "attribute: <root_attr of </>> and <root_attr of </>>\n"
                            "0 differences found\n");
    }
}

TEST(AttrValues, NotComparablePairsCountNothingAndAreNoError)
{
    diff_options opts = fresh_options();
    opts.list_not_comparable = 1;
    result r = compare("/mixed", opts);
    EXPECT_EQ(r.nfound, 0u);
    EXPECT_EQ(opts.not_comparable, 1);
    EXPECT_EQ(opts.error_status, 0);
    // shape: 2x3 against 3x2; w: 16-bit against 32-bit big-endian, equal
    // values, comparable; x: integer against float.
    EXPECT_EQ(r.out, "Not comparable: <shape> has rank 2, dimensions [2x3], max dimensions [2x3]\n"
                     "and <shape> has rank 2, dimensions [3x2], max dimensions [3x2]\n"
                     "Not comparable: <x> is of class H5T_INTEGER and <x> is of class H5T_FLOAT\n");

    diff_options silent = fresh_options();
    result s = compare("/mixed", silent);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(silent.not_comparable, 1);
}

TEST(AttrValues, AttributesWithoutElementsCompareEqual)
{
    diff_options opts = fresh_options();
    opts.verbose_mode = 1;
    result r = compare("/empty", opts);
    EXPECT_EQ(r.nfound, 0u);
    EXPECT_EQ(opts.error_status, 0);
    EXPECT_EQ(opts.not_comparable, 0);
    EXPECT_EQ(r.out, "attribute: <null_int of </empty>> and <null_int of </empty>>\n"
                     "0 differences found\n"
                     "attribute: <null_ref of </empty>> and <null_ref of </empty>>\n"
                     "0 differences found\n"
                     "attribute: <null_str of </empty>> and <null_str of </empty>>\n"
                     "0 differences found\n"
                     "attribute: <zero of </empty>> and <zero of </empty>>\n"
                     "0 differences found\n");
}

TEST(AttrValues, StringsAndCompoundsAreComparedByValue)
{
    diff_options opts = fresh_options();
    result r = compare("/vlen", opts);
    // rec differs in one member of one element, words in one character.
    EXPECT_EQ(r.nfound, 2u);
    EXPECT_EQ(r.out, "attribute: <rec of </vlen>> and <rec of </vlen>>\n"
                     "1 differences found\n"
                     "attribute: <words of </vlen>> and <words of </vlen>>\n"
                     "1 differences found\n");
    EXPECT_EQ(opts.error_status, 0);
}

TEST(AttrValues, CountsAreSummedOverCommonAttributesOnly)
{
    diff_options opts = fresh_options();
    result r = compare("/dset", opts);
    EXPECT_EQ(r.nfound, 1u); // units; the long-named attributes are equal or one-sided
    EXPECT_EQ(opts.contents_equal, 0);
    EXPECT_EQ(opts.error_status, 0);
}

TEST(AttrValues, CallersWorkingFieldsAreKeptAndStateIsPassedBack)
{
    char n1[] = "left", n2[] = "right";
    diff_options opts = fresh_options();
    opts.rank = 5;
    opts.element_count = 77;
    opts.dims[0] = 9;
    opts.object_names[0] = n1;
    opts.object_names[1] = n2;
    opts.error_status = 1;
    opts.header_pending = 0;
    result r = compare("/grp", opts);
    EXPECT_EQ(r.nfound, 1u);
    EXPECT_EQ(opts.rank, 5);
    EXPECT_EQ(opts.element_count, 77u);
    EXPECT_EQ(opts.dims[0], 9u);
    EXPECT_EQ(opts.object_names[0], n1);
    EXPECT_EQ(opts.object_names[1], n2);
    EXPECT_EQ(opts.error_status, 1);
    // No row was printed, so the header is still pending after the comparison.
    EXPECT_EQ(opts.header_pending, 1);
}

TEST(AttrValues, DiffAttrDataFillsWorkingFieldsAndRestoresNames)
{
    h5_file f1 = test_support::open_fixture("attr_1.h5");
    h5_file f2 = test_support::open_fixture("attr_2.h5");
    h5_attribute a1(H5Aopen_by_name(f1, "/grp", "temp", H5P_DEFAULT, H5P_DEFAULT));
    h5_attribute a2(H5Aopen_by_name(f2, "/grp", "temp", H5P_DEFAULT, H5P_DEFAULT));
    ASSERT_TRUE(a1.valid() && a2.valid());
    char n1[] = "left";
    diff_options opts = fresh_options();
    opts.object_names[0] = n1;
    opts.quiet_mode = 1;
    EXPECT_EQ(diff_attr_data(a1, a2, "temp", "temp", "/grp", "/grp", &opts), 1u);
    EXPECT_EQ(opts.rank, 1);
    EXPECT_EQ(opts.dims[0], 3u);
    EXPECT_EQ(opts.element_count, 3u);
    EXPECT_EQ(opts.block_element_count, 3u);
    EXPECT_EQ(opts.accumulators[0], 1u);
    EXPECT_EQ(opts.object_names[0], n1);
    EXPECT_EQ(opts.object_names[1], nullptr);
    EXPECT_EQ(opts.error_status, 0);
}

TEST(AttrValues, SubsetsOfTheObjectDoNotApplyToItsAttributes)
{
    // Report mode prints positions; a subset of the dataset must not shift
    // the position of an attribute element.
    subset_spec spec{};
    diff_options opts = fresh_options();
    opts.report_mode = 1;
    opts.subsets[0] = &spec;
    opts.subsets[1] = &spec;
    result r = compare("/grp", opts);
    EXPECT_EQ(r.nfound, 1u);
    EXPECT_NE(r.out.find("[ 1 ]"), std::string::npos) << r.out;
    EXPECT_EQ(opts.subsets[0], &spec);
}
