// Buffer and element comparison: native numeric buffers, the count limit,
// compound members, arrays, variable-length sequences, strings of each kind,
// enums, bitfields, opaque values, object and region references.
#include "mirlo_array.hpp"
#include "mirlo_report.hpp"
#include "zarn.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A comparison in report mode of buffers of count elements of type, of
// rank 1 (or a scalar).
struct buffers : test_support::comparison {
    buffers(hid_t type, uint64_t count, int rank = 1) : comparison(true)
    {
        c.mem_type_id = type;
        c.mem_type_size = H5Tget_size(type);
        c.block_element_count = count;
        c.element_count = count;
        c.rank = rank;
        if (rank == 1)
            c.dims[0] = count;
        init_accumulators(rank, c.dims, c.accumulators);
    }
};

struct outcome {
    nfound_t count;
    std::string out;
};

outcome run_array(void *b1, void *b2, buffers &o, hid_t c1 = -1, hid_t c2 = -1)
{
    const auto run = test_support::capture([&] { return diff_array(b1, b2, o.ctx(), c1, c2); });
    return {run.result, run.out};
}

using test_support::occurrences;

const std::string TAIL(10, ' ');

// Native numeric buffers.

TEST(NativeBufferTest, EqualBuffersGiveNothing)
{
    std::vector<double> a(1000, 2.5), b(1000, 2.5);
    buffers o(H5T_NATIVE_DOUBLE, a.size());
    const outcome r = run_array(a.data(), b.data(), o);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(o.c.header_pending, 1);
}

TEST(NativeBufferTest, CountsAndReportsEachDifferingElementWithOneHeader)
{
    int a[6] = {1, 2, 3, 4, 5, 6};
    int b[6] = {1, 9, 3, 4, 5, 0};
    buffers o(H5T_NATIVE_INT, 6);
    char n1[] = "x", n2[] = "y";
    o.c.object_names[0] = n1;
    o.c.object_names[1] = n2;
    const outcome r = run_array(a, b, o);
    EXPECT_EQ(r.count, 2u);
    EXPECT_EQ(r.out, "size:           [6]           [6]\n"
                     "position        x               y               difference          \n"
                     "------------------------------------------------------------\n"
                     "[ 1 ]" + TAIL + "2               9               7              \n"
                     "[ 5 ]" + TAIL + "6               0               6              \n");
    // A second call (the next block) prints the header again.
    EXPECT_EQ(occurrences(run_array(a, b, o).out, "size:"), 1u);
}

