// Small text operations: splitting in place, replacing, counting and the
// backslash escaping of values written into SQL statements.
#include <stdlib.h>
#include <string.h>

#include <string_view>

#include "webadmin.h"

namespace {

// The bytes a MySQL string literal must not hold unescaped.
constexpr char kSqlSpecials[] = {'\0', '\n', '\t', '\r', '\b', '\'', '\\', '"', '\x1a'};

char *heap_copy(std::string_view text) {
    char *copy = static_cast<char *>(malloc(text.size() + 1));
    if (!copy) return nullptr;
    memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

}  // namespace

extern "C" int string_tokenize(char **tokens, int max, char *text, const char *separator) {
    if (!tokens || max <= 0) return 0;
    for (int i = 0; i < max; ++i) tokens[i] = nullptr;
    if (!text || !separator || !*separator) return 0;
    size_t skip = strlen(separator);
    int count = 0;
    for (;;) {
        tokens[count++] = text;
        if (count == max) break;
        char *found = strstr(text, separator);
        if (!found) break;
        *found = '\0';
        text = found + skip;
    }
    return count;
}

extern "C" char *my_replaceStr(const char *text, const char *from, const char *to) {
    if (!text) return nullptr;
    std::string_view source(text);
    if (!from || !*from) return heap_copy(source);
    std::string_view needle(from), replacement(to ? to : "");
    size_t matches = 0;
    for (size_t at = source.find(needle); at != std::string_view::npos; at = source.find(needle, at + needle.size()))
        ++matches;
    size_t size = source.size() - matches * needle.size();
    if (replacement.size() && matches > (static_cast<size_t>(-1) - 1 - size) / replacement.size()) return nullptr;
    char *out = static_cast<char *>(malloc(size + matches * replacement.size() + 1));
    if (!out) return nullptr;
    size_t n = 0;
    auto put = [&](std::string_view piece) {
        memcpy(out + n, piece.data(), piece.size());
        n += piece.size();
    };
    for (size_t found; (found = source.find(needle)) != std::string_view::npos;) {
        put(source.substr(0, found));
        put(replacement);
        source.remove_prefix(found + needle.size());
    }
    put(source);
    out[n] = '\0';
    return out;
}

extern "C" char *my_MreplaceStr(const char *text, const char *const pairs[][2]) {
    if (!text) return nullptr;
    char *current = heap_copy(text);
    for (int i = 0; current && pairs && pairs[i][0]; ++i) {
        char *next = my_replaceStr(current, pairs[i][0], pairs[i][1]);
        free(current);
        current = next;
    }
    return current;
}

extern "C" int my_calc_strchr(const char *text, char c) {
    if (!text || c == '\0') return 0;
    int count = 0;
    for (; *text; ++text)
        if (*text == c) ++count;
    return count;
}

extern "C" char *my_strescape(const char *src, size_t len, const char *set, size_t setlen) {
    if (!src || !len || !set || !setlen) return nullptr;
    if (len > (static_cast<size_t>(-1) - 1) / 2) return nullptr;
    char *out = static_cast<char *>(malloc(2 * len + 1));
    if (!out) return nullptr;
    size_t n = 0;
    for (size_t i = 0; i < len; ++i) {
        char c = src[i];
        if (memchr(set, c, setlen)) {
            out[n++] = '\\';
            if (c == '\x1a') c = 'Z';
        }
        out[n++] = c;
    }
    out[n] = '\0';
    return out;
}

extern "C" char *my_sqlescape(const char *src, size_t len) {
    return my_strescape(src, len, kSqlSpecials, sizeof kSqlSpecials);
}
