// Interface records applied to the running system and undone: the commands, rules and files of each path, in order.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <regex>

#include "support/module_harness.h"
#include "support/named_process.h"

using namespace testing_support;

namespace {
// Applies (or undoes) r with these flags and its summary over the shared memory; what that left.
Effects run(ModuleBox &box, const Module &t, interface_record r, int change, int action, int boot, bool undo) {
    box.take(), r.ichange = change, r.iaction = action;
    call<interface_summary_fn>(t->interface_check, nullptr, &r);
    if (undo) call<interface_command_fn>(t->discommand, &r, 0);
    else call<interface_initial_fn>(t->initial_system_cmd, &r, 0, boot);
    return box.take();
}

// Pieces of the golden sequences: a device taken down and renamed; brought up; given a /24 address of a port on
// itself or a bridge, with the route to its subnet; a bridge made and a member put on it.
std::string renamed(const std::string &from, const std::string &to) {
    return "/sbin/ip link set " + from + " down\n/sbin/ip link set " + from + " name " + to + "\n";
}
std::string up(const std::string &dev) { return "/sbin/ip link set " + dev + " up\n"; }
std::string addressed(const std::string &net, const std::string &host, const std::string &dev, const std::string &port) {
    return "/sbin/ip addr add " + net + "." + host + "/24 broadcast " + net + ".255 dev " + dev + " label " + dev + ":" +
           port + "\n/sbin/ip route replace " + net + ".0/24 dev " + dev + " src " + net + "." + host + "\n";
}
std::string unaddressed(const std::string &address) { return replaced(lines_with(address, " addr "), " add ", " del "); }
std::string bridged(const std::string &br) { return "/sbin/brctl addbr " + br + "\n" + up(br); }
std::string joined(const std::string &br, const std::string &dev) {
    return "/sbin/brctl addif " + br + " " + dev + "\n/sbin/ip link set " + dev + " promisc on\n";
}

const std::string kMac1 = "/sbin/ip link set LAN1 address 00:11:22:33:44:01\n", ipt = "/sbin/iptables -t ";
// A WAN's address translated to: its chain flushed, the rules between, the translation and the mark of its table.
std::string translated(const std::string &to, const std::string &before = "") {
    return ipt + "nat -F postNat_WAN1\n" + before + ipt + "nat -A postNat_WAN1 -j SNAT --to-source " + to + "\n" + ipt +
           "mangle -F mark_WAN1\n" + ipt + "mangle -A mark_WAN1 -j ROUTEMARK --set-mark 0x101 --set-continue\n";
}
const std::string kFlush = "/sbin/ebtables -t broute -F transparent_routing\n";
const std::string kFlushes = kFlush + "/sbin/ebtables -t broute -F transparent_routing_ap\n";
constexpr int kUndo = IA_DEL | IA_DISCONNECT | IA_RELEASE;
}  // namespace

