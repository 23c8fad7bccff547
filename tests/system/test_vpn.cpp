// The VPN and WAN-side modules (dynamic DNS, GRE and IPsec tunnels, PPTP, trunks, virtual links): commands, rules
// and files compared whole; and the hostile values of every module's forms, which must stay one argument.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "support/hostile.h"
#include "support/module_harness.h"
#include "support/named_process.h"

using namespace testing_support;
// In test_nat.cpp: a form written as a query, and rules written "TABLE RULE", @ for 20260102030405.
namespace nat_tests {
FormValues form(const std::string &query);
std::string ipt(std::string rules);
}  // namespace nat_tests
using nat_tests::form, nat_tests::ipt;
namespace {
using Op = void *(void *);
using Reop = void *(void *, void *);
using Boot = void *(void *, int, int);
using Check = int(record_file *, const interface_record *);
using Restore = const interface_record *(const interface_record *, const interface_record *);
using Event = std::remove_pointer_t<wan_address_fn>;

const char *const kDdns = "/etc/sysconfig/.firewall/ddns.conf";
ddns_record account(int provider, const char *user, const char *host, const char *domain) {
    ddns_record r{provider, "", "^o^", "", "", 1, "WAN1", '0'};
    return put(r.username, user), put(r.host, host), put(r.domain, domain), r;
}
using tunnel_record = vpn_ipsec_autokey_record;
const std::string kWhack = "/usr/libexec/ipsec/whack";

// LAN1 on port 1; WAN1 on port 2 with a static address; WAN2 without one.
void install_ports() {
    interface_record wan = interface_port(2, "WAN1", 2, 1, 3, "203.0.113.2");
    put(wan.gateway, "203.0.113.1");
    install_interfaces({interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1"), wan, interface_port(3, "WAN2", 2, 1, 2)});
}

// The tunnel "office" to 198.51.100.7 over WAN1 the form makes with changes; null when refused.
tunnel_record *from_form(const Module &m, tunnel_record &t, const FormValues &changes = {}) {
    FormValues fields = form("name=office&id=20240101000000&wan_num=2&remote=198.51.100.7&key=secret&enc_alg_I=3des&"
                             "hash_alg_I=md5&enc_alg_II=3des&hash_alg_II=md5&mode=Main");
    for (const auto &change : changes) {
        auto same = std::find_if(fields.begin(), fields.end(), [&](const auto &f) { return f.first == change.first; });
        same == fields.end() ? fields.push_back(change) : void(same->second = change.second);
    }
    submit_form(fields);
    m->clear(&t);
    m->set_default(&t, nullptr);
    return static_cast<tunnel_record *>(call<Op>(m->cgiParam, &t));
}

tunnel_record tunnel(const Module &m, const std::string &changes = "") {
    tunnel_record t;
    EXPECT_NE(from_form(m, t, form(changes)), nullptr) << changes;
    return t;
}
const ipsec_subnets kNets = {"192.168.1.0", "255.255.255.0", 0, "10.1.0.0", "255.255.0.0", "20240202000000"};
const std::string kRemoved =
    kWhack + " --terminate --name office > /dev/null 2>&1\n" + kWhack + " --delete --name office > /dev/null 2>&1\n";
std::string whack(const std::string &add) {
    return kRemoved + kWhack + add + " > /dev/null 2>&1\n" + kWhack + " --listen > /dev/null 2>&1\n";
}
const std::string kHead =
    " --name office --psk --tunnel --keyingtries 1 --updown \"20240101000000 20240202000000\" --mark 0x101";
const std::string kLocal = " --host 203.0.113.2 --client 192.168.1.0/255.255.255.0 --nexthop 203.0.113.1";
const std::string kRemote = " --to --host 198.51.100.7 --client 10.1.0.0/255.255.0.0";
const std::string kHosts = " --host 203.0.113.2 --nexthop 203.0.113.1 --to --host 198.51.100.7";
const std::string kIke = " --ike 3des-md5-modp2! --ikelifetime 3600",
                  kEsp = " --encrypt --esp 3des-md5! --ipseclifetime 28800";
const char *const kLinks = "/etc/sysconfig/.firewall/virtual_link.conf";
std::string link_line(const std::string &wan, const std::string &ip, const std::string &mark, const std::string &name,
                      const std::string &up = "10240") {
    const std::string zero = "0000:0000:0000:0000:0000:0000:0000:0000";
    return wan + " " + ip + " 255.255.255.0 198.51.100.1 0 " + zero + " 64 " + zero + " 0 0.0.0.0 ^o^ 0 20480 " + up +
           " " + mark + " \"" + name + "\" \n";
}
// Golden texts with {D} the device, {M} the mark and {A} the address.
Effects fill(const std::string &commands, const std::string &rules, const std::string &d, const std::string &m,
             const std::string &a) {
    const auto in = [&](const std::string &t) { return replaced(replaced(replaced(t, "{D}", d), "{M}", m), "{A}", a); };
    return {in(commands), in(rules), ""};
}
const std::string kLinkChains =
    ipt("mangle -N preMangle_vlink_{M}\nnat -N postNat_vlink_{M}\nmangle -A preMangle_vlink -j preMangle_vlink_{M}\n"
        "nat -A postNat_vlink -j postNat_vlink_{M}\n");
const std::string kLinkState =
    "/sbin/iptables -t mangle -A wan_link_state -i WAN1 -m routemark --mark 0x{M} -j wan{M}_link_state\n";
Effects applied(const std::string &d, bool routing, const std::string &m = "101",
                const std::string &a = "198.51.100.10") {
    return fill("/sbin/ip addr add {A}/24 broadcast 198.51.100.255 dev {D} label {D}:vlink{M}\n"
                "echo \"+mark=0x{M} prio=100 weight=1 devname=WAN1 name=WAN1:{M} status=0 upstream=10240 "
                "downstream=20480\" > /proc/net/ipt_ROUTEMARK/virtual_link\n"
                "/sbin/ip rule add prio 1500 fwmark 0x{M} table {M}\n"
                "/sbin/ip route add default via 198.51.100.1 dev {D} src {A} proto static table {M}\n",
                kLinkChains +
                    ipt(std::string("mangle -A preMangle_vlink_{M} -m condition --condition WAN1:{M}\n"
                                    "mangle -A preMangle_vlink_{M} -i WAN1 -d {A}/24 -j ROUTEMARK --set-mark 0x{M}\n") +
                        (routing ? "nat -A postNat_vlink_{M} ! -i lo -s {A}/24 -m routemark --mark 0x{M} -j ACCEPT\n"
                                 : "") +
                        "nat -A postNat_vlink_{M} -o WAN1 -m routemark --mark 0x{M} -j SNAT --to-source {A}\n"
                        "nat -A postNat_vlink_{M} -o WAN1 -s {A} -j SNAT --to-source {A}\n"
                        "mangle -N wan{M}_link_state\n") +
                    kLinkState + "/sbin/iptables -t mangle -A wan{M}_link_state\n",
                d, m, a);
}
Effects removed(const std::string &d, const std::string &m = "101", const std::string &a = "198.51.100.10") {
    return fill("/sbin/ip addr del {A}/24 broadcast 198.51.100.255 dev {D} label {D}:vlink{M}\n"
                "echo \"-mark=0x{M}\" > /proc/net/ipt_ROUTEMARK/virtual_link\n/sbin/ip route flush table {M}\n"
                "/sbin/ip rule del prio 1500 fwmark 0x{M} table {M}\n",
                replaced(lines_with(kLinkChains, " -A "), " -A ", " -D ") +
                    replaced(lines_with(kLinkChains, " -N "), " -N ", " -F ") +
                    replaced(lines_with(kLinkChains, " -N "), " -N ", " -X ") + replaced(kLinkState, " -A ", " -D ") +
                    "/sbin/iptables -t mangle -F wan{M}_link_state\n/sbin/iptables -t mangle -X wan{M}_link_state\n",
                d, m, a);
}
Effects operator+(Effects a, const Effects &b) { return {a.commands + b.commands, a.ipv4 + b.ipv4, a.ipv6 + b.ipv6}; }
}  // namespace

// Published names, duplicates, changes, ports in use, the updater and its status (form lines: NatForms).
TEST(Ddns, NamesDuplicatesFormsAndStatus) {
    ModuleBox box;
    const std::pair<ddns_record, const char *> names[] = {
        {account(0, "bob", "home", "example.net"), "home.example.net"}, {account(2, "bob", "home", "^o^"), "bob"},
        {account(0, "bob", "full.example.org", "<custom>"), "full.example.org"},
        {account(0, "bob", "^o^", "<custom>"), "---"}, {account(2, "^o^", "home", "^o^"), "---"},
        {account(8, "carol", "home", "^o^"), "---"}};
    for (const auto &[r, name] : names) EXPECT_STREQ(ddns_compose_host_domain(&r), name);
    // Provider 8 tells accounts apart by user name, the others by name.
    box.write(kDdns, "0 bob pw home example.net 1 WAN1 \n8 carol pw ^o^ ^o^ 1 WAN1 \n");
    Module m(ddns_register, ddns_unregister);
    auto *h = m.open(0);
    const std::tuple<ddns_record, int, int> clashes[] = {
        {account(3, "dave", "home", "example.net"), 0, 1}, {account(3, "dave", "home", "example.net"), 1, 0},
        {account(0, "carol", "x", "example.net"), 0, 0}, {account(8, "carol", "y", "example.org"), 0, 1}};
    for (auto [r, line, expected] : clashes) EXPECT_EQ(m->isTheSame(h, &r, line), expected) << r.username;
    ddns_record before = account(0, "bob", "home", "example.net"), after = before;
    EXPECT_EQ(m->change(&before, &after), 0);
    EXPECT_EQ(m->change(nullptr, &after), 0);
    put(after.domain, "example.org");
    EXPECT_EQ(m->change(&before, &after), 1);
    submit_form(form("auto_wan=0&wan_ip=1.2.3.4;x&select_port=WAN1"));  // a fixed address only counts without a port
    EXPECT_EQ(call<Op>(m->cgiParam, &after), nullptr);
    submit_form({});
    // In use: 0; not in use: -1, the reverse of the other modules.
    const interface_record wan1 = interface_port(2, "WAN1", 2), wan2 = interface_port(3, "WAN2", 2);
    EXPECT_EQ(call<Check>(m->interface_check, h, &wan1) * 10 + call<Check>(m->interface_check, h, &wan2), -1);
    int marker = 0;
    for (module_op slot : {m->command, m->restorebyinterface, m->dynamicIPup}) {
        EXPECT_EQ(call<Op>(slot, &marker), &marker);
        EXPECT_EQ(box.take(), (Effects{"/sbin/update_ddns -a >/dev/null 2>&1&\n", "", ""}));
    }
    // One status character per account in order, none for a line alone; a removed account takes its own out.
    EXPECT_EQ(m.record<ddns_record>("0 x pw h example.net 1 WAN1 ").status, '0');
    const char *status = "/var/tmp/ddns_status";
    box.write(kDdns, "");
    for (const char *user : {"a", "b", "c", "d", "e"})
        box.write(kDdns, box.read(kDdns) + "0 " + user + " pw h" + user + " example.net 1 WAN1 \n");
    const auto walk = [&] {
        std::string out;
        ddns_record r{};
        auto *h = m.open(0);
        for (int k = 1; m->getline(h, &r, nullptr, k); ++k) out += std::string(1, r.status) + ":" + r.username + " ";
        return out;
    };
    EXPECT_EQ(walk(), "0:a 0:b 0:c 0:d 0:e ") << "no status file";
    box.write(status, "12x\n");
    EXPECT_EQ(walk(), "1:a 2:b 0:c 0:d 0:e ") << "a short file, a character that is no digit";
    box.write(status, "12345\n");
    ddns_record r{};
    m->getnum(static_cast<record_file *>(m->handle), &r, 3);
    EXPECT_EQ(r.status, '0') << "read once while the file is open";
    EXPECT_EQ(walk(), "1:a 2:b 3:c 4:d 5:e ");
    EXPECT_EQ(m->remove(m.open(1), 3), 0);
    EXPECT_EQ(box.read(status), "1245");
    m->getnum(static_cast<record_file *>(m->handle), &r, 4);
    EXPECT_EQ(std::string(1, r.status) + r.username, "4d");
    EXPECT_EQ(m->remove(static_cast<record_file *>(m->handle), 4), 0);  // the line numbers keep their gap
    EXPECT_EQ(box.read(status), "125");
    EXPECT_EQ(walk(), "1:a 2:b 5:e ");
    std::filesystem::remove(box.file(status));
    EXPECT_EQ(m->remove(m.open(1), 1), 0);
    EXPECT_EQ(walk(), "0:b 0:e ");
    EXPECT_FALSE(box.exists(status));
    // A record stored where the status file is short: '0' up to its place, then its own.
    box.write(status, "7\n");
    ddns_record f = account(0, "f", "hf", "example.net");
    f.status = '5';
    ASSERT_EQ(m->modify(m.open(1), &f, 4), 0);  // no line 4: appended as the third
    f.status = '6';
    ASSERT_EQ(m->add(static_cast<record_file *>(m->handle), &f), 0);  // and an added one after it
    std::string held;
    for (int k = 1; m->getline(static_cast<record_file *>(m->handle), &r, nullptr, k); ++k) held += r.status;
    EXPECT_EQ(held, "7056");
}

// A GRE tunnel's default, form, line, chains and marking rules.
TEST(GreTunnel, FormLineAndRules) {
    ModuleBox box;
    Module m(gre_tunnel_register, gre_tunnel_unregister);
    gre_tunnel_record r, back{};
    m->clear(&r);
    char now[10];
    std::snprintf(now, sizeof now, "%x", static_cast<unsigned>(std::time(nullptr)));
    m->set_default(&r, nullptr);
    EXPECT_TRUE(std::strcmp(r.mark, now) >= 0 && r.timeout == 30) << "the mark is the time of the default";
    submit_form(form("name=" + std::string(100, 'n') + "&wan_num=2&local_gre_interface=10.0.0.1&"
                     "local_gre_mask=255.255.255.252&remote_gre_interface=10.0.0.2&remote_gre_mask=255.255.255.252&"
                     "mark=5f3a1c2b&id=20240101000000&duration=7&timeout=60&remote_host=gw.example"));
    ASSERT_NE(call<Op>(m->cgiParam, &r), nullptr);
    EXPECT_EQ(std::string(r.name), std::string(83, 'n')) << "a name is cut at its field's capacity";
    put(r.name, "to branch");
    m->add(m.open(1), &r);
    m.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/gre_tunnel.conf"),
              "\"to branch\" 20240101000000 2 \"gw.example\" \"10.0.0.1\" \"255.255.255.252\" \"10.0.0.2\" "
              "\"255.255.255.252\" \"5f3a1c2b\" \"7\" \"60\" \n");
    ASSERT_NE(m->getnum(m.open(0), &back, 1), nullptr);
    EXPECT_EQ(std::string(back.chain) + " " + std::to_string(back.duration * 100 + back.timeout),
              "GRETunnel_20240101000000 760");
    EXPECT_EQ(m->isTheSame(static_cast<record_file *>(m->handle), const_cast<char *>("to branch"), 0), 1);
    box.take();
    const std::string c = "GRETunnel_20240101000000", flushed = chain_lines(c, "-F", kTunnelChainOrder);
    EXPECT_EQ(del_neighborhood_iptables(c.c_str()) * 10 + del_neighborhood_iptables("a b"), -1);
    EXPECT_EQ(box.take(), (Effects{"", flushed, ""})) << "the marks go, the chains stay";
    box.write("/var/log/gretunnel/20240101000000", "4242\n");
    call<Op>(m->command, &back);
    EXPECT_EQ(box.take(), (Effects{"", chain_lines(c, "-N", kTunnelChainOrder) + mark_lines(c, "WAN2_T5f3a1c2b"), ""}));
    call<Op>(m->discommand, &back);
    EXPECT_EQ(box.take(), (Effects{"kill 4242\n", flushed + chain_lines(c, "-X", kTunnelChainOrder), ""}));
    gre_tunnel_record moved = back;
    moved.wan_num = 3;
    put(moved.chain, "GRETunnel_9");
    call<Reop>(m->recommand, &moved, &back);
    EXPECT_EQ(box.take(), (Effects{"kill 4242\n", flushed + mark_lines("GRETunnel_9", "WAN3_T5f3a1c2b"), ""}));
    submit_form({{"timeout", "45"}});
    ASSERT_NE(call<Op>(m->cgiParam, &back), nullptr);
    EXPECT_EQ(std::to_string(back.wan_num) + " " + std::to_string(back.duration) + " " + std::to_string(back.timeout),
              "0 0 45") << "a number the form lacks is 0";
    submit_form({});
}

// The IKE daemon's command lines for each kind of tunnel, the table's apply paths, and the
// secrets, XAUTH users and GRE bridges made from the stored tunnels.
TEST(IpsecAutokey, CommandLinesRulesAndStoredTunnels) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_ports();
    Module m(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    const std::string all = kHead + kLocal + kRemote + kIke + kEsp;
    const std::tuple<const char *, int, std::string> rows[] = {
        {"", 0, all},
        {"pfs=5&dpd_delay=30&dpd_timeout=120&mode=Aggressive", 0,
         all + " --pfs --pfsgroup modp5 --aggrmode --dpddelay 30 --dpdtimeout 120 --dpdaction hold"},
        {"esp_or_ah=1&enc_alg_II=aes", 0, replaced(all, kEsp, " --authenticate --esp MD5! --ipseclifetime 28800")},
        {"auth_method=1&my_id=a.example&peer_id=b.example&inside_pem_name=local&outside_pem_name=peer", 0,
         replaced(kHead, "--psk --tunnel", "--rsasig") + replaced(kLocal, " --nexthop", " --id a.example --nexthop") +
             " --cert local.crt --sendcert always" + kRemote + " --id b.example --cert peer.crt --sendcert always" +
             kIke + kEsp},
        {"xauth_enable=1&xauth_username=bob", 0,
         kHead + kLocal + " --xauthclient" + kRemote + " --xauthserver" + kIke + kEsp},
        {"xauth_enable=1", 0, kHead + kLocal + " --xauthserver" + kRemote + " --xauthclient" + kIke + kEsp},
        {"xauth_enable=1&xauth_username=0.0.0.0", 0,  // any user name is a client's, only the unset one the server's
         kHead + kLocal + " --xauthclient" + kRemote + " --xauthserver" + kIke + kEsp},
        {"en_l2tp_over_ipsec=1", 0,
         replaced(kHead + kHosts, "203.0.113.1", "203.0.113.1 --clientprotoport udp/1701") +
             " --clientprotoport udp/%any" + kIke + kEsp},
        {"fixed_or_dynamic=1", 1,  // any private network
         replaced(all, "--to --host 198.51.100.7",
                  "--to --host 0.0.0.0 --client vhost:%no,%v4:192.168.0.0/16,%v4:172.16.0.0/12,%v4:10.0.0.0/8")},
        {"greInterface=1", 0, kHead + kHosts + kIke + kEsp}, {"local_ip=172.16.0.1", 0, kHead + kHosts + kIke + kEsp},
        {"wan_num=1", 0, ""},  // a LAN port
    };
    for (const auto &[changes, whole, expected] : rows) {
        const tunnel_record t = tunnel(m, changes);
        ipsec_subnets nets = kNets;
        nets.whole_network = whole;
        recommandIPSecAutokey(&t, &nets);
        EXPECT_EQ(box.take(), (Effects{expected.empty() ? "" : whack(expected), "", ""})) << changes;
    }
    // Up-down words stand in double quotes: one that is no word adds nothing.
    tunnel_record t = tunnel(m, "xauth_enable=1&xauth_username=bob&xauth_password=pw");
    put(t.id, "1 $(x)");
    recommandIPSecAutokey(&t, &kNets);
    EXPECT_EQ(box.take().commands, kRemoved);
    // Connecting names the XAUTH login; disconnecting removes the log file.
    put(t.id, "20240101000000");
    connectIPSecAutokey(&t);
    for (const std::string id : {"20240101000000", "20240101000001"}) box.write("/var/log/ipsec/" + id, "up\n");
    disconnectIPSecAutokey(&t);
    EXPECT_EQ(box.take().commands,
              kWhack + " --initiate --name office --xauthuser bob --xauthpass pw > /dev/null 2>&1 &\n" + kRemoved);
    EXPECT_FALSE(box.exists("/var/log/ipsec/20240101000000"));
    EXPECT_TRUE(box.exists("/var/log/ipsec/20240101000001"));
    box.write("/etc/sysconfig/.firewall/vpn_trunk.conf",
              "\"to branch\" 20240202000000 0 \"office\" 192.168.1.0 255.255.255.0 10.1.0.0 255.255.0.0 0 \n");
    t = tunnel(m);
    const std::string c = "vpnAuto_20240101000000", created = chain_lines(c, "-N", kTunnelChainOrder),
                      removed = chain_lines(c, "-F", kTunnelChainOrder) + chain_lines(c, "-X", kTunnelChainOrder),
                      added = whack(kHead + kLocal + kRemote + kIke + kEsp),
                      initiate = kWhack + " --initiate --name office > /dev/null 2>&1 &\n";
    call<Op>(m->command, &t);
    EXPECT_EQ(box.take(), (Effects{added + initiate, created + mark_lines(c), ""}));
    call<Op>(m->discommand, &t);
    EXPECT_EQ(box.take(), (Effects{kRemoved, removed, ""}));
    call<Boot>(m->initial_system_cmd, &t, 1, 0);
    EXPECT_EQ(box.take(), Effects{});
    // A tunnel no trunk names waits; one connected by hand is not initiated.
    tunnel_record alone = tunnel(m, "name=alone"), by_hand = tunnel(m, "hand_connection=1");
    call<Op>(m->command, &alone);
    EXPECT_EQ(box.take().commands, "");
    call<Reop>(m->recommand, &by_hand, &t);
    EXPECT_EQ(box.take(), (Effects{kRemoved + added, removed + created + mark_lines(c), ""}));
    // The stored tunnels of a port follow its address; another port's stay.
    m->add(m.open(1), &t);
    m.close();
    box.take();
    const interface_record *wan1 = interface_read_shm(2), *wan2 = interface_read_shm(3);
    wan_address_event up1{"203.0.113.2", 2, "WAN1"}, up2{"203.0.113.3", 3, "WAN2"};
    call<Event>(m->dynamicIPdown, &up2);
    call<const interface_record *(const interface_record *)>(m->restorebyinterface, wan2);
    EXPECT_EQ(box.take(), Effects{});
    call<Event>(m->dynamicIPdown, &up1);
    EXPECT_EQ(box.take(), (Effects{kRemoved, "", ""}));
    call<Event>(m->dynamicIPup, &up1);
    EXPECT_EQ(box.take(), (Effects{added + initiate, "", ""}));
    const std::string office = "203.0.113.2 198.51.100.7: PSK \"secret\"\n";
    EXPECT_EQ(box.read("/etc/ipsec.secrets"), office);
    EXPECT_EQ(call<Check>(m->interface_check, m.open(0), wan1), 1);
    EXPECT_EQ(call<Check>(m->interface_check, m.open(0), wan2), 0);
    box.write("/etc/ipsec.d/.keep", "");
    box.write("/etc/sysconfig/.firewall/auth_user.conf",
              "\"alice\" 1 \"abHASH1\" \"staff\" \n\"bob\" 2 \"cdHASH2\" \"guests\" \n"
              "\"carol\" 3 \"efHASH3\" \"staff\" \n\"eve:x\" 4 \"ghHASH4\" \"staff\" \n");
    std::vector<tunnel_record> tunnels;
    for (const char *changes :
         {"greInterface=1&gredevid=gre0", "name=road&my_id=gw.example&fixed_or_dynamic=1",
          "name=dhcp&wan_num=3&peer_id=peer.example", "name=rsa&auth_method=1&inside_pem_name=local",
          "name=cert&key=&inside_pem_name=local",
          "name=bridged&greInterface=3&gredevid=gre2",
          "name=xauth&xauth_enable=1&xauth_auth_user=staff&greInterface=1&gredevid=gre1&local_ip=10.9.0.1&"
          "remote_ip=10.9.0.2"})
        tunnels.push_back(tunnel(m, changes));
    put(tunnels[5].key, "a\"b");  // read back from a file edited by hand
    auto *h = m.open(1);
    for (tunnel_record &stored : tunnels) m->add(h, &stored);
    m.close();
    box.take();
    ASSERT_EQ(Rewrite_IpsecSecrets(), 0);
    // WAN2 has no address here: the placeholder identity stands in.  The key decides, not the method.
    EXPECT_EQ(box.read("/etc/ipsec.secrets"), office + office +
                                                  "gw.example %any: PSK \"secret\"\n"
                                                  "10.64.64.64 peer.example: PSK \"secret\"\n" +
                                                  office + ": RSA local.key \"\"\n" + office);
    const std::string users = "alice:abHASH1:xauth\ncarol:efHASH3:xauth\n";
    EXPECT_EQ(box.read("/etc/ipsec.d/passwd"), users);
    EXPECT_EQ(std::filesystem::status(box.file("/etc/ipsec.secrets")).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::remove(box.file("/etc/ipsec.secrets"));
    std::filesystem::create_directory(box.file("/etc/ipsec.secrets"));  // cannot be created: only it is left out
    box.write("/etc/ipsec.d/passwd", "");
    EXPECT_EQ(Rewrite_IpsecSecrets(), -1);
    EXPECT_EQ(box.read("/etc/ipsec.d/passwd"), users);
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
    // One tunnel's bridge alone, the rule kept while others are bridged; a tunnel bridged nowhere changes nothing.
    EXPECT_EQ(vpn_ipsec_autokey_set_gre_bridge("D", &tunnels[5]) * 10 +
                  vpn_ipsec_autokey_set_gre_bridge("D", &tunnels[1]),
              10);
    EXPECT_EQ(box.take(), (Effects{"/sbin/brctl delif brvpn3 gre2\n/sbin/ip link del gre2\n", global, ""}));
}

// PPTP client connections: rules, duplicates, ports, WAN port changes, secrets.
TEST(PptpClient, ChainsMasqueradingAndPortChanges) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    const char *file = "/etc/sysconfig/.firewall/vpn_pptp_client.conf";
    box.write(file,
              "\"bob\" 1 \"pw\" vpn.example 2 1 1 0 5f3a1c2b \n\"bob\" 2 \"pw\" other.example 2 0 0 1 00000002 \n"
              "\"eve\" 3 \"pw\" vpn.example 3 0 0 0 00000003 \n");
    box.write("/var/run/WAN2_C5f3a1c2b.pid", "4242\n");
    box.write("/var/run/WAN2_C00000002.pid", "4343\n");
    Module m(vpn_pptp_client_register, vpn_pptp_client_unregister);
    auto *h = m.open(0);
    vpn_pptp_client_record r{}, by_hand{};
    ASSERT_NE(m->getnum(h, &r, 1), nullptr);
    ASSERT_NE(m->getnum(h, &by_hand, 2), nullptr);
    const std::string c = "vpnClient_1", marks = mark_lines(c, "WAN2_C5f3a1c2b"),
                      masquerade = "/sbin/iptables -t nat -A postNat_pptp_client -o WAN2_C5f3a1c2b -j MASQUERADE\n";
    const auto chains = [](const char *op, const char *chain = "vpnClient_1") {
        return chain_lines(chain, op, kTunnelChainOrder);
    };
    call<Op>(m->command, &r);
    EXPECT_EQ(box.take(), (Effects{"", chains("-N") + marks + masquerade, ""}));
    call<Op>(m->discommand, &r);
    EXPECT_EQ(box.take(), (Effects{"kill 4242\n", replaced(masquerade, "-A", "-D") + chains("-F") + chains("-X"), ""}));
    r.nat = 0;
    call<Reop>(m->recommand, &r, &by_hand);  // the old one's masquerading goes, whatever its nat says now
    EXPECT_EQ(box.take(), (Effects{"kill 4343\n",
                                   "/sbin/iptables -t nat -D postNat_pptp_client -o WAN2_C00000002 -j MASQUERADE\n" +
                                       chains("-F", "vpnClient_2") + marks,
                                   ""}));
    // The same user at the same server once; at another server again.
    EXPECT_EQ(m->isTheSame(h, &r, 0) * 10 + m->isTheSame(h, &r, 1), 10);
    put(r.server, "third.example");
    EXPECT_EQ(m->isTheSame(h, &r, 0), 0);
    const interface_record lan = interface_port(1, "LAN1", 1), wan1 = interface_port(2, "WAN1", 2),
                           gone = interface_port(2, "WAN1", 0);
    install_interfaces({lan, wan1});
    EXPECT_EQ(call<Check>(m->interface_check, h, &wan1) * 10 + call<Check>(m->interface_check, h, &lan), 10);
    // A WAN port back restarts all but those dialled by hand; one no WAN any more only ends them.
    call<Restore>(m->restorebyinterface, &lan, &lan);
    EXPECT_EQ(box.take().commands, "");
    call<Restore>(m->restorebyinterface, &wan1, &wan1);
    EXPECT_EQ(box.take().commands,
              "kill 4242\n/usr/sbin/pppd.Client plugin /usr/lib/pppd/2.4.4/pptp.so pptp_server "
              "vpn.example pptp_wan_port 2 user bob remotename vpn.example linkname Client +mppe-40 "
              "+mppe-128 mppe-stateful newname WAN2_C5f3a1c2b wanunit 2 ipparam vpn.example&\nkill 4343\n");
    call<Restore>(m->restorebyinterface, &wan1, &gone);
    wan_address_event up{"203.0.113.2", wan1.port, "WAN1"};
    call<Event>(m->dynamicIPup, &up);
    EXPECT_EQ(box.take().commands, "kill 4242\nkill 4343\nkill 4242\nkill 4343\n");
    call<Boot>(m->initial_system_cmd, &by_hand, 2, 1);
    EXPECT_EQ(box.take(), (Effects{"", mark_lines("vpnClient_2", "WAN2_C00000002"), ""}));
    // The secrets: a line a value would break is left out.
    box.write("/etc/ppp/.keep", "");
    box.write(file,
              "\"bob\" 1 \"p w\" vpn.example 2 1 1 0 a \n\"carol\" 2 \"$(x)'\" 10.0.0.9 1 0 0 0 b \n"
              "\"quote\" 3 \"a\\\"b\" vpn.example 1 0 0 0 c \n\"two words\" 4 \"pw\" vpn.example 1 0 0 0 d \n");
    EXPECT_EQ(call<int()>(m->rewrite_secrets), 0);
    EXPECT_EQ(box.read("/etc/ppp/chap-secrets.Client"), "bob vpn.example \"p w\" *\ncarol 10.0.0.9 \"$(x)'\" *\n");
}

// PPTP server accounts: their chains and rules, their sessions' end, their secrets.
TEST(PptpServer, ChainsRulesAndSessions) {
    ModuleBox box({"SYSTEM_PORT_NUM=2"});
    const char *file = "/etc/sysconfig/.firewall/vpn_pptp_server.conf";
    box.write(file, "\"alice\" 20240101000000 \"pw\" 0 ^o^ 0 abc \n");
    box.write("/var/run/WAN1_Sabc_3.pid", "4242\n");
    Module m(vpn_pptp_server_register, vpn_pptp_server_unregister);
    vpn_pptp_server_record r{};
    ASSERT_NE(m->getnum(m.open(0), &r, 1), nullptr);
    m.close();
    const std::string c = "vpnServer_20240101000000";
    const std::vector<std::string> order = {"mangle SSRC", "mangle SDST", "mangle CSRC", "mangle CDST",
                                            "nat SSRC",    "nat SDST",    "nat CSRC",    "nat CDST"};
    std::string rules;  // each rule in mangle, then in nat
    const auto both = [&](const std::string &r) { rules += ipt("mangle -A " + c + r + "\nnat -A " + c + r + "\n"); };
    for (const char *chain : {"SSRC", "SDST"}) both(chain + (" -m condition ! --condition " + c + " -j RETURN"));
    for (const std::string wan : {"WAN0", "WAN1", "WAN2"})
        both("SSRC -i " + wan + "_Sabc_+ -j UTMMARK --set-type policy --or-mark 0x20"),
            both("SDST -j UTMMARK --set-type policy --or-mark 0x40");
    const std::tuple<module_op, int, Effects> applies[] = {
        {m->command, -1, {"", chain_lines(c, "-N", order) + rules, ""}},
        {m->recommand, -1, {"kill 4242\n", chain_lines(c, "-F", order) + rules, ""}},
        {m->discommand, -1, {"kill 4242\n", chain_lines(c, "-F", order) + chain_lines(c, "-X", order), ""}},
        {m->initial_system_cmd, 0, {}},
        {m->initial_system_cmd, 1, {"", rules, ""}}};
    for (const auto &[slot, flag, expected] : applies) {
        flag < 0 ? call<Op>(slot, &r) : call<Boot>(slot, &r, 1, flag);
        EXPECT_EQ(box.take(), expected);
    }
    // A WAN port's sessions end when it comes back or changes its address.
    using Restore1 = const interface_record *(const interface_record *);
    const interface_record lan = interface_port(1, "LAN1", 1), wan = interface_port(2, "WAN1", 2);
    call<Restore1>(m->restorebyinterface, &lan);
    call<Restore1>(m->restorebyinterface, &wan);
    wan_address_event up{"203.0.113.2", 2, "WAN1"};
    call<Event>(m->dynamicIPup, &up);
    EXPECT_EQ(box.take().commands, "kill 4242\nkill 4242\n");
    // The secrets: an unset address is "*"; a line a value would break is left out.
    box.write("/etc/ppp/.keep", "");
    box.write(file,
              "\"alice\" 1 \"pw 1\" 0 ^o^ 0 a \n\"bob\" 2 \"x$(y)\" 1 10.8.0.2 0 b 3 \n"
              "\"quote\" 3 \"a\\\"b\" 0 ^o^ 0 c \n\"two words\" 4 \"pw\" 0 ^o^ 0 d \n");
    EXPECT_EQ(call<int()>(m->rewrite_secrets), 0);
    EXPECT_EQ(box.read("/etc/ppp/chap-secrets.Server"), "alice * \"pw 1\" *\nbob * \"x$(y)\" 10.8.0.2\n");
    auto *h = m.open(0);
    EXPECT_EQ(m->isTheSame(h, const_cast<char *>("bob"), 0) * 10 + m->isTheSame(h, const_cast<char *>("bob"), 2), 10);
    std::filesystem::remove_all(box.file("/etc/ppp"));
    EXPECT_EQ(call<int()>(m->rewrite_secrets), -1);
}

// The wizard's copy is meant when "wizard" (default "No") is "No" exactly when the selector is set.
TEST(VpnModules, WizardFileChoice) {
    ModuleBox box;
    const std::tuple<module_table *(*)(), void (*)(module_table *), int, int> kinds[] = {
        {vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister, 57, 65},
        {vpn_pptp_server_register, vpn_pptp_server_unregister, 60, 67},
        {vpn_trunk_register, vpn_trunk_unregister, 58, 66},
        {vpn_pptp_client_register, vpn_pptp_client_unregister, 61, 68}};
    for (const auto &[register_fn, unregister_fn, normal, wizard] : kinds) {
        Module m(register_fn, unregister_fn);
        for (auto [query, for_0] : {std::pair{"", false}, {"wizard=No", false}, {"wizard=wizard", true}}) {
            submit_form(form(query));
            EXPECT_EQ(m.open(0, nullptr)->number, for_0 ? wizard : normal) << m->name << query;
            EXPECT_EQ(m.open(0, reinterpret_cast<void *>(1))->number, for_0 ? normal : wizard) << m->name << query;
        }
    }
    submit_form({});
}

// Trunks and their groups apply their tunnels; names a trunk may not take; address objects and groups.
TEST(VpnTrunk, TrunksAndGroupsApplyTheirTunnels) {
    ModuleBox box({"SYSTEM_PORT_NUM=2"});
    install_interfaces({interface_port(2, "WAN1", 2, 1, 3, "203.0.113.2")});
    box.write("/etc/sysconfig/.firewall/vpn_ipsec_autokey.conf",
              "\"office\" 20240101000000 2 0 198.51.100.7 0 secret ^o^ ^o^ 3des md5 2 3600 0 3des md5 28800 0 Main "
              "^o^ ^o^ ^o^ ^o^ ^o^ 1 0 0 ^o^ 0 ^o^ ^o^ ^o^ 0 0 0 \n");
    box.write("/etc/sysconfig/.firewall/gre_tunnel.conf",
              "\"gre\" 1 2 \"gw\" \"a\" \"b\" \"c\" \"d\" \"5f3a\" \"0\" \"30\" \n");
    box.write("/etc/sysconfig/.firewall/vpn_trunk.conf",
              "\"t1\" 20240202000000 0 \"office\" 192.168.1.0 255.255.255.0 10.1.0.0 255.255.0.0 0 \n"
              "\"t2\" 20240202000001 3 \"gre\" 0.0.0.0 0.0.0.0 10.2.0.0 255.255.0.0 0 \n"
              "\"t3\" 20240202000002 1 \"missing\" 0.0.0.0 0.0.0.0 10.3.0.0 255.255.0.0 0 \n");
    box.write("/etc/sysconfig/.firewall/vpn_trunk_group.conf", "\"g\" 1 0 \"t2\" \"t1\" \"t9\" ^o^ ^o^ ^o^ ^o^ ^o^ \n");
    Module group(vpn_trunk_group_register, vpn_trunk_group_unregister);
    vpn_trunk_group_record g{};
    ASSERT_NE(group->getnum(group.open(0), &g, 1), nullptr);
    // Members in the trunks' order; the IPsec tunnel, by hand, gets the trunk's networks.
    call<Op>(group->command, &g);
    const std::string route = "/sbin/ip route replace 10.2.0.0/16 dev WAN2_T5f3a\n";
    EXPECT_EQ(box.take().commands,
              whack(kHead + replaced(kLocal, "203.0.113.1", "0.0.0.0") + kRemote + kIke + kEsp) + route);
    call<Op>(group->discommand, &g);
    EXPECT_EQ(box.take().commands, kRemoved + replaced(route, " replace ", " del "));
    Module trunks(vpn_trunk_register, vpn_trunk_unregister);
    vpn_trunk_record t{};
    auto *h = trunks.open(0);
    for (auto [name, clash] : {std::pair{"t2", 1}, {"g", 1}, {"t4", 0}}) {
        put(t.name, name);
        EXPECT_EQ(trunks->isTheSame(h, &t, 0), clash) << name;
    }
    // Address objects and groups as chains; an object leaves its zone's groups, a group its users.
    box.write("/etc/sysconfig/.firewall/dmz_custom.conf",
              "\"pc\" 1 2 0 10.0.0.5 255.255.255.255 \n\"srv\" 2 2 0 10.0.1.0 255.255.255.0 \n");
    box.write("/etc/sysconfig/.firewall/dmz_group.conf", "\"all\" 3 2 1 0.0.0.0 0.0.0.0 \"srv\" \"pc\" \n");
    Module m(address_register, address_unregister);
    address_record object{}, all{};
    ASSERT_NE(m->getnum(m.open(0, reinterpret_cast<void *>(4)), &object, 2), nullptr);
    ASSERT_NE(m->getnum(m.open(0, reinterpret_cast<void *>(5)), &all, 1), nullptr);
    EXPECT_EQ(m.open(0, reinterpret_cast<void *>(6)), nullptr);
    call<Op>(m->command, &object);
    call<Op>(m->command, &all);
    EXPECT_EQ(box.take().ipv4, ipt("mangle -N address_2SRC\nmangle -N address_2DST\n"
                                   "mangle -A address_2SRC -s 10.0.1.0/24 -j UTMMARK --set-type policy --or-mark 0x20\n"
                                   "mangle -A address_2DST -d 10.0.1.0/24 -j UTMMARK --set-type policy --or-mark 0x40\n"
                                   "mangle -N address_3SRC\nmangle -N address_3DST\n"
                                   "mangle -A address_3SRC -j address_1SRC\nmangle -A address_3DST -j address_1DST\n"
                                   "mangle -A address_3SRC -j address_2SRC\nmangle -A address_3DST -j address_2DST\n"));
    call<Op>(m->discommand, &object);
    EXPECT_EQ(box.take().ipv4, ipt("mangle -F address_2SRC\nmangle -F address_2DST\nmangle -X address_2SRC\n"
                                   "mangle -X address_2DST\n"));
    EXPECT_EQ(m->remove(m.open(1, reinterpret_cast<void *>(4)), 1), 0);
    m.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/dmz_group.conf"),
              "\"all\" 3 2 1 0.0.0.0 0.0.0.0 \"srv\" \"^o^\" \"^o^\" \"^o^\" \"^o^\" \"^o^\" \"^o^\" \"^o^\" \n");
    box.write("/etc/sysconfig/.firewall/auth_user.conf", "\"alice\" 1 \"h\" \"staff\" \n\"bob\" 2 \"h\" \"guests\" \n");
    box.write("/etc/sysconfig/.firewall/auth_group.conf", "\"staff\" 3 \"^o^\" \"^o^\" \n");
    Module users(auth_user_register, auth_user_unregister);
    EXPECT_EQ(users->remove(users.open(1, reinterpret_cast<void *>(1)), 1), 0);
    users.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/auth_user.conf"),
              "\"alice\" 1 \"h\" \"^o^\" \n\"bob\" 2 \"h\" \"guests\" \n");
}

