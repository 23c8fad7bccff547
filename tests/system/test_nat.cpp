// The address translation, management access and service modules: rules, ARP answers and commands of every
// apply path compared whole, lines, conflicts, and what their forms make of values (hostile ones: test_vpn.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/module_harness.h"
#include "support/request.h"

using namespace testing_support;
namespace nat_tests {  // shared with test_vpn.cpp
// A form written as a query: "name=value&name=value".
FormValues form(const std::string &query) {
    FormValues fields;
    for (std::size_t at = 0, end; at < query.size(); at = end + 1) {
        end = std::min(query.find('&', at), query.size());
        const std::string field = query.substr(at, end - at);
        fields.emplace_back(field.substr(0, field.find('=')), field.substr(field.find('=') + 1));
    }
    return fields;
}

// Rules written "TABLE RULE" one per line, as the IPv4 queue holds them: @
// stands for the record's identifier, {NAME} for a common part of a rule.
std::string ipt(std::string rules) {
    const std::pair<const char *, const char *> parts[] = {
        {"@", "20260102030405"}, {"{param}", "-j UTMMARK --set-type param --or-mark 0x40000"},
        {"{vserver}", "-j UTMMARK --set-type vserver --set-mark 0x1A2B3C4D"},
        {"{policy}", "-m utmmark --type policy --mark 0x4/0x4 -j UTMMARK --set-type"},
        {"{prednat}", "-m utmmark --type vserver --mark 0x1A2B3C4D -j PREDNAT --to-destination"},
        {"{hairpin}", "-m utmmark --type vserver ! --mark 0x0 -j SNAT --to-source 1.2.3.4"},
        {"{snat}", "-j SNAT --to-source 1.2.3.4"}, {"{or4}", "-j UTMMARK --set-type policy --or-mark 0x4"}};
    for (auto [part, text] : parts) rules = replaced(rules, part, text);
    const std::string program = "/sbin/iptables -t ", out = replaced(program + rules, "\n", "\n" + program);
    return out.substr(0, out.size() - program.size());  // every rule ends with its line feed
}
}  // namespace nat_tests
using nat_tests::form, nat_tests::ipt;

namespace {
using Kind = std::pair<module_table *(*)(), void (*)(module_table *)>;  // register and unregister
constexpr Kind kPermit{permit_ip_register, permit_ip_unregister}, kMapped{mapped_ip_register, mapped_ip_unregister},
    kVirtual{virtual_ip_register, virtual_ip_unregister}, kService{service_register, service_unregister},
    kGroup{virtual_ip_group_register, virtual_ip_group_unregister}, kDdns{ddns_register, ddns_unregister};
const char *const kMappedFile = "/etc/sysconfig/.firewall/mapped_ip.conf",
                 *const kServers = "/etc/sysconfig/.firewall/virtual_ip.conf";

// A record's chains ("-N" lines and the jumps to them) flushed, and removed with the jumps.
std::string flushed(const std::string &chains) { return replaced(lines_with(chains, " -N "), " -N ", " -F "); }
std::string removed(const std::string &chains) {
    return flushed(chains) + replaced(lines_with(chains, " -A "), " -A ", " -D ") +
           replaced(lines_with(chains, " -N "), " -N ", " -X ");
}

// How hosts behind the appliance reach a server at its public address: rule for each %I in, %O out.
std::string hairpins(const std::string &rule) {
    std::string out;
    for (auto [in, to] : {std::pair{"LAN", "LAN"}, {"WLAN", "WLAN"}, {"WLAN", "LAN"}, {"LAN", "WLAN"}, {"DMZ", "DMZ"},
                          {"WDMZ", "WDMZ"}, {"WDMZ", "DMZ"}, {"DMZ", "WDMZ"}})
        out += replaced(replaced(rule, "%I", in), "%O", to);
    return out;
}

const std::string kMipChains =
    ipt("nat -N mip_@\nnat -N natmip_@\nnat -N postmip_@\n"
        "nat -A preNat_mapip -m utmmark --type vserver --mark 0x1A2B3C4D -j natmip_@\n"
        "nat -A postNat_mapip -j postmip_@\nmangle -N premip_@\nmangle -A preMangle_mapip -j premip_@\n");
// The mapping 1.2.3.4 on WAN1 to 10.0.0.5: head, source translations, tail.
const std::string kHead =
    ipt("nat -A mip_@ -m utmmark --type vserver --mark 0x1A2B3C4D -j UTMMARK --set-type policy --or-mark 0x2\n"
        "nat -A natmip_@ -j DNAT --to-destination 10.0.0.5\n");
const std::string kMipSnat =
    ipt("nat -A postmip_@ -s 10.0.0.5 -o WAN1 {snat}\nnat -A postmip_@ -s 10.0.0.5 -o WAN1_ppp {snat}\n"
        "nat -A postmip_@ -o WAN1 -m sockaddr --sockaddr 10.0.0.5 {snat}\n"
        "nat -A postmip_@ -o WAN1_ppp -m sockaddr --sockaddr 10.0.0.5 {snat}\n");
const std::string kTail = hairpins(ipt("nat -A postmip_@ -d 10.0.0.5 -i %I+ -o %O+ {hairpin}\n")) +
                          ipt("mangle -A premip_@ -m utmmark --type vserver ! --mark 0x0 -j RETURN\n"
                              "mangle -A premip_@ -i WAN1 -d 1.2.3.4 {param}\n"
                              "mangle -A premip_@ -i WAN1_+ -d 1.2.3.4 {param}\n"
                              "mangle -A premip_@ -d 1.2.3.4 {vserver}\n"
                              "mangle -A premip_@ -d 1.2.3.4 -j PREDNAT --to-destination 10.0.0.5\n");
const std::string kMipRules = kHead + kMipSnat + kTail;

// The ARP answers for address on WAN1 and the LAN port bridged to it.
std::string arp(const char *action, const char *address = "1.2.3.4") {
    return arp_answers(action, address, {"WAN1", "LAN1"});
}

// Whether the stored records use the port.
int uses(const Module &t, record_file *h, interface_record iface) {
    return call<nat_interface_check_fn>(t->interface_check, h, &iface);
}

// WAN1 static with LAN1 bridged to it, DMZ1 in NAT mode, WAN2 on DHCP.
void install_ports() {
    ASSERT_EQ(interface_init_shm(), 0);
    install_interfaces({interface_port(1, "WAN1", 2), interface_port(2, "LAN1", 1, 2), interface_port(3, "DMZ1", 3),
                        interface_port(4, "WAN2", 2, 1, 2)});
}

// A permitted host's ten rules: head the program and action, at the position; services of bits accepted.
std::string permit_rules(const std::string &head, const std::string &at, const std::string &address, int bits) {
    std::string out;
    for (auto [service, bit] : {std::pair{"http", 2}, {"https", 4}, {"ping", 1}, {"telnet", 8}, {"ssh", 16}})
        for (auto [way, match] : {std::pair{"in", " -s "}, {"out", " -d "}})
            out += head + " permitip_" + service + "_" + way + at + match + address + " -j tlog_" +
                   (bits & bit ? "accept\n" : "drop\n");
    return out;
}
permit_ip_record host(int ipv, const char *address, const char *mask, int security) {
    permit_ip_record r{"admin \"pc\"", ipv, "20260102030405", "", "", security};
    return put(r.ipaddr, address), put(r.netmask, mask), r;
}

// Three servers take part (entry_num row 69), groups have four members (row 17).
class VirtualIp : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(entry_num[69], "3");
        std::strcpy(entry_num[17], "4");
        ASSERT_EQ(interface_init_shm(), 0);
        install_interfaces({interface_port(1, "WAN1", 2), interface_port(2, "LAN1", 1, 2, 3, "10.0.0.254"),
                            interface_port(3, "DMZ1", 3, 1, 3, "10.0.1.254"),
                            interface_port(4, "DMZ2", 3, 1, 3, "10.0.0.254", "255.255.255.0", 1)});
    }
    ModuleBox box_;
    Module t_{virtual_ip_register, virtual_ip_unregister};
};

