// The IPsec autokey tunnels: the IKE daemon's command lines, the chains,
// the secrets files and the GRE bridges, compared whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

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

// The tunnel the form makes: "office" to 198.51.100.7 over WAN1 with a
// pre-shared key, with the changes given; null when the form is refused.
record *from_form(const Module &m, record &t, const FormValues &changes = {}) {
    FormValues form = {
        {"name", "office"},     {"id", "20240101000000"}, {"wan_num", "2"},      {"remote", "198.51.100.7"},
        {"key", "secret"},      {"enc_alg_I", "3des"},    {"hash_alg_I", "md5"}, {"enc_alg_II", "3des"},
        {"hash_alg_II", "md5"}, {"mode", "Main"}};
    for (const auto &change : changes) {
        auto same = std::find_if(form.begin(), form.end(), [&](const auto &f) { return f.first == change.first; });
        same == form.end() ? form.push_back(change) : void(same->second = change.second);
    }
    submit_form(form);
    m->clear(&t);
    m->set_default(&t, nullptr);
    return static_cast<record *>(call<void *(record *)>(m->cgiParam, &t));
}

record tunnel(const Module &m, const FormValues &changes = {}) {
    record t;
    EXPECT_NE(from_form(m, t, changes), nullptr);
    return t;
}

const ipsec_subnets kNets = {"192.168.1.0", "255.255.255.0", 0, "10.1.0.0", "255.255.0.0", "20240202000000"};
const std::string kRemoved =
    kWhack + " --terminate --name office > /dev/null 2>&1\n" + kWhack + " --delete --name office > /dev/null 2>&1\n";

std::string whack(const std::string &add) {
    return kRemoved + add + " > /dev/null 2>&1\n" + kWhack + " --listen > /dev/null 2>&1\n";
}

const std::string kHead =
    kWhack + " --name office --psk --tunnel --keyingtries 1 --updown \"20240101000000 20240202000000\" --mark 0x101";
const std::string kLocal = " --host 203.0.113.2 --client 192.168.1.0/255.255.255.0 --nexthop 203.0.113.1";
const std::string kRemote = " --to --host 198.51.100.7 --client 10.1.0.0/255.255.0.0";
const std::string kHosts = " --host 203.0.113.2 --nexthop 203.0.113.1 --to --host 198.51.100.7";
const std::string kProposal =
    " --ike 3des-md5-modp2! --ikelifetime 3600 --encrypt --esp 3des-md5! --ipseclifetime 28800";

}  // namespace

