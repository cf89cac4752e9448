// The worker side of a multi-process comparison.
#include "mirlo_worker.hpp"
#include "h5_handle.hpp"
#include "mirlo_diff.hpp"
#include "mirlo_parallel.hpp"
#include "zarn.hpp"
#include "zarn_fatal.hpp"
#include "zarn_fopen.hpp"
#include "zarn_utils.hpp"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void abort_run()
{
    mirlo_abort_run();
}

void send_chunk(const char *chunk)
{
    MPI_Send(chunk, OUTPUT_CHUNK, MPI_CHAR, 0, TAG_OUTPUT, MPI_COMM_WORLD);
}

// Compares the pair of one task and answers the manager.
void run_task(hid_t file1, hid_t file2, mirlo_worker_settings *settings, pair_comparer compare)
{
    work_task task;
    MPI_Recv(&task, sizeof task, MPI_BYTE, 0, TAG_WORK, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    // The names are cut at their slot in case a terminator went missing.
    task.name1[MIRLO_OBJECT_NAME_SLOT - 1] = '\0';
    task.name2[MIRLO_OBJECT_NAME_SLOT - 1] = '\0';

    // The exclusion list and subset records reach this process through
    // TAG_SETTINGS (sent after the file names, and again before a task
    // whenever an --exclude-attribute entry has since been matched to a group
    // elsewhere); the pointer fields of the received record are replaced by
    // this process's own copies and never followed.
    diff_options *options = &task.options;
    mirlo_apply_settings(settings, options);

    // Which --exclude-attribute entries are matched to a group before the
    // pair, to tell the manager when this pair matched one.
    std::vector<unsigned char> was_group(settings->attrs.size());
    for (size_t i = 0; i < settings->attrs.size(); ++i)
        was_group[i] = settings->attrs[i].obj_type == TREK_GROUP;

    zarn_note_activity("comparing", task.name1, task.name2);
    object_pair_info pair = task.pair;
    nfound_t nfound = compare(file1, task.name1, file2, task.name2, options, &pair);
    zarn_clear_activity();

    worker_result result = {};
    result.nfound = nfound;
    result.not_comparable = options->not_comparable;
    result.error_status = static_cast<uint8_t>(options->error_status);
    result.contents_equal = options->contents_equal != 0;
    for (size_t i = 0; i < settings->attrs.size(); ++i)
        if (!was_group[i] && settings->attrs[i].obj_type == TREK_GROUP)
            result.attr_group_matched = 1;

    if (outBuffOffset == 0 && overflow_file == nullptr) {
        MPI_Send(&result, sizeof result, MPI_BYTE, 0, TAG_RESULT, MPI_COMM_WORLD);
        return;
    }
    MPI_Send(nullptr, 0, MPI_BYTE, 0, TAG_PRINT_ASK, MPI_COMM_WORLD);
    MPI_Status grant;
    mirlo_wait_probe(0, TAG_PRINT_GRANT, &grant);
    MPI_Recv(nullptr, 0, MPI_BYTE, 0, TAG_PRINT_GRANT, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    send_collected_output();
    MPI_Send(&result, sizeof result, MPI_BYTE, 0, TAG_RESULT_PRINTED, MPI_COMM_WORLD);
}

void open_files(hid_t *ids, h5_file *file1, h5_file *file2, int rank)
{
    file_names_message msg;
    MPI_Recv(&msg, sizeof msg, MPI_CHAR, 0, TAG_FILES, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    msg.file1[MIRLO_FILE_NAME_SLOT - 1] = '\0';
    msg.file2[MIRLO_FILE_NAME_SLOT - 1] = '\0';
    h5_errors_off quiet;
    const char *names[2] = {msg.file1, msg.file2};
    h5_file *files[2] = {file1, file2};
    for (int i = 0; i < 2; ++i) {
        zarn_note_activity("opening file", names[i], nullptr);
        // Opened as the manager opens them, through whichever driver reads
        // the file, so a file written through another driver (family, split,
        // multi) is compared here too.
        files[i]->reset(zarn_fopen(names[i], H5F_ACC_RDONLY, H5P_DEFAULT, false, nullptr, 0));
        zarn_clear_activity();
        if (!files[i]->valid()) {
            printf("mirlo Task [%d]: <%s>: unable to open file\n", rank,
                   zarn_printable_name(names[i]).c_str());
            abort_run();
        }
    }
    ids[0] = *file1;
    ids[1] = *file2;
}

} // namespace

int send_collected_output()
{
    int chunks = 0;
    char chunk[OUTPUT_CHUNK];
    for (unsigned offset = 0; offset < outBuffOffset; offset += OUTPUT_CHUNK) {
        std::memset(chunk, 0, sizeof chunk);
        unsigned n = outBuffOffset - offset < OUTPUT_CHUNK ? outBuffOffset - offset : OUTPUT_CHUNK;
        std::memcpy(chunk, outBuff + offset, n);
        send_chunk(chunk);
        ++chunks;
    }
    if (overflow_file != nullptr) {
        rewind(overflow_file);
        size_t n;
        for (;;) {
            std::memset(chunk, 0, sizeof chunk);
            n = fread(chunk, 1, sizeof chunk, overflow_file);
            if (n == 0)
                break;
            send_chunk(chunk);
            ++chunks;
            if (n < sizeof chunk)
                break;
        }
        fclose(overflow_file);
        overflow_file = nullptr;
    }
    fflush(stdout);
    std::memset(outBuff, 0, sizeof outBuff);
    outBuffOffset = 0;
    return chunks;
}

void worker_loop()
{
    worker_run(diff);
}

void worker_run(pair_comparer compare)
{
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    h5_file file1;
    h5_file file2;
    hid_t ids[2] = {-1, -1};
    mirlo_worker_settings settings;

    for (;;) {
        MPI_Status st;
        mirlo_wait_probe(0, MPI_ANY_TAG, &st);
        switch (st.MPI_TAG) {
        case TAG_FILES:
            open_files(ids, &file1, &file2, rank);
            break;
        case TAG_SETTINGS: {
            int size = 0;
            MPI_Get_count(&st, MPI_BYTE, &size);
            std::vector<unsigned char> bytes(static_cast<size_t>(size));
            MPI_Recv(bytes.data(), size, MPI_BYTE, 0, TAG_SETTINGS, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            if (mirlo_unpack_settings(bytes.data(), bytes.size(), &settings) < 0) {
                printf("pmirlo_worker: ERROR: malformed settings received\n");
                abort_run();
            }
            enable_error_stack = settings.error_stack_level;
            break;
        }
        case TAG_WORK:
            if (ids[0] < 0 || ids[1] < 0) {
                // The manager waits for an answer that cannot come: end the
                // whole run rather than leave it waiting.
                printf("pmirlo_worker: ERROR: work received before/without filenames\n");
                abort_run();
            }
            run_task(ids[0], ids[1], &settings, compare);
            break;
        case TAG_STOP:
            MPI_Recv(nullptr, 0, MPI_BYTE, 0, TAG_STOP, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
            mirlo_worker_settings_clear(&settings);
            file1.reset();
            file2.reset();
            MPI_Barrier(MPI_COMM_WORLD);
            return;
        default:
            printf("pmirlo_worker: ERROR: invalid tag (%d) received\n", st.MPI_TAG);
            abort_run();
        }
    }
}
