// The interface module: its line and file, change flags, the shared memory and its queries, checks before a change.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/module_harness.h"

using namespace testing_support;

namespace {
constexpr const char *kFile = "/etc/sysconfig/.firewall/interface.conf";
const std::string kV6 = "0000:0000:0000:0000:0000:0000:0000:0000";
const std::string kNoDetect = "0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 ";

// The fields between the addresses and the security of a default record.
std::string middle(const char *bandwidth) {
    return " 0.0.0.0 00:00:00:00:00:00 0 " + kV6 + " 64 " + kV6 + " 0 0.0.0.0 0 0 0.0.0.0 " + kV6 + " ^o^ 0 " +
           bandwidth + " " + bandwidth + " ";
}
}  // namespace

// Every address mode's line stored, read back and stored again the same; the shared memory holding each port.
TEST(InterfaceLine, EveryKindOfPortIsStoredAndReadBack) {
    ModuleBox box({"SYSTEM_PORT_NUM=5"});
    Module t(interface_register, interface_unregister);
    interface_record lan = interface_defaults(1, "LAN1", 1, 3, "192.168.1.1"),
                     dhcp = interface_defaults(2, "WAN1", 2, 2), pppoe = interface_defaults(3, "WAN2", 2, 1),
                     pptp = interface_defaults(4, "WAN3", 2, 4), unused = interface_defaults(5, "^o^", 0, 3);
    lan.anyiprouting = 1, put(lan.security, "7"), put(dhcp.connection.dynamic.dynamicIP_hostname, "gw \"1\"");
    interface_pppoe &p = pppoe.connection.pppoe;
    put(p.pppoe_username, "user@isp"), put(p.pppoe_password, "pass word");
    p.pppoe_service = 1, p.pppoe_idle = 5, p.pppoe_vlan = 7;
    put(pptp.connection.pptp.pptp_dhcp_passwd, "secret"), pptp.connection.pptp.pptp_isreal = 3;
    record_file *h = t.open(1);
    for (interface_record *r : {&lan, &dhcp, &pppoe, &pptp, &unused}) ASSERT_EQ(t->modify(h, r, 99), 0);
    t.close();
    const std::string file = box.read(kFile), wan = " 0.0.0.0 255.255.255.0" + middle("204800") + "0 0 0 0.0.0.0 0 ";
    EXPECT_EQ(file, "1 0 1 1 3 eth0 LAN1 192.168.1.1 255.255.255.0" + middle("204800") + "7 0 0 0.0.0.0 0 1 \n" +
                        "2 0 2 1 2 eth1 WAN1" + wan + "\"gw \\\"1\\\"\" ^o^ " + kNoDetect + "204800 204800 \n" +
                        "3 0 2 1 1 eth2 WAN2" + wan + "user@isp \"pass word\" 1 0.0.0.0 0.0.0.0 0.0.0.0 0 5 7 " +
                        kNoDetect + "204800 204800 \n4 0 2 1 4 eth3 WAN3" + wan +
                        "^o^ ^o^ 0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0 0 ^o^ 3 ^o^ ^o^ ^o^ secret " + kNoDetect +
                        "204800 204800 \n5 0 0 1 0 eth4 ^o^" + wan + "\n");
    h = t.open(1);
    interface_record r{};
    for (int k = 1; t->getline(h, &r, nullptr, k); ++k) t->modify(h, &r, 0);
    t.close();
    EXPECT_EQ(box.read(kFile), file);
    EXPECT_EQ((std::vector<int>{interface_read_shm(3)->connection.pppoe.pppoe_vlan, interface_read_shm(2)->nameseq,
                                interface_read_shm(5)->cmode}), (std::vector<int>{7, 1, 0}));
}