TEST(IpsecAutokey, ConnectionCommandLines) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_ports();
    Module m(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    const std::tuple<const char *, FormValues, int, std::string> rows[] = {
        {"pre-shared key", {}, 0, whack(kHead + kLocal + kRemote + kProposal)},
        {"pfs, aggressive mode, dead-peer detection",
         {{"pfs", "5"}, {"dpd_delay", "30"}, {"dpd_timeout", "120"}, {"mode", "Aggressive"}},
         0,
         whack(kHead + kLocal + kRemote + kProposal +
               " --pfs --pfsgroup modp5 --aggrmode --dpddelay 30 --dpdtimeout 120 --dpdaction hold")},
        {"AH",
         {{"esp_or_ah", "1"}, {"enc_alg_II", "aes"}},
         0,
         whack(kHead + kLocal + kRemote +
               " --ike 3des-md5-modp2! --ikelifetime 3600 --authenticate --esp MD5! --ipseclifetime 28800")},
        {"certificates and identities",
         {{"auth_method", "1"},
          {"my_id", "a.example"},
          {"peer_id", "b.example"},
          {"inside_pem_name", "local"},
          {"outside_pem_name", "peer"}},
         0,
         whack(kWhack +
               " --name office --rsasig --keyingtries 1 --updown \"20240101000000 20240202000000\" --mark 0x101"
               " --host 203.0.113.2 --client 192.168.1.0/255.255.255.0 --id a.example --nexthop 203.0.113.1"
               " --cert local.crt --sendcert always --to --host 198.51.100.7 --client 10.1.0.0/255.255.0.0"
               " --id b.example --cert peer.crt --sendcert always" +
               kProposal)},
        {"XAUTH client",
         {{"xauth_enable", "1"}, {"xauth_username", "bob"}},
         0,
         whack(kHead + kLocal + " --xauthclient" + kRemote + " --xauthserver" + kProposal)},
        {"XAUTH server",
         {{"xauth_enable", "1"}},
         0,
         whack(kHead + kLocal + " --xauthserver" + kRemote + " --xauthclient" + kProposal)},
        {"L2TP",
         {{"en_l2tp_over_ipsec", "1"}},
         0,
         whack(kHead +
               " --host 203.0.113.2 --nexthop 203.0.113.1 --clientprotoport udp/1701 --to --host "
               "198.51.100.7 --clientprotoport udp/%any" +
               kProposal)},
        {"dynamic peer, any private network",
         {{"fixed_or_dynamic", "1"}},
         1,
         whack(kHead + kLocal +
               " --to --host 0.0.0.0 --client vhost:%no,%v4:192.168.0.0/16,%v4:172.16.0.0/12,%v4:10.0.0.0/8"
               " --client 10.1.0.0/255.255.0.0" +
               kProposal)},
        {"GRE bridged", {{"greInterface", "1"}}, 0, whack(kHead + kHosts + kProposal)},
        {"GRE end points", {{"local_ip", "172.16.0.1"}}, 0, whack(kHead + kHosts + kProposal)},
        {"a LAN port", {{"wan_num", "1"}}, 0, ""},
    };
    for (const auto &[what, changes, whole, expected] : rows) {
        const record t = tunnel(m, changes);
        ipsec_subnets nets = kNets;
        nets.whole_network = whole;
        recommandIPSecAutokey(&t, &nets);
        EXPECT_EQ(box.take(), (Effects{expected, "", ""})) << what;
    }
    // Up-down words stand in double quotes: one that is no word adds nothing.
    record t = tunnel(m, {{"xauth_enable", "1"}, {"xauth_username", "bob"}, {"xauth_password", "pw"}});
    std::strcpy(t.id, "1 $(x)");
    recommandIPSecAutokey(&t, &kNets);
    EXPECT_EQ(box.take().commands, kRemoved);

    // Connecting names the XAUTH login; disconnecting removes the log file.
    std::strcpy(t.id, "20240101000000");
    connectIPSecAutokey(&t);
    box.write("/var/log/ipsec/20240101000000", "up\n");
    box.write("/var/log/ipsec/20240101000001", "up\n");
    disconnectIPSecAutokey(&t);
    EXPECT_EQ(box.take().commands,
              kWhack + " --initiate --name office --xauthuser bob --xauthpass pw > /dev/null 2>&1 &\n" + kRemoved);
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
    const std::string c = "vpnAuto_20240101000000", created = chain_lines(c, "-N", kTunnelChainOrder),
                      removed = chain_lines(c, "-F", kTunnelChainOrder) + chain_lines(c, "-X", kTunnelChainOrder);
    const std::string added = whack(kHead + kLocal + kRemote + kProposal),
                      initiate = kWhack + " --initiate --name office > /dev/null 2>&1 &\n";

    call<void *(record *)>(m->command, &t);
    EXPECT_EQ(box.take(), (Effects{added + initiate, created + mark_lines(c), ""}));
    call<void *(record *)>(m->discommand, &t);
    EXPECT_EQ(box.take(), (Effects{kRemoved, removed, ""}));
    call<void *(record *, int, int)>(m->initial_system_cmd, &t, 1, 0);
    EXPECT_EQ(box.take(), Effects{});

    // A tunnel no trunk names waits; one connected by hand is not initiated.
    record alone = tunnel(m, {{"name", "alone"}});
    call<void *(record *)>(m->command, &alone);
    EXPECT_EQ(box.take().commands, "");
    record by_hand = tunnel(m, {{"hand_connection", "1"}});
    call<void *(record *, record *)>(m->recommand, &by_hand, &t);
    EXPECT_EQ(box.take(), (Effects{kRemoved + added, removed + created + mark_lines(c), ""}));

    // The stored tunnels of a port follow its address; another port's stay.
    m->add(m.open(1), &t);
    m.close();
    box.take();
    using event = std::remove_pointer_t<wan_address_fn>;
    const interface_record *wan1 = interface_read_shm(2), *wan2 = interface_read_shm(3);
    wan_address_event up1{"203.0.113.2", 2, "WAN1"}, up2{"203.0.113.3", 3, "WAN2"};
    call<event>(m->dynamicIPdown, &up2);
    call<const interface_record *(const interface_record *)>(m->restorebyinterface, wan2);
    EXPECT_EQ(box.take(), Effects{});
    call<event>(m->dynamicIPdown, &up1);
    EXPECT_EQ(box.take(), (Effects{kRemoved, "", ""}));
    call<event>(m->dynamicIPup, &up1);
    EXPECT_EQ(box.take(), (Effects{added + initiate, "", ""}));
    EXPECT_EQ(box.read("/etc/ipsec.secrets"), "203.0.113.2 198.51.100.7: PSK \"secret\"\n");
    using check = int(record_file *, const interface_record *);
    EXPECT_EQ(call<check>(m->interface_check, m.open(0), wan1), 1);
    EXPECT_EQ(call<check>(m->interface_check, m.open(0), wan2), 0);
}

