// The pmirlo command line: option values, refusals, the verbose level, the
// positional names and the subset suffix.
#include "mirlo_cmdline.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// One parse of a command line; the words are owned here because the parser
// cuts subset suffixes off the object names in place.
struct parsed {
    int status = 0;
    mirlo_args args;
    mirlo_settings settings;
    std::string out;
    std::string err;
};

class CmdlineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        rawoutstream = stdout;
        rawerrorstream = stderr;
        zarn_set_progname("mirlo");
    }
    void TearDown() override
    {
        zarn_reset_scanner();
    }

    parsed &parse(std::vector<std::string> words)
    {
        storage = std::move(words);
        storage.insert(storage.begin(), "pmirlo");
        argv.clear();
        for (std::string &w : storage)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        zarn_reset_scanner();
        result = parsed{};
        auto run = test_support::capture([&] {
            return mirlo_parse_args(static_cast<int>(storage.size()), argv.data(), &result.args, &result.settings);
        });
        result.status = run.result;
        result.out = std::move(run.out);
        result.err = std::move(run.err);
        return result;
    }

    std::vector<std::string> storage;
    std::vector<char *> argv;
    parsed result;
};

bool starts_with(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

const std::string USAGE_FIRST = "usage: mirlo [OPTIONS] file1 file2 [obj1[ obj2]]\n";

TEST_F(CmdlineTest, PlainFilesGiveDefaults)
{
    parsed &r = parse({"a.h5", "b.h5"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_STREQ(r.args.file1, "a.h5");
    EXPECT_STREQ(r.args.file2, "b.h5");
    EXPECT_EQ(r.args.obj1, nullptr);
    EXPECT_EQ(r.args.obj2, nullptr);
        EXPECT_EQ(r.settings.detect_nans, 1);
    EXPECT_EQ(r.settings.verbose_mode, 0);
    EXPECT_TRUE(r.settings.exclude_paths.empty());
    EXPECT_EQ(r.settings.subsets[0].get(), nullptr);
    EXPECT_EQ(r.out, "");
}

TEST_F(CmdlineTest, FlagsSetTheirFields)
{
    parsed &r = parse({"-cqr", "-e", "-l", "-x", "-N", "--no-compact-subset", "a", "b"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(r.settings.list_not_comparable, 1);
    EXPECT_EQ(r.settings.quiet_mode, 1);
    EXPECT_EQ(r.settings.report_mode, 1);
    EXPECT_EQ(r.settings.system_epsilon_mode, 1);
    EXPECT_TRUE(r.settings.follow_links);
    EXPECT_EQ(r.settings.no_dangling_links, 1);
    EXPECT_EQ(r.settings.detect_nans, 0);
    EXPECT_EQ(r.settings.no_compact_subset, 1);
}

TEST_F(CmdlineTest, VerboseLevelComesFromTheFirstVWord)
{
    // -v takes the first file name as its optional value; the level search
    // gives it back.
    parsed &r = parse({"-v", "a", "b"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(r.settings.verbose_mode, 1);
    EXPECT_EQ(r.settings.verbose_level, 0);
    EXPECT_STREQ(r.args.file1, "a");
    EXPECT_STREQ(r.args.file2, "b");

    parse({"-v3", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.settings.verbose_level, 3);
    EXPECT_STREQ(result.args.file1, "a");

    parse({"--verbose=1", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.settings.verbose_level, 1);

    // The long form takes its value only after '=': 1 is the first file.
    parse({"--verbose", "1", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.settings.verbose_level, 0);
    EXPECT_STREQ(result.args.file1, "1");
    EXPECT_STREQ(result.args.obj1, "b");

    parse({"-v2", "-v", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.settings.verbose_level, 2);
    EXPECT_STREQ(result.args.file1, "a");
    EXPECT_STREQ(result.args.file2, "b");
}

TEST_F(CmdlineTest, VerboseLongValueIsNeverGivenBack)
{
    // A -v word decides the level, but the value of --verbose=3 lies in the
    // option's own word: giving a word back here would rescan it for ever.
    parsed &r = parse({"-v", "--verbose=3", "a", "b"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(r.settings.verbose_level, 0);
    EXPECT_STREQ(r.args.file1, "a");
    EXPECT_STREQ(r.args.file2, "b");
}

TEST_F(CmdlineTest, DeltaAndRelativeValues)
{
    parsed &r = parse({"-d", "0.5", "a", "b"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(r.settings.delta_mode, 1);
    EXPECT_DOUBLE_EQ(r.settings.delta, 0.5);

    parse({"-d", "0x", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_DOUBLE_EQ(result.settings.delta, 0.0);

    parse({"--relative=0.25", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.settings.relative_mode, 1);
    EXPECT_DOUBLE_EQ(result.settings.relative, 0.25);

    // A relative value below 2^-52 keeps its value but not relative mode, so
    // it does not clash with -d.
    parse({"-d", "1", "-p", "1e-17", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.settings.relative_mode, 0);
    EXPECT_EQ(result.settings.delta_mode, 1);
    EXPECT_DOUBLE_EQ(result.settings.relative, 1e-17);
}

TEST_F(CmdlineTest, RefusedDeltaAndRelativeValues)
{
    for (const char *value : {"-1", "0x10", "-0.5", "nan", "abc", "inf"}) {
        parsed &r = parse({"-d", value, "a", "b"});
        EXPECT_EQ(r.status, 1) << value;
        EXPECT_TRUE(starts_with(r.out, std::string("<-d ") + value + "> is not a valid option\n" + USAGE_FIRST))
            << r.out.substr(0, 80);
    }
    for (const char *value : {"-2", "nan", "1e999"}) {
        parsed &r = parse({"-p", value, "a", "b"});
        EXPECT_EQ(r.status, 1) << value;
        EXPECT_TRUE(starts_with(r.out, std::string("<-p ") + value + "> is not a valid option\n" + USAGE_FIRST));
    }
}

TEST_F(CmdlineTest, CountValues)
{
    parsed &r = parse({"-n", "12", "a", "b"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(r.settings.count_mode, 1);
    EXPECT_EQ(r.settings.count_limit, 12u);

    parse({"--count=", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.settings.count_limit, 0u);

    for (const char *value : {"0", "05", "1e3", "-3", "+4", "12a"}) {
        parsed &bad = parse({"-n", value, "a", "b"});
        EXPECT_EQ(bad.status, 1) << value;
        EXPECT_TRUE(starts_with(bad.out, std::string("<-n ") + value + "> is not a valid option\n" + USAGE_FIRST))
            << value;
    }
}

// --atol and --rtol: either alone sets the other to 0; the rules file is
// read while parsing, and what is wrong with it ends the run with status 1.
TEST_F(CmdlineTest, CombinedToleranceRulesAndAttributeGlobs)
{
    parsed &atol = parse({"--atol", "0.5", "--nan-equal", "--ignore-attribute", "history", "--ignore-attribute=date_*",
                          "--references-by-value", "a", "b"});
    ASSERT_EQ(atol.status, MIRLO_ARGS_VALID);
    EXPECT_TRUE(atol.settings.combined_mode);
    EXPECT_EQ(atol.settings.atol, 0.5);
    EXPECT_EQ(atol.settings.rtol, 0.0);
    EXPECT_TRUE(atol.settings.nan_equal);
    EXPECT_TRUE(atol.settings.detect_nans);
    EXPECT_TRUE(atol.settings.references_by_value);
    EXPECT_EQ(atol.settings.ignore_attrs, (std::vector<std::string>{"history", "date_*"}));
    parsed &rtol = parse({"--rtol=1e-4", "a", "b"});
    ASSERT_EQ(rtol.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(rtol.settings.atol, 0.0);
    EXPECT_EQ(rtol.settings.rtol, 1e-4);

    for (const char *value : {"-1", "nan", "inf", "1e999", "x", ""}) {
        parsed &bad = parse({std::string("--atol=") + value, "a", "b"});
        EXPECT_EQ(bad.status, 1) << value;
    }
    EXPECT_EQ(parse({"--ignore-attribute", "[ab", "a", "b"}).status, 1);

    const test_support::temp_dir dir("cmdline_rules");
    ASSERT_TRUE(dir.valid());
    auto write = [&](const std::string &name, const char *text) {
        std::ofstream(dir.file(name)) << text;
        return dir.file(name);
    };
    const std::string good = write("good.toml", "[[rule]]\npath = \"/x/**\"\natol = 1\n");
    const std::string bad = write("bad.toml", "[[rule]]\npath = 3\n");
    parsed &rules = parse({"--rules", good, "a", "b"});
    ASSERT_EQ(rules.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(rules.settings.rules_file, good);
    ASSERT_EQ(rules.settings.rules.size(), 1u);
    EXPECT_EQ(rules.settings.rules[0].path, "/x/**");
    EXPECT_EQ(parse({"--rules", good, "--rules", good, "a", "b"}).status, 1);
    parsed &refused = parse({"--rules", bad, "a", "b"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(refused.settings.rules.empty());
}

TEST_F(CmdlineTest, MutuallyExclusiveTolerances)
{
    for (auto words : {std::vector<std::string>{"-d", "1", "-p", "1", "a", "b"},
                       std::vector<std::string>{"-d", "1", "--use-system-epsilon", "a", "b"},
                       std::vector<std::string>{"-e", "-p", "0.1", "a", "b"},
                       std::vector<std::string>{"--atol", "1", "-d", "1", "a", "b"},
                       std::vector<std::string>{"-p", "0.5", "--rtol=0.1", "a", "b"},
                       std::vector<std::string>{"--rtol", "0", "-e", "a", "b"}}) {
        parsed &r = parse(words);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "mirlo error: -d, -p, --use-system-epsilon and --atol/--rtol options are mutually-exclusive;\n"
                         "use no more than one.\n"
                         "Try '-h' or '--help' option for more information or see the mirlo entry in the "
                         "'HDF5 Reference Manual'.\n");
    }
}

TEST_F(CmdlineTest, LongOptionsWithoutTheirValueAreRefused)
{
    // Last word, or followed by a word beginning with '-': no value arrives.
    for (auto words : {std::vector<std::string>{"a", "b", "--delta"}, std::vector<std::string>{"--delta"},
                       std::vector<std::string>{"--delta", "-5", "a", "b"},
                       std::vector<std::string>{"--count", "-q", "a", "b"},
                       std::vector<std::string>{"--relative"},
                       std::vector<std::string>{"--exclude-path", "-r", "a", "b"},
                       std::vector<std::string>{"--exclude-attribute"}}) {
        parsed &r = parse(words);
        if (words[0] == "a")
            continue; // options after the first operand are not seen
        EXPECT_EQ(r.status, 1) << words[0];
        EXPECT_TRUE(starts_with(r.out, USAGE_FIRST)) << words[0];
        EXPECT_TRUE(r.settings.exclude_paths.empty());
    }
    parsed &r = parse({"a", "b", "--delta"});
    EXPECT_EQ(r.status, MIRLO_ARGS_VALID);
}

TEST_F(CmdlineTest, ReportOptions)
{
    parsed &r = parse({"--statistics", "--json=out.json", "a", "b"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(r.settings.statistics_mode, 1);
    EXPECT_EQ(r.settings.json_mode, 1);
    EXPECT_STREQ(r.args.json_file, "out.json");
    parse({"--json", "r.json", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_STREQ(result.args.json_file, "r.json");
    parse({"a", "b"});
    EXPECT_EQ(result.args.json_file, nullptr);
    EXPECT_EQ(result.settings.json_mode, 0);
    EXPECT_EQ(result.settings.statistics_mode, 0);
    // A report needs one file name, and says so.
    const std::string no_name = "--json needs a file name (- for standard output)";
    const std::string twice = "--json is given more than once";
    const struct {
        std::vector<std::string> words;
        std::string message; // on standard error; none: the usage text
    } refused[] = {
        {{"--json=", "a", "b"}, no_name},
        {{"--json", "-r", "a", "b"}, no_name},
        {{"-r", "--json"}, no_name},
        {{"--json=x.json", "--json=y.json", "a", "b"}, twice},
        {{"--json=-", "--json", "y.json", "a", "b"}, twice},
        {{"--statistics=1", "a", "b"}, ""},
    };
    for (const auto &c : refused) {
        parse(c.words);
        EXPECT_EQ(result.status, 1) << c.words[0];
        if (c.message.empty()) {
            EXPECT_TRUE(starts_with(result.out, USAGE_FIRST)) << c.words[0];
        } else {
            EXPECT_NE(result.err.find(c.message), std::string::npos) << c.words[0] << ": " << result.err;
            EXPECT_EQ(result.out, "") << c.words[0];
        }
    }
}

TEST_F(CmdlineTest, JsonOnStandardOutputIsFoundAsParsingFindsIt)
{
    const struct {
        std::vector<std::string> words;
        bool to_stdout;
    } rows[] = {
        {{"--json=-", "a", "b"}, true},
        {{"-r", "--json=-", "--statistics", "a", "b"}, true},
        {{"--json=r.json", "a", "b"}, false},
        {{"--json=-", "--json=r.json", "a", "b"}, false}, // the last one given stands
        {{"a", "b", "--json=-"}, false},                  // after the file names: an object name
        {{"-v", "a", "--json=-", "b"}, false},            // -v gives "a" back: the options end there
        {{"-z", "--json=-", "a", "b"}, false},            // refused before it is reached
    };
    for (const auto &row : rows) {
        std::vector<std::string> words = row.words;
        words.insert(words.begin(), "pmirlo");
        std::vector<char *> args;
        for (std::string &w : words)
            args.push_back(w.data());
        args.push_back(nullptr);
        const auto run = test_support::capture(
            [&] { return json_to_standard_output(static_cast<int>(words.size()), args.data()); });
        EXPECT_EQ(run.result, row.to_stdout) << words[1] << " " << words[2];
        EXPECT_EQ(run.out + run.err, "") << words[1];
        EXPECT_EQ(zarn_opt_index, 1);
        EXPECT_EQ(zarn_opt_report, 1);
    }
}

TEST_F(CmdlineTest, UnknownOptionsAndMissingValues)
{
    parsed &r = parse({"-z", "a", "b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pmirlo: unknown option \"z\"\n");
    EXPECT_TRUE(starts_with(r.out, USAGE_FIRST));

    parse({"--bogus", "a", "b"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pmirlo: unknown option \"bogus\"\n");

    parse({"-d"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pmirlo: value expected for option \"d\"\n");

    // An unknown option stops parsing even after valid exclusions.
    parse({"--exclude-path", "/g", "-z", "a", "b"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.settings.exclude_paths.empty());
}

TEST_F(CmdlineTest, HelpAndVersionEndWithZero)
{
    parsed &r = parse({"-h", "a", "b"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(starts_with(r.out, USAGE_FIRST));
    EXPECT_NE(r.out.find("\n Notes:\n  file1 and file2 can be the same file.\n"), std::string::npos);

    parse({"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "mirlo: Version 1.10.11\n");
}

TEST_F(CmdlineTest, MissingFileNames)
{
    for (auto words : {std::vector<std::string>{}, std::vector<std::string>{"a"},
                       std::vector<std::string>{"-S", "a", "b"}}) {
        parsed &r = parse(words);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "mirlo error: missing file names\n");
        EXPECT_TRUE(starts_with(r.out, USAGE_FIRST));
    }
}

TEST_F(CmdlineTest, ErrorStackLevel)
{
    parse({"--enable-error-stack=2", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.settings.error_stack_level, 2);
    parse({"--enable-error-stack", "a", "b"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.settings.error_stack_level, 1);
}

TEST_F(CmdlineTest, ExclusionListsKeepCommandLineOrder)
{
    parsed &r = parse({"--exclude-path", "/g1", "--exclude-attribute=/d", "--exclude-path=/g2", "a", "b"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(r.settings.exclude_paths, (std::vector<std::string>{"/g1", "/g2"}));
    EXPECT_EQ(r.settings.exclude_attrs, (std::vector<std::string>{"/d"}));
}

TEST_F(CmdlineTest, PositionalNames)
{
    parsed &r = parse({"a", "b", "/g1/d1", "/g1/d2", "ignored"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_STREQ(r.args.obj1, "/g1/d1");
    EXPECT_STREQ(r.args.obj2, "/g1/d2");

    parse({"a", "b", "/g1/d1"});
    ASSERT_EQ(result.status, MIRLO_ARGS_VALID);
    EXPECT_EQ(result.args.obj2, result.args.obj1);
}

TEST_F(CmdlineTest, SubsetSuffixOnObj1Only)
{
    parsed &r = parse({"a", "b", "/g/dset[1,2;;3]"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_STREQ(r.args.obj1, "/g/dset");
    EXPECT_STREQ(r.args.obj2, "/g/dset");
    ASSERT_NE(r.settings.subsets[0].get(), nullptr);
    EXPECT_EQ(r.settings.subsets[1].get(), nullptr);
    const subset_spec *s = r.settings.subsets[0].get();
    ASSERT_EQ(s->start.count, 2u);
    EXPECT_EQ(s->start.values[0], 1u);
    EXPECT_EQ(s->start.values[1], 2u);
    EXPECT_EQ(s->stride.count, 0u);
    ASSERT_EQ(s->count.count, 1u);
    EXPECT_EQ(s->count.values[0], 3u);
    EXPECT_EQ(s->block.count, 0u);
}

TEST_F(CmdlineTest, SubsetSuffixOnBothObjects)
{
    parsed &r = parse({"a", "b", "/d1[1]", "/d2[;2]"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_STREQ(r.args.obj1, "/d1");
    EXPECT_STREQ(r.args.obj2, "/d2");
    ASSERT_NE(r.settings.subsets[0].get(), nullptr);
    ASSERT_NE(r.settings.subsets[1].get(), nullptr);
    EXPECT_EQ(r.settings.subsets[1]->start.count, 0u);
    ASSERT_EQ(r.settings.subsets[1]->stride.count, 1u);
    EXPECT_EQ(r.settings.subsets[1]->stride.values[0], 2u);
}

TEST_F(CmdlineTest, NoCompactSubsetKeepsNamesWhole)
{
    parsed &r = parse({"--no-compact-subset", "a", "b", "/d[1]"});
    ASSERT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_STREQ(r.args.obj1, "/d[1]");
    EXPECT_EQ(r.settings.subsets[0].get(), nullptr);
}

TEST_F(CmdlineTest, MalformedSubsetsAreRefusedWithTheSubsetAndTheReason)
{
    const std::vector<std::vector<std::string>> lines = {
        {"a", "b", "/v[-5]"},
        {"a", "b", "/v", "/w[1.5]"},
        {"-r", "a", "b", "/v[90"},
    };
    const char *const messages[] = {
        "mirlo error: invalid subset in </v[-5]>: '-' is not allowed: the lists hold non-negative decimal "
        "integers\n",
        "mirlo error: invalid subset in </w[1.5]>: '.' is not allowed: the lists hold non-negative decimal "
        "integers\n",
        "mirlo error: invalid subset in </v[90>: the subset has no closing ']'\n",
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        parsed &r = parse(lines[i]);
        EXPECT_EQ(r.status, 1) << i;
        EXPECT_EQ(r.err, messages[i]);
        EXPECT_TRUE(starts_with(r.out, USAGE_FIRST)) << i;
        EXPECT_EQ(r.settings.subsets[0].get(), nullptr);
    }
    // Names are taken whole under --no-compact-subset, whatever they hold.
    parsed &r = parse({"--no-compact-subset", "a", "b", "/v[-5]"});
    EXPECT_EQ(r.status, MIRLO_ARGS_VALID);
    EXPECT_STREQ(r.args.obj1, "/v[-5]");
}

TEST(CmdlineValues, DeltaCheck)
{
    for (const char *ok : {"0x", "0", "1e-3", "+2", "1e-400", "0.5", "1E3"})
        EXPECT_TRUE(is_valid_delta_value(ok)) << ok;
    // Negative, hexadecimal, not a number, NaN and infinity (written out or
    // beyond the range of double) are refused.
    for (const char *bad : {"0x1", "0X1", "-1e-3", "abc", "", "1.5x", " 1", "1 ", "nan", "NaN", "-nan",
                            "nan(1)", "inf", "-inf", "Infinity", "1e999"})
        EXPECT_FALSE(is_valid_delta_value(bad)) << bad;
}

TEST(CmdlineUsage, StopsSilentlyWithoutStream)
{
    FILE *saved = rawoutstream;
    rawoutstream = nullptr;
    EXPECT_EQ(test_support::capture([] { print_usage(); }).out, "");
    rawoutstream = saved;
}

} // namespace

namespace {

// Many file pairs: two folders, or --pairs without file names; what each
// accepts and refuses.
TEST_F(CmdlineTest, FoldersAndPairListsTakeNoObjectNames)
{
    test_support::temp_dir dir("cmdline_job");
    ASSERT_TRUE(dir.valid());
    const std::string d1 = dir.file("run1"), d2 = dir.file("run2");
    std::filesystem::create_directory(d1);
    std::filesystem::create_directory(d2);
    const std::string file = dir.file("a.h5");
    std::fclose(std::fopen(file.c_str(), "w"));

    struct row {
        std::vector<std::string> words;
        int status;
        bool directories;
        const char *pair_list;
        const char *err; // part of the message, or ""
    } rows[] = {
        {{d1, d2}, MIRLO_ARGS_VALID, true, nullptr, ""},
        {{"--list-differing=l.txt", d1, d2}, MIRLO_ARGS_VALID, true, nullptr, ""},
        {{d1, d2, "/x"}, 1, false, nullptr, "obj1 and obj2 cannot be given with them"},
        {{d1, file}, MIRLO_ARGS_VALID, false, nullptr, ""}, // one folder: a file pair, which fails to open
        {{"--pairs=list.txt"}, MIRLO_ARGS_VALID, false, "list.txt", ""},
        {{"--pairs=-"}, MIRLO_ARGS_VALID, false, "-", ""},
        {{"--pairs=list.txt", "a.h5", "b.h5"}, 1, false, nullptr, "no file names after it"},
        {{"--pairs="}, 1, false, nullptr, "--pairs needs a file name"},
        {{"--list-differing=", "a", "b"}, 1, false, nullptr, "--list-differing needs a file name"},
    };
    for (const row &r : rows) {
        std::string shown_words;
        for (const std::string &w : r.words)
            shown_words += w + " ";
        parsed &p = parse(r.words);
        EXPECT_EQ(p.status, r.status) << shown_words;
        EXPECT_NE(p.err.find(r.err), std::string::npos) << shown_words << ": " << p.err;
        if (r.status != MIRLO_ARGS_VALID)
            continue;
        EXPECT_EQ(p.args.directories, r.directories) << shown_words;
        EXPECT_STREQ(p.args.pair_list, r.pair_list) << shown_words;
        EXPECT_EQ(p.args.obj1, nullptr) << shown_words;
    }
}

} // namespace
