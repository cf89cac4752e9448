// Phase timers with derived file open and close times.
#include "pio_timer.hpp"

#include <mpi.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool valid_kind(int kind)
{
    return kind >= 0 && kind < PIO_NUM_TIMERS;
}

double time_of_day()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1000000.0;
}

void remember_time_of_day(pio_timer_set *set, int kind)
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    set->tod_starts[kind] = pio_timeval{tv.tv_sec, tv.tv_usec};
}

double tod_seconds(const pio_timeval &tv)
{
    return static_cast<double>(tv.sec) + static_cast<double>(tv.usec) / 1000000.0;
}

} // namespace

pio_timer_set *pio_timer_set_time_at(pio_timer_set *set, int kind, int flag, double now, double restart)
{
    if (set == nullptr || !valid_kind(kind))
        return set;
    double *starts = set->starts;
    double *totals = set->totals;
    if (flag == PIO_START) {
        starts[kind] = now;
        // The phase starts when its file is open: the time since the
        // open-close start was spent opening.
        if (kind == T_READ)
            totals[T_READ_FILE_OPEN] += starts[T_READ] - starts[T_READ_OPEN_CLOSE];
        else if (kind == T_WRITE)
            totals[T_WRITE_FILE_OPEN] += starts[T_WRITE] - starts[T_WRITE_OPEN_CLOSE];
    } else {
        totals[kind] += now - starts[kind];
        starts[kind] = restart;
        // A stopped kind keeps its stop time: the time since the phase
        // stopped was spent closing.
        if (kind == T_READ_OPEN_CLOSE)
            totals[T_READ_FILE_CLOSE] += starts[T_READ_OPEN_CLOSE] - starts[T_READ];
        else if (kind == T_WRITE_OPEN_CLOSE)
            totals[T_WRITE_FILE_CLOSE] += starts[T_WRITE_OPEN_CLOSE] - starts[T_WRITE];
    }
    return set;
}

pio_timer_set *pio_timer_set_time(pio_timer_set *set, int kind, int flag)
{
    if (set == nullptr)
        return set;
    switch (set->clock) {
    case PIO_MPI_CLOCK:
        if (flag == PIO_START)
            return pio_timer_set_time_at(set, kind, flag, MPI_Wtime(), 0.0);
        else {
            double now = MPI_Wtime();
            return pio_timer_set_time_at(set, kind, flag, now, MPI_Wtime());
        }
    case PIO_TIME_OF_DAY:
        if (!valid_kind(kind))
            return set;
        // The time-of-day clock keeps its readings as seconds and
        // microseconds; the derived kinds follow the same rules.
        if (flag == PIO_START) {
            remember_time_of_day(set, kind);
            pio_timer_set_time_at(set, kind, flag, tod_seconds(set->tod_starts[kind]), 0.0);
        } else {
            double now = time_of_day();
            remember_time_of_day(set, kind);
            pio_timer_set_time_at(set, kind, flag, now, tod_seconds(set->tod_starts[kind]));
        }
        return set;
    default:
        fprintf(stderr, "Unknown time clock type (%d)\n", set->clock);
        return set;
    }
}

double pio_timer_get_time(const pio_timer_set *set, int kind)
{
    if (set == nullptr || !valid_kind(kind))
        return 0.0;
    return set->totals[kind];
}
