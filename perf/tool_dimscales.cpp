// Writes the netCDF-style pair timed by perf/run_dimscales.sh.
//
//   tool_dimscales A B T Y X CHANGED
//       one float32 variable /var of T x Y x X on the coordinates /time,
//       /lat and /lon, tied to them as netCDF-4 ties them: DIMENSION_LIST
//       on the variable (one variable-length list of object references per
//       dimension), REFERENCE_LIST on each coordinate (a compound of the
//       variable's reference and the dimension index), CLASS and NAME. In
//       file B, CHANGED values of /var, spread evenly, are larger by one.
//
// The attributes are written with plain HDF5 calls in the layout of the
// library's dimension-scale calls, so only HDF5 and the C library are used.
#include <hdf5.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool write_text_attribute(hid_t loc, const char *name, const char *text)
{
    const hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, std::strlen(text) + 1);
    H5Tset_strpad(type, H5T_STR_NULLTERM);
    const hid_t space = H5Screate(H5S_SCALAR);
    const hid_t attr = H5Acreate2(loc, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok = attr >= 0 && H5Awrite(attr, type, text) >= 0;
    H5Aclose(attr);
    H5Sclose(space);
    H5Tclose(type);
    return ok;
}

bool write_coordinate(hid_t file, const char *name, hsize_t n)
{
    std::vector<double> values(n);
    for (hsize_t i = 0; i < n; ++i)
        values[i] = static_cast<double>(i);
    const hid_t space = H5Screate_simple(1, &n, nullptr);
    const hid_t d = H5Dcreate2(file, name, H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok = d >= 0 && H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) >= 0 &&
                    write_text_attribute(d, "CLASS", "DIMENSION_SCALE") && write_text_attribute(d, "NAME", name + 1);
    H5Dclose(d);
    H5Sclose(space);
    return ok;
}

// REFERENCE_LIST of a coordinate: the variable and the dimension it scales.
bool write_reference_list(hid_t file, const char *coordinate, const hobj_ref_t &variable, int dimension)
{
    struct entry {
        hobj_ref_t ref;
        int dimension;
    } e{variable, dimension};
    const hid_t type = H5Tcreate(H5T_COMPOUND, sizeof(entry));
    H5Tinsert(type, "dataset", HOFFSET(entry, ref), H5T_STD_REF_OBJ);
    H5Tinsert(type, "dimension", HOFFSET(entry, dimension), H5T_NATIVE_INT);
    const hsize_t one = 1;
    const hid_t space = H5Screate_simple(1, &one, nullptr);
    const hid_t d = H5Dopen2(file, coordinate, H5P_DEFAULT);
    const hid_t attr = H5Acreate2(d, "REFERENCE_LIST", type, space, H5P_DEFAULT, H5P_DEFAULT);
    const bool ok = attr >= 0 && H5Awrite(attr, type, &e) >= 0;
    H5Aclose(attr);
    H5Dclose(d);
    H5Sclose(space);
    H5Tclose(type);
    return ok;
}

bool write_file(const char *path, const hsize_t dims[3], long changed)
{
    const hid_t file = H5Fcreate(path, H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0)
        return false;
    const char *const coordinates[3] = {"/time", "/lat", "/lon"};
    bool ok = true;
    for (int k = 0; k < 3; ++k)
        ok = ok && write_coordinate(file, coordinates[k], dims[k]);
    // The variable, written one time step at a time.
    const hid_t space = H5Screate_simple(3, dims, nullptr);
    const hid_t var = H5Dcreate2(file, "/var", H5T_NATIVE_FLOAT, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const hsize_t plane = dims[1] * dims[2];
    const hsize_t total = dims[0] * plane;
    const hsize_t step = changed > 0 ? total / static_cast<hsize_t>(changed) : 0;
    std::vector<float> values(plane);
    for (hsize_t t = 0; ok && t < dims[0]; ++t) {
        for (hsize_t i = 0; i < plane; ++i) {
            const hsize_t k = t * plane + i;
            values[i] = 250.0f + static_cast<float>(k % 1000) * 0.1f;
            if (step > 0 && k % step == 0 && k / step < static_cast<hsize_t>(changed))
                values[i] += 1.0f;
        }
        const hsize_t start[3] = {t, 0, 0}, count[3] = {1, dims[1], dims[2]};
        const hid_t mem = H5Screate_simple(1, &plane, nullptr);
        H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, count, nullptr);
        ok = H5Dwrite(var, H5T_NATIVE_FLOAT, mem, space, H5P_DEFAULT, values.data()) >= 0;
        H5Sclose(mem);
    }
    // DIMENSION_LIST: per dimension a list of one reference to its coordinate.
    hobj_ref_t refs[3], var_ref;
    for (int k = 0; k < 3; ++k)
        ok = ok && H5Rcreate(&refs[k], file, coordinates[k], H5R_OBJECT, -1) >= 0;
    ok = ok && H5Rcreate(&var_ref, file, "/var", H5R_OBJECT, -1) >= 0;
    hvl_t lists[3];
    for (int k = 0; k < 3; ++k)
        lists[k] = {1, &refs[k]};
    const hid_t vtype = H5Tvlen_create(H5T_STD_REF_OBJ);
    const hsize_t three = 3;
    const hid_t lspace = H5Screate_simple(1, &three, nullptr);
    const hid_t attr = H5Acreate2(var, "DIMENSION_LIST", vtype, lspace, H5P_DEFAULT, H5P_DEFAULT);
    ok = ok && attr >= 0 && H5Awrite(attr, vtype, lists) >= 0;
    H5Aclose(attr);
    H5Sclose(lspace);
    H5Tclose(vtype);
    H5Dclose(var);
    H5Sclose(space);
    for (int k = 0; k < 3; ++k)
        ok = ok && write_reference_list(file, coordinates[k], var_ref, k);
    return H5Fclose(file) >= 0 && ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 7) {
        std::fprintf(stderr, "usage: tool_dimscales A B T Y X CHANGED\n");
        return 2;
    }
    const hsize_t dims[3] = {std::strtoull(argv[3], nullptr, 10), std::strtoull(argv[4], nullptr, 10),
                             std::strtoull(argv[5], nullptr, 10)};
    const long changed = std::atol(argv[6]);
    if (!write_file(argv[1], dims, 0) || !write_file(argv[2], dims, changed)) {
        std::fprintf(stderr, "tool_dimscales: cannot write the files\n");
        return 1;
    }
    return 0;
}
