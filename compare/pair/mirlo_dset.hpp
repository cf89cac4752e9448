// Dataset comparison: tests whether two open datasets can be compared
// (filters, mirlo_comparable), brings both to one native memory type, and
// hands their data to mirlo_dset_read, which reads it whole or piece by
// piece along a plan of mirlo_strips, skipping what mirlo_chunks proves
// equal, and compares each pair of buffers with diff_array.
#pragma once
#include "h5_handle.hpp"
#include "mirlo_chunks.hpp"
#include "mirlo_context.hpp"

#include <string>
#include <string_view>

// Compares the data of the open datasets did1 and did2 at path1 and path2,
// within the selections of subsets (null, or null entries: the whole
// extent). Data
// that no filter here can decode is not comparable (status bit 1).
nfound_t diff_dataset_data(hid_t did1, hid_t did2, const char *path1, const char *path2,
                           const subset_spec *const subsets[2], pair_context *ctx);

// diff_dataset_data of the datasets at path1 and path2 of two files, opened
// here; a dataset that cannot be opened is named and fails the comparison.
nfound_t diff_dataset(hid_t file_id1, hid_t file_id2, const char *path1, const char *path2,
                      const subset_spec *const subsets[2], pair_context *ctx);

// The data of two open datasets whose filters are known to be available
// (name1 and name2 name them in messages, and may be null).
nfound_t diff_datasetid(hid_t did1, hid_t did2, const char *name1, const char *name2,
                        const subset_spec *const subsets[2], pair_context *ctx);

// The group that holds the object opened last on each side, kept open while
// a run of pairs is compared: pairs come in path order, so the members of a
// group are opened relative to it, and each group is looked up once rather
// than once per member. Made on the stack of the loop over the pairs, below
// the files it refers to, and handed down through pair_context::parents.
struct parent_groups {
    struct side {
        hid_t file = H5I_INVALID_HID;
        std::string path; // the group's path in file ("" when none is held)
        h5_group group;   // invalid when that path could not be opened as a group
        // The dataset of the pair now compared, where the listing found it:
        // opened by its address when the path asked for is this one.
        hid_t listed_file = H5I_INVALID_HID;
        std::string_view listed_path;
        haddr_t listed_address = HADDR_UNDEF;
    };
    side sides[2];
};

// Opens the object at path of a file as open does; when it cannot be opened,
// names it ("Cannot open <word> <path>" in the report, the reason on standard
// error and in the record; side 0 is the first file), pushes failure, and
// fails ctx's outcome. With ctx->parents, a dataset whose address the
// listing gave is opened by it; other objects are opened relative to their
// parent group, which is opened and kept there when it is not already.
hid_t open_object_of_pair(hid_t (*open)(hid_t, const char *, hid_t), hid_t file, const char *path, int side,
                          const char *word, const char *long_word, const char *failure, pair_context *ctx);
