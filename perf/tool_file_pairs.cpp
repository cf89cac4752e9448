// Writes the folders timed by perf/run_file_pairs.sh.
//
//   tool_file_pairs DIR1 DIR2 ONE1 ONE2 FILES DATASETS DIFFERING
//       FILES file pairs run0000.h5, run0001.h5, ... under DIR1 and DIR2, each
//       with DATASETS float64 datasets /d00, /d01, ... of 100 values; in
//       DIFFERING of the pairs, spread evenly, one value of /d00 is changed
//       under DIR2. ONE1 and ONE2 hold the same datasets in one file each,
//       one group per file pair (/run0000/d00, ...), with the same changes.
//
// Nothing but HDF5 and the C library.
#include <hdf5.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr hsize_t ELEMENTS = 100;

bool write_dataset(hid_t where, const char *name, const std::vector<double> &values)
{
    hsize_t n = values.size();
    hid_t space = H5Screate_simple(1, &n, nullptr);
    if (space < 0)
        return false;
    hid_t d = H5Dcreate2(where, name, H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    bool ok = d >= 0 && H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0;
    if (d >= 0)
        H5Dclose(d);
    H5Sclose(space);
    return ok;
}

// The datasets of one file pair under where (a file or a group).
bool write_run(hid_t where, long datasets, long k, bool changed)
{
    std::vector<double> values(ELEMENTS);
    char name[32];
    for (long d = 0; d < datasets; ++d) {
        for (hsize_t i = 0; i < ELEMENTS; ++i)
            values[i] = 1.0 + static_cast<double>((i + static_cast<hsize_t>(d + k)) % 1000) * 0.25;
        if (changed && d == 0)
            values[ELEMENTS / 2] += 1.0;
        std::snprintf(name, sizeof name, "d%02ld", d);
        if (!write_dataset(where, name, values))
            return false;
    }
    return true;
}

bool write_all(const char *dir1, const char *dir2, const char *one1, const char *one2, long files, long datasets,
               long differing)
{
    hid_t one[2] = {H5Fcreate(one1, H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT),
                    H5Fcreate(one2, H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT)};
    bool ok = one[0] >= 0 && one[1] >= 0;
    const long step = differing > 0 ? files / differing : 0;
    char run[32];
    for (long k = 0; ok && k < files; ++k) {
        const bool differs = step > 0 && k % step == step / 2 && k / step < differing;
        std::snprintf(run, sizeof run, "run%04ld", k);
        const char *dirs[2] = {dir1, dir2};
        for (int side = 0; ok && side < 2; ++side) {
            const std::string path = std::string(dirs[side]) + "/" + run + ".h5";
            hid_t f = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
            ok = f >= 0 && write_run(f, datasets, k, side == 1 && differs);
            if (f >= 0 && H5Fclose(f) < 0)
                ok = false;
            hid_t g = ok ? H5Gcreate2(one[side], run, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT) : -1;
            ok = ok && g >= 0 && write_run(g, datasets, k, side == 1 && differs);
            if (g >= 0 && H5Gclose(g) < 0)
                ok = false;
        }
    }
    for (hid_t f : one)
        if (f >= 0 && H5Fclose(f) < 0)
            ok = false;
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 8) {
        std::fprintf(stderr, "usage: tool_file_pairs DIR1 DIR2 ONE1 ONE2 FILES DATASETS DIFFERING\n");
        return 2;
    }
    const long files = std::strtol(argv[5], nullptr, 10);
    const long datasets = std::strtol(argv[6], nullptr, 10);
    const long differing = std::strtol(argv[7], nullptr, 10);
    if (files <= 0 || datasets <= 0 || datasets > 100 || differing < 0 || differing > files) {
        std::fprintf(stderr, "tool_file_pairs: FILES > 0, 0 < DATASETS <= 100, 0 <= DIFFERING <= FILES\n");
        return 2;
    }
    if (!write_all(argv[1], argv[2], argv[3], argv[4], files, datasets, differing)) {
        std::fprintf(stderr, "tool_file_pairs: writing the files failed\n");
        return 1;
    }
    return 0;
}
