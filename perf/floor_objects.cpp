// Floor of comparing many small datasets: the least the library lets any
// comparison of two files do per object.
//
//   floor_objects structure A B   visits every object of both files (kind and
//                                 address from the visit itself, no look-up
//                                 by path), opens each dataset by its
//                                 address, reads its type and shape, closes
//   floor_objects full A B        the same, and reads each dataset's values
//                                 as native ints into a reused buffer, then
//                                 memcmp against the other file's
//
// Datasets are paired by their visiting order (both files are written
// alike); prints the number of datasets and of pairs whose values differ,
// and the seconds spent visiting and opening to closing. The metadata cache
// is kept from growing (a visit that reads each header once would otherwise
// grow it to hundreds of MiB of decoded headers, as the listing of pmirlo
// would).
// Nothing but HDF5 and the C library.
#include <hdf5.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

herr_t note_dataset(hid_t, const char *, const H5O_info_t *info, void *data)
{
    if (info->type == H5O_TYPE_DATASET)
        static_cast<std::vector<haddr_t> *>(data)->push_back(info->addr);
    return 0;
}

// Opens the dataset at address of file, its type and shape read; its values
// read into buf when read is set. False on a failure.
bool visit_dataset(hid_t file, haddr_t address, bool read, std::vector<int> *buf)
{
    hid_t d = H5Oopen_by_addr(file, address);
    if (d < 0)
        return false;
    hid_t type = H5Dget_type(d);
    hid_t space = H5Dget_space(d);
    hssize_t n = space >= 0 ? H5Sget_simple_extent_npoints(space) : -1;
    bool ok = type >= 0 && n >= 0;
    if (ok && read) {
        buf->resize(static_cast<size_t>(n));
        ok = H5Dread(d, H5T_NATIVE_INT, H5S_ALL, H5S_ALL, H5P_DEFAULT, buf->data()) >= 0;
    }
    if (type >= 0)
        H5Tclose(type);
    if (space >= 0)
        H5Sclose(space);
    return H5Dclose(d) >= 0 && ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 || (std::strcmp(argv[1], "structure") != 0 && std::strcmp(argv[1], "full") != 0)) {
        std::fprintf(stderr, "usage: floor_objects structure|full A B\n");
        return 2;
    }
    const bool read = std::strcmp(argv[1], "full") == 0;
    hid_t f[2];
    std::vector<haddr_t> datasets[2];
    using clock = std::chrono::steady_clock;
    const clock::time_point start = clock::now();
    for (int k = 0; k < 2; ++k) {
        f[k] = H5Fopen(argv[2 + k], H5F_ACC_RDONLY, H5P_DEFAULT);
        H5AC_cache_config_t cache;
        cache.version = H5AC__CURR_CACHE_CONFIG_VERSION;
        if (f[k] < 0 || H5Fget_mdc_config(f[k], &cache) < 0)
            return 2;
        cache.incr_mode = H5C_incr__off;
        cache.flash_incr_mode = H5C_flash_incr__off;
        if (H5Fset_mdc_config(f[k], &cache) < 0 ||
            H5Ovisit2(f[k], H5_INDEX_NAME, H5_ITER_INC, note_dataset, &datasets[k], H5O_INFO_BASIC) < 0)
            return 2;
    }
    const clock::time_point visited = clock::now();
    if (datasets[0].size() != datasets[1].size()) {
        std::fprintf(stderr, "the files hold different numbers of datasets\n");
        return 2;
    }
    std::vector<int> buf[2];
    size_t differing = 0;
    for (size_t i = 0; i < datasets[0].size(); ++i) {
        for (int k = 0; k < 2; ++k)
            if (!visit_dataset(f[k], datasets[k][i], read, &buf[k]))
                return 2;
        if (read && buf[0] != buf[1])
            ++differing;
    }
    const std::chrono::duration<double> visiting = visited - start, opening = clock::now() - visited;
    std::printf("%zu datasets, %zu differing; visit %.2f s, open to close %.2f s\n", datasets[0].size(), differing,
                visiting.count(), opening.count());
    for (hid_t file : f)
        H5Fclose(file);
    return 0;
}
