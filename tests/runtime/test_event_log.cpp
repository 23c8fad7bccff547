#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/hostile.h"
#include "support/port_server.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using testing_support::hostile_values;
using testing_support::PortServer;
using testing_support::run_with_stub;
using testing_support::Sandbox;

class EventLog : public ::testing::Test {
protected:
    void SetUp() override {
        request("");
        user(nullptr, nullptr);
        box_.write("/proc/uptime", "1234.56 4321.00\n");
        box_.write("/var/log/.keep", "");
        // The demo product has no central management.
        ASSERT_EQ(SET_DEFINE("HAVE_CMS", "y"), 0);
    }
    void TearDown() override {
        qFree();
        for (const char *name : {"QUERY_STRING", "REQUEST_METHOD", "REMOTE_USER", "REMOTE_ADDR"}) unsetenv(name);
    }
    // A new request with this query string.
    void request(const char *query) {
        qFree();
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", query, 1);
    }
    void user(const char *name, const char *address) {
        for (auto [variable, value] : {std::pair{"REMOTE_USER", name}, std::pair{"REMOTE_ADDR", address}})
            value ? setenv(variable, value, 1) : unsetenv(variable);
    }
    // The remote log service is on, and the English texts it needs are there.
    void remote_log_on(uint32_t on = 1) {
        memcpy(RS(23) + 12, &on, sizeof on);
        box_.write("/etc/language/eng/eventlog", "EVENTLOG_TITLE \"Event log\"\n");
        box_.write("/etc/language/eng/menu.apc",
                   "# Menu texts of the wireless products, one per menu number.\n"
                   "MENU_0 \"Home\"\nMENU_1 \"System\"\nMENU_2 \"Network\"\nMENU_3 \"Administration\"\n"
                   "MENU_4 \"Firmware\"\n");
    }
    std::string command_log() const { return box_.commands(); }
    void clear_commands() const { box_.write("/commands.log", ""); }

    Sandbox box_;
};

// The remote text "<134>... (date)": the part before the date, and the date
// in asctime form.
void split_remote_text(const std::string &text, std::string &head, std::string &date) {
    size_t open = text.rfind(" (");
    ASSERT_NE(open, std::string::npos) << text;
    head = text.substr(0, open);
    date = text.substr(open + 2);
    ASSERT_EQ(date.size(), 26u) << text;  // "Wed Jun 30 21:49:08 1993\n)"
    EXPECT_EQ(date.substr(24), "\n)");
}

}  // namespace

TEST_F(EventLog, NormalAndBootLogLines) {
    request("menulv=3_12");
    user("admin", "192.168.1.10");
    my_CGI_log("upgrade", 11, "${EVENTLOG_FAILURE_STR}", "detail one", "detail two");
    request("menu=click_v%3D4%26click_v%3D2");
    my_mail_notice_log("Virus found", "mail held", "detail");
    request("");
    user(nullptr, "192.168.1.10");
    my_CGI_log("upgrade", 11, "no menu", nullptr, nullptr);
    my_mail_notice_log(nullptr, nullptr, nullptr);
    my_eventlog_args("dhcp", nullptr, nullptr, 5, "lease", nullptr, nullptr);
    event_record record{0, "vpn", "click_v=7", "root", "10.0.0.2", 1, 3, "tunnel up", nullptr, nullptr};
    my_eventlog(&record);
    my_eventlog(nullptr);
    EXPECT_EQ(box_.read("/var/log/eventlog"),
              "\"1234\" \"upgrade\" \"3_12\" \"admin\" \"192.168.1.10\" 0 11 \"${EVENTLOG_FAILURE_STR}\"\n"
              "\"1234\" \"mail_notice\" \"4_2\" \"Inspect: Virus found\" \"192.168.1.10\" 0 10 \"mail held\"\n"
              "\"1234\" \"upgrade\" \"\" \"\" \"192.168.1.10\" 0 11 \"no menu\"\n"
              "\"1234\" \"mail_notice\" \"\" \"Inspect: \" \"192.168.1.10\" 0 10 \"\"\n"
              "\"1234\" \"dhcp\" \"\" \"\" \"\" 0 5 \"lease\"\n"
              "\"1234\" \"vpn\" \"7\" \"root\" \"10.0.0.2\" 1 3 \"tunnel up\"\n");
    // Nothing is forwarded while management and remote logging are off.
    EXPECT_EQ(box_.commands(), "");
    EXPECT_FALSE(box_.exists("/etc/sysconfig/.firewall/eventlog"));

    // The boot log: time "0", and each event copied to flash before the call returns.
    const std::string flash_copy =
        "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
        "/bin/cp /etc/sysconfig/.firewall/eventlog /mnt > /dev/null 2>&1\n"
        "/bin/umount /mnt > /dev/null 2>&1\n";
    my_CGI_bootlog("upgrade", 11, "${EVENTLOG_SUCCESS_STR} (v1.02.3 ==> v1.03.0)", nullptr, nullptr);
    EXPECT_EQ(box_.commands(), flash_copy);
    my_bootlog_args("upgrade", "admin", "192.168.1.10", 11, "done", nullptr, nullptr);
    EXPECT_EQ(box_.read("/etc/sysconfig/.firewall/eventlog"),
              "\"0\" \"upgrade\" \"\" \"\" \"192.168.1.10\" 0 11 \"${EVENTLOG_SUCCESS_STR} (v1.02.3 ==> v1.03.0)\"\n"
              "\"0\" \"upgrade\" \"\" \"admin\" \"192.168.1.10\" 0 11 \"done\"\n");
    EXPECT_EQ(box_.commands(), flash_copy + flash_copy);

    // Without a readable uptime the time is 0.
    box_.write("/proc/uptime", "");
    my_eventlog_args("dhcp", nullptr, nullptr, 5, "again", nullptr, nullptr);
    std::string log = box_.read("/var/log/eventlog");
    EXPECT_EQ(log.substr(log.rfind("\"0\"")), "\"0\" \"dhcp\" \"\" \"\" \"\" 0 5 \"again\"\n");
}

