// The shared system address table, read back from its segment, and the ARP
// announcements, caught on the far end of a veth pair.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/sandbox.h"
#include "support/veth.h"
#include "webadmin.h"

namespace {

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

    for (const char *refused : {"0.0.0.0", "junk", ""}) {
        EXPECT_EQ(my_add_bcast_system_ip(1, refused), -1) << refused;
        EXPECT_EQ(my_del_bcast_system_ip(1, refused), -1) << refused;
    }
    EXPECT_EQ(my_add_bcast_system_ip(1, nullptr), -1);
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
    EXPECT_EQ(arp.packet_type, PACKET_BROADCAST);
    EXPECT_EQ(ntohs(arp.header.ar_hrd), ARPHRD_ETHER);
    EXPECT_EQ(ntohs(arp.header.ar_pro), ETH_P_IP);
    EXPECT_EQ(arp.header.ar_hln, 6);
    EXPECT_EQ(arp.header.ar_pln, 4);
    EXPECT_EQ(ntohs(arp.header.ar_op), ARPOP_REQUEST);
    EXPECT_EQ(arp.sender_hw, own);
    EXPECT_EQ(arp.target_hw, own);
    EXPECT_EQ(arp.sender_ip, "10.9.8.7");
    EXPECT_EQ(arp.target_ip, "10.9.8.7");

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
