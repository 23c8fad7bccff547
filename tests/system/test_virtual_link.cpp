// Virtual WAN links: the apply and removal sequences with their device
// choices, re-applying by interface and bond, and the route-marking line.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "support/module_harness.h"

using namespace testing_support;
using record = virtual_link_record;

namespace {

constexpr const char *kFile = "/etc/sysconfig/.firewall/virtual_link.conf";
const std::string kZero = "0000:0000:0000:0000:0000:0000:0000:0000";

std::string line(const std::string &wan, const std::string &ip, const std::string &mark, const std::string &name,
                 const std::string &up = "10240") {
    return wan + " " + ip + " 255.255.255.0 198.51.100.1 0 " + kZero + " 64 " + kZero + " 0 0.0.0.0 ^o^ 0 20480 " + up +
           " " + mark + " \"" + name + "\" \n";
}

// A golden text with {D} the device, {M} the mark and {A} the address.
std::string fill(std::string text, const std::string &device, const std::string &mark, const std::string &address) {
    for (auto [key, value] : {std::pair{"{D}", &device}, {"{M}", &mark}, {"{A}", &address}})
        for (std::size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, 3, *value);
    return text;
}

Effects applied(const std::string &d, bool routing, const std::string &m = "101",
                const std::string &a = "198.51.100.10") {
    return {
        fill("/sbin/ip addr add {A}/24 broadcast 198.51.100.255 dev {D} label {D}:vlink{M}\n"
             "echo \"+mark=0x{M} prio=100 weight=1 devname=WAN1 name=WAN1:{M} status=0 upstream=10240 "
             "downstream=20480\" > /proc/net/ipt_ROUTEMARK/virtual_link\n"
             "/sbin/ip rule add prio 1500 fwmark 0x{M} table {M}\n"
             "/sbin/ip route add default via 198.51.100.1 dev {D} src {A} proto static table {M}\n",
             d, m, a),
        fill(
            std::string(
                "/sbin/iptables -t mangle -N preMangle_vlink_{M}\n/sbin/iptables -t nat -N postNat_vlink_{M}\n"
                "/sbin/iptables -t mangle -A preMangle_vlink -j preMangle_vlink_{M}\n"
                "/sbin/iptables -t nat -A postNat_vlink -j postNat_vlink_{M}\n"
                "/sbin/iptables -t mangle -A preMangle_vlink_{M} -m condition --condition WAN1:{M}\n"
                "/sbin/iptables -t mangle -A preMangle_vlink_{M} -i WAN1 -d {A}/24 -j ROUTEMARK --set-mark 0x{M}\n") +
                (routing ? "/sbin/iptables -t nat -A postNat_vlink_{M} ! -i lo -s {A}/24 -m routemark --mark 0x{M} -j "
                           "ACCEPT\n"
                         : "") +
                "/sbin/iptables -t nat -A postNat_vlink_{M} -o WAN1 -m routemark --mark 0x{M} -j SNAT --to-source {A}\n"
                "/sbin/iptables -t nat -A postNat_vlink_{M} -o WAN1 -s {A} -j SNAT --to-source {A}\n"
                "/sbin/iptables -t mangle -N wan{M}_link_state\n"
                "/sbin/iptables -t mangle -A wan_link_state -i WAN1 -m routemark --mark 0x{M} -j wan{M}_link_state\n"
                "/sbin/iptables -t mangle -A wan{M}_link_state\n",
            d, m, a),
        ""};
}

Effects removed(const std::string &d, const std::string &m = "101", const std::string &a = "198.51.100.10") {
    return {fill("/sbin/ip addr del {A}/24 broadcast 198.51.100.255 dev {D} label {D}:vlink{M}\n"
                 "echo \"-mark=0x{M}\" > /proc/net/ipt_ROUTEMARK/virtual_link\n/sbin/ip route flush table {M}\n"
                 "/sbin/ip rule del prio 1500 fwmark 0x{M} table {M}\n",
                 d, m, a),
            fill("/sbin/iptables -t mangle -D preMangle_vlink -j preMangle_vlink_{M}\n"
                 "/sbin/iptables -t nat -D postNat_vlink -j postNat_vlink_{M}\n"
                 "/sbin/iptables -t mangle -F preMangle_vlink_{M}\n/sbin/iptables -t nat -F postNat_vlink_{M}\n"
                 "/sbin/iptables -t mangle -X preMangle_vlink_{M}\n/sbin/iptables -t nat -X postNat_vlink_{M}\n"
                 "/sbin/iptables -t mangle -D wan_link_state -i WAN1 -m routemark --mark 0x{M} -j wan{M}_link_state\n"
                 "/sbin/iptables -t mangle -F wan{M}_link_state\n/sbin/iptables -t mangle -X wan{M}_link_state\n",
                 d, m, a),
            ""};
}

Effects operator+(Effects a, const Effects &b) { return {a.commands + b.commands, a.ipv4 + b.ipv4, a.ipv6 + b.ipv6}; }

}  // namespace

