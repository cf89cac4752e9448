// The JSON report: records and the run's document, written with nlohmann-json.
#include "mirlo_json.hpp"

#include "trek.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"
#include "zarn_utils.hpp"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

// Keys keep the order they are written in, which is the documented one.
using ojson = nlohmann::ordered_json;

// Length of the valid UTF-8 sequence that starts text[at], or 0 when the byte
// there does not start one (overlong forms, surrogates and values beyond
// U+10FFFF are not valid).
size_t utf8_sequence(std::string_view text, size_t at)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned c = byte(0);
    if (c < 0x80)
        return 1;
    size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF; // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0)
            lo = 0xA0;
        else if (c == 0xED)
            hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0)
            lo = 0x90;
        else if (c == 0xF4)
            hi = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - at < len || byte(1) < lo || byte(1) > hi)
        return 0;
    for (size_t k = 2; k < len; ++k)
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
    return len;
}

// A name under key, with its exact bytes beside it when it is not UTF-8.
void put_name(ojson &j, const std::string &key, const std::string &name)
{
    if (json_is_utf8(name)) {
        j[key] = name;
        return;
    }
    j[key] = json_replace_invalid(name);
    j[key + "_bytes"] = json_hex_bytes(name);
}

std::string get_name(const ojson &j, const std::string &key)
{
    const auto bytes = j.find(key + "_bytes");
    if (bytes == j.end())
        return j.value(key, std::string());
    const std::string hex = bytes->get<std::string>();
    std::string name;
    for (size_t k = 0; k + 1 < hex.size(); k += 2) {
        const int hi = zarn_hex_digit(hex[k]), lo = zarn_hex_digit(hex[k + 1]);
        if (hi < 0 || lo < 0)
            throw std::invalid_argument("hex digits expected");
        name.push_back(static_cast<char>(hi * 16 + lo));
    }
    return name;
}

// A number: integers exactly, finite floating values as JSON numbers, the
// others as the strings "nan", "inf" and "-inf" (JSON has no such numbers).
ojson number_json(const stat_number &v)
{
    switch (v.kind) {
    case stat_number::signed_int: return v.i;
    case stat_number::unsigned_int: return v.u;
    case stat_number::floating:
        if (std::isnan(v.f))
            return "nan";
        if (std::isinf(v.f))
            return v.f > 0 ? "inf" : "-inf";
        return v.f;
    default: return nullptr;
    }
}

stat_number number_from(const ojson &j)
{
    if (j.is_number_unsigned())
        return stat_number::of_unsigned(j.get<uint64_t>());
    if (j.is_number_integer())
        return stat_number::of_signed(j.get<int64_t>());
    if (j.is_number_float())
        return stat_number::of_double(j.get<double>());
    if (j.is_string()) {
        const std::string s = j.get<std::string>();
        if (s == "nan")
            return stat_number::of_double(std::nan(""));
        if (s == "inf" || s == "-inf")
            return stat_number::of_double(s == "inf" ? HUGE_VAL : -HUGE_VAL);
        throw std::invalid_argument("not a number");
    }
    return {};
}

ojson extreme_json(const stat_extreme &e)
{
    if (!e.value.present())
        return nullptr;
    ojson j;
    j["value"] = number_json(e.value);
    j["position"] = e.position;
    return j;
}

stat_extreme extreme_from(const ojson &j)
{
    stat_extreme e;
    if (j.is_null())
        return e;
    e.value = number_from(j.at("value"));
    e.position = j.at("position").get<std::vector<uint64_t>>();
    return e;
}

bool has_data(const object_record &r)
{
    return r.kind == "dataset" || r.kind == "attribute";
}

ojson names_json(const std::vector<std::string> &names)
{
    ojson list = ojson::array();
    for (const std::string &n : names) {
        ojson e;
        put_name(e, "name", n);
        list.push_back(std::move(e));
    }
    return list;
}

std::vector<std::string> names_from(const ojson &list)
{
    std::vector<std::string> names;
    for (const ojson &e : list)
        names.push_back(get_name(e, "name"));
    return names;
}

