// Start-up and shutdown of the tools library, program name and status, error
// and warning messages, the tools error stack, the raw streams and the
// buffered output that parallel workers forward to the manager.
#pragma once
#include <hdf5.h>

#include <cstddef>
#include <cstdio>

#define ZARN_FORMAT(f, a) __attribute__((format(printf, f, a)))

// Version of the tools library, also printed by the version line.
constexpr unsigned ZARN_VERS_MAJOR = 1;
constexpr unsigned ZARN_VERS_MINOR = 10;
constexpr unsigned ZARN_VERS_RELEASE = 11;

constexpr unsigned OUTBUFF_SIZE = 2048;

// Raw streams; standard streams after zarn_init.
extern FILE *rawattrstream;
extern FILE *rawdatastream;
extern FILE *rawinstream;
extern FILE *rawoutstream;
extern FILE *rawerrorstream;

// The library's own error stack, class and messages.
extern hid_t zarn_error_stack;
extern hid_t zarn_error_class;
extern hid_t zarn_err_major;
extern hid_t zarn_err_minor;
extern hid_t zarn_info_minor;
extern hid_t zarn_debug_minor;

// Error-stack level: above 0, library functions push their failures.
extern int enable_error_stack;

// Buffered output for parallel runs.
extern unsigned char parallel_output;
extern char outBuff[OUTBUFF_SIZE];
extern unsigned outBuffOffset;
extern FILE *overflow_file;

void zarn_init();
void zarn_close();
void zarn_set_progname(const char *name);
const char *zarn_get_progname();
void zarn_set_status(int status);
int zarn_get_status();

void zarn_error_msg(const char *fmt, ...) ZARN_FORMAT(1, 2);
void zarn_warn_msg(const char *fmt, ...) ZARN_FORMAT(1, 2);
void zarn_print_help_hint(FILE *stream);

// printf to standard output, or, while parallel_output is on, to the print
// sink when one is set, else into outBuff and then the overflow file (a
// temporary file in zarn_temp_dir()). When the overflow file cannot be made
// or written, the text is lost: a warning says so once per process, and
// zarn_buffered_output_error() tells why until the next reset.
void zarn_buffered_print(const char *fmt, ...) ZARN_FORMAT(1, 2);

// Discards everything collected by zarn_buffered_print: empties outBuff,
// closes the overflow file and tells the print sink to drop what it holds.
void zarn_reset_buffered_output();

// The errno of the failure that lost collected text since the last reset, or 0.
int zarn_buffered_output_error();

// Where the collected text goes instead of outBuff: write receives each
// printed text, drop is called by zarn_reset_buffered_output.
struct zarn_print_sink {
    void (*write)(void *data, const char *text, size_t size);
    void (*drop)(void *data);
    void *data;
};
// Sets the sink (copied), or with nullptr goes back to outBuff.
void zarn_set_print_sink(const zarn_print_sink *sink);

// Records a failure on the tools error stack when the error-stack level is
// above 0 (or on standard error when the stack is unusable).
void zarn_push_error(const char *source, const char *func, unsigned line, hid_t minor,
                     const char *fmt, ...) ZARN_FORMAT(5, 6);

// Pushes a failure of the calling function; ZARN_SOURCE names the module.
#define ZARN_PUSH_ERROR(minor, ...) zarn_push_error(ZARN_SOURCE, __func__, __LINE__, (minor), __VA_ARGS__)
