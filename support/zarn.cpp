// Start-up and shutdown of the tools library, messages, the tools error stack
// and the buffered output used by parallel workers.
#define ZARN_SOURCE "zarn"
#include "zarn.hpp"
#include "zarn_io.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

FILE *rawattrstream = nullptr;
FILE *rawdatastream = nullptr;
FILE *rawinstream = nullptr;
FILE *rawoutstream = nullptr;
FILE *rawerrorstream = nullptr;

hid_t zarn_error_stack = H5I_INVALID_HID;
hid_t zarn_error_class = H5I_INVALID_HID;
hid_t zarn_err_major = H5I_INVALID_HID;
hid_t zarn_err_minor = H5I_INVALID_HID;
hid_t zarn_info_minor = H5I_INVALID_HID;
hid_t zarn_debug_minor = H5I_INVALID_HID;

int enable_error_stack = 0;

unsigned char parallel_output = 0;
char outBuff[OUTBUFF_SIZE] = {};
unsigned outBuffOffset = 0;
FILE *overflow_file = nullptr;

namespace {

const char *progname = "zarn";
int status = 0;
int init_count = 0;

zarn_print_sink print_sink{};
bool have_print_sink = false;
int buffered_error = 0;      // why collected text was lost since the last reset
bool warned_lost = false;    // the loss has been reported (once per process)

// Text that cannot be kept is lost: say so once, keep the reason.
void lose_buffered_text(int error)
{
    if (buffered_error == 0)
        buffered_error = error != 0 ? error : EIO;
    if (warned_lost)
        return;
    warned_lost = true;
    fprintf(rawerrorstream ? rawerrorstream : stderr,
            "warning: could not create overflow file in %s (%s).  Output may be truncated.\n",
            zarn_temp_dir().c_str(), std::strerror(buffered_error));
}

// Formats into a string and hands it to the sink.
void vprint_to_sink(const char *fmt, va_list ap)
{
    char small[1024];
    va_list again;
    va_copy(again, ap);
    const int n = vsnprintf(small, sizeof small, fmt, ap);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        print_sink.write(print_sink.data, small, static_cast<size_t>(n));
    } else {
        std::string text(static_cast<size_t>(n) + 1, '\0');
        vsnprintf(text.data(), text.size(), fmt, again);
        print_sink.write(print_sink.data, text.data(), static_cast<size_t>(n));
    }
    va_end(again);
}

// What the default stack and the tools stack reported automatically before
// the library switched them off.
H5E_auto2_t saved_default_func = nullptr;
void *saved_default_data = nullptr;
H5E_auto2_t saved_tools_func = nullptr;
void *saved_tools_data = nullptr;

void close_stream(FILE *&stream, FILE *standard, const char *what)
{
    if (stream == nullptr || stream == standard)
        return;
    if (fclose(stream) == 0)
        stream = nullptr;
    else
        perror(what);
}

void vprint_message(const char *kind, const char *fmt, va_list ap)
{
    if (rawattrstream)
        fflush(rawattrstream);
    if (rawdatastream)
        fflush(rawdatastream);
    if (rawoutstream)
        fflush(rawoutstream);
    FILE *err = rawerrorstream ? rawerrorstream : stderr;
    fprintf(err, "%s %s: ", progname, kind);
    vfprintf(err, fmt, ap);
}

} // namespace

void zarn_init()
{
    H5Eget_auto2(H5E_DEFAULT, &saved_default_func, &saved_default_data);
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);

    if (init_count == 0) {
        char version[256];
        snprintf(version, sizeof version, "%d.%d.%d", ZARN_VERS_MAJOR, ZARN_VERS_MINOR, ZARN_VERS_RELEASE);

        if ((zarn_error_stack = H5Ecreate_stack()) < 0)
            fprintf(stderr, "Failed to create HDF5 tools error stack\n");
        if ((zarn_error_class = H5Eregister_class("Zarn", "HDF5:tools", version)) < 0)
            fprintf(stderr, "Failed to register HDF5 tools error class\n");
        if ((zarn_err_major = H5Ecreate_msg(zarn_error_class, H5E_MAJOR, "Failure in tools library")) < 0)
            fprintf(stderr, "Failed to register major error message for tools library errors\n");
        if ((zarn_err_minor = H5Ecreate_msg(zarn_error_class, H5E_MINOR, "error in function")) < 0)
            fprintf(stderr, "Failed to register minor error message for tools library errors\n");
        if ((zarn_info_minor = H5Ecreate_msg(zarn_error_class, H5E_MINOR, "function info")) < 0)
            fprintf(stderr, "Failed to register minor error message for tools library info messages\n");
        if ((zarn_debug_minor = H5Ecreate_msg(zarn_error_class, H5E_MINOR, "function debug")) < 0)
            fprintf(stderr, "Failed to register minor error message for tools library debug messages\n");

        if (!rawattrstream)
            rawattrstream = stdout;
        if (!rawdatastream)
            rawdatastream = stdout;
        if (!rawinstream)
            rawinstream = stdin;
        if (!rawoutstream)
            rawoutstream = stdout;
        if (!rawerrorstream)
            rawerrorstream = stderr;
        ++init_count;
    }

    if (zarn_error_stack >= 0) {
        H5Eget_auto2(zarn_error_stack, &saved_tools_func, &saved_tools_data);
        H5Eset_auto2(zarn_error_stack, nullptr, nullptr);
    }
}

