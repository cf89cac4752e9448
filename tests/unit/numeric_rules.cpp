// The per-type element comparers: exact, absolute, relative, absolute and
// relative, and system-epsilon rules, NaN handling, exact integer
// differences, and the rows printed for each.
#include "mirlo_numeric.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {


const std::string POS(16, ' ');

template <class T> constexpr auto named_comparer()
{
    if constexpr (std::is_same_v<T, signed char>) return &diff_schar_elem;
    else if constexpr (std::is_same_v<T, unsigned char>) return &diff_uchar_elem;
    else if constexpr (std::is_same_v<T, short>) return &diff_short_elem;
    else if constexpr (std::is_same_v<T, unsigned short>) return &diff_ushort_elem;
    else if constexpr (std::is_same_v<T, int>) return &diff_int_elem;
    else if constexpr (std::is_same_v<T, unsigned>) return &diff_uint_elem;
    else if constexpr (std::is_same_v<T, long>) return &diff_long_elem;
    else if constexpr (std::is_same_v<T, unsigned long>) return &diff_ulong_elem;
    else if constexpr (std::is_same_v<T, long long>) return &diff_llong_elem;
    else if constexpr (std::is_same_v<T, unsigned long long>) return &diff_ullong_elem;
    else if constexpr (std::is_same_v<T, float>) return &diff_float_elem;
    else if constexpr (std::is_same_v<T, double>) return &diff_double_elem;
    else if constexpr (std::is_same_v<T, long double>) return &diff_ldouble_elem;
    else return &diff_byte_elem;
}

struct outcome {
    nfound_t count;
    std::string out;
};

// Runs the named comparer of T on one pair and captures what it prints.
// In report mode, rank 0, no header pending: a row starts with 16 blanks.
template <class T> outcome compare(T a, T b, test_support::comparison &o)
{
    const auto run = test_support::capture([&] { return named_comparer<T>()(&a, &b, 7, o.ctx()); });
    return {run.result, run.out};
}

template <class T> class NumericRuleTest : public testing::Test {};
using native_types = testing::Types<signed char, unsigned char, short, unsigned short, int, unsigned, long,
                                    unsigned long, long long, unsigned long long, float, double, long double>;
TYPED_TEST_SUITE(NumericRuleTest, native_types);

