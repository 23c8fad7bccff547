// What a request answers and reads: headers, cookies, the error page and its
// log, the CGI environment and time, and the file helpers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "support/request.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using namespace testing_support;

std::string out_of(void (*body)()) {
    qResetContentFlag();
    return captured_stdout(body);
}

TEST(Header, GoldenHeaderLines) {
    const std::pair<void (*)(), std::string> rows[] = {
        {[] { qContentType("text/html"); qContentType("text/plain"); }, "Content-Type: text/html\n\n"},
        {[] { qCookieSet("QSESSIONID", "0123abcd", 0, "/", nullptr, 0); }, "Set-Cookie: QSESSIONID=0123abcd; path=/\n"},
        {[] { qCookieSet("a b", "x y@z.w/:-_", 0, nullptr, nullptr, 0); }, "Set-Cookie: a%20b=x%20y@z.w/:-_\n"},
        {[] { qCookieSet("n", "v;=", 0, "/cgi-bin", "appliance.lan", 1); },
         "Set-Cookie: n=v%3b%3d; path=/cgi-bin; domain=appliance.lan; secure\n"},
        {[] { qCookieSet("n", nullptr, 0, nullptr, nullptr, 0); }, "Set-Cookie: n=\n"},
        {[] { qRedirect("/cgi-bin/index.cgi"); }, "Location: /cgi-bin/index.cgi\n\n"},
        {[] { qJavaScript("alert('%s');", "done"); qJavaScript("x"); },
         "Content-Type: text/html\n\n<html>\n<head>\n<script language='JavaScript'>\nalert('done');\n</script>\n</head>\n</html>\n"
         "<html>\n<head>\n<script language='JavaScript'>\nx\n</script>\n</head>\n</html>\n"},
    };
    for (const auto &[body, out] : rows) EXPECT_EQ(out_of(body), out);
    EXPECT_EQ(out_of([] { qCookieSet("n", "v", 0, nullptr, nullptr, 0); }), "Set-Cookie: n=v\n");
    EXPECT_EQ(qGetContentFlag(), 0) << "cookies do not close the header block";
    const std::string date = "[A-Z][a-z]{2}, [0-9]{2}-[A-Z][a-z]{2}-[0-9]{4} [0-9:]{8} GMT";
    char yesterday[64];
    time_t then = qGetGMTime(yesterday, -86400);
    std::string line = out_of([] { qCookieRemove("n", "/", nullptr, 0); });
    if (qGetGMTime(nullptr, -86400) == then) {
        EXPECT_EQ(line, "Set-Cookie: n=; expires=" + std::string(yesterday) + "; path=/\n");
    }
    EXPECT_TRUE(matches(line, "Set-Cookie: n=; expires=" + date + "; path=/\n")) << line;
    line = out_of([] { qCookieSet("n", "v", 2, nullptr, nullptr, 0); });
    EXPECT_TRUE(matches(line, "Set-Cookie: n=v; expires=" + date + "\n")) << line;

    const std::string value(4093, 'v');  // 4095 bytes of cookie text fit
    EXPECT_EQ(captured_stdout([&] { qCookieSet("n", value.c_str(), 0, nullptr, nullptr, 0); }), "Set-Cookie: n=" + value + "\n");
    EXPECT_FATAL(qCookieSet("n", (value + "v").c_str(), 0, nullptr, nullptr, 1), "^Error: qCookieSet\\(\\): Cookie string is too long\\.\n$");
    EXPECT_FATAL(qCookieSet("n", std::string(1400, ' ').c_str(), 0, nullptr, nullptr, 0), "Cookie string is too long");
    const std::string before = "must be called before qContentType\\(\\) and any stream out\\.\n$";
    EXPECT_FATAL((qContentType("text/html"), qCookieSet("n", "v", 0, nullptr, nullptr, 0)), "qCookieSet\\(\\): " + before);
    EXPECT_FATAL((qContentType("text/html"), qCookieRemove("n", nullptr, nullptr, 0)), "qCookieRemove\\(\\): " + before);
    EXPECT_FATAL((qContentType("text/html"), qRedirect("/")), "qRedirect\\(\\): qRedirect\\(\\) " + before);
    EXPECT_FATAL(qCookieSet("n", "v", 0, "cgi-bin", nullptr, 0), "^Error: qCookieSet\\(\\): Path string\\(cgi-bin\\) must start with '/' character\\.\n$");
    for (std::string domain : {"localhost", "a.b/c"})
        EXPECT_FATAL(qCookieSet("n", "v", 0, nullptr, domain.c_str(), 0), "^Error: qCookieSet\\(\\): Invalid domain name\\(" + domain + "\\)");
    EXPECT_FATAL(qJavaScript("%s", std::string(1024, 's').c_str()), "^Error: qJavaScript\\(\\): Message is too long or invalid\\.\n$");
}

