// Texts from requests and files placed into a page.
#include <string.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "webadmin.h"

extern "C" char *my_htmlescape(const char *text) {
    const size_t length = text ? std::strlen(text) : 0;
    // At most six bytes ("&quot;") for each byte of the text.
    if (!text || length > (SIZE_MAX - 1) / 6) return nullptr;
    char *out = static_cast<char *>(std::malloc(length * 6 + 1));
    if (!out) return nullptr;
    char *at = out;
    for (const char *c = text; *c; ++c) {
        const char *entity = nullptr;
        switch (*c) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '"': entity = "&quot;"; break;
        case '\'': entity = "&#39;"; break;
        default: *at++ = *c; continue;
        }
        at = stpcpy(at, entity);
    }
    *at = '\0';
    return out;
}
