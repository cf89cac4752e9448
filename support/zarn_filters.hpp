// Whether the filters of a dataset can be applied in this process.
#pragma once
#include <hdf5.h>

// 1 when every filter of the dataset creation list dcpl is available, 0 when
// one is not, -1 on failure. With a name, each missing filter is warned about
// on standard error.
[[nodiscard]] int zarn_canreadf(const char *name, hid_t dcpl);

// 1 when the filter can encode, 0 when it cannot, -1 on failure or when its
// encoder cannot be used.
[[nodiscard]] int zarn_can_encode(H5Z_filter_t filter);
