// tessel command line: sizes, counts, API and debug lists, derived values,
// refusals and the size notation of the parameters report.
#include "tessel_test_support.hpp"

#include "tessel_usage.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace tessel_test;

long long size_of(const char *text)
{
    long long size = -999;
    std::string why;
    EXPECT_EQ(parse_size_text(text, &size, &why), 0) << text;
    return size;
}

// The character named by the refusal of a size.
char refused_size(const char *text)
{
    long long size = 0;
    std::string why;
    EXPECT_EQ(parse_size_text(text, &size, &why), -1) << text;
    const std::string head = "Illegal size specifier '";
    EXPECT_EQ(why.rfind(head, 0), 0u) << why;
    return why.size() == head.size() + 2 ? why[head.size()] : 'X';
}

TEST(ParseSize, PlainNumbersAreBytes)
{
    EXPECT_EQ(size_of("0"), 0);
    EXPECT_EQ(size_of("100"), 100);
    EXPECT_EQ(size_of("-5"), -5);
    EXPECT_EQ(size_of("+7"), 7);
}

TEST(ParseSize, SuffixesInEitherCaseShiftByTheirUnit)
{
    EXPECT_EQ(size_of("1K"), 1024);
    EXPECT_EQ(size_of("3k"), 3072);
    EXPECT_EQ(size_of("2M"), 2097152);
    EXPECT_EQ(size_of("1m"), 1048576);
    EXPECT_EQ(size_of("1G"), 1073741824);
    EXPECT_EQ(size_of("4g"), 4LL << 30);
}

TEST(ParseSize, BlanksBeforeTheSuffixAndTextAfterItAreIgnored)
{
    EXPECT_EQ(size_of("1 K"), 1024);
    EXPECT_EQ(size_of("1\t \tM"), 1048576);
    EXPECT_EQ(size_of("37MB"), 37LL * 1048576);
    EXPECT_EQ(size_of("2Kilobytes and more"), 2048);
}

TEST(ParseSize, AnyOtherCharacterIsRefused)
{
    EXPECT_EQ(refused_size("10X"), 'X');
    EXPECT_EQ(refused_size("10 b"), 'b');
    EXPECT_EQ(refused_size("abc"), 'a');
    EXPECT_EQ(refused_size("1.5K"), '.');
    // The end of the text reached after blanks is refused too.
    EXPECT_EQ(refused_size("1 "), '\0');
    EXPECT_EQ(refused_size("1\t"), '\0');
}

TEST(ParseSize, SizesBeyondSixtyFourBitsAreRefusedNotWrapped)
{
    for (const char *text : {"9223372036854775808", "8589934592G", "17179869184G", "-9999999999999999999"}) {
        long long size = 0;
        std::string why;
        EXPECT_EQ(parse_size_text(text, &size, &why), -1) << text;
        EXPECT_NE(why.find("out of range"), std::string::npos) << why;
    }
    EXPECT_EQ(size_of("8589934591G"), 8589934591LL << 30);
}

TEST(ParseCount, OnlyWholeDecimalNumbersInRange)
{
    long long v = 0;
    EXPECT_EQ(parse_count_text("12", 0, 100, &v), 0);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(parse_count_text("-3", -5, 100, &v), 0);
    EXPECT_EQ(v, -3);
    for (const char *text : {"abc", "", "1.5", "0x10", "12abc", " 1", "-", "101", "99999999999999999999"})
        EXPECT_EQ(parse_count_text(text, 0, 100, &v), -1) << text;
}

uint64_t api_of(const char *text, int expect_rc = 0, std::string *bad = nullptr)
{
    uint64_t api = 0;
    std::string refused;
    EXPECT_EQ(parse_api_list(text, &api, &refused), expect_rc) << text;
    if (bad)
        *bad = refused;
    return api;
}

TEST(ApiList, NamesInAnyCaseSetTheirBits)
{
    EXPECT_EQ(api_of("posix"), 1u);
    EXPECT_EQ(api_of("MPIIO"), 2u);
    EXPECT_EQ(api_of("pHdF5"), 4u);
    EXPECT_EQ(api_of("MPIIO,posix"), 3u);
    EXPECT_EQ(api_of("phdf5,mpiio,posix"), 7u);
}

TEST(ApiList, OnlyLettersAndDigitsCountUpToTen)
{
    EXPECT_EQ(api_of("mpi-io"), 2u);
    EXPECT_EQ(api_of(" p_o s.ix "), 1u);
    std::string bad;
    api_of("posixposixposix", -1, &bad);
    EXPECT_EQ(bad, "posixposix");
}

