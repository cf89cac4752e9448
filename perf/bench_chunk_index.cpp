// The chunk shortcuts on a dataset of 100,000 single-element chunks, for each
// kind of chunk index, against the same comparison with the shortcuts off
// (both datasets read and compared): identical pairs, so on the shortcut path
// every chunk is looked up and its stored bytes compared. The look-ups must
// cost less than the reads they save; `shortcuts:1` should take at most 1.2x
// the time of `shortcuts:0`, and under 5 s.
//
//   usage: bench_chunk_index [--benchmark_...]   (files go to $TMPDIR or /tmp)
#include "h5_handle.hpp"
#include "mirlo_dset.hpp"
#include "mirlo_output.hpp"
#include "zarn_utils.hpp"

#include <benchmark/benchmark.h>
#include <hdf5.h>
#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr hsize_t N = 100000;

struct kind {
    const char *name;
    bool latest;
    int rank;       // 1, or 2 (N/100 x 100) for the version-2 B-tree
    bool unlimited; // every dimension unlimited
    bool early;     // early allocation: the implicit index
    bool single;    // one chunk of the whole extent
};

const kind KINDS[] = {
    {"fixed_array", true, 1, false, false, false}, {"extensible_array", true, 1, true, false, false},
    {"v2_btree", true, 2, true, false, false},     {"v1_btree", false, 1, false, false, false},
    {"implicit", true, 1, false, true, false},     {"single_chunk", true, 1, false, false, true},
};

std::string folder()
{
    const char *t = std::getenv("TMPDIR");
    return t != nullptr && *t != '\0' ? t : "/tmp";
}

std::string file_name(size_t k, int side)
{
    return folder() + "/bench_chunk_index_" + std::to_string(k) + (side == 0 ? "_a.h5" : "_b.h5");
}

bool write_file(const std::string &path, const kind &k)
{
    h5_plist fapl(H5Pcreate(H5P_FILE_ACCESS));
    if (k.latest)
        H5Pset_libver_bounds(fapl, H5F_LIBVER_LATEST, H5F_LIBVER_LATEST);
    h5_file f(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl));
    hsize_t dims[2] = {N, 1}, maxd[2] = {H5S_UNLIMITED, H5S_UNLIMITED}, chunk[2] = {1, 1};
    if (k.rank == 2)
        dims[0] = N / 100, dims[1] = 100;
    if (k.single)
        chunk[0] = N;
    h5_dataspace space(H5Screate_simple(k.rank, dims, k.unlimited ? maxd : nullptr));
    h5_plist dcpl(H5Pcreate(H5P_DATASET_CREATE));
    H5Pset_chunk(dcpl, k.rank, chunk);
    if (k.early)
        H5Pset_alloc_time(dcpl, H5D_ALLOC_TIME_EARLY);
    h5_dataset d(H5Dcreate2(f, "d", H5T_NATIVE_DOUBLE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT));
    std::vector<double> v(N);
    for (hsize_t i = 0; i < N; ++i)
        v[i] = static_cast<double>(i) * 0.5;
    return d.valid() && H5Dwrite(d, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()) >= 0;
}

void compare_pair(benchmark::State &state)
{
    const size_t k = static_cast<size_t>(state.range(0));
    const bool shortcuts = state.range(1) != 0;
    state.SetLabel(KINDS[k].name);
    for (int side = 0; side < 2; ++side)
        if (!write_file(file_name(k, side), KINDS[k])) {
            state.SkipWithError("cannot write the pair");
            return;
        }
    mirlo_settings settings;
    settings.chunk_shortcuts = shortcuts;
    output_sink out(stdout);
    for (auto _ : state) {
        h5_file a(H5Fopen(file_name(k, 0).c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        h5_file b(H5Fopen(file_name(k, 1).c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        pair_outcome outcome;
        pair_context o;
        o.settings = &settings;
        o.rule = pair_rule_of(settings, "/", false);
        o.out = &out;
        o.outcome = &outcome;
        const nfound_t found = diff_dataset(a, b, "/d", "/d", nullptr, &o);
        if (found != 0 || outcome.status != 0)
            state.SkipWithError("the identical pair compared unequal");
        benchmark::DoNotOptimize(found);
    }
    for (int side = 0; side < 2; ++side)
        std::remove(file_name(k, side).c_str());
}

} // namespace

BENCHMARK(compare_pair)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 1}})
    ->ArgNames({"index", "shortcuts"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

int main(int argc, char **argv)
{
    MPI_Init(&argc, &argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    MPI_Finalize();
    return 0;
}
