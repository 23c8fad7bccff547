// Logs and messages: the event log, debug output, daemon senders and the management server's messages.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <filesystem>

#include "support/hostile.h"
#include "support/network.h"
#include "support/request.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using testing_support::captured_stdout;
using testing_support::PortServer;
using testing_support::Sandbox;
using Texts = std::vector<std::string>;

// What reached the management server since it was last asked, in order.
Texts sent(PortServer &server) {
    Texts texts;
    while (auto text = server.take()) texts.push_back(*text);
    return texts;
}

class EventLog : public ::testing::Test {
protected:
    void SetUp() override {
        request("", nullptr, nullptr);
        box_.write("/proc/uptime", "1234.56 4321.00\n");
        box_.write("/var/log/.keep", "");
        ASSERT_EQ(SET_DEFINE("HAVE_CMS", "y"), 0);  // the demo product has no central management
    }
    void TearDown() override {
        request("", nullptr, nullptr);
        testing_support::clear_request_env();
    }
    // A new request with this query string, from this user and address (null: unset).
    static void request(const char *query, const char *name, const char *address) {
        qFree();
        setenv("REQUEST_METHOD", "GET", 1);
        setenv("QUERY_STRING", query, 1);
        for (auto [variable, value] : {std::pair{"REMOTE_USER", name}, std::pair{"REMOTE_ADDR", address}})
            value ? setenv(variable, value, 1) : unsetenv(variable);
    }
    // The remote log service on or off, and the English texts it needs.
    void remote_log(uint32_t on) {
        memcpy(RS(23) + 12, &on, sizeof on);
        box_.write("/etc/language/eng/eventlog", "EVENTLOG_TITLE \"Event log\"\n");
        box_.write("/etc/language/eng/menu.apc", "# Menu texts of the wireless products, one per menu number.\n"
                                                 "MENU_0 \"Home\"\nMENU_1 \"System\"\nMENU_2 \"Network\"\n"
                                                 "MENU_3 \"Administration\"\nMENU_4 \"Firmware\"\n");
    }
    // The remote text of the event logged, up to its date, or all that was run when it is no log sender's.
    std::string remote_text(const std::function<void()> &log_event) {
        box_.write("/commands.log", "");
        log_event();
        const std::string sent = box_.commands(), end = "\" > /dev/null &\n";
        const std::string start = "/usr/sbin/send_logmsg -u -d MONITOR_LOG -t eventlog_system -m \"";
        // The date in asctime's form, its line end included: " (Wed Jun 30 21:49:08 1993\n)".
        const size_t date = sent.rfind(" (");
        if (!sent.starts_with(start) || !sent.ends_with("\n)" + end) || sent.size() - date != 2 + 26 + end.size())
            return sent;
        return sent.substr(start.size(), date - start.size());
    }

    Sandbox box_;
};

