#include "mirlo_rules.hpp"
#include "mirlo_glob.hpp"

#include <toml++/toml.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// Where a rules file went wrong, as one line.
struct rule_error {
    std::string text;
};

std::string located(const std::string &source, const toml::source_position &at, const std::string &what)
{
    return source + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": " + what;
}

rule_error error_at(const std::string &source, const toml::source_region &where, const std::string &what)
{
    return {located(source, where.begin, what)};
}

// A finite non-negative number (integer or floating), or nothing.
std::optional<double> non_negative_number(const toml::node &v)
{
    double x;
    if (const auto *f = v.as_floating_point())
        x = f->get();
    else if (const auto *i = v.as_integer())
        x = static_cast<double>(i->get());
    else
        return std::nullopt;
    if (!std::isfinite(x) || x < 0.0)
        return std::nullopt;
    return x;
}

// The keys of a rule that choose its tolerance.
bool is_tolerance_key(std::string_view k)
{
    return k == "exact" || k == "atol" || k == "rtol" || k == "delta" || k == "relative" || k == "system_epsilon";
}

tolerance_kind kind_of_key(std::string_view k)
{
    if (k == "atol" || k == "rtol")
        return tolerance_kind::combined;
    if (k == "delta")
        return tolerance_kind::delta;
    if (k == "relative")
        return tolerance_kind::relative;
    if (k == "system_epsilon")
        return tolerance_kind::system_epsilon;
    return tolerance_kind::exact;
}

// Reads one [[rule]] table. Returns an error, or nothing with *rule filled.
std::optional<rule_error> read_rule(const toml::table &t, const std::string &source, mirlo_rule *rule)
{
    rule->line = t.source().begin.line;
    rule->column = t.source().begin.column;
    std::optional<std::string> first_tolerance_key;
    for (const auto &[key, value] : t) {
        const std::string k(key.str());
        const auto &where = key.source();
        auto wrong = [&](const std::string &what) { return error_at(source, value.source(), k + " " + what); };
        if (k == "path") {
            const auto *s = value.as_string();
            if (!s)
                return wrong("must be a string");
            rule->path = s->get();
            if (const std::string bad = glob_check(rule->path); !bad.empty())
                return wrong("is not a valid pattern: " + bad);
        } else if (is_tolerance_key(k)) {
            const tolerance_kind kind = kind_of_key(k);
            if (first_tolerance_key && kind_of_key(*first_tolerance_key) != kind)
                return error_at(source, where,
                                k + " and " + *first_tolerance_key + " choose two tolerances in one rule");
            if (!first_tolerance_key)
                first_tolerance_key = k;
            mirlo_tolerance tol = rule->tolerance.value_or(mirlo_tolerance{});
            tol.kind = kind;
            if (kind == tolerance_kind::exact || kind == tolerance_kind::system_epsilon) {
                const auto *b = value.as_boolean();
                if (!b || !b->get())
                    return wrong("must be true (leave the key out otherwise)");
            } else {
                const auto x = non_negative_number(value);
                if (!x)
                    return wrong("must be a finite non-negative number");
                if (k == "rtol" || k == "relative")
                    tol.relative = *x;
                else
                    tol.delta = *x;
            }
            rule->tolerance = tol;
        } else if (k == "nan_equal" || k == "ignore") {
            const auto *b = value.as_boolean();
            if (!b)
                return wrong("must be true or false");
            (k == "ignore" ? rule->ignore : rule->nan_equal) = b->get();
        } else if (k == "count") {
            const auto *i = value.as_integer();
            if (!i || i->get() < 1)
                return wrong("must be a positive integer");
            rule->count = static_cast<uint64_t>(i->get());
        } else if (k == "ignore_attributes") {
            const auto *a = value.as_array();
            if (!a)
                return wrong("must be a list of strings");
            std::vector<std::string> globs;
            for (const auto &item : *a) {
                const auto *s = item.as_string();
                if (!s)
                    return error_at(source, item.source(), k + " must be a list of strings");
                if (const std::string bad = glob_check(s->get()); !bad.empty())
                    return error_at(source, item.source(), k + " holds an invalid pattern: " + bad);
                globs.push_back(s->get());
            }
            rule->ignore_attributes = std::move(globs);
        } else {
            return error_at(source, where, "unknown key " + k);
        }
    }
    if (rule->path.empty())
        return error_at(source, t.source(), "rule has no path");
    return std::nullopt;
}

