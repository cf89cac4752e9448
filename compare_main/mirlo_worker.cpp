// The worker side of a multi-process comparison: queues the batches the
// manager sends, compares them in order and answers with counts and output.
#include "mirlo_worker.hpp"
#include "h5_handle.hpp"
#include "mirlo_diff.hpp"
#include "mirlo_json.hpp"
#include "mirlo_parallel.hpp"
#include "mirlo_record.hpp"
#include "trek.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"
#include "zarn_fopen.hpp"
#include "zarn_utils.hpp"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace {

// One entry of the worker's queue, in the order the manager sent them.
struct queued {
    enum kind_t { TASK, SETTINGS, BATCH_END, STOP } kind;
    mirlo_task task;
    std::vector<unsigned char> settings;
};

struct worker {
    worker_comparers compare;
    int rank = 0;
    h5_file file1, file2;
    bool ready = false;                 // both files open
    diff_options settings_record{};     // the run's settings, as the manager sent them
    mirlo_worker_settings settings;     // what its pointer fields point to here
    std::deque<queued> queue;
    std::vector<unsigned char> answers; // answers not yet sent
};

void send_answers(worker *w)
{
    if (w->answers.empty())
        return;
    MPI_Send(w->answers.data(), static_cast<int>(w->answers.size()), MPI_BYTE, 0, TAG_RESULT, MPI_COMM_WORLD);
    w->answers.clear();
}

void apply_settings(worker *w, const std::vector<unsigned char> &bytes)
{
    if (mirlo_unpack_settings(bytes.data(), bytes.size(), &w->settings) < 0) {
        printf("pmirlo_worker: ERROR: malformed settings received\n");
        mirlo_abort_run();
    }
    enable_error_stack = w->settings.error_stack_level;
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
    w->settings_record = setup.options;
    apply_settings(w, setup.settings);
    h5_errors_off quiet;
    const std::string *names[2] = {&setup.file1, &setup.file2};
    h5_file *files[2] = {&w->file1, &w->file2};
    for (int i = 0; i < 2; ++i) {
        zarn_note_activity("opening file", names[i]->c_str(), nullptr);
        // Opened as the manager opens them, through whichever driver reads
        // the file, so a file written through another driver (family, split,
        // multi) is compared here too.
        files[i]->reset(zarn_fopen(names[i]->c_str(), H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 0));
        zarn_clear_activity();
        if (!files[i]->valid()) {
            printf("mirlo Task [%d]: <%s>: unable to open file\n", w->rank,
                   zarn_printable_name(names[i]->c_str()).c_str());
            mirlo_abort_run();
        }
    }
    w->ready = true;
    // The manager lists both files before the first batch leaves; reading
    // the headers the pairs will need meanwhile costs this process nothing
    // it would not pay later, and the first message ends it.
    const auto message_waiting = [] {
        int waiting = 0;
        MPI_Iprobe(0, MPI_ANY_TAG, MPI_COMM_WORLD, &waiting, MPI_STATUS_IGNORE);
        return waiting != 0;
    };
    for (int i = 0; i < 2 && !message_waiting(); ++i)
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
    case TAG_SETTINGS: {
        queued q{queued::SETTINGS, {}, {}};
        mirlo_receive_bytes(st, &q.settings);
        w->queue.push_back(std::move(q));
        break;
    }
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
            w->queue.push_back(queued{queued::TASK, std::move(t), {}});
        w->queue.push_back(queued{queued::BATCH_END, {}, {}});
        break;
    }
    case TAG_STOP:
        MPI_Recv(nullptr, 0, MPI_BYTE, 0, TAG_STOP, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        w->queue.push_back(queued{queued::STOP, {}, {}});
        break;
    default:
        printf("pmirlo_worker: ERROR: invalid tag (%d) received\n", st.MPI_TAG);
        mirlo_abort_run();
    }
}

// Takes every message already waiting; when the queue is empty, first sends
// the answers held and waits for the next message.
void take_messages(worker *w)
{
    for (;;) {
        MPI_Status st;
        int flag = 0;
        if (w->queue.empty()) {
            send_answers(w);
            mirlo_wait_probe(0, MPI_ANY_TAG, &st);
            flag = 1;
        } else {
            MPI_Iprobe(0, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &st);
        }
        if (!flag)
            return;
        take_message(w, st);
    }
}

uint64_t collected_size()
{
    uint64_t n = outBuffOffset;
    if (overflow_file != nullptr) {
        fflush(overflow_file);
        long end = ftell(overflow_file);
        if (end > 0)
            n += static_cast<uint64_t>(end);
    }
    return n;
}

