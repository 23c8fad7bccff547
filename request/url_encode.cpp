// URL encoding for cookie names and values and for links.
#include <stdlib.h>
#include <string.h>

#include "webadmin.h"

namespace {

bool kept(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || strchr("@./\\-_:", c);
}

}  // namespace

extern "C" {

char *qURLencode(const char *str) {
    if (!str) return nullptr;
    size_t len = strlen(str);
    if (len > (SIZE_MAX - 1) / 3) return nullptr;
    char *out = static_cast<char *>(malloc(len * 3 + 1));
    if (!out) return nullptr;
    static const char hex[] = "0123456789abcdef";
    char *p = out;
    for (const unsigned char *s = reinterpret_cast<const unsigned char *>(str); *s; ++s) {
        if (kept(*s)) {
            *p++ = static_cast<char>(*s);
        } else {
            *p++ = '%';
            *p++ = hex[*s >> 4];
            *p++ = hex[*s & 15];
        }
    }
    *p = '\0';
    return out;
}

}