// Opening adds the ports the file lacks from the definitions; in the wizard the temporary copy is edited and the
// running ports stay; a port beyond the memory is refused and logged.
TEST(InterfaceFile, OpenAddsTheMissingPortsAndModifyMirrorsThem) {
    ModuleBox box({"SYSTEM_PORT_NUM=3", "HAVE_SWITCH_SYSTEM=y", "SYSTEM_PORT1_IP=192.168.10.1",
                   "SYSTEM_PORT1_NETMASK=255.255.255.0", "SYSTEM_PORT1_PING=y", "SYSTEM_PORT1_HTTPS=y",
                   "SYSTEM_MAX_BANDWIDTH=100000"});
    Module t(interface_register, interface_unregister);
    box.write("/var/debug.msg", ""), t.open(1), t.close();
    EXPECT_EQ(box.read(kFile), "1 0 1 1 3 eth0 LAN1 192.168.10.1 255.255.255.0" + middle("100000") +
                                   "5 0 0 0.0.0.0 0 0 \n2 0 2 1 2 eth1 WAN1 0.0.0.0 0.0.0.0" + middle("100000") +
                                   "0 0 0 0.0.0.0 0 ^o^ ^o^ " + kNoDetect + "100000 100000 \n" +
                                   "3 0 0 1 0 eth2 ^o^ 0.0.0.0 0.0.0.0" + middle("100000") + "0 0 0 0.0.0.0 0 \n");
    interface_record wan = interface_defaults(2, "WAN1", 2, 3, "203.0.113.5");
    qValueAdd("wizard", "%s", "wizard");
    ASSERT_EQ(t->modify(t.open(1), &wan, 0), 0);
    t.close();
    EXPECT_EQ(line_of(box.read("/var/tmp/interface_tmp.conf"), 2).substr(0, 31), "2 0 2 1 3 eth1 WAN1 203.0.113.5");
    EXPECT_STREQ(interface_read_shm(2)->iname, "");
    qFree();
    record_file *h = t.open(1);
    ASSERT_EQ(t->modify(h, &wan, 0), 0);
    EXPECT_STREQ(interface_read_shm(2)->ipaddr, "203.0.113.5");
    // Beyond the ports (4): the file would take it, the memory cannot.
    for (int port : {4, 0}) EXPECT_EQ((wan.port = port, t->modify(h, &wan, 0)), -1) << port;
    for (const char *logged : {"] Write Share Memory Exception Error !", "] Write Interface Configure Error !"})
        EXPECT_NE(box.read("/syslog.log").find(logged), std::string::npos) << logged;
}

// The change flags name what differs between the old and the new record.
TEST(InterfaceChange, FlagsNameWhatDiffers) {
    ModuleBox box({"SYSTEM_PORT_NUM=2"});
    Module t(interface_register, interface_unregister);
    const interface_record wan = interface_defaults(2, "WAN1", 2, 3, "203.0.113.5"),
                           lan = interface_defaults(1, "LAN1", 1, 3, "192.168.1.1"),
                           pppoe = interface_defaults(2, "WAN1", 2, 1);
    const interface_record bridged = [&] { interface_record r = lan; return r.imode = 2, r; }();
    using edit = std::function<void(interface_record &)>;
    const struct { const char *what; const interface_record &old_rec; edit change; int flags; } cases[] = {
        {"security only", wan, [](auto &r) { put(r.security, "31"); }, SECURITY_CHANGE},
        {"static gateway", wan, [](auto &r) { put(r.gateway, "203.0.113.1"); }, VALUE_CHANGE},
        {"bond mode", wan, [](auto &r) { r.bmode = 1; }, VALUE_CHANGE},
        {"type, zone and bond", wan, [](auto &r) { r.itype = 3, r.izone = 2, r.ibond = 2; }, iTYPE_CHANGE},
        {"address mode: values not compared", wan, [](auto &r) { r.cmode = 2, put(r.ipaddr, "1.1.1.1"); }, cMODE_CHANGE},
        {"forwarding mode", lan, [](auto &r) { r.imode = 2; }, iMODE_CHANGE},
        {"MAC and translation", wan, [](auto &r) { put(r.mac, "00:11:22:33:44:55"), r.nat_mode = 1; },
         MAC_CHANGE | NAT_CHANGE},
        {"detection and bandwidth", wan,
         [](auto &r) { put(r.detect_ipaddr[8], "8.8.8.8"), put(r.bandwidth_upthreshold, "9"); },
         DETECT_CHANGE | BANDWIDTH_CHANGE},
        {"PPPoE idle time", pppoe, [](auto &r) { r.connection.pppoe.pppoe_idle = 5; }, VALUE_CHANGE},
        {"LAN mask", lan, [](auto &r) { put(r.netmask, "255.255.0.0"); }, VALUE_CHANGE},
        {"static IPv6 address", wan, [](auto &r) { put(r.ipv6addr, "2001:db8::5"); }, VALUE_CHANGE},
        {"detection switched on, its domain, the IPv6 mode: not compared", wan,
         [](auto &r) { r.detect_alive = 1, put(r.detect_domain, "example.com"), r.ipv6cmode = 1; }, 0},
        {"LAN address when bridging", bridged, [](auto &r) { put(r.ipaddr, "10.0.0.1"); }, 0},
        {"out of use: the MAC goes with it", wan, [](auto &r) { r.itype = 0, put(r.mac, "00:11:22:33:44:55"); },
         iTYPE_CHANGE},
    };
    for (const auto &c : cases) {
        interface_record changed = c.old_rec;
        c.change(changed);
        EXPECT_EQ((std::vector<int>{t->change(const_cast<interface_record *>(&c.old_rec), &changed), changed.ichange}),
                  std::vector<int>(2, c.flags)) << c.what;
    }
    EXPECT_EQ(t->change(nullptr, const_cast<interface_record *>(&wan)), -1);
}

