// File access property lists by driver name, and opening a file through
// whichever virtual file driver can read it. Also two datatype tests that tell
// whether data read with a type must be reclaimed afterwards.
#pragma once
#include <hdf5.h>

#include <cstddef>

// The virtual file drivers by name, in the order the open loop tries them;
// each is the index of its name in vfd_names.
enum zarn_vfd : int {
    ZARN_VFD_SEC2,
    ZARN_VFD_DIRECT,
    ZARN_VFD_LOG,
    ZARN_VFD_WINDOWS,
    ZARN_VFD_STDIO,
    ZARN_VFD_CORE,
    ZARN_VFD_FAMILY,
    ZARN_VFD_SPLIT,
    ZARN_VFD_MULTI,
    ZARN_VFD_MPIO,
    ZARN_VFD_ROS3,
    ZARN_VFD_HDFS,
    ZARN_VFD_COUNT
};
extern const char *const vfd_names[ZARN_VFD_COUNT];

// A request for one driver; config is not read by any driver setting here.
struct vfd_spec {
    const void *config;
    const char *name;
};

// New file access list copied from base_fapl (or the default list for
// H5P_DEFAULT), with the driver of vfd when vfd is given. -1 on failure.
[[nodiscard]] hid_t zarn_get_fapl(hid_t base_fapl, const vfd_spec *vfd);

// Sets the driver named by vfd on fapl; 0 on success, negative on failure.
[[nodiscard]] herr_t zarn_set_fapl_vfd(hid_t fapl, const vfd_spec *vfd);

// Writes the name of the driver fapl carries ("unknown" when not one of
// ours); always terminated within drivername_size bytes. 0 or -1.
[[nodiscard]] int zarn_get_vfd_name(hid_t fapl, char *drivername, size_t drivername_size);

// Opens filename with fapl; unless specified_fapl_only, falls back to each
// usable driver in turn. The driver that opened the file is named in
// drivername when given. Returns the file identifier or a negative value.
// The MPI-IO driver of the loop opens the file on this process alone.
// Drivers that build member names from filename (family, split, multi) are
// used only when the name is safe for them: a family template, or a name
// short enough; for any other name they fail like an unreadable file.
[[nodiscard]] hid_t zarn_fopen(const char *filename, unsigned flags, hid_t fapl, bool specified_fapl_only,
                               char *drivername, size_t drivername_size);

// 1 when the superblock of the file says it is still open for writing (its
// writer ended without closing it, or is still writing), 0 when not, -1
// when no superblock can be read. zarn_fopen opens such a file read-only
// all the same; callers warn that its contents may be incomplete.
int zarn_file_left_open(const char *filename);

// True when name can serve the family driver as its member-name template:
// exactly one integer conversion (flags, width and precision of at most two
// digits allowed), "%%" for a percent sign, and no other conversion. The
// driver prints the member number into the name with printf, so any other
// name must never reach it.
bool zarn_is_family_template(const char *name);

// 1 when the type holds variable-length data (sequences or strings) at any
// depth, 0 when not, negative on failure.
int zarn_type_has_vlen(hid_t tid);
// 1 when the type holds a variable-length string at any depth, 0 when not,
// negative on failure.
int zarn_type_has_vlen_string(hid_t tid);
