// The filters of a dataset: what its creation list holds, and whether they
// can be applied in this process.
#pragma once
#include <hdf5.h>

#include <cstddef>
#include <string>
#include <vector>

// 1 when every filter of the dataset creation list dcpl is available, 0 when
// one is not, -1 on failure. With a name, each missing filter is warned about
// on standard error.
[[nodiscard]] int zarn_canreadf(const char *name, hid_t dcpl);

// The first filter of dcpl that is not available: 1 with its identifier and
// the name the file gives it (cut to size, possibly empty) filled in, 0 when
// every filter is available, -1 on failure.
[[nodiscard]] int zarn_unavailable_filter(hid_t dcpl, H5Z_filter_t *id, char *name, size_t size);

// One filter of a pipeline as a creation list holds it.
struct zarn_filter {
    H5Z_filter_t id = 0;
    unsigned flags = 0;
    std::vector<unsigned> values; // the filter's client values
    std::string name;             // as the file names it, may be empty
};

// The filters of the creation list dcpl in pipeline order, appended to out;
// false when the list cannot be read.
[[nodiscard]] bool zarn_read_filters(hid_t dcpl, std::vector<zarn_filter> *out);
