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
