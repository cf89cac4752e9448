// Object paths for shell completion: the members of one group of a file whose
// names begin with what was typed.
#pragma once
#include <cstdio>

// Writes on out, one per line, the object paths of file that complete prefix,
// the way a shell completes file names. The prefix up to its last '/' names a
// group (the root group when it has no '/'; an empty prefix is read as "/");
// every member of that group whose name begins with the rest of the prefix is
// written as the prefix up to and including its last '/', then the member's
// name, then '/' when the member is a group or a soft link to one, so
// completion can go on into it. Only that group is read, however many objects the file holds; external links are not
// followed. Names that hold a newline cannot be written one per line and are
// left out. Returns 0, also when nothing matches or the group does not exist;
// 2 with a message on standard error when the file cannot be opened (only a
// regular file is: a FIFO would block) or out cannot be written.
int mirlo_list_object_paths(FILE *out, const char *file, const char *prefix);
