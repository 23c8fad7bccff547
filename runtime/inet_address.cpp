// IPv4 and IPv6 address arithmetic on texts, for the rules and routes the
// configuration modules write.  Unreadable texts give neutral results.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/rotating_buffer.h"
#include "webadmin.h"

namespace {

struct Ntoa;
struct NetIds;
struct Broadcasts;
struct NetIds6;
struct Broadcasts6;
struct Transfers;

// Up to four dotted numbers, the first in the top byte, missing ones 0 and
// each kept to its low eight bits; false when not even one can be read.
bool read_ipv4(const char *text, uint32_t &address) {
    unsigned octet[4] = {0, 0, 0, 0};
    if (!text || std::sscanf(text, "%u.%u.%u.%u", &octet[0], &octet[1], &octet[2], &octet[3]) < 1) return false;
    address = 0;
    for (unsigned o : octet) address = (address << 8) | (o & 0xFF);
    return true;
}

char *dotted(char *buffer, size_t size, uint32_t address) {
    std::snprintf(buffer, size, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF,
                  address & 0xFF);
    return buffer;
}

// The network (host bits cleared) or broadcast (host bits set) address of
// an IPv6 text and a prefix length, compressed; "::" when unreadable.
template <typename Tag>
char *ipv6_edge(const char *address, const char *prefix, bool host_bits_set) {
    char *out = runtime::next_buffer<24, 40, Tag>();
    std::strcpy(out, "::");
    in6_addr bytes{};
    if (inet_pton(AF_INET6, address, &bytes) != 1) return out;
    int length = prefix ? std::atoi(prefix) : 0;
    length = length < 0 ? 0 : length > 128 ? 128 : length;
    for (int bit = length; bit < 128; ++bit) {
        const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
        if (host_bits_set) bytes.s6_addr[bit / 8] |= mask;
        else bytes.s6_addr[bit / 8] &= static_cast<uint8_t>(~mask);
    }
    if (!inet_ntop(AF_INET6, &bytes, out, 40)) std::strcpy(out, "::");
    return out;
}

}  // namespace

extern "C" {

uint32_t my_inet_addr(const char *text) {
    uint32_t address = 0;
    return read_ipv4(text, address) ? address : 0;
}

char *my_inet_ntoa(uint32_t address) { return dotted(runtime::next_buffer<128, 20, Ntoa>(), 20, address); }

int my_mask_to_int(const char *mask) { return std::popcount(my_inet_addr(mask)); }

int my_usable_ip(const char *mask) {
    const int bits = my_mask_to_int(mask);
    if (bits == 32) return 1;
    if (bits == 0 || bits == 31) return 0;
    return static_cast<int>((uint32_t{1} << (32 - bits)) - 2);
}

char *my_netid(const char *address, const char *mask) {
    if (address && std::strchr(address, ':')) return ipv6_edge<NetIds6>(address, mask, false);
    return dotted(runtime::next_buffer<24, 16, NetIds>(), 16, my_inet_addr(address) & my_inet_addr(mask));
}

char *my_broadcast(const char *address, const char *mask) {
    if (address && std::strchr(address, ':')) return ipv6_edge<Broadcasts6>(address, mask, true);
    uint32_t bits = 0;
    const uint32_t broadcast = read_ipv4(mask, bits) ? (my_inet_addr(address) | ~bits) : 0xFFFFFFFFu;
    return dotted(runtime::next_buffer<24, 16, Broadcasts>(), 16, broadcast);
}

char *my_ipv6_transfer(const char *text) {
    char *out = runtime::next_buffer<64, 40, Transfers>();
    in6_addr bytes{};
    if (!text || inet_pton(AF_INET6, text, &bytes) != 1) bytes = in6_addr{};
    unsigned group[8];
    for (int i = 0; i < 8; ++i) group[i] = (bytes.s6_addr[2 * i] << 8) | bytes.s6_addr[2 * i + 1];
    std::snprintf(out, 40, "%04x:%04x:%04x:%04x:%04x:%04x:%04x:%04x", group[0], group[1], group[2], group[3],
                  group[4], group[5], group[6], group[7]);
    return out;
}

int isc_net_pton(int af, const char *src, void *dst) { return inet_pton(af, src, dst); }

const char *isc_net_ntop(int af, const void *src, char *dst, size_t size) {
    return inet_ntop(af, src, dst, static_cast<socklen_t>(size));
}

}  // extern "C"
