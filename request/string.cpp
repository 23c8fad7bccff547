// In-place string edits, case-insensitive comparison, address checks and
// the tokenizer that keeps empty tokens.
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <exception>
#include <string>
#include <string_view>

#include "webadmin.h"

namespace {

// ASCII only: the CGIs run in the C locale and compare protocol texts.
constexpr char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr bool is_alnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Compares like strncmp over the upper-cased texts.
int compare_upper(const char *s1, const char *s2, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        auto c1 = static_cast<unsigned char>(upper(s1[i]));
        auto c2 = static_cast<unsigned char>(upper(s2[i]));
        if (c1 != c2) return c1 - c2;
        if (c1 == '\0') return 0;
    }
    return 0;
}

std::string replaced(char kind, std::string_view src, std::string_view tokens, std::string_view word) {
    std::string out;
    if (kind == 't') {
        for (char c : src) {
            if (tokens.find(c) != std::string_view::npos) out += word;
            else out += c;
        }
    } else if (tokens.empty()) {
        // Nothing can match an empty token string: the text stays as it is.
        out = src;
    } else {
        size_t pos = 0;
        while (pos < src.size()) {
            if (src.substr(pos, tokens.size()) == tokens) {
                out += word;
                pos += tokens.size();
            } else {
                out += src[pos++];
            }
        }
    }
    return out;
}

char *strtok2_position = nullptr;

}  // namespace

extern "C" {

char *qRemoveSpace(char *str) {
    if (!str) return nullptr;
    size_t len = strlen(str);
    while (len > 0 && is_space(str[len - 1])) --len;
    size_t start = 0;
    while (start < len && is_space(str[start])) ++start;
    memmove(str, str + start, len - start);
    str[len - start] = '\0';
    return str;
}

char *qStrupr(char *str) {
    if (!str) return nullptr;
    for (char *p = str; *p; ++p) *p = upper(*p);
    return str;
}

char *qStrLower(char *str) {
    if (!str) return nullptr;
    for (char *p = str; *p; ++p) *p = lower(*p);
    return str;
}

int qStrIsAlnum(const char *str) {
    if (!str) return 0;
    for (const char *p = str; *p; ++p)
        if (!is_alnum(*p)) return 0;
    return 1;
}

int qStrincmp(const char *s1, const char *s2, size_t len) {
    if (!s1 || !s2) return 0;
    return compare_upper(s1, s2, len);
}

int qStrCaseCmp(const char *s1, const char *s2) {
    if (!s1 || !s2) return 0;
    return compare_upper(s1, s2, SIZE_MAX);
}

char *qStrCaseStr(const char *s1, const char *s2) {
    if (!s1 || !s2) return nullptr;
    size_t n = strlen(s2);
    for (const char *p = s1;; ++p) {
        if (compare_upper(p, s2, n) == 0) return const_cast<char *>(p);
        if (*p == '\0') return nullptr;
    }
}

char *qStrReplace(const char *mode, char *srcstr, const char *tokstr, const char *word) {
    if (!mode || strlen(mode) != 2 || (mode[0] != 's' && mode[0] != 't') || (mode[1] != 'n' && mode[1] != 'r'))
        qError("qStrReplace(): Unknown mode \"%s\".", mode ? mode : "");
    if (!srcstr) return nullptr;

    std::string result;
    try {
        result = replaced(mode[0], srcstr, tokstr ? tokstr : "", word ? word : "");
    } catch (const std::exception &) {
        // Out of memory: no new string, and the text in place stays as it was.
        return mode[1] == 'n' ? nullptr : srcstr;
    }
    if (mode[1] == 'r') {
        memcpy(srcstr, result.c_str(), result.size() + 1);
        return srcstr;
    }
    char *copy = static_cast<char *>(malloc(result.size() + 1));
    if (copy) memcpy(copy, result.c_str(), result.size() + 1);
    return copy;
}

int qCheckEmail(const char *email) {
    if (!email || !*email) return 0;
    int ordinary = 0, dots = 0;
    bool at = false;
    char prev = '\0';
    for (const char *p = email; *p; prev = *p++) {
        if (*p == '.') {
            if (prev == '@' || (at && prev == '.')) return 0;
            ++dots;
        } else if (*p == '@') {
            if (at || ordinary == 0) return 0;
            at = true;
        } else if (is_alnum(*p) || *p == '-' || *p == '_') {
            ++ordinary;
        } else {
            return 0;
        }
    }
    return ordinary > 3 && at && dots > 0;
}

int qCheckURL(const char *url) {
    if (!url) return 0;
    for (const char *scheme : {"http://", "ftp://", "telnet://", "mailto:", "news:"})
        if (strncmp(url, scheme, strlen(scheme)) == 0) return 1;
    return 0;
}

char *_strtok2(char *str, const char *token, char *retstop) {
    if (str) strtok2_position = str;
    char stop = '\0';
    char *result = nullptr;
    if (strtok2_position) {
        char *p = strtok2_position;
        while (*p && !(token && strchr(token, *p))) ++p;
        if (*p) {
            stop = *p;
            *p = '\0';
            result = strtok2_position;
            strtok2_position = p + 1;
        } else {
            result = (p == strtok2_position) ? nullptr : strtok2_position;
            strtok2_position = p;
        }
    }
    if (retstop) *retstop = stop;
    return result;
}

char *qStrCommaNumber(int number) {
    static char buf[16];
    // The magnitude as unsigned, so that INT_MIN has one too.
    unsigned int magnitude = number < 0 ? 0u - static_cast<unsigned int>(number) : static_cast<unsigned int>(number);
    char digits[16];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    char *out = buf;
    if (number < 0) *out++ = '-';
    for (int i = n - 1; i >= 0; --i) {
        *out++ = digits[i];
        if (i > 0 && i % 3 == 0) *out++ = ',';
    }
    *out = '\0';
    return buf;
}

}
