#include "mirlo_file_pairs.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr unsigned char HDF5_SIGNATURE[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1a, '\n'};

// A descriptor closed when it goes out of scope.
struct fd_owner {
    int fd;
    ~fd_owner()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// What a walk found under one root: relative path -> 1 HDF5, 0 other, -1
// unreadable file.
using entries = std::map<std::string, int>;

// Adds the files of folder (relative path rel under the root) to out and
// descends into its folders, but not through symbolic links to folders.
void list_folder(const fs::path &folder, const fs::path &root, entries *out, std::vector<std::string> *unreadable)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        unreadable->push_back(folder.string() + ": " + ec.message());
        return;
    }
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        const fs::path p = it->path();
        std::error_code sec;
        const auto link_status = it->symlink_status(sec);
        if (fs::is_directory(link_status)) {
            list_folder(p, root, out, unreadable);
            continue;
        }
        if (fs::is_symlink(link_status) && !fs::is_regular_file(fs::status(p, sec)))
            continue; // a link to a folder, or a dangling link
        if (!fs::is_symlink(link_status) && !fs::is_regular_file(link_status))
            continue; // FIFOs, sockets, devices are never opened
        (*out)[p.lexically_relative(root).string()] = mirlo_is_hdf5_file(p.string());
    }
    if (ec)
        unreadable->push_back(folder.string() + ": " + ec.message());
}

// Lists the files under root. Returns 0, or -1 with *message set when root
// is not a folder that can be read.
int list_files(const fs::path &root, entries *out, std::vector<std::string> *unreadable, std::string *message)
{
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        *message = root.string() + ": not a folder";
        return -1;
    }
    fs::directory_iterator probe(root, ec);
    if (ec) {
        *message = root.string() + ": " + ec.message();
        return -1;
    }
    list_folder(root, root, out, unreadable);
    return 0;
}

std::string joined(const std::string &dir, const std::string &rel)
{
    if (!dir.empty() && dir.back() == '/')
        return dir + rel;
    return dir + "/" + rel;
}

} // namespace

int mirlo_is_hdf5_file(const std::string &path)
{
    fd_owner f{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (f.fd < 0)
        return -1;
    struct stat st{};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    const auto size = static_cast<uint64_t>(st.st_size);
    for (uint64_t offset = 0; offset + sizeof HDF5_SIGNATURE <= size; offset = offset ? offset * 2 : 512) {
        unsigned char sig[sizeof HDF5_SIGNATURE];
        const ssize_t got = ::pread(f.fd, sig, sizeof sig, static_cast<off_t>(offset));
        if (got < 0)
            return -1;
        if (got == sizeof sig && std::memcmp(sig, HDF5_SIGNATURE, sizeof sig) == 0)
            return 1;
    }
    return 0;
}

int mirlo_plan_directories(const std::string &dir1, const std::string &dir2, mirlo_file_plan *plan,
                           std::string *message)
{
    *plan = mirlo_file_plan{};
    entries first, second;
    if (list_files(dir1, &first, &plan->unreadable, message) < 0 ||
        list_files(dir2, &second, &plan->unreadable, message) < 0)
        return -1;
    for (const auto &[rel, kind] : first) {
        if (kind == 0) {
            plan->not_hdf5.push_back(joined(dir1, rel));
            continue;
        }
        if (second.count(rel))
            plan->pairs.push_back({joined(dir1, rel), joined(dir2, rel), rel});
        else
            plan->only_in_first.push_back(rel);
    }
    for (const auto &[rel, kind] : second) {
        const auto f = first.find(rel);
        if (kind == 0) {
            if (f == first.end() || f->second == 0) // not paired with an HDF5 file of dir1
                plan->not_hdf5.push_back(joined(dir2, rel));
            continue;
        }
        if (f == first.end() || f->second == 0)
            plan->only_in_second.push_back(rel);
    }
    return 0;
}

int mirlo_parse_pair_list(const std::string &text, const std::string &source, const std::string &base,
                          mirlo_file_plan *plan, std::string *message)
{
    *plan = mirlo_file_plan{};
    std::istringstream in(text);
    std::string line;
    for (unsigned number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        auto bad = [&](const std::string &what) {
            *plan = mirlo_file_plan{};
            *message = source + ":" + std::to_string(number) + ": " + what;
            return -1;
        };
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            return bad("no tab between the two paths");
        if (line.find('\t', tab + 1) != std::string::npos)
            return bad("more than one tab (two paths a line)");
        std::string a = line.substr(0, tab), b = line.substr(tab + 1);
        if (a.empty() || b.empty())
            return bad(a.empty() ? "the first path is empty" : "the second path is empty");
        if (line.find('\0') != std::string::npos)
            return bad("a path holds a zero byte");
        const std::string label = a;
        if (a[0] != '/' && !base.empty())
            a = joined(base, a);
        if (b[0] != '/' && !base.empty())
            b = joined(base, b);
        plan->pairs.push_back({a, b, label});
    }
    return 0;
}

int mirlo_read_pair_list(const std::string &list, mirlo_file_plan *plan, std::string *message)
{
    std::string text;
    std::string base;
    if (list == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        if (std::cin.bad()) {
            *message = "standard input: cannot be read";
            return -2;
        }
    } else {
        std::ifstream in(list, std::ios::binary);
        if (!in) {
            *message = list + ": cannot be read: " + std::strerror(errno);
            return -2;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            *message = list + ": cannot be read: " + std::strerror(errno);
            return -2;
        }
        base = fs::path(list).parent_path().string();
    }
    return mirlo_parse_pair_list(text, list == "-" ? "standard input" : list, base, plan, message);
}
