// The JSON text of a report, element by element.
#include "tessel_json_writer.hpp"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Whether a string can be written between quotes as it is: printable ASCII
// without a quote or a backslash. Everything else is left to the library's
// escaping (control characters, UTF-8 checks).
bool plain(const char *text, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\')
            return false;
    }
    return true;
}

void quoted(std::string *out, const char *text, size_t size)
{
    if (plain(text, size)) {
        out->push_back('"');
        out->append(text, size);
        out->push_back('"');
        return;
    }
    *out += nlohmann::json(std::string(text, size)).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The exponent of a number as the library writes it: a sign and at least
// two digits.
void append_exponent(std::string *out, int e)
{
    out->push_back(e < 0 ? '-' : '+');
    e = std::abs(e);
    if (e < 10)
        out->push_back('0');
    char digits[8];
    const auto r = std::to_chars(digits, digits + sizeof digits, e);
    out->append(digits, r.ptr);
}

// A finite double as nlohmann-json writes it: the shortest digits that read
// back as the same value, in fixed notation while the decimal point falls
// within 15 digits of the first and no more than 4 zeros follow it, else as
// d.ddde+XX; always with a point or an exponent, so it reads as a
// floating-point number.
void append_double(std::string *out, double v)
{
    if (!std::isfinite(v)) {
        *out += "null";
        return;
    }
    if (std::signbit(v)) {
        out->push_back('-');
        v = -v;
    }
    if (v == 0.0) {
        *out += "0.0";
        return;
    }
    constexpr int MIN_EXP = -4;
    constexpr int MAX_EXP = 15;
    // d.ddde+XX: the digits and the decimal exponent of the first digit.
    char sci[40];
    const auto r = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    const char *e = static_cast<const char *>(std::memchr(sci, 'e', static_cast<size_t>(r.ptr - sci)));
    char digits[24];
    int k = 0;
    for (const char *p = sci; p < e; ++p)
        if (*p != '.')
            digits[k++] = *p;
    int exponent = 0;
    std::from_chars(e[1] == '+' ? e + 2 : e + 1, r.ptr, exponent);
    const int n = exponent + 1; // where the decimal point falls after the digits' start
    if (k <= n && n <= MAX_EXP) {
        out->append(digits, static_cast<size_t>(k));
        out->append(static_cast<size_t>(n - k), '0');
        *out += ".0";
    } else if (0 < n && n <= MAX_EXP) {
        out->append(digits, static_cast<size_t>(n));
        out->push_back('.');
        out->append(digits + n, static_cast<size_t>(k - n));
    } else if (MIN_EXP < n && n <= 0) {
        *out += "0.";
        out->append(static_cast<size_t>(-n), '0');
        out->append(digits, static_cast<size_t>(k));
    } else {
        out->push_back(digits[0]);
        if (k > 1) {
            out->push_back('.');
            out->append(digits + 1, static_cast<size_t>(k - 1));
        }
        out->push_back('e');
        append_exponent(out, n - 1);
    }
}

} // namespace

void tessel_json_writer::element(const char *key)
{
    if (!filled_.empty()) {
        *out_ += filled_.back() ? ",\n" : "\n";
        filled_.back() = true;
        out_->append(2 * filled_.size(), ' ');
    }
    if (key != nullptr) {
        quoted(out_, key, std::strlen(key));
        *out_ += ": ";
    }
}

void tessel_json_writer::end(char close)
{
    const bool filled = filled_.back();
    filled_.pop_back();
    if (filled) {
        out_->push_back('\n');
        out_->append(2 * filled_.size(), ' ');
    }
    out_->push_back(close);
}

void tessel_json_writer::begin_object(const char *key)
{
    element(key);
    out_->push_back('{');
    filled_.push_back(false);
}

void tessel_json_writer::end_object()
{
    end('}');
}

void tessel_json_writer::begin_array(const char *key)
{
    element(key);
    out_->push_back('[');
    filled_.push_back(false);
}

void tessel_json_writer::end_array()
{
    end(']');
}

void tessel_json_writer::number(const char *key, double v)
{
    element(key);
    append_double(out_, v);
}

void tessel_json_writer::integer(const char *key, long long v)
{
    element(key);
    char text[24];
    const auto r = std::to_chars(text, text + sizeof text, v);
    out_->append(text, r.ptr);
}

void tessel_json_writer::boolean(const char *key, bool v)
{
    element(key);
    *out_ += v ? "true" : "false";
}

void tessel_json_writer::null(const char *key)
{
    element(key);
    *out_ += "null";
}

void tessel_json_writer::string(const char *key, const std::string &v)
{
    element(key);
    quoted(out_, v.data(), v.size());
}
