#include "support/stops.h"

#include <cstring>

namespace testing_support {

std::string stop_message(const std::string &message) {
    std::string pattern = "Error: ";
    for (char c : message) {
        if (std::strchr("\\^$.|?*+()[]{}", c)) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace testing_support
