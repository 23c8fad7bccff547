#include <gtest/gtest.h>

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
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {{"\xff\xfe\x00", 3}, "//4A"}};
    for (const auto &[bytes, text] : cases) EXPECT_EQ(encode(bytes), text) << text;
    unsigned char out[8] = {0xEE};
    to64frombits(out, reinterpret_cast<const unsigned char *>("abc"), -1);
    EXPECT_STREQ(reinterpret_cast<char *>(out), "");
}

TEST(Base64, DecodesUntilTheEndOfTheText) {
    // A leading "+ " is skipped; a line break or a group ending in '=' ends
    // the text; an unpadded last group still counts.
    const std::vector<std::pair<std::string, std::string>> good = {
        {"Zm9vYmFy", "foobar"}, {"Zg==", "f"}, {"Zm8=", "fo"}, {"+ Zm9v", "foo"}, {"Zm9v\r\nYmFy", "foo"},
        {"Zg==Zm9v", "f"},      {"Zm9", "fo"}, {"", ""},       {"\r\nZm9v", ""},  {"\nZm9v", ""}};
    for (const auto &[text, expected] : good) {
        std::string bytes;
        EXPECT_EQ(decode(text, &bytes), static_cast<int>(expected.size())) << text;
        EXPECT_EQ(bytes, expected) << text;
    }
    for (const char *bad : {"Zm9v!mFy", "Zm9v\xc3\xa9", "Z", "Zg=A", "=AAA", "Z===", "Zm 9v"})
        EXPECT_EQ(decode(bad), -1) << bad;
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
