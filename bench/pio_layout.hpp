// Who owns which bytes: the parameters of one measurement run, each process's
// share of a dataset, and where each transfer of the share lies in the file
// (POSIX and MPI-IO) or in the dataset (HDF5). The same share is computed for
// all three interfaces.
//
// Notation of the comments: B the block size, N the transfer buffer size,
// D the dataset size, S the side of a square (2D) dataset, P the number of
// processes, r a process's rank, X the offset of a transfer within the share.
#pragma once
#include <hdf5.h>

#include <cstdint>
#include <string>

enum class pio_interface : int { posix = 0, mpiio = 1, phdf5 = 2 };
constexpr pio_interface PIO_INTERFACES[] = {pio_interface::posix, pio_interface::mpiio, pio_interface::phdf5};

// "posix", "mpiio" or "phdf5": the interface's name on the command line.
const char *pio_interface_name(pio_interface io);

// What the transfer buffer holds when the data is not verified (--data).
enum class bench_data : int {
    zeros,   // every byte 0 (the default)
    random,  // pseudo-random bytes, the same for every run of a rank: incompressible
    pattern, // in every 64 bytes, 32 pseudo-random bytes then 32 zero bytes: about half compressible
};

// The settings of one measurement run (one interface, process count and
// transfer buffer size).
struct bench_parameters {
    pio_interface io_type;
    int num_procs;
    long num_files;
    long num_dsets;
    long long dset_size;  // D: num_bytes x P in 1D, (num_bytes x P)^2 in 2D
    int num_iterations;
    uint64_t buf_size;    // N
    uint64_t block_size;  // B
    bool interleaved;
    bool collective;
    bool dim2d;
    long long align;
    long long threshold;
    bool chunk;
    bool write_only;
    bool verify;
    int read_shift;       // 0 to P - 1: rank r reads back the share of rank (r + read_shift) mod P
    uint64_t chunk_size;  // side of an HDF5 chunk: the block size unless --chunk-size
    int deflate;          // gzip level of HDF5 datasets, 0 for none
    bench_data data;      // what the buffer holds when not verifying
    double deadline;      // seconds per write or read phase, 0 for none
};

// One process's share of a dataset and the size of one transfer.
struct pio_share {
    long long side;           // S, the side of the square dataset (2D)
    long long bytes_begin;    // 1D: first byte of the share
    long long row;            // 2D: first row of the share
    long long column;         // 2D: first column of the share
    long long bytes_count;    // bytes of the share
    long long base;           // linear offset of the share in the dataset
    long long transfer_bytes; // bytes of one transfer: N in 1D, B x N in 2D
};

// The integer square root of a dataset size: the side of a 2D dataset.
long long pio_side(long long dset_size);

pio_share pio_compute_share(const bench_parameters &params, int rank, int nprocs);

// The run's settings that make shares of whole transfers and blocks: empty
// when they do, else the message refusing them.
std::string pio_check_parameters(const bench_parameters &params);

// 2D through POSIX or MPI-IO: transfer X lies in the file as consecutive
// pieces, the first at `first` from the share's base, each next one
// `distance` bytes further.
struct pio_pieces {
    long long first;
    long long piece;
    long long distance;
};
pio_pieces pio_2d_pieces(const bench_parameters &params, int nprocs, long long side, long long transfer_offset);

// HDF5: the file and memory selections of a share's first transfer; later
// transfers move the file selection by pio_hdf5_offset.
struct pio_hyperslab {
    int rank;
    hsize_t dims[2];
    hsize_t start[2], stride[2], count[2], block[2];
    int mem_rank;
    hsize_t mem_dims[2];
};
pio_hyperslab pio_hdf5_selection(const bench_parameters &params, const pio_share &share, int rank, int nprocs);
void pio_hdf5_offset(const bench_parameters &params, int nprocs, long long side, long long transfer_offset,
                     hssize_t offset[2]);
