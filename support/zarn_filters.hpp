// Whether the filters of a dataset can be applied in this process.
#pragma once
#include <hdf5.h>

#include <cstddef>

// 1 when every filter of the dataset creation list dcpl is available, 0 when
// one is not, -1 on failure. With a name, each missing filter is warned about
// on standard error.
[[nodiscard]] int zarn_canreadf(const char *name, hid_t dcpl);

// The first filter of dcpl that is not available: 1 with its identifier and
// the name the file gives it (cut to size, possibly empty) filled in, 0 when
// every filter is available, -1 on failure.
[[nodiscard]] int zarn_unavailable_filter(hid_t dcpl, H5Z_filter_t *id, char *name, size_t size);
