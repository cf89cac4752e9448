// Comparing attribute values: counts, the report line by output mode,
// pairs that are not comparable, attributes without elements, and the
// caller's context left as it was.
#include "mirlo_attr.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct result {
    nfound_t nfound;
    std::string out;
};

// diff_attr on the object at path in attr_1.h5 and attr_2.h5.
result compare(const char *path, test_support::comparison &opts)
{
    h5_file f1 = test_support::open_fixture("attr_1.h5");
    h5_file f2 = test_support::open_fixture("attr_2.h5");
    h5_object o1(H5Oopen(f1, path, H5P_DEFAULT));
    h5_object o2(H5Oopen(f2, path, H5P_DEFAULT));
    EXPECT_TRUE(o1.valid() && o2.valid()) << path;
    const auto run = test_support::capture([&] { return diff_attr(o1, o2, path, path, opts.ctx()); });
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
    test_support::comparison opts;
    result r = compare("/grp", opts);
    EXPECT_EQ(r.nfound, 1u);
    EXPECT_EQ(r.out, "attribute: <temp of </grp>> and <temp of </grp>>\n"
                     "1 differences found\n");
    EXPECT_EQ(opts.outcome.status, 0);
    EXPECT_EQ(opts.outcome.not_comparable, 0);

    test_support::comparison equal;
    result root = compare("/", equal);
    EXPECT_EQ(root.nfound, 0u);
    EXPECT_EQ(root.out, "");
}

TEST(AttrValues, QuietModeCountsWithoutPrinting)
{
    test_support::comparison opts;
    opts.settings.quiet_mode = 1;
    result r = compare("/grp", opts);
    EXPECT_EQ(r.nfound, 1u);
    EXPECT_EQ(r.out, "");
}

TEST(AttrValues, VerboseAndReportModesFrameEveryPair)
{
    for (int mode = 0; mode < 2; ++mode) {
        test_support::comparison opts;
        (mode ? opts.settings.report_mode : opts.settings.verbose_mode) = 1;
        result r = compare("/scalar", opts);
        EXPECT_EQ(r.nfound, 1u);
        EXPECT_TRUE(starts_with(r.out, "attribute: <s of </scalar>> and <s of </scalar>>\n")) << r.out;
        EXPECT_TRUE(ends_with(r.out, "\n1 differences found\n")) << r.out;
        // The difference table in between starts with its header.
        EXPECT_NE(r.out.find("size:"), std::string::npos) << r.out;

        // An equal pair is framed too, with a count of 0.
        test_support::comparison eq;
        (mode ? eq.settings.report_mode : eq.settings.verbose_mode) = 1;
        result root = compare("/", eq);
        EXPECT_EQ(root.out, "attribute: <root_attr of </>> and <root_attr of </>>\n"
                            "0 differences found\n");
    }
}

TEST(AttrValues, NotComparablePairsCountNothingAndAreNoError)
{
    test_support::comparison opts;
    opts.settings.list_not_comparable = 1;
    result r = compare("/mixed", opts);
    EXPECT_EQ(r.nfound, 0u);
    EXPECT_EQ(opts.outcome.not_comparable, 1);
    EXPECT_EQ(opts.outcome.status, 0);
    // shape: 2x3 against 3x2; w: 16-bit against 32-bit big-endian, equal
    // values, comparable; x: integer against float.
    EXPECT_EQ(r.out, "Not comparable: <shape> has rank 2, dimensions [2x3], max dimensions [2x3]\n"
                     "and <shape> has rank 2, dimensions [3x2], max dimensions [3x2]\n"
                     "Not comparable: <x> is of class H5T_INTEGER and <x> is of class H5T_FLOAT\n");

    test_support::comparison silent;
    result s = compare("/mixed", silent);
    EXPECT_EQ(s.out, "");
    EXPECT_EQ(silent.outcome.not_comparable, 1);
}