// Secrets, XAUTH users and GRE bridges come from the stored tunnels.
TEST(IpsecAutokey, StoredTunnels) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_ports();
    box.write("/etc/ipsec.d/.keep", "");
    box.write("/etc/sysconfig/.firewall/auth_user.conf",
              "\"alice\" 1 \"abHASH1\" \"staff\" \n\"bob\" 2 \"cdHASH2\" \"guests\" \n"
              "\"carol\" 3 \"efHASH3\" \"staff\" \n\"eve:x\" 4 \"ghHASH4\" \"staff\" \n");
    Module m(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    std::vector<record> tunnels;
    for (const FormValues &changes :
         std::initializer_list<FormValues>{{{"greInterface", "1"}, {"gredevid", "gre0"}},
                                           {{"name", "road"}, {"my_id", "gw.example"}, {"fixed_or_dynamic", "1"}},
                                           {{"name", "dhcp"}, {"wan_num", "3"}, {"peer_id", "peer.example"}},
                                           {{"name", "rsa"}, {"auth_method", "1"}, {"inside_pem_name", "local"}},
                                           {{"name", "bridged"}, {"greInterface", "3"}, {"gredevid", "gre2"}},
                                           {{"name", "xauth"},
                                            {"xauth_enable", "1"},
                                            {"xauth_auth_user", "staff"},
                                            {"greInterface", "1"},
                                            {"gredevid", "gre1"},
                                            {"local_ip", "10.9.0.1"},
                                            {"remote_ip", "10.9.0.2"}}})
        tunnels.push_back(tunnel(m, changes));
    std::strcpy(tunnels[4].key, "a\"b");  // read back from a file edited by hand
    auto *h = m.open(1);
    for (record &t : tunnels) m->add(h, &t);
    m.close();
    box.take();
    ASSERT_EQ(Rewrite_IpsecSecrets(), 0);
    // WAN2 has no address here: the placeholder identity stands in.
    EXPECT_EQ(box.read("/etc/ipsec.secrets"),
              "203.0.113.2 198.51.100.7: PSK \"secret\"\ngw.example %any: PSK \"secret\"\n"
              "10.64.64.64 peer.example: PSK \"secret\"\n: RSA local.key \"\"\n"
              "203.0.113.2 198.51.100.7: PSK \"secret\"\n");
    EXPECT_EQ(box.read("/etc/ipsec.d/passwd"), "alice:abHASH1:xauth\ncarol:efHASH3:xauth\n");
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(box.file("/etc/ipsec.secrets")).permissions(),
              perms::owner_read | perms::owner_write);

    // The access-point controller joins every tunnel bridged on a port.
    const std::string global =
        "/sbin/iptables -t nat -D postNat_bridge -i brvpn+ -j ACCEPT\n"
        "/sbin/iptables -t nat -A postNat_bridge -i brvpn+ -j ACCEPT\n";
    std::string bridges;
    for (auto [device, ends] :
         {std::pair{"gre0", "203.0.113.2 remote 198.51.100.7"}, {"gre1", "10.9.0.1 remote 10.9.0.2"}})
        bridges += "/sbin/brctl addbr brvpn1\n/sbin/brctl addif brvpn1 LAN1\n/sbin/ip link add " + std::string(device) +
                   " type gretap local " + ends + "\n/sbin/ip link set " + device + " up\n/sbin/brctl addif brvpn1 " +
                   device + "\n/sbin/ip link set brvpn1 up\n";
    EXPECT_EQ(vpn_ipsec_autokey_gre_bridge_port("A", 1), 2);
    EXPECT_EQ(box.take(), (Effects{bridges, global, ""}));
    EXPECT_EQ(vpn_ipsec_autokey_gre_bridge_port("D", 3), 1);
    EXPECT_EQ(box.take(), (Effects{"/sbin/brctl delif brvpn3 gre2\n/sbin/ip link del gre2\n", global, ""}));
}

