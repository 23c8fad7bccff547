// Further subnets and VLANs of an interface, and the dynamic routing built
// from the interfaces, their subnets and the static routes.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "support/module_harness.h"

using namespace testing_support;

TEST(MultipleSubnet, SubnetsGoOnTheirInterfacesDeviceAndVlansOnThePort) {
    ModuleBox box({"SYSTEM_PORT_NUM=2"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(msubnet_register, msubnet_unregister);
    const interface_record bridged = interface_port(2, "LAN2", 1, 3, 3, "0.0.0.0", "255.255.255.0", 3);
    install_interfaces({interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1"), bridged});
    box.write("/etc/sysconfig/.firewall/static_route.conf", "10.1.0.0 255.255.0.0 10.8.0.254 LAN1 0\n");
    const auto subnet = [&](std::string line) {
        msubnet_record r{};
        t->parse(line.data(), &r);
        return r;
    };
    const std::string vlan_added = "/sbin/vconfig add LAN1 5\n/sbin/ip link set LAN1.5 up\n"
                                   "/sbin/ip addr add 10.5.0.1/24 broadcast 10.5.0.255 dev LAN1.5\n";
    const struct {
        const char *line;
        int result;
        std::string added, removed;
    } cases[] = {
        {"LAN1 0 10.8.0.1 255.255.255.0", 0, "/sbin/ip addr add 10.8.0.1/24 broadcast 10.8.0.255 dev LAN1\n",
         "/sbin/ip addr del 10.8.0.1/24 broadcast 10.8.0.255 dev LAN1\n"},
        {"LAN1 5 10.5.0.1 255.255.255.0", 0, vlan_added,
         "/sbin/ip addr del 10.5.0.1/24 broadcast 10.5.0.255 dev LAN1.5\n/sbin/vconfig rem LAN1.5\n"},
        {"LAN2 0 10.9.0.1 255.255.255.0", 0, "/sbin/ip addr add 10.9.0.1/24 broadcast 10.9.0.255 dev br3\n",
         "/sbin/ip addr del 10.9.0.1/24 broadcast 10.9.0.255 dev br3\n"},
        {"LAN7 0 10.7.0.1 255.255.255.0", -1, "", ""},
    };
    for (const auto &c : cases) {
        msubnet_record r = subnet(c.line);
        EXPECT_EQ(call<std::remove_pointer_t<route_command_fn>>(t->command, &r, 0), c.result) << c.line;
        EXPECT_EQ(box.take().commands, c.added) << c.line;
        EXPECT_EQ(call<std::remove_pointer_t<route_command_fn>>(t->discommand, &r, 0), c.result) << c.line;
        EXPECT_EQ(box.take().commands, c.removed) << c.line;
    }
    // A change re-applies the static routes and the dynamic routing after it.
    msubnet_record old_rec = subnet(cases[0].line), new_rec = subnet(cases[1].line);
    call<int(void *, void *)>(t->recommand, &old_rec, &new_rec);
    EXPECT_EQ(box.take().commands, cases[0].removed + vlan_added +
                                       "/sbin/ip route del 10.1.0.0/16 via 10.8.0.254 dev LAN1 table 20\n"
                                       "/sbin/ip route add 10.1.0.0/16 via 10.8.0.254 dev LAN1 table 20\n"
                                       "/bin/kill `/bin/cat /var/run/routed.pid` > /dev/null 2>&1\n");
    // Both files are walked for an interface.
    box.write("/etc/sysconfig/.firewall/msubnet.conf", "LAN1 0 10.8.0.1 255.255.255.0 \n");
    box.write("/etc/sysconfig/.firewall/mvlan.conf", "LAN2 5 10.5.0.1 255.255.255.0 \n");
    call<int(const char *)>(t->restorebyinterface, "LAN2");
    EXPECT_EQ(box.take().commands, "/sbin/ip addr del 10.5.0.1/24 broadcast 10.5.0.255 dev LAN2.5\n"
                                   "/sbin/vconfig rem LAN2.5\n" + replaced(vlan_added, "LAN1", "LAN2"));
    EXPECT_EQ(call<int(record_file *, const interface_record *)>(t->interface_check, t.open(0), &bridged), 1);
    int value = 7;
    EXPECT_EQ(call<void *(void *)>(t->slot17, &value), &value);
    EXPECT_EQ(call<void *(void *)>(t->slot18, &value), &value);
}

TEST(DynamicRoute, TheDaemonIsConfiguredFromTheInterfacesSubnetsAndRoutes) {
    ModuleBox box({"SYSTEM_PORT_NUM=2", "SYSTEM_PORT1_IP=192.168.1.1", "SYSTEM_PORT1_NETMASK=255.255.255.0"});
    Module t(dynamic_route_register, dynamic_route_unregister);
    box.write("/etc/sysconfig/.firewall/msubnet.conf", "LAN1 0 10.8.0.1 255.255.255.0 \n");
    box.write("/etc/sysconfig/.firewall/mvlan.conf", "LAN1 5 10.5.0.1 255.255.255.0 \n");
    box.write("/etc/sysconfig/.firewall/static_route.conf", "10.1.0.0 255.255.0.0 10.8.0.254 LAN1 0\n");
    box.write("/etc/sysconfig/.firewall/dynamic_route.conf", "LAN1 2 0 \nWAN1 1 1 \nDMZ1 0 0 \n");
    const std::string restart = "/bin/kill `/bin/cat /var/run/routed.pid` > /dev/null 2>&1\n"
                                "/usr/sbin/routed -f /etc/rip.conf > /dev/null 2>&1\n";
    dynamic_route_record lan{2, 0, "LAN1"};
    ASSERT_EQ(call<int(void *, int)>(t->command, &lan, 0), 0);
    EXPECT_EQ(box.read("/etc/rip.conf"), "interface LAN1 version 2\nnetwork 192.168.1.0/24\nnetwork 10.8.0.0/24\n"
                                         "network 10.5.0.0/24\ninterface WAN1 version 1 passive\n"
                                         "redistribute static\n");
    EXPECT_EQ(box.take().commands, restart);
    call<int(void *, int)>(t->discommand, &lan, 0);
    EXPECT_EQ(box.read("/etc/rip.conf"), "interface WAN1 version 1 passive\nredistribute static\n");
    EXPECT_EQ(box.take().commands, restart);
    call<int(const char *)>(t->restorebyinterface, "DMZ1");  // off there: nothing to do
    EXPECT_EQ(box.take().commands, "");
}
