// Subset records: defaults, checks against the extent, hyperslabs.
#define ZARN_SOURCE "mirlo_dset"
#include "mirlo_subset.hpp"
#include "zarn.hpp"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

void refuse(subset_problem *problem, int which, std::string reason)
{
    if (problem != nullptr) {
        problem->which = which;
        problem->reason = std::move(reason);
    }
}

} // namespace

std::string subset_text(const subset_spec *spec)
{
    const hsize_list *lists[] = {&spec->start, &spec->stride, &spec->count, &spec->block};
    int last = 3;
    while (last > 0 && lists[last]->count == 0)
        --last;
    std::string text = "[";
    for (int k = 0; k <= last; ++k) {
        if (k > 0)
            text += ';';
        for (hsize_t i = 0; i < lists[k]->count; ++i) {
            if (i > 0)
                text += ',';
            text += std::to_string(static_cast<unsigned long long>(lists[k]->values[i]));
        }
    }
    return text + "]";
}

subset_spec_ptr subset_with_defaults(const subset_spec *spec, int rank)
{
    auto *filled = static_cast<subset_spec *>(std::calloc(1, sizeof(subset_spec)));
    const subset_spec_ptr owned = subset_spec_owned(filled);
    if (filled == nullptr)
        return nullptr;
    struct {
        const hsize_list *given;
        hsize_list *list;
        hsize_t value;
    } lists[] = {{&spec->start, &filled->start, 0},
                 {&spec->stride, &filled->stride, 1},
                 {&spec->count, &filled->count, 1},
                 {&spec->block, &filled->block, 1}};
    for (auto &l : lists) {
        const bool given = l.given->values != nullptr && l.given->count != 0;
        const size_t n = given ? static_cast<size_t>(l.given->count) : static_cast<size_t>(rank);
        if (n == 0)
            continue;
        auto *values = static_cast<hsize_t *>(std::malloc(sizeof(hsize_t) * n));
        if (values == nullptr)
            return nullptr;
        if (given)
            std::copy(l.given->values, l.given->values + n, values);
        else
            std::fill(values, values + n, l.value);
        l.list->values = values;
        l.list->count = static_cast<hsize_t>(n);
    }
    return owned;
}

bool validate_subset(const subset_spec *spec, int which, int rank, const hsize_t *dims, subset_problem *problem)
{
    const hsize_list *lists[] = {&spec->start, &spec->stride, &spec->count, &spec->block};
    for (const hsize_list *l : lists) {
        if (l->count != static_cast<hsize_t>(rank)) {
            ZARN_PUSH_ERROR(zarn_err_minor, "wrong subset selection[%d]; one value per dimension is required",
                            which);
            refuse(problem, which,
                   "gives " + std::to_string(static_cast<unsigned long long>(l->count)) +
                       " values in a list where the dataset has " + std::to_string(rank) + " dimensions");
            return false;
        }
    }
    for (int i = 0; i < rank; ++i) {
        if (spec->count.values[i] > 1 && spec->stride.values[i] < spec->block.values[i]) {
            ZARN_PUSH_ERROR(zarn_err_minor, "wrong subset selection[%d]; blocks overlap", which);
            refuse(problem, which,
                   "has overlapping blocks: in dimension " + std::to_string(i) + " the stride " +
                       std::to_string(static_cast<unsigned long long>(spec->stride.values[i])) +
                       " is smaller than the block " +
                       std::to_string(static_cast<unsigned long long>(spec->block.values[i])));
            return false;
        }
    }
    for (int i = 0; i < rank; ++i) {
        const unsigned __int128 count = spec->count.values[i];
        const unsigned __int128 block = spec->block.values[i];
        if (count == 0 || block == 0)
            continue;
        const unsigned __int128 end = spec->start.values[i] + (count - 1) * spec->stride.values[i] + block;
        if (end > dims[i]) {
            ZARN_PUSH_ERROR(zarn_err_minor, "wrong subset selection[%d]; selection exceeds the dataset extent",
                            which);
            refuse(problem, which,
                   "reaches beyond the dataset's extent: in dimension " + std::to_string(i) + " it ends at " +
                       std::to_string(static_cast<unsigned long long>(end)) + ", the extent is " +
                       std::to_string(static_cast<unsigned long long>(dims[i])));
            return false;
        }
    }
    return true;
}

void hyperslab_from_subset(const subset_spec *spec, int rank, hyperslab *h)
{
    for (int i = 0; i < rank; ++i) {
        h->start[i] = spec->start.values[i];
        h->stride[i] = spec->stride.values[i];
        h->count[i] = spec->count.values[i];
        h->block[i] = spec->block.values[i];
    }
}
