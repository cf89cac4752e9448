// Fuzzes tessel's value parsers one at a time: the size text, the API list
// and the debug list. The first byte chooses the parser.
#include "fuzz_common.hpp"
#include "tessel_options.hpp"

#include <string>

FUZZ_DEFINE_EXIT_HOOK()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    fuzz::text value(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0: {
        long long bytes = 0;
        std::string why;
        if (parse_size_text(value.s, &bytes, &why) < 0) {
            // A refusal names the illegal character (one of the text's own,
            // or its end) or the range.
            const std::string head = "Illegal size specifier '";
            if (why.rfind(head, 0) == 0) {
                const char bad = why[head.size()];
                if (bad != '\0' && std::strchr(value.s, bad) == nullptr)
                    __builtin_trap();
            } else if (why.find("out of range") == std::string::npos) {
                __builtin_trap();
            }
        }
        break;
    }
    case 1: {
        uint64_t api = 0;
        std::string bad;
        int rc = parse_api_list(value.s, &api, &bad);
        if (api & ~uint64_t{7})
            __builtin_trap();
        if (rc < 0 && bad.size() > 10)
            __builtin_trap();
        break;
    }
    default: {
        bench_options o = bench_default_options(2);
        std::string bad;
        int rc = parse_debug_list(value.s, &o, &bad);
        if (o.debug_level < 0 || o.debug_level > 4 || (rc < 0 && bad.size() > 10))
            __builtin_trap();
        break;
    }
    }
    return 0;
}