// A virtual server of public port, WAN port, sharing mode and server list.
std::string server(const char *port, const char *device, int mode, const char *servers) {
    return "\"web\" 20260102030405 1A2B3C4D 1.2.3.4 " + std::string(port) + " " + device + " svc_20260101000000 " +
           std::to_string(mode) + " 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 \"" + servers + "\" 0 0 ";
}
const std::string kVipChains = replaced(replaced(kMipChains, "mip_", "vip_"), "_mapip", "_vserver");
const std::string kVipSnat =
    ipt("nat -A postvip_@ -o WAN1 -s 10.0.0.1 {snat}\nnat -A postvip_@ -o WAN1_ppp -s 10.0.0.1 {snat}\n"
        "nat -A postvip_@ -o WAN1 -m sockaddr --sockaddr 10.0.0.1 {snat}\n"
        "nat -A postvip_@ -o WAN1_ppp -m sockaddr --sockaddr 10.0.0.1 {snat}\n");
const std::string kLoop = hairpins(ipt("nat -A postvip_@ -i %I+ -o %O+ -d 10.0.0.1 {hairpin}\n"));
const std::string kMarked = replaced(lines_with(kHead, "0x2\n") + lines_with(kTail, "RETURN"), "mip_", "vip_");
const std::string kWholeDnat =
    ipt("nat -A natvip_@ -j svc_20260101000000\nmangle -A previp_@ -d 1.2.3.4 {prednat} 10.0.0.1,10.0.0.3\n"
        "nat -A natvip_@ -j DNAT --to-destination 10.0.0.1,10.0.0.3 --set-bysrc\n");

// The protocol list of a service chain as "protocol first-last;" entries.
std::string protocols(const char *chain) {
    std::string text;
    service_protocol *list = getProtocolInfoBychain(chain);
    for (const service_protocol *p = list; p; p = p->next)
        text += std::string(p->protocol) + " " + p->first_port + "-" + p->last_port + ";";
    return freeProtocolInfo(list), text;
}

}  // namespace

