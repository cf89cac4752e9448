// The manager of a multi-process comparison: batches, pieces, answers and
// the ordered printing of the workers' output.
#include "mirlo_manager.hpp"
#include "mirlo_diff.hpp"
#include "mirlo_json.hpp"
#include "mirlo_output.hpp"
#include "mirlo_stats.hpp"
#include "mirlo_wait.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"

#include <mpi.h>

#include <algorithm>
#include <cstring>

namespace {

// A pair task at a worker longer than this keeps one batch outstanding
// there instead of two, so that the last pairs are not queued behind a long
// one while another worker has nothing to do.
constexpr double LONG_TASK_SECONDS = 0.005;
// Pieces a split pair is cut into, per worker.
constexpr uint64_t PIECES_PER_WORKER = 4;

// The segments of a pair compared in pieces: one per piece, then the count
// line, then the attributes.
size_t count_segment(const mirlo_manager::pair_entry &p)
{
    return p.piece_found.size();
}
size_t attributes_segment(const mirlo_manager::pair_entry &p)
{
    return p.piece_found.size() + 1;
}

// A task of pair seq: the pair's names, kinds and resolved rule.
mirlo_task task_of(const mirlo_manager *m, uint64_t seq, mirlo_task_kind kind)
{
    const mirlo_manager::pair_entry &p = m->pairs[seq];
    mirlo_task t;
    t.record.seq = seq;
    t.record.kind = kind;
    t.record.pair = p.info;
    t.record.flags = p.attributes_excluded ? TASK_FLAG_ATTRIBUTES_EXCLUDED : 0;
    t.record.rules_root_size = p.rules_root_size;
    t.name1 = p.name1;
    t.name2 = p.name2;
    return t;
}

mirlo_task pair_task(const mirlo_manager *m, size_t seq)
{
    if (m->pairs[seq].whole_file_pair)
        return task_of(m, seq, TASK_FILE_PAIR);
    mirlo_task t = task_of(m, seq, TASK_PAIR);
    const object_pair_info &info = m->pairs[seq].info;
    // A dataset pair may be compared in pieces when two workers or more can
    // share it and no count limit runs across its strips.
    t.record.may_split = m->workers.size() >= 2 && !m->settings->count_mode && info.obj_type1 == TREK_DATASET &&
                         info.obj_type2 == TREK_DATASET && !info.is_same_target;
    return t;
}

unsigned batch_size(const mirlo_manager *m)
{
    if (!m->have_estimate)
        return 1;
    double n = MIRLO_BATCH_SECONDS / std::max(m->task_seconds, 1e-7);
    unsigned size = n >= MIRLO_BATCH_MAX ? MIRLO_BATCH_MAX : std::max(1u, static_cast<unsigned>(n));
    // Near the end, batches shrink so that the last pairs spread over the workers.
    const size_t left = m->pairs.size() - m->next_pair;
    const size_t share = std::max<size_t>(1, left / (2 * m->workers.size()));
    return static_cast<unsigned>(std::min<size_t>(size, share));
}

bool may_send(const mirlo_manager *m, const mirlo_manager::worker_state &w)
{
    if (w.batches.empty())
        return true;
    if (w.batches.size() >= 2)
        return false;
    // A second batch waits at a worker only while tasks are short, and never
    // a piece of a split pair.
    if (!m->extra.empty())
        return false;
    return !m->have_estimate || m->task_seconds < LONG_TASK_SECONDS;
}

void send_batch(mirlo_manager *m, int rank, const std::vector<mirlo_task> &tasks)
{
    mirlo_manager::worker_state &w = m->workers[static_cast<size_t>(rank - 1)];
    std::vector<unsigned char> bytes;
    for (const mirlo_task &t : tasks)
        mirlo_pack_task(t, &bytes);
    mirlo_post(&m->outbox, rank, TAG_WORK, std::move(bytes));
    w.batches.push_back(static_cast<uint32_t>(tasks.size()));
}

// Sends batches to every worker that may take one, lowest rank first.
void dispatch(mirlo_manager *m)
{
    for (size_t i = 0; i < m->workers.size(); ++i) {
        while (may_send(m, m->workers[i])) {
            std::vector<mirlo_task> tasks;
            if (!m->extra.empty()) {
                tasks.push_back(std::move(m->extra.front()));
                m->extra.pop_front();
            } else {
                const unsigned n = batch_size(m);
                while (tasks.size() < n && m->next_pair < m->pairs.size()) {
                    tasks.push_back(pair_task(m, m->next_pair));
                    ++m->next_pair;
                }
            }
            if (tasks.empty())
                return;
            send_batch(m, static_cast<int>(i + 1), tasks);
        }
    }
}

bool outstanding(const mirlo_manager *m)
{
    for (const auto &w : m->workers)
        if (!w.batches.empty())
            return true;
    return false;
}

// A worker asked for its pair to be compared in pieces of whole strips: the
// pieces and the attributes become tasks, ahead of further pairs.
void split_pair(mirlo_manager *m, uint64_t seq, uint64_t strips)
{
    mirlo_manager::pair_entry &p = m->pairs[seq];
    const uint64_t pieces = std::min<uint64_t>(strips, PIECES_PER_WORKER * m->workers.size());
    p.piece_found.assign(pieces, 0);
    p.piece_records.assign(m->settings->records_kept() ? pieces : 0, object_record());
    ordered_output_set_segments(&m->out, seq, pieces + 2);
    std::vector<mirlo_task> tasks;
    for (uint64_t i = 0; i < pieces; ++i) {
        mirlo_task t = task_of(m, seq, TASK_PIECE);
        t.record.piece = static_cast<uint32_t>(i);
        t.record.strip_begin = strips * i / pieces;
        t.record.strip_end = strips * (i + 1) / pieces;
        tasks.push_back(std::move(t));
    }
    tasks.push_back(task_of(m, seq, TASK_ATTRIBUTES));
    // Ahead of any pieces already waiting would break the order in which
    // pairs print; behind them is where they belong.
    for (mirlo_task &t : tasks)
        m->extra.push_back(std::move(t));
    m->pieces_made += pieces;
}

[[noreturn]] void protocol_fault(const char *what)
{
    printf("pmirlo-manager: ERROR!! %s\n", what);
    mirlo_abort_run();
}

// The segment a task's output belongs to; the task must be one handed out.
size_t segment_of_task(const mirlo_manager *m, uint64_t seq, int32_t kind, uint32_t piece)
{
    if (seq >= m->pairs.size() || (kind == TASK_PIECE && piece >= m->pairs[seq].piece_found.size()))
        protocol_fault("answer to an unknown task received");
    const mirlo_manager::pair_entry &p = m->pairs[seq];
    switch (kind) {
    case TASK_PIECE: return piece;
    case TASK_ATTRIBUTES: return attributes_segment(p);
    default: return 0;
    }
}

// A failed piece ends its pair's data there: the pieces after it are
// dropped, before anything could print them.
void piece_failed(mirlo_manager *m, const result_record &r)
{
    mirlo_manager::pair_entry &p = m->pairs[r.seq];
    if (r.piece >= p.first_failed)
        return;
    p.first_failed = r.piece;
    for (size_t j = r.piece + 1; j < p.piece_found.size(); ++j)
        ordered_output_drop(&m->out, r.seq, j);
}

void piece_answered(mirlo_manager *m, const result_record &r)
{
    mirlo_manager::pair_entry &p = m->pairs[r.seq];
    p.piece_found[r.piece] = r.nfound;
    if (++p.pieces_answered < p.piece_found.size())
        return;
    const size_t last = std::min<size_t>(p.first_failed, p.piece_found.size() - 1);
    for (size_t j = 0; j <= last; ++j)
        p.data_found += p.piece_found[j];
    pair_outcome data;
    data.differences = p.data_found;
    run_outcome_add(m->total, data);
    if (!p.piece_records.empty()) {
        // The data's statistics, as one process gathers them strip after strip.
        object_record &record = mirlo_manager_record(&p);
        record.data = diff_stats();
        for (size_t j = 0; j <= last; ++j) {
            stats_merge(&record.data, p.piece_records[j].data);
            if (record.error.empty() && !p.piece_records[j].error.empty())
                record.error = p.piece_records[j].error;
        }
        record.differences = p.data_found;
        p.piece_records.clear();
    }
}

// The count line of a split pair prints once every piece and the
// attributes have answered (whether the attributes can be listed decides
// whether a zero count is shown).
void complete_count_when_ready(mirlo_manager *m, uint64_t seq)
{
    const mirlo_manager::pair_entry &p = m->pairs[seq];
    if (p.pieces_answered == p.piece_found.size() && p.attributes_answered)
        ordered_output_complete_generated(&m->out, seq, count_segment(p));
}

// Keeps the record an answer carries in its pair's entry.
void take_record(mirlo_manager *m, const mirlo_result_view &v)
{
    const result_record &r = v.record;
    if (r.record_size == 0)
        return;
    if (r.kind == TASK_FILE_PAIR) {
        m->pairs[r.seq].file_pair_document.assign(v.task_record, static_cast<size_t>(r.record_size));
        return;
    }
    object_record record;
    if (record_from_bytes(v.task_record, static_cast<size_t>(r.record_size), &record) < 0) {
        printf("pmirlo-manager: ERROR!! malformed record received\n");
        mirlo_abort_run();
    }
    mirlo_manager::pair_entry &p = m->pairs[r.seq];
    switch (r.kind) {
    case TASK_PIECE:
        if (r.piece < p.piece_records.size())
            p.piece_records[r.piece] = std::move(record);
        break;
    case TASK_ATTRIBUTES: p.attributes_record = std::make_unique<object_record>(std::move(record)); break;
    default: p.record = std::make_unique<object_record>(std::move(record)); break;
    }
}

// The record of a pair compared in pieces takes its attributes' record.
void fold_attributes(mirlo_manager::pair_entry *p)
{
    if (p->attributes_record == nullptr)
        return; // no record of them arrived (records are not kept)
    object_record &a = *p->attributes_record;
    object_record &record = mirlo_manager_record(p);
    record.attributes = std::move(a.attributes);
    record.attributes_only_in_first = std::move(a.attributes_only_in_first);
    record.attributes_only_in_second = std::move(a.attributes_only_in_second);
    if (record.error.empty())
        record.error = std::move(a.error);
    p->attributes_record.reset();
}

// What an answer tells of the run: its flags, and the differences of a
// pair or of a split pair's attributes (a split pair's data counts once
// every piece has answered).
void fold_answer(mirlo_manager *m, const result_record &r)
{
    pair_outcome o;
    o.not_comparable = r.not_comparable != 0;
    o.status = r.error_status;
    o.members_differ = !r.contents_equal;
    if (r.kind != TASK_PIECE && r.split_strips == 0)
        o.differences = r.nfound;
    run_outcome_add(m->total, o);
}

// What an answer tells the progress lines: a pair compared (a whole file
// pair: its pairs, listed and compared at once), the size of a split pair's
// data, or one part of a split pair, which counts as compared once all its
// parts have answered.
void count_progress(mirlo_manager *m, const result_record &r)
{
    mirlo_progress *progress = m->progress;
    if (progress == nullptr)
        return;
    const mirlo_manager::pair_entry &p = m->pairs[r.seq];
    switch (r.kind) {
    case TASK_FILE_PAIR:
        mirlo_progress_listed(progress, r.pairs);
        mirlo_progress_compared(progress, r.pairs, r.data_bytes);
        break;
    case TASK_PAIR:
        if (r.split_strips > 0)
            mirlo_progress_known(progress, r.data_bytes);
        else
            mirlo_progress_compared(progress, r.pairs, r.data_bytes);
        break;
    default: {
        // The pieces and the attributes share the pair's work.
        const double parts = static_cast<double>(p.piece_found.size() + 1);
        mirlo_progress_piece(progress, r.data_bytes, 1 / parts);
        if (p.pieces_answered == p.piece_found.size() && p.attributes_answered)
            mirlo_progress_split_done(progress);
    }
    }
}

void task_answered(mirlo_manager *m, int source, const mirlo_result_view &v)
{
    const result_record &r = v.record;
    const size_t segment = segment_of_task(m, r.seq, r.kind, r.piece);
    mirlo_manager::worker_state &w = m->workers[static_cast<size_t>(source - 1)];
    if (!w.batches.empty() && --w.batches.front() == 0)
        w.batches.pop_front();
    fold_answer(m, r);
    take_record(m, v);

    if (r.kind == TASK_PAIR && r.split_strips > 0) {
        split_pair(m, r.seq, r.split_strips);
        count_progress(m, r);
        return;
    }
    if (r.kind == TASK_FILE_PAIR) {
        pair_outcome &o = m->pairs[r.seq].file_pair_outcome;
        o.differences = r.nfound;
        o.not_comparable = r.not_comparable != 0;
        o.status = r.error_status;
        o.members_differ = !r.contents_equal;
    }
    if (r.kind == TASK_PAIR || r.kind == TASK_FILE_PAIR) {
        m->task_seconds = m->have_estimate ? 0.75 * m->task_seconds + 0.25 * r.seconds : r.seconds;
        m->have_estimate = true;
    }
    if (r.kind == TASK_PIECE && r.failed)
        piece_failed(m, r);
    ordered_output_append(&m->out, r.seq, segment, v.output, static_cast<size_t>(r.output_inline));
    if (r.kind == TASK_PIECE) {
        ordered_output_complete(&m->out, r.seq, segment);
        piece_answered(m, r);
        complete_count_when_ready(m, r.seq);
    } else if (r.kind == TASK_ATTRIBUTES) {
        mirlo_manager::pair_entry &p = m->pairs[r.seq];
        p.attributes_answered = true;
        p.attributes_follow = r.attributes_follow != 0;
        complete_count_when_ready(m, r.seq);
        ordered_output_complete(&m->out, r.seq, segment);
    } else {
        ordered_output_complete(&m->out, r.seq, segment);
    }
    count_progress(m, r);
}

void take_answers(mirlo_manager *m, int source, const std::vector<unsigned char> &bytes)
{
    std::vector<mirlo_result_view> results;
    if (mirlo_unpack_results(bytes.data(), bytes.size(), &results) < 0)
        protocol_fault("malformed answer received");
    for (const mirlo_result_view &v : results)
        task_answered(m, source, v);
}

// Output a task sent ahead of its answer.
void take_output(mirlo_manager *m, const std::vector<unsigned char> &bytes)
{
    output_header h;
    if (bytes.size() < sizeof h)
        protocol_fault("malformed output received");
    std::memcpy(&h, bytes.data(), sizeof h);
    const size_t segment = segment_of_task(m, h.seq, h.kind, h.piece);
    ordered_output_append(&m->out, h.seq, segment, reinterpret_cast<const char *>(bytes.data()) + sizeof h,
                          bytes.size() - sizeof h);
}

void take_message(mirlo_manager *m, int source, const mirlo_manager::arriving &a)
{
    switch (a.tag) {
    case TAG_RESULT: take_answers(m, source, a.bytes); break;
    case TAG_OUTPUT: take_output(m, a.bytes); break;
    default:
        printf("pmirlo-manager: ERROR!! Invalid tag (%d) received \n", a.tag);
        mirlo_abort_run();
    }
}

// Starts receiving every message that has arrived, acts on those received
// (each worker's in the order it sent them) and forgets the sends that have
// left. True when anything happened.
bool poll(mirlo_manager *m)
{
    bool busy = false;
    for (;;) {
        int found = 0;
        MPI_Message message;
        MPI_Status st;
        MPI_Improbe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &found, &message, &st);
        if (!found)
            break;
        if (st.MPI_SOURCE < 1 || static_cast<size_t>(st.MPI_SOURCE) > m->workers.size())
            protocol_fault("message from an unknown process received");
        int count = 0;
        MPI_Get_count(&st, MPI_BYTE, &count);
        std::list<mirlo_manager::arriving> &inbox = m->workers[static_cast<size_t>(st.MPI_SOURCE - 1)].inbox;
        inbox.emplace_back();
        mirlo_manager::arriving &a = inbox.back();
        a.tag = st.MPI_TAG;
        a.bytes.resize(static_cast<size_t>(count));
        MPI_Imrecv(a.bytes.data(), count, MPI_BYTE, &message, &a.request);
        busy = true;
    }
    for (size_t i = 0; i < m->workers.size(); ++i) {
        std::list<mirlo_manager::arriving> &inbox = m->workers[i].inbox;
        while (!inbox.empty()) {
            int done = 0;
            MPI_Test(&inbox.front().request, &done, MPI_STATUS_IGNORE);
            if (!done)
                break;
            const mirlo_manager::arriving a = std::move(inbox.front());
            inbox.pop_front();
            take_message(m, static_cast<int>(i + 1), a);
            busy = true;
        }
    }
    if (mirlo_outbox_progress(&m->outbox))
        busy = true;
    return busy;
}

} // namespace