TYPED_TEST(NumericRuleTest, ExactModeCountsAnyDifference)
{
    using T = TypeParam;
    test_support::comparison o(true);
    EXPECT_EQ(compare<T>(T(10), T(10), o).count, 0u);
    const outcome r = compare<T>(T(10), T(11), o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(o.c.relative_header, 0);
    EXPECT_EQ(r.out.substr(0, 16), POS);
}

TYPED_TEST(NumericRuleTest, AbsoluteToleranceIsStrictlyGreater)
{
    using T = TypeParam;
    test_support::comparison o(true);
    o.settings.delta_mode = 1;
    o.settings.delta = 5;
    EXPECT_EQ(compare<T>(T(10), T(15), o).count, 0u);
    EXPECT_EQ(compare<T>(T(15), T(10), o).count, 0u);
    EXPECT_EQ(compare<T>(T(10), T(16), o).count, 1u);
    EXPECT_EQ(compare<T>(T(16), T(10), o).count, 1u);
    EXPECT_EQ(o.c.relative_header, 0);
}

TYPED_TEST(NumericRuleTest, RelativeToleranceIsStrictlyGreater)
{
    using T = TypeParam;
    test_support::comparison o(true);
    o.settings.relative_mode = 1;
    o.settings.relative = 0.1;
    EXPECT_EQ(compare<T>(T(10), T(11), o).count, 0u); // r = 0.1
    EXPECT_EQ(compare<T>(T(10), T(12), o).count, 1u); // r = 0.2
    EXPECT_EQ(o.c.relative_header, 1);
    EXPECT_EQ(compare<T>(T(20), T(18), o).count, 0u); // r = 0.1
    EXPECT_EQ(compare<T>(T(20), T(17), o).count, 1u); // r = 0.15
}

TYPED_TEST(NumericRuleTest, BothZeroIsNeverADifferenceAndZeroAgainstValueIsNotComparable)
{
    using T = TypeParam;
    test_support::comparison o(true);
    o.settings.relative_mode = 1;
    o.settings.relative = 0.1;
    EXPECT_EQ(compare<T>(T(0), T(0), o).count, 0u);
    const outcome r = compare<T>(T(0), T(3), o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(o.c.relative_header, 1);
    EXPECT_NE(r.out.find(" not comparable\n"), std::string::npos) << r.out;
}

TYPED_TEST(NumericRuleTest, AbsoluteAndRelativeNeedBothExceeded)
{
    using T = TypeParam;
    test_support::comparison o(true);
    o.settings.delta_mode = 1;
    o.settings.delta = 3;
    o.settings.relative_mode = 1;
    o.settings.relative = 0.1;
    EXPECT_EQ(compare<T>(T(100), T(104), o).count, 0u); // r 0.04, d 4
    EXPECT_EQ(compare<T>(T(10), T(12), o).count, 0u);   // r 0.2, d 2
    EXPECT_EQ(compare<T>(T(10), T(14), o).count, 1u);   // r 0.4, d 4
    EXPECT_EQ(o.c.relative_header, 1);
    EXPECT_EQ(compare<T>(T(0), T(14), o).count, 1u); // not comparable
}

TYPED_TEST(NumericRuleTest, EqualValuesAreNeverADifferenceUnderAnyRule)
{
    using T = TypeParam;
    using lim = std::numeric_limits<T>;
    // The extremes of the type, and for floating types both infinities,
    // whose difference from themselves is NaN.
    std::vector<T> values = {T(0), T(1), lim::max(), lim::lowest()};
    if constexpr (lim::has_infinity)
        values.insert(values.end(), {lim::infinity(), -lim::infinity()});
    struct rule {
        const char *name;
        int32_t delta_mode, relative_mode, epsilon_mode;
    };
    const rule rules[] = {{"exact", 0, 0, 0},    {"epsilon", 0, 0, 1},           {"absolute", 1, 0, 0},
                          {"relative", 0, 1, 0}, {"absolute+relative", 1, 1, 0}};
    for (const rule &r : rules) {
        test_support::comparison o(true);
        o.settings.delta_mode = r.delta_mode;
        o.settings.delta = 0.5;
        o.settings.relative_mode = r.relative_mode;
        o.settings.relative = 0.5;
        o.settings.system_epsilon_mode = r.epsilon_mode;
        for (T v : values)
            EXPECT_EQ(compare<T>(v, v, o).count, 0u) << r.name << " " << static_cast<long double>(v);
        // The buffer loop of plain arrays judges each pair the same way.
        testing::internal::CaptureStdout();
        const nfound_t n = numeric_diff_buffer<T>(values.data(), values.data(), values.size(), o.ctx());
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(n, 0u) << r.name;
    }
}

TYPED_TEST(NumericRuleTest, NothingPrintedWithoutReportOrVerboseOrWhenQuiet)
{
    using T = TypeParam;
    test_support::comparison o(true);
    o.settings.report_mode = 0;
    outcome r = compare<T>(T(1), T(2), o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.out, "");
    o.settings.verbose_mode = 1;
    o.settings.quiet_mode = 1;
    r = compare<T>(T(1), T(2), o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.out, "");
    o.settings.quiet_mode = 0;
    EXPECT_NE(compare<T>(T(1), T(2), o).out, "");
}

// Row formats: three columns of 15 characters, left aligned, one blank
// apart; the relative format adds a fourth of 14.

TEST(NumericRowTest, IntAbsoluteRow)
{
    test_support::comparison o(true);
    o.settings.delta_mode = 1;
    o.settings.delta = 5;
    EXPECT_EQ(compare<int>(10, 16, o).out, POS + "10              16              6              \n");
}

TEST(NumericRowTest, IntegerRelativeColumnIsTheRelativeDifference)
{
    test_support::comparison o(true);
    o.settings.relative_mode = 1;
    o.settings.relative = 0.1;
    EXPECT_EQ(compare<short>(10, 15, o).out, POS + "10              15              5               0.500000      \n");
    EXPECT_EQ(compare<short>(0, 15, o).out, POS + "0               15              15              not comparable\n");
}

TEST(NumericRowTest, UnsignedIntPrintsAboveTwoToThe31)
{
    test_support::comparison o(true);
    EXPECT_EQ(compare<unsigned>(3000000000u, 1u, o).out, POS + "3000000000      1               2999999999     \n");
}

TEST(NumericRowTest, DoubleRows)
{
    test_support::comparison o(true);
    EXPECT_EQ(compare<double>(1.5, 2.75, o).out, POS + "1.5             2.75            1.25           \n");
    o.settings.relative_mode = 1;
    o.settings.relative = 0.1;
    outcome r = compare<double>(10, 11.5, o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.out, POS + "10              11.5            1.5             0.15          \n");
    r = compare<double>(0, 1, o);
    EXPECT_EQ(r.out, POS + "0               1               1               not comparable\n");
}

TEST(NumericRowTest, FloatAndLongDoubleRows)
{
    test_support::comparison o(true);
    EXPECT_EQ(compare<float>(1.5f, 2.5f, o).out, POS + "1.5             2.5             1              \n");
    EXPECT_EQ(compare<long double>(1.5L, 2.5L, o).out, POS + "1.5             2.5             1              \n");
    o.settings.relative_mode = 1;
    o.settings.relative = 0.1;
    EXPECT_EQ(compare<float>(4, 5, o).out, POS + "4               5               1               0.25          \n");
    EXPECT_EQ(compare<long double>(4, 5, o).out, POS + "4               5               1               0.25          \n");
}

TEST(NumericRowTest, RelativeTestUsesTheExactQuotientButColumnIsRecomputedInTheElementType)
{
    test_support::comparison o(true);
    o.settings.relative_mode = 1;
    o.settings.relative = 0.3;
    // (b - a) / a is 1/3: above 0.3; the column shows |1 - b/a| in float.
    const outcome r = compare<float>(3, 4, o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.out, POS + "3               4               1               0.3333333731  \n");
}

// Floating-point special values.

TEST(FloatingRuleTest, SignedZerosDifferInBitsButNotUnderSystemEpsilon)
{
    test_support::comparison o(true);
    EXPECT_EQ(compare<double>(0.0, -0.0, o).count, 1u);
    EXPECT_EQ(compare<float>(0.0f, -0.0f, o).count, 1u);
    EXPECT_EQ(compare<long double>(0.0L, -0.0L, o).count, 1u);
    o.settings.system_epsilon_mode = 1;
    EXPECT_EQ(compare<double>(0.0, -0.0, o).count, 0u);
    EXPECT_EQ(compare<float>(0.0f, -0.0f, o).count, 0u);
    EXPECT_EQ(compare<long double>(0.0L, -0.0L, o).count, 0u);
}

TEST(FloatingRuleTest, SystemEpsilonCountsDifferencesNotBelowTheTypesEpsilon)
{
    test_support::comparison o(true);
    o.settings.system_epsilon_mode = 1;
    EXPECT_EQ(compare<double>(1.0, 1.0 + 0x1p-52, o).count, 1u); // equal to epsilon: not below
    EXPECT_EQ(compare<double>(0.0, 0x1p-53, o).count, 0u);
    EXPECT_EQ(compare<float>(1.0f, 1.0f + 0x1p-23f, o).count, 1u);
    EXPECT_EQ(compare<float>(0.0f, 0x1p-24f, o).count, 0u);
    EXPECT_EQ(compare<long double>(1.0L, 1.0L + 0x1p-63L, o).count, 1u);
    EXPECT_EQ(compare<long double>(0.0L, 0x1p-64L, o).count, 0u);
    // Integers have no epsilon: any difference counts.
    EXPECT_EQ(compare<int>(1, 2, o).count, 1u);
}

TEST(FloatingRuleTest, LongDoublePaddingBytesTakeNoPart)
{
    test_support::comparison o(true);
    unsigned char b1[sizeof(long double)];
    unsigned char b2[sizeof(long double)];
    const long double v = 3.25L;
    std::memcpy(b1, &v, sizeof v);
    std::memcpy(b2, &v, sizeof v);
    for (size_t k = MIRLO_LDOUBLE_VALUE_BYTES; k < sizeof v; ++k) {
        b1[k] = 0x00;
        b2[k] = 0xff;
    }
    EXPECT_EQ(diff_ldouble_elem(b1, b2, 0, o.ctx()), 0u);
    b2[0] ^= 1; // lowest significand bit
    EXPECT_EQ(test_support::capture([&] { return diff_ldouble_elem(b1, b2, 0, o.ctx()); }).result, 1u);
}

TEST(FloatingRuleTest, NanDetectionCountsOneNanAsAPlainRow)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    test_support::comparison o(true);
    o.settings.relative_mode = 1;
    o.settings.relative = 0.1;
    outcome r = compare<double>(nan, nan, o);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.out, "");
    r = compare<double>(nan, 1.0, o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(o.c.relative_header, 0);
    EXPECT_EQ(r.out, POS + "nan             1               nan            \n");
    o.settings.relative_mode = 0;
    o.settings.delta_mode = 1;
    o.settings.delta = 1e300;
    EXPECT_EQ(compare<double>(1.0, nan, o).count, 1u);
    EXPECT_EQ(compare<float>(std::nanf(""), 0.0f, o).count, 1u);
    EXPECT_EQ(compare<long double>(0.0L, std::nanl(""), o).count, 1u);
}

TEST(FloatingRuleTest, WithoutNanDetectionNansFollowTheOrdinaryRules)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    test_support::comparison o(true);
    o.settings.detect_nans = 0;
    EXPECT_EQ(compare<double>(nan, nan, o).count, 0u); // same bits
    EXPECT_EQ(compare<double>(nan, 1.0, o).count, 1u); // bits differ
    o.settings.system_epsilon_mode = 1;
    EXPECT_EQ(compare<double>(nan, nan, o).count, 1u); // epsilon test is false
    o.settings.system_epsilon_mode = 0;
    o.settings.delta_mode = 1;
    o.settings.delta = 0.5;
    EXPECT_EQ(compare<double>(nan, 1.0, o).count, 0u);
    o.settings.delta_mode = 0;
    o.settings.relative_mode = 1;
    o.settings.relative = 0.5;
    EXPECT_EQ(compare<double>(nan, 1.0, o).count, 0u);
    EXPECT_EQ(compare<double>(1.0, nan, o).count, 0u);
    // Zero against NaN: a is near zero and b is not, so not comparable.
    EXPECT_EQ(compare<double>(0.0, nan, o).count, 1u);
}

