// Many file pairs in one run: the pairs of two directory trees, or of a list
// of pairs (--pairs FILE).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One pair of files to compare.
struct mirlo_file_pair {
    std::string file1, file2;
    // What names the pair in --list-differing: its path relative to the two
    // directories, or the first file as the pair list gives it.
    std::string label;
};

// What a run over many file pairs compares, in the order it reports them.
struct mirlo_file_plan {
    std::vector<mirlo_file_pair> pairs;
    std::vector<std::string> only_in_first;  // relative paths, sorted
    std::vector<std::string> only_in_second; // relative paths, sorted
    std::vector<std::string> not_hdf5;       // files skipped, as dir/relative path
    // Entries that could not be looked at (an unreadable folder), each
    // "path: reason"; they fail the run.
    std::vector<std::string> unreadable;
};

// 1 when the file at path holds an HDF5 file (its signature at offset 0 or
// after a user block of 512, 1024, 2048, ... bytes), 0 when it does not, -1
// when it cannot be read.
int mirlo_is_hdf5_file(const std::string &path);

// Pairs the HDF5 files under dir1 with the files of the same relative path
// under dir2, in sorted path order. Symbolic links to files are followed,
// links to folders are not entered. A file of dir1 that cannot be read is
// paired all the same, so that its failure is reported, not skipped.
// Returns 0, or -1 with *message set when a folder itself cannot be read.
[[nodiscard]] int mirlo_plan_directories(const std::string &dir1, const std::string &dir2, mirlo_file_plan *plan,
                                         std::string *message);

// Reads a pair list: one pair a line, the two paths separated by a tab;
// blank lines and lines whose first non-blank character is '#' are skipped;
// relative paths are taken relative to the list's folder (to the current
// folder for "-", standard input). Returns 0, -1 with *message set to
// "FILE:LINE: what is wrong" for the first malformed line, or -2 with
// *message set to why the list cannot be read.
[[nodiscard]] int mirlo_read_pair_list(const std::string &list, mirlo_file_plan *plan, std::string *message);
// The same for text already read, relative paths taken against base.
[[nodiscard]] int mirlo_parse_pair_list(const std::string &text, const std::string &source, const std::string &base,
                                        mirlo_file_plan *plan, std::string *message);
