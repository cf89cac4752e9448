// Exclusion lists of the comparison: --exclude-path and --exclude-attribute.
#pragma once
#include "mirlo_options.hpp"

// 1 when the object at name (of the given trek_type) is excluded by
// --exclude-path, else 0. An exact match records type in the node, so an
// excluded group, met before its members, then excludes every name under it.
int is_exclude_path(const char *name, int type, diff_options *options);

// Appends a node (path borrowed, obj_type -1) at the end of the list whose
// first node is *head. Returns the node, or nullptr when memory ran out.
exclude_node *exclude_list_append(exclude_node **head, const char *path);

// Number of nodes in the list.
int exclude_list_length(const exclude_node *head);

// Frees every node of the list and sets *head to nullptr, so releasing the
// same list twice is harmless.
void exclude_list_free(exclude_node **head);
