// Interface queries against the loopback and a veth pair, the interface
// list from ip's real output, and the uptime record.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/capture.h"
#include "support/temp_root.h"
#include "support/veth.h"
#include "webadmin.h"

namespace {

using testing_support::VethPair;

TEST(Interface, NameSequenceNumbers) {
    const struct {
        const char *name;
        int number;
    } names[] = {{"WAN2", 2}, {"eth0", 0}, {"eth12", 12}, {"LAN3", 3}, {"DMZ1", 1}, {"Port7", 7},
                 {"ipsec4", 4}, {"br0", 0}, {"wan2", 0}, {"WAN", 0}, {"WANx", 0}, {"", 0}};
    for (const auto &n : names) EXPECT_EQ(my_nameseq(n.name), n.number) << n.name;
    EXPECT_EQ(my_nameseq(nullptr), 0);
}

TEST(Interface, StateAndAddressOfRealInterfaces) {
    EXPECT_EQ(my_iface_isup("lo"), 3);
    char address[16];
    ASSERT_EQ(my_get_ifaddr("lo", address), 0);
    EXPECT_STREQ(address, "127.0.0.1");
    const std::string too_long(64, 'x');
    for (const char *missing : {"wa_none0", "", too_long.c_str()}) {
        EXPECT_EQ(my_iface_isup(missing), 0) << missing;
        EXPECT_EQ(my_get_ifaddr(missing, address), -1) << missing;
    }
    EXPECT_EQ(my_iface_isup(nullptr), 0);
    EXPECT_EQ(my_get_ifaddr("lo", nullptr), -1);

    VethPair pair("wa_if0", "wa_if1");
    if (!pair.made()) GTEST_SKIP() << "this machine does not let the test make a veth pair";
    EXPECT_EQ(my_iface_isup("wa_if0"), 0);
    EXPECT_EQ(my_get_ifaddr("wa_if0", address), -1);  // no address yet
    ASSERT_TRUE(VethPair::ip("addr add 10.77.0.1/24 dev wa_if0"));
    ASSERT_TRUE(VethPair::ip("link set wa_if0 up"));
    EXPECT_EQ(my_iface_isup("wa_if0"), 1);  // up, but its peer is down: no carrier
    ASSERT_TRUE(pair.up());
    EXPECT_EQ(my_iface_isup("wa_if0"), 3);
    ASSERT_EQ(my_get_ifaddr("wa_if0", address), 0);
    EXPECT_STREQ(address, "10.77.0.1");
}

TEST(Interface, DeviceListTakesBroadcastInterfacesThatArp) {
    testing_support::TempRoot root;
    VethPair pair("wa_dev0", "wa_dev1");
    std::string listing;
    if (pair.made()) {
        // The real output of ip, continuation lines and all.
        FILE *ip = popen("ip link show", "r");
        ASSERT_NE(ip, nullptr);
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, ip)) > 0;) listing.append(chunk, n);
        pclose(ip);
        ASSERT_NE(listing.find("wa_dev0@wa_dev1: <BROADCAST,MULTICAST"), std::string::npos) << listing;
    }
    listing += "90: noarp0: <BROADCAST,NOARP,UP> mtu 1500\n"
               "    link/ether 00:11:22:33:44:55 brd ff:ff:ff:ff:ff:ff\n"
               "91: ptp0: <POINTOPOINT,UP> mtu 1500\n"
               "92: eth9: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500\n"
               "    link/ether 00:11:22:33:44:56 brd ff:ff:ff:ff:ff:ff\n"
               "93: half\n";
    root.write("/output/_sbin_ip_link_show", listing);

    char out[1024];
    const int count = my_device(out);
    EXPECT_EQ(root.read("/commands.log"), "/sbin/ip link show\n");
    const std::string names = std::string(" ") + out + " ";
    EXPECT_NE(names.find(" eth9 "), std::string::npos) << names;
    EXPECT_EQ(names.find("noarp0"), std::string::npos);
    EXPECT_EQ(names.find("ptp0"), std::string::npos);
    EXPECT_EQ(names.find("half"), std::string::npos);
    EXPECT_EQ(names.find(" lo "), std::string::npos);  // LOOPBACK, not BROADCAST
    EXPECT_EQ(names.find(':'), std::string::npos);
    if (pair.made()) {
        EXPECT_NE(names.find(" wa_dev0@wa_dev1 "), std::string::npos) << names;
        EXPECT_NE(names.find(" wa_dev1@wa_dev0 "), std::string::npos) << names;
    }
    int words = 0;
    for (const char *p = out; *p; ++p) words += (p == out || p[-1] == ' ') && *p != ' ';
    EXPECT_EQ(count, words);

    // More names than the list holds: it stops short of its end.
    std::string many;
    for (int i = 0; i < 400; ++i) many += std::to_string(i) + ": ethernet" + std::to_string(i) + ": <BROADCAST,UP>\n";
    root.write("/output/_sbin_ip_link_show", many);
    char guarded[1024 + 16];
    std::memset(guarded, '#', sizeof guarded);
    const int kept = my_device(guarded);
    EXPECT_LT(std::strlen(guarded), 1024u);
    EXPECT_EQ(std::string(guarded + 1024, 16), std::string(16, '#'));
    EXPECT_GT(kept, 50);
    EXPECT_LT(kept, 400);
}

TEST(Interface, UptimeRecordReplacesTheFile) {
    testing_support::TempRoot root;
    EXPECT_EQ(my_record_time("/var/run/record"), -1);  // no uptime to read
    root.write("/proc/uptime", "12345.67 99999.00\n");
    root.write("/var/run/record", "an older and much longer content\n");
    ASSERT_EQ(my_record_time("/var/run/record"), 0);
    EXPECT_EQ(root.read("/var/run/record"), "12345 0");
    EXPECT_EQ(my_record_time("/no/such/dir/record"), -1);
    EXPECT_EQ(my_record_time(nullptr), -1);
}

}  // namespace
