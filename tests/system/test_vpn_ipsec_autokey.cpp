// The IPsec autokey tunnels: the IKE daemon's command lines, the chains,
// the secrets files and the GRE bridges, compared whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>

#include "support/hostile.h"
#include "support/module_harness.h"

using namespace testing_support;
using record = vpn_ipsec_autokey_record;

namespace {

const std::string kWhack = "/usr/libexec/ipsec/whack";

// LAN1 on port 1; WAN1 on port 2 with a static address; WAN2 on port 3
// without one.
void install_ports() {
    interface_record wan = interface_port(2, "WAN1", 2, 1, 3, "203.0.113.2");
    std::strcpy(wan.gateway, "203.0.113.1");
    install_interfaces({interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1"), wan, interface_port(3, "WAN2", 2, 1, 2)});
}

record tunnel(const Module &m, const std::function<void(record &)> &edit = {}) {
    record t;
    m->clear(&t);
    m->set_default(&t, nullptr);
    std::strcpy(t.name, "office");
    std::strcpy(t.id, "20240101000000");
    std::strcpy(t.chain, "vpnAuto_20240101000000");
    t.wan_num = 2;
    std::strcpy(t.remote, "198.51.100.7");
    std::strcpy(t.key, "secret");
    if (edit) edit(t);
    return t;
}

const ipsec_subnets kNets = {"192.168.1.0", "255.255.255.0", 0, "10.1.0.0", "255.255.0.0", "20240202000000"};

// The eight chains of the tunnel, in their order, with an option.
std::string chains(const std::string &option) {
    std::string lines;
    for (auto [table, suffix] : {std::pair{"mangle", "CSRC"}, {"mangle", "CDST"}, {"nat", "CSRC"}, {"nat", "CDST"},
                                 {"mangle", "SSRC"}, {"mangle", "SDST"}, {"nat", "SSRC"}, {"nat", "SDST"}})
        lines += std::string("/sbin/iptables -t ") + table + " " + option + " vpnAuto_20240101000000" + suffix + "\n";
    return lines;
}

std::string whack(const std::string &add) {
    return kWhack + " --terminate --name office > /dev/null 2>&1\n" + kWhack +
           " --delete --name office > /dev/null 2>&1\n" + add + " > /dev/null 2>&1\n" + kWhack +
           " --listen > /dev/null 2>&1\n";
}

const std::string kHead = kWhack + " --name office --psk --tunnel --keyingtries 1 --updown \"20240101000000 20240202000000\" --mark 0x101";
const std::string kLocal = " --host 203.0.113.2 --client 192.168.1.0/255.255.255.0 --nexthop 203.0.113.1";
const std::string kRemote = " --to --host 198.51.100.7 --client 10.1.0.0/255.255.0.0";
const std::string kProposal = " --ike 3des-md5-modp2! --ikelifetime 3600 --encrypt --esp 3des-md5! --ipseclifetime 28800";

}  // namespace

TEST(IpsecAutokey, ConnectionCommandLines) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_ports();
    Module m(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    struct Row {
        const char *what;
        std::function<void(record &)> edit;
        int whole;
        std::string expected;
    } rows[] = {
        {"pre-shared key", {}, 0, whack(kHead + kLocal + kRemote + kProposal)},
        {"pfs, aggressive mode, dead-peer detection",
         [](record &t) { t.pfs = 5, t.dpd_delay = 30, t.dpd_timeout = 120, std::strcpy(t.mode, "Aggressive"); }, 0,
         whack(kHead + kLocal + kRemote + kProposal +
               " --pfs --pfsgroup modp5 --aggrmode --dpddelay 30 --dpdtimeout 120 --dpdaction hold")},
        {"AH", [](record &t) { t.esp_or_ah = 1, std::strcpy(t.enc_alg_II, "aes"); }, 0,
         whack(kHead + kLocal + kRemote +
               " --ike 3des-md5-modp2! --ikelifetime 3600 --authenticate --esp MD5! --ipseclifetime 28800")},
        {"certificates and identities",
         [](record &t) {
             t.auth_method = 1;
             std::strcpy(t.my_id, "office.example"), std::strcpy(t.peer_id, "branch.example");
             std::strcpy(t.inside_pem_name, "local"), std::strcpy(t.outside_pem_name, "peer");
         },
         0,
         whack(kWhack + " --name office --rsasig --keyingtries 1 --updown \"20240101000000 20240202000000\" --mark 0x101"
               " --host 203.0.113.2 --client 192.168.1.0/255.255.255.0 --id office.example --nexthop 203.0.113.1"
               " --cert local.crt --sendcert always --to --host 198.51.100.7 --client 10.1.0.0/255.255.0.0"
               " --id branch.example --cert peer.crt --sendcert always" + kProposal)},
        {"XAUTH client", [](record &t) { t.xauth_enable = 1, std::strcpy(t.xauth_username, "bob"); }, 0,
         whack(kHead + kLocal + " --xauthclient" + kRemote + " --xauthserver" + kProposal)},
        {"XAUTH server", [](record &t) { t.xauth_enable = 1; }, 0,
         whack(kHead + kLocal + " --xauthserver" + kRemote + " --xauthclient" + kProposal)},
        {"L2TP", [](record &t) { t.en_l2tp_over_ipsec = 1; }, 0,
         whack(kHead + " --host 203.0.113.2 --nexthop 203.0.113.1 --clientprotoport udp/1701 --to --host "
                       "198.51.100.7 --clientprotoport udp/%any" + kProposal)},
        {"dynamic peer, any private network", [](record &t) { t.fixed_or_dynamic = 1; }, 1,
         whack(kHead + kLocal +
               " --to --host 0.0.0.0 --client vhost:%no,%v4:192.168.0.0/16,%v4:172.16.0.0/12,%v4:10.0.0.0/8"
               " --client 10.1.0.0/255.255.0.0" + kProposal)},
        {"dynamic peer with L2TP", [](record &t) { t.fixed_or_dynamic = 1, t.en_l2tp_over_ipsec = 1; }, 1,
         whack(kHead + " --host 203.0.113.2 --nexthop 203.0.113.1 --clientprotoport udp/1701 --to --host 0.0.0.0"
                       " --clientprotoport udp/%any" + kProposal)},
        {"GRE bridged", [](record &t) { t.greInterface = 1; }, 0,
         whack(kHead + " --host 203.0.113.2 --nexthop 203.0.113.1 --to --host 198.51.100.7" + kProposal)},
        {"GRE end points", [](record &t) { std::strcpy(t.local_ip, "172.16.0.1"); }, 0,
         whack(kHead + " --host 203.0.113.2 --nexthop 203.0.113.1 --to --host 198.51.100.7" + kProposal)},
        {"a LAN port", [](record &t) { t.wan_num = 1; }, 0, ""},
        {"no such port", [](record &t) { t.wan_num = 9; }, 0, ""},
        {"an identifier that is no word", [](record &t) { std::strcpy(t.id, "1 $(x)"); }, 0,
         kWhack + " --terminate --name office > /dev/null 2>&1\n" + kWhack + " --delete --name office > /dev/null 2>&1\n"},
    };
    for (const Row &row : rows) {
        const record t = tunnel(m, row.edit);
        ipsec_subnets nets = kNets;
        nets.whole_network = row.whole;
        recommandIPSecAutokey(&t, &nets);
        EXPECT_EQ(box.take(), (Effects{row.expected, "", ""})) << row.what;
    }

    // Connecting names the XAUTH login; disconnecting removes the log file.
    const record client = tunnel(m, [](record &t) {
        t.xauth_enable = 1, std::strcpy(t.xauth_username, "bob"), std::strcpy(t.xauth_password, "pw");
    });
    connectIPSecAutokey(&client);
    box.write("/var/log/ipsec/20240101000000", "up\n");
    box.write("/var/log/ipsec/20240101000001", "up\n");
    disconnectIPSecAutokey(&client);
    EXPECT_EQ(box.take().commands, kWhack + " --initiate --name office --xauthuser bob --xauthpass pw > /dev/null 2>&1 &\n" +
                                       kWhack + " --terminate --name office > /dev/null 2>&1\n" + kWhack +
                                       " --delete --name office > /dev/null 2>&1\n");
    EXPECT_FALSE(box.exists("/var/log/ipsec/20240101000000"));
    EXPECT_TRUE(box.exists("/var/log/ipsec/20240101000001"));
}

TEST(IpsecAutokey, ApplyRemoveAndReapply) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_ports();
    box.write("/etc/sysconfig/.firewall/vpn_trunk.conf",
              "\"to branch\" 20240202000000 0 \"office\" 192.168.1.0 255.255.255.0 10.1.0.0 255.255.0.0 0 \n");
    Module m(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    record t = tunnel(m);
    const std::string created = chains("-N"), flushed = chains("-F"), deleted = chains("-X");
    std::string marks;
    for (const char *table : {"mangle", "nat"})
        for (auto [chain, mark] : {std::pair{"SSRC", "0x20"}, {"SDST", "0x40"}})
            marks += std::string("/sbin/iptables -t ") + table + " -A vpnAuto_20240101000000" + chain +
                     " -m condition --condition vpnAuto_20240101000000 -j UTMMARK --set-type policy --or-mark " +
                     mark + "\n";
    const std::string initiate = kWhack + " --initiate --name office > /dev/null 2>&1 &\n";
    const std::string removed = kWhack + " --terminate --name office > /dev/null 2>&1\n" + kWhack + " --delete --name office > /dev/null 2>&1\n";

    call<void *(record *)>(m->command, &t);
    EXPECT_EQ(box.take(), (Effects{whack(kHead + kLocal + kRemote + kProposal) + initiate, created + marks, ""}));
    call<void *(record *)>(m->discommand, &t);
    EXPECT_EQ(box.take(), (Effects{removed, flushed + deleted, ""}));
    call<void *(record *, int, int)>(m->initial_system_cmd, &t, 1, 0);
    EXPECT_EQ(box.take(), Effects{});

    // A tunnel no trunk names waits; one connected by hand is not initiated.
    record alone = tunnel(m, [](record &r) { std::strcpy(r.name, "alone"); });
    call<void *(record *)>(m->command, &alone);
    EXPECT_EQ(box.take().commands, "");
    record by_hand = tunnel(m, [](record &r) { r.hand_connection = 1; });
    call<void *(record *, record *)>(m->recommand, &by_hand, &t);
    EXPECT_EQ(box.take(), (Effects{removed + whack(kHead + kLocal + kRemote + kProposal), flushed + deleted + created + marks, ""}));

    // The stored tunnels of a port follow its address; another port's stay.
    ASSERT_NE(m.open(1), nullptr);
    m->add(static_cast<record_file *>(m->handle), &t);
    m.close();
    box.take();
    const interface_record *wan1 = interface_read_shm(2), *wan2 = interface_read_shm(3);
    call<const interface_record *(const interface_record *)>(m->dynamicIPdown, wan2);
    call<const interface_record *(const interface_record *)>(m->restorebyinterface, wan2);
    EXPECT_EQ(box.take(), Effects{});
    call<const interface_record *(const interface_record *)>(m->dynamicIPdown, wan1);
    EXPECT_EQ(box.take(), (Effects{removed, "", ""}));
    call<const interface_record *(const interface_record *)>(m->dynamicIPup, wan1);
    EXPECT_EQ(box.take(), (Effects{whack(kHead + kLocal + kRemote + kProposal) + initiate, "", ""}));
    EXPECT_EQ(box.read("/etc/ipsec.secrets"), "203.0.113.2 198.51.100.7: PSK \"secret\"\n");
    m.open(0);
    EXPECT_EQ(call<int(record_file *, const interface_record *)>(m->interface_check, static_cast<record_file *>(m->handle), wan1), 1);
    EXPECT_EQ(call<int(record_file *, const interface_record *)>(m->interface_check, static_cast<record_file *>(m->handle), wan2), 0);
}

TEST(IpsecAutokey, SecretsAndXauthUsers) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_ports();
    box.write("/etc/ipsec.d/.keep", "");
    box.write("/etc/sysconfig/.firewall/auth_user.conf",
              "\"alice\" 1 \"abHASH1\" \"staff\" \n\"bob\" 2 \"cdHASH2\" \"guests\" \n\"carol\" 3 \"efHASH3\" \"staff\" \n"
              "\"eve:x\" 4 \"ghHASH4\" \"staff\" \n");
    Module m(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    ASSERT_NE(m.open(1), nullptr);
    auto *h = static_cast<record_file *>(m->handle);
    const std::function<void(record &)> edits[] = {
        {},
        [](record &t) { std::strcpy(t.name, "road"), std::strcpy(t.my_id, "gw.example"), t.fixed_or_dynamic = 1; },
        [](record &t) { std::strcpy(t.name, "dhcp"), t.wan_num = 3, std::strcpy(t.peer_id, "peer.example"); },
        [](record &t) { std::strcpy(t.name, "rsa"), t.auth_method = 1, std::strcpy(t.inside_pem_name, "local"); },
        [](record &t) { std::strcpy(t.name, "quoted"), std::strcpy(t.key, "a\"b"); },
        [](record &t) { std::strcpy(t.name, "xauth"), t.xauth_enable = 1, std::strcpy(t.xauth_auth_user, "staff"); },
    };
    for (const auto &edit : edits) {
        record t = tunnel(m, edit);
        ASSERT_EQ(m->add(h, &t), 0);
    }
    m.close();
    ASSERT_EQ(Rewrite_IpsecSecrets(), 0);
    // WAN2 has no address here: the placeholder identity stands in.
    EXPECT_EQ(box.read("/etc/ipsec.secrets"),
              "203.0.113.2 198.51.100.7: PSK \"secret\"\n"
              "gw.example %any: PSK \"secret\"\n"
              "10.64.64.64 peer.example: PSK \"secret\"\n"
              ": RSA local.key \"\"\n"
              "203.0.113.2 198.51.100.7: PSK \"secret\"\n");
    EXPECT_EQ(box.read("/etc/ipsec.d/passwd"), "alice:abHASH1:xauth\ncarol:efHASH3:xauth\n");
    EXPECT_EQ(std::filesystem::status(box.file("/etc/ipsec.secrets")).permissions(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    // Without its directory the user file is not written; the secrets are.
    std::filesystem::remove_all(box.file("/etc/ipsec.d"));
    EXPECT_EQ(Rewrite_IpsecSecrets(), 0);
    EXPECT_FALSE(box.exists("/etc/ipsec.d/passwd"));
}

TEST(IpsecAutokey, GreBridgesOfAPort) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_ports();
    Module m(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    ASSERT_NE(m.open(1), nullptr);
    for (const auto &edit : std::initializer_list<std::function<void(record &)>>{
             [](record &t) { t.greInterface = 1, std::strcpy(t.gredevid, "gre0"); },
             [](record &t) { std::strcpy(t.name, "b"), t.greInterface = 1, std::strcpy(t.gredevid, "gre1"), std::strcpy(t.local_ip, "10.9.0.1"), std::strcpy(t.remote_ip, "10.9.0.2"); },
             [](record &t) { std::strcpy(t.name, "c"), t.greInterface = 3, std::strcpy(t.gredevid, "gre2"); },
             [](record &t) { std::strcpy(t.name, "d"); }}) {
        record t = tunnel(m, edit);
        m->add(static_cast<record_file *>(m->handle), &t);
    }
    m.close();
    box.take();
    EXPECT_EQ(vpn_ipsec_autokey_gre_bridge_port("A", 1), 2);
    EXPECT_EQ(box.take(), (Effects{"/sbin/brctl addbr brvpn1\n/sbin/brctl addif brvpn1 LAN1\n"
                                   "/sbin/ip link add gre0 type gretap local 203.0.113.2 remote 198.51.100.7\n"
                                   "/sbin/ip link set gre0 up\n/sbin/brctl addif brvpn1 gre0\n/sbin/ip link set brvpn1 up\n"
                                   "/sbin/brctl addbr brvpn1\n/sbin/brctl addif brvpn1 LAN1\n"
                                   "/sbin/ip link add gre1 type gretap local 10.9.0.1 remote 10.9.0.2\n"
                                   "/sbin/ip link set gre1 up\n/sbin/brctl addif brvpn1 gre1\n/sbin/ip link set brvpn1 up\n",
                                   "/sbin/iptables -t nat -D postNat_bridge -i brvpn+ -j ACCEPT\n"
                                   "/sbin/iptables -t nat -A postNat_bridge -i brvpn+ -j ACCEPT\n",
                                   ""}));
    const std::string global = "/sbin/iptables -t nat -D postNat_bridge -i brvpn+ -j ACCEPT\n"
                               "/sbin/iptables -t nat -A postNat_bridge -i brvpn+ -j ACCEPT\n";
    EXPECT_EQ(vpn_ipsec_autokey_gre_bridge_port("D", 3), 1);
    EXPECT_EQ(box.take(), (Effects{"/sbin/brctl delif brvpn3 gre2\n/sbin/ip link del gre2\n", global, ""}));
    EXPECT_EQ(vpn_ipsec_autokey_gre_bridge_port("X", 1), 0);
    EXPECT_EQ(box.take(), (Effects{"", global, ""}));
    box.write("/etc/sysconfig/.firewall/vpn_ipsec_autokey.conf", "");
    EXPECT_EQ(vpn_ipsec_autokey_brvpn_global(), 0);
    EXPECT_EQ(box.take(), (Effects{"", "/sbin/iptables -t nat -D postNat_bridge -i brvpn+ -j ACCEPT\n", ""}));
}

// A tunnel name or peer reaches whack as one word; a key reaches the
// secrets file inside its quotes or is refused, never as a second line.
TEST(IpsecAutokey, HostileFormValues) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_ports();
    Module m(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    const std::string sentinel = box.file("/sentinel");
    // The tunnel the form makes, or none when it is refused.
    auto from_form = [&](const std::string &name, const std::string &remote, const std::string &key) {
        record t = tunnel(m);
        use_form({{"name", name}, {"remote", remote}, {"key", key}});
        return call<void *(record *)>(m->cgiParam, &t) ? std::optional<record>(t) : std::nullopt;
    };
    // The arguments whack gets from the tunnel's recorded line.
    auto whack_args = [&](const record &t) {
        recommandIPSecAutokey(&t, &kNets);
        const std::string commands = box.take().commands;
        const std::size_t add = commands.find('\n', commands.find(" --delete ")) + 1;
        return run_with_stub(box, commands.substr(add, commands.find('\n', add) - add), kWhack);
    };
    auto secrets_of = [&](const record &t) {
        m.open(1);
        m->add(static_cast<record_file *>(m->handle), const_cast<record *>(&t));
        m.close();
        Rewrite_IpsecSecrets();
        std::filesystem::remove(box.file("/etc/sysconfig/.firewall/vpn_ipsec_autokey.conf"));
        return box.read("/etc/ipsec.secrets");
    };
    auto has = [](const std::string &v, std::size_t size, const char *set) {
        return v.substr(0, size - 1).find_first_of(set) != std::string::npos;
    };
    for (const std::string &v : hostile_values(sentinel)) {
        const auto named = from_form(v, "198.51.100.7", "secret");
        ASSERT_EQ(named.has_value(), !has(v, sizeof(record::name), "\r\n")) << v;
        if (named) {
            EXPECT_EQ(whack_args(*named).at(1), named->name);
        }

        const auto peer = from_form("office", v, "secret");
        ASSERT_EQ(peer.has_value(), !has(v, sizeof(record::remote), " \t\r\n\"")) << v;
        if (peer) {
            const auto args = whack_args(*peer);
            const auto to = std::find(args.begin(), args.end(), "--to");
            ASSERT_LT(to + 2, args.end());
            EXPECT_EQ(to[2], peer->remote);
            EXPECT_EQ(secrets_of(*peer), "203.0.113.2 " + std::string(peer->remote) + ": PSK \"secret\"\n");
        }

        const auto keyed = from_form("office", "198.51.100.7", v);
        ASSERT_EQ(keyed.has_value(), !has(v, sizeof(record::key), "\r\n\"")) << v;
        if (keyed) {
            EXPECT_EQ(secrets_of(*keyed), "203.0.113.2 198.51.100.7: PSK \"" + std::string(keyed->key) + "\"\n");
        }
    }
    EXPECT_FALSE(std::filesystem::exists(sentinel));
    use_form({});
}