TEST_F(EventLog, FieldsWithQuotesAndLineBreaksReadBackWhole) {
    my_eventlog_args("pro\"gram", "ad\"min\\", "1.2.3.4\r\n\"", 2, "two\nlines \"quoted\" \\n end\\", nullptr, nullptr);
    std::string log = box_.read("/var/log/eventlog");
    ASSERT_EQ(log.find('\n'), log.size() - 1) << log;
    char *fields[10];
    ASSERT_EQ(string_parse(fields, 10, log.data()), 8) << log;
    const char *expected[] = {"1234",        "pro\"gram", "",  "ad\"min\\",
                              "1.2.3.4  \"", "0",         "2", "two lines \"quoted\" \\n end\\"};
    for (int i = 0; i < 8; ++i) EXPECT_STREQ(fields[i], expected[i]) << i;
}

TEST_F(EventLog, StatementForTheManagementServer) {
    PortServer server(box_);
    WS(37, "127.0.0.1");
    WI(59, 1);
    WI(68, 0x40);
    const std::string insert = "c 0 00:11:22:33:44:01 INSERT INTO `MONITOR_LOG_" + std::string(my_getDate(0)) +
                               "`.`eventlog_system` (`STime`, `Program`, `Explain`, `Name`, `IP`, `Event`, `Type`, "
                               "`Msg`, `detail1`, `detail2`) VALUES (NOW(), ";
    request("menu=click_v%3D3");
    user("o'brien", "192.168.1.10");
    my_CGI_log("upgrade", 11, "it's \"done\"", nullptr, nullptr);
    EXPECT_EQ(server.take(),
              insert + "'upgrade', 'click_v=3', 'o\\'brien', '192.168.1.10', 0, 11, 'it\\'s \\\"done\\\"', '', '')");
    EXPECT_EQ(server.take(), std::nullopt);

    // Missing texts are empty, the address is escaped too; the boot log forwards as well.
    user(nullptr, nullptr);
    my_bootlog_args(nullptr, nullptr, nullptr, 4, nullptr, nullptr, nullptr);
    EXPECT_EQ(server.take(), insert + "'', ' ', '', '', 0, 4, '', '', '')");
    my_eventlog_args("dhcp", "x", "1.2.3.4', 'y", 5, "lease", nullptr, nullptr);
    EXPECT_EQ(server.take(), insert + "'dhcp', ' ', 'x', '1.2.3.4\\', \\'y', 0, 5, 'lease', '', '')");

    // Integer 59 off, or bit 0x40 clear: no statement.
    WI(59, 0);
    my_CGI_log("upgrade", 11, "off", nullptr, nullptr);
    EXPECT_EQ(server.take(), std::nullopt);
    WI(59, 1);
    WI(68, 0x800 | 0x20);
    my_CGI_log("upgrade", 11, "other kinds", nullptr, nullptr);
    EXPECT_EQ(server.take(), std::nullopt);

    // A log that cannot be opened suppresses the event and its forwarding.
    WI(68, 0x40);
    remote_log_on();
    clear_commands();
    std::filesystem::remove(box_.file("/etc/sysconfig/.firewall/eventlog"));
    std::filesystem::create_directory(box_.file("/etc/sysconfig/.firewall/eventlog"));
    my_CGI_bootlog("upgrade", 11, "lost", nullptr, nullptr);
    EXPECT_EQ(server.take(), std::nullopt);
    EXPECT_EQ(box_.commands(), "");
}