TEST(AttrValues, AttributesWithoutElementsCompareEqual)
{
    test_support::comparison opts;
    opts.settings.verbose_mode = 1;
    result r = compare("/empty", opts);
    EXPECT_EQ(r.nfound, 0u);
    EXPECT_EQ(opts.outcome.status, 0);
    EXPECT_EQ(opts.outcome.not_comparable, 0);
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
    test_support::comparison opts;
    result r = compare("/vlen", opts);
    // rec differs in one member of one element, words in one character.
    EXPECT_EQ(r.nfound, 2u);
    EXPECT_EQ(r.out, "attribute: <rec of </vlen>> and <rec of </vlen>>\n"
                     "1 differences found\n"
                     "attribute: <words of </vlen>> and <words of </vlen>>\n"
                     "1 differences found\n");
    EXPECT_EQ(opts.outcome.status, 0);
}

TEST(AttrValues, CountsAreSummedOverCommonAttributesOnly)
{
    test_support::comparison opts;
    result r = compare("/dset", opts);
    EXPECT_EQ(r.nfound, 1u); // units; the long-named attributes are equal or one-sided
    EXPECT_TRUE(opts.outcome.members_differ);
    EXPECT_EQ(opts.outcome.status, 0);
}

TEST(AttrValues, CallersWorkingFieldsAreKeptAndTheOutcomeIsShared)
{
    char n1[] = "left", n2[] = "right";
    test_support::comparison opts;
    opts.c.rank = 5;
    opts.c.element_count = 77;
    opts.c.dims[0] = 9;
    opts.c.object_names[0] = n1;
    opts.c.object_names[1] = n2;
    opts.outcome.status = 1;
    opts.c.header_pending = 0;
    result r = compare("/grp", opts);
    EXPECT_EQ(r.nfound, 1u);
    EXPECT_EQ(opts.c.rank, 5);
    EXPECT_EQ(opts.c.element_count, 77u);
    EXPECT_EQ(opts.c.dims[0], 9u);
    EXPECT_EQ(opts.c.object_names[0], n1);
    EXPECT_EQ(opts.c.object_names[1], n2);
    EXPECT_EQ(opts.outcome.status, 1);
    // Every attribute is a table of its own: the caller's table is left as it was.
    EXPECT_EQ(opts.c.header_pending, 0);
}

TEST(AttrValues, DiffAttrDataLeavesTheCallersContextAlone)
{
    h5_file f1 = test_support::open_fixture("attr_1.h5");
    h5_file f2 = test_support::open_fixture("attr_2.h5");
    h5_attribute a1(H5Aopen_by_name(f1, "/grp", "temp", H5P_DEFAULT, H5P_DEFAULT));
    h5_attribute a2(H5Aopen_by_name(f2, "/grp", "temp", H5P_DEFAULT, H5P_DEFAULT));
    ASSERT_TRUE(a1.valid() && a2.valid());
    char n1[] = "left";
    test_support::comparison opts;
    opts.c.object_names[0] = n1;
    opts.settings.quiet_mode = 1;
    EXPECT_EQ(diff_attr_data(a1, a2, "temp", "temp", "/grp", "/grp", opts.ctx()), 1u);
    // The attribute is described in a context of its own.
    EXPECT_EQ(opts.c.rank, 0);
    EXPECT_EQ(opts.c.element_count, 0u);
    EXPECT_EQ(opts.c.object_names[0], n1);
    EXPECT_EQ(opts.c.object_names[1], nullptr);
    EXPECT_EQ(opts.outcome.status, 0);
}

TEST(AttrValues, SubsetsOfTheObjectDoNotApplyToItsAttributes)
{
    // Report mode prints positions; a subset of the dataset must not shift
    // the position of an attribute element.
    char suffix[] = "/grp[2]";
    test_support::comparison opts;
    opts.settings.report_mode = 1;
    opts.settings.subsets[0] = subset_spec_owned(parse_subset_spec(suffix));
    ASSERT_NE(opts.settings.subsets[0], nullptr);
    result r = compare("/grp", opts);
    EXPECT_EQ(r.nfound, 1u);
    EXPECT_NE(r.out.find("[ 1 ]"), std::string::npos) << r.out;
}
