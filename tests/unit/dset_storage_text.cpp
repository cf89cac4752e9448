// How a dataset's storage is read and told: layouts, chunk shapes, filters
// with their values, and fill values of several types, each written here
// and described by hand.
#include "mirlo_storage.hpp"
#include "h5_handle.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

struct storage_case {
    const char *name;
    hid_t type;
    std::vector<hsize_t> dims;
    std::function<void(hid_t dcpl)> set; // creation properties
    const char *expected;
};

h5_file memory_file()
{
    h5_plist fapl(H5Pcreate(H5P_FILE_ACCESS));
    H5Pset_fapl_core(fapl, 1 << 16, 0);
    return h5_file(H5Fcreate("storage_text.h5", H5F_ACC_TRUNC, H5P_DEFAULT, fapl));
}

void chunk(hid_t dcpl, std::vector<hsize_t> dims)
{
    ASSERT_GE(H5Pset_chunk(dcpl, static_cast<int>(dims.size()), dims.data()), 0);
}

TEST(DatasetStorageTest, LayoutsFiltersAndFillValuesInWords)
{
    const int32_t int_fill = -7;
    const uint64_t big_fill = 18446744073709551615ULL;
    const float float_fill = 0.1f;
    const double double_fill = -2.5;
    const unsigned char opaque_fill[3] = {0x01, 0xab, 0xff};
    h5_datatype opaque(H5Tcreate(H5T_OPAQUE, 3));
    const storage_case cases[] = {
        {"plain", H5T_NATIVE_INT32, {4}, [](hid_t) {}, "contiguous, no filters, fill value 0 (default)"},
        {"compact", H5T_NATIVE_INT32, {4}, [](hid_t p) { ASSERT_GE(H5Pset_layout(p, H5D_COMPACT), 0); },
         "compact, no filters, fill value 0 (default)"},
        {"chunked_filters", H5T_NATIVE_INT32, {6, 8},
         [&](hid_t p) {
             chunk(p, {3, 4});
             ASSERT_GE(H5Pset_shuffle(p), 0);
             ASSERT_GE(H5Pset_deflate(p, 6), 0);
             ASSERT_GE(H5Pset_fill_value(p, H5T_NATIVE_INT32, &int_fill), 0);
         },
         "chunked [3x4], filters shuffle (2) {4}, deflate (1) {6}, fill value -7"},
        {"fletcher", H5T_NATIVE_INT16, {8},
         [](hid_t p) {
             chunk(p, {8});
             ASSERT_GE(H5Pset_fletcher32(p), 0);
         },
         "chunked [8], filters fletcher32 (3), fill value 0 (default)"},
        {"undefined", H5T_NATIVE_INT32, {4},
         [](hid_t p) { ASSERT_GE(H5Pset_fill_value(p, H5T_NATIVE_INT32, nullptr), 0); },
         "contiguous, no filters, fill value undefined"},
        {"unsigned_max", H5T_NATIVE_UINT64, {2},
         [&](hid_t p) { ASSERT_GE(H5Pset_fill_value(p, H5T_NATIVE_UINT64, &big_fill), 0); },
         "contiguous, no filters, fill value 18446744073709551615"},
        {"float", H5T_NATIVE_FLOAT, {2},
         [&](hid_t p) { ASSERT_GE(H5Pset_fill_value(p, H5T_NATIVE_FLOAT, &float_fill), 0); },
         "contiguous, no filters, fill value 0.100000001"},
        {"double", H5T_NATIVE_DOUBLE, {2},
         [&](hid_t p) { ASSERT_GE(H5Pset_fill_value(p, H5T_NATIVE_DOUBLE, &double_fill), 0); },
         "contiguous, no filters, fill value -2.5"},
        {"opaque", opaque, {2}, [&](hid_t p) { ASSERT_GE(H5Pset_fill_value(p, opaque, opaque_fill), 0); },
         "contiguous, no filters, fill value 0x01abff"},
    };
    h5_file file = memory_file();
    ASSERT_TRUE(file.valid());
    for (const storage_case &c : cases) {
        SCOPED_TRACE(c.name);
        h5_plist dcpl(H5Pcreate(H5P_DATASET_CREATE));
        c.set(dcpl);
        h5_dataspace space(H5Screate_simple(static_cast<int>(c.dims.size()), c.dims.data(), nullptr));
        h5_dataset d(H5Dcreate2(file, c.name, c.type, space, H5P_DEFAULT, dcpl, H5P_DEFAULT));
        ASSERT_TRUE(d.valid());
        dataset_storage storage;
        ASSERT_EQ(read_dataset_storage(d, &storage), 0);
        EXPECT_EQ(storage_text(storage), c.expected);
    }
}

TEST(DatasetStorageTest, StorageOfAClosedDatasetIsAFailure)
{
    dataset_storage storage;
    storage.layout = "left over";
    EXPECT_EQ(read_dataset_storage(H5I_INVALID_HID, &storage), -1);
    EXPECT_EQ(storage.layout, ""); // nothing of an earlier read is kept
}

} // namespace
