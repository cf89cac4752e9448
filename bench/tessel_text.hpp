// Small text helpers of tessel's messages.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <string>

// printf into a string (messages are short: longer ones are cut at 1023
// characters).
__attribute__((format(printf, 1, 2))) inline std::string tessel_text_of(const char *fmt, ...)
{
    char text[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    return text;
}

// The text on one line: every run of blanks and line breaks becomes one
// blank (library messages span several lines).
inline std::string tessel_one_line(const std::string &text)
{
    std::string line;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (!blank)
            line += c;
        else if (!line.empty() && line.back() != ' ')
            line += ' ';
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

// The text with control characters, blanks other than the space, and bytes
// outside ASCII written as escapes (\n, \t, \xNN), so that a name fits on
// one line of a message whatever it holds.
inline std::string tessel_printable(const std::string &text)
{
    std::string shown;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n')
            shown += "\\n";
        else if (c == '\t')
            shown += "\\t";
        else if (c < 0x20 || c >= 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            shown += escape;
        } else
            shown += ch;
    }
    return shown;
}
