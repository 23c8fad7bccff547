// Network helpers: address arithmetic, hardware addresses, interfaces, the firewall queue and the shared system
// address table.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/msg.h>
#include <sys/shm.h>
#include <sys/wait.h>

#include "platform/platform.h"
#include "support/network.h"
#include "support/request.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using testing_support::Sandbox;
using testing_support::TempRoot;
using testing_support::VethPair;
using Texts = std::vector<std::string>;

// Address texts in and out, masks, network and broadcast addresses of both families.
TEST(InetAddress, Ipv4AndIpv6Arithmetic) {
    for (auto [text, value] : {std::pair{"192.168.1.77", 0xC0A8014Du}, {"10", 0x0A000000u},
                               {"1.2.3.300", 0x0102032Cu}, {"", 0u}, {".1.2.3", 0u}})
        EXPECT_EQ(my_inet_addr(text), value) << text;
    EXPECT_STREQ(my_inet_ntoa(0xC0A8014Du), "192.168.1.77");
    for (auto [mask, bits, usable] : {std::tuple{"255.255.255.0", 24, 254}, {"255.255.255.255", 32, 1},
                                      {"255.255.255.254", 31, 0}, {"0.0.0.0", 0, 0}, {"255.255.255.252", 30, 2},
                                      {"128.0.0.0", 1, 2147483646}, {"junk", 0, 0}})
        EXPECT_EQ(std::pair(my_mask_to_int(mask), my_usable_ip(mask)), std::pair(bits, usable)) << mask;
    const char *v6 = "2001:db8:1:2:3:4:5:6", *all = "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";
    const char *last = "ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe";
    for (auto [address, mask, netid, broadcast] :
         {std::tuple{"192.168.1.77", "255.255.255.0", "192.168.1.0", "192.168.1.255"},
          {"10.1.2.3", "255.0.0.0", "10.0.0.0", "10.255.255.255"}, {"10.1.2.3", "junk", "0.0.0.0", "255.255.255.255"},
          {"junk", "255.255.255.0", "0.0.0.0", "0.0.0.255"}, {v6, "200", v6, v6}, {v6, "0", "::", all},
          {v6, "-3", "::", all}, {v6, "60", "2001:db8:1::", "2001:db8:1:f:ffff:ffff:ffff:ffff"},
          {v6, "64", "2001:db8:1:2::", "2001:db8:1:2:ffff:ffff:ffff:ffff"}, {"2001:db8::zz", "64", "::", "::"},
          {last, "128", last, last}})
        EXPECT_EQ((Texts{my_netid(address, mask), my_broadcast(address, mask)}), (Texts{netid, broadcast}))
            << address << "/" << mask;
    const char *zero = "0000:0000:0000:0000:0000:0000:0000:0000";
    for (auto [in, out] : {std::pair{"2001:db8::1", "2001:0db8:0000:0000:0000:0000:0000:0001"},
                           {"::ffff:1.2.3.4", "0000:0000:0000:0000:0000:ffff:0102:0304"},
                           {"FE80::A", "fe80:0000:0000:0000:0000:0000:0000:000a"}, {"::", zero}, {"1.2.3.4", zero},
                           {"1::2::3", zero}, {"12345::", zero}})
        EXPECT_STREQ(my_ipv6_transfer(in), out) << in;
    unsigned char bytes[16];
    char text[64];
    ASSERT_EQ(isc_net_pton(AF_INET6, "fe80::1", bytes), 1);
    EXPECT_STREQ(isc_net_ntop(AF_INET6, bytes, text, sizeof text), "fe80::1");
    EXPECT_EQ(isc_net_pton(AF_INET, "10.0.0", bytes), 0);
    ASSERT_EQ(isc_net_pton(AF_INET, "10.0.0.1", bytes), 1);
    EXPECT_EQ(isc_net_ntop(AF_INET, bytes, text, 4), nullptr);
}

