// A pair of datasets above the whole-read limit: 400 x 100000 float64
// (320000000 bytes) is compared in ten strips of 41 rows (the last of 31),
// with the same count and positions as a brute-force pass over the data.
#include "mirlo_dset.hpp"
#include "zarn_utils.hpp"
#include "test_support.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr hsize_t ROWS = 400;
constexpr hsize_t COLS = 100000;
constexpr hsize_t ROWS_PER_WRITE = 50;

// Elements changed in the second file: both ends of every 41-row strip, and
// a few inside.
std::vector<std::pair<hsize_t, hsize_t>> changed_elements()
{
    std::vector<std::pair<hsize_t, hsize_t>> v;
    for (hsize_t strip = 0; strip < 10; ++strip) {
        const hsize_t first = strip * 41;
        const hsize_t last = std::min(first + 40, ROWS - 1);
        v.push_back({first, 0});
        v.push_back({last, COLS - 1});
        v.push_back({first + 7, 12345 + strip});
    }
    return v;
}

// Temporary folder with the two files, removed afterwards; memory-backed
// when the system has it (the files are only read back).
struct big_pair {
    test_support::temp_dir dir{"dset_strips", true};
    std::string a = dir.file("a.h5");
    std::string b = dir.file("b.h5");
};

double value(hsize_t row, hsize_t col)
{
    return static_cast<double>(row) * 0.25 + static_cast<double>(col);
}

bool write_file(const std::string &path, bool second)
{
    h5_file f(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
    const hsize_t dims[2] = {ROWS, COLS};
    h5_dataspace space(H5Screate_simple(2, dims, nullptr));
    h5_dataset d(H5Dcreate2(f, "big", H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    if (!d.valid())
        return false;
    const auto changes = changed_elements();
    std::vector<double> rows(ROWS_PER_WRITE * COLS);
    for (hsize_t r0 = 0; r0 < ROWS; r0 += ROWS_PER_WRITE) {
        for (hsize_t r = 0; r < ROWS_PER_WRITE; ++r)
            for (hsize_t c = 0; c < COLS; ++c)
                rows[r * COLS + c] = value(r0 + r, c);
        if (second)
            for (const auto &[r, c] : changes)
                if (r >= r0 && r < r0 + ROWS_PER_WRITE)
                    rows[(r - r0) * COLS + c] = -1.0;
        const hsize_t start[2] = {r0, 0}, count[2] = {ROWS_PER_WRITE, COLS};
        h5_dataspace mem(H5Screate_simple(2, count, nullptr));
        H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, count, nullptr);
        if (H5Dwrite(d, H5T_NATIVE_DOUBLE, mem, space, H5P_DEFAULT, rows.data()) < 0)
            return false;
    }
    return true;
}

// Reads both datasets block of rows by block of rows and lists the positions
// that differ, in row-major order.
std::string brute_force_positions(const big_pair &p, nfound_t *count)
{
    h5_file fa(H5Fopen(p.a.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    h5_file fb(H5Fopen(p.b.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    h5_dataset da(H5Dopen2(fa, "big", H5P_DEFAULT));
    h5_dataset db(H5Dopen2(fb, "big", H5P_DEFAULT));
    h5_dataspace sa(H5Dget_space(da));
    h5_dataspace sb(H5Dget_space(db));
    std::vector<double> ra(ROWS_PER_WRITE * COLS), rb(ROWS_PER_WRITE * COLS);
    std::string positions;
    *count = 0;
    for (hsize_t r0 = 0; r0 < ROWS; r0 += ROWS_PER_WRITE) {
        const hsize_t start[2] = {r0, 0}, cnt[2] = {ROWS_PER_WRITE, COLS};
        h5_dataspace mem(H5Screate_simple(2, cnt, nullptr));
        H5Sselect_hyperslab(sa, H5S_SELECT_SET, start, nullptr, cnt, nullptr);
        H5Sselect_hyperslab(sb, H5S_SELECT_SET, start, nullptr, cnt, nullptr);
        EXPECT_GE(H5Dread(da, H5T_NATIVE_DOUBLE, mem, sa, H5P_DEFAULT, ra.data()), 0);
        EXPECT_GE(H5Dread(db, H5T_NATIVE_DOUBLE, mem, sb, H5P_DEFAULT, rb.data()), 0);
        for (hsize_t i = 0; i < ra.size(); ++i) {
            if (ra[i] != rb[i]) {
                ++*count;
                positions += "[ " + std::to_string(r0 + i / COLS) + " " + std::to_string(i % COLS) + " ]";
            }
        }
    }
    return positions;
}

std::string printed_positions(const std::string &out)
{
    std::string printed;
    for (size_t at = out.find("\n[ "); at != std::string::npos; at = out.find("\n[ ", at + 1))
        printed += out.substr(at + 1, out.find(']', at) - at);
    return printed;
}

size_t headers(const std::string &out)
{
    size_t n = 0;
    for (size_t at = out.find("size:"); at != std::string::npos; at = out.find("size:", at + 1))
        ++n;
    return n;
}

struct big_run {
    nfound_t found;
    int error_status;
    std::string out;
};

big_run compare_big(const big_pair &p)
{
    h5_file fa(H5Fopen(p.a.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    h5_file fb(H5Fopen(p.b.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    test_support::comparison o(true);
    const auto run = test_support::capture([&] { return diff_dataset(fa, fb, "/big", "/big", o.subsets(), o.ctx()); });
    return {run.result, o.outcome.status, run.out};
}

TEST(LargeDatasetTest, ComparedInTenStripsWithTheBruteForceCount)
{
    big_pair p;
    ASSERT_TRUE(p.dir.valid());
    ASSERT_TRUE(write_file(p.a, false));
    ASSERT_TRUE(write_file(p.b, true));

    nfound_t expected = 0;
    const std::string positions = brute_force_positions(p, &expected);
    ASSERT_EQ(expected, changed_elements().size());

    big_run strips = compare_big(p);
    EXPECT_EQ(strips.error_status, 0);
    EXPECT_EQ(strips.found, expected);
    EXPECT_EQ(headers(strips.out), 10u); // one table header per strip, each strip has differences
    EXPECT_EQ(printed_positions(strips.out), positions);
}

} // namespace
