// Client libraries loaded at run time, so that a CGI that never uses one
// does not need it: bound all together or not at all, and tried again on
// the next use when that failed.
#pragma once

#include <cstddef>

namespace runtime {

struct LibrarySymbol {
    const char *name;
    void *slot;  // a function pointer of the right type, filled on success
};

// Opens the first of paths that loads (lazy binding) and looks the symbols
// up in their order into their slots.  A previous handle is closed first;
// on any failure the new one is closed too, handle stays null and the slots
// filled so far are null again.
bool bind_library(void *&handle, const char *const *paths, std::size_t path_count, const LibrarySymbol *symbols,
                  std::size_t symbol_count);

// Looks the symbols up in a library bound with bind_library, all or none:
// whether all were found.  On failure every slot is null.
bool bind_optional(void *handle, const LibrarySymbol *symbols, std::size_t symbol_count);

}  // namespace runtime
