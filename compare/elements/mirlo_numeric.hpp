// Element comparers of the native numeric types: when a pair of values (one
// from each buffer, at the same index) is a difference under the chosen
// tolerance, and the row printed for it.
//
// One template over the element type does the work; a traits struct per type
// supplies the arithmetic and the row formats. The named comparers
// (diff_int_elem and the rest) are its instances, and the buffer loop used by
// diff_array is in the template too, so the test of a pair inlines into it.
//
// Integer differences are exact: the absolute difference is taken in the
// unsigned type of the element's width (larger minus smaller never wraps),
// and the relative difference is that exact difference over |a|, in double.
//
// The combined rule (--atol A --rtol R) counts a pair when |b - a| exceeds
// A + R * |a|. Floating values take one comparison on the equal path; NaNs
// and infinities go the rare way: equal infinities are equal, an infinity
// against anything else differs. Integers compare their exact unsigned
// difference with the bound rounded down, which is the same test for an
// integer difference and never rounds a 64-bit value.
#pragma once
#include "mirlo_context.hpp"
#include "mirlo_output.hpp"
#include "mirlo_report.hpp"
#include "mirlo_stats.hpp"
#include "zarn.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

// "Near zero" threshold of the relative rule, and the epsilon of double.
constexpr double MIRLO_ZERO_THRESHOLD = 0x1p-52;
constexpr float MIRLO_FLOAT_EPSILON = 0x1p-23f;
constexpr long double MIRLO_LDOUBLE_EPSILON = 0x1p-63L;
// Relative difference given to a pair whose values are both near zero.
constexpr double MIRLO_BOTH_ZERO = -1.0;
// Bytes of a long double that carry its value (80-bit extended format).
constexpr size_t MIRLO_LDOUBLE_VALUE_BYTES = 10;

// The rule the tolerance fields select. Exact mode splits in two: bit
// equality, or (floating types with --use-system-epsilon) the epsilon test.
enum class numeric_rule { exact, system_epsilon, absolute, relative, absolute_relative, combined };

// Outcome of one pair: no difference, or the row format to report it with.
enum numeric_verdict : int { verdict_same = 0, verdict_plain, verdict_relative, verdict_not_comparable };

// The tolerance settings, read once per buffer.
struct numeric_tolerance {
    double delta;
    double relative;
    // delta truncated toward zero, for the exact test of integer differences:
    // an integer d exceeds delta exactly when it exceeds floor(delta).
    uint64_t delta_floor;
    bool detect_nans;
    // The combined rule: atol and rtol, and atol rounded down for integers.
    double atol;
    double rtol;
    uint64_t atol_floor;
};

// A non-negative bound rounded down to an integer, saturated: an integer d
// exceeds x exactly when it exceeds floor(x).
inline uint64_t numeric_floor(double x)
{
    if (std::isnan(x))
        return UINT64_MAX; // a NaN bound is never exceeded
    if (x <= 0.0)
        return 0;
    if (x >= 0x1p64)
        return UINT64_MAX;
    return static_cast<uint64_t>(x);
}

inline numeric_rule numeric_rule_of(const pair_rule &o)
{
    if (o.combined_mode)
        return numeric_rule::combined;
    if (o.delta_mode && o.relative_mode)
        return numeric_rule::absolute_relative;
    if (o.delta_mode)
        return numeric_rule::absolute;
    if (o.relative_mode)
        return numeric_rule::relative;
    if (o.system_epsilon_mode)
        return numeric_rule::system_epsilon;
    return numeric_rule::exact;
}

inline numeric_tolerance numeric_tolerance_of(const pair_rule &o)
{
    numeric_tolerance t{};
    t.delta = o.delta;
    t.relative = o.relative;
    t.detect_nans = o.detect_nans;
    t.delta_floor = numeric_floor(o.delta);
    t.atol = o.atol;
    t.rtol = o.rtol;
    t.atol_floor = numeric_floor(o.atol);
    return t;
}

template <class T> struct numeric_traits;