TEST(ApiList, UnknownAndEmptyItemsAreRefused)
{
    std::string bad;
    api_of("hdf5", -1, &bad);
    EXPECT_EQ(bad, "hdf5");
    api_of("posix,,mpiio", -1, &bad);
    EXPECT_EQ(bad, "");
    api_of("posix,nfs!", -1, &bad);
    EXPECT_EQ(bad, "nfs");
}

TEST(ApiList, BitsAccumulateOverSeveralLists)
{
    uint64_t api = 0;
    std::string bad;
    EXPECT_EQ(parse_api_list("posix", &api, &bad), 0);
    EXPECT_EQ(parse_api_list("phdf5", &api, &bad), 0);
    EXPECT_EQ(api, 5u);
}

struct debug_result {
    int rc;
    int level;
    bench_options options;
    std::string bad;
};

debug_result debug_of(const char *text)
{
    debug_result r{0, 0, bench_default_options(4), ""};
    r.rc = parse_debug_list(text, &r.options, &r.bad);
    r.level = r.options.debug_level;
    return r;
}

TEST(DebugList, NumbersSetTheLevelLimitedToFour)
{
    EXPECT_EQ(debug_of("2").level, 2);
    EXPECT_EQ(debug_of("0").level, 0);
    EXPECT_EQ(debug_of("9").level, 4);
    EXPECT_EQ(debug_of("12").level, 4);
    EXPECT_EQ(debug_of("99999999999999").level, 4);
    EXPECT_EQ(debug_of("3,1").level, 1);
}

TEST(DebugList, LettersSetTheirFlags)
{
    debug_result r = debug_of("2,r,t");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.level, 2);
    EXPECT_EQ(r.options.print_raw, 1);
    EXPECT_EQ(r.options.print_times, 1);
    EXPECT_EQ(r.options.verify, 0);
    r = debug_of("v");
    EXPECT_EQ(r.options.verify, 1);
    EXPECT_EQ(r.level, 0);
}

TEST(DebugList, BadItemsAreRefusedWithTheirKeptCharacters)
{
    debug_result r = debug_of("x");
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.bad, "x");
    EXPECT_EQ(debug_of("V").rc, -1);      // letters are case-sensitive
    EXPECT_EQ(debug_of("2x").bad, "2x");  // begins with a digit
    EXPECT_EQ(debug_of("vt").bad, "vt");  // two letters
    EXPECT_EQ(debug_of("1,,2").rc, -1);   // empty item
    EXPECT_EQ(debug_of("").rc, -1);
    EXPECT_EQ(debug_of("abcdefghijklm").bad, "abcdefghij");
    // Characters other than letters and digits are dropped first.
    EXPECT_EQ(debug_of("-v-").rc, 0);
}

bench_options derived(void (*set)(bench_options &), int world = 4)
{
    bench_options o = bench_default_options(world);
    set(o);
    derive_bench_options(&o);
    return o;
}

TEST(DerivedValues, DefaultsIn1D)
{
    bench_options o = derived([](bench_options &) {});
    EXPECT_EQ(o.api, 7u);
    EXPECT_EQ(o.num_bytes, 262144);
    EXPECT_EQ(o.max_xfer_size, 262144);
    EXPECT_EQ(o.min_xfer_size, 131072);
    EXPECT_EQ(o.block_size, 131072);
    EXPECT_EQ(o.num_files, 1);
    EXPECT_EQ(o.num_dsets, 1);
    EXPECT_EQ(o.num_iterations, 1);
    EXPECT_EQ(o.min_num_processes, 1);
    EXPECT_EQ(o.max_num_processes, 4);
    EXPECT_EQ(o.align, 1);
    EXPECT_EQ(o.threshold, 1);
}

TEST(DerivedValues, DefaultsIn2DAreNotLimitedByTheSide)
{
    bench_options o = derived([](bench_options &o) { o.dim2d = 1; });
    EXPECT_EQ(o.num_bytes, 8192);
    EXPECT_EQ(o.max_xfer_size, 8192);
    EXPECT_EQ(o.min_xfer_size, 4096);
    EXPECT_EQ(o.block_size, 4096);
    o = derived([](bench_options &o) {
        o.dim2d = 1;
        o.min_xfer_size = 16384;
        o.max_xfer_size = 32768;
    });
    EXPECT_EQ(o.min_xfer_size, 16384);
    EXPECT_EQ(o.max_xfer_size, 32768);
}

TEST(DerivedValues, TransferSizesAreLimitedByNumBytesIn1D)
{
    // -x 1M -X 64K: the minimum goes to 256K by num_bytes; the maximum stays
    // (the checks then refuse the range).
    bench_options o = derived([](bench_options &o) {
        o.min_xfer_size = 1048576;
        o.max_xfer_size = 65536;
    });
    EXPECT_EQ(o.min_xfer_size, 262144);
    EXPECT_EQ(o.max_xfer_size, 65536);
    o = derived([](bench_options &o) { o.max_xfer_size = 1048576; });
    EXPECT_EQ(o.max_xfer_size, 262144);
}

