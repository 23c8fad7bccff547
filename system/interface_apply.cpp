// Applying an interface record to the running system and undoing it: the
// device's name, bond, link, bridge and MAC address, its addresses and
// default route, a WAN's translation and marks, the DHCP client and the
// PPPoE dialler, the management-service rules and the transparent-mode
// rules.  Every stage is driven by the record's change and action flags.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "system/interface.h"
#include "system/module.h"

namespace {

using interface::kSource;
using module::arg;

constexpr int kAllChanges = 1023;
constexpr int kUndoActions = IA_DEL | IA_DISCONNECT | IA_RELEASE;
constexpr int kApplyActions = IA_ADD | IA_CONNECT | IA_RENEW;
constexpr int kAddressChanges = iTYPE_CHANGE | iMODE_CHANGE | cMODE_CHANGE | 8 | VALUE_CHANGE;
constexpr int kAddressActions = 63;
// A WAN's routing table and route mark follow its name sequence.
constexpr int kWanTableBase = 100;
constexpr int kWanMarkBase = 0x100;
constexpr char kSysNet[] = "/sys/class/net";
constexpr const char *kServices[] = {"icmp", "http", "https", "telnet", "ssh"};

std::string number(int n) { return std::to_string(n); }

bool dhcp_wan(const interface_record &r) { return r.itype == 2 && r.cmode == 2; }
bool pppoe_wan(const interface_record &r) { return r.itype == 2 && r.cmode == 1; }
bool nat_wan(const interface_record &r) { return r.itype == 2 && r.imode == 1; }
// The ports whose own address is set here: static WANs and LAN or DMZ ports
// that translate.
bool addressed(const interface_record &r) { return r.imode == 1 && (r.itype != 2 || r.cmode == 3); }

std::string zone_bridge(const interface_record &r) { return "br" + number(r.izone); }
bool on_zone_bridge(const interface_record &r) { return interface::carrier(r) == zone_bridge(r); }
// The device a WAN's traffic leaves by: the dialler's for PPPoE.
std::string outward(const interface_record &r) {
    return pppoe_wan(r) ? module::bounded(r.iname) + "_ppp" : interface::carrier(r);
}
// The kernel's own name of the port's device: a bond master's is the
// bonding driver's device of that port.
std::string kernel_name(const interface_record &r) {
    return interface::bond_master(r) ? "bond" + number(r.port - 1) : module::bounded(r.dev);
}

int prefix_of(const char *mask) { return my_mask_to_int(mask); }

// ---- Device ----------------------------------------------------------------

// Renames the device to the interface's name (on) or back.  A busy device
// refuses the new name; it is taken down and tried again.
void set_device_name(const interface_record &r, bool on) {
    const std::string name = module::bounded(r.iname);
    const std::string from = on ? kernel_name(r) : name, to = on ? name : kernel_name(r);
    for (int retry = 0;; ++retry) {
        my_system("%s set %s %s", "/sbin/ip link", arg(from.c_str()).c_str(), "down");
        if (my_system("%s set %s name %s", "/sbin/ip link", arg(from.c_str()).c_str(), arg(to.c_str()).c_str()) == 0 ||
            retry == 2)
            return;
        my_debug(kSource, __LINE__, "set interface name %s retry %d", to.c_str(), retry + 1);
        platform::sleep_seconds(1);
    }
}

// The addresses a bonding setting of the kernel lists ("10.0.0.1 10.0.0.2").
std::vector<std::string> setting_words(const std::string &file) {
    std::vector<std::string> words;
    runtime::file_handle in(std::fopen(platform::path(file).c_str(), "re"));
    std::string word;
    for (int c = 0; in && c != EOF;) {
        c = std::getc(in.get());
        if (c != EOF && !std::isspace(c)) {
            word += static_cast<char>(c);
            continue;
        }
        if (!word.empty() && module::is_ipv4(word.c_str())) words.push_back(word);
        word.clear();
    }
    return words;
}

// The bond's mode and ARP monitoring, from its master's record (a member's
// master is read from the shared memory).
void set_bond_options(const interface_record &port) {
    const interface_record *master = interface::bond_master(port) ? &port : interface_read_shm(port.ibond);
    if (!master || !interface::bond_master(*master)) return;
    const interface_record &r = *master;
    const std::string bond = arg(r.iname);
    const char *dir = kSysNet;
    my_system("/bin/echo \"%d\" > %s/%s/bonding/mode", r.bmode, dir, bond.c_str());
    const std::string base = std::string(dir) + "/" + module::bounded(r.iname) + "/bonding/";
    for (const std::string &old : setting_words(base + "arp_ip_target"))
        my_system("/bin/echo \"-%s\" > %s/%s/bonding/arp_ip_target", old.c_str(), dir, bond.c_str());
    for (const std::string &old : setting_words(base + "arp_ip_source"))
        my_system("/bin/echo \"-%s\" > %s/%s/bonding/arp_ip_source", old.c_str(), dir, bond.c_str());
    const bool arp = module::has_ipv4(r.arpip);
    if (arp)
        my_system("/bin/echo \"%s%s\" > %s/%s/bonding/arp_ip_target", "+", arg(r.arpip).c_str(), dir, bond.c_str());
    if (arp && module::has_ipv4(r.ipaddr))
        my_system("/bin/echo \"%s%s\" > %s/%s/bonding/arp_ip_source", "+", arg(r.ipaddr).c_str(), dir, bond.c_str());
    my_system("/bin/echo \"%d\" > %s/%s/bonding/miimon", 1000, dir, bond.c_str());
    my_system("/bin/echo \"%d\" > %s/%s/bonding/arp_interval", arp ? 1000 : 0, dir, bond.c_str());
    my_system("/bin/echo \"%d\" > %s/%s/bonding/arp_validate", arp ? 3 : 0, dir, bond.c_str());
}

void set_device(const interface_record &r, bool up) {
    const std::string device = interface::in_use(r) ? module::bounded(r.iname) : module::bounded(r.dev);
    my_system("%s set %s %s", "/sbin/ip link", arg(device.c_str()).c_str(), up ? "up" : "down");
}

void make_bridge(const interface_record &r) {
    const std::string bridge = zone_bridge(r);
    my_system("%s addbr %s", "/sbin/brctl", bridge.c_str());
    my_system("%s set %s %s", "/sbin/ip link", bridge.c_str(), "up");
}

// Transparent routing puts a port on its zone's bridge: one that routes
// transparently, and a static WAN while some port does.
bool routed_onto_bridge(const interface_record &r) {
    return on_zone_bridge(r) && (r.imode == 3 || (r.itype == 2 && r.cmode == 3 && (r.summary & 32)));
}

// The zone's bridge of a port that transparent routing puts on it.
void set_routing(const interface_record &r) {
    if (routed_onto_bridge(r)) make_bridge(r);
}

// The zone's bridge of a port that transparent bridging puts on it.
void set_bridge(const interface_record &r) {
    if (on_zone_bridge(r) && !routed_onto_bridge(r)) make_bridge(r);
}

void join_bridge(const interface_record &r, bool on) {
    my_system("%s %sif %s %s", "/sbin/brctl", on ? "add" : "del", zone_bridge(r).c_str(), arg(r.iname).c_str());
    my_system("%s set %s promisc %s", "/sbin/ip link", arg(r.iname).c_str(), on ? "on" : "off");
}

// The record's MAC address, or the port's factory address for none.
void set_mac_addr(const interface_record &r) {
    const char *mac = r.mac;
    if (!module::is_mac(mac) || module::same_text(mac, "00:00:00:00:00:00"))
        mac = RETURN_DEF_STR(M("PORT%d_ORIG_MAC", r.port));
    if (!module::is_mac(mac)) return;
    my_system("%s set %s address %s", "/sbin/ip link", arg(r.iname).c_str(), arg(mac).c_str());
}

// Enslaves (on) or releases the devices of every port whose bond master is r.
void set_port_bonding(const interface_record &r, bool on) {
    my_debug(kSource, __LINE__, "=== START Port Bonding ===");
    std::string slaves[64];
    int count = 0, last = 0;
    for (int port = 1; port <= interface::port_count() && count < 64; ++port) {
        const interface_record *q = port == r.port ? &r : interface_read_shm(port);
        if (!q || q->ibond != r.port) continue;
        slaves[count++] = module::bounded(q->dev);
        last = port;
    }
    my_debug(kSource, __LINE__, "slave_num:%d, last_slave:%d", count, last);
    for (int i = 0; i < count; ++i) {
        const std::string slave = arg(slaves[i].c_str());
        if (on) {
            my_system("%s set %s %s", "/sbin/ip link", slave.c_str(), "down");
            my_system("%s %s %s", "/sbin/ifenslave", arg(r.iname).c_str(), slave.c_str());
        } else {
            my_system("%s -d %s %s", "/sbin/ifenslave", arg(r.iname).c_str(), slave.c_str());
        }
    }
}

// ---- Translation and marks of a WAN -------------------------------------------

// The hook that marks what enters by the WAN as from a WAN; op "A" appends,
// "D" deletes.
void set_from_wan_mark(const interface_record &r, const char *op) {
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -%s preMangle_WAN -i %s -j preMangle_fromWAN", op,
                arg(outward(r).c_str()).c_str());
}