// A LAN port's name, address, route and service rules (a change of services alone replaces them, the debug log shows
// the stages); a dynamic WAN address translated to; each address mode, forwarding mode and bond role applied and
// undone, commands and IPv4 rules in order; the dialler's files for each way of dialling, removed with PPPoE;
// stopping PPPoE ends that port's dialler only, a stubborn one too.
TEST(InterfaceApply, PortsAppliedAndUndoneInEveryMode) {
    ModuleBox box({"SYSTEM_PORT_NUM=4", "HAVE_WAN_ACCELERATOR=y"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(interface_register, interface_unregister);
    interface_record lan = interface_defaults(1, "LAN1", 1, 3, "192.168.1.1");
    lan.anyiprouting = 1, put(lan.security, "7");
    reset_interfaces({lan});
    // Each service's rules in and out on the device, its VLANs and its bridge members.
    std::string services;
    for (const auto &[service, target] : {std::pair{"icmp", "accept"}, {"http", "accept"}, {"https", "accept"},
                                          {"telnet", "drop"}, {"ssh", "drop"}})
        for (const std::string device : {"LAN1", "LAN1.+", "LAN1_B+"})
            for (const std::string way : {"in -i ", "out -o "})
                services += "/sbin/iptables -t filter -A interface_" + std::string(service) + "_" + way + device +
                            " -j tlog_" + target + "\n";
    const std::string services6 = replaced(services, "/sbin/iptables", "/sbin/ip6tables");
    EXPECT_EQ(run(box, t, lan, 1023, IA_ADD, 0, false),
              (Effects{renamed("eth0", "LAN1") + up("LAN1") + kMac1 + addressed("192.168.1", "1", "LAN1", "LAN1") +
                           "/sbin/arptables -A INPUT -i LAN1 ! -s 192.168.1.0/24 -j mangle --mangle-mac-reply"
                           " --mangle-target CONTINUE\n" + kFlushes,
                       "/sbin/iptables -t mangle -A preMangle_anyiprouting -i LAN1 ! -s 192.168.1.0/24 -j "
                       "anyiprouting\n" + services + "/sbin/iptables -t nat -F postNat_bridge\n", services6}));
    EXPECT_EQ(run(box, t, lan, SECURITY_CHANGE, 0, 1, true),
              (Effects{"", replaced(services, " -A ", " -D "), replaced(services6, " -A ", " -D ")}));
    box.write("/var/debug.msg", "");
    const Effects logged = run(box, t, lan, SECURITY_CHANGE, 0, 1, false);
    EXPECT_EQ(lines_with(logged.commands, "<sync>", false) + logged.ipv4 + logged.ipv6,
              up("LAN1") + services + services6);
    EXPECT_EQ(std::regex_replace(lines_with(box.read("/syslog.log"), "==="), std::regex(".*\\] ="), "="),
              "=====START command port 1=====\n===== command 0.1 port 1 =====\n===== command 1 port 1 =====\n"
              "===== command 1.1 port 1 =====\n===== command 2.1 port 1 =====\n=====END command port 1=====\n");
    // At boot the rules are added whatever changed; undoing a port takes them away whatever it undoes.
    const std::string booted = run(box, t, lan, VALUE_CHANGE, 0, 1, false).ipv4;
    EXPECT_EQ(booted + run(box, t, lan, 0, IA_RELEASE, 0, true).ipv4, services + replaced(services, " -A ", " -D "));
    reset_interfaces({interface_defaults(2, "WAN1", 2, 2)});
    wan_address_event known{"198.51.100.9", 2, "WAN1"}, unknown{"198.51.100.9", 2, "WAN9"};
    ASSERT_EQ(call<wan_address_fn>(t->dynamicIPup, &known), &known);
    const std::string wip = "/usr/www/cgi-bin/change_wip add 1\n";
    EXPECT_EQ(box.take(), (Effects{wip, translated("198.51.100.9"), ""}));
    EXPECT_EQ((call<wan_address_fn>(t->dynamicIPup, &unknown), box.take()), Effects{});
    box.remove("/var/debug.msg"), box.write("/etc/ppp/.keep", "");
    box.write("/sys/class/net/WAN1/bonding/arp_ip_target", "10.9.9.9 10.9.9.8\n");
    interface_record wan = interface_defaults(2, "WAN1", 2, 3, "203.0.113.5"), bond = wan,
                     dhcp = interface_defaults(2, "WAN1", 2, 2), pppoe = interface_defaults(3, "WAN2", 2, 1),
                     member = interface_defaults(3, "LAN2", 1, 3);
    bond.ibond = member.ibond = 2, bond.bmode = 1, put(bond.arpip, "203.0.113.1");
    put(wan.gateway, "203.0.113.1"), put(wan.nat_ipaddr, "203.0.113.9"), wan.nat_mode = 1;
    put(dhcp.connection.dynamic.dynamicIP_hostname, "gw");
    interface_pppoe &dial = pppoe.connection.pppoe;
    put(dial.pppoe_via_ipaddr, "198.51.100.7"), put(dial.pppoe_via_defgw, "198.51.100.1");
    dial.pppoe_vlan = 7, dial.pppoe_service = 1, pppoe.speeder = 1;
    const interface_record dynamic_pppoe = interface_defaults(3, "WAN2", 2, 1);
    const auto zoned = [](interface_record r, int imode, int zone) { return r.imode = imode, r.izone = zone, r; };
    const interface_record routing = zoned(interface_defaults(1, "LAN1", 1, 3), 3, 1),
                           zoned_wan = zoned(interface_defaults(2, "WAN1", 2, 3, "203.0.113.5"), 1, 1),
                           bridge = zoned(interface_defaults(3, "DMZ1", 3, 3), 2, 2);
    const std::string wan1 = renamed("eth1", "WAN1") + up("WAN1"), address = addressed("203.0.113", "5", "WAN1", "WAN1"),
                      table = "/sbin/ip route flush table 101\n", unaddress = table + unaddressed(address),
                      stop1 = "/usr/sbin/wan_accelerator stop WAN1 > /dev/null 2>&1\n",
                      bridges = ipt + "nat -F postNat_bridge\n",
                      br2 = bridges + ipt + "nat -A postNat_bridge -i br2 -o br2 -j ACCEPT\n",
                      routes = "/sbin/ebtables -t broute -A transparent_routing -i LAN1 -p IPv4 -j redirect"
                               " --redirect-target DROP\n/sbin/ebtables -t broute -A transparent_routing -i LAN1"
                               " -p IPv6 -j redirect --redirect-target DROP\n";
    const std::string chains1 = ipt + "nat -N postNat_WAN1\n" + ipt + "nat -A postNat -o WAN1 -j postNat_WAN1\n" + ipt +
                                "mangle -N mark_WAN1\n" + ipt + "mangle -A preMangle_WAN -i WAN1 -j mark_WAN1\n",
                      from1 = ipt + "mangle -A preMangle_WAN -i WAN1 -j preMangle_fromWAN\n", nat1 = chains1 + from1;
    const std::string unnat1 = ipt + "mangle -D preMangle_WAN -i WAN1 -j preMangle_fromWAN\n" + ipt +
                               "mangle -D preMangle_WAN -i WAN1 -j mark_WAN1\n" + ipt + "mangle -F mark_WAN1\n" + ipt +
                               "mangle -X mark_WAN1\n" + ipt + "nat -D postNat -o WAN1 -j postNat_WAN1\n" + ipt +
                               "nat -F postNat_WAN1\n" + ipt + "nat -X postNat_WAN1\n";
    std::string bonding, slaves = address + table + wip + kFlushes + stop1, released = kFlush + unaddress;
    for (const auto &[file, value] : {std::pair{"mode", "1"}, {"arp_ip_target", "-10.9.9.9"},
                                      {"arp_ip_target", "-10.9.9.8"}, {"arp_ip_target", "+203.0.113.1"},
                                      {"arp_ip_source", "+203.0.113.5"},
                                      {"miimon", "1000"}, {"arp_interval", "1000"}, {"arp_validate", "3"}})
        bonding += "/bin/echo \"" + std::string(value) + "\" > /sys/class/net/WAN1/bonding/" + file + "\n";
    for (const std::string eth : {"eth2", "eth1"})
        slaves = "/sbin/ip link set " + eth + " down\n/sbin/ifenslave WAN1 " + eth + "\n" + slaves;
    for (const std::string eth : {"eth1", "eth2"}) released += "/sbin/ifenslave -d WAN1 " + eth + "\n";
    const struct { const char *what; std::vector<interface_record> ports; interface_record record;
                   int change, action, boot; bool undo; std::string commands, ipv4; } cases[] = {
        {"static WAN at boot", {wan}, wan, 1023, IA_ADD, 1, false,
         wan1 + address + table + "/sbin/ip route add default via 203.0.113.1 dev WAN1 src 203.0.113.5 proto static"
         " table 101\n" + wip + kFlushes + stop1,
         chains1 +
             translated("203.0.113.9", ipt + "nat -A postNat_WAN1 ! -i lo -s 203.0.113.0/255.255.255.0 -j ACCEPT\n") +
             replaced(from1, " -A ", " -D ") + from1 + bridges},
        {"static WAN undone", {wan}, wan, 1023, kUndo, 0, true, kFlush + unaddress + renamed("WAN1", "eth1"), unnat1},
        {"DHCP renewed", {dhcp}, dhcp, 1023, IA_ADD | IA_RENEW, 1, false,
         wan1 + "/sbin/dhcpcd WAN1 -R -h gw > /dev/null 2>&1\n" + kFlushes + stop1, nat1 + bridges},
        {"PPPoE connected on its VLAN", {pppoe}, pppoe, 1023, IA_ADD | IA_CONNECT, 0, false,
         renamed("eth2", "WAN2") + up("WAN2") + "/sbin/vconfig add WAN2 7\n" + up("WAN2.7") +
             "/usr/sbin/pppd.WAN WAN2.7 linkname WAN2 newname WAN2_ppp wanunit 2 > /dev/null 2>&1\n" +
             replaced(table, "101", "102") + "/sbin/ip route add default via 198.51.100.1 dev WAN2_ppp src 198.51.100.7"
             " proto static table 102\n" + kFlushes + "/usr/sbin/wan_accelerator start WAN2 > /dev/null 2>&1\n",
         bridges},
        {"PPPoE stopped", {pppoe}, pppoe, 1023, kUndo, 0, true,
         kFlush + "/bin/kill `/bin/cat /var/run/ppp-WAN2.pid`\n/sbin/vconfig rem WAN2.7\n" +
             replaced(table, "101", "102") + renamed("WAN2", "eth2"),
         replaced(replaced(unnat1, "WAN1", "WAN2"), "WAN2 -j", "WAN2_ppp -j")},
        {"static WAN on the bridge of a routing zone", {routing, zoned_wan, bridge}, zoned_wan, 1023, IA_ADD, 0, false,
         wan1 + bridged("br1") + joined("br1", "WAN1") + addressed("203.0.113", "5", "br1", "WAN1") + table + wip +
             kFlushes + routes + stop1, br2},
        {"LAN routing transparently", {routing, zoned_wan, bridge}, routing, 1023, IA_ADD, 0, false,
         renamed("eth0", "LAN1") + up("LAN1") + bridged("br1") + kMac1 + joined("br1", "LAN1") + kFlushes + routes, br2},
        {"bond master", {bond, member}, bond, 1023, IA_ADD, 0, false, renamed("bond1", "WAN1") + bonding + up("WAN1") +
         slaves, bridges},
        {"PPPoE without a fixed address: routed by the dialler's device", {dynamic_pppoe}, dynamic_pppoe, 0, IA_CONNECT,
         0, false, up("WAN2") + "/usr/sbin/pppd.WAN WAN2 linkname WAN2 newname WAN2_ppp wanunit 2 > /dev/null 2>&1\n" +
         replaced(table, "101", "102") + "/sbin/ip route add default via 0.0.0.0 dev WAN2_ppp src 0.0.0.0 proto static"
         " table 102\n/usr/sbin/wan_accelerator stop WAN2 > /dev/null 2>&1\n", ""},
        {"bond member: the bond set from its master", {bond, member}, member, 1023, IA_ADD, 1, false,
         renamed("eth2", "LAN2") + bonding + up("LAN2") + kFlushes, bridges},
        {"bond released", {bond, member}, bond, iTYPE_CHANGE, 0, 0, true, released + renamed("WAN1", "bond1"), unnat1},
    };
    for (const auto &c : cases) {
        const Effects e = (reset_interfaces(c.ports), run(box, t, c.record, c.change, c.action, c.boot, c.undo));
        EXPECT_EQ((Effects{e.commands, lines_with(e.ipv4, " interface_", false),
                           lines_with(e.ipv6, " interface_", false)}), (Effects{c.commands, c.ipv4, ""})) << c.what;
    }
    // A bond's virtual links ride on its master's device: they are taken off and put back on it.
    box.write("/etc/sysconfig/.firewall/virtual_link.conf",
              "WAN1 203.0.113.20 255.255.255.0 203.0.113.1 0 ::0 64 ::0 0 0.0.0.0 ^o^ 0 1000 1000 65 \"up\" \n");
    reset_interfaces({bond, member});
    EXPECT_EQ(lines_with(run(box, t, bond, 1023, IA_ADD, 0, false).commands, "vlink"),
              "/sbin/ip addr del 203.0.113.20/24 broadcast 203.0.113.255 dev WAN1 label WAN1:vlink65\n"
              "/sbin/ip addr add 203.0.113.20/24 broadcast 203.0.113.255 dev WAN1 label WAN1:vlink65\n");
    // The dialler's options between their common head and the plugin; a user name and password stored or refused.
    const std::string echo = "lcp-echo-interval 30\nlcp-echo-failure 4\n",
                      head = "lock\nlocal\nnocrtscts\nnoauth\nmru 1492\nmtu 1492\nnoaccomp\nsync\n";
    const struct { const char *user, *password; int service, demand, idle; const char *via, *mask, *gateway;
                   std::string options; bool stored; } dials[] = {
        {"user", "pw", 1, 0, 0, "198.51.100.7", "0.0.0.0", "198.51.100.1",
         echo + "198.51.100.7:198.51.100.1\nipcp-accept-local\nipcp-accept-remote\nname \"user\"\n", true},
        {"a b@isp", "p w", 1, 1, 5, "198.51.100.7", "255.255.255.252", "0.0.0.0",
         "demand\nidle 300\n198.51.100.7\nipcp-accept-local\nnetmask 255.255.255.252\nname \"a b@isp\"\n", true},
        {"us\"er\n+x", "pw\\", 0, 0, 0, "0.0.0.0", "0.0.0.0", "0.0.0.0", echo + "name \"^o^\"\n", false},
    };
    for (const auto &c : dials) {
        interface_record r = interface_defaults(3, "WAN2", 2, 1);
        interface_pppoe &p = r.connection.pppoe;
        put(p.pppoe_username, c.user), put(p.pppoe_password, c.password), put(p.pppoe_via_ipaddr, c.via);
        put(p.pppoe_via_netmask, c.mask), put(p.pppoe_via_defgw, c.gateway);
        p.pppoe_service = c.service, p.pppoe_demand = c.demand, p.pppoe_idle = c.idle;
        reset_interfaces({r}), run(box, t, r, 0, IA_CONNECT, 0, false);
        EXPECT_EQ(box.read("/etc/ppp/options.WAN2"), head + c.options + "plugin /usr/pppd/2.4.4/rp-pppoe.so\n") << c.user;
        const std::string secret = c.stored ? "\"" + std::string(c.user) + "\"\t*\t\"" + c.password + "\"\t*" : "";
        EXPECT_EQ(box.read("/etc/ppp/pap-secrets.WAN2") + box.read("/etc/ppp/chap-secrets.WAN2"), secret + secret);
    }
    box.write("/var/run/pppd2.tab", ""), run(box, t, *interface_read_shm(3), cMODE_CHANGE, 0, 0, true);
    EXPECT_EQ((std::vector{box.exists("/etc/ppp/options.WAN2"), box.exists("/etc/ppp/pap-secrets.WAN2"),
                           box.exists("/etc/ppp/chap-secrets.WAN2"), box.exists("/var/run/pppd2.tab")}),
              std::vector(4, false));
    // The machine's processes stand for the appliance's, under the names the dialler gives itself.
    std::filesystem::remove_all(box.file("/proc")), std::filesystem::create_directory_symlink("/proc", box.file("/proc"));
    setenv("APPLIANCE_SLEEP", "0", 1);
    NamedProcess by_file("pppd.WAN"), stubborn("pppd.WAN WAN1", true), other("pppd.WAN WAN2");
    ASSERT_TRUE(by_file.pid() > 0 && stubborn.pid() > 0 && other.pid() > 0);
    box.write("/var/run/ppp-WAN1.pid", std::to_string(by_file.pid()) + "\n");
    const interface_record dialled = interface_defaults(2, "WAN1", 2, 1);
    const Effects e = (reset_interfaces({dialled}), run(box, t, dialled, 0, IA_DISCONNECT, 0, true));
    ASSERT_EQ(e.commands, "/bin/kill `/bin/cat /var/run/ppp-WAN1.pid`\n");
    EXPECT_EQ(stubborn.ended_by(), SIGKILL) << "named after the port, it ignored the polite signal";
    EXPECT_EQ(by_file.ended_by(), 0) << "the one of the pid file is reached through it";
    // The recorded line, its pid file in the sandbox, ends the one it names.
    ASSERT_EQ(std::system(replaced(e.commands, "/var/run/", box.file("/var/run/")).c_str()), 0);
    EXPECT_EQ(by_file.ended_by(), SIGTERM);
    EXPECT_EQ(other.ended_by(), 0) << "the other port's dialler runs on";
}

// A restart undoes every port with the old records, then applies the new.
TEST(InterfaceApply, RestartUndoesEveryPortWithTheOldRecordsThenAppliesTheNew) {
    ModuleBox box({"SYSTEM_PORT_NUM=2", "SYSTEM_PORT1_IP=192.168.1.1", "SYSTEM_PORT1_NETMASK=255.255.255.0"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(interface_register, interface_unregister);
    t.open(1), t.close();
    // Port 2 becomes a member of port 1's bond: the restart applies it with its master.
    box.write("/var/tmp/interface_tmp.conf", "1 0 1 1 3 eth0 LAN1 10.0.0.1 255.0.0.0 \n"
              "2 0 1 1 3 eth1 LAN2 - - - - 0 - - - 0 - 0 0 - - - 0 - - 0 1 \n");
    qValueAdd("wizard", "%s", "wizard");
    record_file *renewed = t->open(nullptr, "pid:0,tests:open():0", 0);
    qFree(), t.open(0), t->rewrite_secrets = reinterpret_cast<module_op>(renewed);  // the word after the handle
    box.take();
    ASSERT_EQ(call<interface_recommand_fn>(t->recommand, &t.table(), 0), 0);
    t->rewrite_secrets = nullptr, t->close(&renewed);
    const Effects e = box.take();
    EXPECT_EQ(e.commands, kFlush + unaddressed(addressed("192.168.1", "1", "LAN1", "LAN1")) + renamed("LAN1", "eth0") +
                              renamed("eth0", "LAN1") + up("LAN1") + kMac1 + "/sbin/ip addr add 10.0.0.1/8 broadcast"
                              " 10.255.255.255 dev LAN1 label LAN1:LAN1\n/sbin/ip route replace 10.0.0.0/8 dev LAN1"
                              " src 10.0.0.1\n" + kFlushes);
    EXPECT_EQ(lines_with(e.ipv4, " -D "), replaced(lines_with(e.ipv4, " -A interface_"), " -A ", " -D "));
    EXPECT_EQ(lines_with(e.ipv4, "tlog_accept"), "") << "no service is on without its definition";
}

