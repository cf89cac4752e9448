// Floors of the dataset comparison, and the writer of their input files.
//
//   floor_dset write FILE ELEMENTS EVERY   one float64 dataset /d of ELEMENTS
//                                          values; EVERY > 0 changes every
//                                          EVERY-th value (the second file of a
//                                          pair), 0 changes none
//   floor_dset whole A B                   reads /d of both files whole with
//                                          H5Dread, then memcmp
//   floor_dset strips A B [BYTES]          reads matching strips of BYTES
//                                          (32 MiB) into two reused buffers,
//                                          memcmp per strip
//
// Prints "equal" or "differ". Nothing but HDF5 and the C library: this is
// the least any comparison of the two datasets must do.
#include <hdf5.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int write_file(const char *path, hsize_t n, hsize_t every)
{
    hid_t f = H5Fcreate(path, H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    hid_t space = H5Screate_simple(1, &n, nullptr);
    hid_t d = H5Dcreate2(f, "d", H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    if (d < 0)
        return 1;
    const hsize_t piece = 4 << 20;
    std::vector<double> buf(piece);
    for (hsize_t start = 0; start < n; start += piece) {
        hsize_t count = n - start < piece ? n - start : piece;
        for (hsize_t i = 0; i < count; ++i) {
            const hsize_t k = start + i;
            buf[i] = static_cast<double>(k % 100000) * 0.5;
            if (every != 0 && k % every == 0)
                buf[i] += 1.0;
        }
        hid_t mem = H5Screate_simple(1, &count, nullptr);
        H5Sselect_hyperslab(space, H5S_SELECT_SET, &start, nullptr, &count, nullptr);
        herr_t w = H5Dwrite(d, H5T_NATIVE_DOUBLE, mem, space, H5P_DEFAULT, buf.data());
        H5Sclose(mem);
        if (w < 0)
            return 1;
    }
    H5Dclose(d);
    H5Sclose(space);
    return H5Fclose(f) < 0 ? 1 : 0;
}

struct pair {
    hid_t f[2] = {-1, -1};
    hid_t d[2] = {-1, -1};
    hid_t s[2] = {-1, -1};
    hsize_t n = 0;
    bool open(const char *a, const char *b)
    {
        const char *names[2] = {a, b};
        for (int k = 0; k < 2; ++k) {
            f[k] = H5Fopen(names[k], H5F_ACC_RDONLY, H5P_DEFAULT);
            d[k] = H5Dopen2(f[k], "d", H5P_DEFAULT);
            s[k] = H5Dget_space(d[k]);
            if (s[k] < 0)
                return false;
        }
        n = static_cast<hsize_t>(H5Sget_simple_extent_npoints(s[0]));
        return static_cast<hsize_t>(H5Sget_simple_extent_npoints(s[1])) == n;
    }
    ~pair()
    {
        for (int k = 0; k < 2; ++k) {
            if (s[k] >= 0)
                H5Sclose(s[k]);
            if (d[k] >= 0)
                H5Dclose(d[k]);
            if (f[k] >= 0)
                H5Fclose(f[k]);
        }
    }
};

int whole(const char *a, const char *b)
{
    pair p;
    if (!p.open(a, b))
        return 1;
    const size_t bytes = p.n * sizeof(double);
    void *b1 = std::malloc(bytes);
    void *b2 = std::malloc(bytes);
    if (!b1 || !b2)
        return 1;
    if (H5Dread(p.d[0], H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, b1) < 0 ||
        H5Dread(p.d[1], H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, b2) < 0)
        return 1;
    std::puts(std::memcmp(b1, b2, bytes) == 0 ? "equal" : "differ");
    std::free(b1);
    std::free(b2);
    return 0;
}

int strips(const char *a, const char *b, hsize_t strip_bytes)
{
    pair p;
    if (!p.open(a, b))
        return 1;
    const hsize_t per_strip = strip_bytes / sizeof(double);
    void *b1 = std::malloc(per_strip * sizeof(double));
    void *b2 = std::malloc(per_strip * sizeof(double));
    if (!b1 || !b2)
        return 1;
    bool equal = true;
    hid_t mem = -1;
    hsize_t mem_count = 0;
    for (hsize_t start = 0; start < p.n; start += per_strip) {
        hsize_t count = p.n - start < per_strip ? p.n - start : per_strip;
        if (count != mem_count) {
            if (mem >= 0)
                H5Sclose(mem);
            mem = H5Screate_simple(1, &count, nullptr);
            mem_count = count;
        }
        for (int k = 0; k < 2; ++k)
            H5Sselect_hyperslab(p.s[k], H5S_SELECT_SET, &start, nullptr, &count, nullptr);
        if (H5Dread(p.d[0], H5T_NATIVE_DOUBLE, mem, p.s[0], H5P_DEFAULT, b1) < 0 ||
            H5Dread(p.d[1], H5T_NATIVE_DOUBLE, mem, p.s[1], H5P_DEFAULT, b2) < 0)
            return 1;
        if (std::memcmp(b1, b2, count * sizeof(double)) != 0)
            equal = false;
    }
    if (mem >= 0)
        H5Sclose(mem);
    std::puts(equal ? "equal" : "differ");
    std::free(b1);
    std::free(b2);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "write") == 0)
        return write_file(argv[2], std::strtoull(argv[3], nullptr, 0), std::strtoull(argv[4], nullptr, 0));
    if (argc >= 4 && std::strcmp(argv[1], "whole") == 0)
        return whole(argv[2], argv[3]);
    if (argc >= 4 && std::strcmp(argv[1], "strips") == 0)
        return strips(argv[2], argv[3], argc >= 5 ? std::strtoull(argv[4], nullptr, 0) : 33554432);
    std::fprintf(stderr, "usage: floor_dset write FILE ELEMENTS EVERY | whole A B | strips A B [BYTES]\n");
    return 2;
}
