// The rule of a pair.
#include "mirlo_context.hpp"
#include "mirlo_glob.hpp"

#include <algorithm>

namespace {

// The command line's tolerance.
mirlo_tolerance settings_tolerance(const mirlo_settings &s)
{
    mirlo_tolerance t;
    if (s.combined_mode)
        t = {tolerance_kind::combined, s.atol, s.rtol};
    else if (s.delta_mode && s.relative_mode)
        t = {tolerance_kind::delta, s.delta, s.relative}; // both fields kept, as the comparers read them
    else if (s.delta_mode)
        t = {tolerance_kind::delta, s.delta, 0};
    else if (s.relative_mode)
        t = {tolerance_kind::relative, 0, s.relative};
    else if (s.system_epsilon_mode)
        t = {tolerance_kind::system_epsilon, 0, 0};
    return t;
}

void set_tolerance(pair_rule *r, const mirlo_tolerance &t)
{
    r->delta_mode = t.kind == tolerance_kind::delta;
    r->relative_mode = t.kind == tolerance_kind::relative;
    r->system_epsilon_mode = t.kind == tolerance_kind::system_epsilon;
    r->combined_mode = t.kind == tolerance_kind::combined;
    r->delta = r->delta_mode ? t.delta : 0;
    r->relative = r->relative_mode ? t.relative : 0;
    r->atol = r->combined_mode ? t.delta : 0;
    r->rtol = r->combined_mode ? t.relative : 0;
}

} // namespace

std::string_view rules_path_of(std::string_view name1, size_t root_size)
{
    if (root_size >= name1.size())
        return "/";
    return name1.substr(root_size);
}

pair_rule pair_rule_of(const mirlo_settings &s, std::string_view rules_path, bool attributes_excluded)
{
    pair_rule r;
    r.delta_mode = s.delta_mode;
    r.delta = s.delta;
    r.relative_mode = s.relative_mode;
    r.relative = s.relative;
    r.system_epsilon_mode = s.system_epsilon_mode;
    r.combined_mode = s.combined_mode;
    r.atol = s.atol;
    r.rtol = s.rtol;
    r.detect_nans = s.detect_nans || s.nan_equal;
    r.count_mode = s.count_mode;
    r.count_limit = s.count_limit;
    r.attributes_excluded = attributes_excluded;
    if (s.rules.empty())
        return r;
    // The rule's own keys only; the command line's attribute globs are
    // asked apart (pair_attribute_ignored), so none are copied here.
    mirlo_rule_values command_line;
    command_line.tolerance = settings_tolerance(s);
    command_line.nan_equal = s.nan_equal;
    command_line.count = s.count_mode ? s.count_limit : 0;
    const mirlo_resolved_rule resolved = mirlo_resolve_rule(s.rules, rules_path, command_line);
    r.number = resolved.tolerance_rule != 0 ? resolved.tolerance_rule : resolved.rule;
    r.tolerance_number = resolved.tolerance_rule;
    if (resolved.tolerance_rule != 0)
        set_tolerance(&r, resolved.values.tolerance);
    // A rule's nan_equal = true turns the NaN test on even under -N; false
    // leaves the command line's NaN handling.
    r.detect_nans = s.detect_nans || resolved.values.nan_equal;
    r.count_mode = resolved.values.count != 0;
    r.count_limit = resolved.values.count;
    r.ignored = resolved.values.ignore;
    for (size_t i = 0; i < s.rules.size(); ++i)
        if (s.rules[i].ignore_attributes && glob_match(s.rules[i].path, rules_path, glob_mode::path)) {
            r.rule_ignore_attributes = &*s.rules[i].ignore_attributes;
            break;
        }
    return r;
}

void set_pair_roots(pair_context *ctx, std::string_view name1, std::string_view name2, size_t root1_size)
{
    root1_size = std::min(root1_size, name1.size());
    const size_t below = name1.size() - root1_size;
    ctx->roots[0] = name1.substr(0, root1_size);
    ctx->roots[1] = name2.substr(0, name2.size() >= below ? name2.size() - below : 0);
}

bool rules_ignore_some(const mirlo_settings &s)
{
    for (const mirlo_rule &rule : s.rules)
        if (rule.ignore.value_or(false))
            return true;
    return false;
}

bool rules_ignore_object(const mirlo_settings &s, std::string_view rules_path)
{
    // The first matching rule that names ignore decides.
    for (const mirlo_rule &rule : s.rules)
        if (rule.ignore && glob_match(rule.path, rules_path, glob_mode::path))
            return *rule.ignore;
    return false;
}

mirlo_tolerance pair_tolerance(const pair_rule &r)
{
    if (r.combined_mode)
        return {tolerance_kind::combined, r.atol, r.rtol};
    if (r.delta_mode)
        return {tolerance_kind::delta, r.delta, r.relative_mode ? r.relative : 0};
    if (r.relative_mode)
        return {tolerance_kind::relative, 0, r.relative};
    if (r.system_epsilon_mode)
        return {tolerance_kind::system_epsilon, 0, 0};
    return {};
}

bool pair_attribute_ignored(const mirlo_settings &s, const pair_rule &r, std::string_view name)
{
    for (const std::string &g : s.ignore_attrs)
        if (glob_match(g, name, glob_mode::name))
            return true;
    if (r.rule_ignore_attributes != nullptr)
        for (const std::string &g : *r.rule_ignore_attributes)
            if (glob_match(g, name, glob_mode::name))
                return true;
    return false;
}
