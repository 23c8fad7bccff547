// Queries of the appliance's network interfaces, and interface and zone
// names.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "webadmin.h"

namespace {

constexpr size_t kDeviceList = 1024;

// An interface request for name, on a socket to ask it through; false when
// the name cannot be an interface's or no socket can be had.
class InterfaceQuery {
public:
    explicit InterfaceQuery(const char *name) : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        std::memset(&request_, 0, sizeof request_);
        valid_ = fd_.get() >= 0 && name && *name && std::strlen(name) < IFNAMSIZ;
        if (valid_) std::memcpy(request_.ifr_name, name, std::strlen(name));
    }

    const ifreq *ask(unsigned long request) {
        return valid_ && ioctl(fd_.get(), request, &request_) == 0 ? &request_ : nullptr;
    }

private:
    runtime::unique_fd fd_;
    bool valid_ = false;
    ifreq request_;
};

}  // namespace

extern "C" {

int my_nameseq(const char *name) {
    if (!name) return 0;
    for (std::string_view prefix : {"eth", "LAN", "WAN", "DMZ", "Port", "ipsec"})
        if (std::strncmp(name, prefix.data(), prefix.size()) == 0) return std::atoi(name + prefix.size());
    return 0;
}

int my_iface_isup(const char *name) {
    InterfaceQuery query(name);
    const ifreq *answer = query.ask(SIOCGIFFLAGS);
    if (!answer) return 0;
    return ((answer->ifr_flags & IFF_UP) ? 1 : 0) | ((answer->ifr_flags & IFF_RUNNING) ? 2 : 0);
}

int my_get_ifaddr(const char *name, char *out) {
    if (!out) return -1;
    InterfaceQuery query(name);
    const ifreq *answer = query.ask(SIOCGIFADDR);
    if (!answer || answer->ifr_addr.sa_family != AF_INET) return -1;
    sockaddr_in address;
    std::memcpy(&address, &answer->ifr_addr, sizeof address);
    return inet_ntop(AF_INET, &address.sin_addr, out, INET_ADDRSTRLEN) ? 0 : -1;
}

int my_device(char *out) {
    if (!out) return 0;
    out[0] = '\0';
    FILE *listing = platform::popen_read("/sbin/ip link show");
    if (!listing) return 0;
    int count = 0;
    size_t used = 0;
    char line[1024];
    while (std::fgets(line, sizeof line, listing)) {
        // A line longer than the buffer: its rest is skipped with it.
        const bool whole = std::strchr(line, '\n') || std::feof(listing);
        const bool continuation = line[0] == ' ' || line[0] == '\t';
        char name[256], flags[512];
        const bool read = !continuation && std::sscanf(line, "%*s%255s%511s", name, flags) == 2;
        while (!whole && std::fgets(line, sizeof line, listing) && !std::strchr(line, '\n')) {
        }
        if (!read || !std::strstr(flags, "BROADCAST") || std::strstr(flags, "NOARP")) continue;
        size_t length = std::strlen(name);
        if (length > 0 && name[length - 1] == ':') name[--length] = '\0';
        // Names that would not fit the list are left out, and not counted.
        const size_t needed = length + (count > 0 ? 1 : 0);
        if (used + needed >= kDeviceList) continue;
        if (count > 0) out[used++] = ' ';
        std::memcpy(out + used, name, length + 1);
        used += length;
        ++count;
    }
    platform::pclose_read(listing);
    return count;
}

int my_record_time(const char *path) {
    if (!path) return -1;
    FILE *uptime = std::fopen(platform::path("/proc/uptime").c_str(), "re");
    if (!uptime) return -1;
    double seconds = 0;
    const bool read = std::fscanf(uptime, "%lf", &seconds) == 1 && seconds >= 0;
    std::fclose(uptime);
    if (!read) return -1;
    FILE *record = std::fopen(platform::path(path).c_str(), "w+");
    if (!record) return -1;
    const bool written = std::fprintf(record, "%lu %d", static_cast<unsigned long>(seconds), 0) > 0;
    return std::fclose(record) == 0 && written ? 0 : -1;
}

}  // extern "C"