// The lines of the event log, their fields quoted and kept on one line, and of the boot log, which is copied to
// flash after each event.
TEST_F(EventLog, NormalAndBootLogLines) {
    request("menulv=3_12", "admin", "192.168.1.10");
    my_CGI_log("upgrade", 11, "${EVENTLOG_FAILURE_STR}", "detail one", "detail two");
    request("menu=click_v%3D4%26click_v%3D2", "admin", "192.168.1.10");
    my_mail_notice_log("Virus found", "mail held", "detail");
    request("", nullptr, "192.168.1.10");
    my_CGI_log("upgrade", 11, "no menu", nullptr, nullptr);
    my_mail_notice_log(nullptr, nullptr, nullptr);
    my_eventlog_args("dhcp", nullptr, nullptr, 5, "lease", nullptr, nullptr);
    event_record record{0, "vpn", "click_v=7", "root", "10.0.0.2", 1, 3, "tunnel up", nullptr, nullptr};
    my_eventlog(&record);
    my_eventlog(nullptr);
    box_.write("/proc/uptime", "");  // no readable uptime: time 0
    my_eventlog_args("pro\"gram", "ad\"min\\", "1.2.3.4\r\n\"", 2, "two\nlines \"quoted\" \\n end\\", 0, 0);
    EXPECT_EQ(box_.read("/var/log/eventlog"),
              "\"1234\" \"upgrade\" \"3_12\" \"admin\" \"192.168.1.10\" 0 11 \"${EVENTLOG_FAILURE_STR}\"\n"
              "\"1234\" \"mail_notice\" \"4_2\" \"Inspect: Virus found\" \"192.168.1.10\" 0 10 \"mail held\"\n"
              "\"1234\" \"upgrade\" \"\" \"\" \"192.168.1.10\" 0 11 \"no menu\"\n"
              "\"1234\" \"mail_notice\" \"\" \"Inspect: \" \"192.168.1.10\" 0 10 \"\"\n"
              "\"1234\" \"dhcp\" \"\" \"\" \"\" 0 5 \"lease\"\n"
              "\"1234\" \"vpn\" \"7\" \"root\" \"10.0.0.2\" 1 3 \"tunnel up\"\n"
              "\"0\" \"pro\\\"gram\" \"\" \"ad\\\"min\\\\\" \"1.2.3.4  \\\"\" 0 2 \"two lines \\\"quoted\\\" "
              "\\\\n end\\\\\"\n");
    // Nothing is forwarded while management and remote logging are off.
    EXPECT_EQ(box_.commands(), "");
    EXPECT_FALSE(box_.exists("/etc/sysconfig/.firewall/eventlog"));

    const std::string flash_copy = "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
                                   "/bin/cp /etc/sysconfig/.firewall/eventlog /mnt > /dev/null 2>&1\n"
                                   "/bin/umount /mnt > /dev/null 2>&1\n";
    my_CGI_bootlog("upgrade", 11, "${EVENTLOG_SUCCESS_STR} (v1.02.3 ==> v1.03.0)", nullptr, nullptr);
    EXPECT_EQ(box_.commands(), flash_copy);
    my_bootlog_args("upgrade", "admin", "192.168.1.10", 11, "done", nullptr, nullptr);
    EXPECT_EQ(box_.read("/etc/sysconfig/.firewall/eventlog"),
              "\"0\" \"upgrade\" \"\" \"\" \"192.168.1.10\" 0 11 \"${EVENTLOG_SUCCESS_STR} (v1.02.3 ==> v1.03.0)\"\n"
              "\"0\" \"upgrade\" \"\" \"admin\" \"192.168.1.10\" 0 11 \"done\"\n");
    EXPECT_EQ(box_.commands(), flash_copy + flash_copy);
}

// The SQL statement each event sends the management server, its texts escaped, and when none goes.
TEST_F(EventLog, StatementForTheManagementServer) {
    PortServer server(box_);
    WS(37, "127.0.0.1");
    WI(59, 1);
    WI(68, 0x40);
    const std::string insert = "c 0 00:11:22:33:44:01 INSERT INTO `MONITOR_LOG_" + std::string(my_getDate(0)) +
                               "`.`eventlog_system` (`STime`, `Program`, `Explain`, `Name`, `IP`, `Event`, `Type`, "
                               "`Msg`, `detail1`, `detail2`) VALUES (NOW(), ";
    request("menu=click_v%3D3", "o'brien", "192.168.1.10");
    my_CGI_log("upgrade", 11, "it's \"done\"", nullptr, nullptr);
    request("", nullptr, nullptr);  // missing texts are empty, the address is escaped too; the boot log forwards
    my_bootlog_args(nullptr, nullptr, nullptr, 4, nullptr, nullptr, nullptr);
    my_eventlog_args("dhcp", "x", "1.2.3.4', 'y", 5, "lease", nullptr, nullptr);
    EXPECT_EQ(sent(server),
              (Texts{insert + "'upgrade', 'click_v=3', 'o\\'brien', '192.168.1.10', 0, 11, 'it\\'s \\\"done\\\"', "
                              "'', '')",
                     insert + "'', ' ', '', '', 0, 4, '', '', '')",
                     insert + "'dhcp', ' ', 'x', '1.2.3.4\\', \\'y', 0, 5, 'lease', '', '')"}));
    // Integer 59 off, or bit 0x40 clear: no statement.
    for (auto [on, kinds] : {std::pair{0, 0x40}, {1, 0x800 | 0x20}}) {
        WI(59, on);
        WI(68, kinds);
        my_CGI_log("upgrade", 11, "off", nullptr, nullptr);
        EXPECT_EQ(sent(server), Texts{}) << kinds;
    }
    // A log that cannot be opened suppresses the event and its forwarding.
    WI(68, 0x40);
    remote_log(1);
    box_.write("/commands.log", "");
    box_.remove("/etc/sysconfig/.firewall/eventlog");
    std::filesystem::create_directory(box_.file("/etc/sysconfig/.firewall/eventlog"));
    my_CGI_bootlog("upgrade", 11, "lost", nullptr, nullptr);
    EXPECT_EQ(sent(server), Texts{});
    EXPECT_EQ(box_.commands(), "");
}

