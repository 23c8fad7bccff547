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
    return wan + " " + ip + " 255.255.255.0 198.51.100.1 0 " + kZero + " 64 " + kZero + " 0 0.0.0.0 ^o^ 0 20480 " +
           up + " " + mark + " \"" + name + "\" \n";
}

Effects applied(const std::string &device, bool routing, const std::string &mark = "101",
                const std::string &ip = "198.51.100.10") {
    const std::string m = mark;
    Effects e;
    e.commands = "/sbin/ip addr add " + ip + "/24 broadcast 198.51.100.255 dev " + device + " label " + device +
                 ":vlink" + m + "\necho \"+mark=0x" + m + " prio=100 weight=1 devname=WAN1 name=WAN1:" + m +
                 " status=0 upstream=10240 downstream=20480\" > /proc/net/ipt_ROUTEMARK/virtual_link\n"
                 "/sbin/ip rule add prio 1500 fwmark 0x" + m + " table " + m + "\n/sbin/ip route add default via "
                 "198.51.100.1 dev " + device + " src " + ip + " proto static table " + m + "\n";
    e.ipv4 = "/sbin/iptables -t mangle -N preMangle_vlink_" + m + "\n/sbin/iptables -t nat -N postNat_vlink_" + m +
             "\n/sbin/iptables -t mangle -A preMangle_vlink -j preMangle_vlink_" + m +
             "\n/sbin/iptables -t nat -A postNat_vlink -j postNat_vlink_" + m +
             "\n/sbin/iptables -t mangle -A preMangle_vlink_" + m + " -m condition --condition WAN1:" + m +
             "\n/sbin/iptables -t mangle -A preMangle_vlink_" + m + " -i WAN1 -d " + ip +
             "/24 -j ROUTEMARK --set-mark 0x" + m + "\n" +
             (routing ? "/sbin/iptables -t nat -A postNat_vlink_" + m + " ! -i lo -s " + ip +
                            "/24 -m routemark --mark 0x" + m + " -j ACCEPT\n"
                      : "") +
             "/sbin/iptables -t nat -A postNat_vlink_" + m + " -o WAN1 -m routemark --mark 0x" + m +
             " -j SNAT --to-source " + ip + "\n/sbin/iptables -t nat -A postNat_vlink_" + m + " -o WAN1 -s " + ip +
             " -j SNAT --to-source " + ip + "\n/sbin/iptables -t mangle -N wan" + m +
             "_link_state\n/sbin/iptables -t mangle -A wan_link_state -i WAN1 -m routemark --mark 0x" + m + " -j wan" +
             m + "_link_state\n/sbin/iptables -t mangle -A wan" + m + "_link_state\n";
    return e;
}

Effects removed(const std::string &device, const std::string &m = "101", const std::string &ip = "198.51.100.10") {
    Effects e;
    e.commands = "/sbin/ip addr del " + ip + "/24 broadcast 198.51.100.255 dev " + device + " label " + device + ":vlink" +
           m + "\necho \"-mark=0x" + m + "\" > /proc/net/ipt_ROUTEMARK/virtual_link\n/sbin/ip route flush table " +
           m + "\n/sbin/ip rule del prio 1500 fwmark 0x" + m + " table " + m + "\n";
    e.ipv4 = "/sbin/iptables -t mangle -D preMangle_vlink -j preMangle_vlink_" + m +
           "\n/sbin/iptables -t nat -D postNat_vlink -j postNat_vlink_" + m +
           "\n/sbin/iptables -t mangle -F preMangle_vlink_" + m + "\n/sbin/iptables -t nat -F postNat_vlink_" + m +
           "\n/sbin/iptables -t mangle -X preMangle_vlink_" + m + "\n/sbin/iptables -t nat -X postNat_vlink_" + m +
           "\n/sbin/iptables -t mangle -D wan_link_state -i WAN1 -m routemark --mark 0x" + m + " -j wan" + m +
           "_link_state\n/sbin/iptables -t mangle -F wan" + m + "_link_state\n/sbin/iptables -t mangle -X wan" + m +
           "_link_state\n";
    return e;
}

Effects operator+(Effects a, const Effects &b) {
    a.commands += b.commands;
    a.ipv4 += b.ipv4;
    a.ipv6 += b.ipv6;
    return a;
}

}  // namespace

