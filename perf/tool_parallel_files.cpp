// Writes the file pairs timed by perf/run_parallel.sh.
//
//   tool_parallel_files many A B COUNT ELEMENTS DIFFERING
//       COUNT float64 datasets /d00000, /d00001, ... of ELEMENTS values in
//       each file; DIFFERING of them, spread evenly, have three values changed
//       in file B (the rest are identical)
//   tool_parallel_files big A B COUNT ELEMENTS [STEP]
//       COUNT float64 datasets of ELEMENTS values in each file; in file B every
//       STEP-th value (default 100: 1%) is 5% larger than in A, so every one of
//       them differs beyond a 1% relative tolerance
//
// Values are never zero, so a relative comparison never divides by zero.
// Nothing but HDF5 and the C library.
#include <hdf5.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

double value(hsize_t k)
{
    return 1.0 + static_cast<double>(k % 100000) * 0.5;
}

// One contiguous 1-D float64 dataset written in one H5Dwrite.
bool write_dataset(hid_t file, const char *name, const std::vector<double> &values)
{
    hsize_t n = values.size();
    hid_t space = H5Screate_simple(1, &n, nullptr);
    if (space < 0)
        return false;
    hid_t d = H5Dcreate2(file, name, H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    bool ok = d >= 0 && H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0;
    if (d >= 0)
        H5Dclose(d);
    H5Sclose(space);
    return ok;
}

struct file_pair {
    hid_t f[2] = {-1, -1};
    bool create(const char *a, const char *b)
    {
        f[0] = H5Fcreate(a, H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        f[1] = H5Fcreate(b, H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        return f[0] >= 0 && f[1] >= 0;
    }
    bool close()
    {
        bool ok = true;
        for (hid_t &id : f) {
            if (id >= 0 && H5Fclose(id) < 0)
                ok = false;
            id = -1;
        }
        return ok;
    }
    ~file_pair() { close(); }
};

int write_many(const char *a, const char *b, long count, hsize_t elements, long differing)
{
    file_pair files;
    if (!files.create(a, b))
        return 1;
    std::vector<double> base(elements);
    for (hsize_t i = 0; i < elements; ++i)
        base[i] = value(i);
    std::vector<double> changed = base;
    for (hsize_t i = 1; i < elements; i += elements / 3 + 1)
        changed[i] += 1.0;
    const long step = differing > 0 ? count / differing : 0;
    char name[32];
    for (long k = 0; k < count; ++k) {
        std::snprintf(name, sizeof name, "d%05ld", k);
        const bool differs = step > 0 && k % step == step / 2 && k / step < differing;
        if (!write_dataset(files.f[0], name, base) || !write_dataset(files.f[1], name, differs ? changed : base))
            return 1;
    }
    return files.close() ? 0 : 1;
}

int write_big(const char *a, const char *b, long count, hsize_t elements, hsize_t step)
{
    file_pair files;
    if (!files.create(a, b))
        return 1;
    std::vector<double> values(elements);
    char name[32];
    for (long k = 0; k < count; ++k) {
        std::snprintf(name, sizeof name, "d%05ld", k);
        for (hsize_t i = 0; i < elements; ++i)
            values[i] = value(i + static_cast<hsize_t>(k));
        if (!write_dataset(files.f[0], name, values))
            return 1;
        for (hsize_t i = 0; i < elements; i += step)
            values[i] *= 1.05;
        if (!write_dataset(files.f[1], name, values))
            return 1;
    }
    return files.close() ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr, "usage: tool_parallel_files many A B COUNT ELEMENTS DIFFERING\n"
                         "       tool_parallel_files big A B COUNT ELEMENTS [STEP]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 6)
        return usage();
    const std::string_view mode = argv[1];
    const long count = std::strtol(argv[4], nullptr, 10);
    const long long elements = std::strtoll(argv[5], nullptr, 10);
    if (count <= 0 || elements <= 0)
        return usage();
    int rc;
    if (mode == "many" && argc == 7)
        rc = write_many(argv[2], argv[3], count, static_cast<hsize_t>(elements), std::strtol(argv[6], nullptr, 10));
    else if (mode == "big" && (argc == 6 || (argc == 7 && std::strtoull(argv[6], nullptr, 10) > 0)))
        rc = write_big(argv[2], argv[3], count, static_cast<hsize_t>(elements),
                       argc == 7 ? std::strtoull(argv[6], nullptr, 10) : 100);
    else
        return usage();
    if (rc != 0)
        std::fprintf(stderr, "tool_parallel_files: writing %s and %s failed\n", argv[2], argv[3]);
    return rc;
}
