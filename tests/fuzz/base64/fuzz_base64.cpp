// base64_decode_text over any text, into exactly the room its contract
// asks for; and the round trip of the input's bytes through to64frombits.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "webadmin.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    std::size_t room = 3 * (std::strlen(text.c_str()) / 4) + 3;
    std::vector<unsigned char> out(room);
    int n = base64_decode_text(out.data(), text.c_str());
    fuzz::require(n >= -1 && (n < 0 || static_cast<std::size_t>(n) < room), "decoded more than the room");
    if (n >= 0) fuzz::require(out[static_cast<std::size_t>(n)] == '\0', "decoded bytes not terminated");

    std::vector<unsigned char> encoded(4 * ((size + 2) / 3) + 1);
    to64frombits(encoded.data(), data, static_cast<int>(size));
    const char *code = reinterpret_cast<const char *>(encoded.data());
    fuzz::require(std::strlen(code) == encoded.size() - 1, "encoding of the wrong length");
    std::vector<unsigned char> decoded(3 * (encoded.size() - 1) / 4 + 3);
    int back = base64_decode_text(decoded.data(), code);
    fuzz::require(back == static_cast<int>(size) && std::memcmp(decoded.data(), data, size) == 0,
                  "round trip changed the bytes");
    return 0;
}
