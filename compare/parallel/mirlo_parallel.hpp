// Messages between the manager (rank 0) and the workers of a multi-process
// comparison, and the manager's side of the exchange.
//
// The protocol
// ------------
// Every message travels over MPI_COMM_WORLD between rank 0 and one worker.
// MPI keeps the messages of one sender to one receiver in order when the
// receiver matches them with MPI_ANY_TAG, which both sides always do, so each
// side sees the other's messages in the order they were sent.
//
//   TAG_SETUP    manager -> worker, once per file pair: both file names and
//                the paths the comparison starts from (each as a length and
//                its bytes, any length), then the settings
//                (settings_to_bytes), which the worker keeps read-only from
//                then on. A job of many file pairs sends the next setup only
//                once every task of the pair before has been answered. The
//                worker opens both files (a file it cannot open fails every
//                task of the pair, named once on standard error) and, until the first batch arrives (the manager
//                lists the files meanwhile), reads the object headers below
//                the start paths so that the objects of its pairs open from
//                its metadata cache; the first message ends that reading.
//                Where the job's processes on the machine outnumber its
//                cores, the workers leave that reading out: it would take
//                the manager's core.
//   TAG_WORK     manager -> worker: a batch of tasks, each a task_record
//                followed by its two object paths. A task is a whole pair, a
//                piece of a dataset pair (a range of its strips) or the
//                attributes of a split dataset pair. What the manager
//                resolved for the pair while it listed the files (whether
//                --exclude-attribute excludes its attributes) travels in
//                the task, so a worker needs nothing but the settings and
//                the task to compare it as one process would.
//   TAG_OUTPUT   worker -> manager: an output_header naming a task, then up
//                to about MIRLO_OUTPUT_MESSAGE bytes of its output. A task
//                whose output outgrows MIRLO_INLINE_OUTPUT sends it in such
//                messages while it runs (and the rest when it ends), before
//                its answer.
//   TAG_RESULT   worker -> manager: the answers to one or more tasks, each a
//                result_record followed by the task's output when it is small
//                and nothing of it was sent ahead, then, with --json or
//                --statistics, the task's record (the pair's, a piece's or
//                the attributes' record, as record_to_bytes makes it). The
//                answer also counts the bytes of data and the pairs the task
//                compared: the manager's progress lines are made of them.
//   TAG_STOP     manager -> worker: empty; the worker leaves its loop.
//
// Many small file pairs. A job of many file pairs hands out each small file
// pair (both files below MIRLO_WHOLE_FILE_PAIR_BYTES) as one task of its
// own, the names in the task being the two file names: the worker compares
// the two files whole, as one process does, and answers with the pair's
// report and outcome (with --json, the pair's JSON document in the record's
// place). The setup of such a run names no files. So the
// workers compare different file pairs at once, each opening only the files
// of its own tasks; a larger file pair has its objects handed out as for two
// files.
//
// No process ever blocks in a send. Every message is sent with MPI_Isend
// and its bytes are kept until it has left; a process that must wait (for a
// message, for its sends to leave, at the final barrier) polls with the
// non-blocking calls and keeps taking what arrives. The manager receives
// every message as soon as it is announced (a matched probe and a
// non-blocking receive) and acts on each worker's messages in the order sent,
// while its batches are on their way; a worker keeps accepting batches while
// its answers and outputs are on their way. So a message above the MPI
// library's eager limit, which waits for its receiver, never waits for a
// receiver that is itself waiting for its sender. A worker keeps at most
// MIRLO_OUTPUT_IN_FLIGHT output messages on the way and waits (taking
// batches meanwhile) for one to arrive before it sends another: its memory
// stays bounded, and it never writes to the disk.
//
// Who waits for whom. A worker queues every batch it receives and works
// through its queue in order, answering each batch as it finishes it (or
// sooner, when the answers collected grow large or a task sends output
// ahead); it waits only when its queue is empty. The manager keeps up to two
// batches outstanding at each worker while tasks are short (one when they
// are long), so a worker finds its next batch waiting when it finishes one;
// batches hold as many pairs as take about MIRLO_BATCH_SECONDS by the times
// workers report. Waiting processes sleep between polls (mirlo_wait.hpp),
// leaving the cores to those that work.
//
// Why the output is the one-process output. Every pair has a sequence
// number, its place in the match order. Workers print nothing: the text a
// task prints is collected and sent with its answer. The manager prints the
// outputs strictly in sequence order (mirlo_ordered_output): an output that
// arrives before its predecessors waits, in memory up to a bound and beyond
// it in a temporary file, and is printed as soon as everything before it has
// been. The manager's own lines (object lists, warnings) are printed by the
// manager itself before the first pair and after the last, where the
// one-process run prints them.
//
// One large dataset pair. A pair task may answer "split" with the number of
// strips its data comparison would read, instead of comparing. The manager
// then hands out pieces (ranges of whole strips) and the pair's attributes as
// separate tasks (whatever the split request had sent ahead is discarded);
// the first piece prints the pair's opening lines, every piece
// prints the rows of its strips, the manager prints the count line from the
// sum of the pieces (what the one-process run prints after its last strip),
// then the attributes' output follows. A failed piece ends the pair as the
// one-process run's failed strip does: the pieces after it are dropped.
//
// Records. With --json or --statistics every answer carries its task's record
// and the manager keeps the pairs' records in pair order, so the JSON report
// is the one-process report whatever the process count. A pair compared in
// pieces gets one record from them: the split request's record (names, kind),
// the pieces' statistics merged in piece order up to a failed piece (counts
// add, maxima merge keeping the earlier position of an equal value, first
// differences follow in order up to the cap), and the attributes' records. The
// manager prints the --statistics line of such a pair after its count line,
// with the function the one-process run uses.
#pragma once
#include "mirlo_context.hpp"
#include "mirlo_settings.hpp"

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <type_traits>
#include <vector>

