// File access property lists by driver name, opening a file through whichever
// driver can read it, and the variable-length datatype tests.
#define ZARN_SOURCE "zarn"
#include "zarn_fopen.hpp"
#include "h5_handle.hpp"
#include "zarn.hpp"

#include <mpi.h>

#include <cstdio>
#include <cstring>

const char *const vfd_names[ZARN_VFD_COUNT] = {"sec2",  "direct", "log",   "windows", "stdio", "core",
                                               "family", "split",  "multi", "mpio",    "ros3",  "hdfs"};

namespace {

// Longest name handed to a driver that builds member names from it. The
// multi and split drivers print "name-X.h5" into a fixed buffer of about a
// kilobyte, the family driver prints its member number into the name; this
// bound keeps every member name well inside those buffers.
constexpr size_t MEMBER_NAME_BASE_MAX = 1000;

// True when the driver that fapl carries can be given filename without
// harm: the family driver takes the name as a printf format, the multi (and
// split) driver copies it into a fixed buffer. Any other driver opens the
// name as it is.
bool name_fits_driver(const char *filename, hid_t fapl)
{
    hid_t driver;
    {
        h5_errors_off quiet;
        driver = H5Pget_driver(fapl == H5P_DEFAULT ? H5P_FILE_ACCESS_DEFAULT : fapl);
    }
    if (driver == H5FD_FAMILY)
        return zarn_is_family_template(filename);
    if (driver == H5FD_MULTI)
        return std::strlen(filename) <= MEMBER_NAME_BASE_MAX;
    return true;
}

// One H5Fopen with HDF5's automatic error printing silenced, unless the
// error-stack level asks to see the library's own diagnostics. A name the
// list's driver cannot take safely is not opened at all.
hid_t open_once(const char *filename, unsigned flags, hid_t fapl)
{
    if (!name_fits_driver(filename, fapl))
        return -1;
    if (enable_error_stack >= 2)
        return H5Fopen(filename, flags, fapl);
    h5_errors_off quiet;
    return H5Fopen(filename, flags, fapl);
}

// A list for the MPI-IO driver on this process alone. The open loop runs in
// one process at a time (the manager of a parallel comparison, and each
// worker on its own), so an open over the world communicator would wait for
// processes that never join; over MPI_COMM_SELF every process count opens
// the same files. Outside MPI's lifetime the list keeps its driver.
hid_t self_mpio_fapl(hid_t base)
{
    h5_plist fapl(zarn_get_fapl(base, nullptr));
    if (!fapl.valid())
        return -1;
    int initialized = 0;
    int finalized = 0;
    MPI_Initialized(&initialized);
    MPI_Finalized(&finalized);
    if (initialized && !finalized && H5Pset_fapl_mpio(fapl, MPI_COMM_SELF, MPI_INFO_NULL) < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "H5Pset_fapl_mpio failed");
        return -1;
    }
    return fapl.release();
}

} // namespace

bool zarn_is_family_template(const char *name)
{
    if (name == nullptr || std::strlen(name) > MEMBER_NAME_BASE_MAX)
        return false;
    int conversions = 0;
    for (const char *p = name; *p != '\0'; ++p) {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%')
            continue;
        // Flags, then at most two digits each of width and precision: the
        // member number is an unsigned int, so no length modifier, no '*'.
        while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr)
            ++p;
        for (int digits = 0; digits < 2 && *p >= '0' && *p <= '9'; ++digits)
            ++p;
        if (*p == '.') {
            ++p;
            for (int digits = 0; digits < 2 && *p >= '0' && *p <= '9'; ++digits)
                ++p;
        }
        if (*p == '\0' || std::strchr("diouxX", *p) == nullptr)
            return false;
        ++conversions;
    }
    return conversions == 1;
}

hid_t zarn_get_fapl(hid_t base_fapl, const vfd_spec *vfd)
{
    if (base_fapl < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "invalid FAPL");
        return -1;
    }
    h5_plist fapl;
    if (base_fapl == H5P_DEFAULT) {
        fapl.reset(H5Pcreate(H5P_FILE_ACCESS));
        if (!fapl.valid()) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pcreate failed");
            return -1;
        }
    } else {
        fapl.reset(H5Pcopy(base_fapl));
        if (!fapl.valid()) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pcopy failed");
            return -1;
        }
    }
    if (vfd != nullptr && zarn_set_fapl_vfd(fapl, vfd) < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "failed to set VFD on FAPL");
        return -1;
    }
    return fapl.release();
}

