// The demo appliance's start page, run as the web server runs it, and the
// stand-in firewall daemon that logs what the pages queue.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/sandbox.h"
#include "webadmin.h"

using namespace testing_support;

namespace {

const char *const kBootLog = "/etc/sysconfig/.firewall/eventlog";

Output start_page(const Sandbox &box, const std::string &query = "") {
    return run(box, {BUILD_DIR "/index.cgi"},
               {{"REQUEST_METHOD", "GET"},
                {"QUERY_STRING", query},
                {"SCRIPT_NAME", "/cgi-bin/index.cgi"},
                {"REMOTE_ADDR", "127.0.0.1"},
                {"REMOTE_USER", "admin"}});
}

std::string log_line(const std::string &user, const std::string &message) {
    return "\"0\" \"upgrade\" \"\" \"" + user + "\" \"10.0.0.2\" 0 11 \"" + message + "\"\n";
}

// The event rows: the rows of the events table after its column titles.
std::string event_rows(const std::string &page) {
    std::size_t titles = page.find("<table id=\"events\"");
    std::size_t first = page.find("</tr>\n", titles);
    std::size_t end = page.find("</table>", first);
    if (titles == std::string::npos || first == std::string::npos || end == std::string::npos) return {};
    return page.substr(first + 6, end - first - 6);
}

}  // namespace

TEST(StartPage, ShowsTheVersionAndAnEmptyLog) {
    Sandbox box;
    Output r = start_page(box);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Content-Type: text/html\n\n<html>\n", 0), 0u);
    EXPECT_NE(r.out.find("<title>Demo WA1000</title>"), std::string::npos);
    EXPECT_NE(r.out.find("<td class=\"TitleCol\" width=\"30%\">Firmware Version</td><td id=\"version\">v2.01.05</td>"),
              std::string::npos);
    EXPECT_NE(r.out.find("<a href=\"/cgi-bin/upgrade.cgi?MULTI_LANG=eng\">Upgrade the firmware</a>"), std::string::npos);
    EXPECT_NE(r.out.find("<tr class=\"TleCol\"><td>Boot event log</td></tr>"), std::string::npos);
    EXPECT_NE(r.out.find("<td class=\"DistinctText\">No events recorded yet.</td>"), std::string::npos);
    EXPECT_EQ(r.out.find("TitleCol\">Program"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 26), "</center>\n</body>\n</html>\n");
    // Reading the page changes nothing on the appliance.
    EXPECT_EQ(box.commands(), "");
}

TEST(StartPage, ShowsTheLastTenEventsNewestFirstTranslatedAndEscaped) {
    Sandbox box;
    std::string log;
    for (int i = 1; i <= 8; ++i) log += log_line("old" + std::to_string(i), "${EVENTLOG_FAILURE_STR}");
    log += log_line("<b>admin</b>", "${EVENTLOG_SUCCESS_STR} (v2.01.5 ==> v2.01.6)");
    log += "\n";  // blank lines are not events
    log += "not a log line <script>alert(1)</script>\n";
    log += log_line("admin", "said \"hello\" & ${NO_SUCH_KEY} ${UNCLOSED");
    log += log_line("admin", "${EVENTLOG_SUCCESS_STR} (v2.01.6 ==> v2.01.7)");
    box.write(kBootLog, log);

    Output r = start_page(box);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(event_rows(r.out),
              "<tr><td>upgrade</td><td>admin</td><td>10.0.0.2</td><td>Firmware upgraded (v2.01.6 ==&gt; v2.01.7)</td></tr>\n"
              "<tr><td>upgrade</td><td>admin</td><td>10.0.0.2</td>"
              "<td>said &quot;hello&quot; &amp; ${NO_SUCH_KEY} ${UNCLOSED</td></tr>\n"
              "<tr><td></td><td></td><td></td><td>not a log line &lt;script&gt;alert(1)&lt;/script&gt;</td></tr>\n"
              "<tr><td>upgrade</td><td>&lt;b&gt;admin&lt;/b&gt;</td><td>10.0.0.2</td>"
              "<td>Firmware upgraded (v2.01.5 ==&gt; v2.01.6)</td></tr>\n"
              "<tr><td>upgrade</td><td>old8</td><td>10.0.0.2</td><td>Firmware upgrade failed: invalid image</td></tr>\n"
              "<tr><td>upgrade</td><td>old7</td><td>10.0.0.2</td><td>Firmware upgrade failed: invalid image</td></tr>\n"
              "<tr><td>upgrade</td><td>old6</td><td>10.0.0.2</td><td>Firmware upgrade failed: invalid image</td></tr>\n"
              "<tr><td>upgrade</td><td>old5</td><td>10.0.0.2</td><td>Firmware upgrade failed: invalid image</td></tr>\n"
              "<tr><td>upgrade</td><td>old4</td><td>10.0.0.2</td><td>Firmware upgrade failed: invalid image</td></tr>\n"
              "<tr><td>upgrade</td><td>old3</td><td>10.0.0.2</td><td>Firmware upgrade failed: invalid image</td></tr>\n");
}

