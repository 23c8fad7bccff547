// Gratuitous ARP announcements of the appliance's own addresses.
#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <net/ethernet.h>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "webadmin.h"

extern "C" {

int my_send_ifndex_masq_broadcast(int ifindex, uint32_t address) {
    char name[IF_NAMESIZE] = "";
    if (ifindex <= 0 || !if_indextoname(static_cast<unsigned>(ifindex), name)) std::strcpy(name, "?");
    char ip[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address, ip, sizeof ip);

    const runtime::unique_fd socket_fd(socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP)));
    const int fd = socket_fd.get();
    sockaddr_ll own{};
    own.sll_family = AF_PACKET;
    own.sll_ifindex = ifindex;
    own.sll_protocol = htons(ETH_P_ARP);
    socklen_t length = sizeof own;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&own), sizeof own) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&own), &length) != 0) {
        platform::log(LOG_ERR, "Send arp failed!! dev:%s, ip:%s, %m", name, ip);
        return -1;
    }
    if (own.sll_halen == 0) {
        platform::log(LOG_ERR, "Interface \"%s\" is not ARPable (no ll address)", name);
        return -1;
    }

    // Request of the address by itself: sender and target are the address
    // and the interface's own hardware address, sent to every station.
    const size_t halen = own.sll_halen;
    unsigned char frame[sizeof(arphdr) + 2 * (sizeof own.sll_addr + 4)];
    arphdr header{};
    header.ar_hrd = htons(own.sll_hatype == ARPHRD_FDDI ? ARPHRD_ETHER : own.sll_hatype);
    header.ar_pro = htons(ETH_P_IP);
    header.ar_hln = static_cast<unsigned char>(halen);
    header.ar_pln = 4;
    header.ar_op = htons(ARPOP_REQUEST);
    unsigned char *at = frame;
    std::memcpy(at, &header, sizeof header);
    at += sizeof header;
    for (int side = 0; side < 2; ++side) {
        std::memcpy(at, own.sll_addr, halen);
        std::memcpy(at + halen, &address, 4);
        at += halen + 4;
    }
    sockaddr_ll everyone = own;
    std::memset(everyone.sll_addr, 0xFF, halen);
    const ssize_t sent = sendto(fd, frame, static_cast<size_t>(at - frame), 0,
                                reinterpret_cast<sockaddr *>(&everyone), sizeof everyone);
    if (sent < 0) platform::log(LOG_ERR, "Send arp failed!! dev:%s, ip:%s, %m", name, ip);
    return sent < 0 ? -1 : 0;
}

}  // extern "C"
