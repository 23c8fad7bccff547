// Applying and removing a virtual WAN link: its address on the port's
// device, its route mark, its policy rule and routing table, and the
// chains that mark, translate and count its traffic.
#include <string>

#include "system/module.h"

namespace {

using module::arg;

constexpr const char *kSource = "system/virtual_link_util.c";
constexpr const char *kRouteMarks = "/proc/net/ipt_ROUTEMARK/virtual_link";
constexpr int kRulePriority = 1500;

// The device that carries the link's address, and whether some port is in
// transparent routing.  A port in a bridged zone, or any port routing
// transparently, puts the address on the zone's bridge.
struct carrier {
    std::string device;
    bool transparent_routing = false;
};

carrier carrier_of(const virtual_link_record &r) {
    carrier c{r.wanport};
    const interface_record *wan = nullptr;
    const int ports = RETURN_DEF_INT("SYSTEM_PORT_NUM");
    for (int port = 1; port <= ports; ++port) {
        const interface_record *i = interface_read_shm(port);
        if (!i) continue;
        if (!wan && module::bounded(i->iname) == r.wanport) wan = i;
        if (i->imode == 3) c.transparent_routing = true;
    }
    if (wan)
        c.device = c.transparent_routing || wan->izone ? "br" + std::to_string(wan->izone) : module::bounded(wan->iname);
    return c;
}

// The removal's device, told by the interface record it is given.
std::string carrier_of(const interface_record &i) {
    const bool routing = i.itype == 2 && (i.summary & 32);
    const bool bridge = (i.itype == 2 || i.itype == 1) && (i.summary & 64) && i.izone > 0;
    return routing || bridge ? "br" + std::to_string(i.izone) : module::bounded(i.iname);
}

// The route-marking line is written between double quotes, one key and
// value after another: its values must be what their fields hold (a line
// edited by hand may hold anything).
bool applicable(const virtual_link_record &r) {
    return module::holds_values(&r, module::descriptions::virtual_link.fields,
                                {"mark", "wanport", "bandwidth_up_stream", "bandwidth_down_stream"});
}

// The address with its label, added or deleted.
void address(const char *verb, const virtual_link_record &r, const std::string &device) {
    const std::string d = arg(device.c_str());
    my_system("%s %s %s/%d broadcast %s dev %s label %s:vlink%s", "/sbin/ip addr", verb, arg(r.ipaddr).c_str(),
              my_mask_to_int(r.netmask), arg(my_broadcast(r.ipaddr, r.netmask)).c_str(), d.c_str(), d.c_str(),
              arg(r.mark).c_str());
}

}  // namespace

extern "C" {

void *virtual_link_initial_system_cmd(virtual_link_record *rec, int, int) {
    if (!rec || !applicable(*rec)) return rec;
    const virtual_link_record &r = *rec;
    const carrier c = carrier_of(r);
    const std::string mark = arg(r.mark), wan = arg(r.wanport), ip = arg(r.ipaddr);
    const int prefix = my_mask_to_int(r.netmask);
    address("add", r, c.device);
    my_system("echo \"+mark=0x%s prio=100 weight=1 devname=%s name=%s:%s status=0 upstream=%s downstream=%s\" > %s",
              r.mark, r.wanport, r.wanport, r.mark, r.bandwidth_up_stream, r.bandwidth_down_stream, kRouteMarks);
    my_system("%s add prio %d fwmark 0x%s table %s", "/sbin/ip rule", kRulePriority, mark.c_str(), mark.c_str());
    my_system("%s add default via %s dev %s src %s proto static table %s", "/sbin/ip route", arg(r.defgw).c_str(),
              arg(c.device.c_str()).c_str(), ip.c_str(), mark.c_str());

    const char *m = mark.c_str();
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -N preMangle_vlink_%s", m);
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -N postNat_vlink_%s", m);
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -A preMangle_vlink -j preMangle_vlink_%s", m);
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -A postNat_vlink -j postNat_vlink_%s", m);
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -A preMangle_vlink_%s -m condition --condition %s:%s", m,
                wan.c_str(), m);
    MODULE_RULE(4, kSource,
                "/sbin/iptables -t mangle -A preMangle_vlink_%s -i %s -d %s/%d -j ROUTEMARK --set-mark 0x%s", m,
                wan.c_str(), ip.c_str(), prefix, m);
    if (c.transparent_routing)
        MODULE_RULE(4, kSource,
                    "/sbin/iptables -t nat -A postNat_vlink_%s ! -i lo -s %s/%d -m routemark --mark 0x%s -j ACCEPT", m,
                    ip.c_str(), prefix, m);
    MODULE_RULE(4, kSource,
                "/sbin/iptables -t nat -A postNat_vlink_%s -o %s -m routemark --mark 0x%s -j SNAT --to-source %s", m,
                wan.c_str(), m, ip.c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -A postNat_vlink_%s -o %s -s %s -j SNAT --to-source %s", m,
                wan.c_str(), ip.c_str(), ip.c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -N wan%s_link_state", m);
    MODULE_RULE(4, kSource,
                "/sbin/iptables -t mangle -A wan_link_state -i %s -m routemark --mark 0x%s -j wan%s_link_state",
                wan.c_str(), m, m);
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -A wan%s_link_state", m);
    return rec;
}

void *virtual_link_discommand(virtual_link_record *rec, const interface_record *iface) {
    if (!rec || !applicable(*rec)) return rec;
    const virtual_link_record &r = *rec;
    const std::string mark = arg(r.mark), wan = arg(r.wanport);
    const char *m = mark.c_str();
    address("del", r, iface ? carrier_of(*iface) : carrier_of(r).device);
    my_system("echo \"-mark=0x%s\" > %s", r.mark, kRouteMarks);
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -D preMangle_vlink -j preMangle_vlink_%s", m);
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -D postNat_vlink -j postNat_vlink_%s", m);
    for (const char *option : {"-F", "-X"}) {
        MODULE_RULE(4, kSource, "/sbin/iptables -t mangle %s preMangle_vlink_%s", option, m);
        MODULE_RULE(4, kSource, "/sbin/iptables -t nat %s postNat_vlink_%s", option, m);
    }
    MODULE_RULE(4, kSource,
                "/sbin/iptables -t mangle -D wan_link_state -i %s -m routemark --mark 0x%s -j wan%s_link_state",
                wan.c_str(), m, m);
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -F wan%s_link_state", m);
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -X wan%s_link_state", m);
    my_system("%s flush table %s", "/sbin/ip route", m);
    my_system("%s del prio %d fwmark 0x%s table %s", "/sbin/ip rule", kRulePriority, m, m);
    return rec;
}

}  // extern "C"
