#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/sandbox.h"
#include "webadmin.h"

TEST(HardwareAddress, OfAnInterface) {
    char mac[18] = "unchanged";
    EXPECT_EQ(my_get_imac("lo", mac), 0);
    EXPECT_STREQ(mac, "00:00:00:00:00:00");
    for (const char *bad : {"nosuchif0", "lo0123456789abcdef", "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(my_get_imac(bad, mac), -1) << (bad ? bad : "null");
    EXPECT_EQ(my_get_imac("lo", nullptr), -1);
}

TEST(HardwareAddress, OfANeighbourInTheArpTable) {
    testing_support::Sandbox box;
    // The rest of an overlong line must not be read as a line of its own.
    std::string overlong = "10.0.0.1 0x1 0x2 11:11:11:11:11:11 * eth0 ";
    overlong += std::string(1023 - overlong.size(), 'x') + "10.0.0.5 0x1 0x2 dd:dd:dd:dd:dd:dd * eth0\n";
    box.write("/output/_bin_cat__proc_net_arp",
              "IP address       HW type     Flags       HW address            Mask     Device\n"
              "192.168.1.20     0x1         0x2         00:11:22:33:44:55     *        eth1\n"
              "192.168.1.2      0x1         0x2         66:77:88:99:aa:bb     *        eth1\n" +
                  overlong + "10.0.0.9 0x1 0x2 cc:cc:cc:cc:cc:cc * eth0\n");
    // "" when the address is absent.
    for (const auto &[ip, expected] :
         std::vector<std::pair<std::string, std::string>>{{"192.168.1.2", "66:77:88:99:aa:bb"},
                                                          {"192.168.1.20", "00:11:22:33:44:55"},
                                                          {"10.0.0.1", "11:11:11:11:11:11"},
                                                          {"10.0.0.5", ""},
                                                          {"10.0.0.9", "cc:cc:cc:cc:cc:cc"},
                                                          {"192.168.1.3", ""}}) {
        char mac[18] = {};
        EXPECT_EQ(my_arp_mac(ip.c_str(), mac), expected.empty() ? -1 : 0) << ip;
        EXPECT_EQ(mac, expected) << ip;
    }
    char mac[18];
    EXPECT_EQ(my_arp_mac(nullptr, mac), -1);
    EXPECT_EQ(my_arp_mac("192.168.1.2", nullptr), -1);
    std::string expected;
    for (int i = 0; i < 6; ++i) expected += "/bin/cat /proc/net/arp\n";
    EXPECT_EQ(box.commands(), expected);
}