object_record &mirlo_manager_record(mirlo_manager::pair_entry *p)
{
    if (p->record == nullptr)
        p->record = std::make_unique<object_record>();
    return *p->record;
}

void mirlo_manager_add_pair(mirlo_manager *m, const matched_pair &pair)
{
    mirlo_manager::pair_entry p;
    p.name1 = pair.name1;
    p.name2 = pair.name2;
    p.info = pair.info;
    p.attributes_excluded = pair.attributes_excluded;
    p.rules_root_size = static_cast<uint32_t>(pair.rules_root_size);
    m->pairs.push_back(std::move(p));
}

void mirlo_manager_add_file_pair(mirlo_manager *m, const std::string &file1, const std::string &file2)
{
    mirlo_manager::pair_entry p;
    p.name1 = file1;
    p.name2 = file2;
    p.whole_file_pair = true;
    m->pairs.push_back(std::move(p));
}

void mirlo_manager_run(mirlo_manager *m, mirlo_crew *crew, const mirlo_settings &settings, run_outcome *total)
{
    if (!crew->parallel()) {
        // Without workers no answer could ever come.
        if (!m->pairs.empty()) {
            fprintf(stderr, "mirlo error: pairs were handed to a run without workers\n");
            mirlo_abort_run();
        }
        return;
    }
    m->settings = &settings;
    m->total = total;
    m->task_seconds = crew->task_seconds;
    m->have_estimate = crew->have_estimate;
    m->workers.assign(static_cast<size_t>(crew->size - 1), mirlo_manager::worker_state());
    ordered_output_begin(&m->out, m->pairs.size());
    m->out.generate = [m](uint64_t seq, size_t) {
        const mirlo_manager::pair_entry &p = m->pairs[seq];
        output_sink sink(m->out.out);
        print_dataset_count(p.name1.c_str(), p.name2.c_str(), p.data_found, p.first_failed != UINT32_MAX,
                            p.attributes_follow, *m->settings, &sink);
        if (m->settings->records_kept() && p.first_failed == UINT32_MAX)
            print_statistics(*m->settings, &sink, p.record != nullptr ? p.record->data : diff_stats(), p.data_found,
                             p.record != nullptr ? &p.record->tolerance : nullptr);
    };
    // What the manager printed itself (object lists) comes before the pairs.
    fflush(stdout);

    // A fault from here on lies in the exchange, not in the files.
    zarn_note_activity("handing out pairs to the workers", nullptr, nullptr, false);
    mirlo_backoff backoff(MPI_ANY_SOURCE);
    for (;;) {
        dispatch(m);
        if (!outstanding(m) && m->outbox.pending.empty())
            break;
        if (poll(m))
            backoff.reset();
        else
            backoff.pause();
    }
    crew->task_seconds = m->task_seconds;
    crew->have_estimate = m->have_estimate;
    stop_workers(crew);
    zarn_clear_activity();
    fflush(stdout);
    if (ordered_output_failed(&m->out)) {
        pair_outcome output;
        output.fail();
        run_outcome_add(total, output);
    }
    for (mirlo_manager::pair_entry &p : m->pairs)
        if (!p.piece_found.empty())
            fold_attributes(&p);
    m->settings = nullptr;
    m->total = nullptr;
}
