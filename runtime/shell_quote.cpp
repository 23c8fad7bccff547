#include "runtime/shell_quote.h"

#include <string.h>

#include <cctype>
#include <new>

#include "webadmin.h"

namespace runtime {

std::string shell_word(std::string_view value) {
    bool plain = !value.empty() && value.front() != '-';
    for (unsigned char c : value)
        if (!std::isalnum(c) && c != '.' && c != ':' && c != '_' && c != '-' && c != '/') plain = false;
    if (plain) return std::string(value);
    std::string quoted = "'";
    for (char c : value) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

}  // namespace runtime

extern "C" char *my_shellword(const char *value) {
    if (!value) return nullptr;
    try {
        return strdup(runtime::shell_word(value).c_str());
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
