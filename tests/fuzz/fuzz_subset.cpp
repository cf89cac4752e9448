// Fuzzes the subset suffix of object names and the number lists inside it.
#include "fuzz_common.hpp"
#include "zarn.hpp"
#include "zarn_options.hpp"
#include "zarn_utils.hpp"

#include <cstring>

FUZZ_DEFINE_EXIT_HOOK()

namespace {

void check_list(const hsize_list &l)
{
    if ((l.values == nullptr) != (l.count == 0))
        __builtin_trap();
    // Every value is read: a count larger than the array would be caught
    // by the address sanitizer here.
    volatile hsize_t sum = 0;
    for (hsize_t i = 0; i < l.count; ++i)
        sum = sum + l.values[i];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zarn_init();
    rawerrorstream = std::fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        fuzz::text path(data, size);
        const size_t before = std::strlen(path.s);
        const char *last_bracket = std::strrchr(path.s, '[');
        const size_t cut = last_bracket ? static_cast<size_t>(last_bracket - path.s) : before;
        subset_spec *spec = parse_subset_spec(path.s);
        if ((spec != nullptr) != (last_bracket != nullptr))
            __builtin_trap();
        if (std::strlen(path.s) != cut)
            __builtin_trap();
        if (spec) {
            check_list(spec->start);
            check_list(spec->stride);
            check_list(spec->count);
            check_list(spec->block);
        }
        subset_spec_free(spec);
    }
    {
        fuzz::text list_text(data, size);
        hsize_list list;
        parse_hsize_list(list_text.s, &list);
        check_list(list);
        hsize_list_free(&list);
    }
    return 0;
}
