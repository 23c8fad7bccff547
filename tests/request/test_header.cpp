#include <gtest/gtest.h>

#include <string>

#include "support/capture.h"
#include "support/stops.h"
#include "webadmin.h"

namespace {

using testing_support::captured_stdout;
using testing_support::matches;

class Header : public testing::Test {
protected:
    void SetUp() override { qResetContentFlag(); }
    void TearDown() override { qResetContentFlag(); }
};

TEST_F(Header, ContentTypeIsSentOnce) {
    EXPECT_EQ(qGetContentFlag(), 0);
    EXPECT_EQ(captured_stdout([] {
                  qContentType("text/html");
                  qContentType("text/html");
                  qContentType("text/plain");
              }),
              "Content-Type: text/html\n\n");
    EXPECT_EQ(qGetContentFlag(), 1);
    qResetContentFlag();
    EXPECT_EQ(qGetContentFlag(), 0);
    EXPECT_EQ(captured_stdout([] { qContentType("text/plain"); }), "Content-Type: text/plain\n\n");
}

TEST_F(Header, CookieLines) {
    EXPECT_EQ(captured_stdout([] { qCookieSet("QSESSIONID", "0123abcd", 0, "/", nullptr, 0); }),
              "Set-Cookie: QSESSIONID=0123abcd; path=/\n");
    EXPECT_EQ(captured_stdout([] { qCookieSet("a b", "x y@z.w/:-_", 0, nullptr, nullptr, 0); }),
              "Set-Cookie: a%20b=x%20y@z.w/:-_\n");
    EXPECT_EQ(captured_stdout([] { qCookieSet("n", "v;=", 0, "/cgi-bin", "appliance.lan", 1); }),
              "Set-Cookie: n=v%3b%3d; path=/cgi-bin; domain=appliance.lan; secure\n");
    EXPECT_EQ(captured_stdout([] { qCookieSet("n", nullptr, 0, nullptr, nullptr, 0); }), "Set-Cookie: n=\n");
    EXPECT_EQ(qGetContentFlag(), 0) << "cookies do not close the header block";
}

TEST_F(Header, CookieExpiryIsAGmtDate) {
    const std::string date = "[A-Z][a-z][a-z], [0-9][0-9]-[A-Z][a-z][a-z]-[0-9]{4} [0-9:]{8} GMT";
    std::string line = captured_stdout([] { qCookieSet("n", "v", 2, nullptr, nullptr, 0); });
    EXPECT_TRUE(matches(line, "Set-Cookie: n=v; expires=" + date + "\n")) << line;

    // Removal: an empty value that expired a day ago.
    char yesterday[256];
    time_t then = qGetGMTime(yesterday, -86400);
    line = captured_stdout([] { qCookieRemove("n", "/", nullptr, 0); });
    EXPECT_TRUE(matches(line, "Set-Cookie: n=; expires=" + date + "; path=/\n")) << line;
    char now[256];
    if (qGetGMTime(now, -86400) == then) {
        EXPECT_EQ(line, std::string("Set-Cookie: n=; expires=") + yesterday + "; path=/\n");
    }
}

TEST_F(Header, CookieMisuseStopsTheRequest) {
    EXPECT_FATAL((qContentType("text/html"), qCookieSet("n", "v", 0, nullptr, nullptr, 0)),
                 "qCookieSet\\(\\): must be called before qContentType\\(\\) and any stream out\\.\n$");
    EXPECT_FATAL((qContentType("text/html"), qCookieRemove("n", nullptr, nullptr, 0)),
                 "qCookieRemove\\(\\): must be called before qContentType\\(\\) and any stream out\\.\n$");
    EXPECT_FATAL(qCookieSet("n", "v", 0, "cgi-bin", nullptr, 0),
                 "^Error: qCookieSet\\(\\): Path string\\(cgi-bin\\) must start with '/' character\\.\n$");
    EXPECT_FATAL(qCookieSet("n", "v", 0, nullptr, "localhost", 0),
                 "^Error: qCookieSet\\(\\): Invalid domain name\\(localhost\\)\\.\n$");
    EXPECT_FATAL(qCookieSet("n", "v", 0, nullptr, "a.b/c", 0),
                 "^Error: qCookieSet\\(\\): Invalid domain name\\(a\\.b/c\\)\\.\n$");
}

TEST_F(Header, OverlongCookieIsRefusedNotCut) {
    // 4095 bytes of cookie text fit the buffer with its NUL; one more does not.
    std::string value(4093, 'v');
    EXPECT_EQ(captured_stdout([&] { qCookieSet("n", value.c_str(), 0, nullptr, nullptr, 0); }),
              "Set-Cookie: n=" + value + "\n");
    value += 'v';
    EXPECT_FATAL(qCookieSet("n", value.c_str(), 0, nullptr, nullptr, 1),
                 "^Error: qCookieSet\\(\\): Cookie string is too long\\.\n$");
    std::string spaces(1400, ' ');  // each space takes three bytes once encoded
    EXPECT_FATAL(qCookieSet("n", spaces.c_str(), 0, nullptr, nullptr, 0), "Cookie string is too long");
}

TEST_F(Header, RedirectAndScriptPage) {
    EXPECT_EQ(captured_stdout([] { qRedirect("/cgi-bin/index.cgi"); }), "Location: /cgi-bin/index.cgi\n\n");
    EXPECT_EQ(qGetContentFlag(), 0);
    EXPECT_EQ(captured_stdout([] { qJavaScript("alert('%s');", "done"); }),
              "Content-Type: text/html\n\n"
              "<html>\n<head>\n<script language='JavaScript'>\nalert('done');\n</script>\n</head>\n</html>\n");
    EXPECT_EQ(qGetContentFlag(), 1);
    EXPECT_EQ(captured_stdout([] { qJavaScript("%s", "x"); }),
              "<html>\n<head>\n<script language='JavaScript'>\nx\n</script>\n</head>\n</html>\n");

    EXPECT_FATAL((qContentType("text/html"), qRedirect("/")),
                 "qRedirect\\(\\): qRedirect\\(\\) must be called before qContentType\\(\\) and any stream out\\.\n$");
    std::string script(1023, 's');
    qResetContentFlag();
    EXPECT_NE(captured_stdout([&] { qJavaScript("%s", script.c_str()); }).find(script + "\n</script>"), std::string::npos);
    script += 's';
    EXPECT_FATAL(qJavaScript("%s", script.c_str()), "^Error: qJavaScript\\(\\): Message is too long or invalid\\.\n$");
}

}  // namespace
