#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "support/stops.h"
#include "webadmin.h"

namespace {

std::string replace_new(const char *mode, const char *src, const char *tokens, const char *word) {
    std::string copy = src;
    char *out = qStrReplace(mode, copy.data(), tokens, word);
    std::string result = out ? out : "<null>";
    EXPECT_EQ(copy, src) << "mode n must leave the source alone";
    free(out);
    return result;
}

TEST(String, RemoveSpaceTrimsBothEndsInPlace) {
    char a[] = " \t\r\n name = x \r\n";
    EXPECT_EQ(qRemoveSpace(a), a);
    EXPECT_STREQ(a, "name = x");
    char b[] = "   ";
    EXPECT_STREQ(qRemoveSpace(b), "");
    char c[] = "";
    EXPECT_STREQ(qRemoveSpace(c), "");
    char d[] = "plain";
    EXPECT_STREQ(qRemoveSpace(d), "plain");
    char e[] = "\va\v";  // only space, tab, CR and LF are blanks
    EXPECT_STREQ(qRemoveSpace(e), "\va\v");
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
    EXPECT_EQ(qStrIsAlnum("ab c"), 0);
    EXPECT_EQ(qStrIsAlnum("ab_c"), 0);
    EXPECT_EQ(qStrIsAlnum("\xe9"), 0);
    EXPECT_EQ(qStrIsAlnum(nullptr), 0);
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

TEST(String, ReplaceStringMode) {
    EXPECT_EQ(replace_new("sn", "aaa", "aa", "b"), "ba");
    EXPECT_EQ(replace_new("sn", "a<br>b<br>", "<br>", "//n"), "a//nb//n");
    EXPECT_EQ(replace_new("sn", "abc", "abcd", "x"), "abc");
    EXPECT_EQ(replace_new("sn", "xyx", "x", ""), "y");
    EXPECT_EQ(replace_new("sn", "", "a", "b"), "");
    // An empty token string matches nothing.
    EXPECT_EQ(replace_new("sn", "abc", "", "zz"), "abc");
    EXPECT_EQ(replace_new("sn", "abc", nullptr, "zz"), "abc");
    // Growth far past the source length.
    EXPECT_EQ(replace_new("sn", "aaaa", "a", "0123456789"), "0123456789012345678901234567890123456789");

    char room[64] = "one two two";
    EXPECT_EQ(qStrReplace("sr", room, "two", "2"), room);
    EXPECT_STREQ(room, "one 2 2");
    EXPECT_EQ(qStrReplace("sr", nullptr, "a", "b"), nullptr);
}

TEST(String, ReplaceTokenMode) {
    EXPECT_EQ(replace_new("tn", "a-b_c", "-_", ""), "abc");
    EXPECT_EQ(replace_new("tn", "a\"b", "\"", "\\\""), "a\\\"b");
    EXPECT_EQ(replace_new("tn", "abc", "", "x"), "abc");
    EXPECT_EQ(replace_new("tn", "aXa", "a", "<>"), "<>X<>");

    char room[32] = "1.2.3";
    EXPECT_STREQ(qStrReplace("tr", room, ".", " dot "), "1 dot 2 dot 3");
}

TEST(String, ReplaceRejectsUnknownModes) {
    char text[] = "abc";
    EXPECT_FATAL(qStrReplace("xn", text, "a", "b"), "^Error: qStrReplace\\(\\): Unknown mode \"xn\"\\.\n$");
    EXPECT_FATAL(qStrReplace("sx", text, "a", "b"), "Unknown mode \"sx\"");
    EXPECT_FATAL(qStrReplace("s", text, "a", "b"), "Unknown mode \"s\"");
    EXPECT_FATAL(qStrReplace("snn", text, "a", "b"), "Unknown mode \"snn\"");
    EXPECT_FATAL(qStrReplace(nullptr, text, "a", "b"), "Unknown mode \"\"");
}

TEST(String, EmailCheck) {
    EXPECT_EQ(qCheckEmail("ab@cd.e"), 1);
    EXPECT_EQ(qCheckEmail("first.last@mail.example.com"), 1);
    EXPECT_EQ(qCheckEmail("a-b_c@d-e.f"), 1);
    EXPECT_EQ(qCheckEmail("a.b@c"), 0);        // only three ordinary characters
    EXPECT_EQ(qCheckEmail("ab@.cd"), 0);       // dot right after '@'
    EXPECT_EQ(qCheckEmail("abcd@ef"), 0);      // no dot at all
    EXPECT_EQ(qCheckEmail("ab.cd@ef"), 1);     // the dot may stand anywhere
    EXPECT_EQ(qCheckEmail("ab@cd..ef"), 0);    // two dots after '@'
    EXPECT_EQ(qCheckEmail("ab..cd@ef.g"), 1);  // two dots before '@' are allowed
    EXPECT_EQ(qCheckEmail("@abcd.ef"), 0);
    EXPECT_EQ(qCheckEmail(".@abcd.ef"), 0);
    EXPECT_EQ(qCheckEmail("ab@cd@ef.g"), 0);
    EXPECT_EQ(qCheckEmail("ab c@de.f"), 0);
    EXPECT_EQ(qCheckEmail("abcd.ef"), 0);
    EXPECT_EQ(qCheckEmail(""), 0);
    EXPECT_EQ(qCheckEmail(nullptr), 0);
}

TEST(String, UrlCheck) {
    for (const char *url : {"http://x", "ftp://x", "telnet://x", "mailto:a@b.c", "news:comp"})
        EXPECT_EQ(qCheckURL(url), 1) << url;
    for (const char *url : {"https://x", "HTTP://x", "http:/x", "www.x.com", "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(qCheckURL(url), 0) << (url ? url : "null");
}

TEST(String, Strtok2KeepsEmptyTokensAndReportsDelimiters) {
    char text[] = "a,,b;c";
    char stop = 'x';
    EXPECT_STREQ(_strtok2(text, ",;", &stop), "a");
    EXPECT_EQ(stop, ',');
    EXPECT_STREQ(_strtok2(nullptr, ",;", &stop), "");
    EXPECT_EQ(stop, ',');
    EXPECT_STREQ(_strtok2(nullptr, ",;", &stop), "b");
    EXPECT_EQ(stop, ';');
    EXPECT_STREQ(_strtok2(nullptr, ",;", &stop), "c");
    EXPECT_EQ(stop, '\0');
    EXPECT_EQ(_strtok2(nullptr, ",;", &stop), nullptr);
    EXPECT_EQ(stop, '\0');
    EXPECT_EQ(_strtok2(nullptr, ",;", &stop), nullptr);

    char trailing[] = "x;";
    EXPECT_STREQ(_strtok2(trailing, ";", &stop), "x");
    EXPECT_EQ(stop, ';');
    EXPECT_EQ(_strtok2(nullptr, ";", &stop), nullptr);
    EXPECT_EQ(stop, '\0');

    char empty[] = "";
    EXPECT_EQ(_strtok2(empty, ";", &stop), nullptr);

    // A new text restarts the scan; no delimiters gives the whole text.
    char whole[] = "a b";
    EXPECT_STREQ(_strtok2(whole, "", &stop), "a b");
    EXPECT_EQ(stop, '\0');
    char other[] = "p q";
    EXPECT_STREQ(_strtok2(other, " ", nullptr), "p");
    EXPECT_STREQ(_strtok2(nullptr, " ", nullptr), "q");
}

TEST(String, CommaNumber) {
    EXPECT_STREQ(qStrCommaNumber(0), "0");
    EXPECT_STREQ(qStrCommaNumber(999), "999");
    EXPECT_STREQ(qStrCommaNumber(1000), "1,000");
    EXPECT_STREQ(qStrCommaNumber(1234567), "1,234,567");
    EXPECT_STREQ(qStrCommaNumber(100000), "100,000");
    EXPECT_STREQ(qStrCommaNumber(-1234), "-1,234");
    EXPECT_STREQ(qStrCommaNumber(-12), "-12");
    EXPECT_STREQ(qStrCommaNumber(2147483647), "2,147,483,647");
    EXPECT_STREQ(qStrCommaNumber(-2147483647 - 1), "-2,147,483,648");
    char *a = qStrCommaNumber(1);
    EXPECT_EQ(qStrCommaNumber(2), a);  // one static buffer
}

}  // namespace
