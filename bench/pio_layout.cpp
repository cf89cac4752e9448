// Shares, transfer positions and the checks that make them whole.
#include "pio_layout.hpp"

#include "tessel_text.hpp"

#include <cmath>
#include <cstdio>

const char *pio_interface_name(pio_interface io)
{
    switch (io) {
    case pio_interface::posix: return "posix";
    case pio_interface::mpiio: return "mpiio";
    case pio_interface::phdf5: return "phdf5";
    }
    return "?";
}

long long pio_side(long long dset_size)
{
    if (dset_size <= 0)
        return 0;
    auto s = static_cast<long long>(std::sqrt(static_cast<double>(dset_size)));
    // Correct the floating-point estimate without overflowing s * s.
    while (s > 0 && s > dset_size / s)
        --s;
    while (s + 1 <= dset_size / (s + 1))
        ++s;
    return s;
}

pio_share pio_compute_share(const bench_parameters &p, int rank, int nprocs)
{
    pio_share s{};
    const long long D = p.dset_size;
    const auto B = static_cast<long long>(p.block_size);
    const auto N = static_cast<long long>(p.buf_size);
    // Floating-point division truncated towards zero, as every interface
    // computes it.
    const double r = rank, P = nprocs;
    const auto lo = static_cast<long long>(r * static_cast<double>(D) / P);
    const auto hi = static_cast<long long>((r + 1) * static_cast<double>(D) / P);
    s.bytes_count = hi - lo;
    if (!p.dim2d) {
        s.bytes_begin = p.interleaved ? rank * B : lo;
        s.base = s.bytes_begin;
        s.transfer_bytes = N;
        return s;
    }
    s.side = pio_side(D);
    if (!p.interleaved) {
        s.row = static_cast<long long>(r * static_cast<double>(s.side) / P);
        s.column = 0;
    } else {
        s.row = 0;
        // In the chunked byte layout a block column is a run of B x B bytes.
        s.column = (p.chunk && p.io_type != pio_interface::phdf5) ? rank * B * B : rank * B;
    }
    s.base = s.side * s.row + s.column;
    s.transfer_bytes = B * N;
    return s;
}


std::string pio_check_parameters(const bench_parameters &p)
{
    const auto B = static_cast<long long>(p.block_size);
    const auto N = static_cast<long long>(p.buf_size);
    const long long D = p.dset_size;
    const long long P = p.num_procs;
    if (p.num_files < 0)
        return tessel_text_of("number of files must be >= 0 (%ld)", p.num_files);
    if (p.num_dsets < 0)
        return tessel_text_of("number of datasets per file must be >= 0 (%ld)", p.num_dsets);
    if (P <= 0)
        return tessel_text_of("maximum number of process to use must be > 0 (%lld)", P);
    if (B == 0)
        return "Transfer block size (0) must be > 0";
    if (N == 0)
        return "Transfer buffer size (0) must be > 0";
    if (p.buf_size % p.block_size != 0)
        return tessel_text_of("Transfer buffer size (%lld) must be a multiple of the block size (%lld) in the %s pattern; "
                      "choose a block size that divides it with -B",
                      N, B, p.interleaved ? "interleaved" : "contiguous");
    const long long S = p.dim2d ? pio_side(D) : 0;
    const long long L = p.dim2d ? S : D;
    if (L % P != 0)
        return tessel_text_of("Dataset size (%lld) must be a multiple of the number of processes (%lld)", L, P);
    if (p.dim2d) {
        if (S % N != 0)
            return tessel_text_of("Dataset side size (%lld) must be a multiple of the transfer buffer size (%lld)", S, N);
        // Each process's band (or group of block columns) must hold whole
        // blocks, or its transfers would run into another process's share.
        if ((S / P) % B != 0)
            return tessel_text_of("Dataset side size/process (%lld) must be a multiple of the block size (%lld)", S / P, B);
    } else if ((D / P) % N != 0) {
        return tessel_text_of("Dataset size/process (%lld) must be a multiple of the transfer buffer size (%lld)", D / P, N);
    }
    return "";
}

pio_pieces pio_2d_pieces(const bench_parameters &p, int nprocs, long long S, long long X)
{
    const auto B = static_cast<long long>(p.block_size);
    const auto N = static_cast<long long>(p.buf_size);
    const long long P = nprocs;
    if (!p.chunk && !p.interleaved) {
        // Rows of N bytes, one under the other.
        const long long t = X / B;
        return {(t % S) + (t / S) * S * B, N, S};
    }
    if (!p.chunk) {
        // Block columns B bytes wide, N rows of them.
        const long long t = (X / N) * P;
        return {(t % S) + (t / S) * S * N, B, S};
    }
    if (!p.interleaved)
        return {X, B * N, 0}; // one run of B x N bytes
    // Runs of B x B bytes, one for every P chunks.
    const long long t = (X / (N / B)) * P;
    return {(t % (S * B)) + (t / (S * B)) * S * N, B * B, S * B};
}

pio_hyperslab pio_hdf5_selection(const bench_parameters &p, const pio_share &share, int rank, int nprocs)
{
    const auto B = static_cast<hsize_t>(p.block_size);
    const auto N = static_cast<hsize_t>(p.buf_size);
    const auto P = static_cast<hsize_t>(nprocs);
    pio_hyperslab h{};
    if (!p.dim2d) {
        h.rank = 1;
        h.dims[0] = static_cast<hsize_t>(p.dset_size);
        h.start[0] = static_cast<hsize_t>(share.bytes_begin);
        h.stride[0] = p.interleaved ? P * B : B;
        h.count[0] = N / B;
        h.block[0] = B;
        h.mem_rank = 1;
        h.mem_dims[0] = N;
        return h;
    }
    h.rank = 2;
    h.dims[0] = h.dims[1] = static_cast<hsize_t>(share.side);
    h.block[0] = h.block[1] = B;
    if (!p.interleaved) {
        h.start[0] = static_cast<hsize_t>(share.row);
        h.stride[0] = 1;
        h.stride[1] = B;
        h.count[0] = 1;
        h.count[1] = N / B;
    } else {
        h.start[1] = static_cast<hsize_t>(rank) * B;
        h.stride[0] = B;
        h.stride[1] = P * B;
        h.count[0] = N / B;
        h.count[1] = 1;
    }
    h.mem_rank = 2;
    h.mem_dims[0] = p.interleaved ? N : B;
    h.mem_dims[1] = p.interleaved ? B : N;
    return h;
}

void pio_hdf5_offset(const bench_parameters &p, int nprocs, long long S, long long X, hssize_t offset[2])
{
    const auto B = static_cast<long long>(p.block_size);
    const auto N = static_cast<long long>(p.buf_size);
    const long long P = nprocs;
    offset[0] = offset[1] = 0;
    if (!p.dim2d) {
        offset[0] = p.interleaved ? P * X : X;
    } else if (!p.interleaved) {
        offset[0] = (X / (S * B)) * B;
        offset[1] = (X % (S * B)) / B;
    } else {
        const long long v = P * X;
        offset[0] = (v / (S * N)) * N;
        offset[1] = (v % (S * N)) / N;
    }
}
