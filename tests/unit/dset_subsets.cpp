// Subset comparisons against a brute-force walk of the same selections: the
// count and every printed position must match, whether the subset is read in
// one strip or cut into many (small strip budgets), given for one object or
// both, with equal or different block shapes.
#include "mirlo_dset.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"
#include "zarn_utils.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class tools_environment : public testing::Environment {
public:
    void SetUp() override { zarn_init(); }
};
const auto *const env = testing::AddGlobalTestEnvironment(new tools_environment);

using list = std::vector<hsize_t>;

struct selection {
    list start, stride, count, block; // an empty list is left out of the record
};

hsize_list make_list(const list &v)
{
    hsize_list l;
    if (v.empty())
        return l;
    l.values = static_cast<hsize_t *>(std::malloc(v.size() * sizeof(hsize_t)));
    std::memcpy(l.values, v.data(), v.size() * sizeof(hsize_t));
    l.count = v.size();
    return l;
}

subset_spec *make_spec(const selection &s)
{
    auto *spec = static_cast<subset_spec *>(std::calloc(1, sizeof(subset_spec)));
    spec->start = make_list(s.start);
    spec->stride = make_list(s.stride);
    spec->count = make_list(s.count);
    spec->block = make_list(s.block);
    return spec;
}

// Linear indices of a selection's elements, in the order HDF5 delivers them.
std::vector<hsize_t> brute_force_elements(const list &dims, const selection &s)
{
    const size_t rank = dims.size();
    auto get = [](const list &l, size_t i, hsize_t dflt) { return l.empty() ? dflt : l[i]; };
    list n(rank);
    hsize_t total = 1;
    for (size_t i = 0; i < rank; ++i) {
        n[i] = get(s.count, i, 1) * get(s.block, i, 1);
        total *= n[i];
    }
    std::vector<hsize_t> out;
    list g(rank, 0);
    for (hsize_t e = 0; e < total; ++e) {
        hsize_t linear = 0;
        for (size_t i = 0; i < rank; ++i) {
            const hsize_t b = get(s.block, i, 1);
            const hsize_t coord = get(s.start, i, 0) + (g[i] / b) * get(s.stride, i, 1) + g[i] % b;
            linear = linear * dims[i] + coord;
        }
        out.push_back(linear);
        for (size_t i = rank; i-- > 0;) {
            if (++g[i] < n[i])
                break;
            g[i] = 0;
        }
    }
    return out;
}

// Values of the fixture: file a holds the linear index, file b adds 1000 to
// every element whose index is a multiple of 3.
hsize_t value_b(hsize_t linear)
{
    return linear % 3 == 0 ? linear + 1000 : linear;
}

std::string position_text(const list &dims, hsize_t linear)
{
    std::string s;
    list c(dims.size());
    for (size_t i = dims.size(); i-- > 0;) {
        c[i] = linear % dims[i];
        linear /= dims[i];
    }
    s = "[ ";
    for (hsize_t v : c)
        s += std::to_string(v) + " ";
    return s + "]";
}

// The positions printed in a difference table, concatenated.
std::string printed_positions(const std::string &out)
{
    std::string printed;
    for (size_t at = out.find("\n[ "); at != std::string::npos; at = out.find("\n[ ", at + 1))
        printed += out.substr(at + 1, out.find(']', at) - at);
    return printed;
}

struct subset_run {
    nfound_t found;
    int error_status;
    std::string out;
};

// Compares path of both fixture files with the given records (either may be
// absent) at a strip budget.
subset_run run_subset(const char *path, const selection *s1, const selection *s2, hsize_t budget)
{
    h5_file a = test_support::open_fixture("dset_a.h5");
    h5_file b = test_support::open_fixture("dset_b.h5");
    test_support::comparison o(true);
    o.settings.subsets[0] = subset_spec_owned(s1 ? make_spec(*s1) : nullptr);
    o.settings.subsets[1] = subset_spec_owned(s2 ? make_spec(*s2) : nullptr);
    const hsize_t saved = hyperslab_bufsize;
    hyperslab_bufsize = budget;
    const auto run = test_support::capture([&] { return diff_dataset(a, b, path, path, o.subsets(), o.ctx()); });
    hyperslab_bufsize = saved;
    return {run.result, o.outcome.status, run.out};
}

