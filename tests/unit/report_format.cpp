// The difference report: table header, positions of every rank (block starts
// and subsets), character rows and escaping, region block corners, and the
// labels and small printers.
#include "mirlo_report.hpp"
#include "test_support.hpp"
#include "zarn_utils.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// A comparison in report mode of buffers of the given extent.
struct extent : test_support::comparison {
    extent(int rank, std::initializer_list<uint64_t> dims) : comparison(true)
    {
        c.rank = rank;
        int i = 0;
        for (uint64_t d : dims)
            c.dims[i++] = d;
        init_accumulators(rank, c.dims, c.accumulators);
    }
};

std::string position_of(extent &o, uint64_t elem_idx, size_t char_idx = 0)
{
    return test_support::capture([&] { print_position(o.ctx(), elem_idx, char_idx); }).out;
}

const std::string TAIL(10, ' ');

// The printers' sink in a one-process run.
output_sink to_stdout(stdout);

// Owns the lists of a subset record built in a test.
struct subset_holder {
    subset_spec spec{};
    hsize_t values[4][MIRLO_MAX_RANK];
    subset_holder(std::initializer_list<hsize_t> start, std::initializer_list<hsize_t> stride,
                  std::initializer_list<hsize_t> count, std::initializer_list<hsize_t> block)
    {
        hsize_list *lists[] = {&spec.start, &spec.stride, &spec.count, &spec.block};
        const std::initializer_list<hsize_t> *src[] = {&start, &stride, &count, &block};
        for (int l = 0; l < 4; ++l) {
            int i = 0;
            for (hsize_t v : *src[l])
                values[l][i++] = v;
            lists[l]->values = values[l];
            lists[l]->count = static_cast<hsize_t>(i);
        }
    }
};

TEST(AccumulatorTest, RowMajorStrides)
{
    uint64_t dims[] = {2, 3, 4};
    uint64_t acc[3];
    init_accumulators(3, dims, acc);
    EXPECT_EQ(acc[0], 12u);
    EXPECT_EQ(acc[1], 4u);
    EXPECT_EQ(acc[2], 1u);
    uint64_t untouched = 5;
    init_accumulators(0, dims, &untouched);
    EXPECT_EQ(untouched, 5u);
}

TEST(AccumulatorTest, IndexToPositionSplitsALinearIndex)
{
    const uint64_t acc[] = {12, 4, 1};
    uint64_t pos[3];
    EXPECT_EQ(index_to_position(3, 23, acc, pos), 0u);
    EXPECT_EQ(pos[0], 1u);
    EXPECT_EQ(pos[1], 2u);
    EXPECT_EQ(pos[2], 3u);
    EXPECT_EQ(index_to_position(3, 0, acc, pos), 0u);
    EXPECT_EQ(pos[0] + pos[1] + pos[2], 0u);
}

TEST(PositionTest, HeaderOncePerPendingFlagWithoutRelativeColumn)
{
    extent o(2, {3, 4});
    char n1[] = "dset1", n2[] = "dset2";
    o.c.object_names[0] = n1;
    o.c.object_names[1] = n2;
    o.c.header_pending = 1;
    EXPECT_EQ(position_of(o, 5),
              "size:           [3x4]           [3x4]\n"
              "position        dset1           dset2           difference          \n"
              "------------------------------------------------------------\n"
              "[ 1 1 ]" + TAIL);
    EXPECT_EQ(o.c.header_pending, 0);
    EXPECT_EQ(position_of(o, 11), "[ 2 3 ]" + TAIL);
}

TEST(PositionTest, HeaderWithRelativeColumn)
{
    extent o(1, {7});
    char n1[] = "a", n2[] = "b";
    o.c.object_names[0] = n1;
    o.c.object_names[1] = n2;
    o.c.header_pending = 1;
    o.c.relative_header = 1;
    EXPECT_EQ(position_of(o, 0),
              "size:           [7]           [7]\n"
              "position        a               b               difference      relative       \n"
              "------------------------------------------------------------------------\n"
              "[ 0 ]" + TAIL);
}

