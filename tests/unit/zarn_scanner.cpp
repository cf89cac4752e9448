// The option scanner, number lists and subset suffixes.
#include "zarn.hpp"
#include "zarn_options.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char *const SHORT_OPTS = "cd:ehln:p:qrv*xA:CE:NS*V";
const zarn_long_option LONG_OPTS[] = {
    {"compare", arg_none, 'c'},       {"delta", arg_required, 'd'},   {"verbose", arg_optional, 'v'},
    {"exclude-path", arg_required, 'E'}, {"quiet", arg_none, 'q'}, {nullptr, 0, 0},
};

// Scans a whole command line and records each letter with its value.
struct scan_result {
    std::vector<std::string> seen; // "c", "d=5", ...
    int index_after = 0;
};

scan_result scan(std::vector<const char *> words)
{
    zarn_reset_scanner();
    zarn_opt_report = 0;
    words.insert(words.begin(), "prog");
    scan_result r;
    int c;
    while ((c = zarn_scan_option(static_cast<int>(words.size()), words.data(), SHORT_OPTS, LONG_OPTS)) != -1) {
        std::string s(1, static_cast<char>(c));
        if (zarn_opt_arg)
            s += std::string("=") + zarn_opt_arg;
        r.seen.push_back(s);
    }
    r.index_after = zarn_opt_index;
    zarn_reset_scanner();
    return r;
}

using V = std::vector<std::string>;

TEST(ScannerTest, DoubleDashEndsOptionsAndIsConsumed)
{
    auto r = scan({"-c", "--", "-q"});
    EXPECT_EQ(r.seen, V{"c"});
    EXPECT_EQ(r.index_after, 3);
}

TEST(ScannerTest, LoneDashAndFirstOperandStopScanningWithoutMoving)
{
    EXPECT_EQ(scan({"-", "x"}).index_after, 1);
    auto r = scan({"file", "-c"});
    EXPECT_TRUE(r.seen.empty());
    EXPECT_EQ(r.index_after, 1);
}

TEST(ScannerTest, ClusteredFlagsAndGluedValues)
{
    EXPECT_EQ(scan({"-cq", "f"}).seen, (V{"c", "q"}));
    auto r = scan({"-cd5", "f"});
    EXPECT_EQ(r.seen, (V{"c", "d=5"}));
    EXPECT_EQ(r.index_after, 2);
}

TEST(ScannerTest, RequiredShortValueTakesNextWordWhateverItStartsWith)
{
    EXPECT_EQ(scan({"-d-5"}).seen, V{"d=-5"});
    EXPECT_EQ(scan({"-d", "-5"}).seen, V{"d=-5"});
}

TEST(ScannerTest, MissingRequiredShortValueIsRefusedPastTheOption)
{
    auto r = scan({"-d"});
    EXPECT_EQ(r.seen, V{"?"});
    EXPECT_EQ(r.index_after, 2);
}

TEST(ScannerTest, OptionalShortValueNeedsAFurtherWord)
{
    auto r = scan({"-v", "2", "file"});
    EXPECT_EQ(r.seen, V{"v=2"});
    EXPECT_EQ(r.index_after, 3);
    r = scan({"-v", "2"});
    EXPECT_EQ(r.seen, V{"v"});
    EXPECT_EQ(r.index_after, 2);
    // A glued value is not examined.
    r = scan({"-v2", "a", "b"});
    EXPECT_EQ(r.seen, V{"v=a"});
}

TEST(ScannerTest, LongOptionValues)
{
    EXPECT_EQ(scan({"--delta=3", "f"}).seen, V{"d=3"});
    EXPECT_EQ(scan({"--delta", "3", "f"}).seen, V{"d=3"});
    // A value beginning with a dash is not taken by the long form.
    auto r = scan({"--delta", "-5"});
    EXPECT_EQ(r.seen, (V{"d", "?"}));
    // "--name=" gives an empty value, not an absent one.
    r = scan({"--delta="});
    ASSERT_EQ(r.seen.size(), 1u);
    EXPECT_EQ(r.seen[0], "d=");
    // An optional long value only comes with "=".
    EXPECT_EQ(scan({"--verbose", "1", "f"}).seen, V{"v"});
    EXPECT_EQ(scan({"--verbose=3"}).seen, V{"v=3"});
}

TEST(ScannerTest, LongOptionRefusals)
{
    EXPECT_EQ(scan({"--verb"}).seen, V{"?"});
    EXPECT_EQ(scan({"--quiet=1"}).seen.at(0).at(0), '?');
    EXPECT_EQ(scan({"--Quiet"}).seen, V{"?"});
}

TEST(ScannerTest, UnknownShortLetterMovesOn)
{
    EXPECT_EQ(scan({"-zq"}).seen, (V{"?", "q"}));
    EXPECT_EQ(scan({"-:"}).seen, V{"?"});
}

TEST(ScannerTest, MessagesGoToTheErrorStream)
{
    zarn_init();
    std::string messages;
    {
        test_support::stream_capture errors(rawerrorstream);
        zarn_reset_scanner();
        const char *argv[] = {"prog", "-z", "--nope=1", "--quiet=x", "-d"};
        while (zarn_scan_option(5, argv, SHORT_OPTS, LONG_OPTS) != -1) {
        }
        messages = errors.text();
    }
    zarn_reset_scanner();
    EXPECT_EQ(messages, "prog: unknown option \"z\"\n"
                        "prog: unknown option \"nope\"\n"
                        "prog: no option required for \"quiet\" flag\n"
                        "prog: value expected for option \"d\"\n");
}