TEST(DerivedValues, TheDefaultBlockNeverExceedsTheSmallestTransfer)
{
    // -x 1M -X 4M -e 16M: half of -e would be 8M, which no 1M transfer holds.
    bench_options o = derived([](bench_options &o) {
        o.num_bytes = 16 << 20;
        o.min_xfer_size = 1 << 20;
        o.max_xfer_size = 4 << 20;
    });
    EXPECT_EQ(o.block_size, 1 << 20);
    // A block given on the command line is kept.
    o = derived([](bench_options &o) {
        o.num_bytes = 16 << 20;
        o.min_xfer_size = 1 << 20;
        o.block_size = 8 << 20;
    });
    EXPECT_EQ(o.block_size, 8 << 20);
}

TEST(DerivedValues, BlockSizeIsLimitedByNumBytes)
{
    bench_options o = derived([](bench_options &o) {
        o.num_bytes = 10240;
        o.block_size = 1048576;
    });
    EXPECT_EQ(o.block_size, 10240);
    EXPECT_EQ(o.min_xfer_size, 5120);
    EXPECT_EQ(o.max_xfer_size, 10240);
}

TEST(DerivedValues, NegativeSizesCompareAsHugeUnsignedValues)
{
    bench_options o = derived([](bench_options &o) { o.min_xfer_size = -1; });
    EXPECT_EQ(o.min_xfer_size, 262144);
}

TEST(DerivedValues, AnExplicitApiIsKept)
{
    bench_options o = derived([](bench_options &o) { o.api = API_MPIIO; });
    EXPECT_EQ(o.api, 2u);
}

std::string printed_sizes(const std::vector<long long> &values)
{
    captured_file out;
    for (long long v : values)
        print_size(out.get(), v, "|");
    return out.text();
}

TEST(PrintSize, UsesTheLargestUnitThatDividesExactly)
{
    EXPECT_EQ(printed_sizes({262144, 1572864, 1048576, 3072, 1536}), "256KB|1536KB|1MB|3KB|1536|");
    EXPECT_EQ(printed_sizes({0, 1023, 1024, 1073741824, 3221225472LL, 1073741824LL + 1048576}),
              "0|1023|1KB|1GB|3GB|1025MB|");
}

struct command_case {
    std::vector<const char *> words;
    bench_command command;
    const char *message;
};

TEST(CommandLine, EachKindOfRefusalAndHelp)
{
    const command_case cases[] = {
        {{"-h"}, bench_command::help, ""},
        {{"--help"}, bench_command::help, ""},
        {{"-F", "0", "-h"}, bench_command::help, ""},
        {{"-m"}, bench_command::usage, ""},
        {{"-Z"}, bench_command::usage, ""},
        {{"--num-files"}, bench_command::usage, ""},
        {{"--json"}, bench_command::usage, ""},
        {{"--csv="}, bench_command::usage, ""},
        {{"-J", "x"}, bench_command::usage, ""},
        {{"-e", "3x"}, bench_command::refused, "Illegal size specifier 'x'"},
        {{"-A", "hdf5"}, bench_command::refused, "tesselrun: invalid --api option hdf5"},
        {{"--debug=2,x"}, bench_command::refused, "tesselrun: invalid --debug option x"},
        {{"-i", "abc"}, bench_command::refused, "tessel: -i takes a whole number (at most 2147483647), not 'abc'"},
        {{"-d", "1.5"}, bench_command::refused,
         "tessel: -d takes a whole number (at most 9223372036854775807), not '1.5'"},
        {{"-P", "99999999999"}, bench_command::refused,
         "tessel: -P takes a whole number (at most 2147483647), not '99999999999'"},
        {{"-i", "3", "--json=r.json", "--csv", "r.csv"}, bench_command::run, ""},
    };
    for (const command_case &c : cases) {
        const parsed p = parse(c.words);
        EXPECT_EQ(p.command, c.command) << c.words[0];
        EXPECT_EQ(p.message, c.message) << c.words[0];
    }
    const bench_options o = options_of({"-i", "3", "--json=r.json", "--csv", "r.csv", "-D", "2"});
    EXPECT_STREQ(o.json_path, "r.json");
    EXPECT_STREQ(o.csv_path, "r.csv");
    EXPECT_EQ(o.num_iterations, 3);
    EXPECT_EQ(o.debug_level, 2);
}

} // namespace
