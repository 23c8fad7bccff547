#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "webadmin.h"

TEST(MenuLevel, EncodeJoinsTheClickValues) {
    EXPECT_STREQ(encodeMenuLV("q=1&click_v=3&lang=eng&click_v=12"), "3_12");
    EXPECT_STREQ(encodeMenuLV("click_v=3\nclick_v=12\nclick_v=5\n"), "3_12_5");
    EXPECT_STREQ(encodeMenuLV("q=1&lang=eng"), "");
    EXPECT_STREQ(encodeMenuLV("xclick_v=4&click_vv=5&click_v=6"), "6");
    EXPECT_STREQ(encodeMenuLV(""), "");
    EXPECT_STREQ(encodeMenuLV(nullptr), "");

    // 1000 levels of "123_" do not fit: the text stops after the last whole one.
    std::string query;
    for (int i = 0; i < 1000; ++i) query += "click_v=123&";
    const char *encoded = encodeMenuLV(query.c_str());
    EXPECT_EQ(strlen(encoded), 1023u);  // 256 levels: 256 * 4 - 1 characters
    EXPECT_EQ(std::string(encoded).substr(1016), "123_123");
    std::string huge = "click_v=" + std::string(2000, '9');
    EXPECT_STREQ(encodeMenuLV(huge.c_str()), "");
    std::string after = "click_v=1&" + huge + "&click_v=2";
    EXPECT_STREQ(encodeMenuLV(after.c_str()), "1");
}

TEST(MenuLevel, DecodeWritesFormLines) {
    EXPECT_STREQ(decodeMenuLV("7"), "click_v=7\n");
    EXPECT_STREQ(decodeMenuLV("3_12_5"), "click_v=3\nclick_v=12\nclick_v=5\n");
    EXPECT_STREQ(decodeMenuLV(""), "click_v=\n");
    EXPECT_EQ(decodeMenuLV(nullptr), nullptr);

    // 49 characters fit: 40 path characters when each '_' counts as 9.
    std::string fits = std::string(23, '1') + "_" + std::string(8, '2');  // 23 + 9 + 8 = 40
    const char *decoded = decodeMenuLV(fits.c_str());
    EXPECT_EQ(std::string(decoded), "click_v=" + std::string(23, '1') + "\nclick_v=" + std::string(8, '2') + "\n");
    EXPECT_EQ(strlen(decoded), 49u);
    // One more character: the last level is left out whole.
    EXPECT_EQ(std::string(decodeMenuLV((fits + "2").c_str())), "click_v=" + std::string(23, '1') + "\n");
    EXPECT_STREQ(decodeMenuLV(std::string(41, '1').c_str()), "");
    EXPECT_STREQ(decodeMenuLV("1_2_3_4_5_6_7_8_9"), "click_v=1\nclick_v=2\nclick_v=3\nclick_v=4\n");
}