// Arithmetic shared by the integer types. diff_type holds |a - b| exactly.
template <class T> struct integer_traits_base {
    static constexpr bool is_float = false;
    static constexpr bool has_not_comparable = true;
    using diff_type = std::make_unsigned_t<T>;

    static diff_type abs_diff(T a, T b)
    {
        using U = diff_type;
        return a > b ? static_cast<U>(static_cast<U>(a) - static_cast<U>(b))
                     : static_cast<U>(static_cast<U>(b) - static_cast<U>(a));
    }
    static bool equal(T a, T b) { return a == b; }
    static bool within_epsilon(T a, T b) { return a == b; }
    static bool abs_exceeds(T a, T b, const numeric_tolerance &t) { return abs_diff(a, b) > t.delta_floor; }
    static bool combined_exceeds(T a, T b, const numeric_tolerance &t)
    {
        const uint64_t bound =
            t.rtol == 0.0 ? t.atol_floor : numeric_floor(t.atol + t.rtol * std::fabs(static_cast<double>(a)));
        return abs_diff(a, b) > bound;
    }
    static bool near_zero(T a) { return a == 0; }
    // |b - a| / |a| for a non-zero a.
    static double relative(T a, T b)
    {
        return static_cast<double>(abs_diff(a, b)) / std::fabs(static_cast<double>(a));
    }
};

// Integer traits with their row formats. VF converts a value, DF the exact
// difference (unsigned, so a difference beyond the signed range prints as
// its true value); VC and DC are the matching argument types.
#define MIRLO_INTEGER_TRAITS(T, VF, VC, DF, DC)                                                      \
    template <> struct numeric_traits<T> : integer_traits_base<T> {                                  \
        static void print_plain(output_sink *out, T a, T b)                                                            \
        {                                                                                            \
            output_print(out, "%-15" VF " %-15" VF " %-15" DF "\n", static_cast<VC>(a),            \
                                static_cast<VC>(b), static_cast<DC>(abs_diff(a, b)));                \
        }                                                                                            \
        static void print_relative(output_sink *out, T a, T b)                                                         \
        {                                                                                            \
            output_print(out, "%-15" VF " %-15" VF " %-15" DF " %-14f\n", static_cast<VC>(a),      \
                                static_cast<VC>(b), static_cast<DC>(abs_diff(a, b)), relative(a, b)); \
        }                                                                                            \
        static void print_not_comparable(output_sink *out, T a, T b)                                                   \
        {                                                                                            \
            output_print(out, "%-15" VF " %-15" VF " %-15" DF " not comparable\n",                 \
                                static_cast<VC>(a), static_cast<VC>(b),                              \
                                static_cast<DC>(abs_diff(a, b)));                                    \
        }                                                                                            \
    }

MIRLO_INTEGER_TRAITS(signed char, "d", int, "d", int);
MIRLO_INTEGER_TRAITS(unsigned char, "d", int, "d", int);
MIRLO_INTEGER_TRAITS(short, "d", int, "d", int);
MIRLO_INTEGER_TRAITS(unsigned short, "d", int, "d", int);
MIRLO_INTEGER_TRAITS(int, "d", int, "u", unsigned);
MIRLO_INTEGER_TRAITS(unsigned, "u", unsigned, "u", unsigned);
MIRLO_INTEGER_TRAITS(long, "ld", long, "lu", unsigned long);
MIRLO_INTEGER_TRAITS(unsigned long, "lu", unsigned long, "lu", unsigned long);
MIRLO_INTEGER_TRAITS(long long, "lld", long long, "llu", unsigned long long);
MIRLO_INTEGER_TRAITS(unsigned long long, "llu", unsigned long long, "llu", unsigned long long);
#undef MIRLO_INTEGER_TRAITS

