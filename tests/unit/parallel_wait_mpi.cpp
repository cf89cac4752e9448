// Waiting for the other processes of a multi-process comparison: a waiting
// rank sleeps instead of keeping a core busy, and a process that has ended is
// told from one that is only slow.
#include "mirlo_wait.hpp"

#include <gtest/gtest.h>
#include <mpi.h>

#include <cstring>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int world_rank()
{
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    return rank;
}

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void sleep_seconds(double s)
{
    timespec ts{0, static_cast<long>(s * 1e9)};
    nanosleep(&ts, nullptr);
}

// Rank 1 waits `wait` for what rank 0 does after sleeping 0.4 s; the CPU time
// rank 1 spent waiting, against the time it waited.
template <typename Wait, typename Act> double cpu_share_of_waiting(Wait wait, Act act)
{
    MPI_Barrier(MPI_COMM_WORLD);
    double share = 0;
    if (world_rank() == 0) {
        sleep_seconds(0.4);
        act();
    } else if (world_rank() == 1) {
        const double wall = MPI_Wtime();
        const double cpu = cpu_seconds();
        wait();
        share = (cpu_seconds() - cpu) / (MPI_Wtime() - wall);
    } else {
        wait();
    }
    MPI_Barrier(MPI_COMM_WORLD);
    return share;
}

// A busy wait takes the whole of a core (a quarter of one still with five
// processes per core); a loaded machine only lowers the share, so the bound
// never fails a sleeping wait (about 1% here).
TEST(Waiting, WaitingRanksLeaveTheCoreFree)
{
    const double probe = cpu_share_of_waiting(
        [] {
            if (world_rank() != 1)
                return;
            MPI_Status st;
            mirlo_wait_probe(0, 5, &st);
            MPI_Recv(nullptr, 0, MPI_BYTE, 0, 5, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        },
        [] { MPI_Send(nullptr, 0, MPI_BYTE, 1, 5, MPI_COMM_WORLD); });
    const double barrier = cpu_share_of_waiting([] { mirlo_barrier(); }, [] { mirlo_barrier(); });
    if (world_rank() == 1) {
        EXPECT_LT(probe, 0.1) << "probe";
        EXPECT_LT(barrier, 0.1) << "barrier";
    }
}

TEST(Waiting, NoLivingPeerIsTakenForEnded)
{
    mirlo_peers_exchange();
    int size = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    EXPECT_EQ(mirlo_ended_peer(MPI_ANY_SOURCE), -1);
    for (int r = 0; r < size; ++r)
        EXPECT_EQ(mirlo_ended_peer(r), -1) << "rank " << r;
}

// A child that reports its identity through a pipe and exits when told.
struct child {
    pid_t pid = -1;
    mirlo_process_id id{};
    int go = -1;

    child()
    {
        int report[2], release[2];
        if (pipe(report) != 0 || pipe(release) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            close(report[0]);
            close(release[1]);
            const mirlo_process_id me = mirlo_this_process();
            ssize_t ignored = write(report[1], &me, sizeof me);
            char c;
            ignored = read(release[0], &c, 1);
            (void)ignored;
            _exit(0);
        }
        close(report[1]);
        close(release[0]);
        go = release[1];
        if (read(report[0], &id, sizeof id) != static_cast<ssize_t>(sizeof id))
            pid = -1;
        close(report[0]);
    }
    // Lets the child exit; with reap, waits for it.
    void end(bool reap)
    {
        close(go);
        if (reap) {
            waitpid(pid, nullptr, 0);
        } else {
            // Exited but not waited for: a zombie.
            siginfo_t info;
            waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
        }
    }
};

TEST(ProcessLiveness, EndedProcessesAreToldFromLivingOnesAndStrangersAreNeverJudged)
{
    if (world_rank() != 0)
        return;
    ASSERT_NE(mirlo_this_process().where[0], '\0') << "no process information in /proc";
    const struct {
        const char *state;
        bool end, reap, stranger;
        bool ended;
    } cases[] = {
        {"running", false, false, false, false},
        {"zombie", true, false, false, true},
        {"gone", true, true, false, true},
        {"gone, on another machine", true, true, true, false},
    };
    for (const auto &c : cases) {
        child k;
        ASSERT_GT(k.pid, 0);
        if (c.end)
            k.end(c.reap);
        mirlo_process_id id = k.id;
        if (c.stranger)
            std::strcpy(id.where, "another boot");
        EXPECT_EQ(mirlo_process_ended(id), c.ended) << c.state;
        if (!c.end)
            k.end(true);
        else if (!c.reap)
            waitpid(k.pid, nullptr, 0);
    }
    // The same id under a new start time names another process.
    mirlo_process_id me = mirlo_this_process();
    EXPECT_FALSE(mirlo_process_ended(me));
    me.start_time += 1;
    EXPECT_TRUE(mirlo_process_ended(me));
}

} // namespace
