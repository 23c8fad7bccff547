// Logs and messages: the event log, debug output, daemon senders and the
// management server's messages.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/request.h"
#include "support/hostile.h"
#include "support/network.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace event_log_tests {
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
}  // namespace event_log_tests

namespace debug_tests {
using testing_support::captured_stdout;
using testing_support::Sandbox;

namespace {

const char *marker_name(int i) { return _mydebug_buf + 128 * i; }

}  // namespace

TEST(Debug, WritesOnlyWhileTheMarkerExists) {
    Sandbox box;
    my_debug("page.cpp", 12, "value %d", 5);
    box.write("/var/debug.msg", "");
    my_debug("page.cpp", 12, "value %d", 5);
    EXPECT_EQ(box.commands(), "<sync>\n");
    std::filesystem::remove_all(box.file("/var"));  // without /var the marker is /debug.msg
    box.write("/debug.msg", "");
    my_debug(nullptr, 0, "%s", "no file name");
    EXPECT_EQ(box.commands(), "<sync>\n<sync>\n");
}

TEST(Debug, ProgramMarkersSetTheFlags) {
    Sandbox box;
    my_debug_set_level(0x30);
    my_debug_init("/usr/local/www/cgi-bin/upgrade.cgi");
    const char *suffixes[] = {".print", ".log", ".fp", ".fprm", ".syslog", ".level"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(marker_name(i), std::string("/upgrade") + suffixes[i]);
    EXPECT_EQ(_mydebug_f, 0);
    EXPECT_EQ(_mydebug_level, 0x30);  // no level file: unchanged
    EXPECT_EQ(_mydebug_pid, static_cast<int>(getpid()));
    EXPECT_EQ(box.commands(), "");

    for (const char *name : {"/upgrade.print", "/upgrade.fp", "/upgrade.fprm", "/upgrade.syslog"}) box.write(name, "");
    box.write("/upgrade.level", "1f\n");
    my_debug_init("upgrade");
    EXPECT_EQ(_mydebug_f, 1 | 2 | 4);
    EXPECT_EQ(_mydebug_level, 0x1f);
    EXPECT_EQ(box.commands(), "> /upgrade.log\n");

    // Only the log switch: flag 2 alone; a name of shell characters reaches
    // the shell quoted.
    box.write("/commands.log", "");
    box.write("/a b;c.fp", "");
    box.write("/a b;c.fprm", "");
    my_debug_init("/bin/a b;c.cgi");
    EXPECT_STREQ(marker_name(1), "/a b;c.log");
    EXPECT_EQ(_mydebug_f, 2);
    EXPECT_EQ(box.commands(), "> '/a b;c.log'\n");

    my_debug_init(std::string(300, 'x').c_str());  // cut inside its slot
    EXPECT_EQ(marker_name(5), "/" + std::string(126, 'x'));
}

TEST(Debug, OutputGoesWhereTheFlagsSayAndUsageNamesTheMarkers) {
    Sandbox box;
    box.write("/cgi.print", "");
    box.write("/cgi.fp", "");
    my_debug_init("/cgi");
    my_debug_set_pid(4242);
    my_debug_set_level(0x1);
    EXPECT_EQ(captured_stdout([] {
                  my_debug_printf(0x2, "handler", 17, "masked %d", 1);
                  my_debug_printf(0x3, "handler", 17, "shown %d", 2);
              }),
              "(pid:4242)[handler] 17: shown 2\n");
    // "%D %T" of UTC: digits in the shape 99/99/99 99:99:99.
    EXPECT_TRUE(testing_support::matches(box.read("/cgi.log"),
                                         "[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ==> "
                                         "\\(pid:4242\\)\\[handler\\] 17: shown 2\n"))
        << box.read("/cgi.log");

    // No flag set: nothing, whatever the mask.
    my_debug_init("/quiet");
    EXPECT_EQ(captured_stdout([] { my_debug_printf(0xff, "handler", 1, "silent"); }), "");
    EXPECT_FALSE(box.exists("/quiet.log"));

    my_debug_init("/sbin/tool");
    EXPECT_EQ(captured_stdout(my_debug_usage),
              "\ndebug flag:\n"
              "  echo \"0xFF\" > /tool.level\t: set level (hex)\n"
              "  > /tool.print\t\t: print\n"
              "  > /tool.fp\t\t\t: write to /tool.log\n"
              "  > /tool.fprm\t\t\t: clear /tool.log\n"
              "  > /tool.syslog\t\t: write to syslog\n");
}
}  // namespace debug_tests

// The senders to the appliance's daemons over their local sockets, against
// a listener of the test's own.
namespace sender_tests {
using testing_support::TempRoot;

// A daemon's listening socket at an appliance path.
class Listener {
public:
    Listener(const TempRoot &root, const std::string &appliance_path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
        root.write(appliance_path, "");
        const std::string path = root.file(appliance_path);
        unlink(path.c_str());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound_ = bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && listen(fd_, 4) == 0;
    }
    ~Listener() { close(fd_); }

