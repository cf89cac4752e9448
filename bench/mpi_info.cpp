// MPI-IO hints from HDF5_MPI_INFO.
#include "mpi_info.hpp"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int HINT_VALUE_MAX = 1024;

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

mpi_hint_list parse_mpi_hints(const char *text)
{
    mpi_hint_list hints;
    const char *p = text;
    const char *end = text + std::strlen(text);
    while (p < end) {
        if (*p == ';')
            ++p;
        const char *item_end = p;
        while (item_end < end && *item_end != ';')
            ++item_end;
        const char *next = item_end < end ? item_end + 1 : end;

        const char *first = p;
        while (first < item_end && is_blank(*first))
            ++first;
        const char *last = item_end;
        while (last > first && is_blank(last[-1]))
            --last;
        if (first < last) {
            const char *eq = static_cast<const char *>(std::memchr(first, '=', static_cast<size_t>(last - first)));
            if (eq != nullptr) {
                const char *key_end = eq;
                while (key_end > first && is_blank(key_end[-1]))
                    --key_end;
                const char *value = eq + 1;
                while (value < last && is_blank(*value))
                    ++value;
                hints.emplace_back(std::string(first, key_end), std::string(value, last));
            }
        }
        p = next;
    }
    return hints;
}

int read_mpi_info(MPI_Info *info, bool report)
{
    const char *text = std::getenv("HDF5_MPI_INFO");
    if (text == nullptr)
        return 0;
    if (*info == MPI_INFO_NULL)
        MPI_Info_create(info);

    int status = 0;
    for (const auto &[key, value] : parse_mpi_hints(text)) {
        if (MPI_Info_set(*info, key.c_str(), value.c_str()) != MPI_SUCCESS) {
            if (report)
                printf("MPI_Info_set failed\n");
            status = -1;
        }
    }
    return status;
}

mpi_hint_list mpi_info_pairs(MPI_Info info)
{
    mpi_hint_list pairs;
    if (info == MPI_INFO_NULL)
        return pairs;
    int nkeys = 0;
    MPI_Info_get_nkeys(info, &nkeys);
    for (int i = 0; i < nkeys; ++i) {
        char key[MPI_MAX_INFO_KEY + 1] = {};
        char value[HINT_VALUE_MAX + 1] = {};
        int flag = 0;
        MPI_Info_get_nthkey(info, i, key);
        MPI_Info_get(info, key, HINT_VALUE_MAX, value, &flag);
        pairs.emplace_back(key, value);
    }
    return pairs;
}

void dump_mpi_info(FILE *out, MPI_Info info)
{
    fprintf(out, "Dumping MPI Info Object (up to %d bytes per item):\n", HINT_VALUE_MAX);
    if (info == MPI_INFO_NULL) {
        fprintf(out, "object is MPI_INFO_NULL\n");
        return;
    }
    const mpi_hint_list pairs = mpi_info_pairs(info);
    fprintf(out, "object has %d items\n", static_cast<int>(pairs.size()));
    for (const auto &[key, value] : pairs)
        fprintf(out, "%s=%s\n", key.c_str(), value.c_str());
}
