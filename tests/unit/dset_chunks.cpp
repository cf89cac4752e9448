// Chunk-aware dataset comparison: skipping chunks whose stored bytes or fill
// values prove them equal changes nothing that a user sees (output line for
// line, counts, status) on randomized chunked pairs, under every rule; the
// shortcut is taken where it may be and not where equal bytes may hide a
// difference; chunk-aligned strip plans tile the extent on chunk boundaries.
#include "mirlo_chunks.hpp"
#include "mirlo_dset.hpp"
#include "mirlo_strips.hpp"
#include "zarn_utils.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int RANDOM_PAIRS = 48; // /r00 ... /r47 in chunks_a.h5 and chunks_b.h5

struct run_result {
    nfound_t found = 0;
    int error_status = 0;
    bool not_comparable = false;
    std::string out;
    bool operator==(const run_result &) const = default;
};

// Strip budget and whole-read limit for a while.
struct budget_scope {
    hsize_t saved_budget = hyperslab_bufsize, saved_limit = whole_read_limit;
    budget_scope(hsize_t budget, hsize_t limit)
    {
        hyperslab_bufsize = budget;
        whole_read_limit = limit;
    }
    ~budget_scope()
    {
        hyperslab_bufsize = saved_budget;
        whole_read_limit = saved_limit;
    }
};

// diff_dataset of path in both files of the random pairs or, for a path
// that does not start with /r, of the special ones.
// The shortcuts taken by every comparison of this file, summed.
chunk_stats taken;

run_result compare(const std::string &path, const mirlo_settings &settings, bool shortcuts)
{
    const std::string files = path.rfind("/r", 0) == 0 ? "chunks_" : "chunks_special_";
    h5_file a = test_support::open_fixture(files + "a.h5");
    h5_file b = test_support::open_fixture(files + "b.h5");
    EXPECT_TRUE(a.valid() && b.valid());
    test_support::comparison o(settings);
    o.settings.chunk_shortcuts = shortcuts;
    pair_context *ctx = o.ctx();
    ctx->chunk_counts = &taken;
    auto run = test_support::capture([&] { return diff_dataset(a, b, path.c_str(), path.c_str(), o.subsets(), ctx); });
    return {run.result, o.outcome.status, o.outcome.not_comparable, run.out};
}

std::string random_pair(int k)
{
    char name[8];
    std::snprintf(name, sizeof name, "/r%02d", k);
    return name;
}

struct rule_case {
    const char *name;
    void (*set)(mirlo_settings *);
};

const rule_case rules[] = {
    {"exact", [](mirlo_settings *) {}},
    {"delta", [](mirlo_settings *o) { o->delta_mode = 1, o->delta = 0.5; }},
    {"relative", [](mirlo_settings *o) { o->relative_mode = 1, o->relative = 0.1; }},
    {"no nans", [](mirlo_settings *o) { o->detect_nans = 0; }},
    {"no nans, epsilon", [](mirlo_settings *o) { o->detect_nans = 0, o->system_epsilon_mode = 1; }},
    {"count limit", [](mirlo_settings *o) { o->count_mode = 1, o->count_limit = 2; }},
    {"verbose", [](mirlo_settings *o) { o->verbose_mode = 1, o->report_mode = 0; }},
};

TEST(ChunkShortcutTest, BothPathsPrintTheSameOnRandomPairs)
{
    const chunk_stats before = taken;
    // Whole reads, then strips of a few hundred bytes (many per pair).
    for (const auto &[budget, limit] : {std::pair<hsize_t, hsize_t>{ZARN_HYPERSLAB_BUFSIZE, ZARN_WHOLE_READ_LIMIT},
                                        std::pair<hsize_t, hsize_t>{256, 0}}) {
        budget_scope scope(budget, limit);
        for (const rule_case &rule : rules) {
            for (int k = 0; k < RANDOM_PAIRS; ++k) {
                mirlo_settings o = test_support::default_settings(true);
                rule.set(&o);
                const run_result ordinary = compare(random_pair(k), o, false);
                const run_result shortcut = compare(random_pair(k), o, true);
                EXPECT_EQ(ordinary.error_status, 0) << random_pair(k);
                EXPECT_EQ(shortcut, ordinary) << random_pair(k) << ", " << rule.name << ", budget " << budget
                                              << "\n--- ordinary:\n" << ordinary.out << "--- shortcut:\n"
                                              << shortcut.out;
            }
        }
    }
    // The random pairs hold chunks of every kind: some were skipped.
    const chunk_stats after = taken;
    EXPECT_GT(after.raw_equal, before.raw_equal);
    EXPECT_GT(after.fill_equal, before.fill_equal);
    EXPECT_GT(after.skipped, before.skipped);
    EXPECT_GT(after.partial, before.partial);
}