// A tolerance as {"kind", and its values}: "exact", "system_epsilon",
// "delta" with delta, "relative" with relative, "atol_rtol" with atol and rtol.
ojson tolerance_json(const mirlo_tolerance &t)
{
    ojson j;
    switch (t.kind) {
    case tolerance_kind::exact: j["kind"] = "exact"; break;
    case tolerance_kind::system_epsilon: j["kind"] = "system_epsilon"; break;
    case tolerance_kind::delta:
        j["kind"] = "delta";
        j["delta"] = t.delta;
        break;
    case tolerance_kind::relative:
        j["kind"] = "relative";
        j["relative"] = t.relative;
        break;
    case tolerance_kind::combined:
        j["kind"] = "atol_rtol";
        j["atol"] = t.delta;
        j["rtol"] = t.relative;
        break;
    }
    return j;
}

mirlo_tolerance tolerance_from(const ojson &j)
{
    const std::string kind = j.at("kind").get<std::string>();
    mirlo_tolerance t;
    if (kind == "system_epsilon") {
        t.kind = tolerance_kind::system_epsilon;
    } else if (kind == "delta") {
        t = {tolerance_kind::delta, j.at("delta").get<double>(), 0};
    } else if (kind == "relative") {
        t = {tolerance_kind::relative, 0, j.at("relative").get<double>()};
    } else if (kind == "atol_rtol") {
        t = {tolerance_kind::combined, j.at("atol").get<double>(), j.at("rtol").get<double>()};
    } else if (kind != "exact") {
        throw std::invalid_argument("unknown tolerance");
    }
    return t;
}

ojson storage_json(const dataset_storage &s)
{
    ojson j;
    j["layout"] = s.layout;
    j["chunk"] = s.chunk.empty() ? ojson(nullptr) : ojson(s.chunk);
    ojson filters = ojson::array();
    for (const storage_filter &f : s.filters) {
        ojson e;
        e["id"] = f.id;
        put_name(e, "name", f.name);
        e["parameters"] = f.parameters;
        filters.push_back(std::move(e));
    }
    j["filters"] = std::move(filters);
    ojson fill;
    fill["source"] = s.fill_source;
    fill["value"] = s.fill_source == "undefined" ? ojson(nullptr) : ojson(s.fill_value);
    j["fill_value"] = std::move(fill);
    return j;
}

dataset_storage storage_from(const ojson &j)
{
    dataset_storage s;
    s.layout = j.at("layout").get<std::string>();
    if (!j.at("chunk").is_null())
        s.chunk = j.at("chunk").get<std::vector<uint64_t>>();
    for (const ojson &e : j.at("filters")) {
        storage_filter f;
        f.id = e.at("id").get<int32_t>();
        f.name = get_name(e, "name");
        f.parameters = e.at("parameters").get<std::vector<uint32_t>>();
        s.filters.push_back(std::move(f));
    }
    const ojson &fill = j.at("fill_value");
    s.fill_source = fill.at("source").get<std::string>();
    if (!fill.at("value").is_null())
        s.fill_value = fill.at("value").get<std::string>();
    return s;
}

