#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "runtime/string_parse.h"
#include "webadmin.h"

namespace {

char *const kStale = reinterpret_cast<char *>(0x1);

// The tokens of a line, or "-1" for a refused line; every slot past the
// tokens must be cleared.
std::vector<std::string> parse(const std::string &text) {
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');
    char *tokens[8] = {kStale, kStale, kStale, kStale, kStale, kStale, kStale, kStale};
    int n = string_parse(tokens, 8, line.data());
    if (n < 0) return {"-1"};
    std::vector<std::string> out(tokens, tokens + n);
    for (int i = n; i < 8; ++i) EXPECT_EQ(tokens[i], nullptr) << text;
    return out;
}

}  // namespace

TEST(StringParse, SplitsBlankSeparatedAndQuotedTokens) {
    using V = std::vector<std::string>;
    const std::vector<std::pair<std::string, V>> cases = {
        {"SYSTEM_MODEL = \"WA 1000\"\n", {"SYSTEM_MODEL", "=", "WA 1000"}},
        {" \t a\tb \t c\r\n", {"a", "b", "c"}},
        {"  \t \n", {}},
        {"", {}},
        // Quoted tokens unescape; text right after a closing quote starts the next token.
        {R"("say \"hi\"" "back\\slash" "" "a\b"x y)", {"say \"hi\"", "back\\slash", "", "ab", "x", "y"}},
        // A quote inside an unquoted token is an ordinary character.
        {"ab\"c d", {"ab\"c", "d"}},
        // Unclosed quotes are refused.
        {"NAME = \"no end\n", {"-1"}},
        {"\"ends in escape\\\"", {"-1"}},
        {"\"x\\", {"-1"}}};
    for (const auto &[line, tokens] : cases) EXPECT_EQ(parse(line), tokens) << line;

    // Tokens point into the line itself, and only max slots are touched.
    char line[] = "a b c d";
    char *tokens[3] = {kStale, kStale, kStale};
    ASSERT_EQ(string_parse(tokens, 2, line), 2);
    EXPECT_EQ(tokens[0], line);
    EXPECT_STREQ(tokens[1], "b");
    EXPECT_EQ(tokens[2], kStale);
    EXPECT_EQ(string_parse(tokens, 0, line), 0);
    EXPECT_EQ(string_parse(tokens, 3, nullptr), 0);
    EXPECT_EQ(tokens[0], nullptr);
}

TEST(StringParse, ReadLineCutsLongLinesAndSkipsTheirRest) {
    std::FILE *f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("abcdefgh\nxy\nlast", f);
    std::rewind(f);
    char buf[5];
    for (const char *expected : {"abcd", "xy\n", "last"}) {
        ASSERT_TRUE(runtime::read_line(f, buf, sizeof buf));
        EXPECT_STREQ(buf, expected);
    }
    EXPECT_FALSE(runtime::read_line(f, buf, sizeof buf));
    std::fclose(f);
}