void fail_again(int) { qError("second"); }

TEST(Error, PlainLineAlertPageLogAndState) {
    for (const char *name : {"REMOTE_ADDR", "REMOTE_HOST", "HTTP_USER_AGENT"}) unsetenv(name);
    qResetContentFlag();
    const std::string fits(1023, 'm');
    const std::pair<std::function<void()>, std::string> outside[] = {
        {[] { qError("bad %s %d", "value", 7); }, "Error: bad value 7\n"},
        {[&] { qError("%s", fits.c_str()); }, "Error: " + fits + "\n"},
        {[&] { qError("%s", (fits + "m").c_str()); }, "qError(): Message is too long or invalid."},
    };
    for (const auto &[body, out] : outside) EXPECT_EQ(in_child(body).out, out);

    Sandbox box;
    setenv("REMOTE_ADDR", "10.1.1.1", 1);
    setenv("HTTP_USER_AGENT", "Agent/1.0", 1);
    const std::pair<std::function<void()>, std::string> inside[] = {
        {[] { qErrorLog("/tmp/cgi.err"); qError("Upload failed"); }, error_page("Upload failed")},
        {[] { qContentType("text/html"); qErrorContact(" - call"); qError("x"); }, error_page("x - call")},
        {[] { qErrorContact("C"); qErrorContact(nullptr); setenv("REMOTE_HOST", "admin.lan", 1); qErrorLog("/tmp/cgi.err"); qError("y"); },
         error_page("y")},
        {[] { qErrorContact("!"); qErrorLog("/no/such/dir/cgi.err"); qError("lost"); }, error_page("lost! [ERROR LOGGING FAIL]")},
        {[] { qErrorLog("/tmp/other.err"); qErrorContact(" c"); qContentType("text/html"); qResetState(); qError("plain"); },
         "Content-Type: text/html\n\n" + error_page("plain")},
    };
    for (const auto &[body, out] : inside) {
        Ended e = in_child(body);
        EXPECT_EQ(e.status, 1);
        EXPECT_EQ(e.out, out);
    }
    EXPECT_FALSE(box.exists("/tmp/other.err"));
    const std::string log = box.read("/tmp/cgi.err");
    EXPECT_TRUE(matches(log, "[0-9]{4}/[0-9]{2}/[0-9]{2}\\([0-9]{2}:[0-9]{2}\\) : 'Upload failed' from 10\\.1\\.1\\.1 \\(Agent/1\\.0\\)\n"
                             "[0-9/]{10}\\([0-9:]{5}\\) : 'y' from admin\\.lan \\(Agent/1\\.0\\)\n"))
        << log;

    // The page cannot be written and the broken pipe's handler reports again:
    // the process ends at once, logging the first error only.
    Ended e = in_child([] {
        int fds[2];
        if (pipe(fds) != 0) _exit(9);
        close(fds[0]);
        dup2(fds[1], 1);
        signal(SIGPIPE, fail_again);
        qErrorLog("/tmp/pipe.err");
        qError("first");
    });
    EXPECT_EQ(e.status, 1);
    EXPECT_TRUE(matches(box.read("/tmp/pipe.err"), "[^\n]* : 'first' from [^\n]*\n"));
}

TEST(CgiEnv, VariablesNameTimeAndRecord) {
    setenv("WA_TEST_VAR", "", 1);
    EXPECT_STREQ(qGetenvDefault("dflt", "WA_TEST_VAR"), "");
    unsetenv("WA_TEST_VAR");
    EXPECT_STREQ(qGetenvDefault("dflt", "WA_TEST_VAR"), "dflt");
    unsetenv("SCRIPT_NAME");
    EXPECT_EQ(qCGIname(), nullptr);
    for (auto [script, name] : {std::pair<std::string, std::string>{"/cgi-bin/directory.cgi", "directory.cgi"},
                                {"C:\\web\\cgi\\upgrade.cgi ", "upgrade.cgi"}, {" index.cgi", "index.cgi"}, {"/cgi-bin/", ""},
                                {"/" + std::string(400, 'd') + "/upgrade.cgi", "upgrade.cgi"},
                                {"/cgi-bin/" + std::string(300, 'w'), std::string(255, 'w')}}) {
        setenv("SCRIPT_NAME", script.c_str(), 1);
        EXPECT_EQ(qCGIname(), name);
    }

    setenv("REMOTE_ADDR", "192.168.1.5", 1);
    unsetenv("REMOTE_HOST");
    setenv("SCRIPT_NAME", "/cgi-bin/upgrade.cgi", 1);
    setenv("UNIQUE_ID", "u1", 1);
    unsetenv("AUTH_TYPE");
    q_cgi_env env;
    qCGIEnvironment(&env);
    EXPECT_STREQ(env.remote_host, "192.168.1.5");
    EXPECT_STREQ(env.script_name, "/cgi-bin/upgrade.cgi");
    EXPECT_STREQ(env.unique_id, "u1");
    EXPECT_EQ(env.auth_type, nullptr);
    const struct tm *now = qGetTime();
    time_t clock = time(nullptr);
    struct tm local;
    localtime_r(&clock, &local);
    EXPECT_EQ(now->tm_year, local.tm_year + 1900);
    EXPECT_EQ(now->tm_mon, local.tm_mon + 1);
    EXPECT_EQ(env.day, now->tm_mday);
    EXPECT_EQ(env.mon, now->tm_mon);
    char date[16];
    snprintf(date, sizeof date, "%04d%02d", now->tm_year, now->tm_mon);
    const std::string stamp = qGetTimeStamp();
    EXPECT_EQ(stamp.size(), 14u);
    EXPECT_EQ(stamp.substr(0, 6), date);

    char buf[64];
    time_t used = qGetGMTime(buf, 86400 * 365 + 3600 * 13 + 60 * 7 - time(nullptr));
    EXPECT_EQ(std::string(buf, 24), "Fri, 01-Jan-1971 13:07:0") << buf;
    EXPECT_LE(used, 86400 * 365 + 3600 * 13 + 60 * 7 + 1);
}

