// The virtual servers: their rules for each kind of service protocol, their
// lines in both layouts, their conflicts and interfaces, and what their
// removal does to the groups.  Three servers take part (entry_num row 69),
// groups have four members (row 17).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/module_harness.h"

using namespace testing_support;

namespace {

const char *const kServers = "/etc/sysconfig/.firewall/virtual_ip.conf";

class VirtualIp : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(entry_num[69], "3");
        std::strcpy(entry_num[17], "4");
        ASSERT_EQ(interface_init_shm(), 0);
        install_interfaces({interface_port(1, "WAN1", 2), interface_port(2, "LAN1", 1, 2, 3, "10.0.0.254"),
                            interface_port(3, "DMZ1", 3, 1, 3, "10.0.1.254"), interface_port(4, "DMZ2", 3, 1, 3, "10.0.0.254", "255.255.255.0", 1)});
    }
    ModuleBox box_;
    Module t_{virtual_ip_register, virtual_ip_unregister};
};

// A virtual server of public port, WAN port, sharing mode and server list.
std::string server(const char *port, const char *device, int mode, const char *servers) {
    return "\"web\" 20260102030405 1A2B3C4D 1.2.3.4 " + std::string(port) + " " + device + " svc_20260101000000 " +
           std::to_string(mode) + " 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 \"" + servers + "\" 0 0 ";
}

const std::string kSnat =
    "/sbin/iptables -t nat -A postvip_20260102030405 -o WAN1 -s 10.0.0.1 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -o WAN1_ppp -s 10.0.0.1 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -o WAN1 -m sockaddr --sockaddr 10.0.0.1 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -o WAN1_ppp -m sockaddr --sockaddr 10.0.0.1 -j SNAT --to-source 1.2.3.4\n";
const std::string kLoop =
    "/sbin/iptables -t nat -A postvip_20260102030405 -i LAN+ -o LAN+ -d 10.0.0.1 -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -i WLAN+ -o WLAN+ -d 10.0.0.1 -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -i WLAN+ -o LAN+ -d 10.0.0.1 -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -i LAN+ -o WLAN+ -d 10.0.0.1 -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -i DMZ+ -o DMZ+ -d 10.0.0.1 -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -i WDMZ+ -o WDMZ+ -d 10.0.0.1 -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -i WDMZ+ -o DMZ+ -d 10.0.0.1 -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n"
    "/sbin/iptables -t nat -A postvip_20260102030405 -i DMZ+ -o WDMZ+ -d 10.0.0.1 -m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4\n";
const std::string kFlush =
    "/sbin/iptables -t nat -F vip_20260102030405\n/sbin/iptables -t nat -F natvip_20260102030405\n"
    "/sbin/iptables -t nat -F postvip_20260102030405\n/sbin/iptables -t mangle -F previp_20260102030405\n";
const std::string kMarked =
    "/sbin/iptables -t nat -A vip_20260102030405 -m utmmark --type vserver --mark 0x1A2B3C4D -j UTMMARK --set-type policy --or-mark 0x2\n"
    "/sbin/iptables -t mangle -A previp_20260102030405 -m utmmark --type vserver ! --mark 0x0 -j RETURN\n";
const std::string kWholeDnat =
    "/sbin/iptables -t nat -A natvip_20260102030405 -j svc_20260101000000\n"
    "/sbin/iptables -t mangle -A previp_20260102030405 -d 1.2.3.4 -m utmmark --type vserver --mark 0x1A2B3C4D -j PREDNAT --to-destination 10.0.0.1,10.0.0.3\n"
    "/sbin/iptables -t nat -A natvip_20260102030405 -j DNAT --to-destination 10.0.0.1,10.0.0.3 --set-bysrc\n";

std::string arp(const char *action) { return arp_answers(action, "1.2.3.4", {"WAN1", "LAN1"}); }

}  // namespace