std::vector<hsize_t> values(const hsize_list &l)
{
    return std::vector<hsize_t>(l.values, l.values + l.count);
}

TEST(NumberListTest, SeparatorsBasesAndEnds)
{
    hsize_list l;
    parse_hsize_list("1,2,3", &l);
    EXPECT_EQ(values(l), (std::vector<hsize_t>{1, 2, 3}));
    hsize_list_free(&l);
    parse_hsize_list("1 2 3;9", &l);
    EXPECT_EQ(values(l), (std::vector<hsize_t>{1, 2, 3}));
    hsize_list_free(&l);
    parse_hsize_list("010,7]", &l);
    EXPECT_EQ(values(l), (std::vector<hsize_t>{8, 7}));
    hsize_list_free(&l);
    // Hexadecimal digits split by letters count as two numbers.
    parse_hsize_list("0x1F", &l);
    EXPECT_EQ(values(l), (std::vector<hsize_t>{31, 1}));
    hsize_list_free(&l);
    parse_hsize_list("18446744073709551615", &l);
    EXPECT_EQ(values(l), (std::vector<hsize_t>{18446744073709551615ull}));
    hsize_list_free(&l);
}

TEST(NumberListTest, NothingReadLeavesTheListUntouched)
{
    hsize_list l;
    for (const char *t : {"", ";1", "abc", "]"}) {
        parse_hsize_list(t, &l);
        EXPECT_EQ(l.values, nullptr) << t;
        EXPECT_EQ(l.count, 0u) << t;
    }
    parse_hsize_list(nullptr, &l);
    EXPECT_EQ(l.count, 0u);
}

TEST(SubsetTest, SplitsAtTheLastBracket)
{
    char path[] = "a[b]c[1;2;3;4]";
    subset_spec *s = parse_subset_spec(path);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(path, "a[b]c");
    EXPECT_EQ(values(s->start), std::vector<hsize_t>{1});
    EXPECT_EQ(values(s->stride), std::vector<hsize_t>{2});
    EXPECT_EQ(values(s->count), std::vector<hsize_t>{3});
    EXPECT_EQ(values(s->block), std::vector<hsize_t>{4});
    subset_spec_free(s);
}

TEST(SubsetTest, EmptyFieldsStayEmpty)
{
    char path[] = "dset[1,2;;3,4]";
    subset_spec *s = parse_subset_spec(path);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(path, "dset");
    EXPECT_EQ(values(s->start), (std::vector<hsize_t>{1, 2}));
    EXPECT_EQ(s->stride.count, 0u);
    EXPECT_EQ(values(s->count), (std::vector<hsize_t>{3, 4}));
    EXPECT_EQ(s->block.count, 0u);
    subset_spec_free(s);

    char only_start[] = "/g/d[5]";
    s = parse_subset_spec(only_start);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(values(s->start), std::vector<hsize_t>{5});
    EXPECT_EQ(s->stride.count + s->count.count + s->block.count, 0u);
    subset_spec_free(s);
}

TEST(SubsetTest, NoBracketNoSubset)
{
    char path[] = "/g/dset";
    EXPECT_EQ(parse_subset_spec(path), nullptr);
    EXPECT_STREQ(path, "/g/dset");
}

TEST(SubsetTest, MalformedSuffixesAreNamedWellFormedOnesPass)
{
    struct suffix_case {
        const char *path;
        const char *problem; // empty for a well-formed suffix (or none)
    };
    const std::string not_allowed = "' is not allowed: the lists hold non-negative decimal integers";
    const suffix_case cases[] = {
        {"/v", ""},
        {"/v[5]", ""},
        {"dset[1,2;;3,4]", ""},
        {"/v[0;1;2;3]", ""},
        {"a[b]c[1;2;3;4]", ""},
        {"/v[;2]", ""},
        {"/v[18446744073709551615]", ""},
        {"/v[-5]", "'-"},
        {"/v[5;-2;3]", "'-"},
        {"/v[abc]", "'a"},
        {"/v[1.5]", "'."},
        {"/v[0x10]", "'x"},
        {"/v[+1]", "'+"},
        {"/v[1 2]", "' "},
        {"/v[1\n]", "'\\n"},
        {"/v[]", "the subset holds no number"},
        {"/v[;;;]", "the subset holds no number"},
        {"/v[90", "the subset has no closing ']'"},
        {"/v[1]x", "the subset does not end the name: text follows its ']'"},
        {"/v[1]]", "the subset does not end the name: text follows its ']'"},
        {"/v[1;2;3;4;5]", "more than four lists (START;STRIDE;COUNT;BLOCK)"},
        {"/v[1,,2]", "a list has an empty entry"},
        {"/v[1,]", "a list has an empty entry"},
        {"/v[,1]", "a list has an empty entry"},
        {"/v[1;,2]", "a list has an empty entry"},
        {"/v[010]", "a number has a leading zero"},
        {"/v[18446744073709551616]", "a number is too large"},
    };
    for (const auto &c : cases) {
        std::string expected = c.problem;
        if (expected.size() >= 1 && expected[0] == '\'')
            expected += not_allowed;
        EXPECT_EQ(zarn_subset_suffix_error(c.path), expected) << c.path;
    }
}

} // namespace
