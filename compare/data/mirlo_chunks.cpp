// Chunk geometry, stored-chunk comparison and fill values of a dataset pair.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_chunks.hpp"
#include "mirlo_array.hpp"
#include "h5_handle.hpp"
#include "zarn_filters.hpp"

#include <H5Zpublic.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>

namespace {

// Two pipelines that turn equal values into equal stored bytes: the same
// filters with the same flags and client values (names aside).
bool same_pipeline(const std::vector<zarn_filter> &a, const std::vector<zarn_filter> &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const zarn_filter &x, const zarn_filter &y) {
        return x.id == y.id && x.flags == y.flags && x.values == y.values;
    });
}

// Chunk dimensions of a chunked dataset's creation list; false otherwise.
bool chunk_dims(hid_t dcpl, int rank, hsize_t *dims)
{
    if (H5Pget_layout(dcpl) != H5D_CHUNKED)
        return false;
    return H5Pget_chunk(dcpl, rank, dims) == rank;
}

// True when reading unwritten data of a dataset leaves the reader's buffer
// as it was: fill time "never", or no fill value defined.
bool leaves_unwritten_alone(hid_t dcpl)
{
    H5D_fill_value_t defined;
    H5D_fill_time_t when;
    if (H5Pfill_value_defined(dcpl, &defined) < 0 || H5Pget_fill_time(dcpl, &when) < 0)
        return true;
    return defined == H5D_FILL_VALUE_UNDEFINED || when == H5D_FILL_TIME_NEVER;
}

// What unwritten data of a dataset reads as, converted to mtype, into out:
// its fill value, or zeros where the library leaves the buffer alone (the
// comparison zeroes its buffers first). False when it cannot be had.
bool unwritten_value(hid_t dcpl, hid_t mtype, std::vector<unsigned char> *out)
{
    out->assign(H5Tget_size(mtype), 0);
    if (out->empty())
        return false;
    return leaves_unwritten_alone(dcpl) || H5Pget_fill_value(dcpl, mtype, out->data()) >= 0;
}

// True when the unwritten data of both datasets reads as the same values
// once converted to the same memory type: equal fill values, or zeros on
// both sides where neither defines one.
bool fill_values_match(hid_t dcpl1, hid_t dcpl2, const hid_t mtype[2])
{
    if (H5Tequal(mtype[0], mtype[1]) <= 0)
        return false;
    std::vector<unsigned char> f1, f2;
    return unwritten_value(dcpl1, mtype[0], &f1) && unwritten_value(dcpl2, mtype[1], &f2) && f1 == f2;
}

// Whether a checksum comes last in the pipeline, covering the stored bytes
// (its filter-mask bit in *bit): it is verified on them.
void checksum_proof(const std::vector<zarn_filter> &pipeline, bool *checksum, unsigned *bit)
{
    *checksum = !pipeline.empty() && pipeline.back().id == H5Z_FILTER_FLETCHER32;
    *bit = static_cast<unsigned>(pipeline.size()) - 1;
}

// A stored chunk whose checksum fails would fail to read: it proves nothing.
bool checksum_holds(const unsigned char *data, size_t size)
{
    if (size < 4)
        return false;
    const uint32_t sum = chunk_fletcher32(data, size - 4);
    const unsigned char *s = data + size - 4;
    const uint32_t stored = static_cast<uint32_t>(s[0]) | static_cast<uint32_t>(s[1]) << 8 |
                            static_cast<uint32_t>(s[2]) << 16 | static_cast<uint32_t>(s[3]) << 24;
    // Old writers stored the checksum with its bytes reversed; readers accept both.
    const uint32_t reversed = (sum >> 24) | ((sum >> 8) & 0xff00u) | ((sum << 8) & 0xff0000u) | (sum << 24);
    return stored == sum || stored == reversed;
}

hsize_t lcm_or_extent(hsize_t a, hsize_t b, hsize_t extent)
{
    const hsize_t g = std::gcd(a, b);
    const unsigned __int128 l = static_cast<unsigned __int128>(a / g) * b;
    return l >= extent ? std::max<hsize_t>(extent, 1) : static_cast<hsize_t>(l);
}

// The deepest record of the error stack: where a failure came from.
struct error_origin {
    std::string function;
    hid_t major = -1, minor = -1;
    bool seen = false;
};

herr_t note_deepest(unsigned, const H5E_error2_t *e, void *data)
{
    auto *origin = static_cast<error_origin *>(data);
    if (!origin->seen) {
        origin->seen = true;
        origin->function = e->func_name != nullptr ? e->func_name : "";
        origin->major = e->maj_num;
        origin->minor = e->min_num;
    }
    return 0;
}

