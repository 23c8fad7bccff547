#include "runtime/library_binding.h"

#include <dlfcn.h>

#include <cstring>

namespace runtime {

namespace {

// The symbols' addresses into their slots; on the first missing one every
// slot is null again and the result false.
bool look_up(void *library, const LibrarySymbol *symbols, std::size_t symbol_count) {
    for (std::size_t i = 0; i < symbol_count; ++i) {
        void *address = dlsym(library, symbols[i].name);
        if (!address) {
            for (std::size_t j = 0; j < symbol_count; ++j) std::memset(symbols[j].slot, 0, sizeof address);
            return false;
        }
        std::memcpy(symbols[i].slot, &address, sizeof address);
    }
    return true;
}

}  // namespace

bool bind_library(void *&handle, const char *const *paths, std::size_t path_count, const LibrarySymbol *symbols,
                  std::size_t symbol_count) {
    if (handle) dlclose(handle);
    handle = nullptr;
    void *opened = nullptr;
    for (std::size_t i = 0; i < path_count && !opened; ++i) opened = dlopen(paths[i], RTLD_LAZY);
    if (!opened) return false;
    if (!look_up(opened, symbols, symbol_count)) {
        // Nothing may point into the library once it is closed.
        dlclose(opened);
        return false;
    }
    handle = opened;
    return true;
}

bool bind_optional(void *handle, const LibrarySymbol *symbols, std::size_t symbol_count) {
    return handle && look_up(handle, symbols, symbol_count);
}

}  // namespace runtime