// The chains of the WAN's translation and route mark, and their hooks for
// the traffic that leaves and enters by it.
void set_nat(const interface_record &r, bool on) {
    const std::string name = arg(r.iname), device = arg(outward(r).c_str());
    if (on) {
        MODULE_RULE(4, kSource, "/sbin/iptables -t nat -N postNat_%s", name.c_str());
        MODULE_RULE(4, kSource, "/sbin/iptables -t nat -A postNat -o %s -j postNat_%s", device.c_str(), name.c_str());
        MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -N mark_%s", name.c_str());
        MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -A preMangle_WAN -i %s -j mark_%s", device.c_str(),
                    name.c_str());
        // A WAN whose address comes later gets no boot-time address stage:
        // its traffic is marked as from a WAN along with its chains.
        if (r.cmode != 3) set_from_wan_mark(r, "A");
        return;
    }
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -D preMangle_WAN -i %s -j mark_%s", device.c_str(), name.c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -F mark_%s", name.c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -X mark_%s", name.c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -D postNat -o %s -j postNat_%s", device.c_str(), name.c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -F postNat_%s", name.c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -X postNat_%s", name.c_str());
}

// nat_mode 1 translates to nat_ipaddr, anything else to the WAN's address.
const char *nat_source(const interface_record &r, const char *address) {
    return r.nat_mode == 1 && module::has_ipv4(r.nat_ipaddr) ? r.nat_ipaddr : address;
}

