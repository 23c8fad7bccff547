#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "webadmin.h"

namespace {

std::string encoded(const char *text) {
    char *out = qURLencode(text);
    std::string result = out ? out : "<null>";
    free(out);
    return result;
}

TEST(UrlEncode, KeepsSafeCharactersEscapesTheRestAndDecodesBack) {
    EXPECT_EQ(encoded("a b&c"), "a%20b%26c");
    EXPECT_EQ(encoded("/path/file.bin"), "/path/file.bin");
    EXPECT_EQ(encoded("user@host.tw:80-x_y\\z"), "user@host.tw:80-x_y\\z");
    EXPECT_EQ(encoded("AZaz09"), "AZaz09");
    EXPECT_EQ(encoded("=;+%?#\"'~"), "%3d%3b%2b%25%3f%23%22%27%7e");
    EXPECT_EQ(encoded("\x01\x7f\x80\xff"), "%01%7f%80%ff");
    EXPECT_EQ(encoded("\r\n"), "%0d%0a");
    EXPECT_EQ(encoded(""), "");
    EXPECT_EQ(encoded(nullptr), "<null>");

    // Every byte value decodes back to itself.
    std::string all;
    for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
    char *out = qURLencode(all.c_str());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(strlen(out), 255u + 2u * (255u - 69u));  // 69 characters are kept as they are
    EXPECT_EQ(std::string(qURLdecode(out)), all);
    free(out);
}

}  // namespace
