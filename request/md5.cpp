// The MD5 message digest (RFC 1321) and the hexadecimal identifiers made
// from it.  Firmware images are checked with it, so it runs over whole
// uploads: blocks are taken straight from the caller's buffer.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "webadmin.h"

namespace {

constexpr size_t kBlock = 64;

inline uint32_t load_le32(const unsigned char *p) {
    uint32_t v;
    memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

inline void store_le32(unsigned char *p, uint32_t v) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    memcpy(p, &v, 4);
}

inline uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

// One step per round function.  The message word and constant are added
// first, off the chain of dependent operations; G is written as a sum of
// its two disjoint halves for the same reason.
#define MD5_F(a, b, c, d, x, t, s) \
    a += (x) + (t);                \
    a += ((c ^ d) & b) ^ d;        \
    a = rotl(a, s) + b;
#define MD5_G(a, b, c, d, x, t, s) \
    a += (x) + (t);                \
    a += (~d & c);                 \
    a += (d & b);                  \
    a = rotl(a, s) + b;
#define MD5_H(a, b, c, d, x, t, s) \
    a += (x) + (t);                \
    a += b ^ c ^ d;                \
    a = rotl(a, s) + b;
#define MD5_I(a, b, c, d, x, t, s) \
    a += (x) + (t);                \
    a += c ^ (b | ~d);             \
    a = rotl(a, s) + b;

// Digests count whole 64-byte blocks starting at data.
void transform(uint32_t state[4], const unsigned char *data, size_t count) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; count > 0; --count, data += kBlock) {
        const uint32_t x0 = load_le32(data), x1 = load_le32(data + 4), x2 = load_le32(data + 8),
                       x3 = load_le32(data + 12), x4 = load_le32(data + 16), x5 = load_le32(data + 20),
                       x6 = load_le32(data + 24), x7 = load_le32(data + 28), x8 = load_le32(data + 32),
                       x9 = load_le32(data + 36), x10 = load_le32(data + 40), x11 = load_le32(data + 44),
                       x12 = load_le32(data + 48), x13 = load_le32(data + 52), x14 = load_le32(data + 56),
                       x15 = load_le32(data + 60);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_F(a, b, c, d, x0, 0xd76aa478, 7)
        MD5_F(d, a, b, c, x1, 0xe8c7b756, 12)
        MD5_F(c, d, a, b, x2, 0x242070db, 17)
        MD5_F(b, c, d, a, x3, 0xc1bdceee, 22)
        MD5_F(a, b, c, d, x4, 0xf57c0faf, 7)
        MD5_F(d, a, b, c, x5, 0x4787c62a, 12)
        MD5_F(c, d, a, b, x6, 0xa8304613, 17)
        MD5_F(b, c, d, a, x7, 0xfd469501, 22)
        MD5_F(a, b, c, d, x8, 0x698098d8, 7)
        MD5_F(d, a, b, c, x9, 0x8b44f7af, 12)
        MD5_F(c, d, a, b, x10, 0xffff5bb1, 17)
        MD5_F(b, c, d, a, x11, 0x895cd7be, 22)
        MD5_F(a, b, c, d, x12, 0x6b901122, 7)
        MD5_F(d, a, b, c, x13, 0xfd987193, 12)
        MD5_F(c, d, a, b, x14, 0xa679438e, 17)
        MD5_F(b, c, d, a, x15, 0x49b40821, 22)

        MD5_G(a, b, c, d, x1, 0xf61e2562, 5)
        MD5_G(d, a, b, c, x6, 0xc040b340, 9)
        MD5_G(c, d, a, b, x11, 0x265e5a51, 14)
        MD5_G(b, c, d, a, x0, 0xe9b6c7aa, 20)
        MD5_G(a, b, c, d, x5, 0xd62f105d, 5)
        MD5_G(d, a, b, c, x10, 0x02441453, 9)
        MD5_G(c, d, a, b, x15, 0xd8a1e681, 14)
        MD5_G(b, c, d, a, x4, 0xe7d3fbc8, 20)
        MD5_G(a, b, c, d, x9, 0x21e1cde6, 5)
        MD5_G(d, a, b, c, x14, 0xc33707d6, 9)
        MD5_G(c, d, a, b, x3, 0xf4d50d87, 14)
        MD5_G(b, c, d, a, x8, 0x455a14ed, 20)
        MD5_G(a, b, c, d, x13, 0xa9e3e905, 5)
        MD5_G(d, a, b, c, x2, 0xfcefa3f8, 9)
        MD5_G(c, d, a, b, x7, 0x676f02d9, 14)
        MD5_G(b, c, d, a, x12, 0x8d2a4c8a, 20)

        MD5_H(a, b, c, d, x5, 0xfffa3942, 4)
        MD5_H(d, a, b, c, x8, 0x8771f681, 11)
        MD5_H(c, d, a, b, x11, 0x6d9d6122, 16)
        MD5_H(b, c, d, a, x14, 0xfde5380c, 23)
        MD5_H(a, b, c, d, x1, 0xa4beea44, 4)
        MD5_H(d, a, b, c, x4, 0x4bdecfa9, 11)
        MD5_H(c, d, a, b, x7, 0xf6bb4b60, 16)
        MD5_H(b, c, d, a, x10, 0xbebfbc70, 23)
        MD5_H(a, b, c, d, x13, 0x289b7ec6, 4)
        MD5_H(d, a, b, c, x0, 0xeaa127fa, 11)
        MD5_H(c, d, a, b, x3, 0xd4ef3085, 16)
        MD5_H(b, c, d, a, x6, 0x04881d05, 23)
        MD5_H(a, b, c, d, x9, 0xd9d4d039, 4)
        MD5_H(d, a, b, c, x12, 0xe6db99e5, 11)
        MD5_H(c, d, a, b, x15, 0x1fa27cf8, 16)
        MD5_H(b, c, d, a, x2, 0xc4ac5665, 23)

        MD5_I(a, b, c, d, x0, 0xf4292244, 6)
        MD5_I(d, a, b, c, x7, 0x432aff97, 10)
        MD5_I(c, d, a, b, x14, 0xab9423a7, 15)
        MD5_I(b, c, d, a, x5, 0xfc93a039, 21)
        MD5_I(a, b, c, d, x12, 0x655b59c3, 6)
        MD5_I(d, a, b, c, x3, 0x8f0ccc92, 10)
        MD5_I(c, d, a, b, x10, 0xffeff47d, 15)
        MD5_I(b, c, d, a, x1, 0x85845dd1, 21)
        MD5_I(a, b, c, d, x8, 0x6fa87e4f, 6)
        MD5_I(d, a, b, c, x15, 0xfe2ce6e0, 10)
        MD5_I(c, d, a, b, x6, 0xa3014314, 15)
        MD5_I(b, c, d, a, x13, 0x4e0811a1, 21)
        MD5_I(a, b, c, d, x4, 0xf7537e82, 6)
        MD5_I(d, a, b, c, x11, 0xbd3af235, 10)
        MD5_I(c, d, a, b, x2, 0x2ad7d2bb, 15)
        MD5_I(b, c, d, a, x9, 0xeb86d391, 21)

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

void to_hex(char out[33], const unsigned char digest[16]) {
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 15];
    }
    out[32] = '\0';
}