// Traffic from the WAN's own subnet (hosts routed transparently) keeps its
// addresses; the rest leaves with the translated source.
void set_def_nat(const interface_record &r, const char *source) {
    const std::string name = arg(r.iname);
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -F postNat_%s", name.c_str());
    if (module::has_ipv4(r.ipaddr) && module::is_ipv4(r.netmask))
        MODULE_RULE(4, kSource, "/sbin/iptables -t nat -A postNat_%s ! -i lo -s %s/%s -j ACCEPT", name.c_str(),
                    my_netid(r.ipaddr, r.netmask), arg(r.netmask).c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t nat -A postNat_%s -j SNAT --to-source %s", name.c_str(),
                arg(source).c_str());
}

void set_def_wan_mark(const interface_record &r) {
    const std::string name = arg(r.iname);
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -F mark_%s", name.c_str());
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -A mark_%s -j ROUTEMARK --set-mark 0x%x --set-continue",
                name.c_str(), kWanMarkBase + r.nameseq);
}

// ---- Addresses and routes -------------------------------------------------

void set_ip_addr(const char *op, const interface_record &r, const std::string &device) {
    const std::string on = arg(device.c_str());
    const bool add = module::same_text(op, "add");
    if (module::has_ipv4(r.ipaddr) && module::is_ipv4(r.netmask)) {
        const int prefix = prefix_of(r.netmask);
        const std::string address = arg(r.ipaddr);
        my_system("%s %s %s/%d broadcast %s dev %s label %s:%s", "/sbin/ip addr", op, address.c_str(), prefix,
                  my_broadcast(r.ipaddr, r.netmask), on.c_str(), on.c_str(), arg(r.iname).c_str());
        if (add)
            my_system("%s replace %s/%d dev %s src %s", "/sbin/ip route", my_netid(r.ipaddr, r.netmask), prefix,
                      on.c_str(), address.c_str());
    }
    if (module::has_ipv6(r.ipv6addr) && module::is_digits(r.PrefixLength)) {
        const std::string length = arg(r.PrefixLength);
        my_system("%s %s %s/%s dev %s", "/sbin/ip -6 addr", op, arg(r.ipv6addr).c_str(), length.c_str(), on.c_str());
        if (add)
            my_system("%s replace %s/%s dev %s", "/sbin/ip -6 route", my_netid(r.ipv6addr, r.PrefixLength),
                      length.c_str(), on.c_str());
    }
}

