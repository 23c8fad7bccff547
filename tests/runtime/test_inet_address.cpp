// Address arithmetic on IPv4 and IPv6 texts.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "webadmin.h"

namespace {

TEST(InetAddress, Ipv4TextsAndMasks) {
    EXPECT_EQ(my_inet_addr("192.168.1.77"), 0xC0A8014Du);
    EXPECT_EQ(my_inet_addr("10"), 0x0A000000u);          // missing octets are 0
    EXPECT_EQ(my_inet_addr("1.2.3.300"), 0x0102032Cu);   // each octet its low byte
    for (const char *unreadable : {"", "abc", ".1.2.3", "-"}) EXPECT_EQ(my_inet_addr(unreadable), 0u) << unreadable;
    EXPECT_EQ(my_inet_addr(nullptr), 0u);
    EXPECT_STREQ(my_inet_ntoa(0xC0A8014Du), "192.168.1.77");
    EXPECT_STREQ(my_inet_ntoa(0xFFFFFFFFu), "255.255.255.255");

    const struct {
        const char *mask;
        int bits, usable;
    } masks[] = {{"255.255.255.0", 24, 254},   {"255.255.255.255", 32, 1}, {"255.255.255.254", 31, 0},
                 {"0.0.0.0", 0, 0},            {"255.255.255.252", 30, 2}, {"128.0.0.0", 1, 2147483646},
                 {"255.255.0.0", 16, 65534},   {"junk", 0, 0}};
    for (const auto &m : masks) {
        EXPECT_EQ(my_mask_to_int(m.mask), m.bits) << m.mask;
        EXPECT_EQ(my_usable_ip(m.mask), m.usable) << m.mask;
    }

    EXPECT_STREQ(my_netid("192.168.1.77", "255.255.255.0"), "192.168.1.0");
    EXPECT_STREQ(my_broadcast("192.168.1.77", "255.255.255.0"), "192.168.1.255");
    EXPECT_STREQ(my_netid("10.1.2.3", "255.0.0.0"), "10.0.0.0");
    EXPECT_STREQ(my_broadcast("10.1.2.3", "255.0.0.0"), "10.255.255.255");
    EXPECT_STREQ(my_netid("10.1.2.3", "junk"), "0.0.0.0");
    EXPECT_STREQ(my_broadcast("10.1.2.3", "junk"), "255.255.255.255");
    EXPECT_STREQ(my_broadcast("junk", "255.255.255.0"), "0.0.0.255");
}

TEST(InetAddress, Ipv6NetworksBroadcastsAndFullForms) {
    const char *address = "2001:db8:1:2:3:4:5:6";
    EXPECT_STREQ(my_netid(address, "64"), "2001:db8:1:2::");
    EXPECT_STREQ(my_broadcast(address, "64"), "2001:db8:1:2:ffff:ffff:ffff:ffff");
    EXPECT_STREQ(my_netid(address, "60"), "2001:db8:1::");
    EXPECT_STREQ(my_broadcast(address, "60"), "2001:db8:1:f:ffff:ffff:ffff:ffff");
    EXPECT_STREQ(my_netid(address, "128"), address);
    EXPECT_STREQ(my_netid(address, "200"), address);  // past 128: the whole address
    EXPECT_STREQ(my_netid(address, "0"), "::");
    EXPECT_STREQ(my_netid(address, "-3"), "::");
    EXPECT_STREQ(my_broadcast(address, "0"), "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
    EXPECT_STREQ(my_netid("2001:db8::zz", "64"), "::");
    EXPECT_STREQ(my_broadcast(":", "64"), "::");

    EXPECT_STREQ(my_ipv6_transfer("2001:db8::1"), "2001:0db8:0000:0000:0000:0000:0000:0001");
    EXPECT_STREQ(my_ipv6_transfer("::ffff:1.2.3.4"), "0000:0000:0000:0000:0000:ffff:0102:0304");
    EXPECT_STREQ(my_ipv6_transfer("FE80::A"), "fe80:0000:0000:0000:0000:0000:0000:000a");
    for (const char *unreadable : {"::", "1.2.3.4", "1::2::3", "", "12345::"})
        EXPECT_STREQ(my_ipv6_transfer(unreadable), "0000:0000:0000:0000:0000:0000:0000:0000") << unreadable;
    EXPECT_STREQ(my_ipv6_transfer(nullptr), "0000:0000:0000:0000:0000:0000:0000:0000");

    // The longest text fits its buffer.
    EXPECT_STREQ(my_broadcast("ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe", "128"),
                 "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe");

    unsigned char bytes[16];
    char text[64];
    ASSERT_EQ(isc_net_pton(AF_INET6, "fe80::1", bytes), 1);
    EXPECT_STREQ(isc_net_ntop(AF_INET6, bytes, text, sizeof text), "fe80::1");
    ASSERT_EQ(isc_net_pton(AF_INET, "10.0.0.1", bytes), 1);
    EXPECT_STREQ(isc_net_ntop(AF_INET, bytes, text, sizeof text), "10.0.0.1");
    EXPECT_EQ(isc_net_pton(AF_INET, "10.0.0", bytes), 0);
    EXPECT_EQ(isc_net_ntop(AF_INET, bytes, text, 4), nullptr);
}

}  // namespace