TEST(ChunkShortcutTest, SparseAndNeverWrittenPairsAreEqualWithoutReading)
{
    // 2^30 elements of which one chunk is written, and 2^40 never written:
    // read, they would take minutes.
    const chunk_stats before = taken;
    const run_result sparse = compare("/sparse", test_support::default_settings(true), true);
    const run_result unwritten = compare("/unwritten", test_support::default_settings(true), true);
    const chunk_stats after = taken;
    EXPECT_EQ(sparse, run_result{});
    EXPECT_EQ(unwritten, run_result{});
    EXPECT_EQ(after.raw_equal - before.raw_equal, 1u);
    EXPECT_EQ(after.fill_equal - before.fill_equal, (1u << 14) - 1);
}

TEST(ChunkShortcutTest, DamagedChunkFailsUnlessItsBytesAreTheSameData)
{
    // The same damaged chunk in both files, in strips of one chunk. With a
    // checksum that comes last, the checksum fails on the stored bytes: the
    // chunk proves nothing, its read fails and ends the pair, as on the
    // ordinary path. Compressed bytes that do not decode but are the same in
    // both files are the same data: never decoded, the pair is equal (the
    // ordinary path, which decodes, fails).
    for (hsize_t limit : {ZARN_WHOLE_READ_LIMIT, hsize_t(0)}) {
        budget_scope scope(2000, limit);
        h5_errors_off quiet;
        const chunk_stats before = taken;
        const run_result ordinary = compare("/damaged", test_support::default_settings(true), false);
        const run_result shortcut = compare("/damaged", test_support::default_settings(true), true);
        EXPECT_EQ(shortcut, ordinary);
        EXPECT_EQ(shortcut.error_status, 2);
        EXPECT_EQ(shortcut.out, "Cannot read dataset </damaged>\n");
        if (limit == 0) {
            EXPECT_EQ(taken.raw_equal - before.raw_equal, 2u);
        }
        const run_result zipped = compare("/damaged_zip", test_support::default_settings(true), true);
        EXPECT_EQ(zipped, run_result{});
        EXPECT_EQ(compare("/damaged_zip", test_support::default_settings(true), false).error_status, 2);
    }
}

// --- when equal bytes prove nothing ---------------------------------------------

struct rules_case {
    const char *name;
    hid_t type;
    void (*set)(mirlo_settings *);
    bool has_vlen;
    bool allowed;
};

TEST(ChunkShortcutTest, EqualDataProvesNothingWhereAValueMayDifferFromItself)
{
    h5_datatype compound(H5Tcreate(H5T_COMPOUND, 16));
    ASSERT_GE(H5Tinsert(compound, "i", 0, H5T_NATIVE_INT), 0);
    ASSERT_GE(H5Tinsert(compound, "d", 8, H5T_NATIVE_DOUBLE), 0);
    const hsize_t three = 3;
    h5_datatype float_array(H5Tarray_create2(H5T_NATIVE_FLOAT, 1, &three));
    h5_datatype int_vlen(H5Tvlen_create(H5T_NATIVE_INT));
    auto none = [](mirlo_settings *) {};
    auto nan_epsilon = [](mirlo_settings *o) { o->detect_nans = 0, o->system_epsilon_mode = 1; };
    const rules_case cases[] = {
        {"double, exact", H5T_NATIVE_DOUBLE, none, false, true},
        {"double, -N alone", H5T_NATIVE_DOUBLE, [](mirlo_settings *o) { o->detect_nans = 0; }, false, true},
        {"double, epsilon alone", H5T_NATIVE_DOUBLE, [](mirlo_settings *o) { o->system_epsilon_mode = 1; }, false,
         true},
        {"double, -N with epsilon", H5T_NATIVE_DOUBLE, nan_epsilon, false, false},
        {"int, -N with epsilon", H5T_NATIVE_INT, nan_epsilon, false, true},
        {"compound with a double, -N with epsilon", compound, nan_epsilon, false, false},
        {"array of floats, -N with epsilon", float_array, nan_epsilon, false, false},
        {"compound, exact", compound, none, false, true},
        {"object references", H5T_STD_REF_OBJ, none, false, false},
        {"variable-length sequence", int_vlen, none, true, false},
        {"negative delta", H5T_NATIVE_INT, [](mirlo_settings *o) { o->delta_mode = 1, o->delta = -1; }, false, false},
        {"negative relative", H5T_NATIVE_INT, [](mirlo_settings *o) { o->relative_mode = 1, o->relative = -1; },
         false, false},
    };
    for (const rules_case &c : cases) {
        mirlo_settings o = test_support::default_settings();
        c.set(&o);
        EXPECT_EQ(equal_data_holds_no_difference(pair_rule_of(o, "/", false), c.type, c.type, c.has_vlen), c.allowed)
            << c.name;
    }
}