// One byte of a bitfield, opaque or enum value. It has no not-comparable
// case: a zero byte in buffer 1 gets the both-zero marker whatever the other.
template <> struct numeric_traits<std::byte> {
    static constexpr bool is_float = false;
    static constexpr bool has_not_comparable = false;
    using base = numeric_traits<unsigned char>;

    static unsigned char v(std::byte x) { return static_cast<unsigned char>(x); }
    static unsigned char abs_diff(std::byte a, std::byte b) { return base::abs_diff(v(a), v(b)); }
    static bool equal(std::byte a, std::byte b) { return a == b; }
    static bool within_epsilon(std::byte a, std::byte b) { return a == b; }
    static bool abs_exceeds(std::byte a, std::byte b, const numeric_tolerance &t)
    {
        return abs_diff(a, b) > t.delta_floor;
    }
    static bool combined_exceeds(std::byte a, std::byte b, const numeric_tolerance &t)
    {
        return base::combined_exceeds(v(a), v(b), t);
    }
    static bool near_zero(std::byte a) { return v(a) == 0; }
    static double relative(std::byte a, std::byte b) { return base::relative(v(a), v(b)); }
    static void print_plain(output_sink *out, std::byte a, std::byte b)
    {
        output_print(out, "%-15d %-15d %-15d\n", v(a), v(b), abs_diff(a, b));
    }
    static void print_relative(output_sink *out, std::byte a, std::byte b)
    {
        output_print(out, "%-15d %-15d %-15d %-14f\n", v(a), v(b), abs_diff(a, b), relative(a, b));
    }
    static void print_not_comparable(output_sink *, std::byte, std::byte) {}
};

// Arithmetic shared by the floating types.
template <class T> struct float_traits_base {
    static constexpr bool is_float = true;
    static constexpr bool has_not_comparable = true;

    static bool near_zero(T a) { return std::fabs(0.0 - static_cast<double>(a)) < MIRLO_ZERO_THRESHOLD; }
    // |a - b| in the element's own type.
    static T abs_diff(T a, T b) { return std::fabs(a - b); }
    static bool abs_exceeds(T a, T b, const numeric_tolerance &t)
    {
        return static_cast<double>(abs_diff(a, b)) > t.delta;
    }
    // The combined rule in W (double, or long double for long double): the
    // equal path is one comparison, with the bound capped below infinity so
    // that an infinite or NaN difference always takes the rare path.
    using wide = std::conditional_t<std::is_same_v<T, long double>, long double, double>;
    static bool combined_exceeds(T a, T b, const numeric_tolerance &t)
    {
        const wide wa = static_cast<wide>(a);
        const wide d = std::fabs(static_cast<wide>(b) - wa);
        const wide bound = static_cast<wide>(t.atol) + static_cast<wide>(t.rtol) * std::fabs(wa);
        // A conditional rather than std::fmin, which may be a library call.
        constexpr wide largest = std::numeric_limits<wide>::max();
        if (d <= (bound < largest ? bound : largest)) [[likely]]
            return false;
        return combined_rare(a, b, d, bound);
    }
    [[gnu::noinline, gnu::cold]] static bool combined_rare(T a, T b, wide d, wide bound)
    {
        // NaN tests, when on, came before: a NaN here runs through the rule
        // as a comparison that is false, as under -d.
        if (std::isnan(a) || std::isnan(b))
            return false;
        if (std::isinf(a) || std::isinf(b))
            return a != b;
        return d > bound;
    }
    // (b - a) / a, the subtraction in the element's type, the division in double.
    static double relative(T a, T b) { return std::fabs(static_cast<double>(b - a) / static_cast<double>(a)); }
    // The relative column: |1 - b/a| in the element's own type.
    static T relative_column(T a, T b) { return std::fabs(T(1) - b / a); }
};

