// Static result texts handed out in rotation: a text stays valid until its
// buffer comes round again.  Process-wide and unprotected, as the callers'
// contracts say.
#pragma once

#include <cstddef>

namespace runtime {

template <std::size_t Count, std::size_t Size, typename Tag>
char *next_buffer() {
    static char buffers[Count][Size];
    static std::size_t turn = 0;
    char *buffer = buffers[turn];
    turn = (turn + 1) % Count;
    return buffer;
}

}  // namespace runtime
