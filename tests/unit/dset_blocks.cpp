// Contiguous data read and compared block by block prints exactly what one
// buffer of the same data prints: one table header, the same rows and
// positions, the same count, the count limit holding across blocks.
#include "mirlo_dset.hpp"
#include "zarn_utils.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Two files with a 2-D float64, a 1-D int32 and a 3-D int16 dataset; the
// second file changes elements at both ends and around the places where
// blocks of every budget below begin and end.
struct block_pair {
    test_support::temp_dir dir{"dset_blocks", true};
    std::string a = dir.file("a.h5");
    std::string b = dir.file("b.h5");
};

template <typename T>
bool write(hid_t f, const char *name, hid_t type, const std::vector<hsize_t> &dims, bool second,
           const std::vector<size_t> &changed)
{
    size_t n = 1;
    for (hsize_t d : dims)
        n *= d;
    std::vector<T> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<T>(i % 97);
    if (second)
        for (size_t i : changed)
            v[i] = static_cast<T>(v[i] + 5);
    h5_dataspace space(H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr));
    h5_dataset d(H5Dcreate2(f, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    return d.valid() && H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()) >= 0;
}

bool write_file(const std::string &path, bool second)
{
    h5_file f(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
    return f.valid() &&
           write<double>(f, "grid", H5T_NATIVE_DOUBLE, {60, 50}, second, {0, 49, 50, 99, 100, 1234, 2999}) &&
           write<int>(f, "line", H5T_NATIVE_INT, {1000}, second, {0, 1, 199, 200, 201, 511, 512, 999}) &&
           write<short>(f, "cube", H5T_NATIVE_SHORT, {7, 9, 11}, second, {0, 98, 99, 100, 692});
}

struct run {
    nfound_t found;
    int error_status;
    std::string out;
    bool operator==(const run &) const = default;
};

run compare(const block_pair &p, const char *name, uint64_t limit)
{
    h5_file fa(H5Fopen(p.a.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    h5_file fb(H5Fopen(p.b.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    test_support::comparison o(true);
    o.settings.count_mode = limit > 0;
    o.settings.count_limit = limit;
    const auto r = test_support::capture([&] { return diff_dataset(fa, fb, name, name, o.subsets(), o.ctx()); });
    return {r.result, o.outcome.status, r.out};
}

size_t headers(const std::string &out)
{
    size_t n = 0;
    for (size_t at = out.find("position"); at != std::string::npos; at = out.find("position", at + 1))
        ++n;
    return n;
}

TEST(BlockReadTest, BlocksPrintWhatOneBufferPrints)
{
    block_pair p;
    ASSERT_TRUE(p.dir.valid());
    ASSERT_TRUE(write_file(p.a, false));
    ASSERT_TRUE(write_file(p.b, true));
    const hsize_t saved_budget = hyperslab_bufsize, saved_limit = whole_read_limit;
    for (const char *name : {"/grid", "/line", "/cube"}) {
        for (uint64_t limit : {0, 1, 3, 6}) {
            // One buffer: blocks of 4 MiB are larger than the data.
            hyperslab_bufsize = ZARN_HYPERSLAB_BUFSIZE;
            whole_read_limit = ZARN_WHOLE_READ_LIMIT;
            const run whole = compare(p, name, limit);
            EXPECT_EQ(headers(whole.out), 1u) << name;
            // Whole reads and strips cut into blocks of 10 to 400 bytes.
            for (hsize_t budget : {80, 400, 808, 3200}) {
                hyperslab_bufsize = budget;
                const run blocks = compare(p, name, limit);
                EXPECT_EQ(blocks, whole) << name << " budget " << budget << " limit " << limit;
            }
        }
    }
    hyperslab_bufsize = saved_budget;
    whole_read_limit = saved_limit;
}

} // namespace