// A neighbour's hardware address from the ARP table, whose overlong lines are no lines of their own.
TEST(HardwareAddress, OfANeighbour) {
    Sandbox box;
    std::string overlong = "10.0.0.1 0x1 0x2 11:11:11:11:11:11 * eth0 ";
    overlong += std::string(1023 - overlong.size(), 'x') + "10.0.0.5 0x1 0x2 dd:dd:dd:dd:dd:dd * eth0\n";
    box.write("/output/_bin_cat__proc_net_arp",
              "IP address       HW type     Flags       HW address            Mask     Device\n"
              "192.168.1.20     0x1         0x2         00:11:22:33:44:55     *        eth1\n"
              "192.168.1.2      0x1         0x2         66:77:88:99:aa:bb     *        eth1\n" +
                  overlong + "10.0.0.9 0x1 0x2 cc:cc:cc:cc:cc:cc * eth0\n");
    for (auto [ip, expected] : {std::pair{"192.168.1.2", "66:77:88:99:aa:bb"}, {"192.168.1.20", "00:11:22:33:44:55"},
                                {"10.0.0.1", "11:11:11:11:11:11"}, {"10.0.0.5", ""},
                                {"10.0.0.9", "cc:cc:cc:cc:cc:cc"}, {"192.168.1.3", ""}}) {
        char found[18] = {};
        EXPECT_EQ(my_arp_mac(ip, found), *expected ? 0 : -1) << ip;
        EXPECT_STREQ(found, expected) << ip;
    }
    EXPECT_EQ(my_arp_mac("192.168.1.2", nullptr), -1);
    std::string six;
    for (int i = 0; i < 6; ++i) six += "/bin/cat /proc/net/arp\n";
    EXPECT_EQ(box.commands(), six);
}

// Interface names' sequence numbers, by their known prefixes.
TEST(Interface, NameSequenceNumbers) {
    for (auto [name, number] : {std::pair{"WAN2", 2}, {"eth12", 12}, {"LAN3", 3}, {"DMZ1", 1}, {"Port7", 7},
                                {"ipsec4", 4}, {"br0", 0}, {"wan2", 0}, {"WAN", 0}, {"WANx", 0}, {"", 0}})
        EXPECT_EQ(my_nameseq(name), number) << name;
}

// The device list: broadcast interfaces that do ARP, continuation lines and an overlong line's rest skipped; a
// name that does not fit is left out, and the list ends at most exactly full, 1023 characters and its NUL.
TEST(Interface, DeviceListTakesBroadcastInterfacesThatArp) {
    TempRoot root;
    root.write("/output/_sbin_ip_link_show",
               "1: lo: <LOOPBACK,UP,LOWER_UP> mtu 65536 qdisc noqueue\n    link/loopback 00:00:00:00:00:00\n"
               "5: wa_dev0@wa_dev1: <BROADCAST,MULTICAST,M-DOWN> mtu 1500\n    altname alt0 <BROADCAST,UP>\n"
               "\taltname alt1 <BROADCAST,UP>\n"
               "90: noarp0: <BROADCAST,NOARP,UP> mtu 1500\n91: ptp0: <POINTOPOINT,UP> mtu 1500\n"
               "92: " + std::string(1100, 'x') + " rest0: <BROADCAST,UP>\n"
               "93: eth9: <BROADCAST,MULTICAST,UP,LOWER_UP> mtu 1500\n94: half\n");
    char out[1024 + 16];
    EXPECT_EQ(my_device(out), 2);
    EXPECT_STREQ(out, "wa_dev0@wa_dev1 eth9");
    EXPECT_EQ(root.read("/commands.log"), "/sbin/ip link show\n");
    // Four names of 250 and one of 19 fill the list to 1023 characters; one of 20 between them would reach 1024.
    std::string listing, expected;
    for (const char c : {'a', 'b', 'c', 'd', 'y', 'z'}) {
        const std::string name(c == 'y' ? 20 : c == 'z' ? 19 : 250, c);
        listing += "9: " + name + ": <BROADCAST,UP>\n";
        expected += c == 'y' ? "" : c == 'z' ? name : name + " ";
    }
    root.write("/output/_sbin_ip_link_show", listing);
    memset(out, '#', sizeof out);
    EXPECT_EQ(my_device(out), 5);
    EXPECT_EQ(std::string(out, sizeof out), expected + '\0' + std::string(16, '#'));
}

// The uptime record replaces the file with whole seconds (none is a time too); no or a negative uptime, or no
// directory: -1.
TEST(Interface, UptimeRecordReplacesTheFile) {
    TempRoot root;
    EXPECT_EQ(my_record_time("/var/run/record"), -1);
    std::string records;
    for (const char *uptime : {"0.00 0.00\n", "-1.00 0.00\n", "12345.67 99999.00\n"}) {
        root.write("/proc/uptime", uptime);
        root.write("/var/run/record", "an older and much longer content\n");
        records += std::to_string(my_record_time("/var/run/record")) + ":";
        records += root.read("/var/run/record") + ",";
    }
    EXPECT_EQ(records, "0:0 0,-1:an older and much longer content\n,0:12345 0,");
    EXPECT_EQ(my_record_time("/no/such/dir/record"), -1);
}

