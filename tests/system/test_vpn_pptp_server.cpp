// PPTP server accounts: their chains and rules, their secrets file, the end
// of their sessions; and the wizard's files of the VPN modules.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "support/module_harness.h"

using namespace testing_support;
using record = vpn_pptp_server_record;

namespace {

constexpr const char *kFile = "/etc/sysconfig/.firewall/vpn_pptp_server.conf";
const std::vector<std::string> kOrder = {"mangle SSRC", "mangle SDST", "mangle CSRC", "mangle CDST",
                                         "nat SSRC",    "nat SDST",    "nat CSRC",    "nat CDST"};

}  // namespace

TEST(PptpServer, ChainsRulesAndSessions) {
    ModuleBox box({"SYSTEM_PORT_NUM=2"});
    box.write(kFile, "\"alice\" 20240101000000 \"pw\" 0 ^o^ 0 abc \n");
    box.write("/var/run/WAN1_Sabc_3.pid", "4242\n");
    Module m(vpn_pptp_server_register, vpn_pptp_server_unregister);
    record r{};
    ASSERT_NE(m->getnum(m.open(0), &r, 1), nullptr);
    m.close();
    const std::string c = "vpnServer_20240101000000";
    std::string rules;
    for (const std::string chain : {"SSRC", "SDST"})
        for (const std::string table : {"mangle", "nat"})
            rules +=
                "/sbin/iptables -t " + table + " -A " + c + chain + " -m condition ! --condition " + c + " -j RETURN\n";
    for (const std::string wan : {"WAN0", "WAN1", "WAN2"}) {
        for (const std::string table : {"mangle", "nat"})
            rules += "/sbin/iptables -t " + table + " -A " + c + "SSRC -i " + wan +
                     "_Sabc_+ -j UTMMARK --set-type policy --or-mark 0x20\n";
        for (const std::string table : {"mangle", "nat"})
            rules += "/sbin/iptables -t " + table + " -A " + c + "SDST -j UTMMARK --set-type policy --or-mark 0x40\n";
    }
    call<void *(record *)>(m->command, &r);
    EXPECT_EQ(box.take(), (Effects{"", chain_lines(c, "-N", kOrder) + rules, ""}));
    call<void *(record *)>(m->recommand, &r);
    EXPECT_EQ(box.take(), (Effects{"kill 4242\n", chain_lines(c, "-F", kOrder) + rules, ""}));
    call<void *(record *)>(m->discommand, &r);
    EXPECT_EQ(box.take(), (Effects{"kill 4242\n", chain_lines(c, "-F", kOrder) + chain_lines(c, "-X", kOrder), ""}));
    call<void *(record *, int, int)>(m->initial_system_cmd, &r, 1, 0);
    EXPECT_EQ(box.take(), Effects{});
    call<void *(record *, int, int)>(m->initial_system_cmd, &r, 1, 1);
    EXPECT_EQ(box.take(), (Effects{"", rules, ""}));

    // A WAN port's sessions end when it comes back or changes its address.
    using event = const interface_record *(const interface_record *);
    const interface_record lan = interface_port(1, "LAN1", 1), wan = interface_port(2, "WAN1", 2);
    call<event>(m->restorebyinterface, &lan);
    call<event>(m->restorebyinterface, &wan);
    wan_address_event up{"203.0.113.2", 2, "WAN1"};
    call<std::remove_pointer_t<wan_address_fn>>(m->dynamicIPup, &up);
    EXPECT_EQ(box.take().commands, "kill 4242\nkill 4242\n");

    // The secrets: an unset address is "*"; a line a value would break is left out.
    box.write("/etc/ppp/.keep", "");
    box.write(kFile,
              "\"alice\" 1 \"pw 1\" 0 ^o^ 0 a \n\"bob\" 2 \"x$(y)\" 1 10.8.0.2 0 b 3 \n"
              "\"quote\" 3 \"a\\\"b\" 0 ^o^ 0 c \n\"two words\" 4 \"pw\" 0 ^o^ 0 d \n");
    EXPECT_EQ(call<int()>(m->rewrite_secrets), 0);
    EXPECT_EQ(box.read("/etc/ppp/chap-secrets.Server"), "alice * \"pw 1\" *\nbob * \"x$(y)\" 10.8.0.2\n");
    auto *h = m.open(0);
    EXPECT_EQ(m->isTheSame(h, const_cast<char *>("bob"), 0), 1);
    EXPECT_EQ(m->isTheSame(h, const_cast<char *>("bob"), 2), 0);
    std::filesystem::remove_all(box.file("/etc/ppp"));
    EXPECT_EQ(call<int()>(m->rewrite_secrets), -1);
}

// The wizard's copy is meant when the form value "wizard" (default "No")
// is "No" exactly when the selector is nonzero.
TEST(VpnModules, WizardFileChoice) {
    ModuleBox box;
    const std::tuple<module_table *(*)(), void (*)(module_table *), int, int> kinds[] = {
        {vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister, 57, 65},
        {vpn_trunk_register, vpn_trunk_unregister, 58, 66},
        {vpn_pptp_server_register, vpn_pptp_server_unregister, 60, 67},
        {vpn_pptp_client_register, vpn_pptp_client_unregister, 61, 68},
    };
    for (const auto &[register_fn, unregister_fn, normal, wizard] : kinds) {
        Module m(register_fn, unregister_fn);
        for (auto [form, for_0] :
             {std::pair{FormValues{}, false}, {{{"wizard", "No"}}, false}, {{{"wizard", "wizard"}}, true}}) {
            submit_form(form);
            EXPECT_EQ(m.open(0, nullptr)->number, for_0 ? wizard : normal) << m->name << form.size();
            EXPECT_EQ(m.open(0, reinterpret_cast<void *>(1))->number, for_0 ? normal : wizard)
                << m->name << form.size();
        }
    }
    submit_form({});
}
