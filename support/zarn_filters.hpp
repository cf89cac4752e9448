// Whether the filters of a dataset can be applied in this process.
#pragma once
#include <hdf5.h>

// 1 when every filter of the dataset creation list dcpl is available, 0 when
// one is not, -1 on failure. With a name, each missing filter is warned about
// on standard error.
[[nodiscard]] int zarn_canreadf(const char *name, hid_t dcpl);