TEST(PositionTest, NothingWithoutReportOrVerboseOrWhenQuiet)
{
    extent o(1, {7});
    o.c.header_pending = 1;
    o.settings.report_mode = 0;
    EXPECT_EQ(position_of(o, 3), "");
    EXPECT_EQ(o.c.header_pending, 1);
    o.settings.verbose_mode = 1;
    o.settings.quiet_mode = 1;
    EXPECT_EQ(position_of(o, 3), "");
    o.settings.quiet_mode = 0;
    EXPECT_NE(position_of(o, 3), "");
}

TEST(PositionTest, RankZeroWithAndWithoutCharacterIndex)
{
    extent o(0, {});
    o.c.header_pending = 1;
    EXPECT_EQ(position_of(o, 0),
              "size:           H5S_SCALAR           H5S_SCALAR\n"
              "position                                        difference          \n"
              "------------------------------------------------------------\n"
              "      " + TAIL);
    o.c.index_pending = 1;
    EXPECT_EQ(position_of(o, 0, 12), "[ 12]" + TAIL);
    EXPECT_EQ(o.c.index_pending, 0);
    EXPECT_EQ(position_of(o, 0, 12), "      " + TAIL);
}

TEST(PositionTest, BlockStartIsAddedForEveryRank)
{
    extent o1(1, {100});
    o1.c.block_start[0] = 40;
    EXPECT_EQ(position_of(o1, 2), "[ 42 ]" + TAIL);

    extent o2(2, {2, 3});
    EXPECT_EQ(position_of(o2, 4), "[ 1 1 ]" + TAIL);
    o2.c.block_start[0] = 10;
    EXPECT_EQ(position_of(o2, 4), "[ 11 1 ]" + TAIL);
    EXPECT_EQ(o2.c.position[0], 11u);

    extent o3(3, {4, 5, 6});
    o3.c.block_start[0] = 2;
    o3.c.block_start[1] = 1;
    o3.c.block_start[2] = 3;
    EXPECT_EQ(position_of(o3, 0), "[ 2 1 3 ]" + TAIL);
    EXPECT_EQ(position_of(o3, 37), "[ 3 2 4 ]" + TAIL); // 37 = 1x30 + 1x6 + 1
}

TEST(PositionTest, SubsetOfRankOneMapsStrides)
{
    extent o(1, {10});
    subset_holder s({1}, {3}, {3}, {1});
    o.c.subset = &s.spec;
    o.c.block_start[0] = 1;
    EXPECT_EQ(position_of(o, 0), "[ 1 ]" + TAIL);
    EXPECT_EQ(position_of(o, 1), "[ 4 ]" + TAIL);
    EXPECT_EQ(position_of(o, 2), "[ 7 ]" + TAIL);
}

TEST(PositionTest, SubsetOfRankTwoWithBlocks)
{
    // dims 8 x 10; start (1,2), stride (4,5), count (2,2), block (2,3):
    // rows 1,2,5,6 and columns 2,3,4,7,8,9; 24 elements in row-major order.
    extent o(2, {8, 10});
    subset_holder s({1, 2}, {4, 5}, {2, 2}, {2, 3});
    o.c.subset = &s.spec;
    o.c.block_start[0] = 1;
    o.c.block_start[1] = 2;
    const int rows[] = {1, 2, 5, 6};
    const int cols[] = {2, 3, 4, 7, 8, 9};
    for (uint64_t i = 0; i < 24; ++i) {
        const std::string expected =
            "[ " + std::to_string(rows[i / 6]) + " " + std::to_string(cols[i % 6]) + " ]" + TAIL;
        EXPECT_EQ(position_of(o, i), expected) << i;
    }
}

TEST(PositionTest, SubsetOfRankThreeWithBlocks)
{
    // dims 4 x 6 x 9; start (1,0,2), stride (2,3,4), count (2,2,2), block (1,2,3).
    extent o(3, {4, 6, 9});
    subset_holder s({1, 0, 2}, {2, 3, 4}, {2, 2, 2}, {1, 2, 3});
    o.c.subset = &s.spec;
    o.c.block_start[0] = 1;
    o.c.block_start[1] = 0;
    o.c.block_start[2] = 2;
    const int d0[] = {1, 3};
    const int d1[] = {0, 1, 3, 4};
    const int d2[] = {2, 3, 4, 6, 7, 8};
    uint64_t i = 0;
    for (int a : d0)
        for (int b : d1)
            for (int c : d2) {
                const std::string expected = "[ " + std::to_string(a) + " " + std::to_string(b) + " " +
                                             std::to_string(c) + " ]" + TAIL;
                EXPECT_EQ(position_of(o, i), expected) << i;
                ++i;
            }
}

