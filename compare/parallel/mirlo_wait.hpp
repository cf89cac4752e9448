// Waiting for the other processes of a multi-process comparison without
// keeping a core busy, and telling when one of them has ended.
//
// This MPI polls inside its blocking calls (probe, receive, wait, barrier),
// so a process that waits in one takes a core from those that work: on a
// machine with as many cores as workers, every waiting rank slows the
// comparison. Every wait here polls with the non-blocking calls and sleeps
// between polls, the sleep growing while nothing comes.
//
// A process killed by a signal never answers. The launcher usually ends the
// whole job then; where it does not, a waiting process notices that its peer
// has ended (on the same host: the process is gone) and ends the run with a
// message naming the rank, instead of waiting for ever.
#pragma once
#include <mpi.h>

#include <cstdint>

// Sleeps between polls that found nothing: a few polls at once, then sleeps
// doubling from 10 microseconds up to one millisecond. While idle for more
// than a second, checks once a second that the peer (a rank, or
// MPI_ANY_SOURCE for every other rank) is still there, and ends the run when
// it is not.
struct mirlo_backoff {
    int peer = MPI_ANY_SOURCE;
    unsigned idle_polls = 0;
    long sleep_ns = 0;
    double idle_since = 0;
    double next_check = 0;

    explicit mirlo_backoff(int peer_rank) : peer(peer_rank) {}
    // After a poll that found nothing to do.
    void pause();
    // After a poll that did something.
    void reset() { idle_polls = 0; }
};

// MPI_Probe that sleeps while it waits.
void mirlo_wait_probe(int source, int tag, MPI_Status *status);
// MPI_Wait that sleeps while it waits; peer is the rank the request
// exchanges with.
void mirlo_wait_request(MPI_Request *request, int peer, MPI_Status *status = MPI_STATUS_IGNORE);
// MPI_Barrier on MPI_COMM_WORLD that sleeps while it waits.
void mirlo_barrier();

// What tells one process from another: its id and start time, and the
// machine (boot) and process-id namespace it lives in.
struct mirlo_process_id {
    int32_t pid;
    uint32_t pad;
    uint64_t start_time; // clock ticks after boot
    char where[112];     // empty when unknown
};
static_assert(sizeof(mirlo_process_id) == 128);

// The calling process.
mirlo_process_id mirlo_this_process();
// True when the process has ended (gone, or a zombie, or its id now names
// another process), as far as this process can tell: one that lives on
// another machine or in another namespace, or whose `where` is unknown, is
// never taken for ended. Async-signal-safe.
bool mirlo_process_ended(const mirlo_process_id &process);

// Learns who the other processes are (collective over MPI_COMM_WORLD, once,
// after MPI_Init). Without it no process is ever taken for ended.
void mirlo_peers_exchange();
// The lowest rank among those asked for (one rank, or MPI_ANY_SOURCE for all
// the others) whose process is known to have ended, or -1. Safe in a signal
// handler.
int mirlo_ended_peer(int rank);
// How many processes of the job run on this machine (1 before the exchange).
int mirlo_processes_on_this_host();
// Ends the run with a message naming a peer that has ended, if one has.
void mirlo_check_peers(int rank);
