// The static routes: the device a route lands on, the routes an interface
// change adds again, and the form.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "support/module_harness.h"

using namespace testing_support;

namespace {

constexpr const char *kRoutes = "/etc/sysconfig/.firewall/static_route.conf";

// A route as its stored line reads.
route_record route(const Module &t, std::string line) {
    route_record r{};
    t->parse(line.data(), &r);
    return r;
}

interface_record zoned(interface_record r, int imode, int zone) {
    r.imode = imode, r.izone = zone;
    return r;
}

}  // namespace

TEST(RouteTable, RoutesGoOnTheDeviceThatCarriesTheirInterface) {
    ModuleBox box({"SYSTEM_PORT_NUM=4"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(route_table_register, route_table_unregister);
    const interface_record lan = interface_port(1, "LAN1", 1), wan = interface_port(2, "WAN1", 2),
                           lan2 = interface_port(2, "LAN2", 1), dmz = interface_port(3, "DMZ1", 3);
    const char *on_lan1 = "10.1.2.3 255.255.0.0 192.168.1.254 LAN1 0";
    const struct {
        const char *what;
        std::vector<interface_record> ports;
        const char *controller, *vpn, *route, *device;
    } cases[] = {
        {"own device", {lan}, "^o^", "", on_lan1, "LAN1"},
        {"transparent routing", {zoned(lan, 3, 2)}, "^o^", "", on_lan1, "br2"},
        {"bridge with a zone", {zoned(lan, 2, 1)}, "^o^", "", on_lan1, "br1"},
        {"bridge without a zone", {zoned(lan, 2, 0)}, "^o^", "", on_lan1, "LAN1"},
        {"NAT LAN in a zone while a port bridges", {zoned(lan, 1, 4), zoned(dmz, 2, 4)}, "^o^", "", on_lan1, "br4"},
        {"access-point controller", {lan}, "LAN1", "", on_lan1, "brgre"},
        {"bridged VPN", {lan, lan2}, "^o^", "0100", "10.1.2.3 255.255.0.0 192.168.1.254 LAN2 0", "brvpn2"},
        {"static WAN while a port routes", {zoned(lan, 3, 1), zoned(wan, 1, 3)}, "^o^", "",
         "10.1.2.3 255.255.0.0 192.168.1.254 WAN1 0", "br3"},
        {"VLAN device", {}, "^o^", "", "10.1.2.3 255.255.0.0 192.168.1.254 eth1.5 0", "eth1.5"},
        {"unknown interface", {lan}, "^o^", "", "10.1.2.3 255.255.0.0 192.168.1.254 LAN7 0", nullptr},
    };
    for (const auto &c : cases) {
        reset_interfaces(c.ports);
        WS(41, c.controller);
        WS(58, c.vpn);
        route_record r = route(t, c.route);
        for (const char *op : {"add", "del"}) {
            call<std::remove_pointer_t<route_command_fn>>(op[0] == 'a' ? t->command : t->discommand, &r, 0);
            const std::string line = std::string("/sbin/ip route ") + op +
                                     " 10.1.0.0/16 via 192.168.1.254 dev " + (c.device ? c.device : "") + " table 20\n";
            EXPECT_EQ(box.take().commands, c.device ? line : "") << c.what;
        }
    }
    route_record r = route(t, "2001:db8:1:: 48 2001:db8::1 LAN1 1");
    call<std::remove_pointer_t<route_command_fn>>(t->command, &r, 0);
    EXPECT_EQ(box.take().commands, "/sbin/ip -6 route add 2001:db8:1::/48 via 2001:db8::1 dev LAN1 table 20\n");
}

TEST(RouteTable, AnInterfaceTakingTheNameOfRoutesAddsThemAgain) {
    ModuleBox box({"SYSTEM_PORT_NUM=4"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(route_table_register, route_table_unregister);
    const interface_record lan2 = interface_port(2, "LAN2", 1, 1, 3, "192.168.2.1"), dmz = interface_port(3, "DMZ1", 3);
    install_interfaces({lan2});
    // IPv6 routes are not the check's business; the IPv4 one keeps its gateway.
    box.write(kRoutes, "2001:db8:1:: 48 2001:db8::1 LAN2 1\n10.2.0.0 255.255.0.0 192.168.2.254 LAN2 0\n");
    EXPECT_EQ(call<std::remove_pointer_t<route_check_fn>>(t->interface_check, &dmz, &lan2), 0);
    EXPECT_EQ(box.take().commands, "/sbin/ip route del 10.2.0.0/16 via 192.168.2.254 dev LAN2 table 20\n"
                                   "/sbin/ip route add 10.2.0.0/16 via 192.168.2.254 dev LAN2 table 20\n");
}

TEST(RouteTable, FormValuesOfTheWrongKindAreRefused) {
    ModuleBox box;
    Module t(route_table_register, route_table_unregister);
    const std::vector<std::vector<std::pair<const char *, const char *>>> forms = {
        {{"ipv", "1"}, {"ip", "2001:db8::"}, {"netmask", "32"}, {"gw", "fe80::1"}, {"dev", "eth1.5"}},
        {{"ip", "2001:db8::"}, {"netmask", "255.0.0.0"}, {"gw", "10.0.0.1 ; reboot"}, {"dev", "LAN1 x"}}};
    record_file *h = t.open(1);
    for (const auto &form : forms) {
        for (const auto &[name, value] : form) qValueAdd(name, "%s", value);
        route_record r{};
        call<void *(route_record *)>(t->cgiParam, &r);
        qFree();
        ASSERT_EQ(t->add(h, &r), 0);
    }
    t.close();
    EXPECT_EQ(box.read(kRoutes), "2001:db8:: 32 fe80::1 eth1.5 1\n^o^ 255.0.0.0 ^o^ ^o^ 0\n");
    // The same destination on another line is taken; on its own line it is not.
    h = t.open(0);
    route_record same = route(t, "2001:db8:: 64 fe80::2 LAN2 1");
    EXPECT_EQ(t->isTheSame(h, &same, 0) * 10 + t->isTheSame(h, &same, 1), 10);
}
