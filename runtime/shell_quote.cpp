#include "runtime/shell_quote.h"

#include <cctype>

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
