// The line tokenizer under every text format of the library: definitions
// files, column table files, language files and configuration records.
#include "runtime/string_parse.h"

#include <climits>
#include <cstring>

#include "webadmin.h"

namespace runtime {

bool read_line(std::FILE *stream, char *buf, std::size_t size) {
    if (!stream || !buf || size < 2) return false;
    int capacity = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    if (!std::fgets(buf, capacity, stream)) return false;
    std::size_t length = std::strlen(buf);
    if (length + 1 == static_cast<std::size_t>(capacity) && buf[length - 1] != '\n') {
        int c;
        while ((c = std::fgetc(stream)) != EOF && c != '\n') {
        }
    }
    return true;
}

}  // namespace runtime

namespace {

bool ends_unquoted(char c) { return c == '\0' || c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

// A double quote inside an unquoted token is an ordinary character of it.
extern "C" int string_parse(char **tokens, int max, char *line) {
    if (!tokens || max <= 0) return 0;
    for (int i = 0; i < max; ++i) tokens[i] = nullptr;
    if (!line) return 0;

    int count = 0;
    char *p = line;
    while (count < max) {
        while (*p == ' ' || *p == '\t') ++p;
        if (*p == '\0' || *p == '\n' || *p == '\r') break;
        if (*p == '"') {
            char *start = ++p;
            char *out = start;
            while (*p != '"') {
                if (*p == '\\') ++p;
                if (*p == '\0') return -1;
                *out++ = *p++;
            }
            *p++ = '\0';
            *out = '\0';
            tokens[count++] = start;
        } else {
            tokens[count++] = p;
            while (!ends_unquoted(*p)) ++p;
            if (*p) *p++ = '\0';
        }
    }
    return count;
}
