// Runs tessel with small sizes and HDF5_NOCLEANUP, then reads every test file
// back and checks that each byte of each dataset holds (r + 1) mod 256 of the
// rank whose share the byte lies in. The owner of a byte is worked out here
// from the definition of each access pattern:
//   1D contiguous   the dataset is cut into P equal ranges, range r is rank r's
//   1D interleaved  block k (of B bytes) belongs to rank k mod P
//   2D contiguous   the square is cut into P bands of whole rows
//   2D interleaved  block column c (B columns wide) belongs to rank c mod P;
//                   in the chunked layout of POSIX and MPI-IO the file is a
//                   sequence of B x B chunks, chunk column c of rank c mod P
#include "tessel_test_support.hpp"

#include <hdf5.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct layout {
    bool dim2d;
    bool interleaved;
    bool chunk;
    bool collective;
    int procs;
};

std::string layout_name(const ::testing::TestParamInfo<layout> &info)
{
    const layout &l = info.param;
    std::string name = l.dim2d ? "2D" : "1D";
    name += l.interleaved ? "_interleaved" : "_contiguous";
    name += l.chunk ? "_chunked" : "_plain";
    name += l.collective ? "_collective" : "_independent";
    name += "_n" + std::to_string(l.procs);
    return name;
}

// Sizes: 1D 16K bytes per process, 8K transfers, 2K blocks; 2D a side of 32
// bytes per process, 16-byte blocks and transfers as long as the side
// (16 x S bytes). Every process makes two transfers per dataset: collective
// calls are slow when three processes share two cores.
constexpr long long NB_1D = 16 * 1024, N_1D = 8 * 1024, B_1D = 2 * 1024;
constexpr long long NB_2D = 32, B_2D = 16;
constexpr int NUM_DSETS = 2;

// MPI variables of the launcher that started this test; a nested launcher
// must not see them.
void forget_launcher()
{
    std::vector<std::string> names;
    for (char **e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (name.rfind("PMI_", 0) == 0 || name.rfind("MPI_", 0) == 0 || name.rfind("HYD", 0) == 0 ||
            name.rfind("MPIR_", 0) == 0)
            names.push_back(name);
    }
    for (const std::string &n : names)
        unsetenv(n.c_str());
    // In sanitizer builds, keep the summary of suppressed (MPI library) leaks
    // off the standard error that is checked.
    const char *lsan = std::getenv("LSAN_OPTIONS");
    std::string options = lsan ? std::string(lsan) + ":print_suppressions=0" : "print_suppressions=0";
    setenv("LSAN_OPTIONS", options.c_str(), 1);
}