// State, address and hardware address of real interfaces, and the gratuitous ARP requests (of the address by
// itself, from the interface's own hardware address, to every station) caught on the far end of a veth pair.
TEST(Interface, RealInterfacesAndTheirAnnouncements) {
    char address[16], mac[18];
    EXPECT_EQ(std::tuple(my_iface_isup("lo"), my_get_ifaddr("lo", address), my_get_imac("lo", mac)),
              std::tuple(3, 0, 0));
    EXPECT_EQ(std::string(address) + " " + mac, "127.0.0.1 00:00:00:00:00:00");
    for (const char *missing : {"wa_none0", "", "lo0123456789abcdef"})
        EXPECT_EQ(std::tuple(my_iface_isup(missing), my_get_ifaddr(missing, address), my_get_imac(missing, mac)),
                  std::tuple(0, -1, -1)) << missing;
    VethPair pair("wa_if0", "wa_if1");
    if (!pair.made()) GTEST_SKIP() << "this machine does not let the test make a veth pair";
    EXPECT_EQ(std::pair(my_iface_isup("wa_if0"), my_get_ifaddr("wa_if0", address)), std::pair(0, -1));
    ASSERT_TRUE(VethPair::ip("addr add 10.77.0.1/24 dev wa_if0") && VethPair::ip("link set wa_if0 up"));
    EXPECT_EQ(my_iface_isup("wa_if0"), 1);  // up, but its peer is down: no carrier
    ASSERT_TRUE(pair.up());
    EXPECT_EQ(std::tuple(my_iface_isup("wa_if0"), my_get_ifaddr("wa_if0", address), my_get_imac("wa_if0", mac)),
              std::tuple(3, 0, 0));
    EXPECT_STREQ(address, "10.77.0.1");
    EXPECT_EQ(std::string(mac) + "\n", testing_support::read_file("/sys/class/net/wa_if0/address"));

    const int index = static_cast<int>(if_nametoindex("wa_if0"));
    const int fd = socket(AF_PACKET, SOCK_DGRAM, htons(ETH_P_ARP));
    sockaddr_ll at{AF_PACKET, htons(ETH_P_ARP), static_cast<int>(if_nametoindex("wa_if1"))};
    timeval wait{2, 0};
    ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) | bind(fd, (sockaddr *)&at, sizeof at), 0);
    auto announced = [&] {  // the next frame in hex, marked when it was not a broadcast
        unsigned char frame[256];
        socklen_t length = sizeof at;
        const ssize_t n = recvfrom(fd, frame, sizeof frame, 0, (sockaddr *)&at, &length);
        std::string hex = at.sll_pkttype == PACKET_BROADCAST ? "" : "not broadcast: ";
        for (ssize_t i = 0; i < n; ++i) hex += {"0123456789abcdef"[frame[i] >> 4], "0123456789abcdef"[frame[i] & 15]};
        return hex;
    };
    std::string own = mac;
    std::erase(own, ':');
    ASSERT_EQ(my_send_ifndex_masq_broadcast(index, htonl(0x0a090807)), 0);
    EXPECT_EQ(announced(), "0001080006040001" + own + "0a090807" + own + "0a090807");
    // The table's entries go out on their ports' interfaces.
    Sandbox box({"PORT1_INDEX_NUM=" + std::to_string(index)});
    ASSERT_EQ(my_add_bcast_system_ip(1, "192.168.5.1"), 0);
    ASSERT_EQ(my_send_bcast_system_ip(), 0);
    EXPECT_EQ(announced(), "0001080006040001" + own + "c0a80501" + own + "c0a80501");
    close(fd);
    EXPECT_EQ(my_send_ifndex_masq_broadcast(0, htonl(0x0a090807)), -1);  // no such interface
    if (VethPair::ip("tuntap add dev wa_tun0 mode tun")) {  // up, but with no link-layer address to announce from
        VethPair::ip("link set wa_tun0 up");
        EXPECT_EQ(my_send_ifndex_masq_broadcast(static_cast<int>(if_nametoindex("wa_tun0")), htonl(0x0a090807)), -1);
        VethPair::ip("tuntap del dev wa_tun0 mode tun");
    }
}

// Every message waiting on a family's queue: each of a command's type and size, its text NUL-padded.
Texts queued(key_t appliance_key) {
    Texts texts;
    struct {
        long type;
        char text[1024];
    } message;
    const int id = msgget(platform::ipc_key(appliance_key), 0);
    while (id >= 0 && msgrcv(id, &message, sizeof message.text, 0, IPC_NOWAIT) == 1024) {
        const size_t length = strnlen(message.text, sizeof message.text);
        EXPECT_EQ(message.type, 1);
        EXPECT_EQ(std::string(message.text + length, 1024 - length), std::string(1024 - length, '\0'));
        texts.emplace_back(message.text, length);
    }
    return texts;
}

