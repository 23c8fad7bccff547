// Network helpers: address arithmetic, hardware addresses, interfaces, the
// firewall queue and the shared system address table.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/request.h"
#include "support/sandbox.h"
#include "support/network.h"
#include "webadmin.h"

namespace {

TEST(InetAddress, Ipv4AndIpv6Arithmetic) {
    for (auto [text, value] : {std::pair{"192.168.1.77", 0xC0A8014Du}, {"10", 0x0A000000u}, {"1.2.3.300", 0x0102032Cu}, {"", 0u}, {".1.2.3", 0u}})
        EXPECT_EQ(my_inet_addr(text), value) << text;
    EXPECT_STREQ(my_inet_ntoa(0xC0A8014Du), "192.168.1.77");
    for (auto [mask, bits, usable] : {std::tuple{"255.255.255.0", 24, 254}, {"255.255.255.255", 32, 1}, {"255.255.255.254", 31, 0}, {"0.0.0.0", 0, 0},
                                      {"255.255.255.252", 30, 2}, {"128.0.0.0", 1, 2147483646}, {"junk", 0, 0}}) {
        EXPECT_EQ(my_mask_to_int(mask), bits) << mask;
        EXPECT_EQ(my_usable_ip(mask), usable) << mask;
    }
    const std::string v6 = "2001:db8:1:2:3:4:5:6";
    for (auto [address, mask, netid, broadcast] : {
             std::tuple<std::string, const char *, const char *, const char *>{"192.168.1.77", "255.255.255.0", "192.168.1.0", "192.168.1.255"},
             {"10.1.2.3", "255.0.0.0", "10.0.0.0", "10.255.255.255"}, {"10.1.2.3", "junk", "0.0.0.0", "255.255.255.255"},
             {"junk", "255.255.255.0", "0.0.0.0", "0.0.0.255"}, {v6, "64", "2001:db8:1:2::", "2001:db8:1:2:ffff:ffff:ffff:ffff"},
             {v6, "60", "2001:db8:1::", "2001:db8:1:f:ffff:ffff:ffff:ffff"}, {v6, "200", v6.c_str(), v6.c_str()},
             {v6, "0", "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}, {v6, "-3", "::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
             {"2001:db8::zz", "64", "::", "::"},
             {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe", "128", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe"}}) {
        EXPECT_STREQ(my_netid(address.c_str(), mask), netid) << address << "/" << mask;
        EXPECT_STREQ(my_broadcast(address.c_str(), mask), broadcast) << address << "/" << mask;
    }
    const char *zero = "0000:0000:0000:0000:0000:0000:0000:0000";
    for (auto [in, out] : {std::pair{"2001:db8::1", "2001:0db8:0000:0000:0000:0000:0000:0001"}, {"::ffff:1.2.3.4", "0000:0000:0000:0000:0000:ffff:0102:0304"},
                           {"FE80::A", "fe80:0000:0000:0000:0000:0000:0000:000a"}, {"::", zero}, {"1.2.3.4", zero}, {"1::2::3", zero}, {"12345::", zero}})
        EXPECT_STREQ(my_ipv6_transfer(in), out) << in;
    unsigned char bytes[16];
    char text[64];
    ASSERT_EQ(isc_net_pton(AF_INET6, "fe80::1", bytes), 1);
    EXPECT_STREQ(isc_net_ntop(AF_INET6, bytes, text, sizeof text), "fe80::1");
    EXPECT_EQ(isc_net_pton(AF_INET, "10.0.0", bytes), 0);
    ASSERT_EQ(isc_net_pton(AF_INET, "10.0.0.1", bytes), 1);
    EXPECT_EQ(isc_net_ntop(AF_INET, bytes, text, 4), nullptr);
}

TEST(HardwareAddress, OfAnInterfaceAndOfANeighbour) {
    char mac[18] = "unchanged";
    EXPECT_EQ(my_get_imac("lo", mac), 0);
    EXPECT_STREQ(mac, "00:00:00:00:00:00");
    for (const char *bad : {"nosuchif0", "lo0123456789abcdef", ""}) EXPECT_EQ(my_get_imac(bad, mac), -1) << bad;
    testing_support::Sandbox box;
    std::string overlong = "10.0.0.1 0x1 0x2 11:11:11:11:11:11 * eth0 ";  // its rest is no line of its own
    overlong += std::string(1023 - overlong.size(), 'x') + "10.0.0.5 0x1 0x2 dd:dd:dd:dd:dd:dd * eth0\n";
    box.write("/output/_bin_cat__proc_net_arp", "IP address       HW type     Flags       HW address            Mask     Device\n"
                                                "192.168.1.20     0x1         0x2         00:11:22:33:44:55     *        eth1\n"
                                                "192.168.1.2      0x1         0x2         66:77:88:99:aa:bb     *        eth1\n" +
                                                    overlong + "10.0.0.9 0x1 0x2 cc:cc:cc:cc:cc:cc * eth0\n");
    for (auto [ip, expected] : {std::pair<std::string, std::string>{"192.168.1.2", "66:77:88:99:aa:bb"}, {"192.168.1.20", "00:11:22:33:44:55"},
                                {"10.0.0.1", "11:11:11:11:11:11"}, {"10.0.0.5", ""}, {"10.0.0.9", "cc:cc:cc:cc:cc:cc"}, {"192.168.1.3", ""}}) {
        char found[18] = {};
        EXPECT_EQ(my_arp_mac(ip.c_str(), found), expected.empty() ? -1 : 0) << ip;
        EXPECT_EQ(found, expected) << ip;
    }
    EXPECT_EQ(my_arp_mac("192.168.1.2", nullptr), -1);
    EXPECT_EQ(box.commands().size(), 6 * std::string("/bin/cat /proc/net/arp\n").size());
}

using testing_support::VethPair;

TEST(Interface, NameSequenceNumbers) {
    for (auto [name, number] : {std::pair{"WAN2", 2}, {"eth12", 12}, {"LAN3", 3}, {"DMZ1", 1}, {"Port7", 7}, {"ipsec4", 4}, {"br0", 0},
                                {"wan2", 0}, {"WAN", 0}, {"WANx", 0}, {"", 0}})
        EXPECT_EQ(my_nameseq(name), number) << name;
}

TEST(Interface, StateAndAddressOfRealInterfaces) {
    EXPECT_EQ(my_iface_isup("lo"), 3);
    char address[16];
    ASSERT_EQ(my_get_ifaddr("lo", address), 0);
    EXPECT_STREQ(address, "127.0.0.1");
    const std::string too_long(64, 'x');
    for (const char *missing : {"wa_none0", "", too_long.c_str()}) EXPECT_EQ(my_iface_isup(missing) + my_get_ifaddr(missing, address), -1) << missing;

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
    for (const char *left_out : {"noarp0", "ptp0", "half", " lo ", ":"}) EXPECT_EQ(names.find(left_out), std::string::npos) << left_out;
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
}

// The firewall command queue, read back from the real System V queues.
using testing_support::Ended;
using testing_support::in_child;

struct Message {
    long type;
    char text[1024];
};

// Every message waiting on the family's queue, as received: the type and
// the size must be those of a command; the text is up to its first NUL, and
// the rest of the 1024 bytes must be NUL.
std::vector<std::string> queued(key_t appliance_key) {
    std::vector<std::string> texts;
    const int id = msgget(platform::ipc_key(appliance_key), 0);
    if (id < 0) return texts;
    Message message;
    for (ssize_t n; (n = msgrcv(id, &message, sizeof message.text, 0, IPC_NOWAIT)) >= 0;) {
        EXPECT_EQ(n, 1024);
        EXPECT_EQ(message.type, 1);
        const size_t length = strnlen(message.text, sizeof message.text);
        EXPECT_LT(length, sizeof message.text);
        for (size_t i = length; i < sizeof message.text; ++i) EXPECT_EQ(message.text[i], '\0') << i;
        texts.emplace_back(message.text, length);
    }
    return texts;
}

// Queue calls run in a child, so that each test starts with no queue open.
int in_fresh_process(const std::function<int()> &call) {
    return in_child([&] { std::exit(call() == 0 ? 0 : 1); }).status;
}

TEST(Iptables, CommandsReachTheirFamilysQueueWithoutThePrefix) {
    testing_support::TempRoot root;
    EXPECT_EQ(in_fresh_process([] {
                  return my_iptables(4, "[%s]%s(),L:%d=> %s", "nat.c", "nat_add", 42, "/sbin/iptables -F X") |
                         my_iptables(4, "[x]y(),L:1=> /sbin/iptables -t nat -A %s -j MARK --set-mark 0x%s", "C1",
                                     id2mark("19700101000100")) |
                         my_iptables(6, "[x]y(),L:2=> /sbin/ip6tables -F Y") |
                         my_iptables(4, "no-blank-at-all");
              }),
              0);
    EXPECT_EQ(queued(0x912164), (std::vector<std::string>{"/sbin/iptables -F X",
                                                          "/sbin/iptables -t nat -A C1 -j MARK --set-mark 0x0000003C",
                                                          "no-blank-at-all"}));
    EXPECT_EQ(queued(0x912166), (std::vector<std::string>{"/sbin/ip6tables -F Y"}));

    // The longest command keeps its last byte for the NUL; another family is refused.
    const std::string long_command(1500, 'a');
    EXPECT_EQ(in_fresh_process([&] { return my_iptables(4, "p %s", long_command.c_str()); }), 0);
    EXPECT_EQ(queued(0x912164), (std::vector<std::string>{std::string(1021, 'a')}));
    EXPECT_EQ(in_fresh_process([] { return my_iptables(5, "p x"); }), 1);
}

TEST(Iptables, QueueRemovedUnderneathIsReopenedAfterOneFailure) {
    testing_support::TempRoot root;
    EXPECT_EQ(in_fresh_process([] {
                  if (my_iptables(4, "p first") != 0) return 10;
                  msgctl(msgget(platform::ipc_key(0x912164), 0), IPC_RMID, nullptr);
                  if (my_iptables(4, "p lost") != -1) return 11;  // the cached queue is gone
                  return my_iptables(4, "p second");
              }),
              0);
    EXPECT_EQ(queued(0x912164), (std::vector<std::string>{"second"}));
}

TEST(Iptables, DebugSettingRunsIpv4CommandsAtOnce) {
    testing_support::Sandbox box({"SYSTEM_DEBUG_IPTABLES=y"});
    box.write("/commands.log", "");
    EXPECT_EQ(in_fresh_process([] {
                  return my_iptables(4, "[a]b(),L:1=> /sbin/iptables -F X") | my_iptables(6, "[a]b(),L:1=> /sbin/ip6tables -F Y");
              }),
              0);
    EXPECT_EQ(box.commands(), "/sbin/iptables-static -F X\n");
    EXPECT_EQ(queued(0x912164), std::vector<std::string>{});
    EXPECT_EQ(queued(0x912166), std::vector<std::string>{});
}

// The shared system address table, read back from its segment, and the ARP
// announcements, caught on the far end of a veth pair.
using testing_support::Sandbox;
using testing_support::VethPair;

struct Row {
    int32_t ifindex, port;
    std::string address;
    int32_t references;
    bool operator==(const Row &) const = default;
};

// The table as the other programs see it: count at 24, rows from 32.
std::vector<Row> table() {
    std::vector<Row> rows;
    const int id = shmget(platform::ipc_key(0x20100311), 0, 0);
    if (id < 0) return rows;
    void *segment = shmat(id, nullptr, SHM_RDONLY);
    if (segment == reinterpret_cast<void *>(-1)) return rows;
    const auto *bytes = static_cast<const unsigned char *>(segment);
    int32_t count;
    std::memcpy(&count, bytes + 24, 4);
    for (int i = 0; i < count && i < 1024; ++i) {
        int32_t field[4];
        std::memcpy(field, bytes + 32 + 16 * i, 16);
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &field[2], text, sizeof text);
        rows.push_back({field[0], field[1], text, field[3]});
    }
    shmdt(segment);
    return rows;
}

TEST(SystemAddress, EntriesAreCountedSortedAndRemovedAtZero) {
    Sandbox box({"PORT1_INDEX_NUM=7", "PORT2_INDEX_NUM=9"});
    EXPECT_EQ(my_add_bcast_system_ip(1, "10.0.0.5"), 0);
    EXPECT_EQ(my_add_bcast_system_ip(1, "10.0.0.5"), 0);
    EXPECT_EQ(my_del_bcast_system_ip(1, "10.0.0.5"), 0);
    EXPECT_EQ(table(), (std::vector<Row>{{7, 1, "10.0.0.5", 1}}));

    EXPECT_EQ(my_add_bcast_system_ip(2, "10.0.0.5"), 0);
    EXPECT_EQ(my_add_bcast_system_ip(1, "10.0.0.4"), 0);
    EXPECT_EQ(my_add_bcast_system_ip(3, "10.0.0.4"), 0);  // no index defined for port 3
    std::vector<Row> rows = table();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_TRUE(std::count(rows.begin(), rows.end(), Row{0, 3, "10.0.0.4", 1}));
    EXPECT_TRUE(std::count(rows.begin(), rows.end(), Row{9, 2, "10.0.0.5", 1}));

    for (const char *refused : {"0.0.0.0", "junk", ""}) EXPECT_EQ(my_add_bcast_system_ip(1, refused) + my_del_bcast_system_ip(1, refused), -2) << refused;
    EXPECT_EQ(my_add_bcast_system_ip(0, "10.0.0.9"), -1);
    EXPECT_EQ(my_del_bcast_system_ip(1, "10.0.0.9"), -1);
    EXPECT_EQ(table().size(), 4u);

    EXPECT_EQ(my_del_bcast_system_ip(1, "10.0.0.5"), 0);
    EXPECT_EQ(my_del_bcast_system_ip(1, "10.0.0.4"), 0);
    EXPECT_EQ(table(), (std::vector<Row>{{0, 3, "10.0.0.4", 1}, {9, 2, "10.0.0.5", 1}}));
    my_clear_bcast_system_ip();
    EXPECT_EQ(table(), std::vector<Row>{});
}

TEST(SystemAddress, TwoProcessesFillTheTableToItsEnd) {
    Sandbox box;
    // Each process adds its own 512 addresses in a shuffled order; the table
    // ends full, sorted, and with every address once.
    auto fill = [](int process) {
        pid_t pid = fork();
        if (pid != 0) return pid;
        int failed = 0;
        for (int i = 0; i < 512; ++i) {
            const int n = (i * 181) % 512;
            char address[32];
            std::snprintf(address, sizeof address, "10.%d.%d.%d", process, n / 256 + 1, n % 256);
            failed += my_add_bcast_system_ip(1 + process, address) != 0;
        }
        _exit(failed);
    };
    pid_t a = fill(0), b = fill(1);
    int status_a = -1, status_b = -1;
    waitpid(a, &status_a, 0);
    waitpid(b, &status_b, 0);
    EXPECT_EQ(status_a, 0);
    EXPECT_EQ(status_b, 0);
    std::vector<Row> rows = table();
    ASSERT_EQ(rows.size(), 1024u);
    auto key = [](const Row &r) {
        in_addr a{};
        inet_pton(AF_INET, r.address.c_str(), &a);
        return std::make_pair(a.s_addr, static_cast<uint32_t>(r.port));  // as stored: network order
    };
    for (size_t i = 1; i < rows.size(); ++i) ASSERT_LT(key(rows[i - 1]), key(rows[i])) << i;

    EXPECT_EQ(my_add_bcast_system_ip(3, "10.9.9.9"), -1);  // full
    EXPECT_EQ(my_add_bcast_system_ip(1, "10.0.1.1"), 0);   // present: counted
    EXPECT_EQ(table().size(), 1024u);
    my_clear_bcast_system_ip();
}

// The next ARP packet the interface receives, or an empty result.
struct Arp {
    bool received = false;
    int packet_type = -1;
    arphdr header{};
    std::vector<unsigned char> sender_hw, target_hw;
    std::string sender_ip, target_ip;
};

class ArpCatcher {
public:
    explicit ArpCatcher(const char *interface) : fd_(socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_ARP))) {
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_protocol = htons(ETH_P_ARP);
        at.sll_ifindex = static_cast<int>(if_nametoindex(interface));
        timeval wait{2, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        bind(fd_, reinterpret_cast<sockaddr *>(&at), sizeof at);
    }
    ~ArpCatcher() { close(fd_); }

    Arp next() {
        Arp arp;
        unsigned char frame[256];
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(fd_, frame, sizeof frame, 0, reinterpret_cast<sockaddr *>(&from), &length);
        if (n < static_cast<ssize_t>(sizeof(arphdr))) return arp;
        arp.received = true;
        arp.packet_type = from.sll_pkttype;
        std::memcpy(&arp.header, frame, sizeof arp.header);
        const size_t hw = arp.header.ar_hln;
        if (static_cast<size_t>(n) < sizeof(arphdr) + 2 * hw + 8) return arp;
        const unsigned char *at = frame + sizeof(arphdr);
        char ip[INET_ADDRSTRLEN];
        arp.sender_hw.assign(at, at + hw);
        arp.sender_ip = inet_ntop(AF_INET, at + hw, ip, sizeof ip);
        at += hw + 4;
        arp.target_hw.assign(at, at + hw);
        arp.target_ip = inet_ntop(AF_INET, at + hw, ip, sizeof ip);
        return arp;
    }

private:
    int fd_;
};

