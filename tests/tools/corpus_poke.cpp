// Changes one element of one numeric dataset of an HDF5 file in place and
// prints the dataset's path: the first dataset, in name order, of a native
// integer or floating type with at least one element and readable filters.
// Used on copies of real files to check that exactly that change is found.
#include <hdf5.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct search {
    std::vector<std::string> paths;
};

herr_t collect(hid_t, const char *name, const H5O_info_t *info, void *udata)
{
    if (info->type == H5O_TYPE_DATASET)
        static_cast<search *>(udata)->paths.push_back(std::string("/") + name);
    return 0;
}

bool filters_available(hid_t dcpl)
{
    int n = H5Pget_nfilters(dcpl);
    for (int i = 0; i < n; ++i) {
        unsigned flags = 0;
        size_t nelmts = 0;
        H5Z_filter_t id = H5Pget_filter2(dcpl, static_cast<unsigned>(i), &flags, &nelmts, nullptr, 0, nullptr, nullptr);
        if (id < 0 || H5Zfilter_avail(id) <= 0)
            return false;
    }
    return true;
}

// Changes element 0 of the dataset; returns true when done.
bool poke(hid_t file, const std::string &path)
{
    hid_t d = H5Dopen2(file, path.c_str(), H5P_DEFAULT);
    if (d < 0)
        return false;
    bool done = false;
    hid_t ftype = H5Dget_type(d);
    hid_t space = H5Dget_space(d);
    hid_t dcpl = H5Dget_create_plist(d);
    H5T_class_t cls = H5Tget_class(ftype);
    hssize_t n = H5Sget_simple_extent_npoints(space);
    if ((cls == H5T_INTEGER || cls == H5T_FLOAT) && n > 0 && H5Tget_size(ftype) <= 8 &&
        H5Dget_storage_size(d) > 0 && filters_available(dcpl)) {
        hid_t mtype = cls == H5T_FLOAT ? H5Tcopy(H5T_NATIVE_DOUBLE) : H5Tcopy(H5T_NATIVE_LLONG);
        std::vector<unsigned char> buf(static_cast<size_t>(n) * 8);
        if (H5Dread(d, mtype, H5S_ALL, H5S_ALL, H5P_DEFAULT, buf.data()) >= 0) {
            if (cls == H5T_FLOAT) {
                double v;
                std::memcpy(&v, buf.data(), 8);
                v = std::isfinite(v) ? (v == 0 ? 1.0 : v * 2) : 1.0;
                std::memcpy(buf.data(), &v, 8);
            } else {
                long long v;
                std::memcpy(&v, buf.data(), 8);
                v = v == 0 ? 1 : v - 1;
                std::memcpy(buf.data(), &v, 8);
            }
            done = H5Dwrite(d, mtype, H5S_ALL, H5S_ALL, H5P_DEFAULT, buf.data()) >= 0;
        }
        H5Tclose(mtype);
    }
    H5Pclose(dcpl);
    H5Sclose(space);
    H5Tclose(ftype);
    H5Dclose(d);
    return done;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: corpus_poke FILE\n");
        return 2;
    }
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    hid_t file = H5Fopen(argv[1], H5F_ACC_RDWR, H5P_DEFAULT);
    if (file < 0)
        return 2;
    search s;
    H5Ovisit2(file, H5_INDEX_NAME, H5_ITER_INC, collect, &s, H5O_INFO_BASIC);
    int rc = 1;
    for (const auto &p : s.paths)
        if (poke(file, p)) {
            std::printf("%s\n", p.c_str());
            rc = 0;
            break;
        }
    H5Fclose(file);
    return rc;
}
