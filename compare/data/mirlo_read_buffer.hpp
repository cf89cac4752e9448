// The owner of one read buffer of a dataset or attribute comparison.
#pragma once
#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// A read buffer whose variable-length data, once a read has filled it, is
// reclaimed before the buffer is reused or released.
struct read_buffer {
    void *data = nullptr;
    hid_t type = -1;   // memory type the buffer was read with (borrowed)
    hid_t space = -1;  // space describing the buffer's elements (borrowed)
    bool has_vlen = false;
    bool filled = false;

    read_buffer() = default;
    read_buffer(const read_buffer &) = delete;
    read_buffer &operator=(const read_buffer &) = delete;
    ~read_buffer() { release(); }

    bool allocate(size_t bytes)
    {
        release();
        data = std::malloc(bytes == 0 ? 1 : bytes);
        return data != nullptr;
    }
    // Zero-filled room for count elements of size bytes (at least one).
    bool allocate_zeroed(uint64_t count, size_t size)
    {
        release();
        if (count == 0)
            count = 1;
        if (size == 0 || count > SIZE_MAX / size)
            return false;
        data = std::calloc(static_cast<size_t>(count), size);
        return data != nullptr;
    }
    void reclaim()
    {
        if (filled && has_vlen)
            (void)H5Dvlen_reclaim(type, space, H5P_DEFAULT, data);
        filled = false;
    }
    void release()
    {
        reclaim();
        std::free(data);
        data = nullptr;
    }
};
