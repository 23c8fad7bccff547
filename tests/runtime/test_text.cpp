#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

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

    char rest[] = "a,b,c,d";
    char *two[2];
    ASSERT_EQ(string_tokenize(two, 2, rest, ","), 2);
    EXPECT_STREQ(two[0], "a");
    EXPECT_STREQ(two[1], "b,c,d");

    char empty_pieces[] = ",x,";
    char *three[3];
    ASSERT_EQ(string_tokenize(three, 3, empty_pieces, ","), 3);
    EXPECT_STREQ(three[0], "");
    EXPECT_STREQ(three[1], "x");
    EXPECT_STREQ(three[2], "");

    char wide[] = "a::b::c";
    char *pieces[4];
    ASSERT_EQ(string_tokenize(pieces, 4, wide, "::"), 3);
    EXPECT_STREQ(pieces[1], "b");
    EXPECT_STREQ(pieces[2], "c");

    char *none[2] = {wide, wide};
    EXPECT_EQ(string_tokenize(none, 2, nullptr, ","), 0);
    EXPECT_EQ(none[0], nullptr);
    EXPECT_EQ(string_tokenize(none, 0, wide, ","), 0);
}

TEST(Text, ReplaceEveryOccurrenceLeftToRight) {
    EXPECT_EQ(take(my_replaceStr("a_b_c", "_", "\nclick_v=")), "a\nclick_v=b\nclick_v=c");
    EXPECT_EQ(take(my_replaceStr("aaaa", "aa", "b")), "bb");
    EXPECT_EQ(take(my_replaceStr("aaa", "aa", "b")), "ba");
    EXPECT_EQ(take(my_replaceStr("aaa", "a", "aa")), "aaaaaa");
    EXPECT_EQ(take(my_replaceStr("no match", "xyz", "!")), "no match");
    EXPECT_EQ(take(my_replaceStr("x<br>y<br>", "<br>", "")), "xy");
    EXPECT_EQ(take(my_replaceStr("", "a", "b")), "");
    EXPECT_EQ(my_replaceStr(nullptr, "a", "b"), nullptr);
    EXPECT_EQ(take(my_replaceStr("abc", "", "x")), "abc");

    const char *const pairs[][2] = {{"<br>", "//n"}, {"a", "b"}, {"b", "c"}, {nullptr, nullptr}};
    EXPECT_EQ(take(my_MreplaceStr("ab<br>", pairs)), "cc//n");
    const char *const no_pairs[][2] = {{nullptr, nullptr}};
    EXPECT_EQ(take(my_MreplaceStr("same", no_pairs)), "same");
    EXPECT_EQ(my_MreplaceStr(nullptr, pairs), nullptr);
}

TEST(Text, CountCharacter) {
    EXPECT_EQ(my_calc_strchr("1.2.3.4", '.'), 3);
    EXPECT_EQ(my_calc_strchr("abc", 'z'), 0);
    EXPECT_EQ(my_calc_strchr(nullptr, '.'), 0);
}

TEST(Text, EscapesForSqlLiterals) {
    EXPECT_EQ(take(my_sqlescape("O'Brien", 7)), "O\\'Brien");
    EXPECT_EQ(take(my_sqlescape("a\\b\"c", 5)), "a\\\\b\\\"c");
    EXPECT_EQ(take(my_sqlescape("x\x1ay", 3)), "x\\Zy");
    EXPECT_EQ(take(my_sqlescape("t\tn\nr\rb\b", 8)), "t\\\tn\\\nr\\\rb\\\b");
    // Only len bytes are read, NUL among them.
    char *with_nul = my_sqlescape("a\0b", 3);
    ASSERT_NE(with_nul, nullptr);
    EXPECT_EQ(std::string(with_nul, 5), std::string("a\\\0b", 4) + '\0');
    free(with_nul);
    EXPECT_EQ(take(my_sqlescape("O'Brien", 2)), "O\\'");
    EXPECT_EQ(my_sqlescape("x", 0), nullptr);
    EXPECT_EQ(my_sqlescape(nullptr, 3), nullptr);

    EXPECT_EQ(take(my_strescape("a-b-c", 5, "-", 1)), "a\\-b\\-c");
    EXPECT_EQ(my_strescape("abc", 3, "-", 0), nullptr);
    EXPECT_EQ(my_strescape("abc", 3, nullptr, 1), nullptr);
}
