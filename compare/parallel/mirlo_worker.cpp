// The worker side of a multi-process comparison: queues the batches the
// manager sends, compares them in order and answers with counts and output.
// Nothing is ever sent with a blocking call: answers and output leave with
// MPI_Isend while the worker goes on, and whenever it waits it keeps taking
// the manager's messages.
#include "mirlo_worker.hpp"
#include "mirlo_dset.hpp"
#include "h5_handle.hpp"
#include "mirlo.hpp"
#include "mirlo_diff.hpp"
#include "mirlo_json.hpp"
#include "mirlo_output.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_progress.hpp"
#include "mirlo_record.hpp"
#include "mirlo_wait.hpp"
#include "trek.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"
#include "zarn_fopen.hpp"
#include "zarn_utils.hpp"

#include <mpi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <unistd.h>
#include <vector>

namespace {

// One entry of the worker's queue, in the order the manager sent them.
struct queued {
    enum kind_t { TASK, BATCH_END, STOP } kind;
    mirlo_task task;
};

struct worker {
    worker_comparers compare;
    int rank = 0;
    h5_file file1, file2;
    parent_groups parents;              // groups of the last objects opened, closed before the files
    bool ready = false;                 // a setup has been taken
    std::string names[2];               // the files of the setup
    bool opened = false;                // their opening has been tried
    std::string open_failure;           // why a file of the setup could not be opened
    mirlo_settings settings;            // the run's settings, as the manager sent them
    std::deque<queued> queue;
    std::vector<unsigned char> answers; // answers not yet sent
    mirlo_outbox outbox;                // answers and output on their way
    // The output of the task being compared: its header, the sink that
    // collects it, and how much went ahead in TAG_OUTPUT messages.
    output_header current{};
    output_sink sink;
    uint64_t streamed = 0;
};

void send_answers(worker *w)
{
    if (w->answers.empty())
        return;
    mirlo_post(&w->outbox, 0, TAG_RESULT, std::move(w->answers));
    w->answers.clear();
}

// Opens both files of the setup, once.
void open_files(worker *w)
{
    if (w->opened)
        return;
    w->opened = true;
    h5_errors_off quiet;
    h5_file *files[2] = {&w->file1, &w->file2};
    for (int i = 0; i < 2; ++i) {
        const char *name = w->names[i].c_str();
        zarn_note_activity("opening file", name, nullptr);
        // Opened as the manager opens them, through whichever driver reads
        // the file, so a file written through another driver (family, split,
        // multi) is compared here too.
        files[i]->reset(zarn_fopen(name, H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 0));
        zarn_clear_activity();
        if (!files[i]->valid() && w->open_failure.empty()) {
            // The manager opened it: the file changed since, or this process
            // sees another file system. Its tasks fail; the job goes on.
            w->open_failure = "<" + w->names[i] + ">: unable to open file";
            zarn_error_msg("process %d: <%s>: unable to open file\n", w->rank, zarn_printable_name(name).c_str());
        }
    }
}

void set_up(worker *w, const MPI_Status &st)
{
    std::vector<unsigned char> bytes;
    mirlo_receive_bytes(st, &bytes);
    mirlo_setup setup;
    if (mirlo_unpack_setup(bytes.data(), bytes.size(), &setup) < 0) {
        printf("pmirlo_worker: ERROR: malformed setup received\n");
        mirlo_abort_run();
    }
    w->settings = std::move(setup.settings);
    enable_error_stack = w->settings.error_stack_level;
    {
        h5_errors_off quiet;
        w->parents = parent_groups(); // the groups before the files they are in
        w->file1.reset();
        w->file2.reset();
    }
    w->names[0] = std::move(setup.file1);
    w->names[1] = std::move(setup.file2);
    w->opened = false;
    w->open_failure.clear();
    w->ready = true;
    // Where processes outnumber the cores, the headers are not read ahead:
    // that would take the core the manager's listing needs. A setup of
    // whole file pairs names no files. The files then
    // open at the first task, so in a job of many small file pairs a worker
    // that gets no task of a pair never opens its files.
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (w->names[0].empty() || (cores > 0 && mirlo_processes_on_this_host() > cores))
        return;
    // The manager lists both files before the first batch leaves; reading
    // the headers the pairs will need meanwhile costs this process nothing
    // it would not pay later, and the first message ends it.
    open_files(w);
    const auto message_waiting = [] {
        int waiting = 0;
        MPI_Iprobe(0, MPI_ANY_TAG, MPI_COMM_WORLD, &waiting, MPI_STATUS_IGNORE);
        return waiting != 0;
    };
    const h5_file *files[2] = {&w->file1, &w->file2};
    for (int i = 0; i < 2 && w->open_failure.empty() && !message_waiting(); ++i)
        trek_read_headers(*files[i], i == 0 ? setup.start1.c_str() : setup.start2.c_str(), message_waiting);
}

// Takes one message from the manager into the queue (the setup is acted on
// at once).
void take_message(worker *w, const MPI_Status &st)
{
    switch (st.MPI_TAG) {
    case TAG_SETUP:
        set_up(w, st);
        break;
    case TAG_WORK: {
        std::vector<unsigned char> bytes;
        mirlo_receive_bytes(st, &bytes);
        if (!w->ready) {
            // The manager waits for answers that cannot come: end the whole
            // run rather than leave it waiting.
            printf("pmirlo_worker: ERROR: work received before/without filenames\n");
            mirlo_abort_run();
        }
        std::vector<mirlo_task> tasks;
        if (mirlo_unpack_tasks(bytes.data(), bytes.size(), &tasks) < 0) {
            printf("pmirlo_worker: ERROR: malformed work received\n");
            mirlo_abort_run();
        }
        for (mirlo_task &t : tasks)
            w->queue.push_back(queued{queued::TASK, std::move(t)});
        w->queue.push_back(queued{queued::BATCH_END, {}});
        break;
    }
    case TAG_STOP:
        MPI_Recv(nullptr, 0, MPI_BYTE, 0, TAG_STOP, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        w->queue.push_back(queued{queued::STOP, {}});
        break;
    default:
        printf("pmirlo_worker: ERROR: invalid tag (%d) received\n", st.MPI_TAG);
        mirlo_abort_run();
    }
}

// Takes the manager's messages already waiting into the queue and forgets
// the sends that have left; true when anything happened.
bool take_waiting(worker *w)
{
    bool busy = mirlo_outbox_progress(&w->outbox);
    for (;;) {
        MPI_Status st;
        int flag = 0;
        MPI_Iprobe(0, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &st);
        if (!flag)
            return busy;
        take_message(w, st);
        busy = true;
    }
}

// Takes every message already waiting; when the queue is empty, first sends
// the answers held and waits for the next message.
void take_messages(worker *w)
{
    mirlo_backoff backoff(0);
    for (;;) {
        const bool busy = take_waiting(w);
        if (!w->queue.empty())
            return;
        send_answers(w);
        if (busy)
            backoff.reset();
        else
            backoff.pause();
    }
}

// Sends the output held for the current task ahead of its answer (the
// answers held go first, so the manager can print what they complete), then
// waits, taking the manager's messages, while too many outputs are on
// their way.
void send_output_ahead(worker *w)
{
    if (w->sink.segment.empty())
        return;
    send_answers(w);
    const std::string text = output_take(&w->sink);
    std::vector<unsigned char> bytes(sizeof w->current + text.size());
    std::memcpy(bytes.data(), &w->current, sizeof w->current);
    std::memcpy(bytes.data() + sizeof w->current, text.data(), text.size());
    w->streamed += text.size();
    mirlo_post(&w->outbox, 0, TAG_OUTPUT, std::move(bytes));
    mirlo_backoff backoff(0);
    while (w->outbox.pending.size() > MIRLO_OUTPUT_IN_FLIGHT) {
        if (take_waiting(w))
            backoff.reset();
        else
            backoff.pause();
    }
}

// The sink of the worker: what the comparison prints is held for the
// current task and sent ahead once it grows large.
void sink_full(output_sink *, void *data)
{
    send_output_ahead(static_cast<worker *>(data));
}

// The window, comparison and base context of one task.
pair_comparer set_up_task(const worker *w, const mirlo_task &task, strip_window *window, pair_context *base)
{
    const task_record &t = task.record;
    base->settings = &w->settings;
    base->rule = pair_rule_of(w->settings, rules_path_of(task.name1, t.rules_root_size),
                              (t.flags & TASK_FLAG_ATTRIBUTES_EXCLUDED) != 0);
    set_pair_roots(base, task.name1, task.name2, t.rules_root_size);
    base->window = window;
    if (t.kind == TASK_PAIR && t.may_split) {
        window->may_split = true;
    } else if (t.kind == TASK_PIECE) {
        window->piece = true;
        window->print_opening = t.piece == 0;
        window->strip_begin = t.strip_begin;
        window->strip_end = t.strip_end;
        return w->compare.piece;
    } else if (t.kind == TASK_ATTRIBUTES) {
        return w->compare.attributes;
    }
    return w->compare.pair;
}

// The answer to a task from its outcome.
result_record answer_of(const task_record &t, const pair_outcome &outcome, uint32_t pairs, double seconds)
{
    result_record r{};
    r.seq = t.seq;
    r.kind = t.kind;
    r.piece = t.piece;
    r.nfound = outcome.differences;
    r.seconds = seconds;
    r.not_comparable = outcome.not_comparable;
    r.attributes_follow = !outcome.attributes_unlisted;
    r.error_status = static_cast<uint8_t>(outcome.status);
    r.contents_equal = !outcome.members_differ;
    r.failed = outcome.failed();
    r.split_strips = outcome.split_strips;
    if (r.split_strips > 0)
        r.nfound = 0;
    r.data_bytes = outcome.data_bytes;
    r.pairs = pairs;
    return r;
}

// Compares two files whole, as one process compares a file pair of a job;
// the report goes to the task's output.
// With --json the pair's document goes to *document; *pairs receives the
// number of pairs compared.
pair_outcome compare_file_pair(worker *w, const mirlo_task &task, std::string *document, uint32_t *pairs)
{
    int processes = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &processes);
    // Counts only, for the manager's progress lines: nothing printed here.
    mirlo_progress counted;
    mirlo_progress_begin(&counted, 0, 1);
    const run_outcome run = mirlo_compare_file_pair(task.name1.c_str(), task.name2.c_str(), w->settings, nullptr,
                                                    &w->sink, processes, document, &counted);
    *pairs = static_cast<uint32_t>(std::min<uint64_t>(counted.counts.pairs_done, UINT32_MAX));
    pair_outcome outcome;
    outcome.data_bytes = counted.counts.bytes_done;
    outcome.differences = run.differences;
    outcome.not_comparable = run.not_comparable;
    outcome.members_differ = !run.contents_equal;
    outcome.status = run.status;
    return outcome;
}

// Compares one task and adds its answer.
void run_task(worker *w, const mirlo_task &task)
{
    const task_record &t = task.record;
    strip_window window;
    pair_context base;
    base.out = &w->sink;
    base.parents = &w->parents;
    const pair_comparer compare = set_up_task(w, task, &window, &base);
    object_record record;
    const bool whole_files = t.kind == TASK_FILE_PAIR;
    object_record *const kept = w->settings.records_kept() && !whole_files ? &record : nullptr;

    w->current = output_header{t.seq, t.kind, t.piece};
    output_drop(&w->sink);
    w->streamed = 0;
    const double start = MPI_Wtime();
    zarn_note_activity("comparing", task.name1.c_str(), task.name2.c_str());
    object_pair_info pair = t.pair;
    pair_outcome outcome;
    std::string document; // of a whole file pair, with --json
    if (!whole_files)
        open_files(w);
    uint32_t pairs = t.kind == TASK_PAIR ? 1 : 0;
    if (whole_files) {
        outcome = compare_file_pair(w, task, &document, &pairs);
    } else if (w->open_failure.empty()) {
        outcome = compare_in_context(compare, w->file1, task.name1.c_str(), w->file2, task.name2.c_str(), base,
                                     &pair, kept);
    } else {
        outcome.fail();
        record.kind = record_kind_word(t.pair.obj_type1);
        record.name1 = task.name1;
        record.name2 = task.name2;
        record.error = w->open_failure;
    }
    zarn_clear_activity();

    if (outcome.split_strips > 0)
        pairs = 0; // counted once its pieces have answered
    result_record r = answer_of(t, outcome, pairs, MPI_Wtime() - start);
    // Compared by pieces later: what this run printed is printed by them.
    if (r.split_strips > 0)
        output_drop(&w->sink);
    const std::string record_bytes = kept != nullptr ? record_to_bytes(record) : std::move(document);
    r.record_size = record_bytes.size();

    if (w->streamed == 0 && w->sink.segment.size() <= MIRLO_INLINE_OUTPUT) {
        const std::string text = output_take(&w->sink);
        r.output_inline = text.size();
        mirlo_pack_result(r, text.data(), record_bytes.data(), &w->answers);
        if (w->answers.size() >= MIRLO_ANSWER_FLUSH)
            send_answers(w);
        return;
    }
    send_output_ahead(w);
    r.output_streamed = w->streamed;
    mirlo_pack_result(r, nullptr, record_bytes.data(), &w->answers);
    send_answers(w);
}

} // namespace

void worker_loop()
{
    worker_run(worker_comparers{diff, diff_dataset_piece, diff_dataset_attributes});
}

void worker_run(const worker_comparers &compare)
{
    worker w;
    w.compare = compare;
    w.sink.on_full = sink_full;
    w.sink.data = &w;
    w.sink.full_at = MIRLO_OUTPUT_MESSAGE;
    MPI_Comm_rank(MPI_COMM_WORLD, &w.rank);
    for (;;) {
        take_messages(&w);
        queued q = std::move(w.queue.front());
        w.queue.pop_front();
        switch (q.kind) {
        case queued::TASK:
            run_task(&w, q.task);
            break;
        case queued::BATCH_END:
            send_answers(&w);
            break;
        case queued::STOP: {
            send_answers(&w);
            mirlo_backoff backoff(0);
            while (!w.outbox.pending.empty())
                if (!mirlo_outbox_progress(&w.outbox))
                    backoff.pause();
            w.parents = parent_groups(); // the groups before the files they are in
            w.file1.reset();
            w.file2.reset();
            mirlo_barrier();
            return;
        }
        }
    }
}
