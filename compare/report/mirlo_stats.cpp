// Statistics of the differences of one object's data.
#include "mirlo_stats.hpp"

#include "mirlo_report.hpp"
#include "zarn.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

bool operator==(const stat_number &x, const stat_number &y)
{
    if (x.kind != y.kind)
        return false;
    switch (x.kind) {
    case stat_number::signed_int: return x.i == y.i;
    case stat_number::unsigned_int: return x.u == y.u;
    case stat_number::floating: return x.f == y.f || (std::isnan(x.f) && std::isnan(y.f));
    default: return true;
    }
}

bool stat_greater(const stat_number &x, const stat_number &y)
{
    if (!x.present() || (x.kind == stat_number::floating && std::isnan(x.f)))
        return false;
    if (!y.present())
        return true;
    if (x.kind != y.kind)
        return false;
    switch (x.kind) {
    case stat_number::signed_int: return x.i > y.i;
    case stat_number::unsigned_int: return x.u > y.u;
    default: return x.f > y.f;
    }
}

stat_unit stat_unit_of_class(int type_class)
{
    switch (type_class) {
    case H5T_STRING: return stat_unit::character;
    case H5T_BITFIELD:
    case H5T_OPAQUE: return stat_unit::byte;
    case H5T_COMPOUND:
    case H5T_ARRAY:
    case H5T_VLEN: return stat_unit::value;
    default: return stat_unit::element;
    }
}

namespace {

constexpr const char *UNIT_WORDS[] = {"element", "character", "byte", "value"};

} // namespace

const char *stat_unit_word(stat_unit unit)
{
    return UNIT_WORDS[static_cast<size_t>(unit)];
}

bool stat_unit_from_word(const std::string &word, stat_unit *unit)
{
    for (size_t k = 0; k < std::size(UNIT_WORDS); ++k)
        if (word == UNIT_WORDS[k]) {
            *unit = static_cast<stat_unit>(k);
            return true;
        }
    return false;
}

namespace {

std::vector<uint64_t> position_of(const pair_context *ctx, uint64_t elem_idx)
{
    const int rank = ctx->rank > MIRLO_MAX_RANK ? MIRLO_MAX_RANK : ctx->rank;
    if (rank <= 0)
        return {};
    uint64_t coords[MIRLO_MAX_RANK];
    element_position(ctx, elem_idx, coords);
    return std::vector<uint64_t>(coords, coords + rank);
}

void print_number(output_sink *out, const stat_number &v)
{
    switch (v.kind) {
    case stat_number::signed_int: output_print(out, "%lld", static_cast<long long>(v.i)); break;
    case stat_number::unsigned_int: output_print(out, "%llu", static_cast<unsigned long long>(v.u)); break;
    case stat_number::floating: output_print(out, "%g", v.f); break;
    default: break;
    }
}

void print_extreme(output_sink *out, const char *what, const stat_extreme &e)
{
    if (!e.value.present())
        return;
    output_print(out, ", largest %s difference ", what);
    print_number(out, e.value);
    if (e.position.empty())
        return;
    output_print(out, " at [ ");
    for (uint64_t c : e.position)
        output_print(out, "%llu ", static_cast<unsigned long long>(c));
    output_print(out, "]");
}

// x with three significant digits, rounded up where rounding to nearest
// would fall below it, so that a tolerance of the printed value covers x.
void print_not_below(output_sink *out, double x)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.3g", x);
    if (std::strtod(text, nullptr) < x) {
        const double scale = std::pow(10.0, 2 - std::floor(std::log10(x)));
        std::snprintf(text, sizeof text, "%g", std::ceil(x * scale) / scale);
        if (std::strtod(text, nullptr) < x)
            std::snprintf(text, sizeof text, "%.17g", x);
    }
    output_print(out, "%s", text);
}

// The tolerances with which the data would pass: --atol the largest
// absolute difference, --rtol the largest relative one. None covers a NaN,
// and no --rtol covers a difference whose first value is zero.
void print_passing_tolerances(output_sink *out, const diff_stats &s)
{
    const stat_number &abs = s.max_abs.value;
    if (s.nan_differences > 0 || !abs.present() || (abs.kind == stat_number::floating && !std::isfinite(abs.f)))
        return;
    output_print(out, "; it would pass with --atol ");
    if (s.max_abs.value.kind == stat_number::floating)
        print_not_below(out, s.max_abs.value.f);
    else
        print_number(out, s.max_abs.value);
    output_print(out, " (the largest absolute difference)");
    if (s.zero_first || !s.max_rel.value.present() || !std::isfinite(s.max_rel.value.f))
        return;
    output_print(out, " or with --rtol ");
    print_not_below(out, s.max_rel.value.f);
    output_print(out, " (the largest relative difference)");
}

} // namespace

void stats_note(diff_stats *s, const pair_context *ctx, uint64_t elem_idx, const stat_number &abs,
                const stat_number &rel, const stat_number &a, const stat_number &b)
{
    s->last_index = elem_idx;
    const bool example = s->first.size() < MIRLO_FIRST_DIFFERENCES;
    const bool new_abs = stat_greater(abs, s->max_abs.value);
    const bool new_rel = stat_greater(rel, s->max_rel.value);
    if (!example && !new_abs && !new_rel)
        return;
    std::vector<uint64_t> position = position_of(ctx, elem_idx);
    if (new_abs)
        s->max_abs = {abs, position};
    if (new_rel)
        s->max_rel = {rel, position};
    if (example)
        s->first.push_back({std::move(position), a, b});
}

void stats_note_element(diff_stats *s, const pair_context *ctx, uint64_t elem_idx)
{
    s->last_index = elem_idx;
    if (s->first.size() < MIRLO_FIRST_DIFFERENCES)
        s->first.push_back({position_of(ctx, elem_idx), {}, {}});
}

void stats_merge(diff_stats *s, const diff_stats &later)
{
    s->elements += later.elements;
    s->nan_differences += later.nan_differences;
    s->zero_first = s->zero_first || later.zero_first;
    s->unit = later.unit;
    if (stat_greater(later.max_abs.value, s->max_abs.value))
        s->max_abs = later.max_abs;
    if (stat_greater(later.max_rel.value, s->max_rel.value))
        s->max_rel = later.max_rel;
    for (const stat_example &e : later.first) {
        if (s->first.size() >= MIRLO_FIRST_DIFFERENCES)
            break;
        s->first.push_back(e);
    }
}

void print_statistics(const mirlo_settings &settings, output_sink *out, const diff_stats &s, nfound_t differences,
                      const mirlo_tolerance *tolerance)
{
    if (!settings.statistics_mode || settings.quiet_mode || differences == 0)
        return;
    output_print(out, "statistics: %llu elements compared, %llu differences",
                        static_cast<unsigned long long>(s.elements), static_cast<unsigned long long>(differences));
    // Differences inside elements are counted as the count line counts
    // them; say so beside the count of elements.
    switch (s.unit) {
    case stat_unit::element: break;
    case stat_unit::character: output_print(out, " (one per differing character)"); break;
    case stat_unit::byte: output_print(out, " (one per differing byte)"); break;
    case stat_unit::value: output_print(out, " (one per differing value inside an element)"); break;
    }
    if (s.nan_differences > 0)
        output_print(out, ", %llu with a NaN", static_cast<unsigned long long>(s.nan_differences));
    print_extreme(out, "absolute", s.max_abs);
    print_extreme(out, "relative", s.max_rel);
    if (tolerance != nullptr && tolerance->kind == tolerance_kind::exact)
        print_passing_tolerances(out, s);
    output_print(out, "\n");
}
