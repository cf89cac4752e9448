// Writes a random pair of HDF5 files for the randomized multi-process runs:
// a tree of groups and datasets whose names are often long (up to 9,000
// bytes, so that batches and answers exceed the MPI library's eager limit),
// datasets of integers and floating-point values of which a random share
// differs in the second file (from none to all: reports of up to 10^5 rows),
// some objects on one side only, and attributes that differ now and then.
//
//   random_pairs SEED A B
//
// The same seed writes the same files. Prints the number of datasets.
#include <hdf5.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

struct writer {
    std::mt19937_64 rng;
    hid_t f[2];
    int datasets = 0;

    explicit writer(unsigned long long seed) : rng(seed), f{-1, -1} {}

    int below(int n) { return static_cast<int>(rng() % static_cast<unsigned long long>(n)); }

    // Short names mostly; now and then hundreds or thousands of bytes.
    std::string name(const char *stem, int k)
    {
        std::string n = std::string(stem) + std::to_string(k) + "_";
        const int kind = below(10);
        const size_t extra = kind < 6 ? below(20) : kind < 9 ? 100 + below(900) : 1000 + below(8000);
        for (size_t i = 0; i < extra; ++i)
            n.push_back(static_cast<char>('a' + below(26)));
        return n;
    }

    bool write_dataset(hid_t loc[2], const std::string &n, bool both)
    {
        const hsize_t count = 1 + static_cast<hsize_t>(below(20000));
        const bool real = below(2) == 0;
        // Share of the elements that differ: none, a few, many or all.
        const double shares[] = {0.0, 0.001, 0.1, 0.5, 1.0};
        const double share = shares[below(5)];
        std::vector<double> a(count), b(count);
        for (hsize_t i = 0; i < count; ++i) {
            a[i] = real ? static_cast<double>(below(1000000)) / 7.0 : static_cast<double>(below(1000000));
            b[i] = a[i];
            if (static_cast<double>(rng() % 1000000) / 1e6 < share)
                b[i] = a[i] + (real ? 0.5 : 3.0);
        }
        const hid_t type = real ? H5T_NATIVE_DOUBLE : H5T_NATIVE_LLONG;
        hid_t space = H5Screate_simple(1, &count, nullptr);
        bool ok = space >= 0;
        for (int side = 0; side < (both ? 2 : 1) && ok; ++side) {
            const int s = both ? side : below(2);
            const std::vector<double> &v = s == 0 ? a : b;
            std::vector<long long> ints;
            const void *data = v.data();
            if (!real) {
                ints.assign(v.begin(), v.end());
                data = ints.data();
            }
            hid_t d = H5Dcreate2(loc[s], n.c_str(), type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
            ok = d >= 0 && H5Dwrite(d, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data) >= 0;
            if (ok && below(4) == 0) {
                hid_t as = H5Screate(H5S_SCALAR);
                const int value = s == 1 && below(2) == 0 ? 2 : 1;
                hid_t at = H5Acreate2(d, "version", H5T_NATIVE_INT, as, H5P_DEFAULT, H5P_DEFAULT);
                ok = at >= 0 && H5Awrite(at, H5T_NATIVE_INT, &value) >= 0;
                if (at >= 0)
                    H5Aclose(at);
                H5Sclose(as);
            }
            if (d >= 0)
                H5Dclose(d);
        }
        if (space >= 0)
            H5Sclose(space);
        ++datasets;
        return ok;
    }

    bool fill(hid_t loc[2], int depth)
    {
        const int members = 1 + below(depth == 0 ? 60 : 25);
        for (int k = 0; k < members; ++k) {
            // One object in twenty exists in one file only.
            const bool both = below(20) != 0;
            if (depth < 3 && below(6) == 0 && both) {
                const std::string n = name("group", k);
                hid_t g[2];
                for (int s = 0; s < 2; ++s)
                    g[s] = H5Gcreate2(loc[s], n.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
                const bool ok = g[0] >= 0 && g[1] >= 0 && fill(g, depth + 1);
                for (hid_t id : g)
                    if (id >= 0)
                        H5Gclose(id);
                if (!ok)
                    return false;
            } else if (!write_dataset(loc, name("data", k), both)) {
                return false;
            }
        }
        return true;
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: random_pairs SEED A B\n");
        return 2;
    }
    writer w(std::strtoull(argv[1], nullptr, 10));
    w.f[0] = H5Fcreate(argv[2], H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    w.f[1] = H5Fcreate(argv[3], H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    bool ok = w.f[0] >= 0 && w.f[1] >= 0 && w.fill(w.f, 0);
    for (hid_t id : w.f)
        if (id >= 0 && H5Fclose(id) < 0)
            ok = false;
    if (!ok) {
        std::fprintf(stderr, "random_pairs: cannot write %s and %s\n", argv[2], argv[3]);
        return 1;
    }
    std::printf("%d\n", w.datasets);
    return 0;
}