ojson record_json(const object_record &r)
{
    const bool attribute = r.kind == "attribute";
    ojson j;
    j["kind"] = r.kind;
    if (attribute) {
        put_name(j, "name", r.name1);
    } else {
        put_name(j, "path1", r.name1);
        put_name(j, "path2", r.name2);
    }
    j["comparable"] = r.comparable;
    if (!r.comparable)
        j["reason"] = json_replace_invalid(r.reason);
    j["differences"] = r.differences;
    j["rule"] = r.rule != 0 ? ojson(r.rule) : ojson(nullptr);
    j["tolerance"] = tolerance_json(r.tolerance);
    if (!r.error.empty())
        j["error"] = json_replace_invalid(r.error);
    if (has_data(r)) {
        j["elements_compared"] = r.data.elements;
        j["difference_unit"] = stat_unit_word(r.data.unit);
        j["nan_differences"] = r.data.nan_differences;
        j["zero_first_value"] = r.data.zero_first;
        j["max_abs_difference"] = extreme_json(r.data.max_abs);
        j["max_rel_difference"] = extreme_json(r.data.max_rel);
        ojson first = ojson::array();
        for (const stat_example &e : r.data.first) {
            ojson d;
            d["position"] = e.position;
            if (e.value1.present()) {
                d["value1"] = number_json(e.value1);
                d["value2"] = number_json(e.value2);
            }
            first.push_back(std::move(d));
        }
        j["first_differences"] = std::move(first);
    }
    if (r.storage.size() == 2) {
        j["storage1"] = storage_json(r.storage[0]);
        j["storage2"] = storage_json(r.storage[1]);
        j["storage_differs"] = !(r.storage[0] == r.storage[1]);
    }
    if (!attribute) {
        ojson attrs = ojson::array();
        for (const object_record &a : r.attributes)
            attrs.push_back(record_json(a));
        j["attributes"] = std::move(attrs);
        j["attributes_only_in_first"] = names_json(r.attributes_only_in_first);
        j["attributes_only_in_second"] = names_json(r.attributes_only_in_second);
    }
    return j;
}

object_record record_from(const ojson &j)
{
    object_record r;
    r.kind = j.at("kind").get<std::string>();
    const bool attribute = r.kind == "attribute";
    if (attribute) {
        r.name1 = r.name2 = get_name(j, "name");
    } else {
        r.name1 = get_name(j, "path1");
        r.name2 = get_name(j, "path2");
    }
    r.comparable = j.at("comparable").get<bool>();
    r.reason = j.value("reason", std::string());
    r.differences = j.at("differences").get<nfound_t>();
    r.error = j.value("error", std::string());
    r.rule = j.at("rule").is_null() ? 0 : j.at("rule").get<uint32_t>();
    r.tolerance = tolerance_from(j.at("tolerance"));
    if (has_data(r)) {
        r.data.nan_differences = j.at("nan_differences").get<uint64_t>();
        r.data.zero_first = j.at("zero_first_value").get<bool>();
        r.data.elements = j.at("elements_compared").get<uint64_t>();
        if (!stat_unit_from_word(j.at("difference_unit").get<std::string>(), &r.data.unit))
            throw std::invalid_argument("unknown difference unit");
        r.data.max_abs = extreme_from(j.at("max_abs_difference"));
        r.data.max_rel = extreme_from(j.at("max_rel_difference"));
        for (const ojson &d : j.at("first_differences")) {
            stat_example e;
            e.position = d.at("position").get<std::vector<uint64_t>>();
            if (d.contains("value1")) {
                e.value1 = number_from(d.at("value1"));
                e.value2 = number_from(d.at("value2"));
            }
            r.data.first.push_back(std::move(e));
        }
    }
    if (j.contains("storage1"))
        r.storage = {storage_from(j.at("storage1")), storage_from(j.at("storage2"))};
    if (!attribute) {
        for (const ojson &a : j.at("attributes"))
            r.attributes.push_back(record_from(a));
        r.attributes_only_in_first = names_from(j.at("attributes_only_in_first"));
        r.attributes_only_in_second = names_from(j.at("attributes_only_in_second"));
    }
    return r;
}

// A list of {"path"} objects.
ojson paths_json(const std::vector<std::string> &list)
{
    ojson paths = ojson::array();
    for (const std::string &path : list) {
        ojson e;
        put_name(e, "path", path);
        paths.push_back(std::move(e));
    }
    return paths;
}

ojson list_json(const hsize_list &list)
{
    if (list.values == nullptr || list.count == 0)
        return nullptr;
    return std::vector<uint64_t>(list.values, list.values + list.count);
}

ojson subset_json(const subset_spec *s)
{
    if (s == nullptr)
        return nullptr;
    ojson j;
    j["start"] = list_json(s->start);
    j["stride"] = list_json(s->stride);
    j["count"] = list_json(s->count);
    j["block"] = list_json(s->block);
    return j;
}

