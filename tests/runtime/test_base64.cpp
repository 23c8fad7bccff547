#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "webadmin.h"

namespace {

std::string encode(const std::string &bytes) {
    std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1, 0xEE);
    to64frombits(out.data(), reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
    EXPECT_EQ(out.back(), '\0');
    return reinterpret_cast<char *>(out.data());
}

// Decodes into a buffer of exactly the documented size, followed by guard bytes.
int decode(const std::string &text, std::string *bytes = nullptr) {
    size_t room = 3 * (text.size() / 4) + 3;
    std::vector<unsigned char> out(room + 8, 0xEE);
    int n = base64_decode_text(out.data(), text.c_str());
    for (size_t i = room; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "written past the bound";
    if (n >= 0) {
        EXPECT_EQ(out[static_cast<size_t>(n)], '\0');
        if (bytes) bytes->assign(reinterpret_cast<char *>(out.data()), static_cast<size_t>(n));
    }
    return n;
}

}  // namespace

TEST(Base64, EncodesWithPadding) {
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(encode(std::string("\xff\xfe\x00", 3)), "//4A");
    unsigned char out[8] = {0xEE};
    to64frombits(out, reinterpret_cast<const unsigned char *>("abc"), -1);
    EXPECT_STREQ(reinterpret_cast<char *>(out), "");
}

TEST(Base64, DecodesUntilTheEndOfTheText) {
    std::string bytes;
    EXPECT_EQ(decode("Zm9vYmFy", &bytes), 6);
    EXPECT_EQ(bytes, "foobar");
    EXPECT_EQ(decode("Zg==", &bytes), 1);
    EXPECT_EQ(bytes, "f");
    EXPECT_EQ(decode("Zm8=", &bytes), 2);
    EXPECT_EQ(bytes, "fo");
    EXPECT_EQ(decode("+ Zm9v", &bytes), 3);
    EXPECT_EQ(bytes, "foo");
    EXPECT_EQ(decode("Zm9v\r\nYmFy", &bytes), 3);
    EXPECT_EQ(decode("Zg==Zm9v", &bytes), 1);  // a padded group ends the text
    EXPECT_EQ(decode("Zm9", &bytes), 2);       // an unpadded last group
    EXPECT_EQ(bytes, "fo");
    EXPECT_EQ(decode(""), 0);
    EXPECT_EQ(decode("\r\nZm9v"), 0);
    EXPECT_EQ(decode("\nZm9v"), 0);

    EXPECT_EQ(decode("Zm9v!mFy"), -1);
    EXPECT_EQ(decode("Zm9v\xc3\xa9"), -1);
    EXPECT_EQ(decode("Z"), -1);
    EXPECT_EQ(decode("Zg=A"), -1);
    EXPECT_EQ(decode("=AAA"), -1);
    EXPECT_EQ(decode("Z==="), -1);
    EXPECT_EQ(decode("Zm 9v"), -1);
    unsigned char out[4];
    EXPECT_EQ(base64_decode_text(out, nullptr), -1);
    EXPECT_EQ(base64_decode_text(nullptr, "Zg=="), -1);

    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (size_t n = 0; n <= all.size(); n += 37) {
        std::string back;
        ASSERT_EQ(decode(encode(all.substr(0, n)), &back), static_cast<int>(n));
        EXPECT_EQ(back, all.substr(0, n));
    }
}