// The stored size of the chunk at offset: 1 with *size set, 0 for a chunk
// never written, -1 when it cannot be told. HDF5 1.10 answers a chunk that
// was never written with a failure raised by the size function itself
// ("chunk storage is not allocated"); a failure with a deeper cause (an
// index that cannot be read) tells nothing.
int stored_size(hid_t did, const hsize_t *offset, hsize_t *size)
{
    *size = 0;
    if (H5Dget_chunk_storage_size(did, offset, size) >= 0)
        return 1;
    error_origin origin;
    if (H5Ewalk2(H5E_DEFAULT, H5E_WALK_UPWARD, note_deepest, &origin) < 0)
        return -1;
    const bool never_written = origin.seen && origin.function == "H5D__get_chunk_storage_size" &&
                               origin.major == H5E_DATASET && origin.minor == H5E_CANTGET;
    return never_written ? 0 : -1;
}

// One chunk at offset: true when it provably holds no difference. Each call
// costs a look-up in each chunk index that does not grow with the number of
// chunks (H5Dget_chunk_storage_size and H5Dread_chunk look the chunk up by
// its coordinates; H5Dget_chunk_info_by_coord walks the whole index in
// HDF5 1.10, which made a dataset of many chunks cost the square of their
// number), so looking at a chunk costs less than reading it would.
bool chunk_holds_no_difference(chunk_pair &cp, const hid_t did[2], const hsize_t *offset, chunk_stats *stats)
{
    hsize_t size[2];
    for (int k = 0; k < 2; ++k)
        if (stored_size(did[k], offset, &size[k]) < 0)
            return false;
    const bool written[2] = {size[0] != 0, size[1] != 0};
    if (!written[0] && !written[1]) {
        if (!cp.fill)
            return false;
        ++stats->fill_equal;
        return true;
    }
    if (!written[0] || !written[1] || !cp.raw || size[0] != size[1])
        return false;
    uint32_t mask[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        if (cp.stored[k].size() < size[k])
            cp.stored[k].resize(size[k]);
        if (H5Dread_chunk(did[k], H5P_DEFAULT, offset, &mask[k], cp.stored[k].data()) < 0)
            return false;
    }
    if (mask[0] != mask[1])
        return false;
    const size_t n = static_cast<size_t>(size[0]);
    if (std::memcmp(cp.stored[0].data(), cp.stored[1].data(), n) != 0)
        return false;
    // A chunk stored without its checksum proves nothing about its readability.
    if (cp.check_fletcher32 &&
        ((mask[0] & (1u << cp.fletcher32_bit)) != 0 || !checksum_holds(cp.stored[0].data(), n)))
        return false;
    ++stats->raw_equal;
    return true;
}

} // namespace

uint32_t chunk_fletcher32(const unsigned char *data, size_t len)
{
    // Sums of big-endian 16-bit words, folded often enough not to overflow;
    // an odd last byte is the high half of a word.
    uint32_t sum1 = 0, sum2 = 0;
    size_t words = len / 2;
    while (words > 0) {
        size_t run = std::min<size_t>(words, 360);
        words -= run;
        do {
            sum1 += static_cast<uint32_t>(data[0]) << 8 | data[1];
            sum2 += sum1;
            data += 2;
        } while (--run > 0);
        sum1 = (sum1 & 0xffff) + (sum1 >> 16);
        sum2 = (sum2 & 0xffff) + (sum2 >> 16);
    }
    if (len % 2 != 0) {
        sum1 += static_cast<uint32_t>(data[0]) << 8;
        sum2 += sum1;
        sum1 = (sum1 & 0xffff) + (sum1 >> 16);
        sum2 = (sum2 & 0xffff) + (sum2 >> 16);
    }
    sum1 = (sum1 & 0xffff) + (sum1 >> 16);
    sum2 = (sum2 & 0xffff) + (sum2 >> 16);
    return sum2 << 16 | sum1;
}

bool equal_data_holds_no_difference(const pair_rule &rule, hid_t ftype1, hid_t ftype2, bool has_vlen)
{
    return !has_vlen && equal_bytes_are_equal_values(rule, ftype1) &&
           equal_bytes_are_equal_values(rule, ftype2);
}

