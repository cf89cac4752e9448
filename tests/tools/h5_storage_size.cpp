// Prints what the datasets Dataset_1, Dataset_2, ... of an HDF5 file take on
// disk (H5Dget_storage_size), one line each, then their sum: an account of a
// tessel test file that does not go through tessel.
//
//   h5_storage_size FILE
#include <hdf5.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: h5_storage_size FILE\n");
        return 2;
    }
    const hid_t file = H5Fopen(argv[1], H5F_ACC_RDONLY, H5P_DEFAULT);
    if (file < 0)
        return 1;
    unsigned long long total = 0;
    int status = 0;
    for (int n = 1;; ++n) {
        const std::string name = "Dataset_" + std::to_string(n);
        if (H5Lexists(file, name.c_str(), H5P_DEFAULT) <= 0)
            break;
        const hid_t dataset = H5Dopen2(file, name.c_str(), H5P_DEFAULT);
        if (dataset < 0) {
            status = 1;
            break;
        }
        const unsigned long long size = H5Dget_storage_size(dataset);
        std::printf("%s %llu\n", name.c_str(), size);
        total += size;
        H5Dclose(dataset);
    }
    std::printf("total %llu\n", total);
    H5Fclose(file);
    return status;
}