// Sessions end by the processes their files record: the recorded kills, run against real sleeping processes, end
// the right ones; files without a number, or another port's, end none; the daemons' command lines.
TEST(VpnUtil, SessionsEndByTheirRecordedProcesses) {
    ModuleBox box;
    NamedProcess abc1, def1, abc2, other_wan, client, gre;
    const auto pid = [](const NamedProcess &p) { return std::to_string(p.pid()); };
    const auto kills = [&](const NamedProcess &a, const NamedProcess *b = nullptr) {
        return "kill " + pid(a) + "\n" + (b ? "kill " + pid(*b) + "\n" : "");
    };
    const std::map<std::string, std::string> run = {
        {"WAN1_Sabc_1.pid", pid(abc1) + " ppp0\n"}, {"WAN1_Sdef_1.pid", pid(def1) + "\n"},
        {"WAN2_Sabc_7.pid", pid(abc2) + "\n"},      {"WAN10_Sdef_1.pid", pid(other_wan) + "\n"},
        {"WAN1_Szero.pid", "0\n"}, {"WAN1_Snegative.pid", "-5\n"}, {"WAN1_Stext.pid", "pid\n"},
        {"WAN1_Sempty.pid", ""},    {"WAN2_C5f3a1c2b.pid", pid(client) + "\n"}};
    for (const auto &[name, content] : run) box.write("/var/run/" + name, content);
    std::filesystem::create_directories(box.file("/var/run/WAN1_Sunreadable.pid"));
    box.write("/var/log/gretunnel/20240101000000", pid(gre) + "\n");
    box.write("/var/log/gretunnel/20240101000001", "0\n");
    box.write("/var/log/other", pid(other_wan) + "\n");
    vpn_pptp_server_record account{};
    put(account.interface_id, "abc");
    disconnectPPTPServer(&account);
    const std::string by_account = box.take().commands;
    EXPECT_EQ(by_account, kills(abc1, &abc2));
    std::filesystem::remove(box.file("/var/run/WAN1_Sabc_1.pid"));
    disconnectPPTPServerbyWAN(1);
    const std::string by_wan = box.take().commands;
    EXPECT_EQ(by_wan, kills(def1));
    vpn_pptp_client_record connection{};
    connection.wan_num = 2;
    put(connection.interface_id, "5f3a1c2b");
    disconnectPPTPClient(&connection);
    gre_tunnel_record tunnel{};
    for (const char *id : {"20240101000000", "20240101000001", "20240101000002", "../other"}) {
        put(tunnel.id, id);
        disconnectGreTunnel(&tunnel);
    }
    const std::string stopped = box.take().commands;
    EXPECT_EQ(stopped, kills(client, &gre));
    run_recorded(by_account + by_wan + stopped);
    for (NamedProcess *ended : {&abc1, &abc2, &def1, &client, &gre}) EXPECT_EQ(ended->ended_by(), SIGTERM);
    EXPECT_EQ(other_wan.ended_by(), 0);  // another port's session lives on
    // A session file gives its first number, 0 when there is none.
    for (auto [name, pid] :
         {std::pair{"WAN1_Snegative.pid", -5}, {"WAN1_Sunreadable.pid", 0}, {"../run/WAN1_Sdef_1.pid", 0}})
        EXPECT_EQ(getPPTPPID(name), pid) << name;
    killPPTP_pidfile("WAN1_Snegative.pid");
    EXPECT_EQ(box.take().commands, "");
    put(connection.user_name, "bob");
    put(connection.server, "vpn.example");
    connectPPTPClient(&connection);
    put(tunnel.mark, "5f3a1c2b");
    connectGreTunnel(&tunnel);
    EXPECT_EQ(box.take().commands,
              "/usr/sbin/pppd.Client plugin /usr/lib/pppd/2.4.4/pptp.so pptp_server vpn.example "
              "pptp_wan_port 2 user bob remotename vpn.example linkname Client nodeflate nobsdcomp "
              "newname WAN2_C5f3a1c2b wanunit 2 ipparam vpn.example&\n/usr/sbin/gretunnel 5f3a1c2b\n");
}