// Message tags, all over MPI_COMM_WORLD.
enum mirlo_tag : int {
    TAG_WORK = 1,     // manager -> worker: a batch of tasks
    TAG_RESULT = 4,   // worker -> manager: answers
    TAG_OUTPUT = 6,   // worker -> manager: output of a task, ahead of its answer
    TAG_STOP = 7,     // manager -> worker: empty, leave the worker loop
    TAG_SETUP = 8,    // manager -> worker: file names and settings, once
};

// MPI_Abort code of every run that must end at once.
constexpr int MIRLO_ABORT_CODE = 2;
// Outputs up to this size travel inside the answer; larger ones go ahead of
// it in TAG_OUTPUT messages.
constexpr size_t MIRLO_INLINE_OUTPUT = 64 * 1024;
// A worker sends the output it holds once it reaches this size.
constexpr size_t MIRLO_OUTPUT_MESSAGE = 1024 * 1024;
// TAG_OUTPUT messages a worker has on their way at most.
constexpr size_t MIRLO_OUTPUT_IN_FLIGHT = 4;
// A worker sends the answers it has collected once they hold this much.
constexpr size_t MIRLO_ANSWER_FLUSH = 256 * 1024;
// Work time a batch of short pairs is sized for.
constexpr double MIRLO_BATCH_SECONDS = 0.004;
// A file pair of a job is compared whole by one worker when both files are
// smaller than this.
constexpr uint64_t MIRLO_WHOLE_FILE_PAIR_BYTES = 32ull << 20;
// Largest number of pairs in one batch.
constexpr unsigned MIRLO_BATCH_MAX = 64;

enum mirlo_task_kind : int32_t {
    TASK_PAIR = 0,       // compare the pair as diff does
    TASK_PIECE = 1,      // compare strips [strip_begin, strip_end) of a dataset pair's data
    TASK_ATTRIBUTES = 2, // compare the attributes of a dataset pair
    TASK_FILE_PAIR = 3,  // compare two files whole (names are file names), as a job of many file pairs does
};

// One task of a TAG_WORK batch; the two paths follow it, name1_size and
// name2_size bytes, without terminators.
struct task_record {
    uint64_t seq;          // the pair's place in the match order
    int32_t kind;          // mirlo_task_kind
    uint32_t piece;        // piece number (TASK_PIECE)
    uint64_t strip_begin;  // TASK_PIECE: first strip
    uint64_t strip_end;    // TASK_PIECE: one past the last strip
    object_pair_info pair; // the pair's kinds and same-object flag
    uint8_t may_split;     // TASK_PAIR: a large dataset pair may answer with its strip count
    uint8_t flags;         // TASK_FLAG_* bits: the pair's rule as the manager resolved it
    uint16_t file_pair;    // the file pair the task belongs to (0 while a job compares one)
    uint32_t name1_size;
    uint32_t name2_size;
    // Bytes at the start of name1 that are the compared root's path: the
    // rest is the path the rules file's patterns match.
    uint32_t rules_root_size;
    uint32_t reserved;
};
static_assert(sizeof(object_pair_info) == 12);
static_assert(std::is_trivially_copyable_v<task_record>);
static_assert(sizeof(task_record) == 64);
static_assert(offsetof(task_record, pair) == 32);
static_assert(offsetof(task_record, flags) == 45);
static_assert(offsetof(task_record, name1_size) == 48);
static_assert(offsetof(task_record, rules_root_size) == 56);

// Bits of task_record::flags.
constexpr uint8_t TASK_FLAG_ATTRIBUTES_EXCLUDED = 1; // --exclude-attribute excludes the pair's attributes

