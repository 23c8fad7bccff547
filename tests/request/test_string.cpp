#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "support/stops.h"
#include "webadmin.h"

namespace {

TEST(String, RemoveSpaceTrimsBothEndsInPlace) {
    char a[] = " \t\r\n name = x \r\n";
    EXPECT_EQ(qRemoveSpace(a), a);
    EXPECT_STREQ(a, "name = x");
    // Only space, tab, CR and LF are blanks.
    for (std::string text : {"   ", "", "plain", "\va\v"}) {
        std::string expected = text == "   " ? "" : text;
        EXPECT_EQ(qRemoveSpace(text.data()), expected);
    }
    EXPECT_EQ(qRemoveSpace(nullptr), nullptr);
}

TEST(String, CaseConversionAndAlnum) {
    char a[] = "abc-XYZ_09\xe9";
    EXPECT_EQ(qStrupr(a), a);
    EXPECT_STREQ(a, "ABC-XYZ_09\xe9");
    EXPECT_STREQ(qStrLower(a), "abc-xyz_09\xe9");
    EXPECT_EQ(qStrupr(nullptr), nullptr);
    EXPECT_EQ(qStrLower(nullptr), nullptr);

    EXPECT_EQ(qStrIsAlnum("abcXYZ019"), 1);
    EXPECT_EQ(qStrIsAlnum(""), 1);
    for (const char *text : {"ab c", "ab_c", "\xe9", static_cast<const char *>(nullptr)})
        EXPECT_EQ(qStrIsAlnum(text), 0) << (text ? text : "null");
}

TEST(String, CaseInsensitiveComparison) {
    EXPECT_EQ(qStrincmp("Content-Disposition: form-data", "content-disposition: ", 21), 0);
    EXPECT_NE(qStrincmp("Content-Type: x", "content-disposition: ", 21), 0);
    EXPECT_EQ(qStrincmp("abc", "ABD", 2), 0);
    EXPECT_LT(qStrincmp("abc", "ABD", 3), 0);
    EXPECT_GT(qStrincmp("abd", "ABC", 3), 0);
    EXPECT_LT(qStrincmp("ab", "ABC", 10), 0);  // stops at the shorter text's end
    EXPECT_EQ(qStrincmp(nullptr, "x", 1), 0);
    EXPECT_EQ(qStrincmp("x", nullptr, 1), 0);

    EXPECT_EQ(qStrCaseCmp("Hello", "hELLO"), 0);
    EXPECT_LT(qStrCaseCmp("Hell", "hello"), 0);
    EXPECT_GT(qStrCaseCmp("b", "A"), 0);
    // Upper-cased before comparing: '_' (0x5f) sorts above 'A' (0x41), below 'a'.
    EXPECT_GT(qStrCaseCmp("_", "a"), 0);
    EXPECT_EQ(qStrCaseCmp(nullptr, nullptr), 0);

    const char *text = "multipart/Form-Data; boundary=x";
    EXPECT_EQ(qStrCaseStr(text, "form-data"), text + 10);
    EXPECT_EQ(qStrCaseStr(text, "BOUNDARY="), text + 21);
    EXPECT_EQ(qStrCaseStr(text, ""), text);
    EXPECT_EQ(qStrCaseStr(text, "boundary=xy"), nullptr);
    EXPECT_EQ(qStrCaseStr("", "a"), nullptr);
    EXPECT_EQ(qStrCaseStr(nullptr, "a"), nullptr);
    EXPECT_EQ(qStrCaseStr(text, nullptr), nullptr);
}

TEST(String, ReplaceNewAndInPlace) {
    struct Case {
        const char *mode, *src, *tokens, *word, *expected;
    };
    for (const Case &c : {
             Case{"sn", "aaa", "aa", "b", "ba"},
             Case{"sn", "a<br>b<br>", "<br>", "//n", "a//nb//n"},
             Case{"sn", "abc", "abcd", "x", "abc"},
             Case{"sn", "xyx", "x", "", "y"},
             Case{"sn", "", "a", "b", ""},
             Case{"sn", "abc", "", "zz", "abc"},  // an empty token string matches nothing
             Case{"sn", "abc", nullptr, "zz", "abc"},
             Case{"sn", "aaaa", "a", "0123456789", "0123456789012345678901234567890123456789"},
             Case{"tn", "a-b_c", "-_", "", "abc"},
             Case{"tn", "a\"b", "\"", "\\\"", "a\\\"b"},
             Case{"tn", "abc", "", "x", "abc"},
             Case{"tn", "aXa", "a", "<>", "<>X<>"},
         }) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.src);
        std::string copy = c.src;
        char *out = qStrReplace(c.mode, copy.data(), c.tokens, c.word);
        EXPECT_STREQ(out, c.expected);
        EXPECT_EQ(copy, c.src) << "mode n must leave the source alone";
        free(out);
    }

    char room[64] = "one two two";
    EXPECT_EQ(qStrReplace("sr", room, "two", "2"), room);
    EXPECT_STREQ(room, "one 2 2");
    EXPECT_EQ(qStrReplace("sr", nullptr, "a", "b"), nullptr);
    char dots[32] = "1.2.3";
    EXPECT_STREQ(qStrReplace("tr", dots, ".", " dot "), "1 dot 2 dot 3");
}

