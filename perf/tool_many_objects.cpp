// Writes the file pairs timed by perf/run_many_objects.sh: many small
// datasets spread over groups.
//
//   tool_many_objects A B DATASETS GROUPS DIFFERING
//       DATASETS compact int32 datasets of 4 values, spread evenly over
//       GROUPS groups /g0000, /g0001, ... (each dataset /gNNNN/dNNNNNN), in
//       both files; DIFFERING of them, spread evenly, have one value changed
//       in file B
//
// Nothing but HDF5 and the C library.
#include <hdf5.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

bool write_file(const char *path, long datasets, long groups, long differing, bool second)
{
    hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
    H5Pset_libver_bounds(fapl, H5F_LIBVER_V18, H5F_LIBVER_LATEST);
    hid_t file = H5Fcreate(path, H5F_ACC_TRUNC, H5P_DEFAULT, fapl);
    H5Pclose(fapl);
    if (file < 0)
        return false;
    const hsize_t n = 4;
    hid_t space = H5Screate_simple(1, &n, nullptr);
    hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_layout(dcpl, H5D_COMPACT);
    const long step = differing > 0 ? datasets / differing : 0;
    bool ok = space >= 0 && dcpl >= 0;
    for (long g = 0; ok && g < groups; ++g) {
        char name[32];
        std::snprintf(name, sizeof name, "g%04ld", g);
        hid_t grp = H5Gcreate2(file, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        ok = grp >= 0;
        for (long d = g; ok && d < datasets; d += groups) {
            int32_t v[4] = {static_cast<int32_t>(d), 1, 2, 3};
            if (second && step > 0 && d % step == 0 && d / step < differing)
                v[2] = -1;
            std::snprintf(name, sizeof name, "d%06ld", d);
            hid_t set = H5Dcreate2(grp, name, H5T_NATIVE_INT32, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
            ok = set >= 0 && H5Dwrite(set, H5T_NATIVE_INT32, H5S_ALL, H5S_ALL, H5P_DEFAULT, v) >= 0;
            if (set >= 0)
                H5Dclose(set);
        }
        if (grp >= 0)
            H5Gclose(grp);
    }
    if (dcpl >= 0)
        H5Pclose(dcpl);
    if (space >= 0)
        H5Sclose(space);
    return H5Fclose(file) >= 0 && ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s A B DATASETS GROUPS DIFFERING\n", argv[0]);
        return 1;
    }
    const long datasets = std::atol(argv[3]);
    const long groups = std::atol(argv[4]);
    const long differing = std::atol(argv[5]);
    if (datasets < 1 || groups < 1 || differing < 0 || differing > datasets) {
        std::fprintf(stderr, "%s: counts out of range\n", argv[0]);
        return 1;
    }
    if (!write_file(argv[1], datasets, groups, differing, false) ||
        !write_file(argv[2], datasets, groups, differing, true)) {
        std::fprintf(stderr, "%s: cannot write the files\n", argv[0]);
        return 1;
    }
    return 0;
}