// A tunnel name or peer reaches whack as one word; a key reaches the
// secrets file inside its quotes or is refused, never as a second line.
TEST(IpsecAutokey, HostileFormValues) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_ports();
    Module m(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    const std::string sentinel = box.file("/sentinel");
    // The arguments whack gets from the tunnel's recorded line.
    auto whack_args = [&](const record &t) {
        recommandIPSecAutokey(&t, &kNets);
        const std::string commands = box.take().commands;
        const std::size_t add = commands.find('\n', commands.find(" --delete ")) + 1;
        return run_with_stub(box, commands.substr(add, commands.find('\n', add) - add), kWhack);
    };
    auto secrets_of = [&](record &t) {
        m->add(m.open(1), &t);
        m.close();
        Rewrite_IpsecSecrets();
        std::filesystem::remove(box.file("/etc/sysconfig/.firewall/vpn_ipsec_autokey.conf"));
        return box.read("/etc/ipsec.secrets");
    };
    auto holds = [](const std::string &v, std::size_t size, const char *set) {
        return v.substr(0, size - 1).find_first_of(set) != std::string::npos;
    };
    for (const std::string &v : hostile_values(sentinel)) {
        record t;
        if (from_form(m, t, {{"name", v}})) {
            EXPECT_EQ(whack_args(t).at(1), t.name);
        } else {
            EXPECT_TRUE(holds(v, sizeof t.name, "\r\n")) << v;
        }
        if (from_form(m, t, {{"remote", v}})) {
            const auto args = whack_args(t);
            const auto to = std::find(args.begin(), args.end(), "--to");
            ASSERT_LT(to + 2, args.end());
            EXPECT_EQ(to[2], t.remote);
            EXPECT_EQ(secrets_of(t), "203.0.113.2 " + std::string(t.remote) + ": PSK \"secret\"\n");
        } else {
            EXPECT_TRUE(holds(v, sizeof t.remote, " \t\r\n\"")) << v;
        }
        if (from_form(m, t, {{"key", v}})) {
            EXPECT_EQ(secrets_of(t), "203.0.113.2 198.51.100.7: PSK \"" + std::string(t.key) + "\"\n");
        } else {
            EXPECT_TRUE(holds(v, sizeof t.key, "\r\n\"")) << v;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(sentinel));
    submit_form({});
}
