// The output sink of a comparison.
#include "mirlo_output.hpp"

#include <cstdarg>

namespace {

void collected(output_sink *out)
{
    if (out->on_full != nullptr && out->segment.size() >= out->full_at)
        out->on_full(out, out->data);
}

} // namespace

void output_print(output_sink *out, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    if (out->file != nullptr) {
        vfprintf(out->file, fmt, ap);
        va_end(ap);
        return;
    }
    char small[512];
    va_list again;
    va_copy(again, ap);
    const int n = vsnprintf(small, sizeof small, fmt, ap);
    va_end(ap);
    if (n > 0 && static_cast<size_t>(n) < sizeof small) {
        out->segment.append(small, static_cast<size_t>(n));
    } else if (n > 0) {
        const size_t at = out->segment.size();
        out->segment.resize(at + static_cast<size_t>(n) + 1);
        vsnprintf(out->segment.data() + at, static_cast<size_t>(n) + 1, fmt, again);
        out->segment.resize(at + static_cast<size_t>(n));
    }
    va_end(again);
    collected(out);
}

void output_write(output_sink *out, const char *text, size_t size)
{
    if (out->file != nullptr) {
        fwrite(text, 1, size, out->file);
        return;
    }
    out->segment.append(text, size);
    collected(out);
}

void output_drop(output_sink *out)
{
    out->segment.clear();
}

std::string output_take(output_sink *out)
{
    std::string text;
    text.swap(out->segment);
    return text;
}
