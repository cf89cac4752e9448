// Messages between the manager (rank 0) and the workers of a multi-process
// comparison, and the manager's side of the exchange. diff_match calls
// mirlo_manager_begin, mirlo_dispatch_task for every pair present on both
// sides, then mirlo_collect_and_stop; mirlo sends the file names first with
// mirlo_send_file_names and, when it stops before matching, calls
// send_stop_to_workers itself.
#pragma once
#include "mirlo_options.hpp"

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

// Message tags, all over MPI_COMM_WORLD.
enum mirlo_tag : int {
    TAG_WORK = 1,           // manager -> worker: work_task
    TAG_PRINT_GRANT = 2,    // manager -> worker: empty, the worker holds the print token
    TAG_PRINT_ASK = 3,      // worker -> manager: empty, the worker has output
    TAG_RESULT = 4,         // worker -> manager: worker_result, nothing printed
    TAG_RESULT_PRINTED = 5, // worker -> manager: worker_result, output sent, token back
    TAG_OUTPUT = 6,         // worker -> manager: OUTPUT_CHUNK characters of output
    TAG_STOP = 7,           // manager -> worker: empty, leave the worker loop
    TAG_FILES = 8,          // manager -> worker: file_names_message
    TAG_SETTINGS = 9,       // manager -> worker: the run settings behind the pointer
                            // fields of diff_options (see mirlo_pack_settings)
};

constexpr unsigned MIRLO_FILE_NAME_SLOT = 1024;  // a file name may have 1023 characters
constexpr unsigned MIRLO_OBJECT_NAME_SLOT = 256; // an object path may have 255 characters
constexpr int OUTPUT_CHUNK = 512;
// MPI_Abort code of every run that must end at once.
constexpr int MIRLO_ABORT_CODE = 2;

struct file_names_message {
    char file1[MIRLO_FILE_NAME_SLOT];
    char file2[MIRLO_FILE_NAME_SLOT];
};
static_assert(sizeof(file_names_message) == 2048);
static_assert(offsetof(file_names_message, file2) == 1024);

struct work_task {
    char name1[MIRLO_OBJECT_NAME_SLOT];
    char name2[MIRLO_OBJECT_NAME_SLOT];
    diff_options options;     // the manager's record as it was when the task was sent
    object_pair_info pair;
    uint8_t pad[4];
};
static_assert(std::is_trivially_copyable_v<work_task>);
static_assert(std::is_standard_layout_v<work_task>);
static_assert(sizeof(work_task) == 2288);
static_assert(offsetof(work_task, name2) == 256);
static_assert(offsetof(work_task, options) == 512);
static_assert(offsetof(work_task, pair) == 2272);
static_assert(offsetof(work_task, pair) + offsetof(object_pair_info, is_same_target) == 2280);

// The answer to one task. Besides the count and the not-comparable flag the
// worker returns its error state and contents_equal, so the manager ends with
// the same run-wide state as a one-process run.
struct worker_result {
    uint64_t nfound;
    int32_t not_comparable;
    uint8_t error_status;       // the worker's error_status after the pair (0..3)
    uint8_t contents_equal;     // the worker's contents_equal after the pair
    uint8_t attr_group_matched; // the pair's first path matched an --exclude-attribute
                                // entry as a group (the entry now excludes its members)
    uint8_t reserved;
};
static_assert(std::is_trivially_copyable_v<worker_result>);
static_assert(sizeof(worker_result) == 16);
static_assert(offsetof(worker_result, not_comparable) == 8);
static_assert(offsetof(worker_result, error_status) == 12);

// Ends the whole job with status MIRLO_ABORT_CODE, after the messages
// printed so far have had time to reach the launcher.
[[noreturn]] void mirlo_abort_run();

// Waits for a message like MPI_Probe, but without keeping a core busy: this
// MPI polls inside blocking calls, and a manager spinning beside its workers
// on a machine with as many cores as workers takes their time. Polls for a
// short while (answers often come quickly), then sleeps between polls, the
// sleep doubling up to half a millisecond.
void mirlo_wait_probe(int source, int tag, MPI_Status *status);

// Sends TAG_STOP to ranks 1 to mpi_size-1 in rank order, once per run: later
// calls do nothing, so every early way out may call it.
void send_stop_to_workers();
// True once send_stop_to_workers has sent the stop.
bool workers_stopped();

// Manager: checks that both names fit their slots (else prints the limit
// message on standard error and aborts the run), then sends them with
// TAG_FILES, followed by the run settings (TAG_SETTINGS), to every worker.
void mirlo_send_file_names(const char *file1, const char *file2, const diff_options *options);

// The manager's state for one run, owned by diff_match.
struct mirlo_manager {
    std::vector<unsigned char> worker_idle; // index r-1 for rank r
    int busy_tasks = 0;
    int token_holder = 0;                   // rank holding the print token (0: the manager)
    nfound_t nfound = 0;                    // sum of the answers received
    // --exclude-attribute bookkeeping: the first path of each worker's task,
    // and the settings generation each worker has last been sent.
    std::vector<std::string> task_name1;
    std::vector<unsigned> settings_sent;
    unsigned settings_generation = 0;
};

mirlo_manager mirlo_manager_begin();

// Manager: sends one pair to the lowest-numbered idle worker (after taking
// the answers already waiting), or waits for a worker to answer when all are
// busy. Either name longer than 255 characters aborts the run with the limit
// message. Answers update options (not_comparable, error_status,
// contents_equal) and manager->nfound.
void mirlo_dispatch_task(mirlo_manager *manager, const char *name1, const char *name2,
                         const object_pair_info *pair, diff_options *options);

// Manager: waits for every outstanding answer, printing the workers' output,
// then stops the workers. Returns the sum of the workers' counts.
nfound_t mirlo_collect_and_stop(mirlo_manager *manager, diff_options *options);

// The run settings the workers cannot take from the bytes of diff_options:
// the --exclude-attribute list (with each entry's matched kind), the two
// subset specifications and the error-stack level, as one byte string.
std::vector<unsigned char> mirlo_pack_settings(const diff_options *options);

// A worker's copy of the settings: the exclusion list and subset records it
// puts into each task's options in place of the manager's pointers.
struct mirlo_worker_settings {
    std::string paths;                  // the entries' paths, each zero-terminated
    std::vector<exclude_node> attrs;    // nodes pointing into paths
    subset_spec *subsets[2] = {nullptr, nullptr};
    int error_stack_level = 0;
};

// Rebuilds settings from a byte string of mirlo_pack_settings. Returns 0, or
// -1 when the bytes are malformed (settings are then left empty).
int mirlo_unpack_settings(const unsigned char *bytes, size_t size, mirlo_worker_settings *settings);
void mirlo_worker_settings_clear(mirlo_worker_settings *settings);
// Points the pointer fields of a received options record at the worker's own
// settings (exclude_paths and object_names become null).
void mirlo_apply_settings(mirlo_worker_settings *settings, diff_options *options);

// Forgets that the stop was sent (tests run several sessions in one process).
void reset_worker_stop();
