// The menu position of a page: repeated "click_v" form values in a request,
// the numbers joined by '_' in the logs (3_12_5).
#include <stdlib.h>
#include <string.h>

#include <string_view>

#include "webadmin.h"

namespace {

constexpr size_t kEncodedSize = 1024;
constexpr size_t kDecodedSize = 50;
constexpr char kLevelName[] = "click_v";

// Appends to a static result; the caller has checked that it fits.
void append(char *result, size_t &used, std::string_view piece) {
    memcpy(result + used, piece.data(), piece.size());
    used += piece.size();
}

}  // namespace

// A value that would not fit whole ends the text at the level before it.
extern "C" char *encodeMenuLV(const char *query) {
    static char result[kEncodedSize];
    memset(result, 0, sizeof result);
    if (!query) return result;
    // The pairs of a query string are joined by '&'; the text list decoder
    // reads one pair per line.
    char *lines = strdup(query);
    if (!lines) return result;
    for (char *c = lines; *c; ++c)
        if (*c == '&') *c = '\n';
    q_entry *pairs = qsDecoder(lines);
    free(lines);
    size_t used = 0;
    for (const char *value = qsValueFirst(pairs, "%s", kLevelName); value; value = qsValueNext()) {
        std::string_view level(value);
        size_t separator = used ? 1 : 0;
        if (used + separator + level.size() >= sizeof result) break;
        if (separator) append(result, used, "_");
        append(result, used, level);
    }
    qsFree(pairs);
    return result;
}

// Levels that would not fit whole are left out: the text then names the
// deepest menu above the page that fits, never a cut number.
extern "C" char *decodeMenuLV(const char *path) {
    static char result[kDecodedSize];
    if (!path) return nullptr;
    memset(result, 0, sizeof result);
    std::string_view rest(path);
    size_t used = 0;
    for (;;) {
        size_t end = rest.find('_');
        std::string_view level = rest.substr(0, end);
        // "click_v=" is as long as kLevelName with its NUL; then the level and a newline.
        if (used + sizeof kLevelName + level.size() + 1 >= sizeof result) break;
        append(result, used, kLevelName);
        append(result, used, "=");
        append(result, used, level);
        append(result, used, "\n");
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return result;
}
