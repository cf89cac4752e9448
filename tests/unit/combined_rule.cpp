// The combined tolerance |b - a| > atol + rtol * |a| on every native type,
// its exactness on 64-bit integers, NaNs and infinities under every rule
// with and without --nan-equal, and the rule a pair gets from a rules file.
#include "mirlo_numeric.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

template <class T> nfound_t count_of(T a, T b, test_support::comparison &o)
{
    return test_support::capture([&] { return numeric_diff_elem<T>(&a, &b, 0, o.ctx()); }).result;
}

template <class T> nfound_t buffer_count(const std::vector<T> &a, const std::vector<T> &b, test_support::comparison &o)
{
    return test_support::capture([&] { return numeric_diff_buffer<T>(a.data(), b.data(), a.size(), o.ctx()); })
        .result;
}

void set_combined(test_support::comparison &o, double atol, double rtol)
{
    o.settings.combined_mode = true;
    o.settings.atol = atol;
    o.settings.rtol = rtol;
}

template <class T> class CombinedRuleTest : public testing::Test {};
using native_types = testing::Types<signed char, unsigned char, short, unsigned short, int, unsigned, long,
                                    unsigned long, long long, unsigned long long, float, double, long double>;
TYPED_TEST_SUITE(CombinedRuleTest, native_types);

TYPED_TEST(CombinedRuleTest, BoundIsAtolPlusRtolTimesTheFirstValue)
{
    using T = TypeParam;
    const struct {
        double atol, rtol;
        int a, b;
        nfound_t expected;
    } cases[] = {
        {2, 0.1, 10, 13, 0},  // bound 3: equal to it
        {2, 0.1, 10, 14, 1},  // beyond it
        {2, 0.1, 10, 7, 0},   // below a, within
        {2, 0.1, 10, 6, 1},   // below a, beyond
        {0, 0.5, 10, 15, 0},  // rtol alone
        {0, 0.5, 10, 16, 1},
        {0, 0.5, 0, 0, 0},    // a zero first value leaves atol only
        {0, 0.5, 0, 1, 1},
        {2.9, 0, 10, 12, 0},  // a bound that is not an integer: 2 is within 2.9
        {2.9, 0, 10, 13, 1},  // and 3 is beyond it
        {0, 0, 100, 100, 0},  // both zero: exact
        {0, 0, 100, 101, 1},
    };
    for (const auto &c : cases) {
        test_support::comparison o(true);
        set_combined(o, c.atol, c.rtol);
        EXPECT_EQ(count_of<T>(T(c.a), T(c.b), o), c.expected) << c.atol << " " << c.rtol << " " << c.a << " " << c.b;
        // Rows of the combined rule carry no relative column.
        EXPECT_FALSE(o.c.relative_header);
        // The buffer loop judges the same way.
        EXPECT_EQ(buffer_count<T>({T(c.a), T(1)}, {T(c.b), T(1)}, o), c.expected);
    }
}

TEST(CombinedRuleTest, SixtyFourBitExtremesAreComparedWithoutRounding)
{
    const int64_t lo = INT64_MIN, hi = INT64_MAX;
    const uint64_t top = UINT64_MAX;
    const struct {
        double atol, rtol;
        bool is_signed;
        uint64_t a, b; // bit patterns of the values
        nfound_t expected;
    } cases[] = {
        // |b - a| = 2^64 - 1: within a bound of 2^64, beyond 1.8e19.
        {0x1p64, 0, true, static_cast<uint64_t>(lo), static_cast<uint64_t>(hi), 0},
        {1.8e19, 0, true, static_cast<uint64_t>(lo), static_cast<uint64_t>(hi), 1},
        {0, 0, false, 0, top, 1},
        {0x1p64, 0, false, 0, top, 0},
        // Neighbours that double cannot tell apart still differ by one.
        {0.5, 0, false, top, top - 1, 1},
        {0.9, 0, true, (1ULL << 53) + 1, 1ULL << 53, 1},
        {1, 0, true, (1ULL << 53) + 1, 1ULL << 53, 0},
        // rtol on the largest magnitudes: |a| * 1 covers the whole range.
        {0, 1, true, static_cast<uint64_t>(lo), 0, 0},
        {0, 1, false, top, 0, 0},
        {0, 0.5, false, top, 0, 1},
    };
    for (const auto &c : cases) {
        test_support::comparison o(true);
        set_combined(o, c.atol, c.rtol);
        const nfound_t n = c.is_signed ? count_of<long long>(static_cast<long long>(c.a), static_cast<long long>(c.b), o)
                                       : count_of<unsigned long long>(c.a, c.b, o);
        EXPECT_EQ(n, c.expected) << c.atol << " " << c.rtol << " " << c.a << " " << c.b;
    }
}

// NaNs and infinities under every rule, with and without -N and --nan-equal.
template <class T> class SpecialValueTest : public testing::Test {};
using floating_types = testing::Types<float, double, long double>;
TYPED_TEST_SUITE(SpecialValueTest, floating_types);

