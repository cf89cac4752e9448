// The settings as the byte string that carries them to the workers.
#include "mirlo_settings.hpp"
#include "mirlo_bytes.hpp"

#include <cstdlib>

namespace {

void put_flag(std::vector<unsigned char> *out, bool flag)
{
    put<uint8_t>(out, flag ? 1 : 0);
}

bool get_flag(byte_reader *in, bool *flag)
{
    const uint8_t v = in->get<uint8_t>();
    *flag = v != 0;
    return in->ok && v <= 1;
}

void put_list(std::vector<unsigned char> *out, const hsize_list &list)
{
    put<uint64_t>(out, list.count);
    put_bytes(out, list.values, list.count * sizeof(hsize_t));
}

bool get_list(byte_reader *in, hsize_list *list)
{
    const uint64_t count = in->get<uint64_t>();
    if (!in->ok || count > in->left / sizeof(hsize_t))
        return false;
    if (count == 0)
        return true;
    list->values = static_cast<hsize_t *>(std::malloc(count * sizeof(hsize_t)));
    if (list->values == nullptr)
        return false;
    list->count = count;
    return in->take(list->values, count * sizeof(hsize_t));
}

void put_texts(std::vector<unsigned char> *out, const std::vector<std::string> &texts)
{
    put<uint64_t>(out, texts.size());
    for (const std::string &t : texts)
        put_text(out, t);
}

bool get_texts(byte_reader *in, std::vector<std::string> *texts)
{
    const uint64_t n = in->get<uint64_t>();
    // Every text takes its length at least.
    if (!in->ok || n > in->left / sizeof(uint64_t))
        return false;
    texts->resize(static_cast<size_t>(n));
    for (std::string &t : *texts)
        if (!in->text(&t))
            return false;
    return true;
}

bool get_subset(byte_reader *in, subset_spec_ptr *spec)
{
    bool present = false;
    if (!get_flag(in, &present))
        return false;
    if (!present)
        return true;
    auto *read = static_cast<subset_spec *>(std::calloc(1, sizeof(subset_spec)));
    *spec = subset_spec_owned(read);
    return read != nullptr && get_list(in, &read->start) && get_list(in, &read->stride) &&
           get_list(in, &read->count) && get_list(in, &read->block);
}

bool read_settings(byte_reader *in, mirlo_settings *s)
{
    bool ok = get_flag(in, &s->quiet_mode) && get_flag(in, &s->report_mode) && get_flag(in, &s->verbose_mode);
    s->verbose_level = in->get<int32_t>();
    ok = ok && in->ok && get_flag(in, &s->list_not_comparable) && get_flag(in, &s->statistics_mode) &&
         get_flag(in, &s->json_mode) && get_flag(in, &s->delta_mode);
    s->delta = in->get<double>();
    ok = ok && get_flag(in, &s->relative_mode);
    s->relative = in->get<double>();
    ok = ok && get_flag(in, &s->system_epsilon_mode) && get_flag(in, &s->combined_mode);
    s->atol = in->get<double>();
    s->rtol = in->get<double>();
    ok = ok && get_flag(in, &s->detect_nans) && get_flag(in, &s->nan_equal) && get_flag(in, &s->count_mode);
    s->count_limit = in->get<uint64_t>();
    ok = ok && get_flag(in, &s->follow_links) && get_flag(in, &s->no_dangling_links) &&
         get_flag(in, &s->no_compact_subset) && get_flag(in, &s->references_by_value) && get_texts(in, &s->exclude_paths) &&
         get_texts(in, &s->exclude_attrs) && get_texts(in, &s->ignore_attrs) && in->text(&s->rules_file) &&
         in->text(&s->rules_text) && get_subset(in, &s->subsets[0]) && get_subset(in, &s->subsets[1]);
    ok = ok && get_flag(in, &s->chunk_shortcuts);
    s->error_stack_level = in->get<int32_t>();
    ok = ok && in->ok && get_flag(in, &s->structure_only);
    s->progress_seconds = in->get<double>();
    if (!(ok && in->ok && in->left == 0))
        return false;
    // The rules travel as the text that was read; the same parser gives the
    // same rules here.
    if (s->rules_file.empty())
        return true;
    std::string message;
    return mirlo_parse_rules(s->rules_text, s->rules_file, &s->rules, &message) == 0;
}

} // namespace

subset_spec_ptr subset_spec_owned(subset_spec *spec)
{
    if (spec == nullptr)
        return nullptr;
    return subset_spec_ptr(spec, [](const subset_spec *s) { subset_spec_free(const_cast<subset_spec *>(s)); });
}

std::vector<unsigned char> settings_to_bytes(const mirlo_settings &s)
{
    std::vector<unsigned char> out;
    put_flag(&out, s.quiet_mode);
    put_flag(&out, s.report_mode);
    put_flag(&out, s.verbose_mode);
    put<int32_t>(&out, s.verbose_level);
    put_flag(&out, s.list_not_comparable);
    put_flag(&out, s.statistics_mode);
    put_flag(&out, s.json_mode);
    put_flag(&out, s.delta_mode);
    put<double>(&out, s.delta);
    put_flag(&out, s.relative_mode);
    put<double>(&out, s.relative);
    put_flag(&out, s.system_epsilon_mode);
    put_flag(&out, s.combined_mode);
    put<double>(&out, s.atol);
    put<double>(&out, s.rtol);
    put_flag(&out, s.detect_nans);
    put_flag(&out, s.nan_equal);
    put_flag(&out, s.count_mode);
    put<uint64_t>(&out, s.count_limit);
    put_flag(&out, s.follow_links);
    put_flag(&out, s.no_dangling_links);
    put_flag(&out, s.no_compact_subset);
    put_flag(&out, s.references_by_value);
    put_texts(&out, s.exclude_paths);
    put_texts(&out, s.exclude_attrs);
    put_texts(&out, s.ignore_attrs);
    put_text(&out, s.rules_file);
    put_text(&out, s.rules_text);
    for (const subset_spec_ptr &spec : s.subsets) {
        put_flag(&out, spec != nullptr);
        if (spec == nullptr)
            continue;
        put_list(&out, spec->start);
        put_list(&out, spec->stride);
        put_list(&out, spec->count);
        put_list(&out, spec->block);
    }
    put_flag(&out, s.chunk_shortcuts);
    put<int32_t>(&out, s.error_stack_level);
    put_flag(&out, s.structure_only);
    put<double>(&out, s.progress_seconds);
    return out;
}

int settings_from_bytes(const unsigned char *bytes, size_t size, mirlo_settings *settings)
{
    byte_reader in{bytes, size};
    mirlo_settings read;
    if (!read_settings(&in, &read)) {
        *settings = mirlo_settings();
        return -1;
    }
    *settings = std::move(read);
    return 0;
}