TEST(CharacterRowTest, ScalarStringShowsTheCharacterIndex)
{
    extent o(0, {});
    const unsigned char b = 'b', c = 'c';
    const auto rows = test_support::capture([&] {
        return std::pair<nfound_t, nfound_t>{diff_char_pair(&b, &b, 0, 1, o.ctx()), diff_char_pair(&b, &c, 0, 1, o.ctx())};
    });
    EXPECT_EQ(rows.result.first, 0u);
    EXPECT_EQ(rows.result.second, 1u);
    EXPECT_EQ(rows.out, "[ 1]" + TAIL + "  b            c\n");
    EXPECT_EQ(o.c.relative_header, 0);
}

TEST(CharacterRowTest, CountedButNotPrintedWithoutReport)
{
    extent o(0, {});
    o.settings.report_mode = 0;
    const unsigned char b = 'b', c = 'c';
    const auto row = test_support::capture([&] { return diff_char_pair(&b, &c, 0, 1, o.ctx()); });
    EXPECT_EQ(row.result, 1u);
    EXPECT_EQ(row.out, "");
}

TEST(CharacterRowTest, EscapesBothCharacters)
{
    extent o(1, {4});
    const unsigned char tab = '\t', high = 200;
    const auto row = test_support::capture([&] { return diff_char_pair(&tab, &high, 2, 5, o.ctx()); });
    EXPECT_EQ(row.result, 1u);
    EXPECT_EQ(row.out, "[ 2 ]" + TAIL + "  \\t            \\310\n");
    EXPECT_EQ(o.c.index_pending, 0); // not left over for a later scalar row
}

TEST(EscapeTest, EveryKindOfCharacter)
{
    const std::pair<int, std::string> cases[] = {
        {8, "\\b"},   {9, "\\t"},    {10, "\\n"},   {12, "\\f"},   {13, "\\r"},   {34, "\\\""},
        {92, "\\\\"}, {'a', "a"},    {' ', " "},    {'~', "~"},    {0, "\\000"},  {7, "\\007"},
        {11, "\\013"}, {127, "\\177"}, {128, "\\200"}, {200, "\\310"}, {255, "\\377"}, {-56, "\\310"},
    };
    for (const auto &[c, expected] : cases) {
        EXPECT_EQ(test_support::capture([&] { print_escaped_char(&to_stdout, c); }).out, expected) << c;
    }
}

TEST(EscapeTest, NamesKeepTextAndEscapeControlCharacters)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/g1/dset", "/g1/dset"},
        {"/a b/\"q\"\\x", "/a b/\"q\"\\x"},            // printable ASCII as it is
        {"/forged\n1 differences found", "/forged\\n1 differences found"},
        {"/esc\x1b[2J", "/esc\\033[2J"},                  // terminal escape
        {"\b\t\f\r\x7f\x01", "\\b\\t\\f\\r\\177\\001"},
        {"/temp\xc3\xa9rature/\xe2\x82\xac/\xf0\x9f\x98\x80", "/temp\xc3\xa9rature/\xe2\x82\xac/\xf0\x9f\x98\x80"},
        {"/c1\xc2\x9b", "/c1\\302\\233"},               // U+009B, a control character
        {"/bad\xff\xc3", "/bad\\377\\303"},             // not UTF-8; cut-off sequence at the end
        {"/over\xe0\x80\xaf", "/over\\340\\200\\257"}, // overlong form
        {"", ""},
    };
    for (const auto &[name, expected] : cases)
        EXPECT_EQ(zarn_printable_name(name.c_str()), expected) << expected;
    EXPECT_EQ(zarn_printable_name(nullptr), "");
}

