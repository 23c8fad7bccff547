#include "runtime/library_binding.h"

#include <dlfcn.h>

#include <cstring>

namespace runtime {

bool bind_library(void *&handle, const char *const *paths, std::size_t path_count, const LibrarySymbol *symbols,
                  std::size_t symbol_count) {
    if (handle) dlclose(handle);
    handle = nullptr;
    void *opened = nullptr;
    for (std::size_t i = 0; i < path_count && !opened; ++i) opened = dlopen(paths[i], RTLD_LAZY);
    if (!opened) return false;
    for (std::size_t i = 0; i < symbol_count; ++i) {
        void *address = dlsym(opened, symbols[i].name);
        if (!address) {
            // Nothing may point into the library once it is closed.
            for (std::size_t j = 0; j < i; ++j) std::memset(symbols[j].slot, 0, sizeof address);
            dlclose(opened);
            return false;
        }
        std::memcpy(symbols[i].slot, &address, sizeof address);
    }
    handle = opened;
    return true;
}

}  // namespace runtime