void chunk_pair_init(const hid_t dcpl[2], const hid_t ftype[2], const hid_t mtype[2], int rank,
                     const hsize_t *dims, bool shortcuts, chunk_pair *cp)
{
    h5_errors_off quiet;
    cp->rank = rank;
    if (rank <= 0)
        return;
    if (dcpl[0] < 0 || dcpl[1] < 0)
        return;
    hsize_t c[2][MIRLO_MAX_RANK];
    const bool chunked[2] = {chunk_dims(dcpl[0], rank, c[0]), chunk_dims(dcpl[1], rank, c[1])};
    if (!chunked[0] && !chunked[1])
        return;
    cp->chunked = true;
    for (int i = 0; i < rank; ++i) {
        cp->dims[i] = dims[i];
        if (chunked[0] && chunked[1])
            cp->grid[i] = lcm_or_extent(c[0][i], c[1][i], dims[i]);
        else
            cp->grid[i] = chunked[0] ? c[0][i] : c[1][i];
    }
    if (!shortcuts || !chunked[0] || !chunked[1] || !std::equal(c[0], c[0] + rank, c[1]))
        return;
    std::copy(c[0], c[0] + rank, cp->chunk);

    cp->fill = fill_values_match(dcpl[0], dcpl[1], mtype);

    std::vector<zarn_filter> pipeline[2];
    unsigned opts[2] = {0, 0};
    cp->raw = H5Tequal(ftype[0], ftype[1]) > 0 && zarn_read_filters(dcpl[0], &pipeline[0]) &&
              zarn_read_filters(dcpl[1], &pipeline[1]) && same_pipeline(pipeline[0], pipeline[1]) &&
              H5Pget_chunk_opts(dcpl[0], &opts[0]) >= 0 && H5Pget_chunk_opts(dcpl[1], &opts[1]) >= 0 &&
              opts[0] == opts[1];
    if (cp->raw)
        checksum_proof(pipeline[0], &cp->check_fletcher32, &cp->fletcher32_bit);
    cp->per_chunk = cp->raw || cp->fill;
}

chunk_verdict chunks_hold_no_difference(chunk_pair &cp, hid_t did1, hid_t did2, const hsize_t *origin,
                                        const hsize_t *extent, chunk_stats *stats, std::vector<hsize_t> *unproven)
{
    if (!cp.per_chunk)
        return chunk_verdict::unproven;
    const int rank = cp.rank;
    const hid_t did[2] = {did1, did2};
    hsize_t first[MIRLO_MAX_RANK], last[MIRLO_MAX_RANK], at[MIRLO_MAX_RANK];
    for (int i = 0; i < rank; ++i) {
        if (extent[i] == 0)
            return chunk_verdict::equal;
        first[i] = origin[i] / cp.chunk[i] * cp.chunk[i];
        last[i] = std::min(origin[i] + extent[i], cp.dims[i]) - 1;
        at[i] = first[i];
    }
    h5_errors_off quiet;
    bool proven = false;
    // Every chunk of the box, row-major over the chunk grid.
    for (;;) {
        if (chunk_holds_no_difference(cp, did, at, stats)) {
            proven = true;
        } else {
            if (unproven == nullptr)
                return chunk_verdict::unproven;
            unproven->insert(unproven->end(), at, at + rank);
        }
        int i = rank - 1;
        for (; i >= 0; --i) {
            at[i] += cp.chunk[i];
            if (at[i] <= last[i])
                break;
            at[i] = first[i];
        }
        if (i < 0) {
            return proven ? chunk_verdict::equal : chunk_verdict::unproven;
        }
    }
}

bool creation_list_needed(hid_t did)
{
    h5_errors_off quiet;
    // Only a chunked dataset has a chunk index; any other layout answers with
    // an error at once, without reading anything.
    H5D_chunk_index_t index;
    if (H5Dget_chunk_index_type(did, &index) >= 0)
        return true;
    return H5Dget_storage_size(did) == 0;
}

bool read_creation_lists(const hid_t did[2], h5_plist dcpl[2])
{
    if (!dcpl[0].valid() && !dcpl[1].valid() && !creation_list_needed(did[0]) && !creation_list_needed(did[1]))
        return false;
    h5_errors_off quiet;
    for (int k = 0; k < 2; ++k)
        if (!dcpl[k].valid())
            dcpl[k].reset(H5Dget_create_plist(did[k]));
    return true;
}

bool dataset_leaves_unwritten_alone(hid_t dcpl)
{
    h5_errors_off quiet;
    return dcpl < 0 || leaves_unwritten_alone(dcpl);
}

bool unwritten_pair_holds_no_difference(hid_t did1, hid_t did2, const hid_t dcpl[2], const hid_t mtype[2])
{
    h5_errors_off quiet;
    for (hid_t did : {did1, did2})
        if (H5Dget_storage_size(did) != 0)
            return false;
    for (int k = 0; k < 2; ++k) {
        const hid_t d = dcpl[k];
        if (d < 0)
            return false;
        const H5D_layout_t layout = H5Pget_layout(d);
        // External files and virtual sources hold data the storage size does not count.
        if ((layout != H5D_CONTIGUOUS && layout != H5D_CHUNKED) || H5Pget_external_count(d) != 0)
            return false;
    }
    return fill_values_match(dcpl[0], dcpl[1], mtype);
}