bool lock_is_free(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY);
    bool free_now = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free_now;
}

TEST(File, LinesLocksWholeFilesAndSaving) {
    Sandbox box;
    const std::string edge(1023, 'y'), wide(5000, 'x');
    box.write("/etc/lines", "first\n\n" + edge + "\n" + wide + "\nlast");
    FILE *fp = qfopen("/etc/lines", "r");
    ASSERT_NE(fp, nullptr);
    EXPECT_FALSE(lock_is_free(box.file("/etc/lines")));
    for (const std::string &expected : std::vector<std::string>{"first\n", "\n", edge + "\n", wide + "\n", "last"}) {
        char *line = qfGetLine(fp);
        EXPECT_EQ(line ? std::string(line) : "<null>", expected);
        free(line);
    }
    EXPECT_EQ(qfGetLine(fp), nullptr);
    EXPECT_EQ(qfclose(fp), 0);
    EXPECT_TRUE(lock_is_free(box.file("/etc/lines")));
    EXPECT_EQ(qfopen("/etc/no/file", "r"), nullptr);

    const std::string content = std::string(10000, 'c') + std::string("\0end", 4);
    box.write("/etc/page.html", content);
    int size = -1;
    char *data = qReadFile("/etc/page.html", &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(std::string(data, content.size() + 1), content + '\0');
    EXPECT_EQ(size, static_cast<int>(content.size()));
    free(data);
    EXPECT_EQ(qReadFile("/etc", &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(qFileSize("/etc/page.html"), static_cast<int>(content.size()));
    EXPECT_EQ(qFileSize("/etc/none"), -1);
    EXPECT_EQ(qCheckFile("/etc/%s", "page.html"), 1);
    EXPECT_EQ(qCheckFile("/etc/%s", "none"), 0);
    int n = 0;
    EXPECT_EQ(captured_stdout([&] { n = qCatFile("/etc/%s.html", "page"); }), content);
    EXPECT_EQ(n, static_cast<int>(content.size()));
    EXPECT_EQ(qCatFile("/etc/missing"), -1);
    const std::string long_name = "/" + std::string(1023, 'n');
    EXPECT_FATAL(qCheckFile("%s", long_name.c_str()), "^Error: qCheckFile\\(\\): File name is too long or invalid\\.\n$");
    EXPECT_FATAL(qCatFile("%s", long_name.c_str()), "^Error: qCatFile\\(\\): File name is too long or invalid\\.\n$");

    EXPECT_EQ(qSaveData("abc\0d", 5, "/tmp/saved", "wb"), 5);
    EXPECT_EQ(qSaveData("ef", 2, "/tmp/saved", "ab"), 2);
    EXPECT_EQ(box.read("/tmp/saved"), std::string("abc\0def", 7));
    EXPECT_EQ(qSaveData("x", 1, "/no/such/dir/file", "wb"), -1);
    EXPECT_EQ(box.commands(), "");
    // An upload already spilled to disk is moved there, the target quoted.
    box.write("/database/.qUploadFile", "spilled");
    box.write("/tmp/target", "1234");
    EXPECT_EQ(qSaveData("ignored", 7, "/tmp/target", "wb"), 4);
    EXPECT_EQ(qSaveData("", 0, "/tmp/a \"b\" $(reboot) `x` \\", "wb"), -1);
    EXPECT_EQ(box.commands(), "/bin/mv /database/.qUploadFile \"/tmp/target\"\n"
                              "/bin/mv /database/.qUploadFile \"/tmp/a \\\"b\\\" \\$(reboot) \\`x\\` \\\\\"\n");
}

}  // namespace