TEST(BlockCornersTest, StartAndEndCornersOfTheNumberedBlock)
{
    const hsize_t coords[] = {0, 0, 1, 1, 2, 3, 4, 5};
    auto corners = [&](uint64_t block, int rank) {
        return test_support::capture([&] { print_block_corners(&to_stdout, block, coords, rank); }).out;
    };
    EXPECT_EQ(corners(1, 2), "           (2,3)-(4,5)");
    EXPECT_EQ(corners(3, 1), "           (4)-(5)"); // block 3 of rank 1: entries 6, 7
}

TEST(PrinterTest, Extent)
{
    const hsize_t dims[] = {10, 20};
    auto extent = [](int rank, const hsize_t *d) {
        return test_support::capture([&] { print_extent(&to_stdout, rank, d); }).out;
    };
    EXPECT_EQ(extent(2, dims), "[10x20]");
    EXPECT_EQ(extent(1, dims), "[10]");
    EXPECT_EQ(extent(0, dims), "H5S_SCALAR");
    EXPECT_EQ(extent(-1, dims), "H5S_SCALAR");
    EXPECT_EQ(extent(2, nullptr), "dimension is NULL");
}

TEST(PrinterTest, FileTypeNames)
{
    auto name = [](hid_t t) {
        return test_support::capture([&] { print_file_type_name(&to_stdout, t); }).out;
    };
    EXPECT_EQ(name(H5T_STD_I16BE), "H5T_STD_I16BE");
    EXPECT_EQ(name(H5T_STD_U64LE), "H5T_STD_U64LE");
    EXPECT_EQ(name(H5T_NATIVE_INT), "H5T_STD_I32LE"); // the first equal name wins
    EXPECT_EQ(name(H5T_IEEE_F64BE), "H5T_IEEE_F64BE");
    EXPECT_EQ(name(H5T_NATIVE_LDOUBLE), "H5T_NATIVE_LDOUBLE");
    EXPECT_EQ(name(H5T_STD_B32LE), "H5T_STD_B32LE");
    EXPECT_EQ(name(H5T_C_S1), "");
    hid_t odd = H5Tcopy(H5T_STD_I32LE);
    H5Tset_precision(odd, 24);
    EXPECT_EQ(name(odd), "undefined integer");
    H5Tclose(odd);
}

TEST(PrinterTest, DifferenceCount)
{
    EXPECT_EQ(test_support::capture([] { print_difference_count(&to_stdout, 18446744073709551615ULL); }).out,
              "18446744073709551615 differences found\n");
}

TEST(LabelTest, ObjectSignAndClassLabels)
{
    EXPECT_STREQ(object_type_label(0), "H5G_GROUP");
    EXPECT_STREQ(object_type_label(2), "H5G_TYPE");
    EXPECT_STREQ(object_type_label(4), "H5G_UDLINK");
    EXPECT_STREQ(object_type_label(-1), "unknown type");
    EXPECT_STREQ(object_type_label(5), "unknown type");
    EXPECT_STREQ(sign_label(-1), "H5T_SGN_ERROR");
    EXPECT_STREQ(sign_label(0), "H5T_SGN_NONE");
    EXPECT_STREQ(sign_label(1), "H5T_SGN_2");
    EXPECT_STREQ(sign_label(2), "H5T_NSGN");
    EXPECT_STREQ(sign_label(3), "unknown sign value");
    EXPECT_STREQ(class_label(0), "H5T_INTEGER");
    EXPECT_STREQ(class_label(7), "H5T_REFERENCE");
    EXPECT_STREQ(class_label(10), "H5T_ARRAY");
    EXPECT_STREQ(class_label(-1), "Invalid class");
    EXPECT_STREQ(class_label(11), "Invalid class");
}

TEST(LabelTest, LastPathComponent)
{
    EXPECT_STREQ(last_path_component("/g1/dset"), "dset");
    EXPECT_STREQ(last_path_component("dset"), "dset");
    EXPECT_STREQ(last_path_component("/g1/dset/"), "dset/");
    EXPECT_STREQ(last_path_component("/g1/dset//"), "dset//");
    EXPECT_STREQ(last_path_component("/"), "/");
    EXPECT_STREQ(last_path_component("///"), "///");
    EXPECT_STREQ(last_path_component("/dset"), "dset");
    EXPECT_STREQ(last_path_component(""), "");
    EXPECT_EQ(last_path_component(nullptr), nullptr);
}

} // namespace