TEST_F(EventLog, RemoteLogText) {
    remote_log_on();
    request("menulv=1_4");
    user(nullptr, "192.168.1.10");
    my_CGI_log("upgrade", 11, "${EVENTLOG_FAILURE_STR}", nullptr, nullptr);

    // Translated for the remote service, untranslated in the file; no user
    // means the address follows the priority prefix directly.
    EXPECT_EQ(box_.read("/var/log/eventlog"),
              "\"1234\" \"upgrade\" \"1_4\" \"\" \"192.168.1.10\" 0 11 \"${EVENTLOG_FAILURE_STR}\"\n");
    const std::string log = box_.commands();
    const std::string start = "/usr/sbin/send_logmsg -u -d MONITOR_LOG -t eventlog_system -m \"";
    const std::string end = "\" > /dev/null &\n";
    ASSERT_TRUE(log.starts_with(start) && log.ends_with(end) && log.size() >= start.size() + end.size()) << log;
    std::string head, date;
    split_remote_text(log.substr(start.size(), log.size() - start.size() - end.size()), head, date);
    EXPECT_EQ(head, "<134> (192.168.1.10) [System->Firmware] Firmware upgrade failed: invalid image");

    // The start of the remote text of one event.
    auto remote_text = [&](auto &&log_event) {
        clear_commands();
        log_event();
        std::string sent = box_.commands();
        return sent.starts_with(start) ? sent.substr(start.size(), sent.find(" (", start.size()) - start.size()) : sent;
    };
    auto upgrade_event = [] { my_CGI_log("upgrade", 11, "plain text", nullptr, nullptr); };
    // No menu: "---", and the menu texts are not loaded.
    request("");
    user("admin", nullptr);
    std::strcpy(menu_str[0], "untouched");
    EXPECT_EQ(remote_text(upgrade_event), "<134>admin [---] plain text");
    EXPECT_STREQ(menu_str[0], "untouched");
    // Menu numbers without a text give empty pieces; a blank menu is none.
    request("menu=click_v%3D0%26click_v%3D299%26click_v%3D99999999999999999999%26x%3Dy");
    EXPECT_EQ(remote_text(upgrade_event), "<134>admin [Home->->] plain text");
    EXPECT_EQ(remote_text([] { my_eventlog_args("dhcp", "admin", "", 5, "lease", nullptr, nullptr); }),
              "<134>admin [---] lease");
    // Without the products' wireless menu the plain menu list is used.
    ASSERT_EQ(DEL_DEFINE("HAVE_WIRELESS"), 0);
    box_.write("/etc/language/eng/menu", "MENU_0 \"Start\"\n");
    request("menulv=0");
    EXPECT_EQ(remote_text(upgrade_event), "<134>admin [Start] plain text");
    EXPECT_STREQ(icons_path, "../icons_eng/");
    // A menu list that went missing leaves the texts loaded before.
    std::remove(box_.file("/etc/language/eng/menu").c_str());
    EXPECT_EQ(remote_text(upgrade_event), "<134>admin [Start] plain text");

    // No English texts at all, or the service off: no command.
    box_.write("/etc/language/eng/eventlog", "");
    EXPECT_EQ(remote_text([] { my_eventlog_args("nothing-known", "admin", nullptr, 5, "lease", nullptr, nullptr); }),
              "");
    remote_log_on(0);
    EXPECT_EQ(remote_text(upgrade_event), "");
}

// The recorded command line run by /bin/sh, with the log sender replaced by
// a stub that stores each argument: request values arrive as data and no
// command hidden in them runs.
TEST_F(EventLog, RemoteTextIsDataForTheShell) {
    remote_log_on();
    for (const std::string &value : hostile_values(box_.file("/SENTINEL"))) {
        SCOPED_TRACE(value.substr(0, 60));
        request(("menu=click_v%3D1" + value).c_str());
        // The web server's own user and address are short; a message may
        // be as long as a request (three of 64 KiB would pass the kernel's
        // limit for one argument).
        const std::string &from_server = value.size() < 4096 ? value : "admin";
        setenv("REMOTE_USER", from_server.c_str(), 1);
        setenv("REMOTE_ADDR", from_server.c_str(), 1);
        clear_commands();
        my_CGI_log(value.c_str(), 11, value.c_str(), nullptr, nullptr);

        std::vector<std::string> args = run_with_stub(box_, command_log(), "/usr/sbin/send_logmsg");
        EXPECT_FALSE(box_.exists("/SENTINEL"));
        ASSERT_EQ(args.size(), 7u);
        std::vector<std::string> options(args.begin(), args.begin() + 6);
        EXPECT_EQ(options, (std::vector<std::string>{"-u", "-d", "MONITOR_LOG", "-t", "eventlog_system", "-m"}));
        std::string head, date;
        split_remote_text(args[6], head, date);
        EXPECT_EQ(head, "<134>" + from_server + " (" + from_server + ") [System] " + value);
    }
}