// The permit rules of every apply path, in the record's family only; lines; duplicates.
TEST(PermitIp, RulesLinesAndDuplicates) {
    ModuleBox box;
    Module t(permit_ip_register, permit_ip_unregister);
    permit_ip_record v4 = host(0, "0.0.0.0", "255.255.255.255", 31), v6 = host(1, "2001:db8::1", "64", 17),
                     none = host(2, "10.0.0.1", "24", 31), a = host(0, "192.168.1.0", "255.255.255.0", 6),
                     b = host(1, "fe80::1", "10", 0);
    const std::string replacing = permit_rules("/sbin/ip6tables -t filter -R", " 3", "2001:db8::1/64", 17);
    ASSERT_EQ(call<nat_command_fn>(t->command, &v4), 0);
    EXPECT_EQ(box.take(),
              (Effects{"", permit_rules("/sbin/iptables -t filter -A", "", "0.0.0.0/255.255.255.255", 31), ""}));
    call<permit_ip_recommand_fn>(t->recommand, &v6, 3);
    EXPECT_EQ(box.take(), (Effects{"", "", replacing}));
    call<nat_command_fn>(t->discommand, &v6);
    EXPECT_EQ(box.take(), (Effects{"", "", replaced(replaced(replacing, " -R ", " -D "), " 3 -", " -")}));
    EXPECT_EQ(call<nat_command_fn>(t->command, &none), -1);  // no such family
    call<nat_initial_system_cmd_fn>(t->initial_system_cmd, &v4, 1, 0);
    EXPECT_EQ(box.take(), Effects{});
    EXPECT_EQ(call<nat_command_fn>(t->command, nullptr), -1);
    put(b.name, "lab\r<br>$(x) & <b>");
    ASSERT_EQ(t->add(t.open(1), &a), 0);
    ASSERT_EQ(t->add(static_cast<record_file *>(t->handle), &b), 0);
    t.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/permit_ip.conf"),
              "\"admin \\\"pc\\\"\" 20260102030405 0 192.168.1.0 255.255.255.0 6 \n"
              "\"lab//n//n$(x) & <b>\" 20260102030405 1 fe80::1 10 0 \n");
    record_file *h = t.open(0);
    for (auto [line, expected] : {std::pair{1, 0}, {2, 1}, {0, 1}}) EXPECT_EQ(t->isTheSame(h, &a, line), expected);
}

// A mapping applied, re-applied over a virtual link, removed, set up at boot; lines, conflicts, ports.
TEST(MappedIp, RulesLinesAndConflicts) {
    ModuleBox box;
    install_ports();
    Module t(mapped_ip_register, mapped_ip_unregister);
    const std::string line = "\"web\" 20260102030405 1A2B3C4D 1.2.3.4 WAN1 10.0.0.5 LAN1 1 0 ";
    auto plain = t.record<mapped_ip_record>(line),
         routed = t.record<mapped_ip_record>(replaced(replaced(line, "WAN1", "WAN1:1a"), "1.2.3.4", "1.2.3.9")),
         dynamic = t.record<mapped_ip_record>(replaced(replaced(line, "WAN1", "WAN2"), "1.2.3.4", "7.7.7.7"));
    ASSERT_EQ(call<nat_command_fn>(t->command, &plain), 0);
    EXPECT_EQ(box.take(), (Effects{arp("-I"), kMipChains + kMipRules, ""}));
    // A virtual link's route mark on two source translations replaces the four.
    ASSERT_EQ(call<nat_recommand_fn>(t->recommand, &routed, &plain), 0);
    const std::string routed_rules = replaced(
        kHead + replaced(lines_with(kMipSnat, "_ppp", false), "WAN1 ", "WAN1 -m routemark --mark 0x1a ") + kTail,
        "1.2.3.4", "1.2.3.9");
    EXPECT_EQ(box.take(), (Effects{arp("-D") + arp("-I", "1.2.3.9"), flushed(kMipChains) + routed_rules, ""}));
    ASSERT_EQ(call<nat_command_fn>(t->discommand, &routed), 0);
    EXPECT_EQ(box.take(), (Effects{arp("-D", "1.2.3.9"), removed(kMipChains), ""}));
    // At boot without the flag only the system address and the ARP answer of the DHCP port.
    ASSERT_EQ(call<nat_initial_system_cmd_fn>(t->initial_system_cmd, &dynamic, 1, 0), 0);
    EXPECT_EQ(box.take(), (Effects{arp_answers("-I", "7.7.7.7", {"WAN2"}), "", ""}));
    EXPECT_EQ(system_addresses(), "1 1.2.3.4 1\n1 1.2.3.9 1\n4 7.7.7.7 1\n");
    EXPECT_EQ(call<nat_command_fn>(t->command, nullptr), -1);  // then an older line gains its priority
    box.write(kMappedFile,
              "\"web \\\"1\\\"\" 20260102030405 1A2B3C4D 1.2.3.4 WAN1:1a 10.0.0.5 LAN1 1 3 \n"
              "\"mail\" 20260102030406 1A2B3C4E 1.2.3.5 WAN2 10.0.0.6 DMZ1 0 \n");
    box.write(kServers,
              "\"vs\" 20260102030407 0 5.5.5.5 80 WAN1 svc_1 0 10.0.0.9 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 "
              "\"10.0.0.9\" 0 1 \n");
    record_file *h = t.open(1);
    mapped_ip_record r{};
    ASSERT_EQ(t->getnum(h, &r, 2), &r);
    ASSERT_EQ(t->modify(h, &r, 2), 0);
    EXPECT_STREQ(my_GetNumData(h, 2), "\"mail\" 20260102030406 1A2B3C4E 1.2.3.5 WAN2 10.0.0.6 DMZ1 0 0 ");
    t->set_default(&r, nullptr);  // a new mapping follows its port's dynamic address
    ASSERT_EQ(t->add(h, &r), 0);
    EXPECT_TRUE(matches(my_GetNumData(h, 3), "\"\\^o\\^\" [0-9]{14} [0-9A-F]{8} 0.0.0.0 \\^o\\^ 0.0.0.0 \\^o\\^ 1 0 "));
    // Itself; a new one with a taken name; another's address; a virtual server's address.
    for (auto [name, real_ip, id, at, expected] :
         {std::tuple{"web \"1\"", "1.2.3.4", "20260102030405", 1, 0}, {"web \"1\"", "9.9.9.9", "20260102030405", 0, 2},
          {"other", "1.2.3.5", "20260102030405", 1, 4}, {"other", "5.5.5.5", "20260102030499", 0, 4},
          {"mail", "5.5.5.5", "20260102030499", 0, 6}, {"other", "1.2.3.4", "20260102030499", 2, 4}}) {
        auto m = t.record<mapped_ip_record>("\"\" " + std::string(id) + " 1A 1.2.3.4 WAN1 10.0.0.5 LAN1 1 0 ");
        put(m.name, name), put(m.real_ip, real_ip);
        EXPECT_EQ(t->isTheSame(h, &m, at), expected) << name << " " << real_ip;
    }
    EXPECT_EQ(t->isTheSame(h, nullptr, 0), -1);  // in use by the public port itself (not by a link of it) or the host's
    for (auto [iname, used] : {std::pair{"WAN1", 0}, {"LAN1", 1}, {"DMZ1", 1}, {"WAN2", 1}})
        EXPECT_EQ(uses(t, h, interface_port(1, iname, 2)), used) << iname;
}