void flush_wan_table(const interface_record &r) {
    my_system("%s flush table %d", "/sbin/ip route", kWanTableBase + r.nameseq);
    if (module::has_ipv6(r.ipv6gw)) my_system("%s flush table %d", "/sbin/ip -6 route", kWanTableBase + r.nameseq);
}

void set_def_gw(const interface_record &r, const std::string &device, const char *gateway, const char *source) {
    const int table = kWanTableBase + r.nameseq;
    flush_wan_table(r);
    // On the dialler's point-to-point device 0.0.0.0 stands for no gateway or
    // source: the route goes by the device alone.
    const auto given = pppoe_wan(r) ? module::is_ipv4 : module::has_ipv4;
    if (given(gateway) && given(source))
        my_system("%s %s default via %s dev %s src %s proto static table %d", "/sbin/ip route", "add",
                  arg(gateway).c_str(), arg(device.c_str()).c_str(), arg(source).c_str(), table);
    if (module::has_ipv6(r.ipv6gw))
        my_system("%s %s default via %s dev %s proto static table %d", "/sbin/ip -6 route", "add",
                  arg(r.ipv6gw).c_str(), arg(device.c_str()).c_str(), table);
}

// Hosts of a LAN with addresses of other networks are answered and routed:
// the appliance replies to their ARP requests and marks their traffic.
void anyiprouting(const interface_record &r, bool on, const std::string &carrier) {
    if (!module::has_ipv4(r.ipaddr) || !module::is_ipv4(r.netmask)) return;
    const std::string device = arg(carrier.c_str());
    const char *net = my_netid(r.ipaddr, r.netmask);
    const int prefix = prefix_of(r.netmask);
    MODULE_RULE(4, kSource, "/sbin/iptables -t mangle -%s preMangle_anyiprouting -i %s ! -s %s/%d -j anyiprouting",
                on ? "A" : "D", device.c_str(), net, prefix);
    my_system("%s -%s INPUT -i %s ! -s %s/%d -j mangle --mangle-mac-reply --mangle-target CONTINUE", "/sbin/arptables",
              on ? "A" : "D", device.c_str(), net, prefix);
}

void change_wip(const interface_record &r) { my_system("%s add %d", "/usr/www/cgi-bin/change_wip", r.nameseq); }

// ---- WAN address modes -----------------------------------------------------

void dhcp_client_set(const interface_record &r) {
    const interface_dynamic &d = r.connection.dynamic;
    std::string options = " -R";
    if (d.dynamicIP_hostname[0] && !module::same_text(d.dynamicIP_hostname, module::kUnset))
        options += " -h " + arg(d.dynamicIP_hostname);
    if (d.dynamicIP_domainname[0] && !module::same_text(d.dynamicIP_domainname, module::kUnset))
        options += " -m " + arg(d.dynamicIP_domainname);
    my_system("/sbin/dhcpcd %s%s > /dev/null 2>&1", arg(r.iname).c_str(), options.c_str());
}

void dhcp_client_release(const interface_record &r) {
    const std::string pid_file = "/var/run/dhcpcd-" + module::bounded(r.iname) + ".pid";
    my_system("/bin/kill `/bin/cat %s`", arg(pid_file.c_str()).c_str());
}

std::string pppoe_vlan_device(const interface_record &r) {
    return module::bounded(r.iname) + "." + number(r.connection.pppoe.pppoe_vlan);
}

void set_pppoe_vlan(const interface_record &r, bool on) {
    const std::string device = arg(pppoe_vlan_device(r).c_str());
    if (!on) {
        my_system("%s rem %s", "/sbin/vconfig", device.c_str());
        return;
    }
    my_system("%s add %s %d", "/sbin/vconfig", arg(r.iname).c_str(), r.connection.pppoe.pppoe_vlan);
    my_system("%s set %s %s", "/sbin/ip link", device.c_str(), "up");
}

