// Filter availability: the filters built into the library are taken as
// present; any other filter is asked of the library.
#define ZARN_SOURCE "zarn_filters"
#include "zarn_filters.hpp"
#include "zarn.hpp"
#include "zarn_utils.hpp"

#include <cstdio>

namespace {

// deflate, shuffle, fletcher32, szip, nbit and scaleoffset.
bool is_builtin_filter(H5Z_filter_t filter)
{
    return filter >= H5Z_FILTER_DEFLATE && filter <= H5Z_FILTER_SCALEOFFSET;
}

// Calls found(id, name) for every filter of dcpl that is not available and
// returns how many there are, or -1 on failure.
template <typename F> int for_each_missing_filter(hid_t dcpl, F found)
{
    int nfilters = H5Pget_nfilters(dcpl);
    if (nfilters < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Pget_nfilters failed");
        return -1;
    }
    int missing = 0;
    for (int i = 0; i < nfilters; ++i) {
        char name[256] = "";
        unsigned config = 0;
        H5Z_filter_t filter = H5Pget_filter2(dcpl, static_cast<unsigned>(i), nullptr, nullptr, nullptr,
                                             sizeof name, name, &config);
        if (filter < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pget_filter2 failed");
            return -1;
        }
        if (is_builtin_filter(filter))
            continue;
        htri_t avail = H5Zfilter_avail(filter);
        if (avail < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Zfilter_avail failed");
            return -1;
        }
        if (avail == 0) {
            ++missing;
            if (!found(filter, name))
                break;
        }
    }
    return missing;
}

} // namespace

int zarn_canreadf(const char *name, hid_t dcpl)
{
    int missing = for_each_missing_filter(dcpl, [name](H5Z_filter_t, const char *) {
        if (name != nullptr)
            fprintf(stderr, "Warning: dataset <%s> cannot be read, %s filter is not available\n",
                    zarn_printable_name(name).c_str(), "user defined");
        return true;
    });
    return missing < 0 ? -1 : missing == 0 ? 1 : 0;
}

int zarn_unavailable_filter(hid_t dcpl, H5Z_filter_t *id, char *name, size_t size)
{
    int missing = for_each_missing_filter(dcpl, [=](H5Z_filter_t filter, const char *filter_name) {
        *id = filter;
        if (size > 0)
            snprintf(name, size, "%s", filter_name);
        return false;
    });
    return missing < 0 ? -1 : missing > 0 ? 1 : 0;
}

bool zarn_read_filters(hid_t dcpl, std::vector<zarn_filter> *out)
{
    const int n = H5Pget_nfilters(dcpl);
    if (n < 0)
        return false;
    for (int i = 0; i < n; ++i) {
        zarn_filter f;
        char name[256] = "";
        unsigned config = 0;
        // The first call, with room for a few values, tells how many there are.
        size_t count = 16;
        f.values.resize(count);
        f.id = H5Pget_filter2(dcpl, static_cast<unsigned>(i), &f.flags, &count, f.values.data(), sizeof name, name,
                              &config);
        if (f.id >= 0 && count > f.values.size()) {
            f.values.resize(count);
            f.id = H5Pget_filter2(dcpl, static_cast<unsigned>(i), &f.flags, &count, f.values.data(), sizeof name,
                                  name, &config);
        }
        if (f.id < 0)
            return false;
        f.values.resize(count);
        f.name = name;
        out->push_back(std::move(f));
    }
    return true;
}
