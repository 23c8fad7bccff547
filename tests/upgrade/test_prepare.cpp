// The lock-down request (q=3) and the help window (q=2).
#include <gtest/gtest.h>

#include "support/hostile.h"
#include "support/sandbox.h"

using namespace testing_support;

namespace {

std::map<std::string, std::string> request(const std::string &query, const std::string &addr) {
    std::map<std::string, std::string> env = {
        {"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}, {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"}};
    if (!addr.empty()) env["REMOTE_ADDR"] = addr;
    return env;
}

}  // namespace

TEST(Prepare, LocksDownToTheBrowserPausesAndAnswersOne) {
    Sandbox box;
    box.write("/var/ap/firmware/a.img", "x");
    box.write("/var/ap/firmware/b.bin", "y");
    box.write("/var/ap/firmware/.keep", "");
    Output r = run_cgi(box, request("q=3", "192.168.1.10"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Content-Type: text/html\n\n1");
    // The mangle chain then starts: tun1, the browser, drop, the old rules.
    EXPECT_EQ(box.commands(),
              "/bin/kill -9 mysqld > /dev/null 2>&1\n"
              "/bin/kill -9 VazaRorire > /dev/null 2>&1\n"
              "/sbin/iptables-static -t mangle -I PREROUTING -s 192.168.1.10 -j ACCEPT\n"
              "/sbin/iptables-static -t mangle -I PREROUTING -i tun1 -j ACCEPT\n"
              "/sbin/iptables-static -t mangle -I PREROUTING 3 -j DROP\n"
              "/usr/bin/killall -STOP vavazUzo > /dev/null 2>&1\n"
              "/usr/sbin/vavazUzo killall > /dev/null 2>&1\n"
              "/bin/umount /mnt > /dev/null 2>&1\n");
    // Access-point firmware is cleared in-process; dot files stay.
    EXPECT_FALSE(box.exists("/var/ap/firmware/a.img"));
    EXPECT_FALSE(box.exists("/var/ap/firmware/b.bin"));
    EXPECT_TRUE(box.exists("/var/ap/firmware/.keep"));
}

TEST(Prepare, OddAddressesStayOneArgument) {
    Sandbox box({"HAVE_HARDDISK=y"});
    // No address: the rule is built from an empty one and the rest goes on.
    EXPECT_EQ(run_cgi(box, request("q=3", "")).out, "Content-Type: text/html\n\n1");
    std::string log = box.commands();
    EXPECT_EQ(log.substr(0, log.find('\n')), "/sbin/iptables-static -t mangle -I PREROUTING -s  -j ACCEPT");
    EXPECT_NE(log.find("/bin/umount /mnt > /dev/null 2>&1\n"), std::string::npos);

    // Whatever the address holds, the rule's shell line gives it to the
    // firewall as one argument and runs nothing else.
    const std::string next_rule = "\n/sbin/iptables-static -t mangle -I PREROUTING -i tun1 -j ACCEPT\n";
    for (const std::string &addr : hostile_values(box.file("/SENTINEL"))) {
        SCOPED_TRACE(addr.substr(0, 60));
        box.write("/commands.log", "");
        EXPECT_EQ(run_cgi(box, request("q=3", addr)).out, "Content-Type: text/html\n\n1");
        std::string recorded = box.commands();
        std::string rule = recorded.substr(0, recorded.find(next_rule));
        std::vector<std::string> expected = {"-t", "mangle", "-I", "PREROUTING", "-s", addr, "-j", "ACCEPT"};
        EXPECT_EQ(run_with_stub(box, rule, "/sbin/iptables-static"), expected);
        EXPECT_FALSE(box.exists("/SENTINEL"));
    }
}

TEST(HelpPage, SameForEveryFlagAndLanguageArgument) {
    Sandbox box;
    std::string page = run_cgi(box, request("q=2", "10.0.0.1")).out;
    EXPECT_EQ(run_cgi(box, request("q=2&flag=7&MULTI_LANG=eng", "10.0.0.1")).out, page);
    EXPECT_EQ(run_cgi(box, request("q=2&flag=undefined&MULTI_LANG=", "10.0.0.1")).out, page);
    for (const char *part : {"<title>Upgrade Help Comment</title>", "<td colspan=2>Firmware Upgrade - Help</td>",
                             "<table border=0 width=450 cellpadding=3 cellspacing=1>", "&nbsp;\xE3\x80\x80 </td>",
                             "<td colspan=2 style=\"color: #ff0000\">Do not switch",
                             "<td align=\"right\" width=\"3%\">4.</td><td align=\"left\">Wait for the count-down"})
        EXPECT_NE(page.find(part), std::string::npos) << part;
    // Another language is chosen by main, before the page is written.
    EXPECT_NE(run_cgi(box, request("q=2&MULTI_LANG=ch", "10.0.0.1")).out.find("韌體更新 - 說明"), std::string::npos);
}
