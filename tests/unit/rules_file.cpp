// Globs on paths and names, rules files and how one object's rule is resolved.
#include "mirlo_glob.hpp"
#include "mirlo_rules.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct glob_case {
    const char *pattern;
    std::string text;
    bool path_match;
    bool name_match;
};

TEST(Glob, MatchesLevelsStarsSetsAndRawBytes)
{
    const std::vector<glob_case> cases = {
        {"/a/b", "/a/b", true, true},
        {"/a/b", "/a/bc", false, false},
        {"/a/*", "/a/b", true, true},
        {"/a/*", "/a/b/c", false, true},   // one level only for paths
        {"/a/*", "/a", false, false},
        {"/a/**", "/a", true, false},      // the group itself and all below it
        {"/a/**", "/a/b/c", true, true},
        {"/a/**", "/ab", false, false},
        {"/**", "/", true, true},
        {"/**", "/x/y", true, true},
        {"/a/**/z", "/a/z", true, false},
        {"/a/**/z", "/a/b/c/z", true, true},
        {"/a/**/z", "/a/bz", false, false},
        {"/a/x**", "/a/x/y", true, true},
        {"/d?", "/d1", true, true},
        {"/d?", "/d/", false, true},
        {"/v[0-9]", "/v7", true, true},
        {"/v[!0-9]", "/v7", false, false},
        {"/v[^0-9]", "/vx", true, true},
        {"/[]]", "/]", true, true},
        {"/a\\*", "/a*", true, true},
        {"/a\\*", "/ab", false, false},
        {"/with space/*", "/with space/t", true, true},
        {"/caf\\xe9", std::string("/caf\xe9"), true, true},
        {"/caf?", std::string("/caf\xe9"), true, true},
        {"*a*a*a*b", std::string(200, 'a'), false, false}, // no backtracking blow-up
        {"date_*", "date_created", true, true},
        {"date_*", "creation_date", false, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(glob_match(c.pattern, c.text, glob_mode::path), c.path_match) << c.pattern << " ~ " << c.text;
        EXPECT_EQ(glob_match(c.pattern, c.text, glob_mode::name), c.name_match) << c.pattern << " ~ " << c.text;
    }
    EXPECT_EQ(glob_check("/a[b"), "unterminated bracket expression");
    EXPECT_EQ(glob_check("/a\\"), "pattern ends in a backslash");
    EXPECT_EQ(glob_check("/a/**/[xy]?"), "");
}

std::string parse_error(const std::string &text)
{
    std::vector<mirlo_rule> rules;
    std::string message;
    if (mirlo_parse_rules(text, "r.toml", &rules, &message) == 0)
        return "accepted";
    EXPECT_TRUE(rules.empty());
    return message;
}

TEST(RulesFile, RefusesMalformedFilesWithWhereAndWhat)
{
    struct bad {
        const char *text;
        const char *message;
    };
    const std::vector<bad> cases = {
        {"[[rule]]\npath = \"/a\"\natol = \"x\"\n", "r.toml:3:8: atol must be a finite non-negative number"},
        {"[[rule]]\npath = \"/a\"\nrtol = -1\n", "r.toml:3:8: rtol must be a finite non-negative number"},
        {"[[rule]]\npath = \"/a\"\ndelta = inf\n", "r.toml:3:9: delta must be a finite non-negative number"},
        {"[[rule]]\npath = \"/a\"\natol = 1\ndelta = 2\n", "r.toml:4:1: delta and atol choose two tolerances in one rule"},
        {"[[rule]]\npath = \"/a\"\nexact = false\n", "r.toml:3:9: exact must be true (leave the key out otherwise)"},
        {"[[rule]]\npath = \"/a\"\ntolerance = 1\n", "r.toml:3:1: unknown key tolerance"},
        {"[[rule]]\natol = 1\n", "r.toml:1:1: rule has no path"},
        {"[[rule]]\npath = 3\n", "r.toml:2:8: path must be a string"},
        {"[[rule]]\npath = \"/a[\"\n", "r.toml:2:8: path is not a valid pattern: unterminated bracket expression"},
        {"[[rule]]\npath = \"/a\"\ncount = 0\n", "r.toml:3:9: count must be a positive integer"},
        {"[[rule]]\npath = \"/a\"\nignore = 1\n", "r.toml:3:10: ignore must be true or false"},
        {"[[rule]]\npath = \"/a\"\nignore_attributes = [\"x\", 2]\n",
         "r.toml:3:27: ignore_attributes must be a list of strings"},
        {"rules = 1\n", "r.toml:1:1: unknown key rules (rules are [[rule]] tables)"},
        {"rule = 1\n", "r.toml:1:8: rule must be a list of tables ([[rule]])"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse_error(c.text), c.message) << c.text;
    // A syntax error names its place too.
    const std::string syntax = parse_error("[[rule]]\npath = \"/a\nx");
    EXPECT_EQ(syntax.rfind("r.toml:2:", 0), 0u) << syntax;
    std::vector<mirlo_rule> rules;
    std::string message;
    EXPECT_EQ(mirlo_read_rules("/nonexistent/rules.toml", &rules, &message), -1);
    EXPECT_EQ(message, "/nonexistent/rules.toml: cannot be read: No such file or directory");
}

TEST(RulesFile, FirstMatchingRuleSetsEachKeyAndToleranceIsOneKey)
{
    const char *text = R"(
[[rule]]
path = "/fields/**"
atol = 1e-6
rtol = 1e-4
nan_equal = true
[[rule]]
path = "/diagnostics/*"
ignore = true
[[rule]]
path = "/fields/t*"
delta = 5
count = 3
[[rule]]
path = "/**"
ignore_attributes = ["history", "date_*"]
)";
    std::vector<mirlo_rule> rules;
    std::string message;
    ASSERT_EQ(mirlo_parse_rules(text, "r.toml", &rules, &message), 0) << message;
    ASSERT_EQ(rules.size(), 4u);
    EXPECT_EQ(rules[1].line, 7u);

    mirlo_rule_values cli;
    cli.tolerance = {tolerance_kind::relative, 0.0, 0.5};
    cli.count = 100;
    cli.ignore_attributes = {"_NCProperties"};

    const auto t = mirlo_resolve_rule(rules, "/fields/temperature", cli);
    EXPECT_EQ(t.rule, 1u);
    EXPECT_EQ(t.tolerance_rule, 1u);
    EXPECT_EQ(t.values.tolerance.kind, tolerance_kind::combined); // rule 3's delta comes too late
    EXPECT_DOUBLE_EQ(t.values.tolerance.delta, 1e-6);
    EXPECT_DOUBLE_EQ(t.values.tolerance.relative, 1e-4);
    EXPECT_TRUE(t.values.nan_equal);
    EXPECT_EQ(t.values.count, 3u); // no earlier rule names count
    EXPECT_FALSE(t.values.ignore);
    EXPECT_TRUE(mirlo_attribute_ignored(t.values, "history"));
    EXPECT_TRUE(mirlo_attribute_ignored(t.values, "date_created"));
    EXPECT_TRUE(mirlo_attribute_ignored(t.values, "_NCProperties")); // the command line's, on every object
    EXPECT_FALSE(mirlo_attribute_ignored(t.values, "units"));
    EXPECT_EQ(mirlo_tolerance_words(t.values.tolerance), "atol 1e-06 rtol 0.0001");

    const auto d = mirlo_resolve_rule(rules, "/diagnostics/x", cli);
    EXPECT_EQ(d.rule, 2u);
    EXPECT_TRUE(d.values.ignore);
    EXPECT_EQ(d.values.tolerance.kind, tolerance_kind::relative); // the command line's
    EXPECT_EQ(d.tolerance_rule, 0u);
    EXPECT_FALSE(mirlo_resolve_rule(rules, "/diagnostics/x/y", cli).values.ignore);

    const auto root = mirlo_resolve_rule(rules, "/", cli);
    EXPECT_EQ(root.rule, 4u);
    EXPECT_EQ(root.values.count, 100u);
    EXPECT_TRUE(mirlo_attribute_ignored(root.values, "history"));

    const auto none = mirlo_resolve_rule({}, "/x", cli);
    EXPECT_EQ(none.rule, 0u);
    EXPECT_EQ(mirlo_tolerance_words(none.values.tolerance), "relative 0.5");
}

} // namespace
