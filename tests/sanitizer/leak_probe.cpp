// Leaks on purpose, for the test of the sanitizer build's leak reports.
//   leak_probe MODULE: loads MODULE, calls its leaking function, unloads it.
//   leak_probe own:    leaks from this program's own code.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void *kept;

// Not inlined, so its name is a frame of the leak report.
[[gnu::noinline]] void leak_from_own_code()
{
    kept = std::malloc(333);
    std::memset(kept, 1, 333);
    kept = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: leak_probe MODULE|own\n");
        return 2;
    }
    if (std::strcmp(argv[1], "own") == 0) {
        leak_from_own_code();
        return 0;
    }
    void *module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "leak_probe: %s\n", dlerror());
        return 2;
    }
    auto leak = reinterpret_cast<void (*)()>(dlsym(module, "leaky_module_allocate"));
    if (leak == nullptr) {
        std::fprintf(stderr, "leak_probe: %s\n", dlerror());
        return 2;
    }
    leak();
    dlclose(module);
    return 0;
}
