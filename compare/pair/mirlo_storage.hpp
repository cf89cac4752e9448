// The storage of a dataset (layout, chunk shape, filters, fill value), read
// from its creation properties for the structure-only report, and its text.
#pragma once
#include "mirlo_record.hpp"

#include <hdf5.h>

#include <string>

// Reads how the dataset is stored. 0, or -1 when its creation properties
// cannot be read.
[[nodiscard]] int read_dataset_storage(hid_t did, dataset_storage *storage);

// One line of words: "chunked [4x4], filters shuffle (2), deflate (1) {6},
// fill value 0 (default)".
std::string storage_text(const dataset_storage &storage);

// Under -v, the storage of both datasets of a pair: one line when they agree,
// a warning and a line per side when they do not. Never a difference.
void print_storage_pair(output_sink *out, const dataset_storage storage[2], const char *path1,
                        const char *path2);