// The call's status in a child, so that each call starts with no queue open.
int in_fresh_process(const std::function<int()> &call) {
    return testing_support::in_child([&] { std::exit(call()); }).status;
}

// Firewall commands reach their family's queue without the prefix word, cut to the queue's text; a removed
// queue fails once and is reopened; the debug setting runs IPv4 commands at once and drops IPv6 ones.
TEST(Iptables, CommandsReachTheirFamilysQueue) {
    {
        TempRoot root;
        EXPECT_EQ(in_fresh_process([] {
                      return std::min({my_iptables(4, "[%s]%s(),L:%d=> %s", "nat.c", "f", 42, "/sbin/iptables -F X"),
                                       my_iptables(4, "[x]y(),L:1=> /sbin/iptables -t nat -A %s -j MARK --set-mark "
                                                      "0x%s", "C1", id2mark("19700101000100")),
                                       my_iptables(6, "[x]y(),L:2=> /sbin/ip6tables -F Y"),
                                       my_iptables(4, "no-blank-at-all")});  // a braced list calls in order
                  }),
                  0);
        EXPECT_EQ(queued(0x912164), (Texts{"/sbin/iptables -F X",
                                           "/sbin/iptables -t nat -A C1 -j MARK --set-mark 0x0000003C",
                                           "no-blank-at-all"}));
        EXPECT_EQ(queued(0x912166), Texts{"/sbin/ip6tables -F Y"});
        EXPECT_EQ(in_fresh_process([] { return my_iptables(4, "p %s", std::string(1500, 'a').c_str()); }), 0);
        EXPECT_EQ(queued(0x912164), Texts{std::string(1021, 'a')});
        EXPECT_EQ(in_fresh_process([] { return -my_iptables(5, "p x"); }), 1);
        EXPECT_EQ(in_fresh_process([] {
                      const int first = my_iptables(4, "p first");
                      msgctl(msgget(platform::ipc_key(0x912164), 0), IPC_RMID, nullptr);
                      const int lost = my_iptables(4, "p lost");  // the cached queue is gone
                      return first == 0 && lost == -1 ? my_iptables(4, "p second") : 9;
                  }),
                  0);
        EXPECT_EQ(queued(0x912164), Texts{"second"});
    }
    Sandbox box({"SYSTEM_DEBUG_IPTABLES=y"});
    box.write("/commands.log", "");
    EXPECT_EQ(in_fresh_process([] {
                  return my_iptables(4, "[a]b(),L:1=> /sbin/iptables -F X") |
                         my_iptables(6, "[a]b(),L:1=> /sbin/ip6tables -F Y");
              }),
              0);
    EXPECT_EQ(box.commands(), "/sbin/iptables-static -F X\n");
    EXPECT_EQ(queued(0x912164).size() + queued(0x912166).size(), 0u);
}

// A sender kept waiting on a full queue (two commands fill it here) says so once on standard error; then the daemon's
// part, the test, reads every command in order and the sender ends.
TEST(Iptables, AFullQueueWaitsForTheDaemonAndSaysSoOnce) {
    TempRoot root;
    const int queue = msgget(platform::ipc_key(0x912164), IPC_CREAT | 0600);
    msqid_ds limits{};
    msgctl(queue, IPC_STAT, &limits);
    limits.msg_qbytes = 2 * 1024;
    ASSERT_EQ(msgctl(queue, IPC_SET, &limits), 0);
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    const pid_t sender = fork();
    if (sender == 0) {
        dup2(err[1], 2);
        for (int i = 0; i < 5; ++i) my_iptables(4, "[t]f(),L:1=> /sbin/iptables -N c%d", i);
        _exit(0);
    }
    close(err[1]);
    std::FILE *said = fdopen(err[0], "r");
    char line[256] = "", more[256] = "";
    pollfd notice{err[0], POLLIN, 0};  // a guard against a sender that never says it, no measure of when it does
    if (poll(&notice, 1, 120000) != 1 || !std::fgets(line, sizeof line, said)) kill(sender, SIGKILL);
    Texts got;
    int status = -1;
    for (bool sending = true; sending;) {
        sending = waitpid(sender, &status, WNOHANG) == 0;
        for (const std::string &command : queued(0x912164)) got.push_back(command);
    }
    EXPECT_EQ(std::string(line) + (std::fgets(more, sizeof more, said) ? more : ""),
              std::string(program_invocation_short_name) +
                  ": waiting for the firewall daemon to read the IPv4 firewall queue\n");
    std::fclose(said);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(got, (Texts{"/sbin/iptables -N c0", "/sbin/iptables -N c1", "/sbin/iptables -N c2",
                          "/sbin/iptables -N c3", "/sbin/iptables -N c4"}));
}