std::vector<unsigned char> hardware_address(const char *interface) {
    std::vector<unsigned char> address;
    FILE *f = std::fopen(("/sys/class/net/" + std::string(interface) + "/address").c_str(), "r");
    if (!f) return address;
    unsigned b[6];
    if (std::fscanf(f, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) == 6)
        address.assign(b, b + 6);
    std::fclose(f);
    return address;
}

TEST(SystemAddress, AnnouncementsAreGratuitousBroadcastRequests) {
    VethPair pair("wa_arp0", "wa_arp1");
    if (!pair.made()) GTEST_SKIP() << "this machine does not let the test make a veth pair";
    ASSERT_TRUE(pair.up());
    const int index = static_cast<int>(if_nametoindex("wa_arp0"));
    const std::vector<unsigned char> own = hardware_address("wa_arp0");
    ASSERT_EQ(own.size(), 6u);
    ArpCatcher far_end("wa_arp1");

    in_addr address{};
    inet_pton(AF_INET, "10.9.8.7", &address);
    ASSERT_EQ(my_send_ifndex_masq_broadcast(index, address.s_addr), 0);
    Arp arp = far_end.next();
    ASSERT_TRUE(arp.received);
    EXPECT_EQ((std::vector<int>{arp.packet_type, ntohs(arp.header.ar_hrd), ntohs(arp.header.ar_pro), arp.header.ar_hln, arp.header.ar_pln,
                                ntohs(arp.header.ar_op)}),
              (std::vector<int>{PACKET_BROADCAST, ARPHRD_ETHER, ETH_P_IP, 6, 4, ARPOP_REQUEST}));
    EXPECT_TRUE(arp.sender_hw == own && arp.target_hw == own);
    EXPECT_EQ(arp.sender_ip + " " + arp.target_ip, "10.9.8.7 10.9.8.7");

    // The table's entries go out on their ports' interfaces.
    Sandbox box({"PORT1_INDEX_NUM=" + std::to_string(index)});
    ASSERT_EQ(my_add_bcast_system_ip(1, "192.168.5.1"), 0);
    ASSERT_EQ(my_send_bcast_system_ip(), 0);
    arp = far_end.next();
    ASSERT_TRUE(arp.received);
    EXPECT_EQ(arp.sender_ip, "192.168.5.1");
    my_clear_bcast_system_ip();

    EXPECT_EQ(my_send_ifndex_masq_broadcast(0, address.s_addr), -1);  // no such interface
    if (VethPair::ip("tuntap add dev wa_tun0 mode tun")) {
        // A tunnel has no link-layer address to announce from.
        EXPECT_EQ(my_send_ifndex_masq_broadcast(static_cast<int>(if_nametoindex("wa_tun0")), address.s_addr), -1);
        VethPair::ip("tuntap del dev wa_tun0 mode tun");
    }
}

}  // namespace