// The remote log text: translated for the remote service, the path of menu texts, and when none goes.
TEST_F(EventLog, RemoteLogText) {
    remote_log(1);
    auto failure = [] { my_CGI_log("upgrade", 11, "${EVENTLOG_FAILURE_STR}", nullptr, nullptr); };
    auto plain = [] { my_CGI_log("upgrade", 11, "plain text", nullptr, nullptr); };
    request("menulv=1_4", nullptr, "192.168.1.10");  // no user: the address follows the prefix directly
    EXPECT_EQ(remote_text(failure), "<134> (192.168.1.10) [System->Firmware] Firmware upgrade failed: invalid image");
    EXPECT_EQ(box_.read("/var/log/eventlog"),
              "\"1234\" \"upgrade\" \"1_4\" \"\" \"192.168.1.10\" 0 11 \"${EVENTLOG_FAILURE_STR}\"\n");
    request("", "admin", nullptr);  // no menu: "---", and the menu texts are not loaded
    strcpy(menu_str[0], "untouched");
    EXPECT_EQ(remote_text(plain), "<134>admin [---] plain text");
    EXPECT_STREQ(menu_str[0], "untouched");
    // Menu numbers without a text give empty pieces; a blank menu is none.
    request("menu=click_v%3D0%26click_v%3D299%26click_v%3D99999999999999999999%26x%3Dy", "admin", nullptr);
    EXPECT_EQ(remote_text(plain), "<134>admin [Home->->] plain text");
    EXPECT_EQ(remote_text([] { my_eventlog_args("dhcp", "admin", "", 5, "lease", 0, 0); }), "<134>admin [---] lease");
    event_record unknown_kind{0, "dhcp", nullptr, "root", nullptr, 7, 5, "lease", nullptr, nullptr};
    EXPECT_EQ(remote_text([&] { my_eventlog(&unknown_kind); }), "<134>root [---] lease");  // the first table's name
    // Without the products' wireless menu the plain menu list is used; one that went missing leaves the texts.
    ASSERT_EQ(DEL_DEFINE("HAVE_WIRELESS"), 0);
    box_.write("/etc/language/eng/menu", "MENU_0 \"Start\"\n");
    request("menulv=0", "admin", nullptr);
    EXPECT_EQ(remote_text(plain), "<134>admin [Start] plain text");
    EXPECT_STREQ(icons_path, "../icons_eng/");
    box_.remove("/etc/language/eng/menu");
    EXPECT_EQ(remote_text(plain), "<134>admin [Start] plain text");
    // No English texts at all, or the service off: no command.
    box_.write("/etc/language/eng/eventlog", "");
    EXPECT_EQ(remote_text([] { my_eventlog_args("nothing-known", "admin", nullptr, 5, "lease", 0, 0); }), "");
    remote_log(0);
    EXPECT_EQ(remote_text(plain), "");
}

// The recorded command line run by /bin/sh, the log sender a stub that stores each argument: request values
// arrive as data and no command hidden in them runs.
TEST_F(EventLog, RemoteTextIsDataForTheShell) {
    remote_log(1);
    for (const std::string &value : testing_support::hostile_values(box_.file("/SENTINEL"))) {
        SCOPED_TRACE(value.substr(0, 60));
        // The web server's user and address are short; three messages of 64 KiB would pass the kernel's limit.
        const std::string &from_server = value.size() < 4096 ? value : "admin";
        request(("menu=click_v%3D1" + value).c_str(), from_server.c_str(), from_server.c_str());
        box_.write("/commands.log", "");
        my_CGI_log(value.c_str(), 11, value.c_str(), nullptr, nullptr);
        Texts args = testing_support::run_with_stub(box_, box_.commands(), "/usr/sbin/send_logmsg");
        EXPECT_FALSE(box_.exists("/SENTINEL"));
        ASSERT_EQ(args.size(), 7u);
        EXPECT_EQ(args[6].size() - args[6].rfind(" ("), 2 + 26u);  // the date
        args[6].resize(args[6].rfind(" ("));
        EXPECT_EQ(args, (Texts{"-u", "-d", "MONITOR_LOG", "-t", "eventlog_system", "-m",
                               "<134>" + from_server + " (" + from_server + ") [System] " + value}));
    }
}