std::optional<rule_error> read_document(const toml::table &doc, const std::string &source,
                                        std::vector<mirlo_rule> *rules)
{
    for (const auto &[key, value] : doc) {
        const std::string k(key.str());
        if (k != "rule")
            return error_at(source, key.source(), "unknown key " + k + " (rules are [[rule]] tables)");
        const auto *list = value.as_array();
        if (!list || !list->is_array_of_tables())
            return error_at(source, value.source(), "rule must be a list of tables ([[rule]])");
        for (const auto &item : *list) {
            mirlo_rule rule;
            if (auto e = read_rule(*item.as_table(), source, &rule))
                return e;
            rules->push_back(std::move(rule));
        }
    }
    return std::nullopt;
}

} // namespace

int mirlo_parse_rules(std::string_view text, const std::string &source, std::vector<mirlo_rule> *rules,
                      std::string *message)
{
    rules->clear();
    toml::table doc;
    try {
        doc = toml::parse(text, source);
    } catch (const toml::parse_error &e) {
        *message = located(source, e.source().begin, std::string(e.description()));
        return -1;
    }
    if (auto e = read_document(doc, source, rules)) {
        rules->clear();
        *message = e->text;
        return -1;
    }
    return 0;
}

int mirlo_read_rules_text(const std::string &file, std::string *text, std::vector<mirlo_rule> *rules,
                          std::string *message)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        *message = file + ": cannot be read: " + std::strerror(errno);
        return -1;
    }
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) {
        *message = file + ": cannot be read: " + std::strerror(errno);
        return -1;
    }
    *text = all.str();
    return mirlo_parse_rules(*text, file, rules, message);
}

int mirlo_read_rules(const std::string &file, std::vector<mirlo_rule> *rules, std::string *message)
{
    std::string text;
    return mirlo_read_rules_text(file, &text, rules, message);
}

mirlo_resolved_rule mirlo_resolve_rule(const std::vector<mirlo_rule> &rules, std::string_view path,
                                       const mirlo_rule_values &command_line)
{
    mirlo_resolved_rule out;
    out.values = command_line;
    bool tolerance = false, nan_equal = false, count = false, ignore = false, attributes = false;
    for (size_t i = 0; i < rules.size(); ++i) {
        const mirlo_rule &r = rules[i];
        if (!glob_match(r.path, path, glob_mode::path))
            continue;
        const auto number = static_cast<uint32_t>(i + 1);
        if (out.rule == 0)
            out.rule = number;
        if (r.tolerance && !tolerance) {
            tolerance = true;
            out.values.tolerance = *r.tolerance;
            out.tolerance_rule = number;
        }
        if (r.nan_equal && !nan_equal) {
            nan_equal = true;
            out.values.nan_equal = *r.nan_equal;
        }
        if (r.count && !count) {
            count = true;
            out.values.count = *r.count;
        }
        if (r.ignore && !ignore) {
            ignore = true;
            out.values.ignore = *r.ignore;
        }
        if (r.ignore_attributes && !attributes) {
            attributes = true;
            out.values.ignore_attributes.insert(out.values.ignore_attributes.end(), r.ignore_attributes->begin(),
                                                r.ignore_attributes->end());
        }
    }
    return out;
}

std::string mirlo_tolerance_words(const mirlo_tolerance &t)
{
    char text[96];
    switch (t.kind) {
    case tolerance_kind::exact:
        return "exact";
    case tolerance_kind::system_epsilon:
        return "system epsilon";
    case tolerance_kind::delta:
        std::snprintf(text, sizeof text, "delta %g", t.delta);
        break;
    case tolerance_kind::relative:
        std::snprintf(text, sizeof text, "relative %g", t.relative);
        break;
    case tolerance_kind::combined:
        std::snprintf(text, sizeof text, "atol %g rtol %g", t.delta, t.relative);
        break;
    }
    return text;
}

bool mirlo_attribute_ignored(const mirlo_rule_values &values, std::string_view name)
{
    for (const auto &g : values.ignore_attributes)
        if (glob_match(g, name, glob_mode::name))
            return true;
    return false;
}
