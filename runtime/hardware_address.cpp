// Hardware addresses: of one of the appliance's interfaces, and of a
// neighbour as the kernel's ARP table holds it.
#include <net/if.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <new>

#include "platform/platform.h"
#include "webadmin.h"

namespace {

constexpr size_t kMacText = 18;  // "xx:xx:xx:xx:xx:xx" and its NUL
constexpr int kArpProtocol = 0x0806;
constexpr int kArpLine = 1024;

class arp_table {
public:
    arp_table() : stream_(platform::popen_read("/bin/cat /proc/net/arp")) {}
    ~arp_table() {
        if (stream_) platform::pclose_read(stream_);
    }
    arp_table(const arp_table &) = delete;
    arp_table &operator=(const arp_table &) = delete;
    FILE *get() const { return stream_; }

private:
    FILE *stream_;
};

int find_in_arp_table(const char *ip, char *out) {
    arp_table table;
    if (!table.get()) return -1;
    char line[kArpLine];
    char address[kArpLine], hardware[kArpLine];
    bool line_start = true;
    while (fgets(line, sizeof line, table.get())) {
        // The rest of an overlong line is not a line of its own.
        bool starts_line = line_start;
        line_start = strchr(line, '\n') != nullptr;
        if (!starts_line) continue;
        if (sscanf(line, "%1023s %*s %*s %1023s %*s %*s", address, hardware) != 2) continue;
        if (strcmp(address, ip) != 0) continue;
        snprintf(out, kMacText, "%.17s", hardware);
        return 0;
    }
    return -1;
}

}  // namespace

extern "C" int my_get_imac(const char *ifname, char *out) {
    if (!ifname || !out) return -1;
    struct ifreq request {};
    // A longer name would be cut to the name of another interface.
    if (strlen(ifname) >= sizeof request.ifr_name) return -1;
    memcpy(request.ifr_name, ifname, strlen(ifname));
    int fd = socket(AF_INET, SOCK_PACKET, htons(kArpProtocol));
    if (fd < 0) return -1;
    int result = ioctl(fd, SIOCGIFHWADDR, &request);
    close(fd);
    if (result < 0) return -1;
    const auto *mac = reinterpret_cast<const unsigned char *>(request.ifr_hwaddr.sa_data);
    snprintf(out, kMacText, "%.2x:%.2x:%.2x:%.2x:%.2x:%.2x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return 0;
}

extern "C" int my_arp_mac(const char *ip, char *out) {
    if (!ip || !out) return -1;
    try {
        return find_in_arp_table(ip, out);
    } catch (const std::bad_alloc &) {
        return -1;
    }
}
