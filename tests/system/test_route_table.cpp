// The static routes: the device a route lands on, the check before an
// interface changes, the line and the form.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "support/module_harness.h"

using namespace testing_support;

namespace {

constexpr const char *kRoutes = "/etc/sysconfig/.firewall/static_route.conf";
using command_fn = std::remove_pointer_t<route_command_fn>;

void reset_ports(const std::vector<interface_record> &ports) {
    for (int port = 1; port <= 4; ++port) *interface_read_shm(port) = interface_record{};
    install_interfaces(ports);
}

route_record route(const char *address, const char *mask, const char *gateway, const char *dev, int ipv6 = 0) {
    route_record r{};
    r.ipv_mode = ipv6;
    snprintf(r.address, sizeof r.address, "%s", address);
    snprintf(r.netmask, sizeof r.netmask, "%s", mask);
    snprintf(r.gateway, sizeof r.gateway, "%s", gateway);
    snprintf(r.dev, sizeof r.dev, "%s", dev);
    return r;
}

}  // namespace

TEST(RouteTable, RoutesGoOnTheDeviceThatCarriesTheirInterface) {
    ModuleBox box({"SYSTEM_PORT_NUM=4"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(route_table_register, route_table_unregister);
    const interface_record lan = interface_port(1, "LAN1", 1);
    const auto zoned = [](interface_record r, int imode, int zone) {
        r.imode = imode;
        r.izone = zone;
        return r;
    };
    const struct {
        const char *what;
        std::vector<interface_record> ports;
        const char *controller, *vpn;
        route_record route;
        const char *command;
    } cases[] = {
        {"own device", {lan}, "^o^", "", route("10.1.2.3", "255.255.0.0", "192.168.1.254", "LAN1"),
         "/sbin/ip route add 10.1.0.0/16 via 192.168.1.254 dev LAN1 table 20\n"},
        {"transparent routing", {zoned(lan, 3, 2)}, "^o^", "", route("10.1.0.0", "255.255.0.0", "192.168.1.254", "LAN1"),
         "/sbin/ip route add 10.1.0.0/16 via 192.168.1.254 dev br2 table 20\n"},
        {"bridge with a zone", {zoned(lan, 2, 1)}, "^o^", "", route("10.1.0.0", "255.255.0.0", "192.168.1.254", "LAN1"),
         "/sbin/ip route add 10.1.0.0/16 via 192.168.1.254 dev br1 table 20\n"},
        {"bridge without a zone", {zoned(lan, 2, 0)}, "^o^", "", route("10.1.0.0", "255.255.0.0", "192.168.1.254", "LAN1"),
         "/sbin/ip route add 10.1.0.0/16 via 192.168.1.254 dev LAN1 table 20\n"},
        {"static WAN while a port routes", {zoned(lan, 3, 1), zoned(interface_port(2, "WAN1", 2), 1, 3)}, "^o^", "",
         route("0.0.0.0", "0.0.0.0", "203.0.113.1", "WAN1"),
         "/sbin/ip route add 0.0.0.0/0 via 203.0.113.1 dev br3 table 20\n"},
        {"NAT LAN in a zone while a port bridges", {zoned(lan, 1, 4), zoned(interface_port(3, "DMZ1", 3), 2, 4)}, "^o^",
         "", route("10.1.0.0", "255.255.0.0", "192.168.1.254", "LAN1"),
         "/sbin/ip route add 10.1.0.0/16 via 192.168.1.254 dev br4 table 20\n"},
        {"access-point controller", {lan}, "LAN1", "", route("10.1.0.0", "255.255.0.0", "192.168.1.254", "LAN1"),
         "/sbin/ip route add 10.1.0.0/16 via 192.168.1.254 dev brgre table 20\n"},
        {"bridged VPN", {lan, interface_port(2, "LAN2", 1)}, "^o^", "0100",
         route("10.1.0.0", "255.255.0.0", "192.168.2.254", "LAN2"),
         "/sbin/ip route add 10.1.0.0/16 via 192.168.2.254 dev brvpn2 table 20\n"},
        {"VLAN device", {}, "^o^", "", route("10.1.0.0", "255.255.0.0", "192.168.5.254", "eth1.5"),
         "/sbin/ip route add 10.1.0.0/16 via 192.168.5.254 dev eth1.5 table 20\n"},
        {"unknown interface", {lan}, "^o^", "", route("10.1.0.0", "255.255.0.0", "192.168.1.254", "LAN7"), ""},
        {"IPv6", {lan}, "^o^", "", route("2001:db8:1::", "48", "2001:db8::1", "LAN1", 1),
         "/sbin/ip -6 route add 2001:db8:1::/48 via 2001:db8::1 dev LAN1 table 20\n"},
    };
    for (const auto &c : cases) {
        reset_ports(c.ports);
        WS(41, c.controller);
        WS(58, c.vpn);
        route_record r = c.route;
        call<command_fn>(t->command, &r, 0);
        EXPECT_EQ(box.take().commands, c.command) << c.what;
    }
    reset_ports({lan, interface_port(2, "LAN2", 1)});
    WS(58, "0100");
    route_record r = route("10.1.0.0", "255.255.0.0", "192.168.2.254", "LAN2");
    call<command_fn>(t->discommand, &r, 0);
    EXPECT_EQ(box.take().commands, "/sbin/ip route del 10.1.0.0/16 via 192.168.2.254 dev brvpn2 table 20\n");
}

TEST(RouteTable, AnInterfaceChangeThatStrandsAGatewayIsRefused) {
    ModuleBox box({"SYSTEM_PORT_NUM=4"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(route_table_register, route_table_unregister);
    const interface_record lan1 = interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1"),
                           lan2 = interface_port(2, "LAN2", 1, 1, 3, "192.168.2.1");
    install_interfaces({lan1, lan2});
    box.write(kRoutes,
              "10.1.0.0 255.255.0.0 192.168.1.254 LAN1 0\n"
              "10.2.0.0 255.255.0.0 192.168.2.254 LAN2 0\n"
              "2001:db8:1:: 48 2001:db8::1 LAN1 1\n");
    const std::string again1 =
        "/sbin/ip route del 10.1.0.0/16 via 192.168.1.254 dev LAN1 table 20\n"
        "/sbin/ip route add 10.1.0.0/16 via 192.168.1.254 dev LAN1 table 20\n";
    const std::string again2 =
        "/sbin/ip route del 10.2.0.0/16 via 192.168.2.254 dev LAN2 table 20\n"
        "/sbin/ip route add 10.2.0.0/16 via 192.168.2.254 dev LAN2 table 20\n";
    const struct {
        const char *what;
        interface_record old_rec, new_rec;
        int result;
        std::string commands;
    } cases[] = {
        {"gateway stays in the subnet", lan1, interface_port(1, "LAN1", 1, 1, 3, "192.168.1.2"), 0, again1},
        {"gateway leaves the subnet", lan1, interface_port(1, "LAN1", 1, 1, 3, "10.0.0.1"), 1, ""},
        {"renamed", lan1, interface_port(1, "LAN3", 1, 1, 3, "192.168.1.1"), 1, ""},
        {"a new name that routes use", interface_port(3, "DMZ1", 3), lan2, 0, again2},
        {"no route on it", interface_port(3, "DMZ1", 3), interface_port(3, "DMZ2", 3), 0, ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(call<std::remove_pointer_t<route_check_fn>>(t->interface_check, &c.old_rec, &c.new_rec), c.result)
            << c.what;
        EXPECT_EQ(box.take().commands, c.commands) << c.what;
    }

    // Every route deleted and added again, in file order, whatever the argument.
    call<std::remove_pointer_t<route_all_fn>>(t->recommand, nullptr);
    EXPECT_EQ(box.take().commands, again1 + again2 +
                                       "/sbin/ip -6 route del 2001:db8:1::/48 via 2001:db8::1 dev LAN1 table 20\n"
                                       "/sbin/ip -6 route add 2001:db8:1::/48 via 2001:db8::1 dev LAN1 table 20\n");
}

TEST(RouteTable, FormValuesOfTheWrongKindAreRefused) {
    ModuleBox box;
    Module t(route_table_register, route_table_unregister);
    const struct {
        std::vector<std::pair<const char *, const char *>> form;
        const char *line;
    } cases[] = {
        {{{"ipv", "0"}, {"ip", "10.1.0.0"}, {"netmask", "255.255.0.0"}, {"gw", "192.168.1.254"}, {"dev", "LAN1"}},
         "10.1.0.0 255.255.0.0 192.168.1.254 LAN1 0"},
        {{{"ipv", "1"}, {"ip", "2001:db8::"}, {"netmask", "32"}, {"gw", "fe80::1"}, {"dev", "eth1.5"}},
         "2001:db8:: 32 fe80::1 eth1.5 1"},
        {{{"ip", "2001:db8::"}, {"netmask", "64"}, {"gw", "10.0.0.1 ; reboot"}, {"dev", "LAN1 x"}},
         "^o^ ^o^ ^o^ ^o^ 0"},
    };
    for (const auto &c : cases) {
        for (const auto &[name, value] : c.form) qValueAdd(name, "%s", value);
        route_record r{};
        call<void *(route_record *)>(t->cgiParam, &r);
        qFree();
        record_file *h = t.open(1);
        ASSERT_EQ(t->add(h, &r), 0);
        EXPECT_EQ(std::string(my_GetNumData(h, h->count)), c.line);
        t.close();
    }
    // The same destination on another line is taken; on its own line it is not.
    record_file *h = t.open(0);
    route_record r = route("2001:db8::", "32", "fe80::2", "LAN2", 1);
    EXPECT_EQ(t->isTheSame(h, &r, 0), 1);
    EXPECT_EQ(t->isTheSame(h, &r, 2), 0);
    EXPECT_EQ(t->isTheSame(nullptr, &r, 0), -1);
}