// Records by port and name in the shared memory and the queries answered from it; no chain query in the kernel: zeros.
TEST(InterfaceQueries, AnswerFromTheSharedMemory) {
    ModuleBox box({"SYSTEM_PORT_NUM=5", "HAVE_OSTRAL_SMARTUTIL=y"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(interface_register, interface_unregister);
    interface_record lan1 = interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1"), member = interface_port(2, "LAN4", 1),
                     wan1 = interface_port(5, "WAN1", 2, 1, 3, "203.0.113.5"), wan2 = interface_port(3, "WAN2", 2, 1, 2),
                     lan3 = interface_port(4, "LAN3", 1, 2, 3, "0.0.0.0", "0", 6);
    wan1.ibond = member.ibond = 5, put(lan1.security, "4");  // the bond of the last port
    install_interfaces({lan1, wan1, wan2, member});
    for (int port : {0, 6, -1}) EXPECT_EQ(interface_read_shm(port), nullptr) << port;
    // Port 4 is not installed: zeros.
    EXPECT_EQ((std::vector<int>{interface_read_shm(4)->port, interface_read_shm(3)->cmode}), (std::vector<int>{0, 2}));
    install_interfaces({lan3});
    EXPECT_EQ(std::string(getBondedName(2)) + getBondedName(1), "WAN1LAN1");
    // HTTPS is let in on LAN1 only; the library has no module of permitted addresses here.
    EXPECT_EQ((std::vector<int>{return_contrast_port_num("WAN2"), return_contrast_port_num("LAN1"),
                                return_contrast_port_num("DMZ1"), return_contrast_port_num(nullptr), nextINUM(1),
                                nextINUM(3), haveNatInterface(1), haveNatInterface(2),
                                haveNatInterfaceWithTransparentBridge(1), haveAccessibleInterface(0),
                                haveAccessibleInterface(1), isTransparentBridge("LAN3"), isTransparentBridge("LAN1"),
                                permit_ip_num()}), (std::vector<int>{3, 1, 0, 0, 2, 1, 1, 1, 1, 1, 0, 6, 0, 0}));
    // The summary of a record over the ports of a file, or of the memory.
    lan1.imode = 3;
    EXPECT_EQ(call<interface_summary_fn>(t->interface_check, t.open(1), &lan1), 1 | 32);
    EXPECT_EQ(call<interface_summary_fn>(t->interface_check, nullptr, &lan1), 1 | 32 | 64);
    // Two WANs in use: the line load can be spread.
    call<interface_recommand_fn>(t->recommand, nullptr, 0);
    EXPECT_EQ(*RI(107), 1);
    uint64_t first = 7, second = 7;
    const uint64_t counted = chain_counters("nat", "mip_20240101000000", &first, &second);
    EXPECT_EQ((std::vector<uint64_t>{chain_references("nat", "mip_20240101000000"), counted, first, second}),
              (std::vector<uint64_t>{0, 0, 0, 0}));
}

// A record stored through its module's own table: defaults, then fill.
template <typename Record, typename Fill>
void store(module_table *(*register_fn)(), void (*unregister_fn)(module_table *), Fill fill) {
    Module m(register_fn, unregister_fn);
    Record r{};
    m->clear(&r), m->set_default(&r, nullptr), fill(r);
    ASSERT_EQ(m->add(m.open(1), &r), 0);
}

// Before a port is changed, the modules that refer to it are asked: the code names the first that objects; a route
// that stays is added again.
TEST(InterfaceCheckOptions, TheModulesThatUseTheInterfaceAreAsked) {
    ModuleBox box({"SYSTEM_PORT_NUM=10"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(interface_register, interface_unregister);
    const interface_record lan1 = interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1"),
                           lan2 = interface_port(2, "LAN2", 1, 1, 3, "192.168.2.1"), unused = interface_port(3, "^o^", 0);
    // One WAN or DMZ for each module that may refer to an interface.
    const char *const others[] = {"WAN1", "WAN2", "WAN3", "WAN4", "WAN5", "WAN6", "DMZ1"};
    const int codes[] = {8, 11, 12, 13, 14, 16, 17};  // the code of each module when its interface is renamed
    std::vector<interface_record> ports = {lan1, lan2, unused};
    for (int i = 0; i < 7; ++i)
        ports.push_back(
            interface_port(4 + i, others[i], i < 6 ? 2 : 3, 1, 3, ("172.16." + std::to_string(i) + ".1").c_str()));
    install_interfaces(ports);
    store<ddns_record>(ddns_register, ddns_unregister, [](auto &r) { r.auto_wan = 1, put(r.wan_info, "WAN1"); });
    store<mapped_ip_record>(mapped_ip_register, mapped_ip_unregister, [](auto &r) { put(r.real_device_name, "WAN2"); });
    store<virtual_ip_record>(virtual_ip_register, virtual_ip_unregister,
                             [](auto &r) { put(r.real_device_name, "WAN3"); });
    store<vpn_ipsec_autokey_record>(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister,
                                    [](auto &r) { r.wan_num = 7; });
    store<vpn_pptp_client_record>(vpn_pptp_client_register, vpn_pptp_client_unregister, [](auto &r) { r.wan_num = 8; });
    store<virtual_link_record>(virtual_link_register, virtual_link_unregister, [](auto &r) { put(r.wanport, "WAN6"); });
    WS(41, "DMZ1");
    box.write("/etc/sysconfig/.firewall/static_route.conf", "10.1.0.0 255.255.0.0 192.168.1.254 LAN1 0\n");
    box.write("/etc/sysconfig/.firewall/mvlan.conf", "LAN2 5 10.5.0.1 255.255.255.0 \n");
    const auto check = [&](interface_record old_rec, const char *iname, const char *ipaddr) {
        interface_record new_rec = old_rec.itype ? old_rec : lan2;
        put(new_rec.iname, iname), put(new_rec.ipaddr, ipaddr);
        return call<interface_check_options_fn>(reinterpret_cast<module_op>(t->isTheSame), &old_rec, &new_rec);
    };
    // Unchanged; LAN2 is port 2's; port 2's subnet; a VLAN of LAN2; the route's gateway leaves; its interface goes.
    EXPECT_EQ((std::vector<int>{check(lan1, "LAN1", "192.168.1.1"), check(lan1, "LAN2", "192.168.1.1"),
                                check(lan1, "LAN1", "192.168.2.9"), check(lan2, "LAN5", "192.168.2.1"),
                                check(lan1, "LAN1", "10.0.0.1"), check(lan1, "LAN5", "192.168.1.1")}),
              (std::vector<int>{0, 6, 7, 9, 10, 10}));
    box.take();
    EXPECT_EQ(check(lan1, "LAN1", "192.168.1.2"), 0) << "the gateway stays";
    EXPECT_EQ(box.take().commands, "/sbin/ip route del 10.1.0.0/16 via 192.168.1.254 dev LAN1 table 20\n"
                                   "/sbin/ip route add 10.1.0.0/16 via 192.168.1.254 dev LAN1 table 20\n");
    EXPECT_EQ(check(unused, "LAN3", "10.9.0.1"), 0) << "nothing refers to a port out of use";
    for (int i = 0; i < 7; ++i) EXPECT_EQ(check(ports[3 + i], "WAN9", ports[3 + i].ipaddr), codes[i]) << others[i];
}