TEST(ChunkShortcutTest, NoChunkIsSkippedUnderNanAgainstItself)
{
    // /damaged holds doubles in four chunks, three of them equal and sound.
    budget_scope scope(2000, 0);
    mirlo_settings o = test_support::default_settings(true);
    o.detect_nans = 0;
    o.system_epsilon_mode = 1;
    const chunk_stats before = taken;
    h5_errors_off quiet;
    const run_result shortcut = compare("/damaged", o, true);
    EXPECT_EQ(taken.raw_equal, before.raw_equal);
    EXPECT_EQ(shortcut, compare("/damaged", o, false));
}

// --- chunk-aligned plans ----------------------------------------------------------

struct aligned_case {
    std::vector<uint64_t> dims;
    std::vector<hsize_t> chunk;
    size_t elem_size;
    hsize_t budget;
    uint64_t strips;     // expected number of pieces
    bool aligned = true; // pieces on chunk boundaries
};

TEST(ChunkAlignedPlanTest, PiecesAreWholeChunksInOutputOrder)
{
    const aligned_case cases[] = {
        {{1000}, {100}, 8, 2400, 4},          // three chunks per strip: 300, 300, 300, 100
        {{1000}, {300}, 8, 800, 4},           // one chunk exceeds the budget: a strip per chunk
        {{12000, 8000}, {1500, 1000}, 4, 32 << 20, 8}, // a row of chunks (48 MB) exceeds the budget
        {{10, 10}, {3, 4}, 8, 160, 4},        // one row of chunks per strip
        {{10, 10}, {3, 4}, 8, 16, 12},        // a row of chunks exceeds the cap: chunk columns
        {{6, 5, 4}, {2, 5, 3}, 4, 1 << 20, 1}, // all in one strip
        {{7, 6, 5, 4}, {2, 4, 5, 3}, 8, 400, 4},
        {{1000}, {1000}, 8, 16, 500, false},  // one chunk beyond the cap: plain strips of two
    };
    for (const aligned_case &c : cases) {
        budget_scope scope(c.budget, 0);
        const int rank = static_cast<int>(c.dims.size());
        strip_plan plan;
        plan_chunk_aligned(rank, c.dims.data(), c.chunk.data(), c.elem_size, &plan);
        const std::string what = "dims " + std::to_string(c.dims[0]) + ", budget " + std::to_string(c.budget);
        EXPECT_EQ(strip_count(plan), c.strips) << what;
        EXPECT_EQ(plan.chunk_aligned, c.aligned) << what;
        uint64_t covered = 0, n = 0;
        strip_piece piece, direct;
        for (bool more = strip_first(plan, &piece); more; more = strip_next(plan, &piece), ++n) {
            EXPECT_EQ(piece.index, n) << what;
            ASSERT_TRUE(strip_at(plan, n, &direct));
            for (int i = 0; i < rank; ++i) {
                EXPECT_EQ(direct.origin[i], piece.origin[i]) << what;
                const bool to_end = piece.origin[i] + piece.extent[i] == c.dims[i];
                if (c.aligned) {
                    EXPECT_EQ(piece.origin[i] % c.chunk[i], 0u) << what << " dim " << i;
                    EXPECT_TRUE(to_end || piece.extent[i] % c.chunk[i] == 0) << what << " dim " << i;
                }
                EXPECT_EQ(piece.slab[0].start[i], piece.origin[i]);
                EXPECT_EQ(piece.slab[1].count[i], piece.extent[i]);
            }
            EXPECT_LE(piece.elements * c.elem_size, plan.strip_bytes) << what;
            covered += piece.elements;
        }
        EXPECT_EQ(n, c.strips) << what;
        EXPECT_FALSE(strip_at(plan, n, &direct)) << what;
        uint64_t all = 1;
        for (uint64_t d : c.dims)
            all *= d;
        EXPECT_EQ(covered, all) << what;
    }
}

} // namespace
