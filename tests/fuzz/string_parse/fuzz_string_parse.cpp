// The line tokenizer under every text format of the library.
// Input: the first byte chooses the number of token slots (1 to 32), the
// rest is the line.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "webadmin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    int max = data[0] % 32 + 1;
    std::vector<char> line(data + 1, data + size);
    line.push_back('\0');
    const char *begin = line.data();
    const char *end = begin + line.size();

    std::vector<char *> tokens(static_cast<std::size_t>(max));
    int n = string_parse(tokens.data(), max, line.data());
    fuzz::require(n >= -1 && n <= max, "count outside -1 to max");
    for (int i = 0; i < max; ++i) {
        char *t = tokens[static_cast<std::size_t>(i)];
        if (i >= n) continue;
        fuzz::require(t && t >= begin && t < end, "token outside the line");
        fuzz::require(std::memchr(t, '\0', static_cast<std::size_t>(end - t)) != nullptr, "token not terminated");
    }
    // Tokens past the count stay null, except after an unclosed quote.
    if (n >= 0)
        for (int i = n; i < max; ++i) fuzz::require(tokens[static_cast<std::size_t>(i)] == nullptr, "slot past the count set");
    return 0;
}
