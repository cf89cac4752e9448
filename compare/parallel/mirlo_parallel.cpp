// The messages of a multi-process comparison as byte strings, the sends that
// never block, the stop and the abort.
#include "mirlo_parallel.hpp"
#include "mirlo_bytes.hpp"
#include "mirlo_wait.hpp"
#include "zarn.hpp"

#include <mpi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>

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
void send_to_workers(const mirlo_crew *crew, int tag, std::vector<unsigned char> bytes)
{
    const int size = crew->size;
    std::vector<MPI_Request> requests(static_cast<size_t>(std::max(size - 1, 0)), MPI_REQUEST_NULL);
    for (int rank = 1; rank < size; ++rank)
        MPI_Isend(bytes.data(), static_cast<int>(bytes.size()), MPI_BYTE, rank, tag, MPI_COMM_WORLD,
                  &requests[static_cast<size_t>(rank - 1)]);
    for (int rank = 1; rank < size; ++rank)
        mirlo_wait_request(&requests[static_cast<size_t>(rank - 1)], rank);
}

} // namespace

void stop_workers(mirlo_crew *crew)
{
    if (crew == nullptr || !crew->parallel() || crew->stopped || crew->more_file_pairs)
        return;
    crew->stopped = true;
    send_to_workers(crew, TAG_STOP, {});
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

std::vector<unsigned char> mirlo_pack_setup(const char *file1, const char *file2, const char *start1,
                                            const char *start2, const mirlo_settings &settings)
{
    std::vector<unsigned char> out;
    put_text(&out, file1);
    put_text(&out, file2);
    put_text(&out, start1);
    put_text(&out, start2);
    const std::vector<unsigned char> packed = settings_to_bytes(settings);
    put_bytes(&out, packed.data(), packed.size());
    return out;
}

int mirlo_unpack_setup(const unsigned char *bytes, size_t size, mirlo_setup *setup)
{
    byte_reader in{bytes, size};
    if (!in.text(&setup->file1) || !in.text(&setup->file2) || !in.text(&setup->start1) || !in.text(&setup->start2))
        return -1;
    return settings_from_bytes(in.p, in.left, &setup->settings);
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
    byte_reader in{bytes, size};
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
    byte_reader in{bytes, size};
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

void mirlo_send_setup(const mirlo_crew *crew, const char *file1, const char *file2, const char *start1,
                      const char *start2, const mirlo_settings &settings)
{
    send_to_workers(crew, TAG_SETUP, mirlo_pack_setup(file1, file2, start1, start2, settings));
}
