// The manager's side of a multi-process comparison: file names and settings
// for the workers, dispatch of pairs, the print token, collection and stop.
#include "mirlo_parallel.hpp"
#include "mirlo.hpp"
#include "zarn.hpp"

#include <mpi.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>

namespace {

bool stop_sent = false;

[[noreturn]] void abort_run()
{
    mirlo_abort_run();
}

// --- settings byte string -------------------------------------------------

void put_bytes(std::vector<unsigned char> *out, const void *p, size_t n)
{
    // Grown then copied into, rather than inserted, which GCC 12 at -O3
    // misreads as an overflow of an empty vector.
    if (n == 0)
        return;
    const size_t at = out->size();
    out->resize(at + n);
    std::memcpy(out->data() + at, p, n);
}

template <typename T> void put(std::vector<unsigned char> *out, T v)
{
    put_bytes(out, &v, sizeof v);
}

struct reader {
    const unsigned char *p;
    size_t left;
    bool ok = true;

    bool take(void *dst, size_t n)
    {
        if (!ok || n > left) {
            ok = false;
            return false;
        }
        std::memcpy(dst, p, n);
        p += n;
        left -= n;
        return true;
    }
    template <typename T> T get()
    {
        T v{};
        take(&v, sizeof v);
        return v;
    }
};

void put_list(std::vector<unsigned char> *out, const hsize_list &list)
{
    put<uint64_t>(out, list.count);
    put_bytes(out, list.values, list.count * sizeof(hsize_t));
}

bool get_list(reader *in, hsize_list *list)
{
    uint64_t count = in->get<uint64_t>();
    if (!in->ok || count > in->left / sizeof(hsize_t))
        return false;
    if (count == 0)
        return true;
    list->values = static_cast<hsize_t *>(std::malloc(count * sizeof(hsize_t)));
    if (list->values == nullptr)
        return false;
    list->count = count;
    return in->take(list->values, count * sizeof(hsize_t));
}

// --- manager ----------------------------------------------------------------

void send_task(mirlo_manager *m, int rank, const work_task &task, const diff_options *options)
{
    if (options->exclude_attr_mode) {
        // A worker whose copy of the --exclude-attribute entries is older than
        // the manager's gets the current one first (same sender, same
        // receiver: it arrives before the task).
        if (m->settings_sent[rank - 1] != m->settings_generation) {
            std::vector<unsigned char> bytes = mirlo_pack_settings(options);
            MPI_Send(bytes.data(), static_cast<int>(bytes.size()), MPI_BYTE, rank, TAG_SETTINGS, MPI_COMM_WORLD);
            m->settings_sent[rank - 1] = m->settings_generation;
        }
        m->task_name1[rank - 1] = task.name1;
    }
    MPI_Send(&task, sizeof task, MPI_BYTE, rank, TAG_WORK, MPI_COMM_WORLD);
}

// Takes one worker_result from source with tag and folds it into the run.
void receive_answer(mirlo_manager *m, int source, int tag, diff_options *options)
{
    worker_result r;
    MPI_Recv(&r, sizeof r, MPI_BYTE, source, tag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    m->nfound += r.nfound;
    options->not_comparable |= r.not_comparable;
    options->error_status |= r.error_status;
    if (!r.contents_equal)
        options->contents_equal = 0;
    if (r.attr_group_matched && options->exclude_attr_mode) {
        // The worker's comparison matched the first --exclude-attribute entry
        // naming this path (not yet matched to a group) as a group, exactly
        // as the same lookup does in a one-process run.
        const std::string &name1 = m->task_name1[source - 1];
        for (exclude_node *node = options->exclude_attrs; node; node = node->next) {
            if (node->obj_type != TREK_GROUP && name1 == node->path) {
                node->obj_type = TREK_GROUP;
                ++m->settings_generation;
                break;
            }
        }
    }
    m->worker_idle[source - 1] = 1;
    --m->busy_tasks;
}

void print_chunk(int source)
{
    char chunk[OUTPUT_CHUNK + 1] = {};
    MPI_Recv(chunk, OUTPUT_CHUNK, MPI_CHAR, source, TAG_OUTPUT, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    fputs(chunk, stdout);
}

// Takes the messages of the worker holding the print token, in the order it
// sent them: its output chunks are printed, and its TAG_RESULT_PRINTED gives
// the token back. Only blocks when block is true. Returns true once the
// token is back.
bool drain_token_holder(mirlo_manager *m, diff_options *options, bool block)
{
    const int holder = m->token_holder;
    for (;;) {
        MPI_Status st;
        int flag = 1;
        if (block)
            mirlo_wait_probe(holder, MPI_ANY_TAG, &st);
        else
            MPI_Iprobe(holder, MPI_ANY_TAG, MPI_COMM_WORLD, &flag, &st);
        if (!flag)
            return false;
        if (st.MPI_TAG == TAG_OUTPUT) {
            print_chunk(holder);
        } else if (st.MPI_TAG == TAG_RESULT_PRINTED) {
            receive_answer(m, holder, TAG_RESULT_PRINTED, options);
            m->token_holder = 0;
            fflush(stdout);
            return true;
        } else {
            printf("pmirlo-manager: ERROR!! Invalid tag (%d) received \n", st.MPI_TAG);
            abort_run();
        }
    }
}

void grant_token(mirlo_manager *m, int rank)
{
    MPI_Recv(nullptr, 0, MPI_BYTE, rank, TAG_PRINT_ASK, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    MPI_Send(nullptr, 0, MPI_BYTE, rank, TAG_PRINT_GRANT, MPI_COMM_WORLD);
    m->token_holder = rank;
}

// Takes answers and output already waiting, without blocking.
void take_waiting_answers(mirlo_manager *m, diff_options *options)
{
    for (;;) {
        if (m->busy_tasks == 0)
            return;
        if (m->token_holder != 0) {
            if (!drain_token_holder(m, options, false))
                return;
            continue;
        }
        MPI_Status st;
        int flag = 0;
        MPI_Iprobe(MPI_ANY_SOURCE, TAG_RESULT, MPI_COMM_WORLD, &flag, &st);
        if (flag) {
            receive_answer(m, st.MPI_SOURCE, TAG_RESULT, options);
            continue;
        }
        MPI_Iprobe(MPI_ANY_SOURCE, TAG_PRINT_ASK, MPI_COMM_WORLD, &flag, &st);
        if (!flag)
            return;
        grant_token(m, st.MPI_SOURCE);
    }
}

// Blocks until one more worker has answered (granting the token to a worker
// that asks for it on the way). Returns the rank that answered.
int take_one_answer(mirlo_manager *m, diff_options *options)
{
    for (;;) {
        if (m->token_holder != 0) {
            int holder = m->token_holder;
            drain_token_holder(m, options, true);
            return holder;
        }
        MPI_Status st;
        mirlo_wait_probe(MPI_ANY_SOURCE, MPI_ANY_TAG, &st);
        if (st.MPI_TAG == TAG_PRINT_ASK) {
            grant_token(m, st.MPI_SOURCE);
        } else if (st.MPI_TAG == TAG_RESULT) {
            receive_answer(m, st.MPI_SOURCE, TAG_RESULT, options);
            return st.MPI_SOURCE;
        } else {
            printf("pmirlo-manager: ERROR!! Invalid tag (%d) received \n", st.MPI_TAG);
            abort_run();
        }
    }
}

// With --exclude-attribute, the comparison of a group path decides whether
// the entry naming it excludes the attributes of everything below it. A pair
// below such a path waits until a pending comparison of the path itself has
// answered, as it would come after it in a one-process run.
void wait_for_prerequisite(mirlo_manager *m, const char *name1, diff_options *options)
{
    for (const exclude_node *node = options->exclude_attrs; node; node = node->next) {
        if (node->obj_type == TREK_GROUP)
            continue;
        size_t len = std::strlen(node->path);
        if (std::strncmp(name1, node->path, len) != 0 || name1[len] != '/')
            continue;
        for (size_t w = 0; w < m->worker_idle.size(); ++w) {
            while (!m->worker_idle[w] && m->task_name1[w] == node->path)
                take_one_answer(m, options);
        }
    }
}

} // namespace

void send_stop_to_workers()
{
    if (stop_sent)
        return;
    stop_sent = true;
    for (int rank = 1; rank < mpi_size; ++rank)
        MPI_Send(nullptr, 0, MPI_BYTE, rank, TAG_STOP, MPI_COMM_WORLD);
}

bool workers_stopped()
{
    return stop_sent;
}

void mirlo_abort_run()
{
    fflush(stdout);
    fflush(stderr);
    // The launcher forwards each process's output through a pipe; once the
    // job is aborted what is still in the pipe may be dropped, and with it
    // the message that says why. A moment's pause lets it through.
    timespec pause{0, 200000000};
    nanosleep(&pause, nullptr);
    MPI_Abort(MPI_COMM_WORLD, MIRLO_ABORT_CODE);
    std::abort();
}

void mirlo_wait_probe(int source, int tag, MPI_Status *status)
{
    constexpr int SPIN_POLLS = 2000;
    constexpr long MAX_SLEEP_NS = 500000;
    long sleep_ns = 10000;
    for (int polls = 0;; ++polls) {
        int found = 0;
        MPI_Iprobe(source, tag, MPI_COMM_WORLD, &found, status);
        if (found)
            return;
        if (polls < SPIN_POLLS)
            continue;
        timespec ts{0, sleep_ns};
        nanosleep(&ts, nullptr);
        sleep_ns = std::min(sleep_ns * 2, MAX_SLEEP_NS);
    }
}

std::vector<unsigned char> mirlo_pack_settings(const diff_options *options)
{
    std::vector<unsigned char> out;
    put<int32_t>(&out, enable_error_stack);
    const exclude_node *attrs = options->exclude_attr_mode ? options->exclude_attrs : nullptr;
    int32_t n = 0;
    for (const exclude_node *node = attrs; node; node = node->next)
        ++n;
    put<int32_t>(&out, n);
    for (const exclude_node *node = attrs; node; node = node->next) {
        uint32_t len = static_cast<uint32_t>(std::strlen(node->path));
        put<int32_t>(&out, node->obj_type);
        put<uint32_t>(&out, len);
        put_bytes(&out, node->path, len);
    }
    for (const subset_spec *spec : options->subsets) {
        put<uint8_t>(&out, spec != nullptr);
        if (spec == nullptr)
            continue;
        put_list(&out, spec->start);
        put_list(&out, spec->stride);
        put_list(&out, spec->count);
        put_list(&out, spec->block);
    }
    return out;
}

void mirlo_worker_settings_clear(mirlo_worker_settings *settings)
{
    settings->paths.clear();
    settings->attrs.clear();
    for (subset_spec *&spec : settings->subsets) {
        subset_spec_free(spec);
        spec = nullptr;
    }
    settings->error_stack_level = 0;
}

int mirlo_unpack_settings(const unsigned char *bytes, size_t size, mirlo_worker_settings *settings)
{
    mirlo_worker_settings_clear(settings);
    reader in{bytes, size};
    settings->error_stack_level = in.get<int32_t>();
    int32_t n = in.get<int32_t>();
    if (!in.ok || n < 0 || static_cast<size_t>(n) > size)
        return mirlo_worker_settings_clear(settings), -1;
    // Paths first, into one string; the nodes point into it once it stops growing.
    std::vector<std::pair<int32_t, size_t>> entries;
    for (int32_t i = 0; i < n; ++i) {
        int32_t type = in.get<int32_t>();
        uint32_t len = in.get<uint32_t>();
        if (!in.ok || len > in.left)
            return mirlo_worker_settings_clear(settings), -1;
        entries.emplace_back(type, settings->paths.size());
        settings->paths.append(reinterpret_cast<const char *>(in.p), len);
        settings->paths.push_back('\0');
        in.p += len;
        in.left -= len;
    }
    settings->attrs.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        exclude_node &node = settings->attrs[i];
        node.path = settings->paths.c_str() + entries[i].second;
        node.obj_type = entries[i].first;
        node.next = i + 1 < entries.size() ? &settings->attrs[i + 1] : nullptr;
    }
    for (subset_spec *&spec : settings->subsets) {
        uint8_t present = in.get<uint8_t>();
        if (!in.ok)
            return mirlo_worker_settings_clear(settings), -1;
        if (!present)
            continue;
        spec = static_cast<subset_spec *>(std::calloc(1, sizeof(subset_spec)));
        if (spec == nullptr || !get_list(&in, &spec->start) || !get_list(&in, &spec->stride) ||
            !get_list(&in, &spec->count) || !get_list(&in, &spec->block))
            return mirlo_worker_settings_clear(settings), -1;
    }
    return in.left == 0 ? 0 : (mirlo_worker_settings_clear(settings), -1);
}

void mirlo_apply_settings(mirlo_worker_settings *settings, diff_options *options)
{
    // The pointers in the received bytes belong to the manager's address
    // space; none of them is ever followed here.
    options->exclude_paths = nullptr;
    options->exclude_attrs = options->exclude_attr_mode && !settings->attrs.empty() ? settings->attrs.data() : nullptr;
    options->object_names[0] = nullptr;
    options->object_names[1] = nullptr;
    options->subsets[0] = settings->subsets[0];
    options->subsets[1] = settings->subsets[1];
}

void mirlo_send_file_names(const char *file1, const char *file2, const diff_options *options)
{
    if (std::strlen(file1) >= MIRLO_FILE_NAME_SLOT || std::strlen(file2) >= MIRLO_FILE_NAME_SLOT) {
        fprintf(stderr, "The parallel diff only supports path names up to %d characters\n",
                static_cast<int>(MIRLO_FILE_NAME_SLOT - 1));
        abort_run();
    }
    file_names_message msg = {};
    std::strcpy(msg.file1, file1);
    std::strcpy(msg.file2, file2);
    std::vector<unsigned char> settings = mirlo_pack_settings(options);
    for (int rank = 1; rank < mpi_size; ++rank) {
        MPI_Send(&msg, sizeof msg, MPI_CHAR, rank, TAG_FILES, MPI_COMM_WORLD);
        MPI_Send(settings.data(), static_cast<int>(settings.size()), MPI_BYTE, rank, TAG_SETTINGS, MPI_COMM_WORLD);
    }
}

mirlo_manager mirlo_manager_begin()
{
    mirlo_manager m;
    size_t workers = mpi_size > 1 ? static_cast<size_t>(mpi_size - 1) : 0;
    m.worker_idle.assign(workers, 1);
    m.task_name1.assign(workers, std::string());
    m.settings_sent.assign(workers, 0);
    return m;
}

void mirlo_dispatch_task(mirlo_manager *m, const char *name1, const char *name2, const object_pair_info *pair,
                         diff_options *options)
{
    if (std::strlen(name1) >= MIRLO_OBJECT_NAME_SLOT || std::strlen(name2) >= MIRLO_OBJECT_NAME_SLOT) {
        printf("The parallel diff only supports object names up to %d characters\n",
               static_cast<int>(MIRLO_OBJECT_NAME_SLOT - 1));
        abort_run();
    }
    if (m->worker_idle.empty()) {
        // Without workers no answer could ever come.
        fprintf(stderr, "mirlo error: a pair was dispatched in a run without workers\n");
        abort_run();
    }
    work_task task;
    std::memset(&task, 0, sizeof task);
    std::strcpy(task.name1, name1);
    std::strcpy(task.name2, name2);
    task.pair = *pair;

    if (options->exclude_attr_mode)
        wait_for_prerequisite(m, name1, options);
    if (m->busy_tasks > 0)
        take_waiting_answers(m, options);

    size_t w = 0;
    while (w < m->worker_idle.size() && !m->worker_idle[w])
        ++w;
    if (w == m->worker_idle.size())
        w = static_cast<size_t>(take_one_answer(m, options) - 1);
    // The options copy is taken now, with every answer received so far.
    std::memcpy(&task.options, options, sizeof task.options);
    int rank = static_cast<int>(w + 1);
    send_task(m, rank, task, options);
    m->worker_idle[w] = 0;
    ++m->busy_tasks;
}

nfound_t mirlo_collect_and_stop(mirlo_manager *m, diff_options *options)
{
    while (m->busy_tasks > 0)
        take_one_answer(m, options);
    send_stop_to_workers();
    fflush(stdout);
    return m->nfound;
}

void reset_worker_stop()
{
    stop_sent = false;
}