// A port back re-applies its hosts' mappings; a new WAN address moves those that follow it, stored.
TEST(MappedIp, DynamicAddressAndInterfaceRestoreMoveTheSystemAddress) {
    ModuleBox box;
    install_ports();
    // A short line takes nothing from the one before; a record on a virtual link of WAN1 keeps its address.
    const std::string others = "\"short\" 20260102030408 1A2B3C50 1.2.3.8 \n"
                               "\"fixed\" 20260102030406 1A2B3C4E 1.2.3.6 WAN1 10.0.0.6 DMZ1 0 0 \n"
                               "\"linked\" 20260102030407 1A2B3C4F 1.2.3.7 WAN1:1f 10.0.0.7 DMZ1 1 0 \n";
    box.write(kMappedFile, "\"web\" 20260102030405 1A2B3C4D 1.2.3.4 WAN1 10.0.0.5 LAN1 1 0 \n" + others);
    ASSERT_EQ(my_add_bcast_system_ip(1, "1.2.3.4"), 0);  // as the boot left it
    Module t(mapped_ip_register, mapped_ip_unregister);
    for (auto [iname, expected] :
         {std::pair{"WAN2", Effects{}}, {"LAN1", {arp("-D") + arp("-I"), flushed(kMipChains) + kMipRules, ""}}}) {
        interface_record iface = interface_port(2, iname, 1);
        EXPECT_EQ(call<nat_restorebyinterface_fn>(t->restorebyinterface, &iface, &iface), &iface);
        EXPECT_EQ(box.take(), expected) << iname;
    }
    EXPECT_EQ(system_addresses(), "1 1.2.3.4 1\n");
    wan_address_event up{"5.6.7.8", 1, "WAN1"}, odd{"5.6.7.8; reboot", 1, "WAN1"};
    EXPECT_EQ(call<std::remove_pointer_t<wan_address_fn>>(t->dynamicIPup, &up), &up);
    EXPECT_EQ(box.take(), (Effects{arp("-D") + arp("-I", "5.6.7.8") +
                                       "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
                                       "/bin/cp /etc/sysconfig/.firewall/mapped_ip.conf /mnt > /dev/null 2>&1\n"
                                       "/bin/umount /mnt > /dev/null 2>&1\n> /var/tmp/last.config\n",
                                   flushed(kMipChains) + replaced(kMipRules, "1.2.3.4", "5.6.7.8"), ""}));
    EXPECT_EQ(box.read(kMappedFile), "\"web\" 20260102030405 1A2B3C4D 5.6.7.8 WAN1 10.0.0.5 LAN1 1 0 \n" + others);
    EXPECT_EQ(system_addresses(), "1 5.6.7.8 1\n");
    call<std::remove_pointer_t<wan_address_fn>>(t->dynamicIPup, &odd);
    EXPECT_EQ(box.take(), Effects{});
}