// The debug marker (in /var, or at the root without it) lets my_debug write and sync; a program's marker files
// set the flags and the level, and its output goes where the flags say.
TEST(Debug, MarkersSetTheFlagsAndOutput) {
    Sandbox box;
    my_debug("page.cpp", 12, "value %d", 5);
    box.write("/var/debug.msg", "");
    my_debug("page.cpp", 12, "value %d", 5);
    EXPECT_EQ(box.commands(), "<sync>\n");
    std::filesystem::remove_all(box.file("/var"));
    box.write("/debug.msg", "");
    my_debug(nullptr, 0, "%s", "no file name");
    EXPECT_EQ(box.commands(), "<sync>\n<sync>\n");

    box.write("/commands.log", "");
    auto marker = [](int i) { return std::string(_mydebug_buf + 128 * i); };
    my_debug_set_level(0x30);
    my_debug_init("/usr/local/www/cgi-bin/upgrade.cgi");
    EXPECT_EQ(marker(0) + marker(1) + marker(2) + marker(3) + marker(4) + marker(5),
              "/upgrade.print/upgrade.log/upgrade.fp/upgrade.fprm/upgrade.syslog/upgrade.level");
    EXPECT_EQ(std::tuple(_mydebug_f, _mydebug_level, _mydebug_pid), std::tuple(0, 0x30, (int)getpid()));
    for (const char *name : {"/upgrade.print", "/upgrade.fp", "/upgrade.fprm", "/upgrade.syslog"}) box.write(name, "");
    box.write("/upgrade.level", "1f\n");
    my_debug_init("upgrade");
    EXPECT_EQ(std::pair(_mydebug_f, _mydebug_level), std::pair(1 | 2 | 4, 0x1f));
    // Only the log switch: flag 2 alone; a name of shell characters reaches the shell quoted.
    for (const char *name : {"/a b;c.fp", "/a b;c.fprm"}) box.write(name, "");
    my_debug_init("/bin/a b;c.cgi");
    EXPECT_EQ(std::pair(marker(1), _mydebug_f), std::pair(std::string("/a b;c.log"), 2));
    EXPECT_EQ(box.commands(), "> /upgrade.log\n> '/a b;c.log'\n");
    my_debug_init(std::string(300, 'x').c_str());  // cut inside its slot
    EXPECT_EQ(marker(5), "/" + std::string(126, 'x'));

    for (const char *name : {"/cgi.print", "/cgi.fp"}) box.write(name, "");
    my_debug_init("/cgi");
    my_debug_set_pid(4242);
    my_debug_set_level(0x1);
    EXPECT_EQ(captured_stdout([] {
                  my_debug_printf(0x2, "handler", 17, "masked %d", 1);
                  my_debug_printf(0x3, "handler", 17, "shown %d", 2);
              }),
              "(pid:4242)[handler] 17: shown 2\n");
    char today[16];  // "%D %T" of UTC: the year in two digits
    const time_t now = time(nullptr);
    strftime(today, sizeof today, "%m/%d/%Y", gmtime(&now));
    const std::string line = std::string(today).erase(6, 2) + " [0-9]{2}:[0-9]{2}:[0-9]{2} ==> ";
    EXPECT_TRUE(testing_support::matches(box.read("/cgi.log"), line + "\\(pid:4242\\)\\[handler\\] 17: shown 2\n"))
        << box.read("/cgi.log");
    my_debug_init("/quiet");  // no flag set: nothing, whatever the mask
    EXPECT_EQ(captured_stdout([] { my_debug_printf(0xff, "handler", 1, "silent"); }), "");
    EXPECT_FALSE(box.exists("/quiet.log"));
    my_debug_init("/sbin/tool");
    EXPECT_EQ(captured_stdout(my_debug_usage), "\ndebug flag:\n  echo \"0xFF\" > /tool.level\t: set level (hex)\n"
                                               "  > /tool.print\t\t: print\n  > /tool.fp\t\t\t: write to /tool.log\n"
                                               "  > /tool.fprm\t\t\t: clear /tool.log\n"
                                               "  > /tool.syslog\t\t: write to syslog\n");
}