// The device a link is applied to and removed from, as the ports tell it; re-applied by interface and
// by bond; a port's marks; ports in use; duplicates by address and mask; the route-marking line; the mark.
TEST(VirtualLink, DevicesReapplyAndChecks) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    Module m(virtual_link_register, virtual_link_unregister);
    box.write(kLinks, link_line("WAN1", "198.51.100.10", "101", "a"));
    virtual_link_record link{};
    ASSERT_NE(m->getnum(m.open(0), &link, 1), nullptr);
    using Remove = void *(void *, const interface_record *);
    const interface_record zoned = interface_port(2, "WAN1", 2, 1, 3, "0.0.0.0", "255.255.255.0", 2);
    const std::tuple<std::vector<interface_record>, const char *, bool> rows[] = {
        {{interface_port(1, "LAN1", 1), interface_port(2, "WAN1", 2)}, "WAN1", false}, {{zoned}, "br2", false},
        {{interface_port(2, "WAN1", 2), interface_port(3, "LAN2", 1, 3)}, "br0", true}};
    for (const auto &[ports, device, routing] : rows) {
        install_interfaces({interface_port(1, "", 0), interface_port(2, "", 0), interface_port(3, "", 0)});
        install_interfaces(ports);
        call<Op>(m->command, &link);
        EXPECT_EQ(box.take(), applied(device, routing)) << device;
        call<Remove>(m->discommand, &link, nullptr);
        EXPECT_EQ(box.take(), removed(device)) << device;
    }
    interface_record routing = zoned, bridged = zoned,
                     lan = interface_port(1, "LAN1", 1, 1, 3, "0.0.0.0", "0.0.0.0", 5),
                     plain = interface_port(1, "LAN1", 1);
    routing.summary = 32;
    bridged.summary = lan.summary = plain.summary = 64;
    for (auto [iface, device] : {std::pair{&routing, "br2"}, {&bridged, "br2"}, {&lan, "br5"}, {&plain, "LAN1"}}) {
        call<Remove>(m->discommand, &link, iface);
        EXPECT_EQ(box.take(), removed(device)) << device;
    }
    box.write(kLinks, link_line("WAN1", "198.51.100.10", "101", "a") + link_line("WAN2", "203.0.113.10", "103", "c") +
                          link_line("WAN1", "198.51.100.11", "102", "b"));
    interface_record wan1 = interface_port(2, "WAN1", 2), member = interface_port(3, "WAN2", 2);
    member.ibond = 2;
    install_interfaces({interface_port(1, "LAN1", 1), wan1, member});
    const Effects both = removed("WAN1") + applied("WAN1", false) + removed("WAN1", "102", "198.51.100.11") +
                         applied("WAN1", false, "102", "198.51.100.11");
    EXPECT_EQ(call<int(const void *, const interface_record *)>(m->restorebyinterface, nullptr, &wan1), 2);
    EXPECT_EQ(box.take(), both);
    EXPECT_EQ(virtual_link_restorebyinterface4bonding(&member), 2) << "the bond master's links";
    EXPECT_EQ(box.take(), both);
    EXPECT_EQ(virtual_link_restorebyinterface4bonding(&wan1), 0);
    char marks[8];
    EXPECT_EQ(return_vlink_mark("WAN1", marks, sizeof marks), 2);
    EXPECT_STREQ(marks, "101 102");
    EXPECT_EQ(return_vlink_mark("WAN1", marks, 6), 1) << "a mark that does not fit is left out";
    EXPECT_STREQ(marks, "101");
    auto *h = m.open(0);
    EXPECT_EQ(call<Check>(m->interface_check, h, &member), 1);
    EXPECT_EQ(call<Check>(m->interface_check, h, interface_read_shm(1)), 0);
    virtual_link_record r{};
    m->getnum(h, &r, 1);
    put(r.name, "new");
    EXPECT_EQ(m->isTheSame(h, &r, 0), 1) << "the same address and mask";
    // The route-marking line takes only what its fields hold, from a line edited by hand too; a link needs a mark.
    install_interfaces({interface_port(2, "WAN1", 2)});
    box.write(kLinks, link_line("WAN1", "198.51.100.10", "101", "a", "\"1 +mark=0x1\"") +
                          link_line("\"WAN1 status=1\"", "198.51.100.11", "102", "b") +
                          link_line("WAN1", "198.51.100.12", "1;2", "c"));
    h = m.open(0);
    for (int n : {1, 2, 3}) {
        m->getnum(h, &r, n);
        call<Op>(m->command, &r);
        call<void *(void *, const interface_record *)>(m->discommand, &r, nullptr);
        EXPECT_EQ(box.take(), Effects{}) << n;
    }
    submit_form({{"name", "d"}, {"wanport", "WAN1"}});
    EXPECT_EQ(call<Op>(m->cgiParam, &r), nullptr);
    submit_form({});
}