TEST(NativeBufferTest, CountLimitStopsRightAfterTheElementReachingIt)
{
    short a[8] = {0, 1, 0, 1, 0, 1, 0, 1};
    short b[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    buffers o(H5T_NATIVE_SHORT, 8);
    o.settings.count_mode = 1;
    o.settings.count_limit = 1;
    outcome r = run_array(a, b, o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(occurrences(r.out, "[ "), 1u);
    o.settings.count_limit = 3;
    r = run_array(a, b, o);
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(r.out.find("[ 6 ]"), std::string::npos);
}

TEST(NativeBufferTest, EveryNativeTypeIsDispatched)
{
    struct native {
        hid_t type;
        size_t size;
    };
    const native types[] = {
        {H5T_NATIVE_SCHAR, 1}, {H5T_NATIVE_UCHAR, 1}, {H5T_NATIVE_SHORT, 2},  {H5T_NATIVE_USHORT, 2},
        {H5T_NATIVE_INT, 4},   {H5T_NATIVE_UINT, 4},  {H5T_NATIVE_LONG, 8},   {H5T_NATIVE_ULONG, 8},
        {H5T_NATIVE_LLONG, 8}, {H5T_NATIVE_ULLONG, 8},
    };
    for (const native &t : types) {
        unsigned char a[3 * 8] = {}, b[3 * 8] = {};
        b[t.size] = 1; // lowest byte of element 1 (little-endian)
        buffers o(t.type, 3);
        o.settings.report_mode = 0;
        EXPECT_EQ(diff_array(a, b, o.ctx(), -1, -1), 1u) << t.size;
    }
    float fa[2] = {1, 2}, fb[2] = {1, 3};
    buffers of(H5T_NATIVE_FLOAT, 2);
    of.settings.report_mode = 0;
    EXPECT_EQ(diff_array(fa, fb, of.ctx(), -1, -1), 1u);
    long double la[2] = {1, 2}, lb[2] = {1, 3};
    buffers ol(H5T_NATIVE_LDOUBLE, 2);
    ol.settings.report_mode = 0;
    EXPECT_EQ(diff_array(la, lb, ol.ctx(), -1, -1), 1u);
}

TEST(NativeBufferTest, NonNativeNumericAndTimeTypesGiveZero)
{
    int a[2] = {1, 2}, b[2] = {3, 4};
    buffers o(H5T_STD_I32BE, 2);
    EXPECT_EQ(run_array(a, b, o).count, 0u);
    buffers t(H5T_UNIX_D32LE, 2);
    EXPECT_EQ(run_array(a, b, t).count, 0u);
    EXPECT_EQ(t.outcome.status, 0);
}

// Compound, array and vlen elements.

struct pair_t {
    int i;
    double d;
    char tag;
};

h5_datatype pair_type()
{
    h5_datatype t(H5Tcreate(H5T_COMPOUND, sizeof(pair_t)));
    H5Tinsert(t, "i", HOFFSET(pair_t, i), H5T_NATIVE_INT);
    H5Tinsert(t, "d", HOFFSET(pair_t, d), H5T_NATIVE_DOUBLE);
    H5Tinsert(t, "tag", HOFFSET(pair_t, tag), H5T_NATIVE_SCHAR);
    return t;
}

TEST(CompoundTest, TwoDifferingMembersCountTwoUnderOneHeader)
{
    h5_datatype t = pair_type();
    pair_t a[2], b[2];
    std::memset(a, 0, sizeof a);
    std::memset(b, 0, sizeof b);
    a[0] = {1, 1.5, 'a'};
    b[0] = {1, 1.5, 'a'};
    a[1] = {7, 2.0, 'q'};
    b[1] = {8, 2.5, 'q'};
    buffers o(t, 2);
    const outcome r = run_array(a, b, o);
    EXPECT_EQ(r.count, 2u);
    EXPECT_EQ(occurrences(r.out, "size:"), 1u);
    EXPECT_EQ(occurrences(r.out, "[ 1 ]"), 2u);
    EXPECT_NE(r.out.find("7               8               1"), std::string::npos);
    EXPECT_NE(r.out.find("2               2.5             0.5"), std::string::npos);
    EXPECT_EQ(o.c.mem_type_id, static_cast<hid_t>(t)); // restored after the members

    // The count limit is checked after each element, not each member.
    a[0].i = 5;
    buffers limited(t, 2);
    limited.settings.report_mode = 0;
    limited.settings.count_mode = 1;
    limited.settings.count_limit = 1;
    EXPECT_EQ(run_array(a, b, limited).count, 1u);
    limited.settings.count_limit = 2;
    EXPECT_EQ(run_array(a, b, limited).count, 3u);
}

TEST(CompoundTest, MemberRecordsFollowArraysAndNesting)
{
    h5_datatype inner = pair_type();
    const hsize_t dims[1] = {3};
    h5_datatype arr(H5Tarray_create2(inner, 1, dims));
    h5_datatype outer(H5Tcreate(H5T_COMPOUND, 8 + 3 * sizeof(pair_t)));
    H5Tinsert(outer, "n", 0, H5T_NATIVE_LLONG);
    H5Tinsert(outer, "pairs", 8, arr);

    member_types m;
    collect_member_types(outer, &m);
    ASSERT_EQ(m.members.size(), 2u);
    EXPECT_EQ(m.members[1].offset, 8u);
    const member_types &pairs = m.members[1].record;
    EXPECT_EQ(pairs.type_class, H5T_ARRAY);
    EXPECT_EQ(pairs.base_count, 3u);
    ASSERT_NE(pairs.base, nullptr);
    ASSERT_EQ(pairs.base->members.size(), 3u);
    EXPECT_EQ(pairs.base->members[1].offset, HOFFSET(pair_t, d));

    // Collecting again replaces what the record held.
    collect_member_types(-1, &m);
    EXPECT_TRUE(m.members.empty());
    EXPECT_EQ(m.type_class, H5T_NO_CLASS);
    collect_member_types(outer, nullptr);
}

TEST(ArrayTypeTest, EachBaseElementIsCompared)
{
    const hsize_t dims[2] = {2, 2};
    h5_datatype t(H5Tarray_create2(H5T_NATIVE_INT, 2, dims));
    int a[2][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    int b[2][4] = {{1, 2, 3, 4}, {5, 0, 7, 0}};
    buffers o(t, 2);
    const outcome r = run_array(a, b, o);
    EXPECT_EQ(r.count, 2u);
    EXPECT_EQ(occurrences(r.out, "[ 1 ]"), 2u);
}

// Under -N with --use-system-epsilon a NaN counts against a NaN, whether or
// not anything else in the buffers differs: buffers whose bytes are all equal
// are compared element by element too, plain, as compound members and as
// array elements. Other rules still find equal buffers equal.
TEST(NanAgainstItselfTest, EqualBytesStillCountEveryNan)
{
    const double nan = std::nan("");
    h5_datatype compound = pair_type();
    const hsize_t three = 3;
    h5_datatype doubles(H5Tarray_create2(H5T_NATIVE_DOUBLE, 1, &three));
    auto nan_epsilon = [](mirlo_settings *o) { o->detect_nans = 0, o->system_epsilon_mode = 1; };
    auto exact = [](mirlo_settings *) {};
    auto no_nans = [](mirlo_settings *o) { o->detect_nans = 0; };
    struct nan_case {
        const char *name;
        void (*set)(mirlo_settings *);
        bool last_differs; // the last value of the second buffer is changed
        nfound_t expected;
    };
    const nan_case cases[] = {
        {"-N epsilon, equal bytes", nan_epsilon, false, 1},
        {"-N epsilon, another difference", nan_epsilon, true, 2},
        {"exact, equal bytes", exact, false, 0},
        {"-N alone, equal bytes", no_nans, false, 0},
        {"exact, another difference", exact, true, 1},
    };
    for (const nan_case &c : cases) {
        // [nan, 1, 2] against [nan, 1, 2] (or [nan, 1, 3]).
        double a[3] = {nan, 1, 2}, b[3] = {nan, 1, c.last_differs ? 3.0 : 2.0};
        buffers o(H5T_NATIVE_DOUBLE, 3);
        c.set(&o.settings);
        EXPECT_EQ(run_array(a, b, o).count, c.expected) << "plain, " << c.name;

        pair_t pa[3], pb[3];
        std::memset(pa, 0, sizeof pa);
        std::memset(pb, 0, sizeof pb);
        for (int k = 0; k < 3; ++k) {
            pa[k] = {k, a[k], 'x'};
            pb[k] = {k, b[k], 'x'};
        }
        buffers oc(compound, 3);
        c.set(&oc.settings);
        EXPECT_EQ(run_array(pa, pb, oc).count, c.expected) << "compound, " << c.name;

        buffers oa(doubles, 1);
        c.set(&oa.settings);
        EXPECT_EQ(run_array(a, b, oa).count, c.expected) << "array, " << c.name;
    }
}

TEST(VlenTest, SequencesAreComparedOverTheCommonLengthAndALengthDifferenceCounts)
{
    h5_datatype t(H5Tvlen_create(H5T_NATIVE_INT));
    // Exact-size arrays, so reading past a sequence would be caught.
    std::vector<int> s1{1, 2, 3}, s2{1, 5, 3}, s3{1, 2}, s4{9, 2, 3, 4};
    hvl_t a[3] = {{s1.size(), s1.data()}, {s1.size(), s1.data()}, {s1.size(), s1.data()}};
    hvl_t b[3] = {{s2.size(), s2.data()}, {s3.size(), s3.data()}, {s4.size(), s4.data()}};
    buffers o(t, 3);
    o.settings.report_mode = 0;
    // element 0: one value; element 1: the length; element 2: length and one value.
    EXPECT_EQ(run_array(a, b, o).count, 1u + 1u + 2u);
    hvl_t e1 = {0, nullptr}, e2 = {0, nullptr};
    EXPECT_EQ(diff_datum(&e1, &e2, 0, o.ctx(), -1, -1, nullptr), 0u);
}

// Strings.

h5_datatype fixed_string(size_t size, H5T_str_t pad)
{
    h5_datatype t(H5Tcopy(H5T_C_S1));
    H5Tset_size(t, size);
    H5Tset_strpad(t, pad);
    return t;
}

TEST(StringTest, NullTerminatedComparesCharactersBeforeTheNul)
{
    h5_datatype t = fixed_string(5, H5T_STR_NULLTERM);
    char a[5] = {'a', 'b', 'c', 0, 'x'};
    char b[5] = {'a', 'b', 'd', 0, 'y'};
    buffers o(t, 1, 0);
    outcome r = run_array(a, b, o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.out.substr(r.out.find("---\n") + 4), "[ 2]" + TAIL + "  c            d\n");
    // Bytes after the terminator take no part.
    char c[5] = {'a', 'b', 'c', 0, 'z'};
    EXPECT_EQ(run_array(a, c, o).count, 0u);
}

TEST(StringTest, LengthDifferenceCountsOnceAndListsTheTrailingPositions)
{
    h5_datatype t = fixed_string(5, H5T_STR_NULLTERM);
    char a[5] = {'a', 'b', 'c', 0, 0};
    char b[5] = {'a', 'b', 'c', 'd', 'e'};
    buffers o(t, 1, 0);
    const outcome r = run_array(a, b, o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.out.substr(r.out.find("---\n") + 4),
              "[ 3]" + TAIL + "  \\000            d\n"
              "[ 4]" + TAIL + "  \\000            e\n");
}

TEST(StringTest, LengthAndCharacterDifferencesAddUp)
{
    h5_datatype t = fixed_string(6, H5T_STR_NULLTERM);
    char a[6] = {'h', 'e', 'l', 'l', 'o', 0};
    char b[6] = {'h', 'e', 'l', 'p', 0, 0};
    buffers o(t, 1, 0);
    o.settings.report_mode = 0;
    EXPECT_EQ(run_array(a, b, o).count, 2u);
}

TEST(StringTest, PaddedStringsAreComparedOverTheWholeElement)
{
    h5_datatype nullpad = fixed_string(5, H5T_STR_NULLPAD);
    char a[5] = {'a', 'b', 0, 0, 0};
    char b[5] = {'a', 'b', 0, 0, 'x'};
    buffers o(nullpad, 1);
    outcome r = run_array(a, b, o);
    EXPECT_EQ(r.count, 1u);
    EXPECT_NE(r.out.find("[ 0 ]" + TAIL + "  \\000            x\n"), std::string::npos);

    h5_datatype spacepad = fixed_string(5, H5T_STR_SPACEPAD);
    char c[5] = {'a', 'b', ' ', ' ', ' '};
    char d[5] = {'a', 'b', ' ', 'z', 'z'};
    buffers s(spacepad, 1);
    EXPECT_EQ(run_array(c, d, s).count, 2u);
}

TEST(StringTest, VariableLengthStrings)
{
    h5_datatype t(H5Tcopy(H5T_C_S1));
    H5Tset_size(t, H5T_VARIABLE);
    std::string s1 = "help", s2 = "hello", s3 = "same";
    const char *a[4] = {s1.c_str(), s3.c_str(), s3.c_str(), nullptr};
    const char *b[4] = {s2.c_str(), s3.c_str(), nullptr, nullptr};
    buffers o(t, 4);
    const outcome r = run_array(a, b, o);
    // help/hello: length 1 + 'p' against 'l' 1; same/null: length 1, not listed.
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(occurrences(r.out, "[ 0 ]"), 1u);
    EXPECT_NE(r.out.find("  p            l\n"), std::string::npos);
    EXPECT_EQ(occurrences(r.out, "[ 2 ]"), 0u);
}

// Enums, bitfields, opaque values.

TEST(EnumTest, InvalidValuePrintsItsMarkerAndCountsOne)
{
    h5_datatype t(H5Tenum_create(H5T_NATIVE_INT));
    int v = 0;
    H5Tenum_insert(t, "RED", &v);
    v = 1;
    H5Tenum_insert(t, "GREEN", &v);
    int a[3] = {0, 1, 1};
    int b[3] = {0, 0, 7};
    buffers o(t, 3);
    const outcome r = run_array(a, b, o);
    EXPECT_EQ(r.count, 2u);
    EXPECT_NE(r.out.find("[ 1 ]" + TAIL + "GREEN            RED              \n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[ 2 ]" + TAIL + "GREEN            **INVALID VALUE**\n"), std::string::npos) << r.out;
    EXPECT_EQ(o.outcome.status, 0);
}

TEST(BitfieldTest, EachDifferingByteCounts)
{
    unsigned char a[8] = {1, 2, 3, 4, 9, 9, 9, 9};
    unsigned char b[8] = {5, 6, 7, 8, 9, 9, 9, 1};
    buffers o(H5T_NATIVE_B32, 2);
    const outcome r = run_array(a, b, o);
    EXPECT_EQ(r.count, 5u);
    EXPECT_NE(r.out.find("[ 0 ]" + TAIL + "1               5               4              \n"), std::string::npos);
    EXPECT_NE(r.out.find("[ 1 ]" + TAIL + "9               1               8              \n"), std::string::npos);
    h5_datatype opaque(H5Tcreate(H5T_OPAQUE, 4));
    H5Tset_tag(opaque, "blob");
    buffers q(opaque, 2);
    q.settings.report_mode = 0;
    EXPECT_EQ(run_array(a, b, q).count, 5u);
}

TEST(DatumTest, SixteenByteIntegerIsAnErrorAndTimeIsAnInvalidClass)
{
    h5_datatype wide(H5Tcopy(H5T_NATIVE_LLONG));
    H5Tset_size(wide, 16);
    unsigned char a[16] = {1}, b[16] = {2};
    buffers o(wide, 1);
    EXPECT_EQ(diff_datum(a, b, 0, o.ctx(), -1, -1, nullptr), 0u);
    EXPECT_EQ(o.outcome.status, 2);
    buffers t(H5T_UNIX_D32LE, 1);
    EXPECT_EQ(diff_datum(a, b, 0, t.ctx(), -1, -1, nullptr), 0u);
    EXPECT_EQ(t.outcome.status, 2);
}

// References, in a file held in memory.

// A dataset-region reference as a value (the library's type is an array).
struct region_ref {
    hdset_reg_ref_t bytes;
};
static_assert(sizeof(region_ref) == sizeof(hdset_reg_ref_t));

struct ref_file {
    h5_file file;
    ref_file()
    {
        h5_plist fapl(H5Pcreate(H5P_FILE_ACCESS));
        H5Pset_fapl_core(fapl, 1 << 16, 0);
        file.reset(H5Fcreate("array_refs.h5", H5F_ACC_TRUNC, H5P_DEFAULT, fapl));
        const hsize_t n = 4;
        h5_dataspace s(H5Screate_simple(1, &n, nullptr));
        const int v1[4] = {1, 2, 3, 4}, v2[4] = {1, 0, 3, 0};
        write(s, "d1", v1);
        write(s, "d2", v2);
        h5_group g(H5Gcreate2(file, "g", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        h5_group g2(H5Gcreate2(file, "g2", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        const hsize_t grid_dims[2] = {10, 10};
        h5_dataspace gs(H5Screate_simple(2, grid_dims, nullptr));
        h5_dataset grid(H5Dcreate2(file, "grid", H5T_NATIVE_INT, gs, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    }
    void write(hid_t space, const char *name, const int *v)
    {
        h5_dataset d(H5Dcreate2(file, name, H5T_NATIVE_INT, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        H5Dwrite(d, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, v);
    }
    hobj_ref_t object(const char *path)
    {
        hobj_ref_t r{};
        EXPECT_GE(H5Rcreate(&r, file, path, H5R_OBJECT, -1), 0);
        return r;
    }
    // A region of /grid made of the given blocks (start and count per block).
    region_ref blocks(std::vector<std::array<hsize_t, 4>> b)
    {
        const hsize_t dims[2] = {10, 10};
        h5_dataspace s(H5Screate_simple(2, dims, nullptr));
        H5Sselect_none(s);
        for (const auto &x : b) {
            const hsize_t start[2] = {x[0], x[1]}, count[2] = {x[2], x[3]};
            H5Sselect_hyperslab(s, H5S_SELECT_OR, start, nullptr, count, nullptr);
        }
        region_ref r{};
        EXPECT_GE(H5Rcreate(r.bytes, file, "grid", H5R_DATASET_REGION, s), 0);
        return r;
    }
    region_ref points(std::vector<std::array<hsize_t, 2>> p)
    {
        const hsize_t dims[2] = {10, 10};
        h5_dataspace s(H5Screate_simple(2, dims, nullptr));
        H5Sselect_elements(s, H5S_SELECT_SET, p.size(), &p[0][0]);
        region_ref r{};
        EXPECT_GE(H5Rcreate(r.bytes, file, "grid", H5R_DATASET_REGION, s), 0);
        return r;
    }
};

TEST(ReferenceTest, NullAgainstNonNullCountsOneAndPrintsNothing)
{
    ref_file f;
    hobj_ref_t a[3] = {0, f.object("d1"), 0};
    hobj_ref_t b[3] = {f.object("d1"), 0, 0};
    buffers o(H5T_STD_REF_OBJ, 3);
    const outcome r = run_array(a, b, o, f.file, f.file);
    EXPECT_EQ(r.count, 2u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(o.outcome.status, 0);
}

TEST(ReferenceTest, ReferencedDatasetsAreComparedWhole)
{
    ref_file f;
    hobj_ref_t a[1] = {f.object("d1")};
    hobj_ref_t b[1] = {f.object("d2")};
    buffers o(H5T_STD_REF_OBJ, 1);
    o.settings.report_mode = 0;
    const outcome r = run_array(a, b, o, f.file, f.file);
    EXPECT_EQ(r.count, 2u);
    EXPECT_EQ(o.outcome.status, 0);
    EXPECT_EQ(o.outcome.not_comparable, 0);
    EXPECT_EQ(o.c.mem_type_id, H5T_STD_REF_OBJ); // working fields of this buffer untouched
    EXPECT_EQ(o.c.rank, 1);
}

TEST(ReferenceTest, ReferencesToTheSameGroupAreEqual)
{
    ref_file f;
    hobj_ref_t a[1] = {f.object("g")};
    hobj_ref_t b[1] = {f.object("g")};
    buffers o(H5T_STD_REF_OBJ, 1);
    o.settings.verbose_mode = 1;
    outcome r = run_array(a, b, o, f.file, f.file);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(o.outcome.not_comparable, 0);
    EXPECT_EQ(o.outcome.status, 0);
}

TEST(ReferenceTest, OtherGroupsAreNotComparableAndMixedKindsAreAnError)
{
    ref_file f;
    hobj_ref_t a[1] = {f.object("g")};
    hobj_ref_t b[1] = {f.object("g2")};
    buffers o(H5T_STD_REF_OBJ, 1);
    char n1[] = "r1", n2[] = "r2";
    o.c.object_names[0] = n1;
    o.c.object_names[1] = n2;
    o.settings.verbose_mode = 1;
    outcome r = run_array(a, b, o, f.file, f.file);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.out, "Warning: Comparison not possible of object types referenced: <r1> and <r2>\n");
    EXPECT_EQ(o.outcome.not_comparable, 1);
    EXPECT_EQ(o.outcome.status, 0);

    hobj_ref_t c[1] = {f.object("d1")};
    buffers m(H5T_STD_REF_OBJ, 1);
    m.c.object_names[0] = n1;
    m.c.object_names[1] = n2;
    r = run_array(a, c, m, f.file, f.file);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.out, "Different object types referenced: <r1> and <r2>");
    EXPECT_EQ(m.outcome.not_comparable, 1);
    EXPECT_EQ(m.outcome.status, 2);
}

TEST(RegionTest, CornerDifferencesCountPerDimensionDividedByRank)
{
    ref_file f;
    region_ref a[3] = {f.blocks({{0, 0, 2, 2}, {5, 5, 2, 2}}), f.blocks({{0, 0, 2, 2}}),
                            f.blocks({{1, 1, 1, 1}})};
    // element 0: one end coordinate of one block differs (1 / 2 = 0);
    // element 1: both corners differ in both dimensions (2 / 2 = 1);
    // element 2: equal.
    region_ref b[3] = {f.blocks({{0, 0, 2, 2}, {5, 5, 2, 3}}), f.blocks({{3, 3, 2, 2}}),
                            f.blocks({{1, 1, 1, 1}})};
    buffers o(H5T_STD_REF_DSETREG, 3);
    const outcome r = run_array(a, b, o, f.file, f.file);
    EXPECT_EQ(r.count, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(o.outcome.not_comparable, 0);
}

TEST(RegionTest, VerboseListsBlocksAndPoints)
{
    ref_file f;
    region_ref a[2] = {f.blocks({{0, 0, 2, 2}}), f.points({{{1, 2}}, {{3, 4}}})};
    region_ref b[2] = {f.blocks({{4, 4, 2, 2}}), f.points({{{1, 2}}, {{3, 5}}})};
    buffers o(H5T_STD_REF_DSETREG, 2);
    o.settings.verbose_mode = 1;
    o.settings.report_mode = 0;
    const outcome r = run_array(a, b, o, f.file, f.file);
    EXPECT_EQ(r.count, 1u); // blocks: 2 / 2; points: 1 / 2
    const std::string blocks = "------------------------------------------------------------\n"
                               "Region blocks\n"
                               "block #0           (0,0)-(1,1)           (4,4)-(5,5)\n";
    EXPECT_NE(r.out.find("Referenced dataset      "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(blocks), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Region points\npoint #1              (3,4)              (3,5)\n"), std::string::npos)
        << r.out;
}

TEST(RegionTest, DifferentSelectionShapesAreNotComparable)
{
    ref_file f;
    region_ref a[1] = {f.blocks({{0, 0, 2, 2}})};
    region_ref b[1] = {f.blocks({{0, 0, 2, 2}, {5, 5, 1, 1}})};
    buffers o(H5T_STD_REF_DSETREG, 1);
    EXPECT_EQ(run_array(a, b, o, f.file, f.file).count, 0u);
    EXPECT_EQ(o.outcome.not_comparable, 1);
    region_ref c[1] = {f.points({{{0, 0}}, {{1, 1}}, {{2, 2}}, {{3, 3}}})};
    buffers p(H5T_STD_REF_DSETREG, 1);
    EXPECT_EQ(run_array(a, c, p, f.file, f.file).count, 0u);
    EXPECT_EQ(p.outcome.not_comparable, 1);
}

} // namespace