// One answer of a TAG_RESULT message; output_inline bytes of output follow
// it, then record_size bytes of the task's record; output_streamed bytes of
// the task's output went ahead of it in TAG_OUTPUT messages.
struct result_record {
    uint64_t seq;
    int32_t kind;
    uint32_t piece;
    uint64_t nfound;
    uint64_t split_strips;    // TASK_PAIR: non-zero when the pair asks to be split
    uint64_t output_inline;
    uint64_t output_streamed;
    double seconds;           // time the task took
    uint8_t not_comparable;
    uint8_t error_status;     // the task's error_status (0..3)
    uint8_t contents_equal;
    uint8_t unused;           // zero
    uint8_t failed;           // TASK_PIECE: the data comparison stopped on a failure
    uint8_t attributes_follow; // TASK_ATTRIBUTES: the attributes could be listed (or are excluded)
    uint8_t pad[2];
    uint64_t record_size;     // bytes of the task's record after the inline output; 0 for none
    // For progress: bytes of dataset values the task compared (a split
    // request: the bytes its pieces will compare), and the pairs it
    // compared (a whole file pair: every pair of its two files).
    uint64_t data_bytes;
    uint32_t pairs;
    uint32_t reserved;        // zero
};
static_assert(std::is_trivially_copyable_v<result_record>);
static_assert(sizeof(result_record) == 88);
static_assert(offsetof(result_record, not_comparable) == 56);
static_assert(offsetof(result_record, attributes_follow) == 61);
static_assert(offsetof(result_record, record_size) == 64);
static_assert(offsetof(result_record, data_bytes) == 72);
static_assert(offsetof(result_record, pairs) == 80);

// The header of a TAG_OUTPUT message: the task whose output follows.
struct output_header {
    uint64_t seq;
    int32_t kind;   // mirlo_task_kind
    uint32_t piece; // TASK_PIECE: the piece
};
static_assert(std::is_trivially_copyable_v<output_header>);
static_assert(sizeof(output_header) == 16);

// Ends the whole job with status MIRLO_ABORT_CODE, after the messages
// printed so far have had time to reach the launcher.
[[noreturn]] void mirlo_abort_run();

// Messages sent with MPI_Isend: each keeps its bytes until it has left.
struct mirlo_outbox {
    struct message {
        MPI_Request request = MPI_REQUEST_NULL;
        std::vector<unsigned char> bytes;
    };
    std::list<message> pending;

    mirlo_outbox() = default;
    mirlo_outbox(const mirlo_outbox &) = delete;
    mirlo_outbox &operator=(const mirlo_outbox &) = delete;
};
// Starts sending bytes to dest with tag; returns at once.
void mirlo_post(mirlo_outbox *box, int dest, int tag, std::vector<unsigned char> bytes);
// Forgets the messages that have left; true when one did.
bool mirlo_outbox_progress(mirlo_outbox *box);

// The processes of a run as the manager sees them: how many there are, and
// whether the workers have been told to stop.
struct mirlo_crew {
    int size = 1;         // with more than one, rank 0 hands the pairs to the others
    bool stopped = false; // TAG_STOP has gone to every worker
    // A job of many file pairs: the workers stay for the next pair, each
    // pair's comparison sending its own setup; the job stops them at its end.
    bool more_file_pairs = false;
    // The manager's estimate of one pair's time, carried from one file pair
    // to the next so that batches start at their right size.
    double task_seconds = 0;
    bool have_estimate = false;
    bool parallel() const { return size > 1; }
};

// Sends TAG_STOP to every worker of the crew, once (later calls do nothing,
// so every way out may call it), and waits until each has taken it. While
// more file pairs follow, the workers are left running.
void stop_workers(mirlo_crew *crew);

// Manager: sends both file names, the start paths and the settings to every
// worker, and waits until each has taken them (the workers wait for nothing
// else then).
void mirlo_send_setup(const mirlo_crew *crew, const char *file1, const char *file2, const char *start1,
                      const char *start2, const mirlo_settings &settings);

// --- byte strings of the messages ------------------------------------------

// The setup message: both file names, the start paths and the settings.
std::vector<unsigned char> mirlo_pack_setup(const char *file1, const char *file2, const char *start1,
                                            const char *start2, const mirlo_settings &settings);
struct mirlo_setup {
    std::string file1, file2;
    std::string start1, start2; // the paths the comparison starts from
    mirlo_settings settings;
};
// Returns 0, or -1 when the bytes are malformed.
int mirlo_unpack_setup(const unsigned char *bytes, size_t size, mirlo_setup *setup);

// One task as it travels.
struct mirlo_task {
    task_record record{};
    std::string name1, name2;
};
void mirlo_pack_task(const mirlo_task &task, std::vector<unsigned char> *out);
// Splits a TAG_WORK message into its tasks. Returns 0, or -1 when malformed.
int mirlo_unpack_tasks(const unsigned char *bytes, size_t size, std::vector<mirlo_task> *tasks);

// Appends one answer with its inline output (record.output_inline bytes) and
// its task's record (record.record_size bytes).
void mirlo_pack_result(const result_record &record, const char *output, const char *task_record,
                       std::vector<unsigned char> *out);
// One answer as received: the record and where its inline output and its
// task's record lie in the message.
struct mirlo_result_view {
    result_record record;
    const char *output;
    const char *task_record;
};
// Splits a TAG_RESULT message. Returns 0, or -1 when malformed.
int mirlo_unpack_results(const unsigned char *bytes, size_t size, std::vector<mirlo_result_view> *results);

// Receives the message probed as st (any tag) from st.MPI_SOURCE into
// bytes, sleeping while it arrives.
void mirlo_receive_bytes(const MPI_Status &st, std::vector<unsigned char> *bytes);