TEST(FloatingRuleTest, NearZeroUsesTheDoubleEpsilon)
{
    test_support::comparison o(true);
    o.settings.relative_mode = 1;
    o.settings.relative = 0.5;
    EXPECT_EQ(compare<double>(1e-17, 0.0, o).count, 0u); // both near zero
    EXPECT_EQ(compare<double>(1e-17, 1.0, o).count, 1u); // not comparable
    EXPECT_NE(compare<double>(1e-17, 1.0, o).out.find("not comparable"), std::string::npos);
    EXPECT_EQ(compare<double>(1e-15, 1.1e-15, o).count, 0u); // r = 0.1, compared
    EXPECT_EQ(compare<double>(1e-15, 2e-15, o).count, 1u);
}

TEST(FloatingRuleTest, AbsoluteAndRelativeExamples)
{
    test_support::comparison o(true);
    o.settings.delta_mode = 1;
    o.settings.delta = 1;
    o.settings.relative_mode = 1;
    o.settings.relative = 0.1;
    EXPECT_EQ(compare<double>(100, 105, o).count, 0u);
    EXPECT_EQ(compare<double>(1, 1.5, o).count, 0u);
    EXPECT_EQ(compare<double>(1, 3, o).out, POS + "1               3               2               2             \n");
}

// Integer differences never wrap.

