// Statistics of the differences found in one object's data (a dataset or an
// attribute): elements compared, largest absolute and relative differences
// with their positions, and the first differing elements.
//
// They are gathered only where an element already counts as a difference
// (the comparers' reporting path), never per element on the equal path, and
// only while the pair's context names an accumulator. Positions are worked
// out for the first differences and for each new maximum only.
#pragma once
#include "mirlo_context.hpp"
#include "mirlo_output.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

// The most first differences kept per object.
constexpr size_t MIRLO_FIRST_DIFFERENCES = 10;

// One number as the data holds it: integers of any width exactly.
struct stat_number {
    enum kind_t : uint8_t { none = 0, signed_int, unsigned_int, floating };
    kind_t kind = none;
    int64_t i = 0;
    uint64_t u = 0;
    double f = 0;

    static stat_number of_signed(int64_t v) { return {signed_int, v, 0, 0}; }
    static stat_number of_unsigned(uint64_t v) { return {unsigned_int, 0, v, 0}; }
    static stat_number of_double(double v) { return {floating, 0, 0, v}; }
    bool present() const { return kind != none; }
};
bool operator==(const stat_number &x, const stat_number &y);

// True when x is larger than y: y absent and x present and not NaN, or both
// of one kind and x > y. A NaN is never larger.
bool stat_greater(const stat_number &x, const stat_number &y);

// A largest difference and where it was found (full-extent coordinates).
struct stat_extreme {
    stat_number value; // absent until a difference with a value is seen
    std::vector<uint64_t> position;
};

// One of the first differing elements: its position and, for numeric data,
// the two values.
struct stat_example {
    std::vector<uint64_t> position;
    stat_number value1, value2;
};

// What one difference of an object's data counts, as its count line counts
// it: an element (numbers, enumerations, references); a character of a
// string (a length that differs counts one too); a byte of a bitfield or
// opaque value; a value inside a compound, array or variable-length element
// (each member or item that differs, down to characters and bytes).
enum class stat_unit : uint8_t { element = 0, character, byte, value };

// The unit of data whose memory type is of class type_class, and its word in
// the JSON report ("element", "character", "byte", "value").
stat_unit stat_unit_of_class(int type_class);
const char *stat_unit_word(stat_unit unit);
// The unit of a word; false for a word that names none.
bool stat_unit_from_word(const std::string &word, stat_unit *unit);

struct diff_stats {
    // Elements compared: diff_array adds those of every buffer it compares,
    // so a path that settles data as equal without it must add them here.
    uint64_t elements = 0;
    stat_extreme max_abs;            // largest |a - b|
    stat_extreme max_rel;            // largest |b - a| / |a|, over a not near zero
    std::vector<stat_example> first; // the first differing elements, in order
    stat_unit unit = stat_unit::element; // what the differences count
    uint64_t nan_differences = 0;    // differences with a NaN on one side or both
    // A difference whose first value is zero (or near it): no relative
    // tolerance covers it.
    bool zero_first = false;

    // Gathering state, meaningless outside a comparison.
    int depth = 0;           // nesting of buffer comparisons (references compare datasets inside one)
    bool native = false;     // the buffer now compared is of a native numeric type
    uint64_t last_index = 0; // index within the buffer of the last difference noted
};

// A difference of two numeric elements at elem_idx of the buffer being
// compared: abs and rel (absent when undefined) with the values a and b.
void stats_note(diff_stats *s, const pair_context *ctx, uint64_t elem_idx, const stat_number &abs,
                const stat_number &rel, const stat_number &a, const stat_number &b);
// A differing element of a type that is not numeric.
void stats_note_element(diff_stats *s, const pair_context *ctx, uint64_t elem_idx);

// Merges the statistics of a later piece of the same data into s: counts
// add, maxima merge (an equal value keeps the earlier position), first
// differences follow in order up to the cap.
void stats_merge(diff_stats *s, const diff_stats &later);

// The --statistics line of an object (a dataset's data, an attribute) after
// its count line: printed when --statistics is given, the object has
// differences and the run is not quiet.
// With the tolerance in force given and exact (every differing element then
// entered the statistics), the line ends with the smallest --atol and the
// smallest --rtol with which the data would pass.
void print_statistics(const mirlo_settings &settings, output_sink *out, const diff_stats &s, nfound_t differences,
                      const mirlo_tolerance *tolerance = nullptr);

template <class T> stat_number stat_number_of(T v)
{
    if constexpr (std::is_floating_point_v<T>)
        return stat_number::of_double(static_cast<double>(v));
    else if constexpr (std::is_signed_v<T>)
        return stat_number::of_signed(static_cast<int64_t>(v));
    else
        return stat_number::of_unsigned(static_cast<uint64_t>(v));
}
