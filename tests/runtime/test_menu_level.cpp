#include <gtest/gtest.h>

#include <string>

#include "webadmin.h"

TEST(MenuLevel, EncodeJoinsTheClickValues) {
    EXPECT_STREQ(encodeMenuLV("q=1&click_v=3&lang=eng&click_v=12"), "3_12");
    EXPECT_STREQ(encodeMenuLV("click_v=3\nclick_v=12\nclick_v=5\n"), "3_12_5");
    EXPECT_STREQ(encodeMenuLV("xclick_v=4&click_vv=5&click_v=6"), "6");
    for (const char *none : {"q=1&lang=eng", "", static_cast<const char *>(nullptr)})
        EXPECT_STREQ(encodeMenuLV(none), "");

    // 1000 levels of "123_" do not fit: the text stops after the last whole
    // one (256 levels, 1023 characters); a level too long for the text is none.
    std::string query, fit;
    for (int i = 0; i < 1000; ++i) query += "click_v=123&";
    for (int i = 0; i < 256; ++i) fit += i ? "_123" : "123";
    EXPECT_EQ(encodeMenuLV(query.c_str()), fit);
    std::string huge = "click_v=" + std::string(2000, '9');
    EXPECT_STREQ(encodeMenuLV(huge.c_str()), "");
    EXPECT_STREQ(encodeMenuLV(("click_v=1&" + huge + "&click_v=2").c_str()), "1");
}

TEST(MenuLevel, DecodeWritesFormLines) {
    EXPECT_STREQ(decodeMenuLV("7"), "click_v=7\n");
    EXPECT_STREQ(decodeMenuLV("3_12_5"), "click_v=3\nclick_v=12\nclick_v=5\n");
    EXPECT_STREQ(decodeMenuLV(""), "click_v=\n");
    EXPECT_EQ(decodeMenuLV(nullptr), nullptr);

    // 49 characters fit: 40 path characters when each '_' counts as 9; one
    // more and the last level is left out whole.
    const std::string ones(23, '1'), fits = ones + "_22222222";
    EXPECT_EQ(decodeMenuLV(fits.c_str()), "click_v=" + ones + "\nclick_v=22222222\n");
    EXPECT_EQ(decodeMenuLV((fits + "2").c_str()), "click_v=" + ones + "\n");
    EXPECT_STREQ(decodeMenuLV(std::string(41, '1').c_str()), "");
    EXPECT_STREQ(decodeMenuLV("1_2_3_4_5_6_7_8_9"), "click_v=1\nclick_v=2\nclick_v=3\nclick_v=4\n");
}
