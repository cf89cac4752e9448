// Phase timers: accumulated kinds and the file open and close times derived
// from the order of starts and stops.
#include "tessel_test_support.hpp"

#include <initializer_list>

namespace {

// A zeroed set on the stack.
struct timer_guard {
    pio_timer_set timers;
    pio_timer_set *set;
    explicit timer_guard(int clock) : timers(tessel_test::fresh_timers(clock)), set(&timers) {}
    timer_guard(const timer_guard &) = delete;
};

void at(pio_timer_set *t, int kind, int flag, double when)
{
    pio_timer_set_time_at(t, kind, flag, when, when);
}

// One file's write phase as the engine runs it: open-close start, open,
// phase start, two datasets of raw transfers, phase stop, close,
// open-close stop.
void write_file(pio_timer_set *t, double t0)
{
    at(t, T_WRITE_OPEN_CLOSE, PIO_START, t0);
    at(t, T_WRITE, PIO_START, t0 + 2.0);      // 2 s to open
    at(t, T_RAW_WRITE, PIO_START, t0 + 2.5);
    at(t, T_RAW_WRITE, PIO_STOP, t0 + 3.5);   // 1 s of transfers
    at(t, T_RAW_WRITE, PIO_START, t0 + 4.0);
    at(t, T_RAW_WRITE, PIO_STOP, t0 + 4.25);  // 0.25 s
    at(t, T_WRITE, PIO_STOP, t0 + 5.0);       // 3 s writing
    at(t, T_WRITE_OPEN_CLOSE, PIO_STOP, t0 + 5.5); // 0.5 s to close
}

TEST(PioTimer, DerivesOpenAndCloseFromTheOrderOfPhases)
{
    timer_guard g{PIO_MPI_CLOCK};
    pio_timer_set *t = g.set;
    write_file(t, 100.0);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_WRITE_FILE_OPEN), 2.0);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_WRITE), 3.0);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_WRITE_FILE_CLOSE), 0.5);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_WRITE_OPEN_CLOSE), 5.5);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_RAW_WRITE), 1.25);
}

TEST(PioTimer, KindsAccumulateOverFiles)
{
    timer_guard g{PIO_MPI_CLOCK};
    pio_timer_set *t = g.set;
    write_file(t, 100.0);
    write_file(t, 200.0);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_WRITE_FILE_OPEN), 4.0);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_WRITE_FILE_CLOSE), 1.0);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_WRITE_OPEN_CLOSE), 11.0);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_RAW_WRITE), 2.5);
}

TEST(PioTimer, ReadKindsDeriveTheirOwnOpenAndClose)
{
    timer_guard g{PIO_MPI_CLOCK};
    pio_timer_set *t = g.set;
    write_file(t, 0.0);
    at(t, T_READ_OPEN_CLOSE, PIO_START, 10.0);
    at(t, T_READ, PIO_START, 10.75);
    at(t, T_READ, PIO_STOP, 12.0);
    at(t, T_READ_OPEN_CLOSE, PIO_STOP, 12.125);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_READ_FILE_OPEN), 0.75);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_READ_FILE_CLOSE), 0.125);
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_READ), 1.25);
    // The write kinds are untouched by the read phase.
    EXPECT_DOUBLE_EQ(pio_timer_get_time(t, T_WRITE_FILE_OPEN), 2.0);
}

TEST(PioTimer, AWriteOnlyRunLeavesReadKindsAtZero)
{
    timer_guard g{PIO_MPI_CLOCK};
    write_file(g.set, 0.0);
    for (int kind : std::initializer_list<int>{T_MPI_WRITE, T_MPI_READ, T_READ, T_READ_OPEN_CLOSE, T_READ_FILE_OPEN, T_READ_FILE_CLOSE,
                     T_RAW_READ, 0, 1})
        EXPECT_EQ(pio_timer_get_time(g.set, kind), 0.0) << kind;
    EXPECT_EQ(pio_timer_get_time(g.set, -1), 0.0);
    EXPECT_EQ(pio_timer_get_time(g.set, PIO_NUM_TIMERS), 0.0);
}

TEST(PioTimer, RealClocksKeepThePhaseInsideItsOpenClose)
{
    for (int clock : {PIO_MPI_CLOCK, PIO_TIME_OF_DAY}) {
        timer_guard g{clock};
        pio_timer_set *t = g.set;
        pio_timer_set_time(t, T_WRITE_OPEN_CLOSE, PIO_START);
        pio_timer_set_time(t, T_WRITE, PIO_START);
        pio_timer_set_time(t, T_RAW_WRITE, PIO_START);
        volatile double sink = 0;
        for (int i = 0; i < 100000; ++i)
            sink = sink + i;
        pio_timer_set_time(t, T_RAW_WRITE, PIO_STOP);
        pio_timer_set_time(t, T_WRITE, PIO_STOP);
        pio_timer_set_time(t, T_WRITE_OPEN_CLOSE, PIO_STOP);
        const double oc = pio_timer_get_time(t, T_WRITE_OPEN_CLOSE);
        const double parts = pio_timer_get_time(t, T_WRITE) + pio_timer_get_time(t, T_WRITE_FILE_OPEN) +
                             pio_timer_get_time(t, T_WRITE_FILE_CLOSE);
        EXPECT_GE(oc + 1e-5, parts) << clock;
        EXPECT_LE(pio_timer_get_time(t, T_RAW_WRITE), pio_timer_get_time(t, T_WRITE) + 1e-6) << clock;
        EXPECT_GT(pio_timer_get_time(t, T_RAW_WRITE), 0.0) << clock;
    }
}

TEST(PioTimer, AnUnknownClockChangesNothing)
{
    timer_guard g{7};
    testing::internal::CaptureStderr();
    pio_timer_set_time(g.set, T_WRITE, PIO_START);
    pio_timer_set_time(g.set, T_WRITE, PIO_STOP);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unknown time clock type (7)\nUnknown time clock type (7)\n");
    EXPECT_EQ(pio_timer_get_time(g.set, T_WRITE), 0.0);
}

} // namespace
