// The messages of a multi-process comparison as byte strings, the sends that
// never block, the stop and the abort.
#include "mirlo_parallel.hpp"
#include "mirlo.hpp"
#include "mirlo_wait.hpp"
#include "zarn.hpp"

#include <mpi.h>

#include <algorithm>
#include <ctime>
#include <list>
#include <cstdio>
#include <cstring>

namespace {

bool stop_sent = false;


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

} // namespace

void mirlo_post(mirlo_outbox *box, int dest, int tag, std::vector<unsigned char> bytes)
{
    box->pending.emplace_back();
    mirlo_outbox::message &m = box->pending.back();
    m.bytes = std::move(bytes);
    MPI_Isend(m.bytes.data(), static_cast<int>(m.bytes.size()), MPI_BYTE, dest, tag, MPI_COMM_WORLD, &m.request);
}

bool mirlo_outbox_progress(mirlo_outbox *box)
{
    bool left = false;
    for (auto it = box->pending.begin(); it != box->pending.end();) {
        int done = 0;
        MPI_Test(&it->request, &done, MPI_STATUS_IGNORE);
        if (done) {
            it = box->pending.erase(it);
            left = true;
        } else {
            ++it;
        }
    }
    return left;
}

namespace {

// Sends the same bytes to every worker and waits until all have taken them.
void send_to_workers(int tag, std::vector<unsigned char> bytes)
{
    std::vector<MPI_Request> requests(static_cast<size_t>(std::max(mpi_size - 1, 0)), MPI_REQUEST_NULL);
    for (int rank = 1; rank < mpi_size; ++rank)
        MPI_Isend(bytes.data(), static_cast<int>(bytes.size()), MPI_BYTE, rank, tag, MPI_COMM_WORLD,
                  &requests[static_cast<size_t>(rank - 1)]);
    for (int rank = 1; rank < mpi_size; ++rank)
        mirlo_wait_request(&requests[static_cast<size_t>(rank - 1)], rank);
}

} // namespace

void send_stop_to_workers()
{
    if (stop_sent)
        return;
    stop_sent = true;
    send_to_workers(TAG_STOP, {});
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

mirlo_worker_settings::~mirlo_worker_settings()
{
    mirlo_worker_settings_clear(this);
}

void mirlo_apply_settings(mirlo_worker_settings *settings, diff_options *options)
{
    // The pointers in the received bytes belong to the manager's address
    // space; none of them is ever followed here.
    options->exclude_paths = nullptr;
    options->context = nullptr;
    options->exclude_attrs = options->exclude_attr_mode && !settings->attrs.empty() ? settings->attrs.data() : nullptr;
    options->object_names[0] = nullptr;
    options->object_names[1] = nullptr;
    options->subsets[0] = settings->subsets[0];
    options->subsets[1] = settings->subsets[1];
}

void reset_worker_stop()
{
    stop_sent = false;
}

namespace {

void put_text(std::vector<unsigned char> *out, const std::string &text)
{
    put<uint64_t>(out, text.size());
    put_bytes(out, text.data(), text.size());
}

bool get_text(reader *in, std::string *text)
{
    uint64_t n = in->get<uint64_t>();
    if (!in->ok || n > in->left)
        return false;
    text->assign(reinterpret_cast<const char *>(in->p), static_cast<size_t>(n));
    in->p += n;
    in->left -= n;
    return true;
}

} // namespace

std::vector<unsigned char> mirlo_pack_setup(const char *file1, const char *file2, const char *start1,
                                            const char *start2, const diff_options *options)
{
    std::vector<unsigned char> out;
    put_text(&out, file1);
    put_text(&out, file2);
    put_text(&out, start1);
    put_text(&out, start2);
    put(&out, *options);
    std::vector<unsigned char> settings = mirlo_pack_settings(options);
    put_bytes(&out, settings.data(), settings.size());
    return out;
}

int mirlo_unpack_setup(const unsigned char *bytes, size_t size, mirlo_setup *setup)
{
    reader in{bytes, size};
    if (!get_text(&in, &setup->file1) || !get_text(&in, &setup->file2) || !get_text(&in, &setup->start1) ||
        !get_text(&in, &setup->start2) || !in.take(&setup->options, sizeof setup->options))
        return -1;
    setup->settings.assign(in.p, in.p + in.left);
    return 0;
}

void mirlo_pack_task(const mirlo_task &task, std::vector<unsigned char> *out)
{
    task_record r = task.record;
    r.name1_size = static_cast<uint32_t>(task.name1.size());
    r.name2_size = static_cast<uint32_t>(task.name2.size());
    put(out, r);
    put_bytes(out, task.name1.data(), task.name1.size());
    put_bytes(out, task.name2.data(), task.name2.size());
}

int mirlo_unpack_tasks(const unsigned char *bytes, size_t size, std::vector<mirlo_task> *tasks)
{
    reader in{bytes, size};
    while (in.left > 0) {
        mirlo_task t;
        if (!in.take(&t.record, sizeof t.record))
            return -1;
        const size_t n1 = t.record.name1_size;
        const size_t n2 = t.record.name2_size;
        if (n1 > in.left || n2 > in.left - n1)
            return -1;
        t.name1.assign(reinterpret_cast<const char *>(in.p), n1);
        t.name2.assign(reinterpret_cast<const char *>(in.p) + n1, n2);
        in.p += n1 + n2;
        in.left -= n1 + n2;
        tasks->push_back(std::move(t));
    }
    return 0;
}

void mirlo_pack_result(const result_record &record, const char *output, const char *task_record,
                       std::vector<unsigned char> *out)
{
    put(out, record);
    put_bytes(out, output, static_cast<size_t>(record.output_inline));
    put_bytes(out, task_record, static_cast<size_t>(record.record_size));
}

int mirlo_unpack_results(const unsigned char *bytes, size_t size, std::vector<mirlo_result_view> *results)
{
    reader in{bytes, size};
    while (in.left > 0) {
        mirlo_result_view v;
        if (!in.take(&v.record, sizeof v.record) || v.record.output_inline > in.left ||
            v.record.record_size > in.left - v.record.output_inline)
            return -1;
        v.output = reinterpret_cast<const char *>(in.p);
        v.task_record = v.output + v.record.output_inline;
        const size_t taken = static_cast<size_t>(v.record.output_inline + v.record.record_size);
        in.p += taken;
        in.left -= taken;
        results->push_back(v);
    }
    return 0;
}

void mirlo_receive_bytes(const MPI_Status &st, std::vector<unsigned char> *bytes)
{
    int count = 0;
    MPI_Get_count(&st, MPI_BYTE, &count);
    bytes->resize(static_cast<size_t>(count));
    MPI_Request request;
    MPI_Irecv(bytes->data(), count, MPI_BYTE, st.MPI_SOURCE, st.MPI_TAG, MPI_COMM_WORLD, &request);
    mirlo_wait_request(&request, st.MPI_SOURCE);
}

void mirlo_send_setup(const char *file1, const char *file2, const char *start1, const char *start2,
                      const diff_options *options)
{
    send_to_workers(TAG_SETUP, mirlo_pack_setup(file1, file2, start1, start2, options));
}