const char *rule_of(const mirlo_settings &o)
{
    if (o.combined_mode)
        return "atol_rtol";
    if (o.delta_mode)
        return "delta";
    if (o.relative_mode)
        return "relative";
    if (o.system_epsilon_mode)
        return "system_epsilon";
    return "exact";
}

// The rules of a rules file as read: each with its path, its place in the
// file, and the keys it names.
ojson rules_json(const std::vector<mirlo_rule> &rules)
{
    ojson list = ojson::array();
    for (const mirlo_rule &rule : rules) {
        ojson e;
        put_name(e, "path", rule.path);
        e["line"] = rule.line;
        if (rule.tolerance)
            e["tolerance"] = tolerance_json(*rule.tolerance);
        if (rule.nan_equal)
            e["nan_equal"] = *rule.nan_equal;
        if (rule.count)
            e["count"] = *rule.count;
        if (rule.ignore)
            e["ignore"] = *rule.ignore;
        if (rule.ignore_attributes)
            e["ignore_attributes"] = names_json(*rule.ignore_attributes);
        list.push_back(std::move(e));
    }
    return list;
}

ojson side_json(const std::vector<one_side_object> &objects)
{
    ojson list = ojson::array();
    for (const one_side_object &o : objects) {
        ojson e;
        put_name(e, "path", o.path);
        e["kind"] = record_kind_word(o.kind);
        list.push_back(std::move(e));
    }
    return list;
}

} // namespace

bool json_is_utf8(std::string_view text)
{
    for (size_t at = 0; at < text.size();) {
        const size_t n = utf8_sequence(text, at);
        if (n == 0)
            return false;
        at += n;
    }
    return true;
}

std::string json_replace_invalid(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t n = utf8_sequence(text, at);
        if (n == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD REPLACEMENT CHARACTER
            ++at;
        } else {
            out.append(text.substr(at, n));
            at += n;
        }
    }
    return out;
}

std::string json_hex_bytes(std::string_view text)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(text.size() * 2);
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        hex.push_back(digits[u >> 4]);
        hex.push_back(digits[u & 15]);
    }
    return hex;
}

std::string record_to_bytes(const object_record &record)
{
    return record_json(record).dump();
}

