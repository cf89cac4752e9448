// Phase timers of one engine run. Besides the measured kinds, a set derives
// the time spent opening and closing files from the order in which the
// phases start and stop: open-close start, phase start, phase stop,
// open-close stop.
#pragma once
#include <cstdint>

enum pio_timer_kind : int {
    T_MPI_WRITE = 2, // never set by the engine, reported as zero
    T_MPI_READ = 3,  // never set by the engine, reported as zero
    T_READ_FILE_OPEN = 4,
    T_READ_FILE_CLOSE = 5,
    T_WRITE_FILE_OPEN = 6,
    T_WRITE_FILE_CLOSE = 7,
    T_WRITE = 8,
    T_READ = 9,
    T_WRITE_OPEN_CLOSE = 10,
    T_READ_OPEN_CLOSE = 11,
    T_RAW_WRITE = 12,
    T_RAW_READ = 13,
};
constexpr int PIO_NUM_TIMERS = 14;

enum pio_clock_kind : int { PIO_TIME_OF_DAY = 0, PIO_MPI_CLOCK = 1 };
enum pio_timer_flag : int { PIO_START = 0, PIO_STOP = 1 };

struct pio_timeval {
    int64_t sec;
    int64_t usec;
};

// One run's timers; value-initialise it ({}) and set the clock.
struct pio_timer_set {
    int clock;
    double totals[PIO_NUM_TIMERS];
    double starts[PIO_NUM_TIMERS];
    pio_timeval tod_starts[PIO_NUM_TIMERS];
};

// Starts or stops kind on the set's clock; returns the set.
pio_timer_set *pio_timer_set_time(pio_timer_set *set, int kind, int flag);

// The same with the clock readings given by the caller: now is the reading
// of a start, or of a stop, and restart the fresh reading kept after a stop.
pio_timer_set *pio_timer_set_time_at(pio_timer_set *set, int kind, int flag, double now, double restart);

// Accumulated seconds of kind; 0 for a kind never measured.
double pio_timer_get_time(const pio_timer_set *set, int kind);
