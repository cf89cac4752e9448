// Listing the objects below a group of one file, as the comparison walks it:
// links are recorded, or followed with --follow-symlinks (a followed link
// enters the list under its own path as its target object).
#pragma once
#include "mirlo_context.hpp"
#include "mirlo_output.hpp"
#include "trek.hpp"

// One listing in progress: the list it fills, the settings it follows, where
// its messages go, and the status of what it met (MIRLO_STATUS_ERROR after a
// link that cannot be followed, or one that dangles under
// --no-dangling-links).
struct group_listing {
    trek_info *info = nullptr;
    const mirlo_settings *settings = nullptr;
    output_sink *out = nullptr;
    int status = 0;
};

// Lists path of file into listing->info (path itself first when
// visit_start is set). Returns 0, or -1 when the walk failed.
int list_group(hid_t file, const char *path, bool visit_start, group_listing *listing);

// The link callback of a listing (udata is the group_listing).
int list_link(const char *path, const H5L_info_t *linfo, void *udata);

// Puts the list in name order.
void sort_paths(trek_info *info);
