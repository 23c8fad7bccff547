// The permitted management hosts: their rules in the ten permit chains,
// their lines and their form.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "support/request.h"
#include "support/module_harness.h"

using namespace testing_support;

namespace {

permit_ip_record host(int ipv, const char *address, const char *mask, int security) {
    permit_ip_record r{"admin \"pc\"", ipv, "20260102030405", "", "", security};
    std::snprintf(r.ipaddr, sizeof r.ipaddr, "%s", address);
    std::snprintf(r.netmask, sizeof r.netmask, "%s", mask);
    return r;
}

}  // namespace

TEST(PermitIp, RulesOfEveryApplyPathInBothFamilies) {
    ModuleBox box;
    Module t(permit_ip_register, permit_ip_unregister);
    const std::string all_accepted =
        "/sbin/iptables -t filter -A permitip_http_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
        "/sbin/iptables -t filter -A permitip_http_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n"
        "/sbin/iptables -t filter -A permitip_https_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
        "/sbin/iptables -t filter -A permitip_https_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n"
        "/sbin/iptables -t filter -A permitip_ping_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
        "/sbin/iptables -t filter -A permitip_ping_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n"
        "/sbin/iptables -t filter -A permitip_telnet_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
        "/sbin/iptables -t filter -A permitip_telnet_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n"
        "/sbin/iptables -t filter -A permitip_ssh_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
        "/sbin/iptables -t filter -A permitip_ssh_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n";
    const std::string ping_and_ssh =
        "/sbin/ip6tables -t filter -R permitip_http_in 3 -s 2001:db8::1/64 -j tlog_drop\n"
        "/sbin/ip6tables -t filter -R permitip_http_out 3 -d 2001:db8::1/64 -j tlog_drop\n"
        "/sbin/ip6tables -t filter -R permitip_https_in 3 -s 2001:db8::1/64 -j tlog_drop\n"
        "/sbin/ip6tables -t filter -R permitip_https_out 3 -d 2001:db8::1/64 -j tlog_drop\n"
        "/sbin/ip6tables -t filter -R permitip_ping_in 3 -s 2001:db8::1/64 -j tlog_accept\n"
        "/sbin/ip6tables -t filter -R permitip_ping_out 3 -d 2001:db8::1/64 -j tlog_accept\n"
        "/sbin/ip6tables -t filter -R permitip_telnet_in 3 -s 2001:db8::1/64 -j tlog_drop\n"
        "/sbin/ip6tables -t filter -R permitip_telnet_out 3 -d 2001:db8::1/64 -j tlog_drop\n"
        "/sbin/ip6tables -t filter -R permitip_ssh_in 3 -s 2001:db8::1/64 -j tlog_accept\n"
        "/sbin/ip6tables -t filter -R permitip_ssh_out 3 -d 2001:db8::1/64 -j tlog_accept\n";
    const auto slot = [](module_op module_table::*s) {
        return [s](module_table &m, permit_ip_record *r) { return call<nat_command_fn>(m.*s, r); };
    };
    const struct {
        permit_ip_record rec;
        std::function<int(module_table &, permit_ip_record *)> apply;
        Effects expected;
    } rows[] = {
        {host(0, "0.0.0.0", "255.255.255.255", 31), slot(&module_table::command), {"", all_accepted, ""}},
        {host(1, "2001:db8::1", "64", 17),
         [](module_table &m, permit_ip_record *r) { return call<permit_ip_recommand_fn>(m.recommand, r, 3); },
         {"", "", ping_and_ssh}},
        {host(1, "2001:db8::1", "64", 17), slot(&module_table::discommand),
         {"", "", replaced(replaced(ping_and_ssh, " -R ", " -D "), " 3 -", " -")}},
        {host(2, "10.0.0.1", "24", 31), slot(&module_table::command), {}},  // no such family
        {host(0, "10.0.0.1", "24", 31),
         [](module_table &m, permit_ip_record *r) { return call<nat_initial_system_cmd_fn>(m.initial_system_cmd, r, 1, 0); },
         {}},
    };
    for (const auto &row : rows) {
        permit_ip_record rec = row.rec;
        row.apply(t.table(), &rec);
        EXPECT_EQ(box.take(), row.expected) << rec.ipaddr;
    }
    EXPECT_EQ(call<nat_command_fn>(t->command, nullptr), -1);
}

TEST(PermitIp, LinesAndTheDuplicateTest) {
    ModuleBox box;
    Module t(permit_ip_register, permit_ip_unregister);
    permit_ip_record a = host(0, "192.168.1.0", "255.255.255.0", 6), b = host(1, "fe80::1", "10", 0);
    std::snprintf(b.name, sizeof b.name, "lab\r<br>$(x) & <b>");
    ASSERT_EQ(t->add(t.open(1), &a), 0);
    ASSERT_EQ(t->add(static_cast<record_file *>(t->handle), &b), 0);
    t.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/permit_ip.conf"),
              "\"admin \\\"pc\\\"\" 20260102030405 0 192.168.1.0 255.255.255.0 6 \n"
              "\"lab//n//n$(x) & <b>\" 20260102030405 1 fe80::1 10 0 \n");
    record_file *h = t.open(0);
    permit_ip_record back{};
    ASSERT_EQ(t->getnum(h, &back, 1), &back);
    EXPECT_EQ(0, std::memcmp(&back, &a, sizeof a));
    // Its own line with its own identifier is itself.
    EXPECT_EQ(t->isTheSame(h, &a, 1), 0);
    EXPECT_EQ(t->isTheSame(h, &a, 2), 1);
    EXPECT_EQ(t->isTheSame(h, &a, 0), 1);
}