// A whole address and a public port for each kind of protocol, with and without the service; removal.
TEST_F(VirtualIp, RulesForEachProtocolKindWithAndWithoutTheService) {
    service_protocol icmp{"icmp", "0", "0", nullptr}, all{"all", "0", "0", &icmp}, tcp{"tcp", "80", "80", &all};
    const std::string both_servers = kVipSnat + kLoop + replaced(kVipSnat + kLoop, "10.0.0.1", "10.0.0.3");
    // The whole address to two of three servers, shared by source address.
    auto whole = t_.record<virtual_ip_record>(server("^o^", "WAN1", 2, "10.0.0.1,0.0.0.0,10.0.0.3"));
    whole.service_info = &tcp;
    ASSERT_EQ(call<nat_command_fn>(t_->command, &whole), 0);
    const std::string policy = ipt("mangle -A previp_@ -j UTMMARK --set-type policy --and-mark 0xfffffffb\n"
                                   "mangle -A previp_@ -d 1.2.3.4 -j svc_20260101000000\n"
                                   "mangle -A previp_@ -i WAN1 -d 1.2.3.4 {policy} param --or-mark 0x40000\n"
                                   "mangle -A previp_@ -i WAN1_+ -d 1.2.3.4 {policy} param --or-mark 0x40000\n"
                                   "mangle -A previp_@ -d 1.2.3.4 {policy} vserver --set-mark 0x1A2B3C4D\n");
    EXPECT_EQ(box_.take(), (Effects{arp("-I"), kVipChains + kMarked + policy + kWholeDnat + both_servers, ""}));
    // One public port over a virtual link, backup sharing, for a TCP, an "all" and an ICMP entry.
    auto port = t_.record<virtual_ip_record>(server("8080", "WAN1:1a", 1, "10.0.0.1"));
    port.service_info = &tcp;
    ASSERT_EQ(call<nat_initial_system_cmd_fn>(t_->initial_system_cmd, &port, 1, 1), 0);
    std::string marks;  // from each WAN port, then for the server; the "all" entry's second sets the mark
    for (const std::string m : {"-p tcp -d 1.2.3.4 --dport 8080:8080", "-d 1.2.3.4", "-p icmp -d 1.2.3.4"})
        marks += "mangle -A previp_@ -i WAN1 " + m + " {param}\nmangle -A previp_@ -i WAN1_+ " + m + " {param}\n" +
                 "mangle -A previp_@ " + m + " {vserver}\n";
    marks = replaced(marks, "WAN1_+ -d 1.2.3.4 {param}",
                     "WAN1_+ -d 1.2.3.4 -j UTMMARK --set-type param --set-mark 0x40000");
    const std::string rules =
        ipt(marks +
            "nat -A natvip_@ -j svc_20260101000000\n"
            "mangle -A previp_@ -p tcp -d 1.2.3.4 --dport 8080 {prednat} 10.0.0.1:80\n"
            "nat -A natvip_@ -p tcp -j DNAT --to-destination 10.0.0.1:80 --set-backup\n"
            "mangle -A previp_@ -d 1.2.3.4 {prednat} 10.0.0.1:0\n"
            "nat -A natvip_@ -j DNAT --to-destination 10.0.0.1:0 --set-backup\n"
            "mangle -A previp_@ -p icmp -d 1.2.3.4 {prednat} 10.0.0.1:8080\n"
            "nat -A natvip_@ -p icmp -j DNAT --to-destination 10.0.0.1:8080 --set-backup\n"
            "nat -A postvip_@ -o WAN1 -s 10.0.0.1 -m routemark --mark 0x1a {snat}\n"
            "nat -A postvip_@ -o WAN1 -m routemark --mark 0x1a -m sockaddr --sockaddr 10.0.0.1 {snat}\n");
    EXPECT_EQ(box_.take(), (Effects{arp("-I"), kMarked + rules + kLoop, ""}));
    // Without the service's protocols: no marks, and only the whole address is translated.
    whole.service_info = port.service_info = nullptr;
    ASSERT_EQ(call<nat_recommand_fn>(t_->recommand, &whole, &whole), 0);
    EXPECT_EQ(box_.take(), (Effects{arp("-D") + arp("-I"), flushed(kVipChains) + kWholeDnat + both_servers, ""}));
    put(port.real_device_name, "WAN1");
    ASSERT_EQ(call<nat_initial_system_cmd_fn>(t_->initial_system_cmd, &port, 1, 1), 0);
    EXPECT_EQ(box_.take(), (Effects{arp("-I"), kVipSnat + kLoop, ""}));
    EXPECT_EQ(system_addresses(), "1 1.2.3.4 2\n");
    ASSERT_EQ(call<nat_command_fn>(t_->discommand, &port), 0);
    EXPECT_EQ(box_.take(), (Effects{arp("-D"), removed(kVipChains), ""}));
}

