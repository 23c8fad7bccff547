// The virtual server groups: their chain over the member servers, their
// names against groups and servers, and the form's member list.  Groups
// have four members (entry_num row 17).
#include <gtest/gtest.h>

#include <cstring>

#include "support/request.h"
#include "support/module_harness.h"

using namespace testing_support;

TEST(VirtualIpGroup, ChainNamesAndMembers) {
    ModuleBox box;
    std::strcpy(entry_num[17], "4");
    box.write("/etc/sysconfig/.firewall/virtual_ip.conf",
              "\"s1\" 20260102030401 0000000A 1.2.3.4 \n\"s2\" 20260102030402 0000000B 1.2.3.5 \n"
              "\"s3\" 20260102030403 0000000C 1.2.3.6 \n");
    box.write("/etc/sysconfig/.firewall/virtual_ip_group.conf", "\"g \\\"1\\\"\" 20260102030409 0 1011 DMZ1 \n");
    Module t(virtual_ip_group_register, virtual_ip_group_unregister);
    record_file *h = t.open(0);
    virtual_ip_group_record g{};
    ASSERT_EQ(t->getnum(h, &g, 1), &g);
    EXPECT_STREQ(g.chain, "vipgroup_20260102030409");

    // Servers 1 and 3; member 4 has no line.
    ASSERT_EQ(call<nat_command_fn>(t->command, &g), 0);
    const std::string rules =
        "/sbin/iptables -t nat -A vipgroup_20260102030409 -j vip_20260102030401\n"
        "/sbin/iptables -t nat -A vipgroup_20260102030409 -m utmmark --type vserver --mark 0x0000000A -j UTMMARK --set-type policy --or-mark 0x4\n"
        "/sbin/iptables -t nat -A vipgroup_20260102030409 -j vip_20260102030403\n"
        "/sbin/iptables -t nat -A vipgroup_20260102030409 -m utmmark --type vserver --mark 0x0000000C -j UTMMARK --set-type policy --or-mark 0x4\n";
    EXPECT_EQ(box.take(), (Effects{"", "/sbin/iptables -t nat -N vipgroup_20260102030409\n" + rules, ""}));
    ASSERT_EQ(call<nat_command_fn>(t->recommand, &g), 0);
    EXPECT_EQ(box.take(), (Effects{"", "/sbin/iptables -t nat -F vipgroup_20260102030409\n" + rules, ""}));
    ASSERT_EQ(call<nat_command_fn>(t->discommand, &g), 0);
    EXPECT_EQ(box.take(), (Effects{"", "/sbin/iptables -t nat -F vipgroup_20260102030409\n"
                                       "/sbin/iptables -t nat -X vipgroup_20260102030409\n", ""}));

    // A group may take neither another group's name (2) nor a server's (4).
    struct Case {
        const char *name, *id;
        int line, expected;
    } cases[] = {{"g \"1\"", "20260102030409", 1, 0}, {"g \"1\"", "20260102030499", 0, 2},
                 {"s2", "20260102030499", 0, 4}, {"new", "20260102030499", 0, 0}};
    for (const Case &c : cases) {
        virtual_ip_group_record r = g;
        std::strcpy(r.name, c.name);
        std::strcpy(r.id, c.id);
        EXPECT_EQ(t->isTheSame(h, &r, c.line), c.expected) << c.name;
    }
    for (const auto &[iname, used] : {std::pair{"DMZ1", 1}, {"LAN1", 0}}) {
        interface_record iface = interface_port(1, iname, 3);
        EXPECT_EQ(call<nat_interface_check_fn>(t->interface_check, h, &iface), used) << iname;
    }
}