// The shared system address table as the other programs see it: count at 24, rows of
// "ifindex port address references" from 32.
Texts table() {
    Texts rows;
    const int id = shmget(platform::ipc_key(0x20100311), 0, 0);
    const auto *bytes = static_cast<const unsigned char *>(id < 0 ? nullptr : shmat(id, nullptr, SHM_RDONLY));
    int32_t count = 0, field[4];
    if (bytes) memcpy(&count, bytes + 24, 4);
    for (int i = 0; i < count && i < 1024; ++i) {
        memcpy(field, bytes + 32 + 16 * i, 16);
        char text[INET_ADDRSTRLEN];
        rows.push_back(std::to_string(field[0]) + " " + std::to_string(field[1]) + " " +
                       inet_ntop(AF_INET, &field[2], text, sizeof text) + " " + std::to_string(field[3]));
    }
    if (bytes) shmdt(bytes);
    return rows;
}

// Entries are counted, sorted by address then port, and removed at zero; refused pairs change nothing.
TEST(SystemAddress, EntriesAreCountedSortedAndRemovedAtZero) {
    Sandbox box({"PORT1_INDEX_NUM=7", "PORT2_INDEX_NUM=9"});
    EXPECT_EQ(my_add_bcast_system_ip(1, "10.0.0.5") | my_add_bcast_system_ip(1, "10.0.0.5"), 0);
    EXPECT_EQ(my_del_bcast_system_ip(1, "10.0.0.5"), 0);
    EXPECT_EQ(table(), Texts{"7 1 10.0.0.5 1"});
    EXPECT_EQ(my_add_bcast_system_ip(2, "10.0.0.5") | my_add_bcast_system_ip(1, "10.0.0.4") |
                  my_add_bcast_system_ip(3, "10.0.0.4"),  // no index defined for port 3
              0);
    EXPECT_EQ(table(), (Texts{"7 1 10.0.0.4 1", "0 3 10.0.0.4 1", "7 1 10.0.0.5 1", "9 2 10.0.0.5 1"}));
    for (const char *refused : {"0.0.0.0", "junk", ""})
        EXPECT_EQ(my_add_bcast_system_ip(1, refused) + my_del_bcast_system_ip(1, refused), -2) << refused;
    EXPECT_EQ(my_add_bcast_system_ip(0, "10.0.0.9") + my_del_bcast_system_ip(1, "10.0.0.9"), -2);
    EXPECT_EQ(my_del_bcast_system_ip(1, "10.0.0.5") | my_del_bcast_system_ip(1, "10.0.0.4"), 0);
    EXPECT_EQ(table(), (Texts{"0 3 10.0.0.4 1", "9 2 10.0.0.5 1"}));
    my_clear_bcast_system_ip();
    EXPECT_EQ(table(), Texts{});
}

// Two processes add 512 addresses each at once, in a shuffled order: the table ends full, sorted, each address once.
TEST(SystemAddress, TwoProcessesFillTheTableToItsEnd) {
    Sandbox box;
    const pid_t child = fork();
    const int process = child == 0;
    int failed = 0, status = -1;
    for (int i = 0; i < 512; ++i) {
        const int n = (i * 181) % 512;
        const std::string address = "10." + std::to_string(process) + "." + std::to_string(n / 256 + 1) + "." +
                                    std::to_string(n % 256);
        failed += my_add_bcast_system_ip(1 + process, address.c_str()) != 0;
    }
    if (child == 0) _exit(failed);
    waitpid(child, &status, 0);
    EXPECT_EQ(failed + status, 0);
    const Texts rows = table();
    ASSERT_EQ(rows.size(), 1024u);
    auto key = [](const std::string &row) {  // as stored: the address in network order, then the port
        in_addr address{};
        const size_t at = row.find(' ', 2) + 1;
        inet_pton(AF_INET, row.substr(at, row.rfind(' ') - at).c_str(), &address);
        return std::pair(address.s_addr, row[2]);
    };
    for (size_t i = 1; i < rows.size(); ++i) ASSERT_LT(key(rows[i - 1]), key(rows[i])) << rows[i];
    EXPECT_EQ(my_add_bcast_system_ip(3, "10.9.9.9"), -1);  // full
    EXPECT_EQ(my_add_bcast_system_ip(1, "10.0.1.1"), 0);   // present: counted
    EXPECT_EQ(table().size(), 1024u);
    my_clear_bcast_system_ip();
}

}  // namespace
