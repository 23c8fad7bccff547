// URL decoding, the raw sources, the line and word helpers, and qDecoder in
// URL-encoded mode, driven through the environment and standard input.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
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

    char text[] = "a+b%41%2b%7e%0d";
    EXPECT_EQ(qURLdecode(text), text);
    EXPECT_STREQ(text, "a bA+~\r");
    EXPECT_EQ(qURLdecode(nullptr), nullptr);
    // A '%' without two characters after it stays as it is.
    for (std::string short_escape : {"50%", "x%4", ""})
        EXPECT_EQ(qURLdecode(short_escape.data()), short_escape);
}

TEST(MakeWord, CutsFirstWordAndMovesTheRest) {
    struct Case {
        std::string line;
        char stop;
        const char *word, *rest;
    };
    for (Case c : {Case{"name=value=more", '=', "name", "value=more"}, Case{"value=more", '&', "value=more", ""},
                   Case{"&rest", '&', "", "rest"}, Case{"", '&', "", ""}}) {
        char *word = _makeword(c.line.data(), c.stop);
        EXPECT_STREQ(word, c.word);
        EXPECT_STREQ(c.line.c_str(), c.rest);
        free(word);
    }
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
    const std::string large = "k=" + std::string(300000, 'v');
    struct Case {
        Env env;
        std::string body;
        const char *method;
        const char *expected;  // null: no source
    };
    const Env post{{"REQUEST_METHOD", "POST"}};
    auto with = [](Env env, const std::string &name, const std::string &value) {
        env[name] = value;
        return env;
    };
    {
        Request r(Env{});
        for (const char *method : {"GET", "COOKIE", "POST", "PUT", static_cast<const char *>(nullptr)})
            EXPECT_EQ(_get_query(method), nullptr) << (method ? method : "null");
    }
    for (const Case &c : {
             Case{{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi?q=2&x=%41"}}, "", "GET", "q=2&x=%41"},
             Case{{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi"}}, "", "GET", ""},
             Case{{{"QUERY_STRING", "q=1"}, {"REQUEST_URI", "/x?q=2"}}, "", "GET", "q=1"},
             Case{{{"HTTP_COOKIE", "a=1"}}, "", "COOKIE", "a=1"},
             // Exactly CONTENT_LENGTH bytes are read; the rest stays unread.
             Case{with(post, "CONTENT_LENGTH", "5"), "a=123456", "POST", "a=123"},
             Case{with(post, "CONTENT_LENGTH", std::to_string(large.size())), large + "&extra=1", "POST",
                  large.c_str()},
             // A body shorter than announced gives what arrived.
             Case{with(post, "CONTENT_LENGTH", "100000"), "short=1", "POST", "short=1"},
             Case{with(post, "CONTENT_LENGTH", "0"), "ignored", "POST", ""},
             Case{{{"REQUEST_METHOD", "GET"}, {"CONTENT_LENGTH", "3"}}, "a=1", "POST", nullptr},
         }) {
        SCOPED_TRACE(std::string(c.method ? c.method : "null") + " " + c.body.substr(0, 20));
        Request r(c.env, c.body);
        char *got = _get_query(c.method);
        if (c.expected)
            EXPECT_STREQ(got, c.expected);
        else
            EXPECT_EQ(got, nullptr);
        free(got);
    }
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
}

TEST(Decoder, TokensNamesAndValues) {
    struct Case {
        Env env;
        std::string body;
        Pairs expected;
    };
    for (const Case &c : {
             Case{{{"QUERY_STRING", "a=1&&b=%41+c&flag&=v&x=1=2&"}},
                  "",
                  {{"a", "1"}, {"", ""}, {"b", "A c"}, {"flag", ""}, {"", "v"}, {"x", "1=2"}}},
             // Names are trimmed before decoding, values are not trimmed.
             Case{{{"HTTP_COOKIE", "x=1; y=2 ;%20z = 3"}}, "", {{"x", "1"}, {"y", "2 "}, {" z", " 3"}}},
             Case{{{"QUERY_STRING", ""}, {"REQUEST_URI", "/cgi-bin/upgrade.cgi?q=2"}}, "", {{"q", "2"}}},
             // Other content types are read as URL-encoded bodies too.
             Case{{{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "text/plain"}, {"CONTENT_LENGTH", "6"}},
                  "m=%7e%",
                  {{"m", "~%"}}},
             Case{{}, "", {}},
         }) {
        Request r(c.env, c.body);
        EXPECT_EQ(qDecoder(), static_cast<int>(c.expected.size()));
        EXPECT_EQ(form_list(), c.expected);
        // A filled list is not decoded again; an empty one is, harmlessly.
        EXPECT_EQ(qDecoder(), c.expected.empty() ? 0 : -1);
        EXPECT_EQ(form_list(), c.expected);
    }
}

}  // namespace