std::string read_text(const fs::path &p)
{
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int expected_owner(const layout &l, bool byte_file, long long index, long long P)
{
    if (!l.dim2d) {
        if (!l.interleaved)
            return static_cast<int>(index / NB_1D);
        return static_cast<int>((index / B_1D) % P);
    }
    const long long S = NB_2D * P;
    const long long row = index / S, column = index % S;
    if (!l.interleaved)
        return static_cast<int>(row / NB_2D);
    if (l.chunk && byte_file) {
        const long long chunk = index / (B_2D * B_2D);
        return static_cast<int>((chunk % (S / B_2D)) % P);
    }
    return static_cast<int>((column / B_2D) % P);
}

// Counts bytes of one dataset that do not hold their owner's value; reports
// the first few.
long long count_wrong(const layout &l, bool byte_file, const unsigned char *data, long long size,
                      const std::string &what)
{
    long long wrong = 0;
    for (long long i = 0; i < size; ++i) {
        int owner = expected_owner(l, byte_file, i, l.procs);
        auto expected = static_cast<unsigned char>((owner + 1) % 256);
        if (data[i] != expected && ++wrong <= 3)
            ADD_FAILURE() << what << " byte " << i << ": expected " << int(expected) << ", got " << int(data[i]);
    }
    return wrong;
}

class TesselLayout : public ::testing::TestWithParam<layout> {};

TEST_P(TesselLayout, EveryByteHoldsItsOwnersValue)
{
    const layout l = GetParam();
    const long long P = l.procs;
    const long long D = l.dim2d ? (NB_2D * P) * (NB_2D * P) : NB_1D * P;
    const long long N_2D = NB_2D * P;
    const int num_files = P == 1 ? 2 : 1;

    const tessel_test::temp_dir work_dir("layout_" + layout_name({l, 0}));
    const fs::path work = work_dir.path();
    fs::create_directories(work / "prefix");

    std::ostringstream cmd;
    cmd << "cd " << work << " && HDF5_NOCLEANUP=1 HDF5_PARAPREFIX=" << (work / "prefix")
        << " USER=checker timeout 60 mpiexec -n " << P << " " << ZARN_BIN_DIR << "/bench/tessel"
        << " -A posix,mpiio,phdf5 -F " << num_files << " -d " << NUM_DSETS << " -D v -p " << P;
    if (l.dim2d)
        cmd << " -g -e " << NB_2D << " -x " << N_2D << " -X " << N_2D << " -B " << B_2D;
    else
        cmd << " -e " << NB_1D << " -x " << N_1D << " -X " << N_1D << " -B " << B_1D;
    if (l.interleaved)
        cmd << " -I";
    if (l.chunk)
        cmd << " -c";
    if (l.collective)
        cmd << " -C";
    cmd << " > out.txt 2> err.txt";

    forget_launcher();
    int rc = std::system(cmd.str().c_str());
    ASSERT_EQ(rc, 0) << cmd.str() << "\n" << read_text(work / "err.txt");
    EXPECT_EQ(read_text(work / "err.txt"), "");
    const std::string out = read_text(work / "out.txt");
    EXPECT_EQ(out.find("read data error"), std::string::npos);
    EXPECT_NE(out.find("Number of processors = " + std::to_string(P) + "\n"), std::string::npos);

    // Nothing but the report files and the prefix directory in the working
    // directory; nothing but the user directory in the prefix.
    std::vector<std::string> top;
    for (const auto &e : fs::directory_iterator(work))
        top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"err.txt", "out.txt", "prefix"}));
    std::vector<std::string> in_prefix;
    for (const auto &e : fs::directory_iterator(work / "prefix"))
        in_prefix.push_back(e.path().filename().string());
    EXPECT_EQ(in_prefix, (std::vector<std::string>{"checker"}));

    const fs::path dir = work / "prefix" / "checker";
    for (int f = 1; f <= num_files; ++f) {
        for (const char *suffix : {".posix", ".mpio"}) {
            fs::path file = dir / ("#pio_tmp_" + std::to_string(f) + suffix);
            ASSERT_TRUE(fs::exists(file)) << file;
            EXPECT_EQ(static_cast<long long>(fs::file_size(file)), NUM_DSETS * D) << file;
            std::ifstream in(file, std::ios::binary);
            std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), {});
            for (int n = 0; n < NUM_DSETS && static_cast<long long>(data.size()) >= NUM_DSETS * D; ++n)
                EXPECT_EQ(count_wrong(l, true, data.data() + n * D, D, file.string() + " dataset " + std::to_string(n + 1)), 0);
        }
        fs::path file = dir / ("#pio_tmp_" + std::to_string(f) + ".h5");
        ASSERT_TRUE(fs::exists(file)) << file;
        hid_t fid = H5Fopen(file.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
        ASSERT_GE(fid, 0) << file;
        for (int n = 1; n <= NUM_DSETS; ++n) {
            std::string name = "Dataset_" + std::to_string(n);
            hid_t dset = H5Dopen2(fid, name.c_str(), H5P_DEFAULT);
            ASSERT_GE(dset, 0) << name;
            hid_t space = H5Dget_space(dset);
            hsize_t dims[2] = {0, 0};
            int rank = H5Sget_simple_extent_dims(space, dims, nullptr);
            if (l.dim2d) {
                EXPECT_EQ(rank, 2);
                EXPECT_EQ(dims[0], static_cast<hsize_t>(NB_2D * P));
                EXPECT_EQ(dims[1], static_cast<hsize_t>(NB_2D * P));
            } else {
                EXPECT_EQ(rank, 1);
                EXPECT_EQ(dims[0], static_cast<hsize_t>(D));
            }
            hid_t dcpl = H5Dget_create_plist(dset);
            EXPECT_EQ(H5Pget_layout(dcpl), l.chunk ? H5D_CHUNKED : H5D_CONTIGUOUS);
            H5Pclose(dcpl);
            std::vector<unsigned char> data(static_cast<size_t>(D));
            EXPECT_GE(H5Dread(dset, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, data.data()), 0);
            EXPECT_EQ(count_wrong(l, false, data.data(), D, file.string() + " " + name), 0);
            H5Sclose(space);
            H5Dclose(dset);
        }
        H5Fclose(fid);
    }
}

std::vector<layout> all_layouts()
{
    std::vector<layout> v;
    for (int procs : {1, 2})
        for (bool dim2d : {false, true})
            for (bool interleaved : {false, true})
                for (bool chunk : {false, true})
                    for (bool collective : {false, true})
                        v.push_back({dim2d, interleaved, chunk, collective, procs});
    // Three processes share two cores slowly: each pattern once plain and
    // independent, once chunked and collective, and the chunked interleaved
    // 2D layout with independent pieces.
    for (bool dim2d : {false, true})
        for (bool interleaved : {false, true}) {
            v.push_back({dim2d, interleaved, false, false, 3});
            v.push_back({dim2d, interleaved, true, true, 3});
        }
    v.push_back({true, true, true, false, 3});
    return v;
}

INSTANTIATE_TEST_SUITE_P(AllPatterns, TesselLayout, ::testing::ValuesIn(all_layouts()), layout_name);

} // namespace
