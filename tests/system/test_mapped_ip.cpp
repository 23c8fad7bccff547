// The mapped addresses: their chains, rules and ARP answers on every apply,
// removal and re-apply path, their conflicts with each other and with the
// virtual servers, and the dynamic WAN address.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/module_harness.h"

using namespace testing_support;

namespace {

const char *const kMapped = "/etc/sysconfig/.firewall/mapped_ip.conf";

// WAN1 static with LAN1 bridged to it, DMZ1 in NAT mode, WAN2 on DHCP.
void install_ports() {
    ASSERT_EQ(interface_init_shm(), 0);
    install_interfaces({interface_port(1, "WAN1", 2), interface_port(2, "LAN1", 1, 2), interface_port(3, "DMZ1", 3),
                        interface_port(4, "WAN2", 2, 1, 2)});
}

const std::string kChains =
    "/sbin/iptables -t nat -N mip_20260102030405\n"
    "/sbin/iptables -t nat -N natmip_20260102030405\n"
    "/sbin/iptables -t nat -N postmip_20260102030405\n"
    "/sbin/iptables -t nat -A preNat_mapip -m utmmark --type vserver --mark 0x1A2B3C4D -j natmip_20260102030405\n"
    "/sbin/iptables -t nat -A postNat_mapip -j postmip_20260102030405\n"
    "/sbin/iptables -t mangle -N premip_20260102030405\n"
    "/sbin/iptables -t mangle -A preMangle_mapip -j premip_20260102030405\n";

// The rules of mapping("1.2.3.4", "WAN1"): the head, the source
// translation, the tail.
const std::string kHead =
    "/sbin/iptables -t nat -A mip_20260102030405 -m utmmark --type vserver --mark 0x1A2B3C4D -j UTMMARK --set-type policy --or-mark 0x2\n"
    "/sbin/iptables -t nat -A natmip_20260102030405 -j DNAT --to-destination 10.0.0.5\n";
const std::string kSnat =
    "/sbin/iptables -t nat -A postmip_20260102030405 -s 10.0.0.5 -o WAN1 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -s 10.0.0.5 -o WAN1_ppp -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -o WAN1 -m sockaddr --sockaddr 10.0.0.5 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -o WAN1_ppp -m sockaddr --sockaddr 10.0.0.5 -j SNAT --to-source 1.2.3.4\n";
const std::string kTail =
    "/sbin/iptables -t nat -A postmip_20260102030405 -d 10.0.0.5 -i LAN+ -o LAN+ -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -d 10.0.0.5 -i WLAN+ -o WLAN+ -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -d 10.0.0.5 -i WLAN+ -o LAN+ -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -d 10.0.0.5 -i LAN+ -o WLAN+ -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -d 10.0.0.5 -i DMZ+ -o DMZ+ -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -d 10.0.0.5 -i WDMZ+ -o WDMZ+ -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -d 10.0.0.5 -i WDMZ+ -o DMZ+ -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postmip_20260102030405 -d 10.0.0.5 -i DMZ+ -o WDMZ+ -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t mangle -A premip_20260102030405 -m utmmark --type vserver ! --mark 0x0 -j RETURN\n"
    "/sbin/iptables -t mangle -A premip_20260102030405 -i WAN1 -d 1.2.3.4 -j UTMMARK --set-type param --or-mark 0x40000\n"
    "/sbin/iptables -t mangle -A premip_20260102030405 -i WAN1_+ -d 1.2.3.4 -j UTMMARK --set-type param --or-mark 0x40000\n"
    "/sbin/iptables -t mangle -A premip_20260102030405 -d 1.2.3.4 -j UTMMARK --set-type vserver --set-mark 0x1A2B3C4D\n"
    "/sbin/iptables -t mangle -A premip_20260102030405 -d 1.2.3.4 -j PREDNAT --to-destination 10.0.0.5\n";
const std::string kRules = kHead + kSnat + kTail;

const std::string kFlush =
    "/sbin/iptables -t nat -F mip_20260102030405\n"
    "/sbin/iptables -t nat -F natmip_20260102030405\n"
    "/sbin/iptables -t nat -F postmip_20260102030405\n"
    "/sbin/iptables -t mangle -F premip_20260102030405\n";

// The ARP answers for address on WAN1 and the LAN port bridged to it.
std::string arp(const char *action, const char *address) { return arp_answers(action, address, {"WAN1", "LAN1"}); }

}  // namespace

