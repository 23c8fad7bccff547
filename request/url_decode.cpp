// URL decoding of names and values taken from query strings, cookies and
// form bodies.
#include "webadmin.h"

namespace {

// Value of one hexadecimal digit as browsers send it; anything at or above
// 'A' is taken as a letter of either case, without validation.
int hex_digit(char c) { return c >= 'A' ? (c & 0xdf) - 'A' + 10 : c - '0'; }

}  // namespace

extern "C" {

char _x2c(char hi, char lo) { return static_cast<char>(hex_digit(hi) * 16 + hex_digit(lo)); }

char *qURLdecode(char *str) {
    if (!str) return nullptr;
    char *out = str;
    const char *in = str;
    while (*in) {
        if (*in == '+') {
            *out++ = ' ';
            ++in;
        } else if (*in == '%' && in[1] && in[2]) {
            *out++ = _x2c(in[1], in[2]);
            in += 3;
        } else {
            // Also a '%' without two characters after it: kept as it is.
            *out++ = *in++;
        }
    }
    *out = '\0';
    return str;
}

}  // extern "C"
