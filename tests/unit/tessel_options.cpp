// tessel command line: sizes, API and debug lists, derived values and the
// size notation of the parameters report.
#include <gtest/gtest.h>

#include "tessel_options.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace {

long long size_of(const char *text)
{
    long long size = -999;
    char bad = 0;
    EXPECT_EQ(parse_size_text(text, &size, &bad), 0) << text;
    return size;
}

char refused_size(const char *text)
{
    long long size = 0;
    char bad = 'X';
    EXPECT_EQ(parse_size_text(text, &size, &bad), -1) << text;
    return bad;
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
    r.rc = parse_debug_list(text, &r.options, &r.level, &r.bad);
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

TEST(DerivedValues, TransferSizesAreLimitedInOrder)
{
    // -x 1M -X 64K: the minimum goes to 256K by num_bytes, then to 64K.
    bench_options o = derived([](bench_options &o) {
        o.min_xfer_size = 1048576;
        o.max_xfer_size = 65536;
    });
    EXPECT_EQ(o.min_xfer_size, 65536);
    EXPECT_EQ(o.max_xfer_size, 65536);
    o = derived([](bench_options &o) { o.max_xfer_size = 1048576; });
    EXPECT_EQ(o.max_xfer_size, 262144);
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

TEST(DerivedValues, ProcessCountsAndIterationsAreBroughtIntoRange)
{
    bench_options o = derived([](bench_options &o) {
        o.min_num_processes = 8;
        o.max_num_processes = 4;
    });
    EXPECT_EQ(o.min_num_processes, 4);
    EXPECT_EQ(o.max_num_processes, 4);
    o = derived([](bench_options &o) {
        o.min_num_processes = -3;
        o.max_num_processes = 0;
        o.num_iterations = -2;
    });
    EXPECT_EQ(o.min_num_processes, 1);
    EXPECT_EQ(o.max_num_processes, 1);
    EXPECT_EQ(o.num_iterations, 1);
}

TEST(DerivedValues, AnExplicitApiIsKept)
{
    bench_options o = derived([](bench_options &o) { o.api = API_MPIIO; });
    EXPECT_EQ(o.api, 2u);
}

std::string printed_sizes(const std::vector<long long> &values)
{
    FILE *saved = bench_output;
    bench_output = std::tmpfile();
    for (long long v : values)
        print_size(v, "|");
    std::rewind(bench_output);
    std::string text;
    for (int c; (c = std::fgetc(bench_output)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(bench_output);
    bench_output = saved;
    return text;
}

TEST(PrintSize, UsesTheLargestUnitThatDividesExactly)
{
    EXPECT_EQ(printed_sizes({262144, 1572864, 1048576, 3072, 1536}), "256KB|1536KB|1MB|3KB|1536|");
    EXPECT_EQ(printed_sizes({0, 1023, 1024, 1073741824, 3221225472LL, 1073741824LL + 1048576}),
              "0|1023|1KB|1GB|3GB|1025MB|");
}

} // namespace