TEST(MappedIp, RulesOfEveryApplyRemovalAndReapplyPath) {
    ModuleBox box;
    install_ports();
    Module t(mapped_ip_register, mapped_ip_unregister);
    const std::string line = "\"web\" 20260102030405 1A2B3C4D 1.2.3.4 WAN1 10.0.0.5 LAN1 1 0 ";
    auto plain = t.record<mapped_ip_record>(line), routed = t.record<mapped_ip_record>(replaced(replaced(line, "WAN1", "WAN1:1a"), "1.2.3.4", "1.2.3.9")),
         dynamic = t.record<mapped_ip_record>(replaced(replaced(line, "WAN1", "WAN2"), "1.2.3.4", "7.7.7.7"));

    ASSERT_EQ(call<nat_command_fn>(t->command, &plain), 0);
    EXPECT_EQ(box.take(), (Effects{arp("-I", "1.2.3.4"), kChains + kRules, ""}));

    // A virtual link's route mark replaces the four source translations.
    ASSERT_EQ(call<nat_recommand_fn>(t->recommand, &routed, &plain), 0);
    const std::string routed_rules = replaced(
        kHead +
            "/sbin/iptables -t nat -A postmip_20260102030405 -s 10.0.0.5 -o WAN1 -m routemark --mark 0x1a -j SNAT --to-source 1.2.3.4\n"
            "/sbin/iptables -t nat -A postmip_20260102030405 -o WAN1 -m routemark --mark 0x1a -m sockaddr --sockaddr 10.0.0.5 -j SNAT --to-source 1.2.3.4\n" +
            kTail,
        "1.2.3.4", "1.2.3.9");
    EXPECT_EQ(box.take(), (Effects{arp("-D", "1.2.3.4") + arp("-I", "1.2.3.9"), kFlush + routed_rules, ""}));

    ASSERT_EQ(call<nat_command_fn>(t->discommand, &routed), 0);
    EXPECT_EQ(box.take(), (Effects{arp("-D", "1.2.3.9"),
                                   kFlush +
                                       "/sbin/iptables -t nat -D preNat_mapip -m utmmark --type vserver --mark 0x1A2B3C4D -j natmip_20260102030405\n"
                                       "/sbin/iptables -t nat -D postNat_mapip -j postmip_20260102030405\n"
                                       "/sbin/iptables -t mangle -D preMangle_mapip -j premip_20260102030405\n"
                                       "/sbin/iptables -t nat -X mip_20260102030405\n"
                                       "/sbin/iptables -t nat -X natmip_20260102030405\n"
                                       "/sbin/iptables -t nat -X postmip_20260102030405\n"
                                       "/sbin/iptables -t mangle -X premip_20260102030405\n",
                                   ""}));

    // At boot without the flag only the system address and the ARP answer:
    // a port on DHCP has no bridged ports answering.
    ASSERT_EQ(call<nat_initial_system_cmd_fn>(t->initial_system_cmd, &dynamic, 1, 0), 0);
    EXPECT_EQ(box.take(), (Effects{arp_answers("-I", "7.7.7.7", {"WAN2"}), "", ""}));
    EXPECT_EQ(system_addresses(), "1 1.2.3.4 1\n1 1.2.3.9 1\n4 7.7.7.7 1\n");
    EXPECT_EQ(call<nat_command_fn>(t->command, nullptr), -1);
}