// Re-applied when its host's port comes back, moved by a new WAN address; lines of both layouts and the older
// one's rewrite; conflicts, priorities, ports in use; a removed server leaves every group, an empty group its port.
TEST_F(VirtualIp, ReappliedLinesConflictsAndRemoval) {
    box_.write("/etc/sysconfig/.firewall/service_custom.conf", "\"web\" 20260101000000 1 tcp 80 80 \n");
    // Both follow their WAN port: WAN1, and a virtual link of it.
    box_.write(kServers, replaced(server("8080", "WAN1", 0, "10.0.0.1"), "LAN1 0", "LAN1 1") + "\n" +
                             replaced(server("8080", "WAN1:1a", 0, "10.0.0.1"), "LAN1 0", "DMZ1 1") + "\n");
    auto rec = t_.record<virtual_ip_record>(server("8080", "WAN1", 0, "10.0.0.1"));
    service_protocol tcp{"tcp", "80", "80", nullptr};
    rec.service_info = &tcp;
    call<nat_initial_system_cmd_fn>(t_->initial_system_cmd, &rec, 1, 1);
    const Effects applied = box_.take();
    interface_record lan = interface_port(2, "LAN1", 1);
    call<nat_restorebyinterface_fn>(t_->restorebyinterface, nullptr, &lan);
    EXPECT_EQ(box_.take(), (Effects{arp("-D") + applied.commands, flushed(kVipChains) + applied.ipv4, ""}));
    wan_address_event up{"5.6.7.8", 1, "WAN1"};
    call<std::remove_pointer_t<wan_address_fn>>(t_->dynamicIPup, &up);
    EXPECT_EQ(box_.take().ipv4, flushed(kVipChains) + replaced(applied.ipv4, "1.2.3.4", "5.6.7.8"));
    EXPECT_EQ(system_addresses(), "1 5.6.7.8 1\n");
    EXPECT_NE(box_.read(kServers).find(" 5.6.7.8 8080 WAN1 "), std::string::npos);
    EXPECT_NE(box_.read(kServers).find(" 1.2.3.4 8080 WAN1:1a "), std::string::npos);
    const std::string newer =
        "\"c\" 20260102030403 0 1.2.3.6 ^o^ WAN1 svc_1 0 10.0.0.8 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 \"10.0.0.8\" 0 1 \n"
        "\"d\" 20260102030404 0 1.2.3.7 ^o^ WAN1 svc_1 0 9.9.9.9 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 "
        "\"10.0.0.1,10.0.0.2,1\" 5 2 \n"
        "\"e\" 20260102030406 0 1.2.3.8 ^o^ WAN1 svc_1 0 10.0.0.9 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 \n",
                      a = "\"a\" 20260102030401 0 1.2.3.4 80 WAN1 svc_1 2 10.0.0.1 0.0.0.0 10.0.0.3 0.0.0.0 LAN1 1 ",
                      b = "\"b \\\"x\\\"\" 20260102030402 0 1.2.3.5 ^o^ WAN1 svc_1 0 10.0.0.7 x;y 0.0.0.0 "
                          "0.0.0.0 LAN1 0 ";
    box_.write(kServers, a + "\n" + b + "\n" + newer);
    virtual_ip_record r{};
    ASSERT_EQ(t_->getnum(t_.open(0), &r, 4), &r);  // the list fills the servers; what is no address is none
    EXPECT_EQ(std::string(r.virtual_ip[0]) + " " + r.virtual_ip[1] + " " + r.virtual_ip[2] + " " + r.virtual_ip[3] +
                  " " + std::to_string(r.health_check), "10.0.0.1 10.0.0.2 0.0.0.0 0.0.0.0 5");
    t_.close();
    // Older lines up to the first list with a comma take the current layout.
    EXPECT_EQ(virtual_rewrite_config(), 2);
    EXPECT_EQ(box_.read(kServers), a + "\"10.0.0.1,0.0.0.0,10.0.0.3\" 0 0 \n" + replaced(b, "x;y", "0.0.0.0") +
                                       "\"10.0.0.7,0.0.0.0,0.0.0.0\" 0 0 \n" + newer);
    box_.write(kServers,
               "\"a\" 20260102030401 0 1.2.3.4 80 WAN1 svc_1 0 10.0.0.1 0.0.0.0 0.0.0.0 0.0.0.0 LAN1 0 "
               "\"10.0.0.1,0.0.0.0,10.0.5.5\" 0 1 \n"
               "\"b\" 20260102030402 0 1.2.3.4 ^o^ WAN2:1a svc_2 0 10.0.9.2 10.0.1.3 0.0.0.0 0.0.0.0 DMZ1 0 "
               "\"10.0.9.2,10.0.1.3,0.0.0.0\" 0 2 \n");
    box_.write(kMappedFile, "\"m\" 20260102030409 0 1.2.3.9 WAN1 10.0.0.5 LAN1 1 0 \n");
    record_file *h = t_.open(0);
    // After the two on its address; the same forwarding; itself; a mapped address's.
    for (auto [real_ip, port, id, line, expected, priority] :
         {std::tuple{"1.2.3.4", "443", "20260102030499", 0, 0, 3}, {"1.2.3.4", "80", "20260102030499", 0, 2, 1},
          {"1.2.3.4", "80", "20260102030401", 1, 0, 2}, {"1.2.3.9", "80", "20260102030499", 0, 4, 1}}) {
        auto r = t_.record<virtual_ip_record>(server(port, "WAN1", 0, ""));
        put(r.real_ip, real_ip), put(r.service_chain, "svc_1"), put(r.id, id);
        EXPECT_EQ(t_->isTheSame(h, &r, line), expected) << real_ip << ":" << port;
        EXPECT_EQ(r.priority, priority) << real_ip << ":" << port;
    }
    // The WAN port, or a server in the subnet of a LAN or DMZ port in NAT mode outside a bridged
    // zone; the walk of a record's servers ends at its first empty one.
    std::string used;  // ports 2 (bridged) and 4 (in a zone) not
    for (int port : {1, 2, 3, 4}) used += std::to_string(uses(t_, h, *interface_read_shm(port)));
    used += std::to_string(uses(t_, h, interface_port(5, "WAN2", 2))) +
            std::to_string(uses(t_, h, interface_port(6, "LAN6", 1, 1, 3, "10.0.9.1"))) +
            std::to_string(uses(t_, h, interface_port(7, "DMZ7", 3, 1, 3, "10.0.5.1")));
    EXPECT_EQ(used, "1010010");  // b is on a virtual link of WAN2, not on WAN2
    const char *groups = "/etc/sysconfig/.firewall/virtual_ip_group.conf";
    box_.write(kServers, "\"a\" 1 \n\"b\" 2 \n\"c\" 3 \n\"d\" 4 \n");
    box_.write(groups,
               "\"g1\" 20260102030401 0 0110 LAN1 \n\"g2\" 20260102030402 0 0100 LAN1 \n"
               "\"g3\" 20260102030403 0 1 DMZ1 \n\"g4\" 20260102030404 \n");  // g4 has no members of g3's
    ASSERT_EQ(t_->remove(t_.open(1), 2), 0);
    EXPECT_EQ(t_->remove(static_cast<record_file *>(t_->handle), 7), -1);
    EXPECT_EQ(box_.read(groups),
              "\"g1\" 20260102030401 0 0100 LAN1 \n\"g2\" 20260102030402 0 0000 ^o^ \n"
              "\"g3\" 20260102030403 0 1000 DMZ1 \n\"g4\" 20260102030404 0 0000 ^o^ \n");
}

