// Comparison rules per object: the rules file (--rules FILE, TOML) and how
// one object's rule is resolved from it and from the command line.
//
// A rules file is an ordered list of [[rule]] tables, each with a glob on the
// object's path and some of the keys below. For each key, the first rule
// whose path matches and that names the key sets it; a key no matching rule
// names keeps the command line's value. The tolerance keys (exact, atol and
// rtol, delta, relative, system_epsilon) count as one key: a rule's tolerance
// replaces the command line's tolerance as a whole.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How element pairs are told apart.
enum class tolerance_kind : int32_t {
    exact = 0,          // equal bits (every element type)
    delta = 1,          // |a - b| > delta
    relative = 2,       // |(b - a) / a| > relative
    system_epsilon = 3, // |a - b| > the type's epsilon
    combined = 4,       // |b - a| > atol + rtol * |a|
};

struct mirlo_tolerance {
    tolerance_kind kind = tolerance_kind::exact;
    double delta = 0.0;    // delta, or atol
    double relative = 0.0; // relative, or rtol
};

// The values a rule can set, as the command line sets them for every object.
struct mirlo_rule_values {
    mirlo_tolerance tolerance;
    bool nan_equal = false;
    uint64_t count = 0; // stop after this many differences per object; 0: no limit
    bool ignore = false;
    std::vector<std::string> ignore_attributes; // globs on attribute names
};

// One [[rule]] of a rules file, with what it names.
struct mirlo_rule {
    std::string path; // glob on the object's path
    uint32_t line = 0;
    uint32_t column = 0;
    std::optional<mirlo_tolerance> tolerance;
    std::optional<bool> nan_equal;
    std::optional<uint64_t> count;
    std::optional<bool> ignore;
    std::optional<std::vector<std::string>> ignore_attributes;
};

// Reads the rules of a file. Returns 0, or -1 with *message set to one line
// "FILE:LINE:COLUMN: what is wrong" (without the line end).
[[nodiscard]] int mirlo_read_rules(const std::string &file, std::vector<mirlo_rule> *rules, std::string *message);
// The same, also keeping the file's text (which a multi-process run sends
// to the workers to parse again).
[[nodiscard]] int mirlo_read_rules_text(const std::string &file, std::string *text, std::vector<mirlo_rule> *rules,
                                        std::string *message);
// The same for text already read; source names it in messages.
[[nodiscard]] int mirlo_parse_rules(std::string_view text, const std::string &source, std::vector<mirlo_rule> *rules,
                                    std::string *message);

// One object's values, and which rules they came from (numbers count from 1
// in file order; 0 is the command line).
struct mirlo_resolved_rule {
    mirlo_rule_values values;
    uint32_t rule = 0;           // the first rule whose path matches the object
    uint32_t tolerance_rule = 0; // the rule that set the tolerance
};

// Resolves the values for the object at path (as seen from the compared
// root of the first file) from the rules and the command line's values.
// Attribute globs of the command line apply to every object, beside the
// rule's own.
mirlo_resolved_rule mirlo_resolve_rule(const std::vector<mirlo_rule> &rules, std::string_view path,
                                       const mirlo_rule_values &command_line);

// The tolerance in words, as -v prints it: "exact", "delta 0.1",
// "relative 0.01", "system epsilon", "atol 1e-06 rtol 0.0001".
std::string mirlo_tolerance_words(const mirlo_tolerance &t);

// True when the attribute named name is ignored under values.
bool mirlo_attribute_ignored(const mirlo_rule_values &values, std::string_view name);
