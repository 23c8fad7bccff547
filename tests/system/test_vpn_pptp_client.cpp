// PPTP client connections: chains, masquerading, secrets, and what the
// connections do when their WAN port changes.
#include <gtest/gtest.h>

#include <cstring>

#include "support/module_harness.h"

using namespace testing_support;
using record = vpn_pptp_client_record;

namespace {

constexpr const char *kFile = "/etc/sysconfig/.firewall/vpn_pptp_client.conf";

std::string chains(const std::string &option, const std::string &id = "1") {
    std::string lines;
    for (const char *part : {"mangle CSRC", "mangle CDST", "nat CSRC", "nat CDST", "mangle SSRC", "mangle SDST",
                             "nat SSRC", "nat SDST"}) {
        const std::string p = part;
        lines += "/sbin/iptables -t " + p.substr(0, p.find(' ')) + " " + option + " vpnClient_" + id + p.substr(p.find(' ') + 1) + "\n";
    }
    return lines;
}

std::string marks(const std::string &device, const std::string &id = "1") {
    const std::string c = "vpnClient_" + id;
    std::string lines;
    for (const std::string table : {"mangle", "nat"})
        lines += "/sbin/iptables -t " + table + " -A " + c + "SSRC -i " + device + " -m condition --condition " + c +
                 " -j UTMMARK --set-type policy --or-mark 0x20\n/sbin/iptables -t " + table + " -A " + c +
                 "SDST -m condition --condition " + c + " -j UTMMARK --set-type policy --or-mark 0x40\n";
    return lines;
}

}  // namespace

TEST(PptpClient, ChainsMasqueradingAndPortChanges) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_interfaces({interface_port(1, "LAN1", 1), interface_port(2, "WAN1", 2), interface_port(3, "WAN2", 2)});
    box.write(kFile,
              "\"bob\" 1 \"pw\" vpn.example 2 1 1 0 5f3a1c2b \n"
              "\"bob\" 2 \"pw\" other.example 2 0 0 1 00000002 \n"
              "\"eve\" 3 \"pw\" vpn.example 3 0 0 0 00000003 \n");
    box.write("/var/run/WAN2_C5f3a1c2b.pid", "4242\n");
    box.write("/var/run/WAN2_C00000002.pid", "4343\n");
    Module m(vpn_pptp_client_register, vpn_pptp_client_unregister);
    auto *h = m.open(0);
    record r{}, by_hand{};
    ASSERT_NE(m->getnum(h, &r, 1), nullptr);
    ASSERT_NE(m->getnum(h, &by_hand, 2), nullptr);

    const std::string masquerade = "/sbin/iptables -t nat -%c postNat_pptp_client -o WAN2_C5f3a1c2b -j MASQUERADE\n";
    auto masq = [&](char option) { return std::string(masquerade).replace(masquerade.find("%c"), 2, 1, option); };
    call<void *(record *)>(m->command, &r);
    EXPECT_EQ(box.take(), (Effects{"", chains("-N") + marks("WAN2_C5f3a1c2b") + masq('A'), ""}));
    call<void *(record *)>(m->discommand, &r);
    EXPECT_EQ(box.take(), (Effects{"kill 4242\n", masq('D') + chains("-F") + chains("-X"), ""}));
    r.nat = 0;
    call<void *(record *, record *)>(m->recommand, &r, &by_hand);
    EXPECT_EQ(box.take(), (Effects{"kill 4343\n", chains("-F", "2") + marks("WAN2_C5f3a1c2b"), ""}));

    // The same user at the same server once; at another server again.
    EXPECT_EQ(m->isTheSame(h, &r, 0), 1);
    EXPECT_EQ(m->isTheSame(h, &r, 1), 0);
    std::strcpy(r.server, "third.example");
    EXPECT_EQ(m->isTheSame(h, &r, 0), 0);

    const interface_record lan = interface_port(1, "LAN1", 1), wan1 = interface_port(2, "WAN1", 2),
                           gone = interface_port(2, "WAN1", 0), unused = interface_port(4, "WAN9", 2);
    using check = int(record_file *, const interface_record *);
    EXPECT_EQ(call<check>(m->interface_check, h, &wan1), 1);
    EXPECT_EQ(call<check>(m->interface_check, h, &lan), 0);
    EXPECT_EQ(call<check>(m->interface_check, h, &unused), 0);
    m.close();

    // A WAN port that comes back restarts its connections but those dialled
    // by hand; one that is no WAN any more only ends them.
    using restore = const interface_record *(const interface_record *, const interface_record *);
    call<restore>(m->restorebyinterface, &lan, &lan);
    EXPECT_EQ(box.take().commands, "");
    call<restore>(m->restorebyinterface, &wan1, &wan1);
    const std::string pppd = "/usr/sbin/pppd.Client plugin /usr/lib/pppd/2.4.4/pptp.so pptp_server vpn.example "
                             "pptp_wan_port 2 user bob remotename vpn.example linkname Client +mppe-40 +mppe-128 "
                             "mppe-stateful newname WAN2_C5f3a1c2b wanunit 2 ipparam vpn.example&\n";
    EXPECT_EQ(box.take().commands, "kill 4242\n" + pppd + "kill 4343\n");
    call<restore>(m->restorebyinterface, &wan1, &gone);
    EXPECT_EQ(box.take().commands, "kill 4242\nkill 4343\n");
    call<const interface_record *(const interface_record *)>(m->dynamicIPup, &wan1);
    EXPECT_EQ(box.take().commands, "kill 4242\nkill 4343\n");
    call<void *(record *, int, int)>(m->initial_system_cmd, &by_hand, 2, 1);
    EXPECT_EQ(box.take(), (Effects{"", marks("WAN2_C00000002", "2"), ""}));
}

TEST(PptpClient, Secrets) {
    ModuleBox box;
    box.write(kFile,
              "\"bob\" 1 \"p w\" vpn.example 2 1 1 0 a \n\"carol\" 2 \"$(x)'\" 10.0.0.9 1 0 0 0 b \n"
              "\"quote\" 3 \"a\\\"b\" vpn.example 1 0 0 0 c \n\"two words\" 4 \"pw\" vpn.example 1 0 0 0 d \n");
    box.write("/etc/ppp/.keep", "");
    Module m(vpn_pptp_client_register, vpn_pptp_client_unregister);
    EXPECT_EQ(call<int()>(m->rewrite_secrets), 0);
    EXPECT_EQ(box.read("/etc/ppp/chap-secrets.Client"), "bob vpn.example \"p w\" *\ncarol 10.0.0.9 \"$(x)'\" *\n");
}
