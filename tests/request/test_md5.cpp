#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/request_env.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

std::vector<unsigned char> pattern(size_t n) {
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 31 + 7);
    return v;
}

std::string hex(const unsigned char digest[16]) {
    char out[33];
    for (int i = 0; i < 16; ++i) snprintf(out + 2 * i, 3, "%02x", digest[i]);
    return out;
}

// Digest of data fed to MD5Update in pieces of the sizes next gives, each
// followed by an empty update; MD5Final must leave the context all zeros.
std::string in_pieces(const std::vector<unsigned char> &data, size_t first, size_t (*next)(size_t)) {
    md5_context ctx;
    MD5Init(&ctx);
    for (size_t off = 0, piece = first; off < data.size(); off += piece, piece = next(piece)) {
        piece = std::min(piece, data.size() - off);
        MD5Update(&ctx, data.data() + off, piece);
        MD5Update(&ctx, data.data(), 0);
    }
    unsigned char digest[16];
    MD5Final(digest, &ctx);
    const auto *bytes = reinterpret_cast<const unsigned char *>(&ctx);
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof ctx, [](unsigned char b) { return b == 0; }));
    return hex(digest);
}

TEST(Md5, Rfc1321TestSuite) {
    const std::pair<const char *, const char *> suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &[text, digest] : suite) {
        EXPECT_STREQ(qMD5Str(text), digest) << '"' << text << '"';
        EXPECT_STREQ(qMD5StrLen(text, strlen(text)), digest) << '"' << text << '"';
    }
    EXPECT_STREQ(qMD5StrLen(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
    // Bytes after a NUL count only with an explicit length.
    const char data[] = {'a', '\0', 'b', '\0'};
    EXPECT_STREQ(qMD5StrLen(data, sizeof data), "aa3a791e273bce9cf4a2a7caa9028b36");
    EXPECT_STREQ(qMD5Str("abc\0def"), "900150983cd24fb0d6963f7d28e17f72");

    // The two functions keep separate result buffers.
    char *by_len = qMD5StrLen("a", 1);
    char *by_str = qMD5Str("abc");
    EXPECT_NE(by_len, by_str);
    EXPECT_STREQ(by_len, "0cc175b9c0f1b6a831c399e269772661");
}

TEST(Md5, LengthsAroundTheBlockAndPaddingBoundaries) {
    const std::pair<size_t, const char *> cases[] = {
        {55, "c9e512626618c9980ef21a96597af94c"},  {56, "ecde7caa08e9f5657c863df107cac60a"},
        {57, "b17b1a018dd6a4d1edda8aca15f17846"},  {63, "2f0301069e1c40af7f6c8f843b1b13f2"},
        {64, "b6bf87c24b1bc334e2541387a92b981b"},  {65, "f168246f08b6134d66bd2a10343fa9f1"},
        {127, "27670172396247fa5f68637f13f8933d"}, {128, "3e85b70ffc8df5c735ecf2a8f14f1bee"},
        {129, "e45ecac9930fe93de302f98ba673ba36"}, {1000, "2b1e78d5765de9e10495a01412a1cf22"},
    };
    for (const auto &[n, digest] : cases) {
        auto data = pattern(n);
        EXPECT_STREQ(qMD5StrLen(data.data(), n), digest) << n << " bytes";
    }
}

TEST(Md5, UpdateInPiecesGivesTheSameDigest) {
    auto data = pattern(1000);
    const std::string whole = "2b1e78d5765de9e10495a01412a1cf22";
    for (size_t piece : {1, 3, 7, 55, 56, 63, 64, 65, 127, 128, 999})
        EXPECT_EQ(in_pieces(data, piece, [](size_t same) { return same; }), whole) << "pieces of " << piece;
    // Uneven pieces that straddle block edges in every way.
    EXPECT_EQ(in_pieces(data, 1, [](size_t step) { return step * 7 % 97 + 1; }), whole);
}

TEST(Md5, FileDigestStopsAtTheFirstNul) {
    testing_support::Sandbox box;
    box.write("/etc/image.bin", std::string("abc\0def", 7));
    EXPECT_STREQ(qMD5FileStr("/etc/image.bin"), "900150983cd24fb0d6963f7d28e17f72");
    box.write("/etc/empty", "");
    EXPECT_STREQ(qMD5FileStr("/etc/empty"), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(qMD5FileStr("/etc/missing"), nullptr);
}

TEST(Md5, UniqueIdFromFormValuesOrProcessIds) {
    testing_support::clear_request_env();
    qFree();
    char expected[64];
    snprintf(expected, sizeof expected, "0.0-%d:%d", static_cast<int>(getppid()), static_cast<int>(getpid()));
    std::string by_pid = qMD5Str(expected);
    EXPECT_EQ(qUniqueID(), by_pid);

    qValueAdd("REMOTE_ADDR", "%s", "10.0.0.1");
    EXPECT_EQ(qUniqueID(), by_pid) << "both values are needed";
    qValueAdd("REMOTE_PORT", "%s", "5555");
    char *id = qUniqueID();
    EXPECT_STREQ(id, "a59f3871e82c22803ba10264ce08f6b9");
    qMD5Str("other");
    EXPECT_STREQ(id, "a59f3871e82c22803ba10264ce08f6b9") << "own buffer, not qMD5Str's";
    qFree();
}

}  // namespace