TEST(String, ReplaceRejectsUnknownModes) {
    char text[] = "abc";
    EXPECT_FATAL(qStrReplace("xn", text, "a", "b"), "^Error: qStrReplace\\(\\): Unknown mode \"xn\"\\.\n$");
    for (const char *mode : {"sx", "s", "snn"})
        EXPECT_FATAL(qStrReplace(mode, text, "a", "b"), "Unknown mode \"" + std::string(mode) + "\"");
    EXPECT_FATAL(qStrReplace(nullptr, text, "a", "b"), "Unknown mode \"\"");
}

TEST(String, EmailCheck) {
    // The dot may stand anywhere before '@', even twice.
    for (const char *good : {"ab@cd.e", "first.last@mail.example.com", "a-b_c@d-e.f", "ab.cd@ef", "ab..cd@ef.g"})
        EXPECT_EQ(qCheckEmail(good), 1) << good;
    // Only three ordinary characters, a dot right after '@', no dot at all,
    // two dots after '@', and misplaced or doubled '@' and blanks.
    for (const char *bad : {"a.b@c", "ab@.cd", "abcd@ef", "ab@cd..ef", "@abcd.ef", ".@abcd.ef", "ab@cd@ef.g",
                            "ab c@de.f", "abcd.ef", "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(qCheckEmail(bad), 0) << (bad ? bad : "null");
}

TEST(String, UrlCheck) {
    for (const char *url : {"http://x", "ftp://x", "telnet://x", "mailto:a@b.c", "news:comp"})
        EXPECT_EQ(qCheckURL(url), 1) << url;
    for (const char *url : {"https://x", "HTTP://x", "http:/x", "www.x.com", "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(qCheckURL(url), 0) << (url ? url : "null");
}

TEST(String, Strtok2KeepsEmptyTokensAndReportsDelimiters) {
    char stop = 'x';
    // The token (or "null") and the delimiter that ended it ('0' for the end).
    auto next = [&](char *text, const char *delimiters) {
        const char *token = _strtok2(text, delimiters, &stop);
        return std::string(token ? token : "null") + "|" + (stop ? stop : '0');
    };
    char text[] = "a,,b;c";
    EXPECT_EQ(next(text, ",;"), "a|,");
    EXPECT_EQ(next(nullptr, ",;"), "|,");
    EXPECT_EQ(next(nullptr, ",;"), "b|;");
    EXPECT_EQ(next(nullptr, ",;"), "c|0");
    EXPECT_EQ(next(nullptr, ",;"), "null|0");
    EXPECT_EQ(next(nullptr, ",;"), "null|0");

    char trailing[] = "x;";
    EXPECT_EQ(next(trailing, ";"), "x|;");
    EXPECT_EQ(next(nullptr, ";"), "null|0");
    char empty[] = "";
    EXPECT_EQ(_strtok2(empty, ";", &stop), nullptr);

    // A new text restarts the scan; no delimiters gives the whole text.
    char whole[] = "a b";
    EXPECT_EQ(next(whole, ""), "a b|0");
    char other[] = "p q";
    EXPECT_STREQ(_strtok2(other, " ", nullptr), "p");
    EXPECT_STREQ(_strtok2(nullptr, " ", nullptr), "q");
}

TEST(String, CommaNumber) {
    for (const auto &[n, text] : {std::pair<int, const char *>{0, "0"}, {999, "999"}, {1000, "1,000"},
                                  {1234567, "1,234,567"}, {100000, "100,000"}, {-1234, "-1,234"}, {-12, "-12"},
                                  {2147483647, "2,147,483,647"}, {-2147483647 - 1, "-2,147,483,648"}})
        EXPECT_STREQ(qStrCommaNumber(n), text);
    char *a = qStrCommaNumber(1);
    EXPECT_EQ(qStrCommaNumber(2), a);  // one static buffer
}

}  // namespace