TEST(StartPage, CutsHugeLinesAndSpeaksTheRequestedLanguage) {
    Sandbox box;
    box.write(kBootLog, std::string(100000, 'x') + "\n" + log_line("admin", "${EVENTLOG_SUCCESS_STR} (v2.01.5 ==> v2.01.6)"));
    Output r = start_page(box, "MULTI_LANG=sch");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("<td class=\"TitleCol\" width=\"30%\">固件版本</td>"), std::string::npos);
    EXPECT_NE(r.out.find("<tr class=\"TleCol\"><td>开机事件记录</td></tr>"), std::string::npos);
    EXPECT_NE(r.out.find("<a href=\"/cgi-bin/upgrade.cgi?MULTI_LANG=sch\">升级固件</a>"), std::string::npos);
    std::string rows = event_rows(r.out);
    EXPECT_EQ(rows.find("<tr><td>upgrade</td><td>admin</td><td>10.0.0.2</td><td>固件升级成功 (v2.01.5 ==&gt; v2.01.6)</td>"),
              0u);
    EXPECT_NE(rows.find("<tr><td></td><td></td><td></td><td>" + std::string(4096, 'x') + "</td></tr>\n"),
              std::string::npos);
    EXPECT_EQ(rows.find(std::string(4097, 'x')), std::string::npos);
}

TEST(StartPage, ALanguageThatIsNoCodeFallsBackToTheAppliancesOwn) {
    Sandbox box;
    Output r = start_page(box, "MULTI_LANG=%22%3E%3Cscript%3E");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("<a href=\"/cgi-bin/upgrade.cgi?MULTI_LANG=eng\">Upgrade the firmware</a>"), std::string::npos);
    EXPECT_EQ(r.out.find("<script>"), std::string::npos);
}

TEST(StartPage, WithoutSystemInformationStillAnswers) {
    Sandbox box;
    ASSERT_EQ(std::remove(box.file("/etc/system.info").c_str()), 0);
    Output r = start_page(box);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("id=\"version\""), std::string::npos);
    EXPECT_NE(r.out.find("<title>Demo WA1000</title>"), std::string::npos);
    EXPECT_NE(r.out.find("No events recorded yet."), std::string::npos);
}

// Both families' commands reach the log in their own order, more of them than
// a queue holds; those still queued at the stop signal are logged before it ends.
TEST(FirewallDaemon, LogsEachFamilyInOrderAndDrainsOnStop) {
    Sandbox box;
    const pid_t daemon = start(box, {BUILD_DIR "/firewall-daemon", box.root()});
    for (int waited = 0; waited < 10000 && !box.exists("/firewall.log"); ++waited) usleep(1000);  // ready to stop
    std::string ipv4, ipv6;
    for (int i = 0; i < 100; ++i) {
        const std::string rule = "-t nat -A chain" + std::to_string(i) + " -j ACCEPT";
        EXPECT_EQ(my_iptables(4, "[test]f(),L:1=> /sbin/iptables %s", rule.c_str()), 0);
        ipv4 += "/sbin/iptables " + rule + "\n";
        if (i % 40 != 0) continue;
        EXPECT_EQ(my_iptables(6, "[test]f(),L:1=> /sbin/ip6tables %s", rule.c_str()), 0);
        ipv6 += "/sbin/ip6tables " + rule + "\n";
    }
    int status = 0;
    kill(daemon, SIGTERM);
    ASSERT_EQ(waitpid(daemon, &status, 0), daemon);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string logged[2];
    const std::string log = box.read("/firewall.log");
    for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1)
        logged[log.compare(at, 15, "/sbin/ip6tables") == 0] += log.substr(at, end + 1 - at);
    EXPECT_EQ(logged[0], ipv4);
    EXPECT_EQ(logged[1], ipv6);
}