// Runs the comparison and checks it against the brute force.
void expect_brute_force(const char *path, const list &dims, const selection *s1, const selection *s2,
                        hsize_t budget)
{
    const selection &first = s1 ? *s1 : *s2;
    const selection &second = s2 ? *s2 : *s1;
    const auto e1 = brute_force_elements(dims, first);
    const auto e2 = brute_force_elements(dims, second);
    ASSERT_EQ(e1.size(), e2.size());
    nfound_t expected = 0;
    std::string positions;
    for (size_t k = 0; k < e1.size(); ++k) {
        if (e1[k] != value_b(e2[k])) {
            ++expected;
            positions += position_text(dims, e1[k]);
        }
    }
    subset_run r = run_subset(path, s1, s2, budget);
    EXPECT_EQ(r.error_status, 0);
    EXPECT_EQ(r.found, expected);
    EXPECT_EQ(printed_positions(r.out), positions);
}

// A deterministic generator of valid selections.
struct lcg {
    unsigned long long state;
    hsize_t next(hsize_t bound) // in [0, bound)
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return bound == 0 ? 0 : (state >> 33) % bound;
    }
};

selection random_selection(lcg &r, const list &dims)
{
    selection s;
    for (hsize_t d : dims) {
        hsize_t block = 1 + r.next(3);
        hsize_t count = 1 + r.next(4);
        hsize_t stride = block + r.next(3);
        while (count > 1 && (count - 1) * stride + block > d)
            --count;
        if ((count - 1) * stride + block > d) {
            block = 1;
            stride = 1;
        }
        const hsize_t span = (count - 1) * stride + block;
        s.start.push_back(r.next(d - span + 1));
        s.stride.push_back(stride);
        s.count.push_back(count);
        s.block.push_back(block);
    }
    return s;
}

const std::vector<hsize_t> budgets = {ZARN_HYPERSLAB_BUFSIZE, 4, 8, 12, 20, 28, 40, 100};

TEST(SubsetTest, SingleStripOfTheDocumentedExample)
{
    const selection s{{1}, {2}, {2}, {1}};
    subset_run r = run_subset("/subsets/one", &s, &s, ZARN_HYPERSLAB_BUFSIZE);
    EXPECT_EQ(r.error_status, 0);
    EXPECT_EQ(r.found, 1u); // elements 1 and 3; 3 differs
    EXPECT_EQ(printed_positions(r.out), "[ 3 ]");
    EXPECT_EQ(r.out.find("size:"), r.out.rfind("size:")); // one strip, one header
}

TEST(SubsetTest, MissingListsTakeTheirDefaults)
{
    // Only a start: one element at (2, 4); only a count: the first elements.
    const selection start_only{{2, 4}, {}, {}, {}};
    expect_brute_force("/subsets/two", {12, 10}, &start_only, nullptr, ZARN_HYPERSLAB_BUFSIZE);
    const selection count_only{{}, {}, {3, 4}, {}};
    expect_brute_force("/subsets/two", {12, 10}, &count_only, nullptr, ZARN_HYPERSLAB_BUFSIZE);
}

TEST(SubsetTest, OneRecordAppliesToBothObjects)
{
    const selection s{{1, 2}, {3, 3}, {3, 2}, {2, 2}};
    for (hsize_t budget : budgets) {
        SCOPED_TRACE(budget);
        expect_brute_force("/subsets/two", {12, 10}, &s, nullptr, budget);
        expect_brute_force("/subsets/two", {12, 10}, nullptr, &s, budget);
    }
}

TEST(SubsetTest, RandomSelectionsMatchTheBruteForceAtEveryStripBudget)
{
    lcg r{12345};
    const std::pair<const char *, list> datasets[] = {
        {"/subsets/one", {10}}, {"/subsets/two", {12, 10}}, {"/subsets/three", {4, 5, 6}}};
    for (const auto &[path, dims] : datasets) {
        for (int i = 0; i < 12; ++i) {
            const selection s = random_selection(r, dims);
            for (hsize_t budget : budgets) {
                SCOPED_TRACE(std::string(path) + " case " + std::to_string(i) + " budget " +
                             std::to_string(budget));
                expect_brute_force(path, dims, &s, &s, budget);
            }
        }
    }
}

