#include <gtest/gtest.h>

#include <string>

#include "support/port_server.h"
#include "support/sandbox.h"
#include "webadmin.h"

using testing_support::PortServer;
using testing_support::Sandbox;

TEST(TcpSender, SendsOneTextAndCloses) {
    Sandbox box;
    PortServer server(box, true);
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1", "c %d %s", 0, "hello"), 0);
    EXPECT_EQ(server.take(), "c 0 hello");
    std::string big(200000, 'q');
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1", "%s", big.c_str()), 0);
    EXPECT_EQ(server.take(), big);
    EXPECT_EQ(server.take(), std::nullopt);

    // Nothing is tried for an address that is not IPv4 dotted text.
    for (const char *address : {static_cast<const char *>(nullptr), "localhost", "127.0.0.1; rm -rf /", "::1"})
        EXPECT_EQ(my_sqlquery_tcp(address, "x"), -1) << (address ? address : "null");
    EXPECT_EQ(server.take(), std::nullopt);
}

TEST(TcpSender, RefusedConnectionFails) {
    Sandbox box;
    PortServer closed(box, false);
    EXPECT_EQ(my_sqlquery_tcp("127.0.0.1", "text"), -1);
}

TEST(ManagementMessage, ForwardingConditions) {
    Sandbox box;
    PortServer server(box, true);
    // The demo product has no central management: nothing, whatever is set.
    WS(37, "127.0.0.1");
    WI(68, 0xfff);
    my_cms_send_message("eventlog_system quota traffic");
    EXPECT_EQ(server.take(), std::nullopt);

    ASSERT_EQ(SET_DEFINE("HAVE_CMS", "y"), 0);
    WI(68, 0x800);
    // No server address: an empty string 37, or the unset text.
    WS(37, "");
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