herr_t zarn_set_fapl_vfd(hid_t fapl, const vfd_spec *vfd)
{
    const char *name = vfd != nullptr ? vfd->name : nullptr;
    int which = -1;
    for (int i = 0; name != nullptr && i < ZARN_VFD_COUNT && which < 0; ++i)
        if (std::strcmp(name, vfd_names[i]) == 0)
            which = i;

    switch (which) {
    case ZARN_VFD_SEC2:
        if (H5Pset_fapl_sec2(fapl) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pset_fapl_sec2 failed");
            return -1;
        }
        return 0;
    case ZARN_VFD_DIRECT:
        ZARN_PUSH_ERROR(zarn_err_minor, "Direct VFD is not enabled");
        return -1;
    case ZARN_VFD_LOG: {
        // Read, write and seek locations and allocations; no log file name.
        const unsigned long long log_flags = H5FD_LOG_LOC_READ | H5FD_LOG_LOC_WRITE | H5FD_LOG_LOC_SEEK |
                                             H5FD_LOG_ALLOC;
        if (H5Pset_fapl_log(fapl, nullptr, log_flags, 0) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pset_fapl_log failed");
            return -1;
        }
        return 0;
    }
    case ZARN_VFD_WINDOWS:
        ZARN_PUSH_ERROR(zarn_err_minor, "Windows VFD is not enabled");
        return -1;
    case ZARN_VFD_STDIO:
        if (H5Pset_fapl_stdio(fapl) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pset_fapl_stdio failed");
            return -1;
        }
        return 0;
    case ZARN_VFD_CORE:
        if (H5Pset_fapl_core(fapl, 1048576, true) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pset_fapl_core failed");
            return -1;
        }
        return 0;
    case ZARN_VFD_FAMILY:
        if (H5Pset_fapl_family(fapl, 0, H5P_DEFAULT) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pset_fapl_family failed");
            return -1;
        }
        return 0;
    case ZARN_VFD_SPLIT:
        if (H5Pset_fapl_split(fapl, "-m.h5", H5P_DEFAULT, "-r.h5", H5P_DEFAULT) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pset_fapl_split failed");
            return -1;
        }
        return 0;
    case ZARN_VFD_MULTI:
        if (H5Pset_fapl_multi(fapl, nullptr, nullptr, nullptr, nullptr, true) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pset_fapl_multi failed");
            return -1;
        }
        return 0;
    case ZARN_VFD_MPIO: {
        // Only while MPI runs; outside that window the list keeps its driver.
        int initialized = 0;
        int finalized = 0;
        MPI_Initialized(&initialized);
        MPI_Finalized(&finalized);
        if (initialized && !finalized && H5Pset_fapl_mpio(fapl, MPI_COMM_WORLD, MPI_INFO_NULL) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "H5Pset_fapl_mpio failed");
            return -1;
        }
        return 0;
    }
    case ZARN_VFD_ROS3:
        ZARN_PUSH_ERROR(zarn_err_minor, "Read-only S3 VFD is not enabled");
        return -1;
    case ZARN_VFD_HDFS:
        ZARN_PUSH_ERROR(zarn_err_minor, "The HDFS VFD is not enabled");
        return -1;
    default:
        ZARN_PUSH_ERROR(zarn_err_minor, "invalid VFD name");
        return -1;
    }
}

int zarn_get_vfd_name(hid_t fapl, char *drivername, size_t drivername_size)
{
    if (fapl < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "invalid FAPL");
        return -1;
    }
    if (drivername == nullptr) {
        ZARN_PUSH_ERROR(zarn_err_minor, "drivername is NULL");
        return -1;
    }
    if (drivername_size == 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "drivername_size must be non-zero");
        return -1;
    }
    drivername[0] = '\0';

    if (fapl == H5P_DEFAULT) {
        fapl = H5P_FILE_ACCESS_DEFAULT;
        if (fapl < 0)
            return 0;
    }
    hid_t driver = H5Pget_driver(fapl);
    if (driver < 0) {
        ZARN_PUSH_ERROR(zarn_err_minor, "failed to retrieve VFL driver ID from FAPL");
        return -1;
    }

    const char *name = "unknown";
    if (driver == H5FD_SEC2)
        name = vfd_names[ZARN_VFD_SEC2];
    else if (driver == H5FD_LOG)
        name = vfd_names[ZARN_VFD_LOG];
    else if (driver == H5FD_STDIO)
        name = vfd_names[ZARN_VFD_STDIO];
    else if (driver == H5FD_CORE)
        name = vfd_names[ZARN_VFD_CORE];
    else if (driver == H5FD_FAMILY)
        name = vfd_names[ZARN_VFD_FAMILY];
    else if (driver == H5FD_MULTI)
        name = vfd_names[ZARN_VFD_MULTI];
    else if (driver == H5FD_MPIO)
        name = vfd_names[ZARN_VFD_MPIO];

    std::strncpy(drivername, name, drivername_size);
    drivername[drivername_size - 1] = '\0';
    return 0;
}