TEST(SubsetTest, RecordsOfTheSameShapeWithDifferentBlocks)
{
    // 6 x 4 selected elements on each side, cut into blocks differently.
    const selection s1{{0, 1}, {3, 3}, {3, 2}, {2, 2}};
    const selection s2{{4, 0}, {1, 1}, {6, 4}, {1, 1}};
    const selection s3{{1, 2}, {3, 2}, {2, 4}, {3, 1}};
    for (hsize_t budget : budgets) {
        SCOPED_TRACE(budget);
        expect_brute_force("/subsets/two", {12, 10}, &s1, &s2, budget);
        expect_brute_force("/subsets/two", {12, 10}, &s1, &s3, budget);
        expect_brute_force("/subsets/two", {12, 10}, &s3, &s1, budget);
    }
}

TEST(SubsetTest, DifferentShapesOfEqualSizeAreComparedInOneStrip)
{
    const selection wide{{0, 0}, {1, 1}, {2, 3}, {1, 1}};
    const selection tall{{5, 5}, {1, 1}, {3, 2}, {1, 1}};
    expect_brute_force("/subsets/two", {12, 10}, &wide, &tall, ZARN_HYPERSLAB_BUFSIZE);

    // Too big for one strip: refused rather than compared out of order.
    subset_run r = run_subset("/subsets/two", &wide, &tall, 8);
    EXPECT_EQ(r.error_status, 2);
    EXPECT_EQ(r.found, 0u);
}

herr_t collect_message(unsigned, const H5E_error2_t *err, void *data)
{
    static_cast<std::vector<std::string> *>(data)->push_back(err->desc);
    return 0;
}

// The failure pushed for a refused selection pair.
std::vector<std::string> refusal(const selection *s1, const selection *s2, subset_run *r)
{
    H5Eclear2(zarn_error_stack);
    const int saved = enable_error_stack;
    enable_error_stack = 1;
    *r = run_subset("/subsets/one", s1, s2, ZARN_HYPERSLAB_BUFSIZE);
    enable_error_stack = saved;
    std::vector<std::string> out;
    H5Ewalk2(zarn_error_stack, H5E_WALK_UPWARD, collect_message, &out);
    H5Eclear2(zarn_error_stack);
    return out;
}

TEST(SubsetRefusalTest, OverlappingBlocksNameTheRecord)
{
    const selection good{{0}, {2}, {3}, {1}};
    const selection overlap{{0}, {1}, {3}, {2}};
    subset_run r;
    EXPECT_EQ(refusal(&good, nullptr, &r), std::vector<std::string>{});
    EXPECT_EQ(r.error_status, 0);
    EXPECT_EQ(refusal(&overlap, &good, &r), std::vector<std::string>{"wrong subset selection[0]; blocks overlap"});
    EXPECT_EQ(r.error_status, 2);
    EXPECT_EQ(r.found, 0u);
    EXPECT_EQ(refusal(&good, &overlap, &r), std::vector<std::string>{"wrong subset selection[1]; blocks overlap"});
    EXPECT_EQ(r.error_status, 2);
}

TEST(SubsetRefusalTest, SelectionsThatCannotBeReadAreFailures)
{
    subset_run r;
    const selection outside{{8}, {2}, {2}, {1}};           // reaches index 10 of 10
    const selection wrong_length{{0, 0}, {}, {}, {}};      // two starts for one dimension
    const selection three{{0}, {2}, {3}, {1}};
    const selection four{{0}, {2}, {4}, {1}};
    EXPECT_EQ(refusal(&outside, nullptr, &r),
              std::vector<std::string>{"wrong subset selection[0]; selection exceeds the dataset extent"});
    EXPECT_EQ(r.error_status, 2);
    EXPECT_EQ(refusal(&wrong_length, nullptr, &r),
              std::vector<std::string>{"wrong subset selection[0]; one value per dimension is required"});
    EXPECT_EQ(r.error_status, 2);
    EXPECT_EQ(refusal(&three, &four, &r),
              std::vector<std::string>{"subset selections hold different numbers of elements"});
    EXPECT_EQ(r.error_status, 2);
}

TEST(SubsetRefusalTest, EmptySelectionComparesNothing)
{
    const selection none{{0}, {1}, {0}, {1}};
    subset_run r = run_subset("/subsets/one", &none, nullptr, ZARN_HYPERSLAB_BUFSIZE);
    EXPECT_EQ(r.error_status, 0);
    EXPECT_EQ(r.found, 0u);
}

} // namespace
