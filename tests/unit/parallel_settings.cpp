// The settings as the byte string that carries them to the workers once, and
// the setup message around them.
#include "mirlo_parallel.hpp"
#include "mirlo_settings.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every field away from its default, lists and subsets included.
mirlo_settings everything_set()
{
    mirlo_settings s;
    s.quiet_mode = true;
    s.report_mode = true;
    s.verbose_mode = true;
    s.verbose_level = 3;
    s.list_not_comparable = true;
    s.statistics_mode = true;
    s.json_mode = true;
    s.delta_mode = true;
    s.delta = 0.125;
    s.relative_mode = true;
    s.relative = 1e-9;
    s.system_epsilon_mode = true;
    s.detect_nans = false;
    s.count_mode = true;
    s.count_limit = 18446744073709551615ULL;
    s.follow_links = true;
    s.no_dangling_links = true;
    s.no_compact_subset = true;
    s.exclude_paths = {"/g", "", std::string(70000, 'p')};
    s.exclude_attrs = {"/d", "/with\nnewline\xff"};
    char obj1[] = "/d[1,2;3;4,5;6]";
    char obj2[] = "/e[;;7]";
    s.subsets[0] = subset_spec_owned(parse_subset_spec(obj1));
    s.subsets[1] = subset_spec_owned(parse_subset_spec(obj2));
    s.chunk_shortcuts = false;
    s.error_stack_level = 2;
    s.combined_mode = true;
    s.atol = 1e-300;
    s.rtol = 0.25;
    s.nan_equal = true;
    s.references_by_value = true;
    s.ignore_attrs = {"history", "date_*", "\\xff?"};
    s.rules_file = "run.toml";
    s.rules_text = "[[rule]]\npath = \"/fields/**\"\natol = 1e-6\nrtol = 1e-4\n"
                   "[[rule]]\npath = \"/d*\"\nignore = true\nignore_attributes = [\"a b\"]\n";
    std::string message;
    EXPECT_EQ(mirlo_parse_rules(s.rules_text, s.rules_file, &s.rules, &message), 0) << message;
    s.structure_only = true;
    s.progress_seconds = 0.25;
    return s;
}

std::vector<hsize_t> values_of(const hsize_list &l)
{
    return std::vector<hsize_t>(l.values, l.values + l.count);
}

void expect_same_subset(const subset_spec *a, const subset_spec *b)
{
    ASSERT_EQ(a == nullptr, b == nullptr);
    if (a == nullptr)
        return;
    EXPECT_EQ(values_of(a->start), values_of(b->start));
    EXPECT_EQ(values_of(a->stride), values_of(b->stride));
    EXPECT_EQ(values_of(a->count), values_of(b->count));
    EXPECT_EQ(values_of(a->block), values_of(b->block));
}

void expect_same(const mirlo_settings &a, const mirlo_settings &b)
{
    EXPECT_EQ(a.quiet_mode, b.quiet_mode);
    EXPECT_EQ(a.report_mode, b.report_mode);
    EXPECT_EQ(a.verbose_mode, b.verbose_mode);
    EXPECT_EQ(a.verbose_level, b.verbose_level);
    EXPECT_EQ(a.list_not_comparable, b.list_not_comparable);
    EXPECT_EQ(a.statistics_mode, b.statistics_mode);
    EXPECT_EQ(a.json_mode, b.json_mode);
    EXPECT_EQ(a.delta_mode, b.delta_mode);
    EXPECT_EQ(a.delta, b.delta);
    EXPECT_EQ(a.relative_mode, b.relative_mode);
    EXPECT_EQ(a.relative, b.relative);
    EXPECT_EQ(a.system_epsilon_mode, b.system_epsilon_mode);
    EXPECT_EQ(a.detect_nans, b.detect_nans);
    EXPECT_EQ(a.count_mode, b.count_mode);
    EXPECT_EQ(a.count_limit, b.count_limit);
    EXPECT_EQ(a.follow_links, b.follow_links);
    EXPECT_EQ(a.no_dangling_links, b.no_dangling_links);
    EXPECT_EQ(a.no_compact_subset, b.no_compact_subset);
    EXPECT_EQ(a.exclude_paths, b.exclude_paths);
    EXPECT_EQ(a.exclude_attrs, b.exclude_attrs);
    expect_same_subset(a.subsets[0].get(), b.subsets[0].get());
    expect_same_subset(a.subsets[1].get(), b.subsets[1].get());
    EXPECT_EQ(a.chunk_shortcuts, b.chunk_shortcuts);
    EXPECT_EQ(a.error_stack_level, b.error_stack_level);
    EXPECT_EQ(a.combined_mode, b.combined_mode);
    EXPECT_EQ(a.atol, b.atol);
    EXPECT_EQ(a.rtol, b.rtol);
    EXPECT_EQ(a.nan_equal, b.nan_equal);
    EXPECT_EQ(a.references_by_value, b.references_by_value);
    EXPECT_EQ(a.ignore_attrs, b.ignore_attrs);
    EXPECT_EQ(a.rules_file, b.rules_file);
    EXPECT_EQ(a.rules_text, b.rules_text);
    // The rules as a worker resolves them: every key of every rule.
    ASSERT_EQ(a.rules.size(), b.rules.size());
    for (size_t i = 0; i < a.rules.size(); ++i) {
        const mirlo_rule &x = a.rules[i], &y = b.rules[i];
        EXPECT_EQ(x.path, y.path);
        EXPECT_EQ(x.line, y.line);
        EXPECT_EQ(x.tolerance.has_value(), y.tolerance.has_value());
        if (x.tolerance && y.tolerance) {
            EXPECT_EQ(mirlo_tolerance_words(*x.tolerance), mirlo_tolerance_words(*y.tolerance));
        }
        EXPECT_EQ(x.ignore, y.ignore);
        EXPECT_EQ(x.ignore_attributes, y.ignore_attributes);
    }
    EXPECT_EQ(a.structure_only, b.structure_only);
    EXPECT_EQ(a.progress_seconds, b.progress_seconds);
}