TEST(IntegerExactnessTest, UnsignedCharRelativeDifferenceIsTheTrueOne)
{
    test_support::comparison o(true);
    o.settings.relative_mode = 1;
    o.settings.relative = 0.5;
    outcome r = compare<unsigned char>(200, 10, o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.out, POS + "200             10              190             0.950000      \n");
    r = compare<unsigned char>(10, 250, o);
    EXPECT_EQ(r.out, POS + "10              250             240             24.000000     \n");
    o.settings.relative = 0.9;
    EXPECT_EQ(compare<unsigned short>(65535, 1, o).count, 1u);
    EXPECT_EQ(compare<unsigned>(4000000000u, 1u, o).count, 1u);
    EXPECT_EQ(compare<unsigned long>(ULONG_MAX, 1ul, o).count, 1u);
}

TEST(IntegerExactnessTest, IntExtremesHaveTheirTrueAbsoluteDifference)
{
    test_support::comparison o(true);
    EXPECT_EQ(compare<int>(INT_MAX, INT_MIN, o).out, POS + "2147483647      -2147483648     4294967295     \n");
    o.settings.delta_mode = 1;
    o.settings.delta = 4294967294.0;
    EXPECT_EQ(compare<int>(INT_MAX, INT_MIN, o).count, 1u);
    o.settings.delta = 4294967295.0;
    EXPECT_EQ(compare<int>(INT_MAX, INT_MIN, o).count, 0u);
    EXPECT_EQ(compare<int>(INT_MIN, INT_MAX, o).count, 0u);
}

