// Names of the test files: "#pio_tmp_F" and the interface's suffix, under
// HDF5_PARAPREFIX and the user's own directory in it when the prefix is set.
#pragma once
#include "pio_layout.hpp"
#include "tessel_context.hpp"

#include <string>

constexpr size_t PIO_NAME_MAX = 1023; // longest test file name

// Why a user name cannot name a directory inside the prefix, or "" when it
// can: it must not be empty, ".", ".." or contain "/", and holds only
// letters, digits, ".", "_" and "-".
std::string pio_user_name_problem(const char *user);

// The name of test file file_no of the interface. The user's directory is
// created when missing (by every process that does not find it); when it
// cannot be made, or the user name could leave the prefix, the file goes in
// the prefix itself.
std::string pio_make_filename(const tessel_context &ctx, pio_interface io, unsigned long file_no);

// The directory the test files go in, before the user's directory: the
// prefix, or "." without one.
std::string pio_prefix_directory(const tessel_context &ctx);