template <> struct numeric_traits<float> : float_traits_base<float> {
    static bool equal(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
    static bool within_epsilon(float a, float b) { return std::fabs(a - b) < MIRLO_FLOAT_EPSILON; }
    static void print_plain(output_sink *out, float a, float b)
    {
        output_print(out, "%-15g %-15g %-15g\n", static_cast<double>(a), static_cast<double>(b),
                            static_cast<double>(abs_diff(a, b)));
    }
    static void print_relative(output_sink *out, float a, float b)
    {
        output_print(out, "%-15.10g %-15.10g %-15.10g %-14.10g\n", static_cast<double>(a),
                            static_cast<double>(b), static_cast<double>(abs_diff(a, b)),
                            static_cast<double>(relative_column(a, b)));
    }
    static void print_not_comparable(output_sink *out, float a, float b)
    {
        output_print(out, "%-15.10g %-15.10g %-15.10g not comparable\n", static_cast<double>(a),
                            static_cast<double>(b), static_cast<double>(abs_diff(a, b)));
    }
};

template <> struct numeric_traits<double> : float_traits_base<double> {
    static bool equal(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
    static bool within_epsilon(double a, double b) { return std::fabs(a - b) < MIRLO_ZERO_THRESHOLD; }
    static void print_plain(output_sink *out, double a, double b)
    {
        output_print(out, "%-15g %-15g %-15g\n", a, b, abs_diff(a, b));
    }
    static void print_relative(output_sink *out, double a, double b)
    {
        output_print(out, "%-15.10g %-15.10g %-15.10g %-14.10g\n", a, b, abs_diff(a, b),
                            relative_column(a, b));
    }
    static void print_not_comparable(output_sink *out, double a, double b)
    {
        output_print(out, "%-15.10g %-15.10g %-15.10g not comparable\n", a, b, abs_diff(a, b));
    }
};

template <> struct numeric_traits<long double> : float_traits_base<long double> {
    // Only the 10 bytes of the extended value count; the padding after it
    // in the 16-byte element is ignored.
    static bool equal(long double a, long double b)
    {
        return std::memcmp(&a, &b, MIRLO_LDOUBLE_VALUE_BYTES) == 0;
    }
    static bool within_epsilon(long double a, long double b)
    {
        return std::fabs(a - b) < MIRLO_LDOUBLE_EPSILON;
    }
    static void print_plain(output_sink *out, long double a, long double b)
    {
        output_print(out, "%-15Lg %-15Lg %-15Lg\n", a, b, abs_diff(a, b));
    }
    static void print_relative(output_sink *out, long double a, long double b)
    {
        output_print(out, "%-15.10Lg %-15.10Lg %-15.10Lg %-14.10Lg\n", a, b, abs_diff(a, b),
                            relative_column(a, b));
    }
    static void print_not_comparable(output_sink *out, long double a, long double b)
    {
        output_print(out, "%-15.10Lg %-15.10Lg %-15.10Lg not comparable\n", a, b, abs_diff(a, b));
    }
};
static_assert(sizeof(long double) >= MIRLO_LDOUBLE_VALUE_BYTES);

// The test of one pair under rule R. Pure: no output, no state.
template <class T, numeric_rule R>
inline numeric_verdict numeric_judge(T a, T b, const numeric_tolerance &t)
{
    using tr = numeric_traits<T>;
    if constexpr (tr::is_float) {
        if (t.detect_nans) {
            const bool na = std::isnan(a);
            const bool nb = std::isnan(b);
            if (na || nb) [[unlikely]]
                return na && nb ? verdict_same : verdict_plain;
        }
    }
    if constexpr (R == numeric_rule::exact) {
        return tr::equal(a, b) ? verdict_same : verdict_plain;
    } else if constexpr (R == numeric_rule::system_epsilon) {
        // Equal infinities fail this test (their difference is NaN); the
        // report below lets them pass.
        return tr::within_epsilon(a, b) ? verdict_same : verdict_plain;
    } else if constexpr (R == numeric_rule::absolute) {
        return tr::abs_exceeds(a, b, t) ? verdict_plain : verdict_same;
    } else if constexpr (R == numeric_rule::combined) {
        return tr::combined_exceeds(a, b, t) ? verdict_plain : verdict_same;
    } else {
        double r;
        if (tr::near_zero(a)) {
            if constexpr (tr::has_not_comparable) {
                if (!tr::near_zero(b))
                    return verdict_not_comparable;
            }
            r = MIRLO_BOTH_ZERO;
        } else {
            r = tr::relative(a, b);
        }
        if constexpr (R == numeric_rule::relative)
            return r > t.relative ? verdict_relative : verdict_same;
        else
            return r > t.relative && tr::abs_exceeds(a, b, t) ? verdict_relative : verdict_same;
    }
}

// Notes one difference of a native numeric buffer in the pair's statistics,
// when they are gathered: the exact absolute difference, the relative one
// where the first value is not near zero, and both values. Out of line, so
// that a run without statistics pays one test in numeric_report.
template <class T>
[[gnu::noinline, gnu::cold]] void numeric_note(T a, T b, uint64_t elem_idx, const pair_context *ctx)
{
    if constexpr (std::is_same_v<T, std::byte>) {
        (void)a, (void)b, (void)elem_idx, (void)ctx;
        return; // bytes of bitfields and opaque values are not numeric data
    } else {
        using tr = numeric_traits<T>;
        diff_stats *const s = ctx->stats;
        if (s == nullptr || !s->native)
            return;
        stat_number abs;
        if constexpr (tr::is_float)
            abs = stat_number::of_double(static_cast<double>(tr::abs_diff(a, b)));
        else
            abs = stat_number::of_unsigned(static_cast<uint64_t>(tr::abs_diff(a, b)));
        if constexpr (tr::is_float) {
            if (std::isnan(a) || std::isnan(b))
                ++s->nan_differences;
        }
        if (tr::near_zero(a))
            s->zero_first = true;
        const stat_number rel = tr::near_zero(a) ? stat_number{} : stat_number::of_double(tr::relative(a, b));
        stats_note(s, ctx, elem_idx, abs, rel, stat_number_of(a), stat_number_of(b));
    }
}

// Reports one pair judged different: the position column (and the header
// when pending), then the value line when rows are printed, and the
// statistics when they are gathered; returns the count, 1 (or 0 for equal
// infinities under the epsilon rule). Kept out of line so the buffer loops
// stay small.
template <class T>
[[gnu::noinline, gnu::cold]] nfound_t numeric_report(T a, T b, numeric_verdict v, uint64_t elem_idx,
                                                     pair_context *ctx)
{
    using tr = numeric_traits<T>;
    // Under the epsilon rule two equal infinities differ by NaN, yet they are
    // equal values. Checked here, where only pairs judged different arrive,
    // so that the per-element loops stay as they are. A NaN equals nothing:
    // without NaN detection it still counts against itself.
    if constexpr (tr::is_float) {
        if (v == verdict_plain && numeric_rule_of(ctx->rule) == numeric_rule::system_epsilon && a == b)
            return 0;
    }
    ctx->relative_header = v == verdict_relative || v == verdict_not_comparable;
    print_position(ctx, elem_idx, 0);
    if (rows_printed(*ctx->settings)) {
        if (v == verdict_relative)
            tr::print_relative(ctx->out, a, b);
        else if (v == verdict_not_comparable)
            tr::print_not_comparable(ctx->out, a, b);
        else
            tr::print_plain(ctx->out, a, b);
    }
    if (ctx->stats != nullptr)
        numeric_note(a, b, elem_idx, ctx);
    return 1;
}

template <class T> inline T numeric_load(const void *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// One pair: the shape shared by every named comparer.
template <class T>
inline nfound_t numeric_diff_elem(const void *p1, const void *p2, uint64_t elem_idx, pair_context *ctx)
{
    const T a = numeric_load<T>(p1);
    const T b = numeric_load<T>(p2);
    const numeric_tolerance t = numeric_tolerance_of(ctx->rule);
    numeric_verdict v = verdict_same;
    switch (numeric_rule_of(ctx->rule)) {
    case numeric_rule::exact: v = numeric_judge<T, numeric_rule::exact>(a, b, t); break;
    case numeric_rule::system_epsilon: v = numeric_judge<T, numeric_rule::system_epsilon>(a, b, t); break;
    case numeric_rule::absolute: v = numeric_judge<T, numeric_rule::absolute>(a, b, t); break;
    case numeric_rule::relative: v = numeric_judge<T, numeric_rule::relative>(a, b, t); break;
    case numeric_rule::absolute_relative:
        v = numeric_judge<T, numeric_rule::absolute_relative>(a, b, t);
        break;
    case numeric_rule::combined: v = numeric_judge<T, numeric_rule::combined>(a, b, t); break;
    }
    return v == verdict_same ? 0 : numeric_report<T>(a, b, v, elem_idx, ctx);
}

template <class T, numeric_rule R>
inline nfound_t numeric_loop(const unsigned char *p1, const unsigned char *p2, uint64_t count,
                             const numeric_tolerance &t, uint64_t limit, pair_context *ctx)
{
    nfound_t found = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const T a = numeric_load<T>(p1 + i * sizeof(T));
        const T b = numeric_load<T>(p2 + i * sizeof(T));
        const numeric_verdict v = numeric_judge<T, R>(a, b, t);
        if (v != verdict_same) [[unlikely]] {
            found += numeric_report<T>(a, b, v, i, ctx);
            if (found >= limit)
                break;
        }
    }
    return found;
}

// Compares count elements of type T at buf1 and buf2, element i with index
// i, stopping once the count limit (when set) is reached. Aligned to a cache
// line: the loops inside are a few instructions each, and where they fall
// against 64-byte boundaries changed their speed by up to half when code
// elsewhere in the program moved them.
template <class T>
[[gnu::aligned(64)]] nfound_t numeric_diff_buffer(const void *buf1, const void *buf2, uint64_t count, pair_context *ctx)
{
    const auto *p1 = static_cast<const unsigned char *>(buf1);
    const auto *p2 = static_cast<const unsigned char *>(buf2);
    const numeric_tolerance t = numeric_tolerance_of(ctx->rule);
    uint64_t limit = UINT64_MAX;
    if (ctx->rule.count_mode) {
        limit = ctx->count_left;
        if (limit == 0 && count > 1)
            count = 1; // the limit is checked after each element, so one is compared
    }
    switch (numeric_rule_of(ctx->rule)) {
    case numeric_rule::exact: return numeric_loop<T, numeric_rule::exact>(p1, p2, count, t, limit, ctx);
    case numeric_rule::system_epsilon:
        return numeric_loop<T, numeric_rule::system_epsilon>(p1, p2, count, t, limit, ctx);
    case numeric_rule::absolute:
        return numeric_loop<T, numeric_rule::absolute>(p1, p2, count, t, limit, ctx);
    case numeric_rule::relative:
        return numeric_loop<T, numeric_rule::relative>(p1, p2, count, t, limit, ctx);
    case numeric_rule::absolute_relative:
        return numeric_loop<T, numeric_rule::absolute_relative>(p1, p2, count, t, limit, ctx);
    case numeric_rule::combined:
        return numeric_loop<T, numeric_rule::combined>(p1, p2, count, t, limit, ctx);
    }
    return 0;
}

// The named comparers: one pair each, returning 1 for a difference.
#define MIRLO_ELEM_COMPARER(name, T)                                                              \
    inline nfound_t name(const void *p1, const void *p2, uint64_t elem_idx, pair_context *ctx) \
    {                                                                                             \
        return numeric_diff_elem<T>(p1, p2, elem_idx, ctx);                                   \
    }
MIRLO_ELEM_COMPARER(diff_schar_elem, signed char)
MIRLO_ELEM_COMPARER(diff_uchar_elem, unsigned char)
MIRLO_ELEM_COMPARER(diff_short_elem, short)
MIRLO_ELEM_COMPARER(diff_ushort_elem, unsigned short)
MIRLO_ELEM_COMPARER(diff_int_elem, int)
MIRLO_ELEM_COMPARER(diff_uint_elem, unsigned)
MIRLO_ELEM_COMPARER(diff_long_elem, long)
MIRLO_ELEM_COMPARER(diff_ulong_elem, unsigned long)
MIRLO_ELEM_COMPARER(diff_llong_elem, long long)
MIRLO_ELEM_COMPARER(diff_ullong_elem, unsigned long long)
MIRLO_ELEM_COMPARER(diff_float_elem, float)
MIRLO_ELEM_COMPARER(diff_double_elem, double)
MIRLO_ELEM_COMPARER(diff_ldouble_elem, long double)
MIRLO_ELEM_COMPARER(diff_byte_elem, std::byte)
#undef MIRLO_ELEM_COMPARER

// Unsigned 64-bit to float, rounded to nearest (as HDF5's own conversion
// does); writes the result through out.
inline void ull2float(unsigned long long value, float *out)
{
    *out = static_cast<float>(value);
}