TEST(Settings, RoundTripKeepsEveryField)
{
    const mirlo_settings defaults;
    const mirlo_settings full = everything_set();
    ASSERT_NE(full.subsets[0], nullptr);
    for (const mirlo_settings *s : {&defaults, &full}) {
        const std::vector<unsigned char> bytes = settings_to_bytes(*s);
        mirlo_settings back = everything_set(); // overwritten whole
        ASSERT_EQ(settings_from_bytes(bytes.data(), bytes.size(), &back), 0);
        expect_same(back, *s);
    }
}

TEST(Settings, MalformedBytesAreRefusedAndLeaveDefaults)
{
    const std::vector<unsigned char> bytes = settings_to_bytes(everything_set());
    // Every string cut short, and one byte too many.
    for (size_t n = 0; n < bytes.size(); n += (n < 200 ? 1 : 997)) {
        mirlo_settings back = everything_set();
        EXPECT_EQ(settings_from_bytes(bytes.data(), n, &back), -1) << n;
        expect_same(back, mirlo_settings());
    }
    std::vector<unsigned char> longer = bytes;
    longer.push_back(0);
    mirlo_settings back;
    EXPECT_EQ(settings_from_bytes(longer.data(), longer.size(), &back), -1);
    // Rules text that does not parse is refused: a worker would compare
    // under other rules than the manager.
    mirlo_settings bad_rules = everything_set();
    bad_rules.rules_text = "[[rule]\n";
    const std::vector<unsigned char> bad_bytes = settings_to_bytes(bad_rules);
    EXPECT_EQ(settings_from_bytes(bad_bytes.data(), bad_bytes.size(), &back), -1);
    // A flag is a 0 or a 1.
    std::vector<unsigned char> odd = bytes;
    odd[0] = 2;
    EXPECT_EQ(settings_from_bytes(odd.data(), odd.size(), &back), -1);
    // A count of texts beyond what the bytes hold is refused before anything is made of it.
    mirlo_settings huge;
    huge.exclude_paths = {"x"};
    std::vector<unsigned char> lying = settings_to_bytes(huge);
    const std::vector<unsigned char> plain = settings_to_bytes(mirlo_settings());
    // The count of exclude_paths follows the fixed fields, which both strings share.
    size_t at = 0;
    while (at < plain.size() && plain[at] == lying[at])
        ++at;
    ASSERT_LT(at + 8, lying.size());
    for (int k = 0; k < 8; ++k)
        lying[at + k] = 0xff;
    EXPECT_EQ(settings_from_bytes(lying.data(), lying.size(), &back), -1);
}

TEST(Settings, SetupCarriesTheNamesAndTheSettings)
{
    const std::string long_name(5000, 'f');
    const struct {
        std::string file1, file2, start1, start2;
    } cases[] = {
        {"a.h5", "b.h5", "/", "/"},
        {long_name, "", "/g\n1", "/g2"},
    };
    const mirlo_settings full = everything_set();
    for (const auto &c : cases) {
        const std::vector<unsigned char> bytes =
            mirlo_pack_setup(c.file1.c_str(), c.file2.c_str(), c.start1.c_str(), c.start2.c_str(), full);
        mirlo_setup setup;
        ASSERT_EQ(mirlo_unpack_setup(bytes.data(), bytes.size(), &setup), 0);
        EXPECT_EQ(setup.file1, c.file1);
        EXPECT_EQ(setup.file2, c.file2);
        EXPECT_EQ(setup.start1, c.start1);
        EXPECT_EQ(setup.start2, c.start2);
        expect_same(setup.settings, full);
        for (size_t n : {size_t(0), size_t(7), bytes.size() - 1})
            EXPECT_EQ(mirlo_unpack_setup(bytes.data(), n, &setup), -1) << n;
    }
}

TEST(Settings, TasksCarryTheRuleAndTheFilePair)
{
    mirlo_task t;
    t.record.seq = 9;
    t.record.kind = TASK_PIECE;
    t.record.flags = TASK_FLAG_ATTRIBUTES_EXCLUDED;
    t.record.file_pair = 65535;
    t.name1 = "/a";
    t.name2 = "/b";
    std::vector<unsigned char> bytes;
    mirlo_pack_task(t, &bytes);
    std::vector<mirlo_task> back;
    ASSERT_EQ(mirlo_unpack_tasks(bytes.data(), bytes.size(), &back), 0);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].record.seq, 9u);
    EXPECT_EQ(back[0].record.flags, TASK_FLAG_ATTRIBUTES_EXCLUDED);
    EXPECT_EQ(back[0].record.file_pair, 65535);
    EXPECT_EQ(back[0].name2, "/b");
}

} // namespace
