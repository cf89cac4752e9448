// Exclusion lists: building, releasing and the two exclusion tests.
#include "mirlo_util.hpp"

#include <cstdlib>
#include <cstring>

namespace {

// The rule shared by both lists: a node not yet matched to a group excludes
// exactly its own path and remembers the kind it matched; a node matched to a
// group excludes everything below that group.
int is_excluded(exclude_node *node, const char *path, int type)
{
    for (; node != nullptr; node = node->next) {
        if (node->obj_type != TREK_GROUP) {
            if (std::strcmp(node->path, path) == 0) {
                node->obj_type = type;
                return 1;
            }
        } else {
            size_t len = std::strlen(node->path);
            if (std::strncmp(path, node->path, len) == 0 && path[len] == '/')
                return 1;
        }
    }
    return 0;
}

} // namespace

int is_exclude_attr(const char *path, int obj_type, diff_options *options)
{
    if (!options->exclude_attr_mode)
        return 0;
    return is_excluded(options->exclude_attrs, path, obj_type);
}

int is_exclude_path(const char *name, int type, diff_options *options)
{
    if (!options->exclude_path_mode)
        return 0;
    return is_excluded(options->exclude_paths, name, type);
}

exclude_node *exclude_list_append(exclude_node **head, const char *path)
{
    auto *node = static_cast<exclude_node *>(std::malloc(sizeof(exclude_node)));
    if (node == nullptr)
        return nullptr;
    node->path = path;
    node->obj_type = TREK_UNKNOWN;
    node->next = nullptr;
    exclude_node **tail = head;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = node;
    return node;
}

int exclude_list_length(const exclude_node *head)
{
    int n = 0;
    for (; head != nullptr; head = head->next)
        ++n;
    return n;
}

void exclude_list_free(exclude_node **head)
{
    exclude_node *node = *head;
    while (node != nullptr) {
        exclude_node *next = node->next;
        std::free(node);
        node = next;
    }
    *head = nullptr;
}