TEST(MappedIp, LinesAndConflictsWithMappedAddressesAndVirtualServers) {
    ModuleBox box;
    box.write(kMapped,
              "\"web \\\"1\\\"\" 20260102030405 1A2B3C4D 1.2.3.4 WAN1:1a 10.0.0.5 LAN1 1 3 \n"
              "\"mail\" 20260102030406 1A2B3C4E 1.2.3.5 WAN1 10.0.0.6 DMZ1 0 \n");
    box.write("/etc/sysconfig/.firewall/virtual_ip.conf",
              "\"vs\" 20260102030407 0 5.5.5.5 80 WAN1 svc_1 0 10.0.0.9 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 "
              "\"10.0.0.9\" 0 1 \n");
    Module t(mapped_ip_register, mapped_ip_unregister);
    record_file *h = t.open(1);
    // A line without the priority reads priority 0 and is written with it.
    mapped_ip_record r{};
    ASSERT_EQ(t->getnum(h, &r, 2), &r);
    ASSERT_EQ(t->modify(h, &r, 2), 0);
    EXPECT_STREQ(my_GetNumData(h, 2), "\"mail\" 20260102030406 1A2B3C4E 1.2.3.5 WAN1 10.0.0.6 DMZ1 0 0 ");

    struct Case {
        const char *name, *real_ip, *id;
        int line, expected;
    } cases[] = {
        {"web \"1\"", "1.2.3.4", "20260102030405", 1, 0},  // itself
        {"web \"1\"", "9.9.9.9", "20260102030405", 0, 2},  // a new one with a taken name
        {"other", "1.2.3.5", "20260102030405", 1, 4},      // another's address
        {"other", "5.5.5.5", "20260102030499", 0, 4},      // a virtual server's address
        {"mail", "5.5.5.5", "20260102030499", 0, 6},
        {"other", "1.2.3.4", "20260102030499", 2, 4},
    };
    for (const Case &c : cases) {
        mapped_ip_record m = t.record<mapped_ip_record>("\"\" " + std::string(c.id) + " 1A 1.2.3.4 WAN1 10.0.0.5 LAN1 1 0 ");
        std::strcpy(m.name, c.name);
        std::strcpy(m.real_ip, c.real_ip);
        EXPECT_EQ(t->isTheSame(h, &m, c.line), c.expected) << c.name << " " << c.real_ip;
    }
    EXPECT_EQ(t->isTheSame(h, nullptr, 0), -1);

    // In use by the public port (whatever its route mark) or the host's port.
    for (const auto &[iname, used] : {std::pair{"WAN1", 1}, {"LAN1", 1}, {"DMZ1", 1}, {"WAN2", 0}}) {
        interface_record iface = interface_port(1, iname, 2);
        EXPECT_EQ(call<nat_interface_check_fn>(t->interface_check, h, &iface), used) << iname;
    }
}

TEST(MappedIp, DynamicAddressAndInterfaceRestoreMoveTheSystemAddress) {
    ModuleBox box;
    install_ports();
    box.write(kMapped,
              "\"web\" 20260102030405 1A2B3C4D 1.2.3.4 WAN1 10.0.0.5 LAN1 1 0 \n"
              "\"fixed\" 20260102030406 1A2B3C4E 1.2.3.6 WAN1 10.0.0.6 DMZ1 0 0 \n");
    ASSERT_EQ(my_add_bcast_system_ip(1, "1.2.3.4"), 0);  // as the boot left it
    Module t(mapped_ip_register, mapped_ip_unregister);

    // By the port of the internal host; nothing on WAN2.
    for (const auto &[iname, expected] : {std::pair{"WAN2", Effects{}}, {"LAN1", {arp("-D", "1.2.3.4") + arp("-I", "1.2.3.4"), kFlush + kRules, ""}}}) {
        interface_record iface = interface_port(2, iname, 1);
        EXPECT_EQ(call<nat_restorebyinterface_fn>(t->restorebyinterface, &iface, &iface), &iface);
        EXPECT_EQ(box.take(), expected) << iname;
    }
    EXPECT_EQ(system_addresses(), "1 1.2.3.4 1\n");

    // Only the record that follows the port's address takes the new one.
    wan_address_event up{"5.6.7.8", 1, "WAN1"};
    EXPECT_EQ(call<std::remove_pointer_t<wan_address_fn>>(t->dynamicIPup, &up), &up);
    EXPECT_EQ(box.take(), (Effects{arp("-D", "1.2.3.4") + arp("-I", "5.6.7.8") +
                                       "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
                                       "/bin/cp /etc/sysconfig/.firewall/mapped_ip.conf /mnt > /dev/null 2>&1\n"
                                       "/bin/umount /mnt > /dev/null 2>&1\n> /var/tmp/last.config\n",
                                   kFlush + replaced(kRules, "1.2.3.4", "5.6.7.8"), ""}));
    EXPECT_EQ(box.read(kMapped),
              "\"web\" 20260102030405 1A2B3C4D 5.6.7.8 WAN1 10.0.0.5 LAN1 1 0 \n"
              "\"fixed\" 20260102030406 1A2B3C4E 1.2.3.6 WAN1 10.0.0.6 DMZ1 0 0 \n");
    EXPECT_EQ(system_addresses(), "1 5.6.7.8 1\n");

    wan_address_event odd{"5.6.7.8; reboot", 1, "WAN1"};
    call<std::remove_pointer_t<wan_address_fn>>(t->dynamicIPup, &odd);
    EXPECT_EQ(box.take(), Effects{});
}
