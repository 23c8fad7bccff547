#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include "webadmin.h"

namespace {

std::string take(char *heap) {
    std::string text = heap ? heap : "<null>";
    free(heap);
    return text;
}

}  // namespace

TEST(Text, TokenizeSplitsInPlace) {
    char line[] = "eth0,LAN,192.168.1.1";
    char *tokens[5] = {line, line, line, line, line};
    ASSERT_EQ(string_tokenize(tokens, 5, line, ","), 3);
    EXPECT_STREQ(tokens[0], "eth0");
    EXPECT_STREQ(tokens[1], "LAN");
    EXPECT_STREQ(tokens[2], "192.168.1.1");
    EXPECT_EQ(tokens[3], nullptr);
    EXPECT_EQ(tokens[4], nullptr);

    // The last token keeps the rest; empty pieces count; separators of several characters.
    char rest[] = "a,b,c,d";
    ASSERT_EQ(string_tokenize(tokens, 2, rest, ","), 2);
    EXPECT_STREQ(tokens[1], "b,c,d");
    char empty_pieces[] = ",x,";
    ASSERT_EQ(string_tokenize(tokens, 3, empty_pieces, ","), 3);
    EXPECT_STREQ(tokens[0], "");
    EXPECT_STREQ(tokens[1], "x");
    EXPECT_STREQ(tokens[2], "");
    char wide[] = "a::b::c";
    ASSERT_EQ(string_tokenize(tokens, 4, wide, "::"), 3);
    EXPECT_STREQ(tokens[1], "b");
    EXPECT_STREQ(tokens[2], "c");

    char *none[2] = {wide, wide};
    EXPECT_EQ(string_tokenize(none, 2, nullptr, ","), 0);
    EXPECT_EQ(none[0], nullptr);
    EXPECT_EQ(string_tokenize(none, 0, wide, ","), 0);
}

TEST(Text, ReplaceCountAndEscape) {
    const std::vector<std::vector<std::string>> replaced = {{"a_b_c", "_", "\nclick_v=", "a\nclick_v=b\nclick_v=c"},
                                                            {"aaaa", "aa", "b", "bb"},
                                                            {"aaa", "aa", "b", "ba"},
                                                            {"aaa", "a", "aa", "aaaaaa"},
                                                            {"no match", "xyz", "!", "no match"},
                                                            {"x<br>y<br>", "<br>", "", "xy"},
                                                            {"", "a", "b", ""},
                                                            {"abc", "", "x", "abc"}};
    for (const auto &c : replaced)
        EXPECT_EQ(take(my_replaceStr(c[0].c_str(), c[1].c_str(), c[2].c_str())), c[3]) << c[0];
    EXPECT_EQ(my_replaceStr(nullptr, "a", "b"), nullptr);
    // Pairs apply in order, each to the result of the one before.
    const char *const pairs[][2] = {{"<br>", "//n"}, {"a", "b"}, {"b", "c"}, {nullptr, nullptr}};
    EXPECT_EQ(take(my_MreplaceStr("ab<br>", pairs)), "cc//n");
    const char *const no_pairs[][2] = {{nullptr, nullptr}};
    EXPECT_EQ(take(my_MreplaceStr("same", no_pairs)), "same");
    EXPECT_EQ(my_MreplaceStr(nullptr, pairs), nullptr);

    EXPECT_EQ(my_calc_strchr("1.2.3.4", '.'), 3);
    EXPECT_EQ(my_calc_strchr("abc", 'z'), 0);
    EXPECT_EQ(my_calc_strchr(nullptr, '.'), 0);

    EXPECT_EQ(take(my_sqlescape("O'Brien", 7)), "O\\'Brien");
    EXPECT_EQ(take(my_sqlescape("a\\b\"c", 5)), "a\\\\b\\\"c");
    EXPECT_EQ(take(my_sqlescape("x\x1ay", 3)), "x\\Zy");
    EXPECT_EQ(take(my_sqlescape("t\tn\nr\rb\b", 8)), "t\\\tn\\\nr\\\rb\\\b");
    // Only len bytes are read, NUL among them.
    char *with_nul = my_sqlescape("a\0b", 3);
    ASSERT_NE(with_nul, nullptr);
    EXPECT_EQ(std::string(with_nul, 5), std::string("a\\\0b\0", 5));
    free(with_nul);
    EXPECT_EQ(take(my_sqlescape("O'Brien", 2)), "O\\'");
    EXPECT_EQ(my_sqlescape("x", 0), nullptr);
    EXPECT_EQ(my_sqlescape(nullptr, 3), nullptr);
    EXPECT_EQ(take(my_strescape("a-b-c", 5, "-", 1)), "a\\-b\\-c");
    EXPECT_EQ(my_strescape("abc", 3, "-", 0), nullptr);
    EXPECT_EQ(my_strescape("abc", 3, nullptr, 1), nullptr);
}
