// The I/O engine: one measured run of one interface over one group of
// processes and one transfer buffer size. Every process writes its share of
// every dataset of every test file, reads it back, verifies it on request
// and removes the files, timing each phase.
#pragma once
#include "pio_timer.hpp"

#include <hdf5.h>
#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <string>

enum pio_io_type : int { PIO_POSIX = 0, PIO_MPIIO = 1, PIO_PHDF5 = 2 };
enum pio_open_mode : int { PIO_CREATE = 0, PIO_READ = 1 };

struct bench_parameters {
    int io_type;
    int num_procs;
    long num_files;
    long num_dsets;
    long long dset_size;
    int num_iterations;
    uint64_t buf_size;
    uint64_t block_size;
    unsigned interleaved;
    unsigned collective;
    unsigned dim2d;
    long long align;
    long long threshold;
    int chunk;
    int write_only;
    int verify;
};

// The open file of one run; the member of its interface is closed at -1,
// MPI_FILE_NULL or -1.
struct pio_file {
    int posix_fd;
    MPI_File mpi_fd;
    hid_t h5_fd;
};

// One process's share of a dataset and the size of one transfer.
struct pio_share {
    long long side;        // S, the side of the square dataset (2D)
    long long bytes_begin; // 1D start of the share
    long long row;         // 2D start of the share
    long long column;
    long long bytes_count; // bytes of the share
    long long base;        // linear offset of the share in the dataset
    long long transfer;    // bytes of one transfer: N in 1D, B x N in 2D
};

// The integer square root of a dataset size: the side of a 2D dataset.
long long pio_side(long long dset_size);

pio_share pio_compute_share(const bench_parameters *params, int rank, int nprocs);

// Writes the name of test file file_no of the interface into name (size
// bytes), under HDF5_PARAPREFIX and the user's directory when the prefix is
// set; the user's directory is created when missing.
void pio_make_filename(int io_type, unsigned long file_no, char *name, size_t size);

// One measured run. Returns 0 or -1; *timers receives the timer set (owned
// by the caller), or nullptr when none could be made.
int pio_run(bench_parameters params, pio_timer_set **timers);

int do_fopen(const bench_parameters *params, const char *name, pio_file *fd, int mode);
int do_write(pio_timer_set *timers, pio_file *fd, const bench_parameters *params, long ndsets,
             long long dset_size, size_t buf_size, unsigned char *buffer);
int do_read(pio_timer_set *timers, pio_file *fd, const bench_parameters *params, long ndsets,
            long long dset_size, size_t buf_size, unsigned char *buffer);
int do_fclose(int io_type, pio_file *fd);
void pio_cleanup(int io_type, const char *name);