TEST(IntegerExactnessTest, SixtyFourBitExtremes)
{
    test_support::comparison o(true);
    EXPECT_EQ(compare<long>(LONG_MAX, LONG_MIN, o).out,
              POS + "9223372036854775807 -9223372036854775808 18446744073709551615\n");
    EXPECT_EQ(compare<long long>(LLONG_MIN, LLONG_MAX, o).out,
              POS + "-9223372036854775808 9223372036854775807 18446744073709551615\n");
    o.settings.relative_mode = 1;
    o.settings.relative = 0.5;
    // The unsigned long long difference is printed unsigned in every format.
    EXPECT_EQ(compare<unsigned long long>(0, ULLONG_MAX, o).out,
              POS + "0               18446744073709551615 18446744073709551615 not comparable\n");
    // b - a wrapped to 64 bits would be 1, a relative difference near 1e-19;
    // the true one is about 2.
    EXPECT_EQ(compare<long long>(LLONG_MAX, LLONG_MIN, o).count, 1u);
    EXPECT_EQ(compare<long>(LONG_MAX, LONG_MIN, o).count, 1u);
    o.settings.relative = 2.5;
    EXPECT_EQ(compare<long long>(LLONG_MAX, LLONG_MIN, o).count, 0u);
}

TEST(IntegerExactnessTest, SixtyFourBitAbsoluteTestIsExact)
{
    test_support::comparison o(true);
    o.settings.delta_mode = 1;
    o.settings.delta = 1.9;
    EXPECT_EQ(compare<unsigned long long>(100, 101, o).count, 0u);
    EXPECT_EQ(compare<unsigned long long>(101, 99, o).count, 1u);
    // 2^53 + 1 rounds to 2^53 in double; the exact test still sees it.
    o.settings.delta = 0x1p53;
    EXPECT_EQ(compare<long>(0, (1L << 53) + 1, o).count, 1u);
    EXPECT_EQ(compare<long>(0, 1L << 53, o).count, 0u);
    EXPECT_EQ(compare<unsigned long long>(0, (1ULL << 53) + 1, o).count, 1u);
}

TEST(IntegerExactnessTest, UnsignedLongLongRelativeDifferenceIsNotRoundedToFloat)
{
    test_support::comparison o(true);
    o.settings.relative_mode = 1;
    o.settings.relative = 1e-13;
    // Both values have the same float image; their relative difference is 2^-40.
    EXPECT_EQ(compare<unsigned long long>(1ULL << 40, (1ULL << 40) + 1, o).count, 1u);
    o.settings.relative = 1e-12;
    EXPECT_EQ(compare<unsigned long long>(1ULL << 40, (1ULL << 40) + 1, o).count, 0u);
}

// The byte comparer of bitfields, opaque and enum values.

TEST(ByteRuleTest, ZeroByteInFirstBufferNeverCountsUnderRelative)
{
    test_support::comparison o(true);
    o.settings.relative_mode = 1;
    o.settings.relative = 0.5;
    EXPECT_EQ(compare<std::byte>(std::byte{0}, std::byte{200}, o).count, 0u);
    const outcome r = compare<std::byte>(std::byte{10}, std::byte{200}, o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.out, POS + "10              200             190             19.000000     \n");
    o.settings.relative_mode = 0;
    EXPECT_EQ(compare<std::byte>(std::byte{0}, std::byte{200}, o).out,
              POS + "0               200             200            \n");
    o.settings.delta_mode = 1;
    o.settings.delta = 190;
    EXPECT_EQ(compare<std::byte>(std::byte{10}, std::byte{200}, o).count, 0u);
    EXPECT_EQ(compare<std::byte>(std::byte{9}, std::byte{200}, o).count, 1u);
}

// ull2float rounds as HDF5's own conversion does.
TEST(Ull2FloatTest, AgreesWithTheLibraryConversion)
{
    const unsigned long long values[] = {
        0ULL, 1ULL, (1ULL << 24) - 1, 1ULL << 24, (1ULL << 24) + 1, (1ULL << 24) + 3,
        (1ULL << 53) + 1, (1ULL << 63) - 1, 1ULL << 63, (1ULL << 63) + (1ULL << 39), ULLONG_MAX,
        ULLONG_MAX - (1ULL << 39), 0x123456789abcdefULL, 0xffffff7fffffffffULL, 0xffffff8000000000ULL,
    };
    for (unsigned long long v : values) {
        float mine = -1.0f;
        ull2float(v, &mine);
        unsigned char buf[sizeof(unsigned long long)];
        std::memcpy(buf, &v, sizeof v);
        ASSERT_GE(H5Tconvert(H5T_NATIVE_ULLONG, H5T_NATIVE_FLOAT, 1, buf, nullptr, H5P_DEFAULT), 0);
        float theirs;
        std::memcpy(&theirs, buf, sizeof theirs);
        EXPECT_EQ(mine, theirs) << v;
    }
}

} // namespace
