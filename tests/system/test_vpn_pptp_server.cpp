// PPTP server accounts: their chains and rules, their secrets file, the end
// of their sessions; and the wizard's files of the VPN modules.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/module_harness.h"

using namespace testing_support;
using record = vpn_pptp_server_record;

namespace {

constexpr const char *kFile = "/etc/sysconfig/.firewall/vpn_pptp_server.conf";

record account(Module &m, int n) {
    record r{};
    m.open(0);
    EXPECT_NE(m->getnum(static_cast<record_file *>(m->handle), &r, n), nullptr);
    m.close();
    return r;
}

std::string chains(const char *option) {
    std::string lines;
    for (const char *table : {"mangle", "nat"})
        for (const char *suffix : {"SSRC", "SDST", "CSRC", "CDST"})
            lines += std::string("/sbin/iptables -t ") + table + " " + option + " vpnServer_20240101000000" + suffix + "\n";
    return lines;
}

}  // namespace

TEST(PptpServer, ChainsRulesAndSessions) {
    ModuleBox box({"SYSTEM_PORT_NUM=2"});
    box.write(kFile, "\"alice\" 20240101000000 \"pw\" 0 ^o^ 0 abc \n");
    box.write("/var/run/WAN1_Sabc_3.pid", "4242\n");
    Module m(vpn_pptp_server_register, vpn_pptp_server_unregister);
    record r = account(m, 1);
    EXPECT_STREQ(r.chain, "vpnServer_20240101000000");
    EXPECT_EQ(r.type, 0);

    std::string rules;
    for (const char *chain : {"SSRC", "SDST"})
        for (const char *table : {"mangle", "nat"})
            rules += std::string("/sbin/iptables -t ") + table + " -A vpnServer_20240101000000" + chain +
                     " -m condition ! --condition vpnServer_20240101000000 -j RETURN\n";
    for (const char *wan : {"WAN0", "WAN1", "WAN2"}) {
        for (const char *table : {"mangle", "nat"})
            rules += std::string("/sbin/iptables -t ") + table + " -A vpnServer_20240101000000SSRC -i " + wan +
                     "_Sabc_+ -j UTMMARK --set-type policy --or-mark 0x20\n";
        for (const char *table : {"mangle", "nat"})
            rules += std::string("/sbin/iptables -t ") + table +
                     " -A vpnServer_20240101000000SDST -j UTMMARK --set-type policy --or-mark 0x40\n";
    }
    call<void *(record *)>(m->command, &r);
    EXPECT_EQ(box.take(), (Effects{"", chains("-N") + rules, ""}));
    call<void *(record *)>(m->recommand, &r);
    EXPECT_EQ(box.take(), (Effects{"kill 4242\n", chains("-F") + rules, ""}));
    call<void *(record *)>(m->discommand, &r);
    EXPECT_EQ(box.take(), (Effects{"kill 4242\n", chains("-F") + chains("-X"), ""}));
    call<void *(record *, int, int)>(m->initial_system_cmd, &r, 1, 0);
    EXPECT_EQ(box.take(), Effects{});
    call<void *(record *, int, int)>(m->initial_system_cmd, &r, 1, 1);
    EXPECT_EQ(box.take(), (Effects{"", rules, ""}));

    // A WAN port's sessions end when it comes back or changes its address.
    const interface_record lan = interface_port(1, "LAN1", 1), wan = interface_port(2, "WAN1", 2);
    call<const interface_record *(const interface_record *)>(m->restorebyinterface, &lan);
    EXPECT_EQ(box.take().commands, "");
    call<const interface_record *(const interface_record *)>(m->restorebyinterface, &wan);
    call<const interface_record *(const interface_record *)>(m->dynamicIPup, &wan);
    EXPECT_EQ(box.take().commands, "kill 4242\nkill 4242\n");
}

TEST(PptpServer, SecretsAndNames) {
    ModuleBox box;
    box.write(kFile,
              "\"alice\" 1 \"pw 1\" 0 ^o^ 0 a \n\"bob\" 2 \"x$(y)\" 1 10.8.0.2 0 b 3 \n"
              "\"quote\" 3 \"a\\\"b\" 0 ^o^ 0 c \n\"two words\" 4 \"pw\" 0 ^o^ 0 d \n");
    box.write("/etc/ppp/.keep", "");
    Module m(vpn_pptp_server_register, vpn_pptp_server_unregister);
    EXPECT_EQ(call<int()>(m->rewrite_secrets), 0);
    EXPECT_EQ(box.read("/etc/ppp/chap-secrets.Server"), "alice * \"pw 1\" *\nbob * \"x$(y)\" 10.8.0.2\n");

    m.open(0);
    auto *h = static_cast<record_file *>(m->handle);
    EXPECT_EQ(m->isTheSame(h, const_cast<char *>("bob"), 0), 1);
    EXPECT_EQ(m->isTheSame(h, const_cast<char *>("bob"), 2), 0);
    EXPECT_EQ(m->isTheSame(h, const_cast<char *>("carol"), 0), 0);
    EXPECT_EQ(m->isTheSame(nullptr, const_cast<char *>("bob"), 0), 0);
    m.close();

    std::filesystem::remove_all(box.file("/etc/ppp"));
    EXPECT_EQ(call<int()>(m->rewrite_secrets), -1);
}

// The wizard's copy is meant when the form value "wizard" (default "No")
// is "No" exactly when the selector is nonzero.
TEST(VpnModules, WizardFileChoice) {
    ModuleBox box;
    struct Kind {
        module_table *(*register_fn)();
        void (*unregister_fn)(module_table *);
        int normal, wizard;
    } kinds[] = {
        {vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister, 57, 65},
        {vpn_trunk_register, vpn_trunk_unregister, 58, 66},
        {vpn_pptp_server_register, vpn_pptp_server_unregister, 60, 67},
        {vpn_pptp_client_register, vpn_pptp_client_unregister, 61, 68},
    };
    struct Row {
        std::vector<std::pair<std::string, std::string>> form;
        bool wizard_for_0, wizard_for_1;
    } rows[] = {{{}, false, true}, {{{"wizard", "No"}}, false, true}, {{{"wizard", "wizard"}}, true, false}};
    for (const Kind &k : kinds) {
        Module m(k.register_fn, k.unregister_fn);
        for (const Row &row : rows) {
            use_form(row.form);
            EXPECT_EQ(m.open(0, nullptr)->number, row.wizard_for_0 ? k.wizard : k.normal) << m->name;
            EXPECT_EQ(m.open(0, reinterpret_cast<void *>(1))->number, row.wizard_for_1 ? k.wizard : k.normal) << m->name;
        }
    }
    use_form({});
}
