// Helpers shared by the tessel unit tests: command lines parsed into options,
// a world context for one process, output captured from a FILE*, temporary
// prefixes and environment variables put back after a test.
#pragma once
#include <gtest/gtest.h>

#include "test_support.hpp"

#include "pio_layout.hpp"
#include "pio_names.hpp"
#include "pio_timer.hpp"
#include "tessel_context.hpp"
#include "tessel_options.hpp"
#include "zarn_options.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tessel_test {

namespace fs = std::filesystem;

// A command line (without the program name) parsed as tessel parses it.
struct parsed {
    bench_command command;
    bench_options options;
    std::string message;
};

inline parsed parse(std::vector<const char *> words, int world_size = 4)
{
    words.insert(words.begin(), "tessel");
    zarn_reset_scanner();
    zarn_opt_report = 0;
    parsed p{bench_command::run, bench_default_options(world_size), ""};
    p.command = parse_bench_command_line(static_cast<int>(words.size()), words.data(), &p.options, &p.message);
    return p;
}

// The options of an accepted command line.
inline bench_options options_of(std::vector<const char *> words, int world_size = 4)
{
    parsed p = parse(std::move(words), world_size);
    EXPECT_EQ(p.command, bench_command::run) << p.message;
    return p.options;
}

// A run of one process over MPI_COMM_SELF, reporting into out.
inline tessel_context self_context(FILE *out = stdout)
{
    tessel_context ctx;
    ctx.comm = MPI_COMM_SELF;
    ctx.out = out;
    return ctx;
}

// A one-process context with the environment read as tessel reads it at
// start-up.
inline tessel_context env_context(FILE *out = stdout)
{
    tessel_context ctx = self_context(out);
    tessel_read_environment(ctx);
    return ctx;
}

// Settings of a small run of one process: 4 KiB datasets, 1 KiB transfers
// of 512-byte blocks.
inline bench_parameters small_run(pio_interface io)
{
    bench_parameters p{};
    p.io_type = io;
    p.num_procs = 1;
    p.num_files = 1;
    p.num_dsets = 1;
    p.dset_size = 4096;
    p.num_iterations = 1;
    p.buf_size = 1024;
    p.block_size = 512;
    p.align = 1;
    p.threshold = 1;
    return p;
}

inline pio_timer_set fresh_timers(int clock = PIO_MPI_CLOCK)
{
    pio_timer_set t{};
    t.clock = clock;
    return t;
}

// A temporary FILE* whose whole text can be read back.
class captured_file {
public:
    captured_file() : f_(std::tmpfile()) {}
    captured_file(const captured_file &) = delete;
    captured_file &operator=(const captured_file &) = delete;
    ~captured_file() { std::fclose(f_); }
    FILE *get() const { return f_; }
    std::string text() const { return test_support::read_all(f_); }

private:
    FILE *f_;
};

// A fresh folder under /tmp named after the test, removed with all its
// contents at the end of the test.
class temp_dir : public test_support::temp_dir {
public:
    explicit temp_dir(const std::string &tag) : test_support::temp_dir("tessel_" + tag) {}
};

// Sets or unsets environment variables for a test and puts back what was
// there before.
class env_guard {
public:
    env_guard() = default;
    env_guard(const env_guard &) = delete;
    env_guard &operator=(const env_guard &) = delete;
    void set(const char *name, const char *value)
    {
        const char *old = std::getenv(name);
        saved_.emplace_back(name, old ? std::make_pair(true, std::string(old)) : std::make_pair(false, std::string()));
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~env_guard()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second.first)
                setenv(it->first.c_str(), it->second.second.c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

} // namespace tessel_test
