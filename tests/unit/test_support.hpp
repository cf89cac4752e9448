// Helpers shared by the unit tests of the support library and the comparison
// engine: fixture files, the options record as a run starts it, capture of
// what a call prints, temporary files and folders, the environment and small
// file systems of their own.
#pragma once
#include "h5_handle.hpp"
#include "mirlo_context.hpp"
#include "mirlo_output.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/mount.h>
#include <type_traits>
#include <utility>
#include <variant>

namespace test_support {

// --- fixture files ----------------------------------------------------------

// Full name of a file written by the fixture program.
inline std::string fixture_path(const std::string &name)
{
    return std::string(ZARN_FIXTURE_DIR) + "/" + name;
}

// A fixture file opened read-only; invalid when it cannot be opened.
inline h5_file open_fixture(const std::string &name)
{
    return h5_file(H5Fopen(fixture_path(name).c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
}

// --- the comparison engine ------------------------------------------------------

// The settings as the command line starts them, with report mode on or off.
inline mirlo_settings default_settings(bool report = false)
{
    mirlo_settings s;
    s.report_mode = report;
    return s;
}

// What a comparison needs, as a test runs one: the settings as the command
// line starts them (report mode on or off as the test wants it), an outcome,
// a sink to standard output, and a context whose data fields are the test's
// to set.
struct comparison {
    mirlo_settings settings;
    pair_outcome outcome;
    output_sink out{stdout};
    pair_context c;

    // The context starts with no table header pending: what a row prints
    // comes first.
    explicit comparison(bool report = false)
    {
        settings.report_mode = report;
        c.header_pending = false;
        ctx();
    }
    explicit comparison(const mirlo_settings &s) : settings(s)
    {
        c.header_pending = false;
        ctx();
    }
    comparison(const comparison &) = delete;
    comparison &operator=(const comparison &) = delete;

    // The context, with the pair's rule (and a buffer's count limit) made
    // afresh from the settings as they are now.
    pair_context *ctx(bool attributes_excluded = false)
    {
        c.settings = &settings;
        c.rule = pair_rule_of(settings, "/", attributes_excluded);
        c.count_left = settings.count_limit;
        c.out = &out;
        c.outcome = &outcome;
        return &c;
    }

    // The subsets of the settings, as a dataset comparison takes them.
    const subset_spec *const *subsets()
    {
        subset_list[0] = settings.subsets[0].get();
        subset_list[1] = settings.subsets[1].get();
        return subset_list;
    }

private:
    const subset_spec *subset_list[2] = {nullptr, nullptr};
};

// --- output capture -----------------------------------------------------------

// What a call returned and what it printed on standard output (which is where
// the buffered output goes in a one-process run) and standard error.
template <typename R> struct captured {
    R result;
    std::string out;
    std::string err;
};

// Runs f with standard output and standard error captured.
template <typename F> auto capture(F &&f)
{
    using R = std::invoke_result_t<F &>;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    if constexpr (std::is_void_v<R>) {
        f();
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        return captured<std::monostate>{{}, std::move(out), std::move(err)};
    } else {
        R result = f();
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        return captured<R>{std::move(result), std::move(out), std::move(err)};
    }
}

// Times what occurs in text.
inline size_t occurrences(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// --- temporary files and folders ----------------------------------------------

// Everything written to a temporary file, from its start.
inline std::string read_all(FILE *file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file)) > 0)
        text.append(buf, n);
    return text;
}

// A temporary file that stands in for one of the library's raw streams
// (rawoutstream, rawerrorstream) while it lives; text() reads back what was
// written to it.
class stream_capture {
public:
    explicit stream_capture(FILE *&stream) : stream_(stream), saved_(stream), file_(std::tmpfile())
    {
        stream_ = file_;
    }
    stream_capture(const stream_capture &) = delete;
    stream_capture &operator=(const stream_capture &) = delete;
    ~stream_capture()
    {
        stream_ = saved_;
        if (file_ != nullptr)
            std::fclose(file_);
    }
    FILE *file() const { return file_; }
    std::string text() const { return file_ != nullptr ? read_all(file_) : std::string(); }

private:
    FILE *&stream_;
    FILE *saved_;
    FILE *file_;
};

// A new folder, removed with everything in it when the object goes. In
// memory (/dev/shm) when asked and the system has it, else under /tmp.
class temp_dir {
public:
    explicit temp_dir(const std::string &prefix, bool in_memory = false)
    {
        for (const char *base : {in_memory ? "/dev/shm" : "/tmp", "/tmp"}) {
            std::string pattern = std::string(base) + "/" + prefix + "_XXXXXX";
            if (mkdtemp(pattern.data()) != nullptr) {
                path_ = pattern;
                break;
            }
        }
    }
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    ~temp_dir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    bool valid() const { return !path_.empty(); }
    const std::string &path() const { return path_; }
    // The name of a file in the folder.
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// An environment variable set (or, with nullptr, unset) while the object lives.
class scoped_env {
public:
    scoped_env(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    scoped_env(const scoped_env &) = delete;
    scoped_env &operator=(const scoped_env &) = delete;
    ~scoped_env()
    {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

// A small file system of its own (tmpfs of `bytes`, read-only when asked),
// mounted on a new folder while the object lives. Needs the right to mount
// (root, outside most containers); invalid otherwise, and tests then skip.
class small_fs {
public:
    explicit small_fs(size_t bytes, bool read_only = false) : dir_("mirlo_fs")
    {
        if (!dir_.valid())
            return;
        const std::string options = "size=" + std::to_string(bytes);
        if (mount("tmpfs", dir_.path().c_str(), "tmpfs", read_only ? MS_RDONLY : 0, options.c_str()) == 0)
            mounted_ = true;
    }
    small_fs(const small_fs &) = delete;
    small_fs &operator=(const small_fs &) = delete;
    ~small_fs()
    {
        if (mounted_)
            umount2(dir_.path().c_str(), MNT_DETACH);
    }
    bool valid() const { return mounted_; }
    const std::string &path() const { return dir_.path(); }

private:
    temp_dir dir_;
    bool mounted_ = false;
};

} // namespace test_support