TEST_F(VirtualIp, RulesForEachProtocolKindWithAndWithoutTheService) {
    service_protocol icmp{"icmp", "0", "0", nullptr}, all{"all", "0", "0", &icmp}, tcp{"tcp", "80", "80", &all};
    const std::string both_servers = kSnat + kLoop + replaced(kSnat + kLoop, "10.0.0.1", "10.0.0.3");

    // The whole address to two of three servers, shared by source address.
    auto whole = t_.record<virtual_ip_record>(server("^o^", "WAN1", 2, "10.0.0.1,0.0.0.0,10.0.0.3"));
    whole.service_info = &tcp;
    ASSERT_EQ(call<nat_command_fn>(t_->command, &whole), 0);
    EXPECT_EQ(box_.take(),
              (Effects{arp("-I"),
                       "/sbin/iptables -t nat -N vip_20260102030405\n/sbin/iptables -t nat -N natvip_20260102030405\n"
                       "/sbin/iptables -t nat -N postvip_20260102030405\n"
                       "/sbin/iptables -t nat -A preNat_vserver -m utmmark --type vserver --mark 0x1A2B3C4D -j natvip_20260102030405\n"
                       "/sbin/iptables -t nat -A postNat_vserver -j postvip_20260102030405\n"
                       "/sbin/iptables -t mangle -N previp_20260102030405\n"
                       "/sbin/iptables -t mangle -A preMangle_vserver -j previp_20260102030405\n" +
                           kMarked +
                           "/sbin/iptables -t mangle -A previp_20260102030405 -j UTMMARK --set-type policy --and-mark 0xfffffffb\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -d 1.2.3.4 -j svc_20260101000000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -i WAN1 -d 1.2.3.4 -m utmmark --type policy --mark 0x4/0x4 -j UTMMARK --set-type param --or-mark 0x40000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -i WAN1_+ -d 1.2.3.4 -m utmmark --type policy --mark 0x4/0x4 -j UTMMARK --set-type param --or-mark 0x40000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -d 1.2.3.4 -m utmmark --type policy --mark 0x4/0x4 -j UTMMARK --set-type vserver --set-mark 0x1A2B3C4D\n" +
                           kWholeDnat + both_servers,
                       ""}));

    // One public port over a virtual link, backup sharing, for a TCP, an
    // "all" and an ICMP entry.
    auto port = t_.record<virtual_ip_record>(server("8080", "WAN1:1a", 1, "10.0.0.1"));
    port.service_info = &tcp;
    ASSERT_EQ(call<nat_initial_system_cmd_fn>(t_->initial_system_cmd, &port, 1, 1), 0);
    EXPECT_EQ(box_.take(),
              (Effects{arp("-I"),
                       kMarked +
                           "/sbin/iptables -t mangle -A previp_20260102030405 -i WAN1 -p tcp -d 1.2.3.4 --dport 8080:8080 -j UTMMARK --set-type param --or-mark 0x40000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -i WAN1_+ -p tcp -d 1.2.3.4 --dport 8080:8080 -j UTMMARK --set-type param --or-mark 0x40000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -p tcp -d 1.2.3.4 --dport 8080:8080 -j UTMMARK --set-type vserver --set-mark 0x1A2B3C4D\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -i WAN1 -d 1.2.3.4 -j UTMMARK --set-type param --or-mark 0x40000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -i WAN1_+ -d 1.2.3.4 -j UTMMARK --set-type param --set-mark 0x40000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -d 1.2.3.4 -j UTMMARK --set-type vserver --set-mark 0x1A2B3C4D\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -i WAN1 -p icmp -d 1.2.3.4 -j UTMMARK --set-type param --or-mark 0x40000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -i WAN1_+ -p icmp -d 1.2.3.4 -j UTMMARK --set-type param --or-mark 0x40000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -p icmp -d 1.2.3.4 -j UTMMARK --set-type vserver --set-mark 0x1A2B3C4D\n"
                           "/sbin/iptables -t nat -A natvip_20260102030405 -j svc_20260101000000\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -p tcp -d 1.2.3.4 --dport 8080 -m utmmark --type vserver --mark 0x1A2B3C4D -j PREDNAT --to-destination 10.0.0.1:80\n"
                           "/sbin/iptables -t nat -A natvip_20260102030405 -p tcp -j DNAT --to-destination 10.0.0.1:80 --set-backup\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -d 1.2.3.4 -m utmmark --type vserver --mark 0x1A2B3C4D -j PREDNAT --to-destination 10.0.0.1:0\n"
                           "/sbin/iptables -t nat -A natvip_20260102030405 -j DNAT --to-destination 10.0.0.1:0 --set-backup\n"
                           "/sbin/iptables -t mangle -A previp_20260102030405 -p icmp -d 1.2.3.4 -m utmmark --type vserver --mark 0x1A2B3C4D -j PREDNAT --to-destination 10.0.0.1:8080\n"
                           "/sbin/iptables -t nat -A natvip_20260102030405 -p icmp -j DNAT --to-destination 10.0.0.1:8080 --set-backup\n"
                           "/sbin/iptables -t nat -A postvip_20260102030405 -o WAN1 -s 10.0.0.1 -m routemark --mark 0x1a -j SNAT --to-source 1.2.3.4\n"
                           "/sbin/iptables -t nat -A postvip_20260102030405 -o WAN1 -m routemark --mark 0x1a -m sockaddr --sockaddr 10.0.0.1 -j SNAT --to-source 1.2.3.4\n" +
                           kLoop,
                       ""}));

    // Without the service's protocols: no marks, and a public port is not
    // translated; the whole address still is.
    whole.service_info = port.service_info = nullptr;
    ASSERT_EQ(call<nat_recommand_fn>(t_->recommand, &whole, &whole), 0);
    EXPECT_EQ(box_.take(), (Effects{arp("-D") + arp("-I"), kFlush + kWholeDnat + both_servers, ""}));
    std::strcpy(port.real_device_name, "WAN1");
    ASSERT_EQ(call<nat_initial_system_cmd_fn>(t_->initial_system_cmd, &port, 1, 1), 0);
    EXPECT_EQ(box_.take(), (Effects{arp("-I"), kSnat + kLoop, ""}));
    EXPECT_EQ(system_addresses(), "1 1.2.3.4 2\n");

    ASSERT_EQ(call<nat_command_fn>(t_->discommand, &port), 0);
    EXPECT_EQ(box_.take(), (Effects{arp("-D"),
                                    kFlush +
                                        "/sbin/iptables -t nat -D preNat_vserver -m utmmark --type vserver --mark 0x1A2B3C4D -j natvip_20260102030405\n"
                                        "/sbin/iptables -t nat -D postNat_vserver -j postvip_20260102030405\n"
                                        "/sbin/iptables -t mangle -D preMangle_vserver -j previp_20260102030405\n"
                                        "/sbin/iptables -t nat -X vip_20260102030405\n/sbin/iptables -t nat -X natvip_20260102030405\n"
                                        "/sbin/iptables -t nat -X postvip_20260102030405\n/sbin/iptables -t mangle -X previp_20260102030405\n",
                                    ""}));
}

