#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "upgrade/image_format.h"

namespace image {

int walk_sections(const unsigned char *body, size_t length, const SectionVisitor &visit) {
    int count = -1;
    if (length < kSectionHeaderSize) return count;
    size_t remaining = length - kSectionHeaderSize;
    const unsigned char *header = body;
    for (;;) {
        // The header is text only up to its first NUL: copy it terminated.
        char text[kSectionHeaderSize + 1];
        std::memcpy(text, header, kSectionHeaderSize);
        text[kSectionHeaderSize] = '\0';
        unsigned long size = 0;
        char token[kSectionHeaderSize] = "";
        if (std::sscanf(text, "%lu %63s", &size, token) != 2 || size > remaining) break;
        const char *dot = std::strchr(token, '.');
        if (!dot) break;
        int number = std::atoi(token);
        if (number < 0) break;
        visit(number, header + kSectionHeaderSize, static_cast<uint32_t>(size));
        ++count;
        remaining -= size;
        if (remaining < kSectionHeaderSize) break;
        remaining -= kSectionHeaderSize;
        header += kSectionHeaderSize + size;
    }
    return count;
}

}  // namespace image