// A group's chain over its members (four, entry_num row 17), its name against groups and servers, its port.
TEST(VirtualIpGroup, ChainNamesAndMembers) {
    ModuleBox box;
    std::strcpy(entry_num[17], "4");
    box.write(kServers,
              "\"s1\" 20260102030401 0000000A 1.2.3.4 \n\"s2\" 20260102030402 0000000B 1.2.3.5 \n"
              "\"s3\" 20260102030403 0000000C 1.2.3.6 \n");
    box.write("/etc/sysconfig/.firewall/virtual_ip_group.conf", "\"g \\\"1\\\"\" 20260102030409 0 1011 DMZ1 \n");
    Module t(virtual_ip_group_register, virtual_ip_group_unregister);
    record_file *h = t.open(0);
    virtual_ip_group_record g{};
    ASSERT_EQ(t->getnum(h, &g, 1), &g);
    EXPECT_STREQ(g.chain, "vipgroup_20260102030409");
    // Servers 1 and 3; member 4 has no line.
    const std::string made = ipt("nat -N vipgroup_20260102030409\n"), add = "nat -A vipgroup_20260102030409 ";
    std::string rules;
    for (auto [server, mark] : {std::pair{"1", "A"}, {"3", "C"}})
        rules += ipt(add + "-j vip_2026010203040" + server + "\n" + add +
                     "-m utmmark --type vserver --mark 0x0000000" + mark + " {or4}\n");
    for (const auto &[slot, expected] : {std::pair<module_op, std::string>{t->command, made + rules},
                                         {t->recommand, flushed(made) + rules}, {t->discommand, removed(made)}}) {
        ASSERT_EQ(call<nat_command_fn>(slot, &g), 0);
        EXPECT_EQ(box.take(), (Effects{"", expected, ""}));
    }
    // A group may take neither another group's name (2) nor a server's (4).
    for (auto [name, id, line, expected] : {std::tuple{"g \"1\"", "20260102030409", 1, 0},
                                            {"g \"1\"", "20260102030499", 0, 2}, {"s2", "20260102030499", 0, 4},
                                            {"new", "20260102030499", 0, 0}}) {
        virtual_ip_group_record r = g;
        put(r.name, name), put(r.id, id);
        EXPECT_EQ(t->isTheSame(h, &r, line), expected) << name;
    }
    EXPECT_EQ(uses(t, h, interface_port(1, "DMZ1", 3)) * 10 + uses(t, h, interface_port(1, "LAN1", 3)), 10);
}

// Services and groups in two files, their chains, protocol lists, and a removal that leaves the groups.
TEST(Service, FilesChainsProtocolListsAndRemoval) {
    ModuleBox box;
    const char *custom = "/etc/sysconfig/.firewall/service_custom.conf",
               *groups = "/etc/sysconfig/.firewall/service_group.conf";
    const std::string kept = "\"any \\\"x\\\"\" 20260101000002 1 all 0 0 icmp 0 0 tcp 22 23 \n",
                      both = "\"both\" 20260101000003 2 svc_20260101000001 svc_20260101000009 svc_20260101000002 \n";
    box.write(custom, "\"web\" 20260101000001 1 tcp 80 80 udp 8000 8010 \n" + kept);
    box.write(groups, both);
    Module t(service_register, service_unregister);
    EXPECT_EQ(t.open(0, reinterpret_cast<void *>(3)), nullptr);
    record_file *h = t.open(0, reinterpret_cast<void *>(SERVICE_GROUP));
    service_record group{}, any{};
    ASSERT_EQ(t->getline(h, &group, nullptr, 1), 1);
    EXPECT_STREQ(group.chain, "svcgroup_20260101000003");
    EXPECT_EQ(protocols("svc_20260101000001") + "|" + protocols("svc_20260101000009"), "tcp 80-80;udp 8000-8010;|");
    EXPECT_EQ(protocols("svcgroup_20260101000003"), "tcp 80-80;udp 8000-8010;all 0-0;icmp 0-0;tcp 22-23;");
    const auto members = [](const std::string &made, const std::vector<const char *> &ids) {  // svc_202601010000..
        std::string rules;
        for (const std::string table : {"mangle ", "nat "}) {
            rules += table + made + " svcgroup_20260101000003\n";
            for (const char *id : ids) rules += table + "-A svcgroup_20260101000003 -j svc_202601010000" + id + "\n";
        }
        return ipt(rules);
    };
    ASSERT_EQ(call<nat_command_fn>(t->command, &group), 0);
    EXPECT_EQ(box.take(), (Effects{"", members("-N", {"01", "09", "02"}), ""}));
    h = t.open(1, reinterpret_cast<void *>(SERVICE_CUSTOM));
    ASSERT_EQ(t->getnum(h, &any, 2), &any);
    ASSERT_EQ(call<nat_command_fn>(t->recommand, &any), 0);
    const std::string marks = "T -F svc_20260101000002\nT -A svc_20260101000002 {or4}\n"
                              "T -A svc_20260101000002 -p icmp {or4}\n"
                              "T -A svc_20260101000002 -p tcp --dport 22:23 {or4}\n";
    EXPECT_EQ(box.take(), (Effects{"", ipt(replaced(marks, "T ", "mangle ") + replaced(marks, "T ", "nat ")), ""}));
    // No line 0; the first service goes: the group loses it and its chain follows.
    ASSERT_EQ(t->remove(h, 0) * 10 + t->remove(h, 1), -10);
    t.close();
    EXPECT_EQ(box.read(custom) + box.read(groups), kept + replaced(both, "svc_20260101000001 ", ""));
    EXPECT_EQ(box.take().ipv4, members("-F", {"09", "02"}));
}