TYPED_TEST(SpecialValueTest, NanAndInfinityUnderEveryRule)
{
    using T = TypeParam;
    const T nan = std::numeric_limits<T>::quiet_NaN();
    const T inf = std::numeric_limits<T>::infinity();
    enum rule_kind { exact, delta, relative, epsilon, combined };
    const rule_kind rules[] = {exact, delta, relative, epsilon, combined};
    // One NaN counts under every rule once NaNs are tested (the default, or
    // --nan-equal even after -N); two NaNs never do.
    struct nan_mode {
        bool detect, nan_equal;
    };
    for (const nan_mode m : {nan_mode{true, false}, nan_mode{false, true}, nan_mode{true, true}})
        for (const rule_kind r : rules) {
            test_support::comparison o(true);
            o.settings.detect_nans = m.detect;
            o.settings.nan_equal = m.nan_equal;
            o.settings.delta_mode = r == delta;
            o.settings.delta = 1;
            o.settings.relative_mode = r == relative;
            o.settings.relative = 0.5;
            o.settings.system_epsilon_mode = r == epsilon;
            if (r == combined)
                set_combined(o, 1, 0.5);
            const std::string what = "rule " + std::to_string(r) + " detect " + std::to_string(m.detect);
            EXPECT_EQ(count_of<T>(nan, nan, o), 0u) << what;
            EXPECT_EQ(count_of<T>(nan, T(1), o), 1u) << what;
            EXPECT_EQ(count_of<T>(T(1), nan, o), 1u) << what;
            EXPECT_EQ(count_of<T>(nan, inf, o), 1u) << what;
            EXPECT_EQ(buffer_count<T>({nan, T(1), nan}, {nan, T(1), T(2)}, o), 1u) << what;
        }
    // The combined rule on infinities, and on NaNs when -N leaves them to
    // the rule (a comparison with a NaN is false, as under -d).
    const struct {
        T a, b;
        nfound_t detected, undetected;
    } cases[] = {
        {inf, inf, 0, 0},   {-inf, -inf, 0, 0}, {inf, -inf, 1, 1}, {inf, T(1), 1, 1},
        {T(1), inf, 1, 1},  {-inf, T(0), 1, 1}, {nan, nan, 0, 0},  {nan, T(1), 1, 0},
        {T(1), nan, 1, 0},  {std::numeric_limits<T>::max(), std::numeric_limits<T>::lowest(), 1, 1},
    };
    for (const bool detect : {true, false})
        for (const auto &c : cases) {
            test_support::comparison o(true);
            o.settings.detect_nans = detect;
            set_combined(o, 1, 0.5);
            EXPECT_EQ(count_of<T>(c.a, c.b, o), detect ? c.detected : c.undetected)
                << static_cast<long double>(c.a) << " " << static_cast<long double>(c.b) << " " << detect;
        }
}

// Which rule a pair gets: the first rule whose path matches and that names
// a key sets it; the command line the rest.
TEST(PairRuleTest, FirstMatchingRuleNamingAKeyDecides)
{
    mirlo_settings s;
    s.delta_mode = true;
    s.delta = 7;
    s.count_mode = true;
    s.count_limit = 3;
    s.ignore_attrs = {"history"};
    std::string message;
    ASSERT_EQ(mirlo_parse_rules("[[rule]]\npath = \"/fields/*\"\natol = 1e-6\nrtol = 1e-4\n"
                                "[[rule]]\npath = \"/fields/**\"\nrelative = 0.5\ncount = 9\nnan_equal = true\n"
                                "ignore_attributes = [\"units\"]\n"
                                "[[rule]]\npath = \"/diag/*\"\nignore = true\n"
                                "[[rule]]\npath = \"/**\"\nexact = true\nignore_attributes = [\"date_*\"]\n",
                                "r.toml", &s.rules, &message),
              0)
        << message;
    s.detect_nans = false;
    const struct {
        const char *path;
        uint32_t number, tolerance_number;
        bool combined, relative, delta;
        uint64_t count;
        bool detect_nans, ignored;
    } cases[] = {
        {"/fields/t", 1, 1, true, false, false, 9, true, false},     // tolerance of rule 1, the rest of rule 2
        {"/fields/a/b", 2, 2, false, true, false, 9, true, false},   // ** only
        {"/fields", 2, 2, false, true, false, 9, true, false},       // "/x/**" also matches "/x"
        {"/diag/x", 4, 4, false, false, false, 3, false, true},      // ignored; exact from rule 4
        {"/other", 4, 4, false, false, false, 3, false, false},      // exact replaces -d
    };
    for (const auto &c : cases) {
        const pair_rule r = pair_rule_of(s, c.path, false);
        EXPECT_EQ(r.number, c.number) << c.path;
        EXPECT_EQ(r.tolerance_number, c.tolerance_number) << c.path;
        EXPECT_EQ(r.combined_mode, c.combined) << c.path;
        EXPECT_EQ(r.relative_mode, c.relative) << c.path;
        EXPECT_EQ(r.delta_mode, c.delta) << c.path;
        EXPECT_EQ(r.count_limit, c.count) << c.path;
        EXPECT_EQ(r.detect_nans, c.detect_nans) << c.path;
        EXPECT_EQ(r.ignored, c.ignored) << c.path;
        EXPECT_EQ(rules_ignore_object(s, c.path), c.ignored) << c.path;
        // The command line's globs on every object, a rule's beside them.
        EXPECT_TRUE(pair_attribute_ignored(s, r, "history")) << c.path;
        // The first matching rule that names ignore_attributes gives its globs.
        const bool in_fields = c.number <= 2;
        EXPECT_EQ(pair_attribute_ignored(s, r, "date_created"), !in_fields) << c.path;
        EXPECT_EQ(pair_attribute_ignored(s, r, "units"), in_fields) << c.path;
    }
    // Without a rules file the command line decides everything.
    s.rules.clear();
    const pair_rule plain = pair_rule_of(s, "/fields/t", true);
    EXPECT_TRUE(plain.delta_mode);
    EXPECT_EQ(plain.delta, 7);
    EXPECT_EQ(plain.number, 0u);
    EXPECT_TRUE(plain.attributes_excluded);
}

} // namespace