// Hostile values in every module's form fields (or a daemon's record): each recorded command that
// holds one, run by /bin/sh with a stub, passes the arguments of a plain value with the value in its
// place, and runs nothing else; a refused value records nothing.  Rules run through the shell (SYSTEM_DEBUG_IPTABLES).
TEST(VpnModules, HostileValuesStayOneArgument) {
    ModuleBox box({"SYSTEM_DEBUG_IPTABLES=y", "SYSTEM_PORT_NUM=3"});
    install_ports();
    Module ipsec(vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister);
    const auto tunnel_with = [&](const char *field) {
        return [&, field](const std::string &value) {
            tunnel_record t;
            if (!from_form(ipsec, t, {{field, value}})) return false;
            recommandIPSecAutokey(&t, &kNets);
            ipsec->add(ipsec.open(1), &t);  // the key reaches the secrets inside its quotes
            ipsec.close();
            Rewrite_IpsecSecrets();
            std::filesystem::remove(box.file("/etc/sysconfig/.firewall/vpn_ipsec_autokey.conf"));
            EXPECT_EQ(box.read("/etc/ipsec.secrets"),
                      "203.0.113.2 " + std::string(t.remote) + ": PSK \"" + t.key + "\"\n");
            return true;
        };
    };
    // What, whether some field is quoted into a command rather than refused, and how a value is applied.
    const std::tuple<const char *, bool, std::function<bool(const std::string &)>> targets[] = {
        {"ipsec name", true, tunnel_with("name")}, {"ipsec key", false, tunnel_with("key")},
        {"pppd and gretunnel", true, [](const std::string &value) {
             vpn_pptp_client_record c{};
             gre_tunnel_record g{};
             c.wan_num = 2;
             const char *v = value.c_str();
             put(c.user_name, v), put(c.server, v), put(c.interface_id, v), put(g.mark, v);
             return connectPPTPClient(&c), connectGreTunnel(&g), true;
         }},
    };
    // The recorded lines, a line feed inside a value kept in its line.
    const auto recorded = [&] {
        std::vector<std::string> lines;
        const std::string log = box.take().commands;
        for (std::size_t start = 0, next; start < log.size(); start = next + 1)
            lines.push_back(log.substr(start, (next = std::min(log.find("\n/", start), log.size() - 1)) - start));
        return lines;
    };
    const auto args = [&](const std::string &line) { return run_with_stub(box, line, line.substr(0, line.find(' '))); };
    // An argument that held "plain" holds the value there instead (a line feed of a form as a stored line
    // holds it), perhaps cut at its field's capacity.
    const auto carries = [](const std::string &got, const std::string &plain, const std::string &value) {
        for (const std::string &stored : {value, replaced(value, "\n", "//n")})
            for (std::size_t k = std::min(stored.size(), got.size()); k > 0; --k)
                if (replaced(plain, "plain", stored.substr(0, k)) == got) return true;
        return false;
    };
    std::vector<std::string> values = hostile_values(box.file("/SENTINEL"));
    if (slow_processes()) values = {values[0], values[6], values[10], values[14], values.back()};
    for (const auto &[what, reaches_commands, apply] : targets) {
        SCOPED_TRACE(what);
        ASSERT_TRUE(apply("plain"));
        const std::vector<std::string> plain = recorded();
        std::map<std::size_t, std::vector<std::string>> plain_args;
        for (const std::string &value : values) {
            SCOPED_TRACE(value.substr(0, 40));
            if (!apply(value)) {
                EXPECT_EQ(box.take(), Effects{});
                continue;
            }
            const std::vector<std::string> lines = recorded();
            ASSERT_EQ(lines.size(), plain.size());
            int quoted = 0;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                if (lines[i] == plain[i]) continue;
                ++quoted;
                if (!plain_args.count(i)) plain_args[i] = args(plain[i]);
                const std::vector<std::string> got = args(lines[i]);
                ASSERT_EQ(got.size(), plain_args[i].size()) << lines[i];
                for (std::size_t k = 0; k < got.size(); ++k)
                    EXPECT_TRUE(carries(got[k], plain_args[i][k], value)) << got[k] << " for " << plain_args[i][k];
                ASSERT_FALSE(box.exists("/SENTINEL")) << lines[i];
            }
            EXPECT_EQ(quoted > 0, reaches_commands);
        }
    }
    qFree();
}
