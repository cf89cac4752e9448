// Progress lines on standard error.
#include "mirlo_progress.hpp"
#include "zarn_io.hpp"

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>

namespace {

// 1234567 -> "1,234,567".
std::string grouped(uint64_t n)
{
    const std::string digits = std::to_string(n);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

constexpr std::array<const char *, 7> UNITS = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};

// The binary unit in which bytes reads as at least 1 (B below 1 KiB).
size_t unit_of(double bytes)
{
    size_t unit = 0;
    while (unit + 1 < UNITS.size() && bytes >= 1024.0) {
        bytes /= 1024.0;
        ++unit;
    }
    return unit;
}

// bytes in unit: whole bytes as they are, larger units with one decimal.
std::string in_unit(double bytes, size_t unit)
{
    if (unit == 0)
        return std::to_string(static_cast<uint64_t>(bytes));
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", bytes / std::pow(1024.0, static_cast<double>(unit)));
    return text;
}

// A rate: one decimal below 10 of its unit, whole above ("2.1 GiB/s", "610 MiB/s").
std::string rate_text(double per_second)
{
    const size_t unit = unit_of(per_second);
    const double value = per_second / std::pow(1024.0, static_cast<double>(unit));
    char text[48];
    if (unit > 0 && value < 10)
        std::snprintf(text, sizeof text, "%.1f %s/s", value, UNITS[unit]);
    else
        std::snprintf(text, sizeof text, "%.0f %s/s", value, UNITS[unit]);
    return text;
}

// "3 s", "2 min 5 s", "1 h 4 min".
std::string duration_text(double seconds)
{
    const uint64_t s = static_cast<uint64_t>(std::llround(seconds));
    if (s < 60)
        return std::to_string(s) + " s";
    if (s < 3600)
        return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
    return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

void emit(mirlo_progress *p, const std::string &text)
{
    if (!p->broken && !zarn_write_stderr(text))
        p->broken = true;
}

void print_line(mirlo_progress *p)
{
    p->counts.elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - p->started).count();
    const std::string line = mirlo_progress_line(p->counts);
    if (p->flush_report)
        std::fflush(stdout);
    if (p->rewrite) {
        // Blanks over what is left of a longer line before it.
        const size_t before = p->visible ? p->shown_size : 0;
        emit(p, "\r" + line + std::string(before > line.size() ? before - line.size() : 0, ' '));
        p->visible = true;
        p->shown_size = line.size();
    } else {
        emit(p, line + "\n");
    }
    p->printed = true;
    p->printed_work = p->counts.work_done;
    p->printed_bytes = p->counts.bytes_done;
}

} // namespace

std::string mirlo_progress_line(const progress_counts &c)
{
    std::string line = "mirlo: " + grouped(c.pairs_done) + " of " + grouped(c.pairs_listed) + " pairs";
    const double total = static_cast<double>(std::max(c.bytes_known, c.bytes_done));
    const size_t unit = unit_of(total);
    line += ", " + in_unit(static_cast<double>(c.bytes_done), unit) + " of " + in_unit(total, unit) + " " +
            UNITS[unit];
    line += ", " + rate_text(c.elapsed > 0 ? static_cast<double>(c.bytes_done) / c.elapsed : 0);
    if (c.listing_done && c.pairs_listed > 0 && c.work_done > 0) {
        const double share = std::min(1.0, c.work_done / static_cast<double>(c.pairs_listed));
        line += ", " + duration_text(c.elapsed * (1 - share) / share) + " left";
    }
    return line;
}

void mirlo_progress_begin(mirlo_progress *p, double interval, uint64_t file_pairs)
{
    *p = mirlo_progress();
    p->enabled = interval > 0;
    p->interval = interval;
    const bool report_on_terminal = isatty(STDOUT_FILENO) == 1;
    p->rewrite = p->enabled && isatty(STDERR_FILENO) == 1 && !report_on_terminal;
    p->flush_report = p->enabled && report_on_terminal;
    p->listings_left = file_pairs;
    p->counts.listing_done = file_pairs == 0;
    p->started = p->last = std::chrono::steady_clock::now();
}

void mirlo_progress_listed(mirlo_progress *p, uint64_t pairs)
{
    if (p == nullptr)
        return;
    p->counts.pairs_listed += pairs;
    if (p->listings_left > 0 && --p->listings_left == 0)
        p->counts.listing_done = true;
    mirlo_progress_tick(p);
}

void mirlo_progress_known(mirlo_progress *p, uint64_t bytes)
{
    if (p == nullptr)
        return;
    p->counts.bytes_known += bytes;
    mirlo_progress_tick(p);
}

void mirlo_progress_compared(mirlo_progress *p, uint64_t pairs, uint64_t bytes)
{
    if (p == nullptr)
        return;
    p->counts.pairs_done += pairs;
    p->counts.work_done += static_cast<double>(pairs);
    p->counts.bytes_done += bytes;
    p->counts.bytes_known += bytes;
    mirlo_progress_tick(p);
}

void mirlo_progress_piece(mirlo_progress *p, uint64_t bytes, double share)
{
    if (p == nullptr)
        return;
    p->counts.bytes_done += bytes;
    p->counts.work_done += share;
    mirlo_progress_tick(p);
}

void mirlo_progress_split_done(mirlo_progress *p)
{
    if (p == nullptr)
        return;
    ++p->counts.pairs_done;
    mirlo_progress_tick(p);
}

void mirlo_progress_tick(mirlo_progress *p)
{
    if (p == nullptr || !p->enabled || p->broken)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (std::chrono::duration<double>(now - p->last).count() < p->interval)
        return;
    p->last = now;
    print_line(p);
}

void mirlo_progress_finish(mirlo_progress *p)
{
    if (p == nullptr || !p->enabled)
        return;
    // The final counts, unless the last line showed them already.
    if (p->printed && !p->broken &&
        (p->printed_work != p->counts.work_done || p->printed_bytes != p->counts.bytes_done))
        print_line(p);
    if (p->visible)
        emit(p, "\n");
    p->visible = false;
}