// What the forms make of values the descriptions cannot say (services ticked one by one, identities, members,
// servers past the fourth, protocol ranges), as the stored line; "" for a form refused.
TEST(NatForms, FieldsMakeTheseLines) {
    ModuleBox box;
    std::strcpy(entry_num[69], "5");
    std::strcpy(entry_num[17], "2");
    box.write(kServers, "\"a\" 20260102030401 \n\"b\" 20260102030402 \n");
    const std::string id = "20260102030405",
                      vip = "name=web&id=@&rp=80&schain=svc_20260101000001&vip1=10.0.0.1&vip3=10.0.0.3";
    const std::tuple<Kind, intptr_t, std::string, std::string> rows[] = {
        {kPermit, 0, "pname=web&id=@&ip=10.0.0.0&nm=255.0.0.0&phttp=2&pssh=16&pping=0",
         "\"web\" @ 0 10.0.0.0 255.0.0.0 18 "},
        {kPermit, 0, "id=@&pping=-1", ""},
        {kPermit, 0, "id=@&phttps=2", ""},
        {kMapped, 0, "name=a&id=@&mark=ff&rip=1.2.3.4&rname=WAN1:1a", "\"a\" @ ff 1.2.3.4 WAN1:1a 0.0.0.0 ^o^ 1 0 "},
        {kMapped, 0, "id=@", "\"^o^\" @ 695735A5 0.0.0.0 ^o^ 0.0.0.0 ^o^ 1 0 "},  // the mark follows the identifier
        {kMapped, 0, "id=2026; x", ""},
        {kVirtual, 0, vip + "&vip5=10.0.0.5&vip6=x",  // the capacity takes five servers
         "\"web\" @ 695735A5 0.0.0.0 80 ^o^ svc_20260101000001 0 10.0.0.1 0.0.0.0 10.0.0.3 0.0.0.0 ^o^ 1 "
         "\"10.0.0.1,0.0.0.0,10.0.0.3,0.0.0.0,10.0.0.5\" 0 0 "},
        {kVirtual, 0, vip + "&vip5=10.0.0.5;x", ""},
        {kGroup, 0, "name=g&id=@&select_members=20260102030402&select_members=20260102030409&iname=LAN1",
         "\"g\" @ 695735A5 01 LAN1 "},
        {kGroup, 0, "id=@&select_members=2026", ""},
        {kService, SERVICE_CUSTOM, "name=mail&id=@&protocol1=tcp&first_port1=25&protocol3=17&first_port3=53&"
         "last_port3=54&protocol5=47", "\"mail\" @ 1 tcp 25 25 17 53 54 47 0 0 "},
        {kService, SERVICE_GROUP, "id=@&kind=2&select_members=svc_20260101000001&select_members=svc_20260101000002",
         "\"^o^\" @ 2 svc_20260101000001 svc_20260101000002 "},
        {kService, SERVICE_GROUP, "id=@&kind=2&select_members=svcgroup_20260101000001", ""},
        {kDdns, 0, "provider=2&username=bob&password=p w&host=home&domain=example.net&auto_wan=0&wan_ip=198.51.100.9",
         "2 bob \"p w\" home example.net 0 198.51.100.9 "},
        {kDdns, 0, "provider=8&username=carol&auto_wan=0&select_port=WAN2", "8 carol ^o^ ^o^ ^o^ 1 WAN2 "},
    };
    for (const auto &[kind, selector, query, line] : rows) {
        Module t(kind.first, kind.second);
        submit_form(form(replaced(query, "@", id)));
        std::vector<char> rec(sizeof(virtual_ip_group_record));
        t->set_default(rec.data(), nullptr);
        void *filled = call<nat_cgiParam_fn>(t->cgiParam, rec.data());
        ASSERT_EQ(filled, line.empty() ? nullptr : rec.data()) << query;
        if (!filled) continue;
        record_file *h = t.open(1, reinterpret_cast<void *>(selector));
        ASSERT_EQ(t->modify(h, rec.data(), 1), 0);
        EXPECT_EQ(my_GetNumData(h, 1), replaced(line, "@", id));
    }
    // A form without an identifier gives a fresh one.
    submit_form({});
    Module mapped(mapped_ip_register, mapped_ip_unregister);
    mapped_ip_record rec{};
    call<nat_cgiParam_fn>(mapped->cgiParam, &rec);
    EXPECT_TRUE(matches(rec.chain, "mip_[0-9]{14}")) << rec.chain;
    qFree();
}