hid_t zarn_fopen(const char *filename, unsigned flags, hid_t fapl, bool specified_fapl_only, char *drivername,
                 size_t drivername_size)
{
    h5_file fid(open_once(filename, flags, fapl));
    h5_plist tried; // the list of the driver that opened the file, when the loop found one
    if (!fid.valid()) {
        if (specified_fapl_only) {
            ZARN_PUSH_ERROR(zarn_err_minor, "failed to open file using specified FAPL");
            return -1;
        }
        for (int i = 0; i < ZARN_VFD_COUNT && !fid.valid(); ++i) {
            // The log driver is never tried; MPI-IO is tried on this process
            // alone. It also opens a file whose writer never closed it (its
            // superblock still says "open for writing"), which the other
            // drivers refuse: read-only, at any process count.
            if (i == ZARN_VFD_LOG)
                continue;
            const vfd_spec spec{nullptr, vfd_names[i]};
            h5_plist driver_fapl(i == ZARN_VFD_MPIO ? self_mpio_fapl(fapl) : zarn_get_fapl(fapl, &spec));
            if (!driver_fapl.valid())
                continue;
            hid_t f = zarn_fopen(filename, flags, driver_fapl, true, nullptr, 0);
            if (f >= 0) {
                fid.reset(f);
                tried = std::move(driver_fapl);
            }
        }
        if (!fid.valid())
            return -1;
    }

    if (drivername != nullptr && drivername_size != 0) {
        if (zarn_get_vfd_name(tried.valid() ? hid_t(tried) : fapl, drivername, drivername_size) < 0) {
            ZARN_PUSH_ERROR(zarn_err_minor, "failed to retrieve name of VFD used to open file");
            return -1;
        }
    }
    return fid.release();
}

int zarn_file_left_open(const char *filename)
{
    FILE *fp = std::fopen(filename, "rb");
    if (fp == nullptr)
        return -1;
    // The superblock starts at 0 or, after a user block, at a power of two
    // from 512 on. From version 2 on, its twelfth byte holds the status
    // flags: bit 0 open for writing, bit 2 open for SWMR writing.
    static const unsigned char signature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};
    int result = -1;
    for (long at = 0; result < 0; at = at == 0 ? 512 : at * 2) {
        unsigned char head[12];
        if (std::fseek(fp, at, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, fp) != sizeof head)
            break;
        if (std::memcmp(head, signature, sizeof signature) != 0)
            continue;
        result = head[8] >= 2 && (head[11] & 0x05) != 0 ? 1 : 0;
    }
    std::fclose(fp);
    return result;
}

int zarn_type_has_vlen(hid_t tid)
{
    htri_t r = H5Tdetect_class(tid, H5T_VLEN);
    if (r != 0)
        return r > 0 ? 1 : static_cast<int>(r);
    return zarn_type_has_vlen_string(tid);
}

int zarn_type_has_vlen_string(hid_t tid)
{
    htri_t r = H5Tis_variable_str(tid);
    if (r != 0)
        return r > 0 ? 1 : static_cast<int>(r);

    switch (H5Tget_class(tid)) {
    case H5T_ARRAY:
    case H5T_VLEN: {
        h5_datatype base(H5Tget_super(tid));
        if (!base.valid())
            return static_cast<int>(base.release());
        return zarn_type_has_vlen_string(base);
    }
    case H5T_COMPOUND: {
        int n = H5Tget_nmembers(tid);
        if (n < 0)
            return -1;
        for (int i = 0; i < n; ++i) {
            h5_datatype member(H5Tget_member_type(tid, static_cast<unsigned>(i)));
            int m = member.valid() ? zarn_type_has_vlen_string(member) : -1;
            if (m != 0)
                return m;
        }
        return 0;
    }
    default:
        return 0;
    }
}
