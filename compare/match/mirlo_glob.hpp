// Glob patterns on object paths and attribute names.
//
// A pattern is matched byte by byte, so names that are not UTF-8 and names
// with spaces match like any other bytes.
//   *      any run of bytes within one level (never a '/' in path mode)
//   **     any run of bytes across levels; "/**" at the end also matches the
//          path before it ("/fields/**" matches "/fields" and all below it),
//          and "/**/" in the middle also matches a single "/"
//   ?      one byte (not '/' in path mode)
//   [..]   one byte of a set: ranges "a-z", negation "[!..]" or "[^..]"; a
//          ']' first in the set stands for itself
//   \xHH   the byte of hexadecimal value HH (for names that are not UTF-8,
//          which a rules file cannot hold as they are)
//   \c     the byte c itself
// In name mode (attribute names), '/' is an ordinary byte and "**" is "*".
#pragma once
#include <string>
#include <string_view>

enum class glob_mode { path, name };

// True when text matches the whole of pattern.
bool glob_match(std::string_view pattern, std::string_view text, glob_mode mode);

// Empty when pattern is well formed, else what is wrong with it (an
// unterminated bracket or a trailing backslash).
std::string glob_check(std::string_view pattern);