void digest_hex(char out[33], const void *data, size_t len) {
    md5_context ctx;
    unsigned char digest[16];
    MD5Init(&ctx);
    MD5Update(&ctx, data, len);
    MD5Final(digest, &ctx);
    to_hex(out, digest);
}

}  // namespace

extern "C" {

void MD5Init(md5_context *ctx) {
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
    ctx->count[0] = ctx->count[1] = 0;
}

void MD5Update(md5_context *ctx, const void *input, size_t len) {
    if (!input || len == 0) return;
    const auto *in = static_cast<const unsigned char *>(input);
    size_t held = (ctx->count[0] >> 3) & (kBlock - 1);

    // The 64-bit bit count, kept as two words, wraps as RFC 1321 does.
    uint64_t bits = (static_cast<uint64_t>(ctx->count[1]) << 32) | ctx->count[0];
    bits += static_cast<uint64_t>(len) << 3;
    ctx->count[0] = static_cast<uint32_t>(bits);
    ctx->count[1] = static_cast<uint32_t>(bits >> 32);

    if (held) {
        size_t room = kBlock - held;
        if (len < room) {
            memcpy(ctx->buffer + held, in, len);
            return;
        }
        memcpy(ctx->buffer + held, in, room);
        transform(ctx->state, ctx->buffer, 1);
        in += room;
        len -= room;
    }
    size_t blocks = len / kBlock;
    transform(ctx->state, in, blocks);
    in += blocks * kBlock;
    len -= blocks * kBlock;
    if (len) memcpy(ctx->buffer, in, len);
}

void MD5Pad(md5_context *ctx) {
    static const unsigned char padding[kBlock] = {0x80};
    unsigned char bits[8];
    store_le32(bits, ctx->count[0]);
    store_le32(bits + 4, ctx->count[1]);
    size_t held = (ctx->count[0] >> 3) & (kBlock - 1);
    size_t pad = held < 56 ? 56 - held : 120 - held;
    MD5Update(ctx, padding, pad);
    MD5Update(ctx, bits, sizeof bits);
}

void MD5Final(unsigned char digest[16], md5_context *ctx) {
    MD5Pad(ctx);
    for (int i = 0; i < 4; ++i) store_le32(digest + 4 * i, ctx->state[i]);
    memset(ctx, 0, sizeof *ctx);
}

char *qMD5StrLen(const void *data, size_t len) {
    static char hex[33];
    digest_hex(hex, data, data ? len : 0);
    return hex;
}

char *qMD5Str(const char *str) {
    static char hex[33];
    digest_hex(hex, str, str ? strlen(str) : 0);
    return hex;
}

char *qMD5FileStr(const char *filename) {
    char *content = qReadFile(filename, nullptr);
    if (!content) return nullptr;
    char *hex = qMD5Str(content);
    free(content);
    return hex;
}

char *qUniqueID(void) {
    static char id[33];
    char seed[1024];
    const char *addr = qValue("REMOTE_ADDR");
    const char *port = qValue("REMOTE_PORT");
    if (addr && port) snprintf(seed, sizeof seed, "%ld.%ld-%s:%s", 0L, 0L, addr, port);
    else snprintf(seed, sizeof seed, "%ld.%ld-%d:%d", 0L, 0L, static_cast<int>(getppid()), static_cast<int>(getpid()));
    memcpy(id, qMD5Str(seed), sizeof id);
    return id;
}

}