    bool bound() const { return bound_; }

    // What a connection already made and closed by the sender carried, or
    // nothing when none is waiting.
    std::optional<std::string> take() {
        timeval none{0, 0};
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(fd_, &ready);
        if (select(fd_ + 1, &ready, nullptr, nullptr, &none) != 1) return std::nullopt;
        const int connection = accept(fd_, nullptr, nullptr);
        std::string text;
        char chunk[4096];
        for (ssize_t n; (n = read(connection, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(n));
        close(connection);
        return text;
    }

private:
    int fd_;
    bool bound_ = false;
};

TEST(Sender, CommandsAndQueriesReachTheirDaemonsAsTheyAre) {
    TempRoot root({"/var/run"});
    Listener commands(root, "/var/run/runcommand"), queries(root, "/var/run/SQLQueryd.sock");
    ASSERT_TRUE(commands.bound() && queries.bound());

    EXPECT_EQ(my_sendCmd2sock("/sbin/iptables -F X; echo \"$(id)\"\n"), 0);
    EXPECT_EQ(commands.take(), "/sbin/iptables -F X; echo \"$(id)\"\n");  // bytes, no terminator
    EXPECT_EQ(my_sqlquery_sock("INSERT INTO t VALUES (%d, '%s')", 7, "a b"), 0);
    EXPECT_EQ(queries.take(), "INSERT INTO t VALUES (7, 'a b')");
    const std::string big(60000, 'q');
    EXPECT_EQ(my_sqlquery_sock("%s", big.c_str()), 0);
    EXPECT_EQ(queries.take(), big);
    EXPECT_EQ(commands.take(), std::nullopt);
    EXPECT_EQ(queries.take(), std::nullopt);
    EXPECT_EQ(my_sendCmd2sock(nullptr), -1);
    TempRoot other({"/var/run"});
    other.write("/var/run/SQLQueryd.sock", "a plain file");
    EXPECT_EQ(my_sendCmd2sock("true") + my_sqlquery_sock("x"), -2);  // no daemon listening
}
}  // namespace sender_tests

namespace management_message_tests {
using testing_support::PortServer;
using testing_support::Sandbox;

TEST(ManagementMessage, TcpSenderAndForwardingConditions) {
    Sandbox box;
    PortServer server(box, true);
    const std::string big(200000, 'q');
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1", "c %d %s", 0, "hello") + my_sqlquery_tcp("127.0.0.1", "%s", big.c_str()), 0);
    EXPECT_EQ(server.take(), "c 0 hello");
    EXPECT_EQ(server.take(), big);
    for (const char *address : {"localhost", "127.0.0.1; rm -rf /", "::1"}) EXPECT_EQ(my_sqlquery_tcp(address, "x"), -1) << address;
    EXPECT_EQ(server.take(), std::nullopt);

    WS(37, "127.0.0.1");
    WI(68, 0xfff);
    my_cms_send_message("eventlog_system quota traffic");  // the demo product has no central management
    EXPECT_EQ(server.take(), std::nullopt);
    ASSERT_EQ(SET_DEFINE("HAVE_CMS", "y"), 0);
    for (const char *unset : {"", "^o^"}) {
        WS(37, unset);
        my_cms_send_message("quota exceeded");
    }
    EXPECT_EQ(server.take(), std::nullopt);
    WS(37, "127.0.0.1");
    // Each log kind's bit lets through the texts holding one of its key words, and only those.
    for (auto [bit, word] : {std::pair{0x1, "MAIL_LOG"}, {0x1, "mail_account"}, {0x2, "MAIL_ARCHIVE"}, {0x2, "mail_account"}, {0x4, "WEBFILTER"},
                             {0x4, "DOWNLOAD"}, {0x4, "UPLOAD"}, {0x4, "MIMESCRIPT"}, {0x4, "URLF"}, {0x8, "SNORT"}, {0x8, "idp_log"}, {0x10, "WAF"},
                             {0x10, "waf"}, {0x20, "traffic"}, {0x40, "eventlog"}, {0x80, "CONNTRACK_LOG"}, {0x100, "virus"},
                             {0x200, "application_system"}, {0x400, "session"}, {0x800, "quota"}}) {
        const std::string text = std::string("INSERT INTO `") + word + "` VALUES (1)";
        WI(68, 0xfff & ~bit);
        if (bit != 0x1 && bit != 0x2) my_cms_send_message(text.c_str());
        WI(68, bit);
        my_cms_send_message(text.c_str());
        EXPECT_EQ(server.take(), "c 0 00:11:22:33:44:01 " + text) << bit;
        EXPECT_EQ(server.take(), std::nullopt) << bit;
    }
    my_cms_send_message("Waf block, Traffic");
    EXPECT_EQ(server.take(), std::nullopt);
    PortServer closed(box, false);
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1", "text"), -1);
}
}  // namespace management_message_tests