// A daemon's listening socket at an appliance path.
int listener(const testing_support::Root &root, const std::string &appliance_path) {
    root.write(appliance_path, "");
    root.remove(appliance_path);
    sockaddr_un address{AF_UNIX, {}};
    strncpy(address.sun_path, root.file(appliance_path).c_str(), sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    return bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && listen(fd, 4) == 0 ? fd : -1;
}

// What the connections already made and closed by the sender carried, in order.
Texts taken(int fd) {
    Texts texts;
    char chunk[4096];
    for (int connection; (connection = accept(fd, nullptr, nullptr)) >= 0; close(connection)) {
        std::string &text = texts.emplace_back();
        for (ssize_t n; (n = read(connection, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(n));
    }
    return texts;
}

// Commands and queries reach their daemons' local sockets, and texts the management server over TCP, as they
// are: bytes without a terminator.
TEST(Sender, TextsReachTheirDaemonsAndTheManagementServer) {
    Sandbox box;
    const int commands = listener(box, "/var/run/runcommand"), queries = listener(box, "/var/run/SQLQueryd.sock");
    ASSERT_TRUE(commands >= 0 && queries >= 0);
    const std::string big(60000, 'q'), bigger(200000, 'q');
    // Braced lists call in order.
    EXPECT_EQ((std::vector{my_sendCmd2sock("/sbin/iptables -F X; echo \"$(id)\"\n"), my_sendCmd2sock(nullptr),
                           my_sqlquery_sock("INSERT INTO t VALUES (%d, '%s')", 7, "a b"),
                           my_sqlquery_sock("%s", big.c_str())}),
              (std::vector{0, -1, 0, 0}));
    EXPECT_EQ(taken(commands), Texts{"/sbin/iptables -F X; echo \"$(id)\"\n"});
    EXPECT_EQ(taken(queries), (Texts{"INSERT INTO t VALUES (7, 'a b')", big}));
    close(commands);
    close(queries);
    box.write("/var/run/SQLQueryd.sock", "a plain file");
    EXPECT_EQ(my_sendCmd2sock("true") + my_sqlquery_sock("x"), -2);  // no daemon listening

    PortServer server(box, true);
    EXPECT_EQ((std::vector{my_sqlquery_tcp("127.0.0.1", "c %d %s", 0, "hello"),
                           my_sqlquery_tcp("127.0.0.1", "%s", bigger.c_str())}),
              (std::vector{0, 0}));
    for (const char *address : {"localhost", "127.0.0.1; rm -rf /", "::1"})
        EXPECT_EQ(my_sqlquery_tcp(address, "x"), -1) << address;
    EXPECT_EQ(sent(server), (Texts{"c 0 hello", bigger}));
    PortServer closed(box, false);
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1", "text"), -1);
}

// Which log texts go to the management server: each log kind's bit lets through the texts holding one of its
// key words, and only those, once the server is set and the product has central management.
TEST(ManagementMessage, ForwardingConditions) {
    Sandbox box;
    PortServer server(box, true);
    WS(37, "127.0.0.1");
    WI(68, 0xfff);
    my_cms_send_message("eventlog_system quota traffic");  // the demo product has no central management
    ASSERT_EQ(SET_DEFINE("HAVE_CMS", "y"), 0);
    for (const char *unset : {"", "^o^"}) {
        WS(37, unset);
        my_cms_send_message("quota exceeded");
    }
    EXPECT_EQ(sent(server), Texts{});
    WS(37, "127.0.0.1");
    for (auto [bit, word] : {std::pair{0x1, "MAIL_LOG"}, {0x1, "mail_account"}, {0x2, "MAIL_ARCHIVE"},
                             {0x2, "mail_account"}, {0x4, "WEBFILTER"}, {0x4, "DOWNLOAD"}, {0x4, "UPLOAD"},
                             {0x4, "MIMESCRIPT"}, {0x4, "URLF"}, {0x8, "SNORT"}, {0x8, "idp_log"}, {0x10, "WAF"},
                             {0x10, "waf"}, {0x20, "traffic"}, {0x40, "eventlog"}, {0x80, "CONNTRACK_LOG"},
                             {0x100, "virus"}, {0x200, "application_system"}, {0x400, "session"}, {0x800, "quota"}}) {
        const std::string text = std::string("INSERT INTO `") + word + "` VALUES (1)";
        WI(68, 0xfff & ~bit);
        if (bit != 0x1 && bit != 0x2) my_cms_send_message(text.c_str());
        WI(68, bit);
        my_cms_send_message(text.c_str());
        EXPECT_EQ(sent(server), Texts{"c 0 00:11:22:33:44:01 " + text}) << bit;
    }
    my_cms_send_message("Waf block, Traffic");
    EXPECT_EQ(sent(server), Texts{});
}

}  // namespace
