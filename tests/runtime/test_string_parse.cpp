#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/string_parse.h"
#include "webadmin.h"

namespace {

char *const kStale = reinterpret_cast<char *>(0x1);

TEST(StringParse, SplitsBlankSeparatedAndQuotedTokens) {
    char line[] = "SYSTEM_MODEL = \"WA 1000\"\n";
    char *tokens[6] = {kStale, kStale, kStale, kStale, kStale, kStale};
    ASSERT_EQ(string_parse(tokens, 6, line), 3);
    EXPECT_STREQ(tokens[0], "SYSTEM_MODEL");
    EXPECT_STREQ(tokens[1], "=");
    EXPECT_STREQ(tokens[2], "WA 1000");
    EXPECT_EQ(tokens[3], nullptr);
    EXPECT_EQ(tokens[5], nullptr);
    // Tokens point into the line itself.
    EXPECT_EQ(tokens[0], line);

    char tabs[] = " \t a\tb \t c\r\n";
    ASSERT_EQ(string_parse(tokens, 6, tabs), 3);
    EXPECT_STREQ(tokens[0], "a");
    EXPECT_STREQ(tokens[1], "b");
    EXPECT_STREQ(tokens[2], "c");

    char blank[] = "  \t \n";
    EXPECT_EQ(string_parse(tokens, 6, blank), 0);
    EXPECT_EQ(tokens[0], nullptr);
    char empty[] = "";
    EXPECT_EQ(string_parse(tokens, 6, empty), 0);
    EXPECT_EQ(string_parse(tokens, 6, nullptr), 0);
    EXPECT_EQ(tokens[0], nullptr);
}

TEST(StringParse, QuotedTokensUnescapeInPlace) {
    char line[] = R"("say \"hi\"" "back\\slash" "" "a\b"x y)";
    char *tokens[10];
    ASSERT_EQ(string_parse(tokens, 10, line), 6);
    EXPECT_STREQ(tokens[0], "say \"hi\"");
    EXPECT_STREQ(tokens[1], "back\\slash");
    EXPECT_STREQ(tokens[2], "");
    EXPECT_STREQ(tokens[3], "ab");
    // Text right after a closing quote starts the next token.
    EXPECT_STREQ(tokens[4], "x");
    EXPECT_STREQ(tokens[5], "y");

    // A quote inside an unquoted token is an ordinary character.
    char inner[] = "ab\"c d";
    ASSERT_EQ(string_parse(tokens, 10, inner), 2);
    EXPECT_STREQ(tokens[0], "ab\"c");
    EXPECT_STREQ(tokens[1], "d");
}

TEST(StringParse, StopsAtMaxAndRejectsUnclosedQuotes) {
    char line[] = "a b c d";
    char *tokens[3] = {kStale, kStale, kStale};
    ASSERT_EQ(string_parse(tokens, 2, line), 2);
    EXPECT_STREQ(tokens[0], "a");
    EXPECT_STREQ(tokens[1], "b");
    EXPECT_EQ(tokens[2], kStale);  // only max slots are touched
    EXPECT_EQ(string_parse(tokens, 0, line), 0);

    char open[] = "NAME = \"no end\n";
    EXPECT_EQ(string_parse(tokens, 3, open), -1);
    char escaped_end[] = "\"ends in escape\\\"";
    EXPECT_EQ(string_parse(tokens, 3, escaped_end), -1);
    char trailing_backslash[] = "\"x\\";
    EXPECT_EQ(string_parse(tokens, 3, trailing_backslash), -1);
}

TEST(StringParse, ReadLineCutsLongLinesAndSkipsTheirRest) {
    std::FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("abcdefgh\nxy\nlast", f);
    std::rewind(f);
    char buf[5];
    ASSERT_TRUE(runtime::read_line(f, buf, sizeof buf));
    EXPECT_STREQ(buf, "abcd");
    ASSERT_TRUE(runtime::read_line(f, buf, sizeof buf));
    EXPECT_STREQ(buf, "xy\n");
    ASSERT_TRUE(runtime::read_line(f, buf, sizeof buf));
    EXPECT_STREQ(buf, "last");
    EXPECT_FALSE(runtime::read_line(f, buf, sizeof buf));
    std::fclose(f);
}

}  // namespace