void set_pppoe(const interface_record &r) {
    my_debug(kSource, __LINE__, "[%s %d]set_pppoe", __func__, __LINE__);
    interface::write_pppoe_config(1, r);
    interface::pppoe_connect(r);
    // Without a fixed address from the provider, neither gateway nor source.
    const interface_pppoe &p = r.connection.pppoe;
    const bool fixed = p.pppoe_service;
    set_def_gw(r, outward(r), fixed ? p.pppoe_via_defgw : "0.0.0.0", fixed ? p.pppoe_via_ipaddr : "0.0.0.0");
}

// ---- Management services ----------------------------------------------------

// The rules of each service on the device, its VLANs and its bridge
// members, for both families; op "A" adds, "D" deletes.
void set_security(const interface_record &r, const char *op) {
    const int bits = std::atoi(r.security);
    const std::string name = arg(r.iname);
    const std::string device = pppoe_wan(r) ? arg(outward(r).c_str()) : name;
    const std::string patterns[] = {device, name + ".+", name + "_B+"};
    for (int i = 0; i < 5; ++i) {
        const char *target = bits & (1 << i) ? "accept" : "drop";
        for (const std::string &p : patterns) {
            MODULE_RULE(4, kSource, "/sbin/iptables -t filter -%s interface_%s_in -i %s -j tlog_%s", op, kServices[i],
                        p.c_str(), target);
            MODULE_RULE(4, kSource, "/sbin/iptables -t filter -%s interface_%s_out -o %s -j tlog_%s", op, kServices[i],
                        p.c_str(), target);
            MODULE_RULE(6, kSource, "/sbin/ip6tables -t filter -%s interface_%s_in -i %s -j tlog_%s", op, kServices[i],
                        p.c_str(), target);
            MODULE_RULE(6, kSource, "/sbin/ip6tables -t filter -%s interface_%s_out -o %s -j tlog_%s", op, kServices[i],
                        p.c_str(), target);
        }
    }
}

// ---- Transparent bridges ------------------------------------------------------

void flush_transparent_bridge_rule() { MODULE_RULE(4, kSource, "/sbin/iptables -t nat -F postNat_bridge"); }

// Traffic that stays within the transparent bridges is not translated.
void set_transparent_bridge_rule() {
    std::set<int> zones;
    for (int port = 1; port <= interface::port_count(); ++port) {
        const interface_record *r = interface_read_shm(port);
        if (r && interface::in_use(*r) && r->imode == 2 && r->izone > 0) zones.insert(r->izone);
    }
    for (int in : zones)
        for (int out : zones)
            MODULE_RULE(4, kSource, "/sbin/iptables -t nat -A postNat_bridge -i br%d -o br%d -j ACCEPT", in, out);
}

void routing_rules(const char *chain, const std::string &device) {
    for (const char *protocol : {"IPv4", "IPv6"})
        my_system("%s -t broute -A %s -i %s -p %s -j redirect --redirect-target DROP", "/sbin/ebtables", chain,
                  device.c_str(), protocol);
}

// ---- The sequences --------------------------------------------------------------

void set_address(const interface_record &r, int boot) {
    const int action = r.iaction;
    if (dhcp_wan(r)) {
        if (action & IA_RENEW) dhcp_client_set(r);
    } else if (pppoe_wan(r)) {
        my_debug(kSource, __LINE__, "iNEW->iaction=0x%x, IA_CONNECT=%d, iNEW->detect.frequency=%d", action,
                 action & IA_CONNECT ? 1 : 0, r.detect_frequency);
        if ((r.ichange & (iTYPE_CHANGE | cMODE_CHANGE | VALUE_CHANGE)) && r.connection.pppoe.pppoe_vlan > 0)
            set_pppoe_vlan(r, true);
        if (action & IA_CONNECT) set_pppoe(r);
    } else if (r.itype == 2) {
        if (!addressed(r)) return;
        const std::string device = interface::carrier(r);
        if (on_zone_bridge(r)) join_bridge(r, true);
        set_ip_addr("add", r, device);
        set_def_gw(r, device, r.gateway, r.ipaddr);
        if (boot) {
            set_def_nat(r, nat_source(r, r.ipaddr));
            set_def_wan_mark(r);
            // An address change re-applies it: deleted first, it is there once.
            set_from_wan_mark(r, "D");
            set_from_wan_mark(r, "A");
        }
        change_wip(r);
    } else if (action & IA_ADD) {
        // Transparent modes put the port on its zone's bridge; a port that
        // translates gets its own address, on the bridge when its zone has one.
        if (on_zone_bridge(r)) join_bridge(r, true);
        if (r.imode != 1) return;
        set_ip_addr("add", r, interface::carrier(r));
        if (r.anyiprouting) anyiprouting(r, true, interface::carrier(r));
    }
}