// Sends a large output in TAG_OUTPUT messages, after the answer that
// announces it.
void stream_collected_output()
{
    std::vector<char> block(MIRLO_OUTPUT_MESSAGE);
    size_t used = outBuffOffset;
    std::memcpy(block.data(), outBuff, used);
    if (overflow_file != nullptr) {
        rewind(overflow_file);
        for (;;) {
            size_t n = fread(block.data() + used, 1, block.size() - used, overflow_file);
            used += n;
            if (used < block.size())
                break;
            MPI_Send(block.data(), static_cast<int>(used), MPI_BYTE, 0, TAG_OUTPUT, MPI_COMM_WORLD);
            used = 0;
        }
    }
    if (used > 0)
        MPI_Send(block.data(), static_cast<int>(used), MPI_BYTE, 0, TAG_OUTPUT, MPI_COMM_WORLD);
    zarn_reset_buffered_output();
}

// Compares one task and adds its answer.
void run_task(worker *w, const mirlo_task &task)
{
    const task_record &t = task.record;
    diff_options options = w->settings_record;
    mirlo_apply_settings(&w->settings, &options);
    pair_context context;
    strip_window &window = context.window;
    pair_comparer compare = w->compare.pair;
    if (t.kind == TASK_PAIR && t.may_split) {
        window.may_split = true;
    } else if (t.kind == TASK_PIECE) {
        window.piece = true;
        window.print_opening = t.piece == 0;
        window.strip_begin = t.strip_begin;
        window.strip_end = t.strip_end;
        compare = w->compare.piece;
    } else if (t.kind == TASK_ATTRIBUTES) {
        compare = w->compare.attributes;
    }
    object_record record;
    if (records_kept(&options))
        context.record = &record;

    // Which --exclude-attribute entries are matched to a group before the
    // task, to tell the manager when this task matched one.
    std::vector<unsigned char> was_group(w->settings.attrs.size());
    for (size_t i = 0; i < w->settings.attrs.size(); ++i)
        was_group[i] = w->settings.attrs[i].obj_type == TREK_GROUP;

    const double start = MPI_Wtime();
    zarn_note_activity("comparing", task.name1.c_str(), task.name2.c_str());
    object_pair_info pair = t.pair;
    nfound_t nfound = diff_in_context(compare, w->file1, task.name1.c_str(), w->file2, task.name2.c_str(), &options,
                                      &pair, &context);
    zarn_clear_activity();

    result_record r{};
    r.seq = t.seq;
    r.kind = t.kind;
    r.piece = t.piece;
    r.nfound = nfound;
    r.seconds = MPI_Wtime() - start;
    r.not_comparable = options.not_comparable != 0;
    r.attributes_follow = window.attributes_follow;
    r.error_status = static_cast<uint8_t>(options.error_status);
    r.contents_equal = options.contents_equal != 0;
    r.failed = (options.error_status & 2) != 0;
    for (size_t i = 0; i < w->settings.attrs.size(); ++i)
        if (!was_group[i] && w->settings.attrs[i].obj_type == TREK_GROUP)
            r.attr_group_matched = 1;
    if (window.split_strips > 0) {
        // Compared by pieces later: what this run printed is printed by them.
        r.split_strips = window.split_strips;
        r.nfound = 0;
        zarn_reset_buffered_output();
    }

    std::string record_bytes;
    if (context.record != nullptr)
        record_bytes = record_to_bytes(record);
    r.record_size = record_bytes.size();

    const uint64_t size = collected_size();
    if (size <= MIRLO_INLINE_OUTPUT) {
        std::string text = take_collected_output();
        r.output_inline = text.size();
        mirlo_pack_result(r, text.data(), record_bytes.data(), &w->answers);
        if (w->answers.size() >= MIRLO_ANSWER_FLUSH)
            send_answers(w);
        return;
    }
    r.output_streamed = size;
    mirlo_pack_result(r, nullptr, record_bytes.data(), &w->answers);
    send_answers(w);
    stream_collected_output();
}

} // namespace

std::string take_collected_output()
{
    std::string text(outBuff, outBuffOffset);
    if (overflow_file != nullptr) {
        rewind(overflow_file);
        char block[4096];
        size_t n;
        while ((n = fread(block, 1, sizeof block, overflow_file)) > 0)
            text.append(block, n);
    }
    zarn_reset_buffered_output();
    return text;
}

void worker_loop()
{
    worker_run(worker_comparers{diff, diff_dataset_piece, diff_dataset_attributes});
}

void worker_run(const worker_comparers &compare)
{
    worker w;
    w.compare = compare;
    MPI_Comm_rank(MPI_COMM_WORLD, &w.rank);
    for (;;) {
        take_messages(&w);
        queued q = std::move(w.queue.front());
        w.queue.pop_front();
        switch (q.kind) {
        case queued::TASK:
            run_task(&w, q.task);
            break;
        case queued::SETTINGS:
            apply_settings(&w, q.settings);
            break;
        case queued::BATCH_END:
            send_answers(&w);
            break;
        case queued::STOP:
            send_answers(&w);
            mirlo_worker_settings_clear(&w.settings);
            w.file1.reset();
            w.file2.reset();
            MPI_Barrier(MPI_COMM_WORLD);
            return;
        }
    }
}