int record_from_bytes(const char *bytes, size_t size, object_record *record)
{
    const ojson j = ojson::parse(bytes, bytes + size, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return -1;
    try {
        *record = record_from(j);
    } catch (const std::exception &) {
        return -1;
    }
    return 0;
}

std::string json_options_text(const mirlo_settings &o)
{
    ojson j;
    j["report"] = o.report_mode;
    j["verbose"] = o.verbose_mode;
    j["verbose_level"] = o.verbose_level;
    j["quiet"] = o.quiet_mode;
    j["list_not_comparable"] = o.list_not_comparable;
    j["rule"] = rule_of(o);
    j["delta"] = o.delta_mode ? number_json(stat_number::of_double(o.delta)) : ojson(nullptr);
    j["relative"] = o.relative_mode ? number_json(stat_number::of_double(o.relative)) : ojson(nullptr);
    j["nan_detection"] = o.detect_nans;
    j["count_limit"] = o.count_mode ? ojson(o.count_limit) : ojson(nullptr);
    j["follow_symlinks"] = o.follow_links;
    j["no_dangling_links"] = o.no_dangling_links;
    j["no_compact_subset"] = o.no_compact_subset;
    j["exclude_paths"] = paths_json(o.exclude_paths);
    j["exclude_attributes"] = paths_json(o.exclude_attrs);
    j["subset1"] = subset_json(o.subsets[0].get());
    j["subset2"] = subset_json(o.subsets[1].get());
    j["statistics"] = o.statistics_mode;
    j["atol"] = o.combined_mode ? ojson(o.atol) : ojson(nullptr);
    j["rtol"] = o.combined_mode ? ojson(o.rtol) : ojson(nullptr);
    j["nan_equal"] = o.nan_equal;
    j["references_by_value"] = o.references_by_value;
    j["ignore_attributes"] = names_json(o.ignore_attrs);
    if (o.rules_file.empty()) {
        j["rules_file"] = nullptr;
        j["rules"] = nullptr;
    } else {
        put_name(j, "rules_file", o.rules_file);
        j["rules"] = rules_json(o.rules);
    }
    j["structure_only"] = o.structure_only;
    return j.dump();
}

namespace {

// The program's name and version, first in the run of every document.
void put_program(ojson &r)
{
    r["program"] = "mirlo";
    char version[32];
    std::snprintf(version, sizeof version, "%u.%u.%u", ZARN_VERS_MAJOR, ZARN_VERS_MINOR, ZARN_VERS_RELEASE);
    r["version"] = version;
}

// The document of one comparison of two files.
ojson run_document(const json_run &run, const run_report &report)
{
    ojson r;
    put_program(r);
    put_name(r, "file1", run.file1);
    put_name(r, "file2", run.file2);
    if (run.object1)
        put_name(r, "object1", *run.object1);
    if (run.object2)
        put_name(r, "object2", *run.object2);
    r["options"] = ojson::parse(run.options, nullptr, false);
    r["processes"] = run.processes;
    r["elapsed_seconds"] = run.elapsed_seconds;
    r["exit_status"] = run.exit_status;
    r["differences"] = run.differences;
    r["not_comparable"] = run.not_comparable;
    // A run that failed before matching the member lists knows nothing of them.
    r["contents_equal"] = report.failed_before_matching ? ojson(nullptr) : ojson(run.contents_equal);
    if (!report.error.empty())
        r["error"] = json_replace_invalid(report.error);

    ojson doc;
    doc["format"] = MIRLO_JSON_FORMAT;
    doc["run"] = std::move(r);
    doc["only_in_first"] = side_json(report.only_in_first);
    doc["only_in_second"] = side_json(report.only_in_second);
    ojson pairs = ojson::array();
    for (const object_record &p : report.pairs)
        pairs.push_back(record_json(p));
    doc["pairs"] = std::move(pairs);

    return doc;
}

// Writes the document on out, as the layout of dump(2) and a newline.
int write_text(FILE *out, const ojson &doc)
{
    const std::string text = doc.dump(2) + "\n";
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0)
        return -1;
    return 0;
}

} // namespace

void json_run_set_outcome(json_run *run, int exit_status, const run_outcome &outcome)
{
    run->exit_status = exit_status;
    run->differences = outcome.differences;
    run->not_comparable = outcome.not_comparable;
    run->contents_equal = outcome.contents_equal;
}

int json_write_document(FILE *out, const json_run &run, const run_report &report)
{
    return write_text(out, run_document(run, report));
}

std::string json_document_text(const json_run &run, const run_report &report)
{
    return run_document(run, report).dump();
}

int json_write_job(FILE *out, const json_job &job, const std::vector<std::string> &files)
{
    ojson r;
    put_program(r);
    if (!job.pair_list.empty()) {
        put_name(r, "pairs", job.pair_list);
    } else {
        put_name(r, "dir1", job.dir1);
        put_name(r, "dir2", job.dir2);
    }
    r["options"] = ojson::parse(job.options, nullptr, false);
    r["processes"] = job.processes;
    r["elapsed_seconds"] = job.elapsed_seconds;
    r["exit_status"] = job.exit_status;
    r["files_compared"] = job.totals.compared;
    r["files_with_differences"] = job.totals.differing;
    r["files_on_one_side_only"] = job.totals.one_side_only;
    r["files_failed"] = job.totals.failed;

    ojson doc;
    doc["format"] = MIRLO_JSON_FORMAT;
    doc["run"] = std::move(r);
    ojson list = ojson::array();
    for (const std::string &f : files) {
        ojson document = ojson::parse(f, nullptr, false);
        if (document.is_discarded())
            return -1;
        list.push_back(std::move(document));
    }
    doc["files"] = std::move(list);
    doc["only_in_first_dir"] = paths_json(job.only_in_first_dir);
    doc["only_in_second_dir"] = paths_json(job.only_in_second_dir);
    return write_text(out, doc);
}
