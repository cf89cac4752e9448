// Test file names under HDF5_PARAPREFIX.
#include "pio_names.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *suffix_of(pio_interface io)
{
    switch (io) {
    case pio_interface::posix: return ".posix";
    case pio_interface::mpiio: return ".mpio";
    case pio_interface::phdf5: return ".h5";
    }
    return "";
}

// Every run of "/" becomes one.
std::string squeeze_slashes(const std::string &name)
{
    std::string squeezed;
    for (char ch : name)
        if (!(ch == '/' && !squeezed.empty() && squeezed.back() == '/'))
            squeezed += ch;
    return squeezed;
}

} // namespace

void tessel_read_environment(tessel_context &ctx)
{
    ctx.keep_files = std::getenv("HDF5_NOCLEANUP") != nullptr;
    const char *prefix = std::getenv("HDF5_PARAPREFIX");
    ctx.prefix_set = prefix != nullptr;
    ctx.prefix = prefix != nullptr ? prefix : "";
    ctx.user_variable = std::getenv("USER") != nullptr ? "USER" : std::getenv("LOGIN") != nullptr ? "LOGIN" : nullptr;
    ctx.user = ctx.user_variable != nullptr ? std::getenv(ctx.user_variable) : "";
}

std::string pio_user_name_problem(const char *user)
{
    if (user == nullptr)
        return "";
    if (*user == '\0')
        return "is empty";
    if (std::strcmp(user, ".") == 0 || std::strcmp(user, "..") == 0)
        return "names no directory of its own";
    if (std::strchr(user, '/') != nullptr)
        return "contains \"/\"";
    // The portable set of file name characters: no blank, line break or
    // shell character can reach a directory name.
    for (const char *p = user; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        const bool letter_or_digit = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letter_or_digit && c != '.' && c != '_' && c != '-')
            return "holds characters other than letters, digits, \".\", \"_\" and \"-\"";
    }
    return "";
}

std::string pio_prefix_directory(const tessel_context &ctx)
{
    return ctx.prefix.empty() ? std::string(".") : ctx.prefix;
}

std::string pio_make_filename(const tessel_context &ctx, pio_interface io, unsigned long file_no)
{
    char base[64];
    std::snprintf(base, sizeof base, "#pio_tmp_%lu", file_no);
    std::string full;
    if (ctx.prefix.empty()) {
        full = base;
    } else {
        std::string dir = ctx.prefix;
        // A user name that could climb out of the prefix, or that holds
        // unsafe characters, is never used.
        if (ctx.user_variable != nullptr && pio_user_name_problem(ctx.user.c_str()).empty()) {
            dir += "/";
            dir += ctx.user;
            if (dir.size() > PIO_NAME_MAX)
                dir.resize(PIO_NAME_MAX);
        }
        if (dir.size() + 1 + std::strlen(base) > PIO_NAME_MAX) {
            full = dir; // incomplete: the open of this name fails
        } else {
            struct stat st{};
            if (stat(dir.c_str(), &st) != 0 && mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
                dir = ctx.prefix;
            full = dir + "/" + base;
        }
    }
    const char *suffix = suffix_of(io);
    if (full.size() + std::strlen(suffix) <= PIO_NAME_MAX)
        full = squeeze_slashes(full + suffix);
    return full;
}
