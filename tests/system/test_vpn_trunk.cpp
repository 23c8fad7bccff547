// What the tunnels name: trunks and their groups, address objects, and the
// users whose groups an XAUTH server admits.
#include <gtest/gtest.h>

#include <cstring>

#include "support/module_harness.h"

using namespace testing_support;

TEST(VpnTrunk, TrunksAndGroupsApplyTheirTunnels) {
    ModuleBox box({"SYSTEM_PORT_NUM=2"});
    interface_record wan = interface_port(2, "WAN1", 2, 1, 3, "203.0.113.2");
    install_interfaces({wan});
    box.write("/etc/sysconfig/.firewall/vpn_ipsec_autokey.conf",
              "\"office\" 20240101000000 2 0 198.51.100.7 0 secret ^o^ ^o^ 3des md5 2 3600 0 3des md5 28800 0 Main "
              "^o^ ^o^ ^o^ ^o^ ^o^ 1 0 0 ^o^ 0 ^o^ ^o^ ^o^ 0 0 0 \n");
    box.write("/etc/sysconfig/.firewall/gre_tunnel.conf",
              "\"gre\" 1 2 \"gw\" \"a\" \"b\" \"c\" \"d\" \"5f3a\" \"0\" \"30\" \n");
    box.write("/etc/sysconfig/.firewall/vpn_trunk.conf",
              "\"t1\" 20240202000000 0 \"office\" 192.168.1.0 255.255.255.0 10.1.0.0 255.255.0.0 0 \n"
              "\"t2\" 20240202000001 3 \"gre\" 0.0.0.0 0.0.0.0 10.2.0.0 255.255.0.0 0 \n"
              "\"t3\" 20240202000002 1 \"missing\" 0.0.0.0 0.0.0.0 10.3.0.0 255.255.0.0 0 \n");
    box.write("/etc/sysconfig/.firewall/vpn_trunk_group.conf", "\"g\" 1 0 \"t2\" \"t1\" \"t9\" ^o^ ^o^ ^o^ ^o^ ^o^ \n");
    Module group(vpn_trunk_group_register, vpn_trunk_group_unregister);
    vpn_trunk_group_record g{};
    ASSERT_NE(group->getnum(group.open(0), &g, 1), nullptr);
    // The members in the trunks' order; the IPsec tunnel, connected by hand,
    // gets the trunk's networks and is not initiated.
    call<void *(vpn_trunk_group_record *)>(group->command, &g);
    const std::string whack = "/usr/libexec/ipsec/whack", applied = box.take().commands;
    EXPECT_NE(applied.find(" --updown \"20240101000000 20240202000000\" --mark 0x101 --host 203.0.113.2 --client "
                           "192.168.1.0/255.255.255.0 --nexthop 0.0.0.0 --to --host 198.51.100.7 --client "
                           "10.1.0.0/255.255.0.0 --ike"),
              std::string::npos)
        << applied;
    EXPECT_EQ(applied.substr(applied.find(" --listen")),
              " --listen > /dev/null 2>&1\n/sbin/ip route replace 10.2.0.0/16 dev WAN2_T5f3a\n");
    call<void *(vpn_trunk_group_record *)>(group->discommand, &g);
    EXPECT_EQ(box.take().commands,
              whack + " --terminate --name office > /dev/null 2>&1\n" + whack +
                  " --delete --name office > /dev/null 2>&1\n/sbin/ip route del 10.2.0.0/16 dev WAN2_T5f3a\n");

    // A trunk may not take the name of a trunk or of a group.
    Module trunks(vpn_trunk_register, vpn_trunk_unregister);
    vpn_trunk_record t{};
    auto *h = trunks.open(0);
    for (auto [name, clash] : {std::pair{"t2", 1}, {"g", 1}, {"t4", 0}}) {
        std::strcpy(t.name, name);
        EXPECT_EQ(trunks->isTheSame(h, &t, 0), clash) << name;
    }
}

TEST(VpnTrunk, AddressChainsAndRemovals) {
    ModuleBox box;
    box.write("/etc/sysconfig/.firewall/dmz_custom.conf",
              "\"pc\" 1 2 0 10.0.0.5 255.255.255.255 \n\"srv\" 2 2 0 10.0.1.0 255.255.255.0 \n");
    box.write("/etc/sysconfig/.firewall/dmz_group.conf", "\"all\" 3 2 1 0.0.0.0 0.0.0.0 \"srv\" \"pc\" \n");
    Module m(address_register, address_unregister);
    address_record object{}, group{};
    ASSERT_NE(m->getnum(m.open(0, reinterpret_cast<void *>(4)), &object, 2), nullptr);
    ASSERT_NE(m->getnum(m.open(0, reinterpret_cast<void *>(5)), &group, 1), nullptr);
    EXPECT_EQ(m.open(0, reinterpret_cast<void *>(6)), nullptr);
    call<void *(address_record *)>(m->command, &object);
    call<void *(address_record *)>(m->command, &group);
    EXPECT_EQ(box.take().ipv4,
              "/sbin/iptables -t mangle -N address_2SRC\n/sbin/iptables -t mangle -N address_2DST\n"
              "/sbin/iptables -t mangle -A address_2SRC -s 10.0.1.0/24 -j UTMMARK --set-type policy --or-mark 0x20\n"
              "/sbin/iptables -t mangle -A address_2DST -d 10.0.1.0/24 -j UTMMARK --set-type policy --or-mark 0x40\n"
              "/sbin/iptables -t mangle -N address_3SRC\n/sbin/iptables -t mangle -N address_3DST\n"
              "/sbin/iptables -t mangle -A address_3SRC -j address_1SRC\n/sbin/iptables -t mangle -A address_3DST -j "
              "address_1DST\n"
              "/sbin/iptables -t mangle -A address_3SRC -j address_2SRC\n/sbin/iptables -t mangle -A address_3DST -j "
              "address_2DST\n");

    // An object leaves the groups of its zone; a group leaves its users.
    EXPECT_EQ(m->remove(m.open(1, reinterpret_cast<void *>(4)), 1), 0);
    m.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/dmz_group.conf"),
              "\"all\" 3 2 1 0.0.0.0 0.0.0.0 \"srv\" \"^o^\" \"^o^\" \"^o^\" \"^o^\" \"^o^\" \"^o^\" \"^o^\" \n");
    box.write("/etc/sysconfig/.firewall/auth_user.conf", "\"alice\" 1 \"h\" \"staff\" \n\"bob\" 2 \"h\" \"guests\" \n");
    box.write("/etc/sysconfig/.firewall/auth_group.conf", "\"staff\" 3 \"^o^\" \"^o^\" \n");
    Module users(auth_user_register, auth_user_unregister);
    EXPECT_EQ(users->remove(users.open(1, reinterpret_cast<void *>(1)), 1), 0);
    users.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/auth_user.conf"),
              "\"alice\" 1 \"h\" \"^o^\" \n\"bob\" 2 \"h\" \"guests\" \n");
}