bool structural(const interface_record &r, int action) {
    return (r.ichange & (iTYPE_CHANGE | iMODE_CHANGE | cMODE_CHANGE | VALUE_CHANGE | MAC_CHANGE)) ||
           (r.iaction & action);
}

int apply(interface_record &r, int boot) {
    if (!r.ichange && !r.iaction) {
        r.ichange = kAllChanges;
        r.iaction = kApplyActions;
    }
    const int change = r.ichange, action = r.iaction, port = r.port;
    my_debug(kSource, __LINE__, "=====START command port %d=====", port);
    if (!interface::in_use(r)) {
        if (structural(r, IA_ADD)) set_device(r, false);
    } else {
        if (change & iTYPE_CHANGE) set_device_name(r, true);
        if ((change & VALUE_CHANGE) && interface::bonded(r)) set_bond_options(r);
        my_debug(kSource, __LINE__, "===== command 0.1 port %d =====", port);
        set_device(r, true);
        if (r.summary & 32) set_routing(r);  // some port routes transparently
        if (r.summary & 64) set_bridge(r);   // some port bridges transparently
        if (change & (iTYPE_CHANGE | MAC_CHANGE)) set_mac_addr(r);
        my_debug(kSource, __LINE__, "===== command 1 port %d =====", port);
        if ((change & iTYPE_CHANGE) && interface::bond_master(r)) set_port_bonding(r, true);
        if (boot && (change & (iTYPE_CHANGE | NAT_CHANGE)) && nat_wan(r)) set_nat(r, true);
        my_debug(kSource, __LINE__, "===== command 1.1 port %d =====", port);
        if ((change & kAddressChanges) || (action & kAddressActions)) {
            my_debug(kSource, __LINE__, "===== command 2 port %d =====", port);
            set_address(r, boot);
        }
        if ((change & SECURITY_CHANGE) || boot) {
            my_debug(kSource, __LINE__, "===== command 2.1 port %d =====", port);
            set_security(r, "A");
        }
        if ((change & (iTYPE_CHANGE | iMODE_CHANGE)) || (action & IA_ADD)) {
            flush_transparent_routing_rule(3);
            set_transparent_routing_rule(3);
            flush_transparent_bridge_rule();
            set_transparent_bridge_rule();
        }
        // The virtual links of a bond ride on its master, whose device changed.
        if (r.ibond) virtual_link_restorebyinterface4bonding(&r);
        if (r.itype == 2 && IF_DEFINE("HAVE_WAN_ACCELERATOR"))
            my_system("%s %s %s > /dev/null 2>&1", "/usr/sbin/wan_accelerator", r.speeder ? "start" : "stop",
                      arg(r.iname).c_str());
    }
    my_debug(kSource, __LINE__, "=====END command port %d=====\n", port);
    return 0;
}

int undo(interface_record &r) {
    my_debug(kSource, __LINE__, "=====START discommand port %d=====", r.port);
    if (!interface::in_use(r)) return 0;
    const int change = r.ichange, action = r.iaction;
    const bool gone = structural(r, IA_DEL);
    if (gone) flush_transparent_routing_rule(1);
    if (dhcp_wan(r) && ((action & IA_RELEASE) || (change & (iTYPE_CHANGE | cMODE_CHANGE)))) dhcp_client_release(r);
    if (pppoe_wan(r) && ((action & IA_DISCONNECT) || (change & (iTYPE_CHANGE | cMODE_CHANGE | VALUE_CHANGE)))) {
        interface::pppoe_disconnect(r.iname);
        if ((change & (iTYPE_CHANGE | cMODE_CHANGE | VALUE_CHANGE)) && r.connection.pppoe.pppoe_vlan > 0)
            set_pppoe_vlan(r, false);
        if (change & (iTYPE_CHANGE | cMODE_CHANGE)) interface::flush_pppoe(r);
    }
    if (r.itype == 2 && gone) flush_wan_table(r);
    if (addressed(r) && gone) {
        if (r.itype != 2 && r.anyiprouting) anyiprouting(r, false, interface::carrier(r));
        set_ip_addr("del", r, interface::carrier(r));
    }
    if (on_zone_bridge(r) && gone) join_bridge(r, false);
    if (nat_wan(r) && ((change & (iTYPE_CHANGE | NAT_CHANGE)) || (action & IA_DEL))) {
        set_from_wan_mark(r, "D");
        set_nat(r, false);
    }
    // Applying a port with the boot argument (every command does) adds its
    // service rules again, so undoing it always takes them away.
    set_security(r, "D");
    if ((change & iTYPE_CHANGE) && interface::bond_master(r)) set_port_bonding(r, false);
    if (change & iTYPE_CHANGE) set_device_name(r, false);
    return 0;
}

}  // namespace