TEST(VirtualLink, DevicesOfApplyAndRemoval) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    Module m(virtual_link_register, virtual_link_unregister);
    box.write(kFile, line("WAN1", "198.51.100.10", "101", "a") + line("WAN1", "198.51.100.11", "102", "b") +
                         line("WAN2", "203.0.113.10", "103", "c"));
    record link{};
    ASSERT_NE(m->getnum(m.open(0), &link, 1), nullptr);
    m.close();

    struct Row {
        const char *what;
        std::vector<interface_record> ports;
        std::string device;
        bool routing;
    } rows[] = {
        {"the WAN's own device", {interface_port(1, "LAN1", 1), interface_port(2, "WAN1", 2)}, "WAN1", false},
        {"a WAN in a bridged zone", {interface_port(2, "WAN1", 2, 1, 3, "0.0.0.0", "255.255.255.0", 2)}, "br2", false},
        {"some port in transparent routing", {interface_port(2, "WAN1", 2), interface_port(3, "LAN2", 1, 3)}, "br0", true},
    };
    for (const Row &row : rows) {
        install_interfaces({interface_port(1, "", 0), interface_port(2, "", 0), interface_port(3, "", 0)});
        install_interfaces(row.ports);
        call<void *(record *)>(m->command, &link);
        EXPECT_EQ(box.take(), applied(row.device, row.routing)) << row.what;
        call<void *(record *, const interface_record *)>(m->discommand, &link, nullptr);
        EXPECT_EQ(box.take(), removed(row.device)) << row.what;
    }

    // The removal's device as the given interface record tells it.
    interface_record routing = interface_port(2, "WAN1", 2, 1, 3, "0.0.0.0", "255.255.255.0", 4), bridged = routing,
                     lan = interface_port(1, "LAN1", 1, 1, 3, "0.0.0.0", "255.255.255.0", 5), plain = lan;
    routing.summary = 32;
    bridged.summary = 64;
    lan.summary = 64;
    plain.izone = 0;
    plain.summary = 64;
    for (auto [iface, device] : {std::pair{&routing, "br4"}, {&bridged, "br4"}, {&lan, "br5"}, {&plain, "LAN1"}}) {
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

    EXPECT_EQ(call<int(const void *, const interface_record *)>(m->restorebyinterface, nullptr, &wan1), 2);
    EXPECT_EQ(box.take(), removed("WAN1") + applied("WAN1", false) + removed("WAN1", "102", "198.51.100.11") +
                              applied("WAN1", false, "102", "198.51.100.11"));
    EXPECT_EQ(virtual_link_restorebyinterface4bonding(&member), 2) << "the master's links";
    box.take();
    EXPECT_EQ(virtual_link_restorebyinterface4bonding(&wan1), 0);

    char marks[8];
    EXPECT_EQ(return_vlink_mark("WAN1", marks, sizeof marks), 2);
    EXPECT_STREQ(marks, "101 102");
    EXPECT_EQ(return_vlink_mark("WAN1", marks, 6), 1) << "a mark that does not fit is left out";
    EXPECT_STREQ(marks, "101");
    EXPECT_EQ(return_vlink_mark("DMZ1", marks, sizeof marks), 0);
    EXPECT_STREQ(marks, "");

    auto *h = m.open(0);
    using check = int(record_file *, const interface_record *);
    const interface_record lan = interface_port(1, "LAN1", 1);
    EXPECT_EQ(call<check>(m->interface_check, h, &member), 1);
    EXPECT_EQ(call<check>(m->interface_check, h, &lan), 0);
    record r{};
    m->getnum(h, &r, 1);
    EXPECT_EQ(m->isTheSame(h, &r, 1), 0);
    EXPECT_EQ(m->isTheSame(h, &r, 0), 1);
    std::strcpy(r.name, "new");
    EXPECT_EQ(m->isTheSame(h, &r, 0), 1) << "the same address and mask";
    std::strcpy(r.ipaddr, "198.51.100.99");
    EXPECT_EQ(m->isTheSame(h, &r, 0), 0);
    r.ipv6cmode = 1;
    EXPECT_EQ(m->isTheSame(h, &r, 0), 1) << "the same IPv6 address and prefix";
}

// The route-marking line stands in double quotes: it reaches the proc file
// as one line, or the link is not applied.
TEST(VirtualLink, RouteMarkingLine) {
    ModuleBox box({"SYSTEM_PORT_NUM=3"});
    install_interfaces({interface_port(2, "WAN1", 2)});
    Module m(virtual_link_register, virtual_link_unregister);
    box.write(kFile, line("WAN1", "198.51.100.10", "101", "a", "\"1024 kbps; x|y'z&\"") +
                         line("WAN1", "198.51.100.11", "102", "b", "$(touch") + line("WAN1", "198.51.100.12", "103", "c", "`x`"));
    record r{};
    auto *h = m.open(0);
    m->getnum(h, &r, 1);
    call<void *(record *)>(m->command, &r);
    const std::string commands = box.take().commands;
    std::string echo = commands.substr(commands.find("echo"));
    echo = echo.substr(0, echo.find('\n'));
    std::filesystem::create_directories(box.file("/proc/net/ipt_ROUTEMARK"));
    echo.replace(echo.find("/proc"), 5, box.file("/proc"));
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
        use_form({{"name", "d"}, {"wanport", "WAN1"}, {"mark", mark}});
        EXPECT_EQ(call<void *(record *)>(m->cgiParam, &r) != nullptr, accepted) << mark;
    }
    use_form({});
}
