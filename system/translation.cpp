// The mechanics of the address translation modules: their chains, the
// source translation of their internal addresses and the ARP answers for
// their public addresses.
#include "system/translation.h"

#include <string_view>
#include <utility>

namespace translation {

namespace {

// The interface prefixes (input, output) of the loop-back translation
// between internal segments, in the order the rules are added.
constexpr std::pair<const char *, const char *> kLoopbackPairs[] = {
    {"LAN", "LAN"}, {"WLAN", "WLAN"}, {"WLAN", "LAN"}, {"LAN", "WLAN"},
    {"DMZ", "DMZ"}, {"WDMZ", "WDMZ"}, {"WDMZ", "DMZ"}, {"DMZ", "WDMZ"},
};

}  // namespace

// The chains' rules name the module's source and function, not this file.
#define CHAIN_RULE(format, ...) \
    my_iptables(4, "[%s]%s(),L:%d=> " format, source, function, __LINE__, __VA_ARGS__)

void chains::create(const char *function, const char *chain, const char *mark) const {
    const std::string c = module::arg(chain), m = module::arg(mark);
    CHAIN_RULE("/sbin/iptables -t nat -N %s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -N nat%s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -N post%s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -A preNat_%s -m utmmark --type vserver --mark 0x%s -j nat%s", hook, m.c_str(),
               c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -A postNat_%s -j post%s", hook, c.c_str());
    CHAIN_RULE("/sbin/iptables -t mangle -N pre%s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t mangle -A preMangle_%s -j pre%s", hook, c.c_str());
}

void chains::flush(const char *function, const char *chain) const {
    const std::string c = module::arg(chain);
    CHAIN_RULE("/sbin/iptables -t nat -F %s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -F nat%s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -F post%s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t mangle -F pre%s", c.c_str());
}

void chains::remove(const char *function, const char *chain, const char *mark) const {
    const std::string c = module::arg(chain), m = module::arg(mark);
    CHAIN_RULE("/sbin/iptables -t nat -D preNat_%s -m utmmark --type vserver --mark 0x%s -j nat%s", hook, m.c_str(),
               c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -D postNat_%s -j post%s", hook, c.c_str());
    CHAIN_RULE("/sbin/iptables -t mangle -D preMangle_%s -j pre%s", hook, c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -X %s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -X nat%s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t nat -X post%s", c.c_str());
    CHAIN_RULE("/sbin/iptables -t mangle -X pre%s", c.c_str());
}

void translate_sources(const char *source, const char *function, order o, const std::string &c,
                       const routed_device &port, const std::string &address, const std::string &real) {
    const std::string dev = module::arg(port.dev.c_str());
    const bool address_first = o == order::address_first;
    if (!port.route_mark.empty()) {
        const std::string route = module::arg(port.route_mark.c_str());
        if (address_first)
            CHAIN_RULE("/sbin/iptables -t nat -A post%s -s %s -o %s -m routemark --mark 0x%s -j SNAT --to-source %s",
                       c.c_str(), address.c_str(), dev.c_str(), route.c_str(), real.c_str());
        else
            CHAIN_RULE("/sbin/iptables -t nat -A post%s -o %s -s %s -m routemark --mark 0x%s -j SNAT --to-source %s",
                       c.c_str(), dev.c_str(), address.c_str(), route.c_str(), real.c_str());
        CHAIN_RULE("/sbin/iptables -t nat -A post%s -o %s -m routemark --mark 0x%s -m sockaddr --sockaddr %s -j SNAT "
                   "--to-source %s",
                   c.c_str(), dev.c_str(), route.c_str(), address.c_str(), real.c_str());
    } else {
        const std::string outs[] = {dev, dev + "_ppp"};
        for (const std::string &out : outs) {
            if (address_first)
                CHAIN_RULE("/sbin/iptables -t nat -A post%s -s %s -o %s -j SNAT --to-source %s", c.c_str(),
                           address.c_str(), out.c_str(), real.c_str());
            else
                CHAIN_RULE("/sbin/iptables -t nat -A post%s -o %s -s %s -j SNAT --to-source %s", c.c_str(), out.c_str(),
                           address.c_str(), real.c_str());
        }
        for (const std::string &out : outs)
            CHAIN_RULE("/sbin/iptables -t nat -A post%s -o %s -m sockaddr --sockaddr %s -j SNAT --to-source %s",
                       c.c_str(), out.c_str(), address.c_str(), real.c_str());
    }
    for (const auto &[in, out] : kLoopbackPairs) {
        if (address_first)
            CHAIN_RULE("/sbin/iptables -t nat -A post%s -d %s -i %s+ -o %s+ -m utmmark --type vserver ! --mark 0x0 -j "
                       "SNAT --to-source %s",
                       c.c_str(), address.c_str(), in, out, real.c_str());
        else
            CHAIN_RULE("/sbin/iptables -t nat -A post%s -i %s+ -o %s+ -d %s -m utmmark --type vserver ! --mark 0x0 -j "
                       "SNAT --to-source %s",
                       c.c_str(), in, out, address.c_str(), real.c_str());
    }
}

#undef CHAIN_RULE

routed_device split_device(const char *name) {
    const std::string_view text = name ? name : "";
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return {std::string(text), {}};
    return {std::string(text.substr(0, colon)), std::string(text.substr(colon + 1))};
}

void public_arp(const char *action, const char *dev, const char *address) {
    if (!action || !dev || !address) return;
    const auto answer = [&](const char *port) {
        my_system("%s %s INPUT -i %s -d %s -j mangle --mangle-mac-reply --mangle-target CONTINUE", "/sbin/arptables",
                  action, module::arg(port).c_str(), module::arg(address).c_str());
    };
    answer(dev);
    const int ports = RETURN_DEF_INT("SYSTEM_PORT_NUM");
    for (int p = 1; p <= ports; ++p) {
        const interface_record *wan = interface_read_shm(p);
        if (!wan || module::bounded(wan->iname) != dev || wan->itype != 2 || wan->cmode != 3) continue;
        for (int q = 1; q <= ports; ++q) {
            const interface_record *r = interface_read_shm(q);
            if (r && (r->itype == 1 || r->itype == 3) && (r->imode == 2 || r->imode == 3))
                answer(module::bounded(r->iname).c_str());
        }
    }
}

}  // namespace translation
