// URL decoding, the raw sources, the line and word helpers, and qDecoder in
// URL-encoded mode, driven through the environment and standard input.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/request_env.h"
#include "support/stops.h"
#include "webadmin.h"

namespace {

using namespace testing_support;

TEST(UrlDecode, HexDigitsPlusAndShortEscapes) {
    EXPECT_EQ(_x2c('4', '1'), 'A');
    EXPECT_EQ(_x2c('f', 'F'), static_cast<char>(0xff));
    EXPECT_EQ(_x2c('0', 'a'), '\n');
    EXPECT_EQ(_x2c('2', '0'), ' ');

    char text[] = "a+b%41%2b%7e%0d";
    EXPECT_EQ(qURLdecode(text), text);
    EXPECT_STREQ(text, "a bA+~\r");
    EXPECT_EQ(qURLdecode(nullptr), nullptr);

    // A '%' without two characters after it stays as it is.
    char tail1[] = "50%";
    EXPECT_STREQ(qURLdecode(tail1), "50%");
    char tail2[] = "x%4";
    EXPECT_STREQ(qURLdecode(tail2), "x%4");
    char empty[] = "";
    EXPECT_STREQ(qURLdecode(empty), "");
}

TEST(MakeWord, CutsFirstWordAndMovesTheRest) {
    char line[] = "name=value=more";
    char *word = _makeword(line, '=');
    EXPECT_STREQ(word, "name");
    EXPECT_STREQ(line, "value=more");
    free(word);

    word = _makeword(line, '&');  // no stop character: all of it
    EXPECT_STREQ(word, "value=more");
    EXPECT_STREQ(line, "");
    free(word);

    char leading[] = "&rest";
    word = _makeword(leading, '&');
    EXPECT_STREQ(word, "");
    EXPECT_STREQ(leading, "rest");
    free(word);

    char empty[] = "";
    word = _makeword(empty, '&');
    EXPECT_STREQ(word, "");
    free(word);
}

TEST(Fgets, LinesAreCutAtLineFeedAndCapacity) {
    FILE *in = tmpfile();
    std::string data = "first\r\n" + std::string(10, 'x') + "\nlast";
    data += '\0';
    data += "after-nul";
    fwrite(data.data(), 1, data.size(), in);
    rewind(in);

    char buf[8];
    ASSERT_EQ(_fgets(buf, sizeof buf, in), buf);
    EXPECT_STREQ(buf, "first\r\n");
    ASSERT_NE(_fgets(buf, sizeof buf, in), nullptr);
    EXPECT_STREQ(buf, "xxxxxxx");  // 7 bytes: capacity minus the NUL
    ASSERT_NE(_fgets(buf, sizeof buf, in), nullptr);
    EXPECT_STREQ(buf, "xxx\n");
    ASSERT_NE(_fgets(buf, sizeof buf, in), nullptr);
    EXPECT_EQ(std::string(buf, 7), std::string("last\0af", 7));
    ASSERT_NE(_fgets(buf, sizeof buf, in), nullptr);
    EXPECT_STREQ(buf, "ter-nul");
    EXPECT_EQ(_fgets(buf, sizeof buf, in), nullptr);  // end of input
    EXPECT_EQ(_fgets(buf, 1, in), nullptr);
    EXPECT_EQ(_fgets(buf, 0, in), nullptr);
    fclose(in);
}

TEST(GetQuery, SourcesFromTheEnvironmentAndBody) {
    {
        Request r(Env{});
        EXPECT_EQ(_get_query("GET"), nullptr);
        EXPECT_EQ(_get_query("COOKIE"), nullptr);
        EXPECT_EQ(_get_query("POST"), nullptr);
        EXPECT_EQ(_get_query("PUT"), nullptr);
        EXPECT_EQ(_get_query(nullptr), nullptr);
    }
    {
        Request r(Env{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi?q=2&x=%41"}, {"HTTP_COOKIE", "a=1"}});
        char *get = _get_query("GET");
        EXPECT_STREQ(get, "q=2&x=%41");
        free(get);
        char *cookie = _get_query("COOKIE");
        EXPECT_STREQ(cookie, "a=1");
        free(cookie);
    }
    {
        Request r(Env{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi"}});
        char *get = _get_query("GET");
        EXPECT_STREQ(get, "");
        free(get);
    }
    {
        Request r(Env{{"QUERY_STRING", "q=1"}, {"REQUEST_URI", "/x?q=2"}});
        char *get = _get_query("GET");
        EXPECT_STREQ(get, "q=1");
        free(get);
    }
    {
        // Exactly CONTENT_LENGTH bytes are read; the rest stays unread.
        Request r(Env{{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "5"}}, "a=123456");
        char *post = _get_query("POST");
        EXPECT_STREQ(post, "a=123");
        free(post);
    }
    {
        // A body shorter than announced gives what arrived.
        Request r(Env{{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "100000"}}, "short=1");
        char *post = _get_query("POST");
        EXPECT_STREQ(post, "short=1");
        free(post);
    }
    {
        Request r(Env{{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "0"}}, "ignored");
        char *post = _get_query("POST");
        EXPECT_STREQ(post, "");
        free(post);
    }
    {
        Request r(Env{{"REQUEST_METHOD", "GET"}, {"CONTENT_LENGTH", "3"}}, "a=1");
        EXPECT_EQ(_get_query("POST"), nullptr);
    }
}

TEST(GetQuery, LargeBodyGrowsToItsLength) {
    std::string body(300000, 'v');
    body.replace(0, 2, "k=");
    Request r(Env{{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", std::to_string(body.size())}}, body + "&extra=1");
    char *post = _get_query("POST");
    ASSERT_NE(post, nullptr);
    EXPECT_EQ(std::string(post), body);
    free(post);
}

TEST(GetQueryDeath, PostWithoutLengthStops) {
    Request r(Env{{"REQUEST_METHOD", "POST"}}, "a=1");
    EXPECT_STOPS(_get_query("POST"), "_get_query(): Your browser sent a non-HTTP compliant message.");
    EXPECT_STOPS(qDecoder(), "_get_query(): Your browser sent a non-HTTP compliant message.");
}

TEST(Decoder, CookiesThenQueryThenBodyInOrder) {
    Request r(Env{{"HTTP_COOKIE", "q=5; sid=abc"},
               {"QUERY_STRING", "q=1&page=%2Fhome"},
               {"REQUEST_METHOD", "POST"},
               {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
               {"CONTENT_LENGTH", "13"}},
              "q=9&body=a+b");
    EXPECT_EQ(qDecoder(), 6);
    EXPECT_EQ(form_list(),
              (Pairs{{"q", "5"}, {"sid", "abc"}, {"q", "1"}, {"page", "/home"}, {"q", "9"}, {"body", "a b"}}));
    EXPECT_EQ(qiValue("q"), 5);
    EXPECT_EQ(qValueType("q"), 'C');
    EXPECT_EQ(qValueType("page"), 'G');
    EXPECT_EQ(qValueType("body"), 'P');
    EXPECT_EQ(qValueType("none"), '-');

    // A filled list is not decoded again.
    EXPECT_EQ(qDecoder(), -1);
    EXPECT_EQ(form_list().size(), 6u);
}

TEST(Decoder, TokensNamesAndValues) {
    {
        Request r(Env{{"QUERY_STRING", "a=1&&b=%41+c&flag&=v&x=1=2&"}});
        EXPECT_EQ(qDecoder(), 6);
        EXPECT_EQ(form_list(),
                  (Pairs{{"a", "1"}, {"", ""}, {"b", "A c"}, {"flag", ""}, {"", "v"}, {"x", "1=2"}}));
    }
    {
        // Names are trimmed before decoding, values are not trimmed.
        Request r(Env{{"HTTP_COOKIE", "x=1; y=2 ;%20z = 3"}});
        EXPECT_EQ(qDecoder(), 3);
        EXPECT_EQ(form_list(), (Pairs{{"x", "1"}, {"y", "2 "}, {" z", " 3"}}));
        EXPECT_EQ(qValueType("y"), 'C');
    }
    {
        Request r(Env{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi?q=2"}});
        EXPECT_EQ(qDecoder(), 1);
        EXPECT_STREQ(qValue("q"), "2");
        EXPECT_EQ(qValueType("q"), 'G');
    }
    {
        // Other content types are read as URL-encoded bodies too.
        Request r(Env{{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "text/plain"}, {"CONTENT_LENGTH", "6"}}, "m=%7e%");
        EXPECT_EQ(qDecoder(), 1);
        EXPECT_STREQ(qValue("m"), "~%");
    }
}

TEST(Decoder, EmptyRequestDecodesToNothing) {
    Request r(Env{});
    EXPECT_EQ(qDecoder(), 0);
    EXPECT_EQ(qValueList(), nullptr);
    // Still empty, so decoded again: harmless.
    EXPECT_EQ(qDecoder(), 0);
}

}  // namespace