TEST_F(VirtualIp, LinesInBothLayoutsAndTheRewriteOfTheOlderOne) {
    box_.write(kServers,
               "\"a\" 20260102030401 0 1.2.3.4 80 WAN1 svc_1 2 10.0.0.1 0.0.0.0 10.0.0.3 0.0.0.0 LAN1 1 \n"
               "\"b \\\"x\\\"\" 20260102030402 0 1.2.3.5 ^o^ WAN1 svc_1 0 10.0.0.7 x;y 0.0.0.0 0.0.0.0 LAN1 0 \n"
               "\"c\" 20260102030403 0 1.2.3.6 ^o^ WAN1 svc_1 0 10.0.0.8 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 \"10.0.0.8\" 0 1 \n"
               "\"d\" 20260102030404 0 1.2.3.7 ^o^ WAN1 svc_1 0 9.9.9.9 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 \"10.0.0.1,10.0.0.2,1\" 5 2 \n"
               "\"e\" 20260102030406 0 1.2.3.8 ^o^ WAN1 svc_1 0 10.0.0.9 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 \n");
    record_file *h = t_.open(0);
    virtual_ip_record r{};
    ASSERT_EQ(t_->getnum(h, &r, 4), &r);  // the list fills the servers; what is no address is none
    EXPECT_EQ(std::string(r.virtual_ip[0]) + " " + r.virtual_ip[1] + " " + r.virtual_ip[2] + " " + r.virtual_ip[3],
              "10.0.0.1 10.0.0.2 0.0.0.0 0.0.0.0");
    EXPECT_EQ(r.health_check, 5);
    t_.close();
    // Older lines up to the first list with a comma take the current layout.
    const std::string rest = box_.read(kServers).substr(box_.read(kServers).find("\"c\""));
    EXPECT_EQ(virtual_rewrite_config(), 2);
    EXPECT_EQ(box_.read(kServers),
              "\"a\" 20260102030401 0 1.2.3.4 80 WAN1 svc_1 2 10.0.0.1 0.0.0.0 10.0.0.3 0.0.0.0 LAN1 1 \"10.0.0.1,0.0.0.0,10.0.0.3\" 0 0 \n"
              "\"b \\\"x\\\"\" 20260102030402 0 1.2.3.5 ^o^ WAN1 svc_1 0 10.0.0.7 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 \"10.0.0.7,0.0.0.0,0.0.0.0\" 0 0 \n" +
                  rest);
}

