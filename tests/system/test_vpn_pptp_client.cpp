// PPTP client connections: chains, masquerading, secrets, and what the
// connections do when their WAN port changes.
#include <gtest/gtest.h>

#include <cstring>

#include "support/module_harness.h"

using namespace testing_support;
using record = vpn_pptp_client_record;

TEST(PptpClient, ChainsMasqueradingAndPortChanges) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    box.write("/etc/sysconfig/.firewall/vpn_pptp_client.conf",
              "\"bob\" 1 \"pw\" vpn.example 2 1 1 0 5f3a1c2b \n\"bob\" 2 \"pw\" other.example 2 0 0 1 00000002 \n"
              "\"eve\" 3 \"pw\" vpn.example 3 0 0 0 00000003 \n");
    box.write("/var/run/WAN2_C5f3a1c2b.pid", "4242\n");
    box.write("/var/run/WAN2_C00000002.pid", "4343\n");
    Module m(vpn_pptp_client_register, vpn_pptp_client_unregister);
    auto *h = m.open(0);
    record r{}, by_hand{};
    ASSERT_NE(m->getnum(h, &r, 1), nullptr);
    ASSERT_NE(m->getnum(h, &by_hand, 2), nullptr);

    const std::string masquerade = " postNat_pptp_client -o WAN2_C5f3a1c2b -j MASQUERADE\n";
    call<void *(record *)>(m->command, &r);
    EXPECT_EQ(box.take(),
              (Effects{"",
                       chain_lines("vpnClient_1", "-N", kTunnelChainOrder) +
                           mark_lines("vpnClient_1", "WAN2_C5f3a1c2b") + "/sbin/iptables -t nat -A" + masquerade,
                       ""}));
    call<void *(record *)>(m->discommand, &r);
    EXPECT_EQ(box.take(),
              (Effects{"kill 4242\n",
                       "/sbin/iptables -t nat -D" + masquerade + chain_lines("vpnClient_1", "-F", kTunnelChainOrder) +
                           chain_lines("vpnClient_1", "-X", kTunnelChainOrder),
                       ""}));
    r.nat = 0;
    call<void *(record *, record *)>(m->recommand, &r, &by_hand);
    EXPECT_EQ(box.take(), (Effects{"kill 4343\n",
                                   chain_lines("vpnClient_2", "-F", kTunnelChainOrder) +
                                       mark_lines("vpnClient_1", "WAN2_C5f3a1c2b"),
                                   ""}));

    // The same user at the same server once; at another server again.
    EXPECT_EQ(m->isTheSame(h, &r, 0), 1);
    EXPECT_EQ(m->isTheSame(h, &r, 1), 0);
    std::strcpy(r.server, "third.example");
    EXPECT_EQ(m->isTheSame(h, &r, 0), 0);

    const interface_record lan = interface_port(1, "LAN1", 1), wan1 = interface_port(2, "WAN1", 2),
                           gone = interface_port(2, "WAN1", 0);
    install_interfaces({lan, wan1});
    using check = int(record_file *, const interface_record *);
    EXPECT_EQ(call<check>(m->interface_check, h, &wan1), 1);
    EXPECT_EQ(call<check>(m->interface_check, h, &lan), 0);

    // A WAN port that comes back restarts its connections but those dialled
    // by hand; one that is no WAN any more only ends them.
    using restore = const interface_record *(const interface_record *, const interface_record *);
    call<restore>(m->restorebyinterface, &lan, &lan);
    EXPECT_EQ(box.take().commands, "");
    call<restore>(m->restorebyinterface, &wan1, &wan1);
    EXPECT_EQ(box.take().commands,
              "kill 4242\n/usr/sbin/pppd.Client plugin /usr/lib/pppd/2.4.4/pptp.so pptp_server "
              "vpn.example pptp_wan_port 2 user bob remotename vpn.example linkname Client +mppe-40 "
              "+mppe-128 mppe-stateful newname WAN2_C5f3a1c2b wanunit 2 ipparam vpn.example&\nkill 4343\n");
    call<restore>(m->restorebyinterface, &wan1, &gone);
    wan_address_event up{"203.0.113.2", wan1.port, "WAN1"};
    call<std::remove_pointer_t<wan_address_fn>>(m->dynamicIPup, &up);
    EXPECT_EQ(box.take().commands, "kill 4242\nkill 4343\nkill 4242\nkill 4343\n");
    call<void *(record *, int, int)>(m->initial_system_cmd, &by_hand, 2, 1);
    EXPECT_EQ(box.take(), (Effects{"", mark_lines("vpnClient_2", "WAN2_C00000002"), ""}));

    // The secrets: a line a value would break is left out.
    box.write("/etc/ppp/.keep", "");
    box.write("/etc/sysconfig/.firewall/vpn_pptp_client.conf",
              "\"bob\" 1 \"p w\" vpn.example 2 1 1 0 a \n\"carol\" 2 \"$(x)'\" 10.0.0.9 1 0 0 0 b \n"
              "\"quote\" 3 \"a\\\"b\" vpn.example 1 0 0 0 c \n\"two words\" 4 \"pw\" vpn.example 1 0 0 0 d \n");
    EXPECT_EQ(call<int()>(m->rewrite_secrets), 0);
    EXPECT_EQ(box.read("/etc/ppp/chap-secrets.Client"), "bob vpn.example \"p w\" *\ncarol 10.0.0.9 \"$(x)'\" *\n");
}
