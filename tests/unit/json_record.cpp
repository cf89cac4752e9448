// The JSON report's pieces: names that are not valid UTF-8, the record of a
// pair as it travels between processes, and the document as a JSON parser
// reads it.
#include "mirlo_json.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace {

TEST(JsonNamesTest, InvalidBytesBecomeReplacementCharactersAndHex)
{
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        const char *name;
        std::string text;
        bool valid;
        std::string written;
    } rows[] = {
        {"ASCII", "/g1/dset", true, "/g1/dset"},
        {"two- three- and four-byte forms", "/temp\xC3\xA9rature/\xE2\x82\xAC/\xF0\x9F\x98\x80", true,
         "/temp\xC3\xA9rature/\xE2\x82\xAC/\xF0\x9F\x98\x80"},
        {"Latin-1 byte", "/caf\xE9", false, "/caf" + fffd},
        {"bytes never in UTF-8", "\xFF\xFE", false, fffd + fffd},
        {"lone continuation byte", "a\x80" "b", false, "a" + fffd + "b"},
        {"overlong encoding of '/'", "\xC0\xAF", false, fffd + fffd},
        {"surrogate half", "\xED\xA0\x80", false, fffd + fffd + fffd},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false, fffd + fffd + fffd + fffd},
        {"sequence cut short", "x\xE2\x82", false, "x" + fffd + fffd},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(json_is_utf8(row.text), row.valid);
        EXPECT_EQ(json_replace_invalid(row.text), row.written);
        EXPECT_TRUE(json_is_utf8(json_replace_invalid(row.text)));
    }
    EXPECT_EQ(json_hex_bytes("/caf\xE9"), "2f636166e9");
}

object_record sample_record()
{
    object_record r;
    r.kind = "dataset";
    r.name1 = "/caf\xE9";
    r.name2 = "/cafe";
    r.differences = 3;
    r.error = "cannot read dataset </caf\xE9> in the first file";
    r.data.elements = 600;
    r.data.max_abs = {stat_number::of_double(std::numeric_limits<double>::infinity()), {1, 0}};
    r.data.max_rel = {stat_number::of_double(0.25), {0, 2}};
    r.data.first.push_back({{0, 1}, stat_number::of_double(std::nan("")), stat_number::of_double(2)});
    r.data.first.push_back({{1, 0}, stat_number::of_signed(-9223372036854775807LL - 1),
                            stat_number::of_unsigned(18446744073709551615ULL)});
    r.data.first.push_back({{1, 2}, {}, {}});
    object_record attr;
    attr.kind = "attribute";
    attr.name1 = attr.name2 = "t\xFE";
    attr.comparable = false;
    attr.reason = "different ranks: 1 and 2";
    r.attributes.push_back(attr);
    r.attributes_only_in_first = {"units"};
    r.attributes_only_in_second = {"\xFF"};
    r.storage = {{"chunked", {4, 8}, {{2, "shuffle", {4}}, {32000, "", {}}}, "user", "-7"},
                 {"contiguous", {}, {}, "undefined", ""}};
    return r;
}

TEST(JsonRecordTest, RecordTravelsWithoutLoss)
{
    const object_record sent = sample_record();
    const std::string bytes = record_to_bytes(sent);
    object_record got;
    ASSERT_EQ(record_from_bytes(bytes.data(), bytes.size(), &got), 0);
    EXPECT_EQ(got.name1, sent.name1); // the exact bytes, from the hex field
    EXPECT_EQ(got.name2, sent.name2);
    EXPECT_EQ(got.differences, 3u);
    EXPECT_EQ(got.data.elements, 600u);
    EXPECT_TRUE(std::isinf(got.data.max_abs.value.f));
    EXPECT_EQ(got.data.max_abs.position, (std::vector<uint64_t>{1, 0}));
    EXPECT_EQ(got.data.max_rel.value, sent.data.max_rel.value);
    ASSERT_EQ(got.data.first.size(), 3u);
    EXPECT_TRUE(std::isnan(got.data.first[0].value1.f));
    EXPECT_EQ(got.data.first[1].value1, sent.data.first[1].value1);
    EXPECT_EQ(got.data.first[1].value2, sent.data.first[1].value2);
    EXPECT_FALSE(got.data.first[2].value1.present());
    ASSERT_EQ(got.attributes.size(), 1u);
    EXPECT_EQ(got.attributes[0].name1, "t\xFE");
    EXPECT_FALSE(got.attributes[0].comparable);
    EXPECT_EQ(got.attributes[0].reason, "different ranks: 1 and 2");
    EXPECT_EQ(got.attributes_only_in_second, std::vector<std::string>{"\xFF"});
    EXPECT_EQ(got.storage, sent.storage);
    // Sent again, the same bytes: what the manager writes is what the worker made.
    EXPECT_EQ(record_to_bytes(got), bytes);
}