TEST(VirtualLink, DevicesOfApplyAndRemoval) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    Module m(virtual_link_register, virtual_link_unregister);
    box.write(kFile, line("WAN1", "198.51.100.10", "101", "a"));
    record link{};
    ASSERT_NE(m->getnum(m.open(0), &link, 1), nullptr);
    const interface_record zoned = interface_port(2, "WAN1", 2, 1, 3, "0.0.0.0", "255.255.255.0", 2);
    const std::tuple<std::vector<interface_record>, const char *, bool> rows[] = {
        {{interface_port(1, "LAN1", 1), interface_port(2, "WAN1", 2)}, "WAN1", false},
        {{zoned}, "br2", false},
        {{interface_port(2, "WAN1", 2), interface_port(3, "LAN2", 1, 3)}, "br0", true},
    };
    for (const auto &[ports, device, routing] : rows) {
        install_interfaces({interface_port(1, "", 0), interface_port(2, "", 0), interface_port(3, "", 0)});
        install_interfaces(ports);
        call<void *(record *)>(m->command, &link);
        EXPECT_EQ(box.take(), applied(device, routing)) << device;
        call<void *(record *, const interface_record *)>(m->discommand, &link, nullptr);
        EXPECT_EQ(box.take(), removed(device)) << device;
    }

    // The removal's device as the given interface record tells it.
    interface_record routing = zoned, bridged = zoned,
                     lan = interface_port(1, "LAN1", 1, 1, 3, "0.0.0.0", "0.0.0.0", 5),
                     plain = interface_port(1, "LAN1", 1);
    routing.summary = 32;
    bridged.summary = lan.summary = plain.summary = 64;
    for (auto [iface, device] : {std::pair{&routing, "br2"}, {&bridged, "br2"}, {&lan, "br5"}, {&plain, "LAN1"}}) {
        call<void *(record *, const interface_record *)>(m->discommand, &link, iface);
        EXPECT_EQ(box.take(), removed(device)) << device;
    }
}

TEST(VirtualLink, ReapplyLookupAndChecks) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    Module m(virtual_link_register, virtual_link_unregister);
    box.write(kFile, line("WAN1", "198.51.100.10", "101", "a") + line("WAN2", "203.0.113.10", "103", "c") +
                         line("WAN1", "198.51.100.11", "102", "b"));
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
    using check = int(record_file *, const interface_record *);
    EXPECT_EQ(call<check>(m->interface_check, h, &member), 1);
    EXPECT_EQ(call<check>(m->interface_check, h, interface_read_shm(1)), 0);
    record r{};
    m->getnum(h, &r, 1);
    std::strcpy(r.name, "new");
    EXPECT_EQ(m->isTheSame(h, &r, 0), 1) << "the same address and mask";
}

// The route-marking line stands in double quotes: it reaches the proc file
// as one line, or the link is not applied.
TEST(VirtualLink, RouteMarkingLine) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_interfaces({interface_port(2, "WAN1", 2)});
    Module m(virtual_link_register, virtual_link_unregister);
    box.write(kFile, line("WAN1", "198.51.100.10", "101", "a", "\"1024 kbps; x|y'z&\"") +
                         line("WAN1", "198.51.100.11", "102", "b", "$(touch") +
                         line("WAN1", "198.51.100.12", "103", "c", "`x`"));
    record r{};
    auto *h = m.open(0);
    m->getnum(h, &r, 1);
    call<void *(record *)>(m->command, &r);
    const std::string commands = box.take().commands;
    std::string echo = commands.substr(commands.find("echo"));
    echo = echo.substr(0, echo.find('\n')).replace(echo.find("/proc"), 5, box.file("/proc"));
    std::filesystem::create_directories(box.file("/proc/net/ipt_ROUTEMARK"));
    ASSERT_EQ(std::system(echo.c_str()), 0);
    EXPECT_EQ(box.read("/proc/net/ipt_ROUTEMARK/virtual_link"),
              "+mark=0x101 prio=100 weight=1 devname=WAN1 name=WAN1:101 status=0 upstream=1024 kbps; x|y'z& "
              "downstream=20480\n");
    for (int n : {2, 3}) {
        m->getnum(h, &r, n);
        call<void *(record *)>(m->command, &r);
        call<void *(record *, const interface_record *)>(m->discommand, &r, nullptr);
        EXPECT_EQ(box.take(), Effects{}) << n;
    }

    // The form's mark is one to five hexadecimal digits.
    for (auto [mark, accepted] : {std::pair{"1a2b", true}, {"12g", false}, {"", false}, {"1;2", false}}) {
        submit_form({{"name", "d"}, {"wanport", "WAN1"}, {"mark", mark}});
        EXPECT_EQ(call<void *(record *)>(m->cgiParam, &r) != nullptr, accepted) << mark;
    }
    submit_form({});
}
