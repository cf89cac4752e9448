// What the storage of two datasets tells a comparison before anything is
// decoded: the chunk grid that strips are aligned to, whether equal stored
// chunk bytes prove equal values, and whether the fill values of chunks that
// neither dataset ever wrote are equal (their fill values, or zeros where a
// dataset defines none: see dataset_leaves_unwritten_alone).
//
// A chunk whose stored bytes are equal in both datasets (same filters, same
// filter mask, same file type) decodes to the same values, and equal values
// are never a difference except where the rules count a value against
// itself; so such a chunk, and a chunk written in neither dataset when the
// fill values match, holds no difference and need not be compared, nor
// decoded: two copies of the same stored bytes are the same data, whatever
// they decode to. A checksum that comes last in the pipeline is verified on
// the stored bytes (it costs no decoding), so a chunk whose checksum fails is
// read and fails as on the ordinary path. Everything here only ever answers
// "no difference proven": any doubt, and any failure of the calls that look
// at the storage, sends the data down the ordinary path, which reads and
// compares it.
#pragma once
#include "h5_handle.hpp"
#include "mirlo_context.hpp"

#include <hdf5.h>

#include <cstdint>
#include <vector>

// Counts of the shortcuts taken, summed over a process's comparisons (tests
// read them to tell which path the data took).
struct chunk_stats {
    uint64_t raw_equal = 0;   // chunks whose stored bytes matched
    uint64_t fill_equal = 0;  // chunks written in neither dataset, equal fill values
    uint64_t skipped = 0;     // strips, whole reads and never-written pairs not read at all
    uint64_t partial = 0;     // strips read only where their chunks proved nothing
};

// What the storage of one dataset pair allows.
struct chunk_pair {
    int rank = 0;
    bool chunked = false;             // at least one dataset is chunked: plan strips on grid
    hsize_t grid[MIRLO_MAX_RANK] = {}; // boundaries shared by both chunk grids
    bool per_chunk = false;           // chunks can be proven equal one by one
    hsize_t chunk[MIRLO_MAX_RANK] = {}; // the (equal) chunk dimensions when per_chunk
    hsize_t dims[MIRLO_MAX_RANK] = {};
    bool raw = false;                 // stored chunk bytes may be compared
    bool fill = false;                // chunks written in neither dataset hold equal values
    bool check_fletcher32 = false;    // stored chunks end with a checksum to verify
    unsigned fletcher32_bit = 0;      // filter-mask bit of the checksum filter
    std::vector<unsigned char> stored[2];
};

// True when data that is equal in both datasets can hold no difference under
// the rule, for data of the two file types: false for a NaN that
// counts against itself (NaN detection off with --use-system-epsilon, on any
// floating-point data, nested or not), for negative tolerances, and for data
// whose bytes are not its values (variable-length data and references, which
// point into each file).
bool equal_data_holds_no_difference(const pair_rule &rule, hid_t ftype1, hid_t ftype2, bool has_vlen);

// Fills *cp from both datasets' creation lists (dcpl, either may be
// invalid): the chunk grid (always, so
// that every process plans the same strips), and, when shortcuts is set,
// what may be skipped. dims is the common extent. The memory types are those
// the data is read with. Never fails: what cannot be learnt is not used.
void chunk_pair_init(const hid_t dcpl[2], const hid_t ftype[2], const hid_t mtype[2], int rank,
                     const hsize_t *dims, bool shortcuts, chunk_pair *cp);

enum class chunk_verdict {
    unproven, // read and compare as usual
    equal,    // holds no difference: skip it
};

// Whether the box [origin, origin + extent) of the extent provably holds no
// difference: every chunk that meets it is stored with equal bytes in both
// datasets, or written in neither with equal fill values. Reads stored chunk
// bytes (never decodes them). Without unproven, stops at the first chunk
// that proves nothing; with it, looks at every chunk and appends the offsets
// (rank values each) of those that prove nothing, and the verdict is that
// of the chunks proven.
chunk_verdict chunks_hold_no_difference(chunk_pair &cp, hid_t did1, hid_t did2, const hsize_t *origin,
                                        const hsize_t *extent, chunk_stats *stats,
                                        std::vector<hsize_t> *unproven = nullptr);

// True when the storage of the dataset did raises a question only its
// creation list answers: it is chunked (chunk grid, filters, chunk
// shortcuts) or stores nothing (never written, or virtual). A compact or
// allocated contiguous dataset stores every element (one in external files
// counts their size, and the library reads what they lack as zero), so its
// list, which the library copies on every request, is never asked for.
bool creation_list_needed(hid_t did);

// The creation lists of both datasets of a pair, read into dcpl (entries
// already valid are kept) when either dataset needs its list; reading both
// keeps the chunk grid of a pair with one chunked side. True when they were
// needed (a list that could not be read stays invalid, which every question
// below treats as "unknown"); false when neither dataset needs its list.
bool read_creation_lists(const hid_t did[2], h5_plist dcpl[2]);

// True when a read of the dataset of creation list dcpl (or of a dataset
// whose creation list could not be had: H5I_INVALID_HID) may leave elements
// of the reader's buffer as they were: chunks or contiguous storage never written, with no fill
// value defined or fill time "never". The comparison zeroes its buffers
// before reading such a dataset, so those elements read as zero, on both
// sides and at every process count, whatever the buffer held before.
bool dataset_leaves_unwritten_alone(hid_t dcpl);

// True when two datasets of which neither was ever written (contiguous or
// chunked, without external storage) read as equal fill values, so the pair
// holds no difference. dcpl are their creation lists.
bool unwritten_pair_holds_no_difference(hid_t did1, hid_t did2, const hid_t dcpl[2], const hid_t mtype[2]);

// The Fletcher-32 checksum of the filter of that name, over len bytes.
uint32_t chunk_fletcher32(const unsigned char *data, size_t len);