void zarn_close()
{
    if (init_count == 0)
        return;

    if (rawoutstream == nullptr && rawdatastream == stdout)
        fprintf(rawdatastream, "\n");

    if (saved_tools_func && zarn_error_stack >= 0)
        H5Eprint2(zarn_error_stack, rawerrorstream ? rawerrorstream : stderr);

    close_stream(rawattrstream, stdout, "closing rawattrstream");
    close_stream(rawdatastream, stdout, "closing rawdatastream");
    close_stream(rawinstream, stdin, "closing rawinstream");
    close_stream(rawoutstream, stdout, "closing rawoutstream");
    close_stream(rawerrorstream, stderr, "closing rawerrorstream");

    if (zarn_error_stack >= 0)
        H5Eset_auto2(zarn_error_stack, saved_tools_func, saved_tools_data);
    H5Eset_auto2(H5E_DEFAULT, saved_default_func, saved_default_data);

    if (H5Eclose_msg(zarn_debug_minor) < 0)
        fprintf(stderr, "Failed to close minor error message for tools library debug messages\n");
    if (H5Eclose_msg(zarn_info_minor) < 0)
        fprintf(stderr, "Failed to close minor error message for tools library info messages\n");
    if (H5Eclose_msg(zarn_err_minor) < 0)
        fprintf(stderr, "Failed to close minor error message for tools library errors\n");
    if (H5Eclose_msg(zarn_err_major) < 0)
        fprintf(stderr, "Failed to close major error message for tools library errors\n");
    if (H5Eunregister_class(zarn_error_class) < 0)
        fprintf(stderr, "Failed to unregister the HDF5 tools error class\n");
    if (H5Eclose_stack(zarn_error_stack) < 0)
        fprintf(stderr, "Failed to close HDF5 tools error stack\n");
    zarn_debug_minor = zarn_info_minor = zarn_err_minor = zarn_err_major = H5I_INVALID_HID;
    zarn_error_class = zarn_error_stack = H5I_INVALID_HID;
    saved_tools_func = nullptr;
    saved_tools_data = nullptr;

    H5close();
    init_count = 0;
}

void zarn_set_progname(const char *name)
{
    progname = name;
}

const char *zarn_get_progname()
{
    return progname;
}

void zarn_set_status(int s)
{
    status = s;
}

int zarn_get_status()
{
    return status;
}

void zarn_error_msg(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprint_message("error", fmt, ap);
    va_end(ap);
}

void zarn_warn_msg(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprint_message("warning", fmt, ap);
    va_end(ap);
}

void zarn_print_help_hint(FILE *stream)
{
    fprintf(stream, "Try '-h' or '--help' for more information or ");
    fprintf(stream, "see the <%s> entry in the 'HDF5 Reference Manual'.\n", progname);
}

void zarn_buffered_print(const char *fmt, ...)
{
    va_list ap;
    if (!parallel_output) {
        va_start(ap, fmt);
        vprintf(fmt, ap);
        va_end(ap);
        return;
    }
    if (have_print_sink) {
        va_start(ap, fmt);
        vprint_to_sink(fmt, ap);
        va_end(ap);
        return;
    }
    if (buffered_error != 0)
        return; // the overflow file failed: nothing more is kept until the reset
    if (overflow_file) {
        va_start(ap, fmt);
        const int n = vfprintf(overflow_file, fmt, ap);
        va_end(ap);
        if (n < 0)
            lose_buffered_text(errno);
        return;
    }
    if (outBuffOffset >= OUTBUFF_SIZE)
        outBuffOffset = OUTBUFF_SIZE - 1;
    size_t room = OUTBUFF_SIZE - outBuffOffset;
    va_start(ap, fmt);
    int n = vsnprintf(outBuff + outBuffOffset, room, fmt, ap);
    va_end(ap);
    if (n >= 0 && static_cast<size_t>(n) < room) {
        outBuffOffset += static_cast<unsigned>(n);
        return;
    }
    // The text does not fit: drop the cut-off piece and send it, and every
    // later text until the next drain, to the overflow file.
    outBuff[outBuffOffset] = '\0';
    overflow_file = zarn_temp_file();
    if (overflow_file == nullptr) {
        lose_buffered_text(errno);
        return;
    }
    va_start(ap, fmt);
    n = vfprintf(overflow_file, fmt, ap);
    va_end(ap);
    if (n < 0)
        lose_buffered_text(errno);
}

void zarn_reset_buffered_output()
{
    if (overflow_file) {
        fclose(overflow_file);
        overflow_file = nullptr;
    }
    memset(outBuff, 0, sizeof outBuff);
    outBuffOffset = 0;
    buffered_error = 0;
    if (have_print_sink && print_sink.drop != nullptr)
        print_sink.drop(print_sink.data);
}

int zarn_buffered_output_error()
{
    return buffered_error;
}

void zarn_set_print_sink(const zarn_print_sink *sink)
{
    have_print_sink = sink != nullptr;
    print_sink = sink != nullptr ? *sink : zarn_print_sink{};
}

void zarn_push_error(const char *source, const char *func, unsigned line, hid_t minor, const char *fmt, ...)
{
    if (enable_error_stack <= 0)
        return;
    char msg[1024];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    if (zarn_error_stack >= 0 && zarn_error_class >= 0) {
        H5Epush2(zarn_error_stack, source, func, line, zarn_error_class, zarn_err_major, minor, "%s", msg);
    } else {
        fprintf(stderr, "%s\n", msg);
    }
}
