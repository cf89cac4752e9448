// Filter availability: the filters built into the library are taken as
// present; any other filter is asked of the library.
#define ZARN_SOURCE "zarn_filters"
#include "zarn_filters.hpp"
#include "zarn.hpp"

#include <cstdio>

namespace {

// deflate, shuffle, fletcher32, szip, nbit and scaleoffset.
bool is_builtin_filter(H5Z_filter_t filter)
{
    return filter >= H5Z_FILTER_DEFLATE && filter <= H5Z_FILTER_SCALEOFFSET;
}

} // namespace

int zarn_canreadf(const char *name, hid_t dcpl)
{
    int nfilters = H5Pget_nfilters(dcpl);
    if (nfilters < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Pget_nfilters failed");
        return -1;
    }
    int result = 1;
    for (int i = 0; i < nfilters; ++i) {
        H5Z_filter_t filter = H5Pget_filter2(dcpl, static_cast<unsigned>(i), nullptr, nullptr, nullptr, 0,
                                             nullptr, nullptr);
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
            result = 0;
            if (name != nullptr)
                fprintf(stderr, "Warning: dataset <%s> cannot be read, %s filter is not available\n", name,
                        "user defined");
        }
    }
    return result;
}
