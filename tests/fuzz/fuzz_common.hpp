// Shared pieces of the fuzz harnesses: argument vectors built from the fuzz
// input, a catch for exit() (the command-line parsers end the process when
// they refuse a value; the harnesses are linked with -Wl,--wrap=exit so that
// such an exit comes back here), and quiet output streams.
#pragma once
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace fuzz {

// The command line of one input: words separated by '\n' (a NUL cuts a word
// short, as it would in a real argv). Each word is its own allocation of
// exactly its size, so reading past its end is caught; argv[argc] is null.
struct arg_vector {
    int argc = 0;
    char **argv = nullptr;

    arg_vector(const char *program, const uint8_t *data, size_t size, int max_words = 64)
    {
        owned_.push_back(dup(program, std::strlen(program)));
        size_t start = 0;
        for (size_t i = 0; i <= size && static_cast<int>(owned_.size()) < max_words; ++i) {
            if (i == size && start == size)
                break; // no empty word after a final separator
            if (i == size || data[i] == '\n') {
                owned_.push_back(dup(reinterpret_cast<const char *>(data) + start, i - start));
                start = i + 1;
            }
        }
        argc = static_cast<int>(owned_.size());
        argv = static_cast<char **>(std::malloc(sizeof(char *) * (owned_.size() + 1)));
        for (size_t i = 0; i < owned_.size(); ++i)
            argv[i] = owned_[i];
        argv[argc] = nullptr;
    }
    ~arg_vector()
    {
        // The parsers may cut words short in place but never replace them;
        // what was allocated is freed whatever argv holds now.
        for (char *w : owned_)
            std::free(w);
        std::free(argv);
    }
    arg_vector(const arg_vector &) = delete;
    arg_vector &operator=(const arg_vector &) = delete;

private:
    std::vector<char *> owned_;

    static char *dup(const char *p, size_t n)
    {
        char *w = static_cast<char *>(std::malloc(n + 1));
        std::memcpy(w, p, n);
        w[n] = '\0';
        return w;
    }
};

// A NUL-terminated copy of the input, allocated to its exact size.
struct text {
    char *s;
    text(const uint8_t *data, size_t size)
    {
        s = static_cast<char *>(std::malloc(size + 1));
        std::memcpy(s, data, size);
        s[size] = '\0';
    }
    ~text() { std::free(s); }
    text(const text &) = delete;
    text &operator=(const text &) = delete;
};

// Where an exit() made while a parser runs lands.
extern sigjmp_buf *exit_landing;
extern int exit_status;

// Sends standard output (and, optionally, standard error) to /dev/null.
inline void silence_stdout(bool also_stderr = false)
{
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd < 0)
        return;
    fflush(stdout);
    dup2(null_fd, STDOUT_FILENO);
    if (also_stderr)
        dup2(null_fd, STDERR_FILENO);
    close(null_fd);
}

} // namespace fuzz

// Runs stmt; if it calls exit(), execution resumes after the macro with
// fuzz::exit_status set and `exited` true.
#define FUZZ_CATCH_EXIT(exited, stmt)                                                  \
    bool exited = false;                                                               \
    {                                                                                  \
        sigjmp_buf landing_;                                                           \
        if (sigsetjmp(landing_, 0) == 0) {                                             \
            fuzz::exit_landing = &landing_;                                            \
            stmt;                                                                      \
        } else {                                                                       \
            exited = true;                                                             \
        }                                                                              \
        fuzz::exit_landing = nullptr;                                                  \
    }

// One definition per harness: include in exactly one translation unit.
#define FUZZ_DEFINE_EXIT_HOOK()                                                        \
    sigjmp_buf *fuzz::exit_landing = nullptr;                                          \
    int fuzz::exit_status = 0;                                                         \
    extern "C" [[noreturn]] void __real_exit(int status);                              \
    extern "C" [[noreturn]] void __wrap_exit(int status)                               \
    {                                                                                  \
        if (fuzz::exit_landing != nullptr) {                                           \
            fuzz::exit_status = status;                                                \
            siglongjmp(*fuzz::exit_landing, 1);                                        \
        }                                                                              \
        __real_exit(status);                                                           \
    }
