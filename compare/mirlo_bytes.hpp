// Byte strings of the messages between processes: values appended to a
// vector of bytes, and a reader that takes them back, refusing to read past
// the end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

inline void put_bytes(std::vector<unsigned char> *out, const void *p, size_t n)
{
    // Grown then copied into, rather than inserted, which GCC 12 at -O3
    // misreads as an overflow of an empty vector.
    if (n == 0)
        return;
    const size_t at = out->size();
    out->resize(at + n);
    std::memcpy(out->data() + at, p, n);
}

template <typename T> void put(std::vector<unsigned char> *out, const T &v)
{
    static_assert(std::is_trivially_copyable_v<T>);
    put_bytes(out, &v, sizeof v);
}

// A length, then the bytes.
inline void put_text(std::vector<unsigned char> *out, const std::string &text)
{
    put<uint64_t>(out, text.size());
    put_bytes(out, text.data(), text.size());
}

struct byte_reader {
    const unsigned char *p;
    size_t left;
    bool ok = true;

    bool take(void *dst, size_t n)
    {
        if (!ok || n > left) {
            ok = false;
            return false;
        }
        if (n != 0)
            std::memcpy(dst, p, n);
        p += n;
        left -= n;
        return true;
    }
    template <typename T> T get()
    {
        T v{};
        take(&v, sizeof v);
        return v;
    }
    bool text(std::string *s)
    {
        const uint64_t n = get<uint64_t>();
        if (!ok || n > left)
            return ok = false;
        s->assign(reinterpret_cast<const char *>(p), static_cast<size_t>(n));
        p += n;
        left -= n;
        return true;
    }
};
