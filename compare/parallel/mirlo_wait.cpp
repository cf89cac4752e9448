// Sleeping waits on MPI requests and messages, and the liveness of the other
// processes of the job.
#include "mirlo_wait.hpp"
#include "mirlo_parallel.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned POLLS_BEFORE_SLEEP = 10;
constexpr long FIRST_SLEEP_NS = 10000;
constexpr long LONGEST_SLEEP_NS = 1000000;
// Idle time before peers are checked, and between checks.
constexpr double CHECK_AFTER_SECONDS = 1.0;

std::vector<mirlo_process_id> peers; // by rank, once exchanged
int my_rank = -1;
mirlo_process_id me{}; // this process, once me_known
bool me_known = false;

// Reads up to size-1 bytes of a small file, terminated; the length or -1.
// Async-signal-safe.
long read_small_file(const char *path, char *buf, size_t size)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t used = 0;
    while (used + 1 < size) {
        const ssize_t n = read(fd, buf + used, size - 1 - used);
        if (n <= 0)
            break;
        used += static_cast<size_t>(n);
    }
    close(fd);
    buf[used] = '\0';
    return static_cast<long>(used);
}

// "/proc/<pid>/stat" into buf; async-signal-safe.
void stat_path(int32_t pid, char *buf)
{
    char digits[16];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + pid % 10);
        pid /= 10;
    } while (pid > 0 && n < 15);
    std::memcpy(buf, "/proc/", 6);
    int at = 6;
    while (n > 0)
        buf[at++] = digits[--n];
    std::memcpy(buf + at, "/stat", 6);
}

// The state letter and start time of a process from /proc; false when the
// process does not exist. Async-signal-safe.
bool read_process(int32_t pid, char *state, uint64_t *start_time)
{
    char path[32];
    stat_path(pid, path);
    char text[1024];
    if (read_small_file(path, text, sizeof text) <= 0)
        return false;
    // "pid (name) S ppid ...": the name may hold anything, so fields are
    // counted from its closing parenthesis; the start time is field 22.
    const char *p = std::strrchr(text, ')');
    if (p == nullptr)
        return false;
    int field = 2;
    *start_time = 0;
    for (++p; *p != '\0'; ++p) {
        if (*p == ' ') {
            ++field;
            continue;
        }
        if (field == 3)
            *state = *p;
        if (field == 22 && *p >= '0' && *p <= '9')
            *start_time = *start_time * 10 + static_cast<uint64_t>(*p - '0');
    }
    return true;
}

// For the fatal-signal handler: "process N of the job ended" when one has.
// Async-signal-safe.
unsigned ended_peer_cause(char *buf, unsigned size)
{
    const int rank = mirlo_ended_peer(MPI_ANY_SOURCE);
    constexpr char head[] = "process ";
    constexpr char tail[] = " of the job ended";
    if (rank < 0 || size < sizeof head + sizeof tail + 12)
        return 0;
    unsigned len = 0;
    for (const char *p = head; *p; ++p)
        buf[len++] = *p;
    char digits[12];
    int n = 0;
    for (int r = rank; n == 0 || r > 0; r /= 10)
        digits[n++] = static_cast<char>('0' + r % 10);
    while (n > 0)
        buf[len++] = digits[--n];
    for (const char *p = tail; *p; ++p)
        buf[len++] = *p;
    buf[len] = '\0';
    return len;
}

void sleep_ns(long ns)
{
    timespec ts{0, ns};
    nanosleep(&ts, nullptr);
}

} // namespace

mirlo_process_id mirlo_this_process()
{
    mirlo_process_id id{};
    id.pid = static_cast<int32_t>(getpid());
    char state = 0;
    char boot[64] = "";
    char ns[48] = "";
    const ssize_t ns_len = readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
    if (!read_process(id.pid, &state, &id.start_time) ||
        read_small_file("/proc/sys/kernel/random/boot_id", boot, sizeof boot) <= 0 || ns_len <= 0)
        return id; // nothing to compare with: never taken for ended
    ns[ns_len] = '\0';
    std::snprintf(id.where, sizeof id.where, "%.40s %.40s", boot, ns);
    return id;
}

bool mirlo_process_ended(const mirlo_process_id &process)
{
    if (!me_known) {
        me = mirlo_this_process();
        me_known = true;
    }
    if (me.where[0] == '\0' || std::strncmp(process.where, me.where, sizeof me.where) != 0)
        return false;
    char state = 0;
    uint64_t start = 0;
    if (!read_process(process.pid, &state, &start))
        return true;
    // A zombie has ended; a new process under the same id is another one.
    return state == 'Z' || state == 'X' || start != process.start_time;
}

void mirlo_backoff::pause()
{
    if (idle_polls == 0) {
        sleep_ns = FIRST_SLEEP_NS;
        idle_since = MPI_Wtime();
        next_check = idle_since + CHECK_AFTER_SECONDS;
    }
    if (++idle_polls <= POLLS_BEFORE_SLEEP)
        return;
    ::sleep_ns(sleep_ns);
    sleep_ns = std::min(sleep_ns * 2, LONGEST_SLEEP_NS);
    if ((idle_polls & 63) == 0) {
        const double now = MPI_Wtime();
        if (now >= next_check) {
            mirlo_check_peers(peer);
            next_check = now + CHECK_AFTER_SECONDS;
        }
    }
}

void mirlo_wait_probe(int source, int tag, MPI_Status *status)
{
    mirlo_backoff backoff(source);
    for (;;) {
        int found = 0;
        MPI_Iprobe(source, tag, MPI_COMM_WORLD, &found, status);
        if (found)
            return;
        backoff.pause();
    }
}

void mirlo_wait_request(MPI_Request *request, int peer, MPI_Status *status)
{
    mirlo_backoff backoff(peer);
    for (;;) {
        int done = 0;
        MPI_Test(request, &done, status);
        if (done)
            return;
        backoff.pause();
    }
}

void mirlo_barrier()
{
    MPI_Request request;
    MPI_Ibarrier(MPI_COMM_WORLD, &request);
    mirlo_wait_request(&request, MPI_ANY_SOURCE);
}

void mirlo_peers_exchange()
{
    int size = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &my_rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    me = mirlo_this_process();
    me_known = true;
    peers.assign(static_cast<size_t>(size), mirlo_process_id{});
    MPI_Allgather(&me, sizeof me, MPI_BYTE, peers.data(), sizeof me, MPI_BYTE, MPI_COMM_WORLD);
    zarn_fatal_set_cause(ended_peer_cause);
}

int mirlo_ended_peer(int rank)
{
    if (peers.empty() || my_rank < 0)
        return -1;
    for (size_t r = 0; r < peers.size(); ++r) {
        if (static_cast<int>(r) == my_rank || (rank != MPI_ANY_SOURCE && static_cast<int>(r) != rank))
            continue;
        if (mirlo_process_ended(peers[r]))
            return static_cast<int>(r);
    }
    return -1;
}

int mirlo_processes_on_this_host()
{
    int n = 0;
    for (const mirlo_process_id &p : peers)
        if (me.where[0] != '\0' && std::strncmp(p.where, me.where, sizeof me.where) == 0)
            ++n;
    return std::max(n, 1);
}

void mirlo_check_peers(int rank)
{
    const int ended = mirlo_ended_peer(rank);
    if (ended < 0)
        return;
    zarn_error_msg("process %d of the job ended before the comparison was complete\n", ended);
    mirlo_abort_run();
}
