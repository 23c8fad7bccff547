// Base64 of the RFC 4648 alphabet, with '=' padding.
#include <string.h>

#include <array>

#include "webadmin.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr signed char kNotBase64 = -1;

constexpr std::array<signed char, 256> make_values() {
    std::array<signed char, 256> values{};
    for (auto &v : values) v = kNotBase64;
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    return values;
}
constexpr std::array<signed char, 256> kValues = make_values();
static_assert(kValues['A'] == 0 && kValues['/'] == 63 && kValues['='] == kNotBase64);

bool ends_text(char c) { return c == '\0' || c == '\r' || c == '\n'; }

}  // namespace

extern "C" void to64frombits(unsigned char *out, const unsigned char *in, int len) {
    if (!out) return;
    for (; in && len >= 3; len -= 3, in += 3) {
        *out++ = kAlphabet[in[0] >> 2];
        *out++ = kAlphabet[((in[0] << 4) & 0x30) | (in[1] >> 4)];
        *out++ = kAlphabet[((in[1] << 2) & 0x3c) | (in[2] >> 6)];
        *out++ = kAlphabet[in[2] & 0x3f];
    }
    if (in && len > 0) {
        unsigned char second = len > 1 ? in[1] : 0;
        *out++ = kAlphabet[in[0] >> 2];
        *out++ = kAlphabet[((in[0] << 4) & 0x30) | (second >> 4)];
        *out++ = len > 1 ? kAlphabet[(second << 2) & 0x3c] : '=';
        *out++ = '=';
    }
    *out = '\0';
}

// Decoding stops at the end of the text, a line end, or a padded group.
// A last group of two or three characters counts as padded; a single one
// holds no whole byte and is refused.
extern "C" int base64_decode_text(unsigned char *out, const char *in) {
    if (!out || !in) return -1;
    if (in[0] == '+' && in[1] == ' ') in += 2;
    int written = 0;
    for (;;) {
        int digits[4] = {};
        int count = 0;
        for (; count < 4 && !ends_text(in[count]) && in[count] != '='; ++count) {
            digits[count] = kValues[static_cast<unsigned char>(in[count])];
            if (digits[count] == kNotBase64) return -1;
        }
        bool padded = count < 4;
        if (padded && in[count] == '=') {
            // '=' may only fill the third and fourth place: "xy==" or "xyz=".
            if (count < 2 || (count == 2 && in[3] != '=')) return -1;
        }
        if (count == 1) return -1;
        if (count >= 2) out[written++] = static_cast<unsigned char>((digits[0] << 2) | (digits[1] >> 4));
        if (count >= 3) out[written++] = static_cast<unsigned char>((digits[1] << 4) | (digits[2] >> 2));
        if (count == 4) out[written++] = static_cast<unsigned char>((digits[2] << 6) | digits[3]);
        if (padded) break;
        in += 4;
    }
    out[written] = '\0';
    return written;
}