TEST(JsonRecordTest, MalformedRecordsAreRefused)
{
    const std::string good = record_to_bytes(sample_record());
    for (const std::string &bad : {std::string(), std::string("[1,2]"), good.substr(0, good.size() / 2),
                                   std::string(R"({"kind":"dataset"})"),
                                   std::string(R"({"kind":"group","path1":"/","path1_bytes":"zz")"
                                               R"(,"path2":"/","comparable":true,"differences":0,)"
                                               R"("attributes":[],"attributes_only_in_first":[],)"
                                               R"("attributes_only_in_second":[]})")}) {
        object_record r;
        EXPECT_EQ(record_from_bytes(bad.data(), bad.size(), &r), -1) << bad;
    }
}

TEST(JsonDocumentTest, DocumentParsesWithTheDocumentedFields)
{
    json_run run;
    run.file1 = "a\xE9.h5";
    run.file2 = "b.h5";
    run.object1 = "/caf\xE9";
    run.object2 = "/cafe";
    test_support::comparison o(true);
    o.settings.delta_mode = 1;
    o.settings.delta = 0.5;
    run.options = json_options_text(o.settings);
    run.processes = 3;
    run.exit_status = 1;
    run.differences = 4;
    run_report report;
    report.only_in_first.push_back({"/only\x80", TREK_DATASET});
    report.pairs.push_back(sample_record());

    FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(json_write_document(f, run, report), 0);
    const std::string text = test_support::read_all(f);
    std::fclose(f);
    const nlohmann::json doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc["format"], 1);
    EXPECT_EQ(doc["run"]["program"], "mirlo");
    EXPECT_EQ(doc["run"]["file1"], "a\xEF\xBF\xBD.h5");
    EXPECT_EQ(doc["run"]["file1_bytes"], "61e92e6835");
    EXPECT_FALSE(doc["run"].contains("file2_bytes"));
    EXPECT_EQ(doc["run"]["object2"], "/cafe");
    EXPECT_EQ(doc["run"]["options"]["rule"], "delta");
    EXPECT_EQ(doc["run"]["options"]["delta"], 0.5);
    EXPECT_EQ(doc["run"]["options"]["report"], true);
    EXPECT_EQ(doc["run"]["processes"], 3);
    EXPECT_EQ(doc["run"]["differences"], 4);
    EXPECT_EQ(doc["only_in_first"][0]["kind"], "dataset");
    EXPECT_EQ(doc["only_in_first"][0]["path_bytes"], "2f6f6e6c7980");
    EXPECT_TRUE(doc["only_in_second"].empty());
    const nlohmann::json &pair = doc["pairs"][0];
    EXPECT_EQ(pair["max_abs_difference"]["value"], "inf");
    EXPECT_EQ(pair["first_differences"][0]["value1"], "nan");
    EXPECT_EQ(pair["first_differences"][1]["value2"], 18446744073709551615ULL);
    EXPECT_FALSE(pair["first_differences"][2].contains("value1"));
    EXPECT_EQ(pair["attributes"][0]["name_bytes"], "74fe");
    EXPECT_EQ(pair["attributes"][0]["reason"], "different ranks: 1 and 2");
    EXPECT_EQ(pair["error"], "cannot read dataset </caf\xEF\xBF\xBD> in the first file");
}

} // namespace
