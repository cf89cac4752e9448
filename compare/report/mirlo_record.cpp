// The record of a comparison: the hooks the comparison code calls, and the
// completion of a pair's record.
#include "mirlo_record.hpp"

#include "trek.hpp"

#include <cstdarg>
#include <cstdio>

namespace {

std::string formatted(const char *fmt, va_list ap)
{
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0)
        return {};
    std::string text(static_cast<size_t>(n), '\0');
    std::vsnprintf(text.data(), text.size() + 1, fmt, ap);
    return text;
}

} // namespace

void pair_not_comparable(const pair_context *ctx, const char *fmt, ...)
{
    ctx->outcome->not_comparable = true;
    object_record *r = ctx->record;
    if (r == nullptr || !r->comparable)
        return;
    r->comparable = false;
    va_list ap;
    va_start(ap, fmt);
    r->reason = formatted(fmt, ap);
    va_end(ap);
}

void record_error(const pair_context *ctx, const char *fmt, ...)
{
    object_record *r = ctx->record;
    if (r == nullptr || !r->error.empty())
        return;
    va_list ap;
    va_start(ap, fmt);
    r->error = formatted(fmt, ap);
    va_end(ap);
}

const char *record_kind_word(int trek_kind)
{
    switch (trek_kind) {
    case TREK_GROUP: return "group";
    case TREK_DATASET: return "dataset";
    case TREK_NAMED_DATATYPE: return "datatype";
    case TREK_LINK: return "link";
    case TREK_UDLINK: return "user defined link";
    default: return "unknown";
    }
}

void record_finish_pair(object_record *record, nfound_t total, bool failed)
{
    nfound_t in_attributes = 0;
    for (const object_record &a : record->attributes)
        in_attributes += a.differences;
    record->differences = total >= in_attributes ? total - in_attributes : 0;
    if (!failed || !record->error.empty())
        return;
    // A failure inside one of its attributes is named after the attribute.
    for (const object_record &a : record->attributes)
        if (!a.error.empty()) {
            record->error = "attribute <" + a.name1 + ">: " + a.error;
            return;
        }
    record->error = "the comparison failed";
}

void record_rule(object_record *record, const pair_rule &rule)
{
    record->rule = rule.number;
    record->tolerance = pair_tolerance(rule);
}