namespace interface {

int initial_system_cmd(interface_record *rec, int, int boot) { return rec ? apply(*rec, boot) : -1; }
int command(interface_record *rec, int n) { return initial_system_cmd(rec, n, 1); }
int discommand(interface_record *rec, int) { return rec ? undo(*rec) : -1; }

// Every port is undone before any is applied again, so that bonds and
// bridges are rebuilt from nothing.
int recommand(module_table *table, int port) {
    if (!table) {
        if (IF_DEFINE("HAVE_OSTRAL_SMARTUTIL")) WI(107, enableSmartUtil());
        return 0;
    }
    auto *old_records = static_cast<record_file *>(table->handle);
    record_file *new_records = nullptr;
    static_assert(sizeof new_records == sizeof table->rewrite_secrets);
    std::memcpy(&new_records, &table->rewrite_secrets, sizeof new_records);
    if (!old_records) return -1;
    if (!new_records) new_records = old_records;
    if (!port) my_debug(kSource, __LINE__, "***** Restart All Port *****");
    const int first = port ? port : 1, last = port ? port : port_count();
    for (int pass = 0; pass < 2; ++pass) {
        record_file *h = pass ? new_records : old_records;
        for (int p = first; p <= last; ++p) {
            interface_record r{};
            if (!table->getnum(h, &r, p) || (!port && bond_member(r))) continue;  // applied with its master
            r.ichange = kAllChanges;
            r.iaction = pass ? kApplyActions : kUndoActions;
            summary(h, &r);
            if (pass) apply(r, 1);
            else undo(r);
        }
    }
    return 0;
}

wan_address_event *dynamic_ip_up(wan_address_event *event) {
    const interface_record *found = event ? find_port(event->iname) : nullptr;
    if (!found || found->itype != 2 || !module::is_ipv4(event->ipaddr)) return event;
    const interface_record r = *found;
    if (r.imode == 1) {
        set_def_nat(r, nat_source(r, event->ipaddr));
        set_def_wan_mark(r);
    }
    change_wip(r);
    return event;
}

}  // namespace interface

extern "C" {

void set_ip_addr_nat_mode(int on, const interface_record *rec, const char *device) {
    if (rec && device) set_ip_addr(on ? "add" : "del", *rec, device);
}

void set_anyiprouting(int on, const interface_record *rec, const char *device) {
    if (rec) anyiprouting(*rec, on, device ? device : interface::carrier(*rec));
}

void flush_transparent_routing_rule(int mode) {
    if (mode & 1) my_system("%s -t broute -F %s", "/sbin/ebtables", "transparent_routing");
    if (mode & 2) my_system("%s -t broute -F %s", "/sbin/ebtables", "transparent_routing_ap");
}

// The ports in transparent routing are bridged with their WAN, yet their IP
// traffic is routed: the bridge hands it to the appliance's own stack.  The
// access-point interfaces of a controller on such a port are treated alike.
void set_transparent_routing_rule(int mode) {
    if (mode & 1)
        for (int port = 1; port <= interface::port_count(); ++port) {
            const interface_record *r = interface_read_shm(port);
            if (r && interface::in_use(*r) && r->imode == 3) routing_rules("transparent_routing", arg(r->iname));
        }
    if (mode & 2) {
        const interface_record *controller = interface::find_port(RS(41));
        if (controller && controller->imode == 3)
            routing_rules("transparent_routing_ap",
                          "W" + arg(module::bounded(controller->iname).substr(0, 3).c_str()) + "+");
    }
}

}  // extern "C"
