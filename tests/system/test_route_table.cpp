// The routing modules: static routes, further subnets and VLANs of an interface, the dynamic routing built from them.
#include <gtest/gtest.h>

#include "support/module_harness.h"

using namespace testing_support;

namespace {
constexpr const char *kRoutes = "/etc/sysconfig/.firewall/static_route.conf";
interface_record zoned(interface_record r, int imode, int zone) { return r.imode = imode, r.izone = zone, r; }
}  // namespace

// A route goes on the device carrying its interface (its own, a zone's bridge, the controller's, a bridged VPN's), an
// unknown one's on none, nor one with a prefix past 128; a renamed interface's routes added again; the same-route check.
TEST(RouteTable, RoutesGoOnTheDeviceThatCarriesTheirInterface) {
    ModuleBox box({"SYSTEM_PORT_NUM=4"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(route_table_register, route_table_unregister);
    const interface_record lan = interface_port(1, "LAN1", 1), wan = interface_port(2, "WAN1", 2),
                           lan2 = interface_port(2, "LAN2", 1), dmz = interface_port(3, "DMZ1", 3);
    const struct {
        const char *what; std::vector<interface_record> ports; const char *controller, *vpn, *iname, *device;
    } cases[] = {
        {"own device", {lan}, "^o^", "", "LAN1", "LAN1"},
        {"transparent routing", {zoned(lan, 3, 2)}, "^o^", "", "LAN1", "br2"},
        {"bridge with a zone", {zoned(lan, 2, 1)}, "^o^", "", "LAN1", "br1"},
        {"bridge without a zone", {zoned(lan, 2, 0)}, "^o^", "", "LAN1", "LAN1"},
        {"NAT LAN in a zone while a port bridges", {zoned(lan, 1, 4), zoned(dmz, 2, 4)}, "^o^", "", "LAN1", "br4"},
        {"access-point controller", {lan}, "LAN1", "", "LAN1", "brgre"},
        {"bridged VPN", {lan, lan2}, "^o^", "0100", "LAN2", "brvpn2"},
        {"static WAN while a port routes", {zoned(lan, 3, 1), zoned(wan, 1, 3)}, "^o^", "", "WAN1", "br3"},
        {"every port counts, in use or not", {zoned(interface_port(1, "LAN1", 0), 3, 1), zoned(wan, 1, 3)}, "^o^", "",
         "WAN1", "br3"},
        {"port not in use", {interface_port(1, "LAN1", 0)}, "^o^", "", "LAN1", "LAN1"},
        {"VLAN device", {}, "^o^", "", "eth1.5", "eth1.5"},
        {"unknown interface", {lan}, "^o^", "", "LAN7", ""},
    };
    for (const auto &c : cases) {
        reset_interfaces(c.ports), WS(41, c.controller), WS(58, c.vpn);
        route_record r = t.record<route_record>("10.1.2.3 255.255.0.0 192.168.1.254 " + std::string(c.iname) + " 0");
        call<route_command_fn>(t->command, &r, 0), call<route_command_fn>(t->discommand, &r, 0);
        const std::string via = " 10.1.0.0/16 via 192.168.1.254 dev " + std::string(c.device) + " table 20\n";
        EXPECT_EQ(box.take().commands, *c.device ? "/sbin/ip route add" + via + "/sbin/ip route del" + via : "")
            << c.what;
    }
    route_record r = t.record<route_record>("2001:db8:1:: 48 2001:db8::1 LAN1 1");
    call<route_command_fn>(t->command, &r, 0);
    EXPECT_EQ(box.take().commands, "/sbin/ip -6 route add 2001:db8:1::/48 via 2001:db8::1 dev LAN1 table 20\n");
    // A prefix past 128 (4294967296 would be read as 0: a default route) is neither taken from a form nor applied.
    EXPECT_EQ((submit_form({{"ipv", "1"}, {"netmask", "4294967296"}}), call<void *(route_record *)>(t->cgiParam, &r)),
              nullptr);
    r = t.record<route_record>("2001:db8:1:: 4294967296 2001:db8::1 LAN1 1");
    EXPECT_EQ((qFree(), call<route_command_fn>(t->command, &r, 0), box.take().commands), "");
    // An interface taking the name of IPv4 routes adds them again (IPv6 ones are not the check's business).
    const interface_record named = interface_port(2, "LAN2", 1, 1, 3, "192.168.2.1");
    reset_interfaces({named});
    box.write(kRoutes, "2001:db8:1:: 48 2001:db8::1 LAN2 1\n10.2.0.0 255.255.0.0 192.168.2.254 LAN2 0\n");
    EXPECT_EQ(call<route_check_fn>(t->interface_check, &dmz, &named), 0);
    EXPECT_EQ(box.take().commands, "/sbin/ip route del 10.2.0.0/16 via 192.168.2.254 dev LAN2 table 20\n"
                                   "/sbin/ip route add 10.2.0.0/16 via 192.168.2.254 dev LAN2 table 20\n");
    // The access-point controller applies and removes every route through the table.
    const std::string added = "/sbin/ip -6 route add 2001:db8:1::/48 via 2001:db8::1 dev LAN2 table 20\n"
                              "/sbin/ip route add 10.2.0.0/16 via 192.168.2.254 dev LAN2 table 20\n";
    EXPECT_EQ((set_static_route(1), set_static_route(0), box.take().commands),
              added + replaced(added, " add ", " del "));
    box.write(kRoutes, "2001:db8:: 32 fe80::1 eth1.5 1\n");
    record_file *h = t.open(0);
    route_record same = t.record<route_record>("2001:db8:: 64 fe80::2 LAN2 1");
    EXPECT_EQ((std::vector<int>{t->isTheSame(h, &same, 0), t->isTheSame(h, &same, 1)}), (std::vector<int>{1, 0}));
}

// Subnets go on their interface's device (a bridge's when it bridges), VLANs on the port; a change re-applies the
// static routes and the dynamic routing; both files are walked for an interface.
TEST(MultipleSubnet, SubnetsGoOnTheirInterfacesDeviceAndVlansOnThePort) {
    ModuleBox box({"SYSTEM_PORT_NUM=2"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(msubnet_register, msubnet_unregister);
    const interface_record bridged = interface_port(2, "LAN2", 1, 3, 3, "0.0.0.0", "255.255.255.0", 3);
    install_interfaces({interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1"), bridged});
    box.write(kRoutes, "10.1.0.0 255.255.0.0 10.8.0.254 LAN1 0\n");
    const std::string vlan_added = "/sbin/vconfig add LAN1 5\n/sbin/ip link set LAN1.5 up\n"
                                   "/sbin/ip addr add 10.5.0.1/24 broadcast 10.5.0.255 dev LAN1.5\n",
                      vlan_removed = "/sbin/ip addr del 10.5.0.1/24 broadcast 10.5.0.255 dev LAN1.5\n"
                                     "/sbin/vconfig rem LAN1.5\n",
                      subnet = "/sbin/ip addr add 10.8.0.1/24 broadcast 10.8.0.255 dev LAN1\n",
                      bridged_subnet = "/sbin/ip addr add 10.9.0.1/24 broadcast 10.9.0.255 dev br3\n";
    const struct { const char *line; int result; std::string added, removed; } cases[] = {
        {"LAN1 0 10.8.0.1 255.255.255.0", 0, subnet, replaced(subnet, " add ", " del ")},
        {"LAN1 5 10.5.0.1 255.255.255.0", 0, vlan_added, vlan_removed},
        {"LAN2 0 10.9.0.1 255.255.255.0", 0, bridged_subnet, replaced(bridged_subnet, " add ", " del ")},
        {"LAN7 0 10.7.0.1 255.255.255.0", -1, "", ""},
    };
    for (const auto &c : cases) {
        msubnet_record r = t.record<msubnet_record>(c.line);
        EXPECT_EQ(call<route_command_fn>(t->command, &r, 0), c.result) << c.line;
        EXPECT_EQ(box.take().commands, c.added) << c.line;
        EXPECT_EQ(call<route_command_fn>(t->discommand, &r, 0), c.result) << c.line;
        EXPECT_EQ(box.take().commands, c.removed) << c.line;
    }
    msubnet_record old_rec = t.record<msubnet_record>(cases[0].line), new_rec = t.record<msubnet_record>(cases[1].line);
    call<int(void *, void *)>(t->recommand, &old_rec, &new_rec);
    EXPECT_EQ(box.take().commands, cases[0].removed + vlan_added +
                                       "/sbin/ip route del 10.1.0.0/16 via 10.8.0.254 dev LAN1 table 20\n"
                                       "/sbin/ip route add 10.1.0.0/16 via 10.8.0.254 dev LAN1 table 20\n"
                                       "/bin/kill `/bin/cat /var/run/routed.pid` > /dev/null 2>&1\n");
    box.write("/etc/sysconfig/.firewall/msubnet.conf", "LAN1 0 10.8.0.1 255.255.255.0 \n");
    box.write("/etc/sysconfig/.firewall/mvlan.conf", "LAN2 5 10.5.0.1 255.255.255.0 \n");
    EXPECT_EQ((call<int(const char *)>(t->restorebyinterface, "LAN2"), box.take().commands),
              replaced(vlan_removed + vlan_added, "LAN1", "LAN2"));
    EXPECT_EQ(call<int(record_file *, const interface_record *)>(t->interface_check, t.open(0), &bridged), 1);
    int value = 7;  // the two pass-through slots
    for (module_op slot : {t->slot17, t->slot18}) EXPECT_EQ(call<void *(void *)>(slot, &value), &value);
}

// The routing daemon's file from the interfaces, subnets, VLANs and static routes; a change restarts the daemon.
TEST(DynamicRoute, TheDaemonIsConfiguredFromTheInterfacesSubnetsAndRoutes) {
    ModuleBox box({"SYSTEM_PORT_NUM=2", "SYSTEM_PORT1_IP=192.168.1.1", "SYSTEM_PORT1_NETMASK=255.255.255.0"});
    Module t(dynamic_route_register, dynamic_route_unregister);
    box.write("/etc/sysconfig/.firewall/msubnet.conf", "LAN1 0 10.8.0.1 255.255.255.0 \n");
    box.write("/etc/sysconfig/.firewall/mvlan.conf", "LAN1 5 10.5.0.1 255.255.255.0 \n");
    box.write(kRoutes, "10.1.0.0 255.255.0.0 10.8.0.254 LAN1 0\n");
    box.write("/etc/sysconfig/.firewall/dynamic_route.conf", "LAN1 2 0 \nWAN1 1 1 \nDMZ1 0 0 \n");
    const std::string restart = "/bin/kill `/bin/cat /var/run/routed.pid` > /dev/null 2>&1\n"
                                "/usr/sbin/routed -f /etc/rip.conf > /dev/null 2>&1\n",
                      wan = "interface WAN1 version 1 passive\nredistribute static\n";
    dynamic_route_record lan{2, 0, "LAN1"};
    ASSERT_EQ(call<int(void *, int)>(t->command, &lan, 0), 0);
    EXPECT_EQ(box.read("/etc/rip.conf") + box.take().commands, "interface LAN1 version 2\nnetwork 192.168.1.0/24\n"
              "network 10.8.0.0/24\nnetwork 10.5.0.0/24\n" + wan + restart);
    EXPECT_EQ((call<int(void *, int)>(t->discommand, &lan, 0), box.read("/etc/rip.conf") + box.take().commands),
              wan + restart);
    EXPECT_EQ((call<int(const char *)>(t->restorebyinterface, "DMZ1"), box.take().commands), "") << "off there";
}
