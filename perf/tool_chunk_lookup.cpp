// Cost of one chunk look-up in HDF5, per chunk-index kind: a dataset of N
// single-element chunks (N = 100000 unless given) of each kind, written to
// DIR, then the time per call of each way the library offers to learn about a
// stored chunk, beside one H5Dread of the whole dataset.
//
//   usage: tool_chunk_lookup DIR [N]
//
// Kinds: fixed array (fixed extent, latest format), extensible array (one
// unlimited dimension), version-2 B-tree (two unlimited dimensions), version-1
// B-tree (earliest format), implicit (early allocation, no filter) and single
// chunk (one chunk of N elements). Calls whose cost may grow with N are timed
// on the first SAMPLE chunks only; the per-call figure is what matters.
#include <hdf5.h>
#include <mpi.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr hsize_t SAMPLE = 2000;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct kind {
    const char *name;
    bool latest;
    int rank;          // 1, or 2 for the version-2 B-tree (N/100 x 100)
    bool unlimited;    // maxshape unlimited along every dimension
    bool early;        // early allocation (implicit index)
    bool single;       // one chunk of the whole extent
};

const kind KINDS[] = {
    {"fixed array", true, 1, false, false, false},  {"extensible array", true, 1, true, false, false},
    {"v2 B-tree", true, 2, true, false, false},     {"v1 B-tree", false, 1, false, false, false},
    {"implicit", true, 1, false, true, false},      {"single chunk", true, 1, false, false, true},
};

int write_file(const std::string &path, const kind &k, hsize_t n)
{
    hid_t fapl = H5Pcreate(H5P_FILE_ACCESS);
    if (k.latest)
        H5Pset_libver_bounds(fapl, H5F_LIBVER_LATEST, H5F_LIBVER_LATEST);
    hid_t f = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl);
    H5Pclose(fapl);
    if (f < 0)
        return -1;
    hsize_t dims[2] = {n, 1}, maxd[2] = {H5S_UNLIMITED, H5S_UNLIMITED}, chunk[2] = {1, 1};
    if (k.rank == 2)
        dims[0] = n / 100, dims[1] = 100;
    if (k.single)
        chunk[0] = n;
    hid_t space = H5Screate_simple(k.rank, dims, k.unlimited ? maxd : nullptr);
    hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_chunk(dcpl, k.rank, chunk);
    if (k.early)
        H5Pset_alloc_time(dcpl, H5D_ALLOC_TIME_EARLY);
    hid_t d = H5Dcreate2(f, "d", H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    std::vector<double> v(n);
    for (hsize_t i = 0; i < n; ++i)
        v[i] = static_cast<double>(i) * 0.5;
    const herr_t w = H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data());
    H5Dclose(d);
    H5Pclose(dcpl);
    H5Sclose(space);
    H5Fclose(f);
    return w < 0 ? -1 : 0;
}

// Offset of chunk c, row-major.
void offset_of(const kind &k, hsize_t c, hsize_t n, hsize_t *at)
{
    if (k.single) {
        at[0] = 0;
        return;
    }
    if (k.rank == 2) {
        at[0] = c / 100, at[1] = c % 100;
        return;
    }
    at[0] = c;
    (void)n;
}

// Seconds per call of f over the first count chunks.
template <class F> double per_call(const kind &k, hsize_t n, hsize_t count, F f)
{
    hsize_t at[2];
    const double t0 = now();
    for (hsize_t c = 0; c < count; ++c) {
        offset_of(k, c, n, at);
        f(at, c);
    }
    return (now() - t0) / static_cast<double>(count);
}

} // namespace

int main(int argc, char **argv)
{
    MPI_Init(&argc, &argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tool_chunk_lookup DIR [N]\n");
        MPI_Finalize();
        return 2;
    }
    const std::string dir = argv[1];
    const hsize_t n = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 100000;
    std::printf("%llu single-element chunks (single chunk: one of %llu elements); microseconds per call\n",
                static_cast<unsigned long long>(n), static_cast<unsigned long long>(n));
    std::printf("%-18s %12s %12s %12s %12s %12s\n", "index", "info_by_coord", "storage_size", "read_chunk",
                "info(idx)", "H5Dread/chunk");
    for (const kind &k : KINDS) {
        const std::string path = dir + "/lookup_" + std::to_string(&k - KINDS) + ".h5";
        if (write_file(path, k, n) < 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            continue;
        }
        hid_t f = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
        hid_t d = H5Dopen2(f, "d", H5P_DEFAULT);
        const hsize_t chunks = k.single ? 1 : n;
        const hsize_t sample = chunks < SAMPLE ? chunks : SAMPLE;
        std::vector<unsigned char> buf(n * sizeof(double) + 64);
        unsigned mask = 0;
        haddr_t addr = 0;
        hsize_t size = 0;
        const double by_coord = per_call(k, n, sample, [&](const hsize_t *at, hsize_t) {
            H5Dget_chunk_info_by_coord(d, at, &mask, &addr, &size);
        });
        const double storage = per_call(k, n, chunks, [&](const hsize_t *at, hsize_t) {
            H5Dget_chunk_storage_size(d, at, &size);
        });
        const double read = per_call(k, n, chunks, [&](const hsize_t *at, hsize_t) {
            uint32_t filters = 0;
            H5Dread_chunk(d, H5P_DEFAULT, at, &filters, buf.data());
        });
        hid_t space = H5Dget_space(d);
        const double by_index = per_call(k, n, sample, [&](const hsize_t *, hsize_t c) {
            hsize_t off[2];
            H5Dget_chunk_info(d, space, c, off, &mask, &addr, &size);
        });
        H5Sclose(space);
        const double t0 = now();
        H5Dread(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, buf.data());
        const double whole = (now() - t0) / static_cast<double>(chunks);
        std::printf("%-18s %12.2f %12.2f %12.2f %12.2f %12.2f\n", k.name, by_coord * 1e6, storage * 1e6, read * 1e6,
                    by_index * 1e6, whole * 1e6);
        H5Dclose(d);
        H5Fclose(f);
        std::remove(path.c_str());
    }
    MPI_Finalize();
    return 0;
}