TEST_F(VirtualIp, ConflictsPriorityAndInterfaces) {
    box_.write(kServers,
               "\"a\" 20260102030401 0 1.2.3.4 80 WAN1 svc_1 0 10.0.0.1 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 \"10.0.0.1,0.0.0.0,10.0.5.5\" 0 1 \n"
               "\"b\" 20260102030402 0 1.2.3.4 ^o^ WAN2:1a svc_2 0 10.0.9.2 10.0.1.3 0.0.0.0 0.0.0.0 DMZ1 0 \"10.0.9.2,10.0.1.3,0.0.0.0\" 0 2 \n");
    box_.write("/etc/sysconfig/.firewall/mapped_ip.conf", "\"m\" 20260102030409 0 1.2.3.9 WAN1 10.0.0.5 LAN1 1 0 \n");
    record_file *h = t_.open(0);
    struct Case {
        const char *real_ip, *port, *service, *id;
        int line, expected, priority;
    } cases[] = {
        {"1.2.3.4", "443", "svc_1", "20260102030499", 0, 0, 3},  // after the two on its address
        {"1.2.3.4", "80", "svc_1", "20260102030499", 0, 2, 1},   // the same forwarding
        {"1.2.3.4", "80", "svc_1", "20260102030401", 1, 0, 2},   // itself
        {"1.2.3.9", "80", "svc_1", "20260102030499", 0, 4, 1},   // a mapped address's
    };
    for (const Case &c : cases) {
        auto r = t_.record<virtual_ip_record>(server(c.port, "WAN1", 0, ""));
        std::strcpy(r.real_ip, c.real_ip);
        std::strcpy(r.service_chain, c.service);
        std::strcpy(r.id, c.id);
        EXPECT_EQ(t_->isTheSame(h, &r, c.line), c.expected) << c.real_ip << ":" << c.port;
        EXPECT_EQ(r.priority, c.priority) << c.real_ip << ":" << c.port;
    }
    // The WAN port (route mark or not), or a server in the subnet of a LAN
    // or DMZ port in NAT mode outside a bridged zone; the walk of a
    // record's servers ends at its first empty one.
    const std::pair<interface_record, int> ports[] = {
        {*interface_read_shm(1), 1}, {*interface_read_shm(2), 0} /* bridged */, {*interface_read_shm(3), 1},
        {*interface_read_shm(4), 0} /* in a zone */, {interface_port(5, "WAN2", 2), 1},
        {interface_port(6, "LAN6", 1, 1, 3, "10.0.9.1"), 1}, {interface_port(7, "DMZ7", 3, 1, 3, "10.0.5.1"), 0}};
    for (const auto &[iface, used] : ports)
        EXPECT_EQ(call<nat_interface_check_fn>(t_->interface_check, h, &iface), used) << iface.iname;
}

TEST_F(VirtualIp, RemovalTakesTheServerOutOfEveryGroup) {
    box_.write(kServers, "\"a\" 1 \n\"b\" 2 \n\"c\" 3 \n\"d\" 4 \n");
    box_.write("/etc/sysconfig/.firewall/virtual_ip_group.conf",
               "\"g1\" 20260102030401 0 0110 LAN1 \n\"g2\" 20260102030402 0 0100 LAN1 \n\"g3\" 20260102030403 0 1 DMZ1 \n");
    ASSERT_EQ(t_->remove(t_.open(1), 2), 0);
    EXPECT_EQ(t_->remove(static_cast<record_file *>(t_->handle), 7), -1);
    EXPECT_EQ(box_.read("/etc/sysconfig/.firewall/virtual_ip_group.conf"),
              "\"g1\" 20260102030401 0 0100 LAN1 \n\"g2\" 20260102030402 0 0000 ^o^ \n\"g3\" 20260102030403 0 1000 DMZ1 \n");
}

TEST_F(VirtualIp, ReappliedWithTheServiceOfItsChain) {
    box_.write("/etc/sysconfig/.firewall/service_custom.conf", "\"web\" 20260101000000 1 tcp 80 80 \n");
    box_.write(kServers, replaced(server("8080", "WAN1", 0, "10.0.0.1"), "LAN1 0", "LAN1 1") + "\n");  // follows WAN1
    auto rec = t_.record<virtual_ip_record>(server("8080", "WAN1", 0, "10.0.0.1"));
    service_protocol tcp{"tcp", "80", "80", nullptr};
    rec.service_info = &tcp;
    call<nat_initial_system_cmd_fn>(t_->initial_system_cmd, &rec, 1, 1);
    const Effects applied = box_.take();

    interface_record lan = interface_port(2, "LAN1", 1);
    call<nat_restorebyinterface_fn>(t_->restorebyinterface, nullptr, &lan);
    EXPECT_EQ(box_.take(), (Effects{arp("-D") + applied.commands, kFlush + applied.ipv4, ""}));
    wan_address_event up{"5.6.7.8", 1, "WAN1"};
    call<std::remove_pointer_t<wan_address_fn>>(t_->dynamicIPup, &up);
    const Effects moved = box_.take();
    EXPECT_EQ(moved.ipv4, kFlush + replaced(applied.ipv4, "1.2.3.4", "5.6.7.8"));
    EXPECT_EQ(system_addresses(), "1 5.6.7.8 1\n");
    EXPECT_NE(box_.read(kServers).find(" 5.6.7.8 8080 "), std::string::npos);
}
