// Progress lines on standard error.
#include "tessel_progress.hpp"

#include "tessel_driver.hpp"
#include "zarn_io.hpp"

#include <unistd.h>


namespace {

// A size in the largest binary unit that divides it: 1 MiB, 1536 KiB, 100 B.
std::string size_text(long long size)
{
    constexpr const char *UNITS[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    size_t unit = 0;
    while (unit + 1 < std::size(UNITS) && size >= 1024 && size % 1024 == 0) {
        size /= 1024;
        ++unit;
    }
    return std::to_string(size) + " " + UNITS[unit];
}

void emit(tessel_progress *p, const std::string &text)
{
    if (!p->broken && !zarn_write_stderr(text))
        p->broken = true;
}

} // namespace

bool tessel_progress_wanted(const bench_options &o)
{
    return o.progress < 0 ? isatty(STDERR_FILENO) == 1 : o.progress == 1;
}

tessel_progress tessel_progress_start(const bench_options &o, int world_size)
{
    tessel_progress p;
    p.total = tessel_measurement_count(o, world_size);
    p.rewrite = isatty(STDERR_FILENO) == 1;
    p.report_on_terminal = o.output == nullptr && isatty(STDOUT_FILENO) == 1;
    return p;
}

std::string tessel_progress_line(int done, int total, const tessel_measurement &m, const bench_options &o)
{
    std::string transfers = size_text(m.transfer_size);
    if (o.dim2d) {
        const std::string block = size_text(m.block_size);
        transfers = o.interleaved ? transfers + " x " + block : block + " x " + transfers;
    }
    return "tessel: " + std::to_string(done) + " of " + std::to_string(total) + ": " + pio_interface_name(m.io) +
           " " + std::to_string(m.procs) + (m.procs == 1 ? " proc " : " procs ") + transfers + " transfers " +
           (m.failed_iterations > 0 ? "failed" : "done");
}

void tessel_progress_step(tessel_progress *p, const tessel_measurement &m, const bench_options &o)
{
    if (p == nullptr)
        return;
    ++p->done;
    const std::string line = tessel_progress_line(p->done, p->total, m, o);
    if (!p->rewrite) {
        emit(p, line + "\n");
    } else {
        // Blanks over what is left of a longer line before it.
        const size_t before = p->visible ? p->line.size() : 0;
        emit(p, "\r" + line + std::string(before > line.size() ? before - line.size() : 0, ' '));
        p->visible = true;
    }
    p->line = line;
}

void tessel_progress_hide(tessel_progress *p)
{
    if (p == nullptr || !p->rewrite || !p->visible)
        return;
    emit(p, "\r" + std::string(p->line.size(), ' ') + "\r");
    p->visible = false;
}

void tessel_progress_show(tessel_progress *p)
{
    if (p == nullptr || !p->rewrite || p->visible || p->line.empty())
        return;
    emit(p, "\r" + p->line);
    p->visible = true;
}

void tessel_progress_finish(tessel_progress *p)
{
    if (p == nullptr || !p->rewrite || !p->visible)
        return;
    emit(p, "\n");
    p->visible = false;
}
