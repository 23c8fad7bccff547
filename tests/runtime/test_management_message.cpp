#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using testing_support::Sandbox;

// A socket bound to a free port of 127.0.0.1 that the sandbox's port 1207
// leads to; listening or not.
class Server {
public:
    Server(const Sandbox &box, bool listening) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            (listening && listen(fd_, 8) != 0) ||
            getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            ADD_FAILURE() << "no server socket";
        box.write("/ports/1207", std::to_string(ntohs(address.sin_port)));
    }
    ~Server() { close(fd_); }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // The text of a connection already made and closed by the sender, or
    // nothing when no connection is waiting.
    std::optional<std::string> take() {
        pollfd waiting{fd_, POLLIN, 0};
        if (poll(&waiting, 1, 0) != 1) return std::nullopt;
        int connection = accept(fd_, nullptr, nullptr);
        if (connection < 0) return std::nullopt;
        std::string text;
        char chunk[4096];
        ssize_t n;
        while ((n = read(connection, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
        close(connection);
        return text;
    }

private:
    int fd_;
};

}  // namespace

TEST(TcpSender, SendsOneTextAndCloses) {
    Sandbox box;
    Server server(box, true);
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1", "c %d %s", 0, "hello"), 0);
    EXPECT_EQ(server.take(), "c 0 hello");
    std::string big(200000, 'q');
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1", "%s", big.c_str()), 0);
    EXPECT_EQ(server.take(), big);
    EXPECT_EQ(server.take(), std::nullopt);

    // Nothing is tried for an address that is not IPv4 dotted text.
    EXPECT_EQ(my_sqlquery_tcp(nullptr, "x"), -1);
    EXPECT_EQ(my_sqlquery_tcp("localhost", "x"), -1);
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1; rm -rf /", "x"), -1);
    EXPECT_EQ(my_sqlquery_tcp("::1", "x"), -1);
    EXPECT_EQ(server.take(), std::nullopt);
}

TEST(TcpSender, RefusedConnectionFails) {
    Sandbox box;
    Server closed(box, false);
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1", "text"), -1);
}

TEST(ManagementMessage, ForwardingConditions) {
    Sandbox box;
    ASSERT_EQ(SET_DEFINE("HAVE_CMS", "y"), 0);  // the demo product has none
    Server server(box, true);
    WI(68, 0x800);

    // No server address: an empty string 37, or the unset text.
    my_cms_send_message("quota exceeded");
    WS(37, "^o^");
    my_cms_send_message("quota exceeded");
    EXPECT_EQ(server.take(), std::nullopt);

    WS(37, "127.0.0.1");
    my_cms_send_message("INSERT INTO `MONITOR_LOG_20240101`.`quota` VALUES (1)");
    EXPECT_EQ(server.take(), "c 0 00:11:22:33:44:01 INSERT INTO `MONITOR_LOG_20240101`.`quota` VALUES (1)");
    my_cms_send_message("INSERT INTO `MONITOR_LOG_20240101`.`eventlog_system` VALUES (1)");
    my_cms_send_message(nullptr);
    EXPECT_EQ(server.take(), std::nullopt);

    // Any set bit whose key word the text holds lets it through.
    WI(68, 0x4 | 0x10);
    my_cms_send_message("URLF hit");
    EXPECT_EQ(server.take(), "c 0 00:11:22:33:44:01 URLF hit");
    my_cms_send_message("waf block");
    EXPECT_EQ(server.take(), "c 0 00:11:22:33:44:01 waf block");
    my_cms_send_message("Waf block, snort alert");
    EXPECT_EQ(server.take(), std::nullopt);
    WI(68, 0);
    my_cms_send_message("URLF hit");
    EXPECT_EQ(server.take(), std::nullopt);
}

TEST(ManagementMessage, NothingWithoutCentralManagement) {
    Sandbox box;  // the demo product has HAVE_CMS "n"
    ASSERT_FALSE(IF_DEFINE("HAVE_CMS"));
    Server server(box, true);
    WS(37, "127.0.0.1");
    WI(68, 0xfff);
    my_cms_send_message("eventlog_system quota traffic");
    EXPECT_EQ(server.take(), std::nullopt);
}
