#include <gtest/gtest.h>

#include <string>

#include "support/capture.h"
#include "support/stops.h"
#include "webadmin.h"

namespace {

std::string puts_out(int mode, const char *text) {
    return testing_support::captured_stdout([&] { qPuts(mode, text); });
}

std::string link(const std::string &url, const std::string &target) {
    return "<a href=\"" + url + "\" target=\"" + target + "\">" + url + "</a>";
}

TEST(HtmlPrint, PlainAndLayoutModes) {
    EXPECT_EQ(puts_out(0, "a<b> \"c\"\r\n  d"), "a<b> \"c\"\r\n  d");
    EXPECT_EQ(puts_out(10, "a\r\nb  c   d <x>"), "a<br>\nb &nbsp;c &nbsp;&nbsp;d <x>");
    EXPECT_EQ(puts_out(10, "  lead"), " &nbsp;lead");
    for (int mode : {0, 1, 10, 36, 99}) EXPECT_EQ(puts_out(mode, nullptr), "");
    EXPECT_EQ(puts_out(1, ""), "");
}

TEST(HtmlPrint, EscapingModes) {
    const char *text = "x < y > \"z\" http://a.b";
    EXPECT_EQ(puts_out(1, text), "x &lt; y &gt; &quot;z&quot; http://a.b");
    EXPECT_EQ(puts_out(2, text), "x &lt; y &gt; &quot;z&quot; " + link("http://a.b", ""));
    EXPECT_EQ(puts_out(3, text), "x &lt; y &gt; &quot;z&quot; " + link("http://a.b", "_top"));
    EXPECT_EQ(puts_out(23, text), "x &lt; y &gt; &quot;z&quot; " + link("http://a.b", "qnewwin"));

    // Every scheme, and addresses, are linked; the other delimiters pass unchanged.
    EXPECT_EQ(puts_out(2, "(https://s.t),[ftp://f.g]{telnet://h}`news:n'mailto:m"),
              "(" + link("https://s.t", "") + ")," + "[" + link("ftp://f.g", "") + "]{" + link("telnet://h", "") +
                  "}`" + link("news:n", "") + "'" + link("mailto:m", ""));
    EXPECT_EQ(puts_out(2, "mail admin@corp.tw now"),
              "mail <a href=\"mailto:admin@corp.tw\">admin@corp.tw</a> now");
    EXPECT_EQ(puts_out(1, "mail admin@corp.tw now"), "mail admin@corp.tw now");
    EXPECT_EQ(puts_out(2, "HTTP://up.case a@b"), "HTTP://up.case a@b");
    EXPECT_EQ(puts_out(1, "f(a,[b]{c}`d'e)\r\n  x"), "f(a,[b]{c}`d'e)\r\n  x");
}

TEST(HtmlPrint, StrippingModes) {
    EXPECT_EQ(puts_out(4, "a<b class=\"x\">bold</b> \"q\" > z"), "abold &quot;q&quot; > z");
    EXPECT_EQ(puts_out(5, "<a href=\"http://x.y\">go</a> http://z.w"), "go " + link("http://z.w", ""));
    EXPECT_EQ(puts_out(6, "http://z.w<i>"), link("http://z.w", "_top"));
    EXPECT_EQ(puts_out(26, "<p>http://z.w</p>"), link("http://z.w", "qnewwin"));
    EXPECT_EQ(puts_out(4, "x\r\ny<unclosed tag and the rest"), "x\r\ny");
}

TEST(HtmlPrint, LayoutKeepingAutolinkModes) {
    EXPECT_EQ(puts_out(11, "a  b\r\n<c>"), "a &nbsp;b<br>\n&lt;c&gt;");
    EXPECT_EQ(puts_out(14, "x<br>\ny   z"), "x<br>\ny &nbsp;&nbsp;z");
    EXPECT_EQ(puts_out(12, "go http://a.b\n"), "go " + link("http://a.b", "") + "<br>\n");
    EXPECT_EQ(puts_out(13, "http://a.b"), link("http://a.b", "_top"));
    EXPECT_EQ(puts_out(15, "<b>\r\n</b>x"), "<br>\nx");
    EXPECT_EQ(puts_out(16, "http://a.b\n"), link("http://a.b", "_top") + "<br>\n");
    EXPECT_EQ(puts_out(33, "\"a\"  http://a.b"), "&quot;a&quot; &nbsp;" + link("http://a.b", "qnewwin"));
    EXPECT_EQ(puts_out(36, "<i>a</i>\nb"), "a<br>\nb");
    // Without layout the same text keeps its bytes.
    EXPECT_EQ(puts_out(1, "a  b\r\n"), "a  b\r\n");
}

TEST(HtmlPrint, InvalidModesStopTheRequest) {
    for (int mode : {7, 17, 20, 21, 30, -1})
        EXPECT_FATAL(qPuts(mode, "x"), "^Error: _autolink\\(\\): Invalid Mode \\(" + std::to_string(mode) + "\\)\\.\n$");
}

TEST(HtmlPrint, PrintfFormatsThenPuts) {
    int n = 0;
    EXPECT_EQ(testing_support::captured_stdout([&] { n = qPrintf(1, "<%s> %d", "tag", 42); }), "&lt;tag&gt; 42");
    EXPECT_EQ(n, 8);

    std::string fits(10239, 'p');
    EXPECT_EQ(testing_support::captured_stdout([&] { n = qPrintf(0, "%s", fits.c_str()); }), fits);
    EXPECT_EQ(n, 10239);
    EXPECT_FATAL(qPrintf(0, "%s", (fits + "p").c_str()), "^Error: qPrintf\\(\\): Message is too long or invalid\\.\n$");
}

}  // namespace
