// The permitted management hosts: their rules in the ten permit chains,
// their lines and their form.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "support/capture.h"
#include "support/module_harness.h"

using namespace testing_support;

namespace {

permit_ip_record host(int ipv, const char *address, const char *mask, int security) {
    permit_ip_record r{};
    std::snprintf(r.name, sizeof r.name, "admin \"pc\"");
    std::snprintf(r.id, sizeof r.id, "20260102030405");
    r.ipv = ipv;
    std::snprintf(r.ipaddr, sizeof r.ipaddr, "%s", address);
    std::snprintf(r.netmask, sizeof r.netmask, "%s", mask);
    r.security = security;
    return r;
}

}  // namespace

TEST(PermitIp, RulesOfEveryApplyPathInBothFamilies) {
    ModuleBox box;
    Module t(permit_ip_register, permit_ip_unregister);
    struct Row {
        const char *what;
        permit_ip_record rec;
        std::function<int(module_table &, permit_ip_record *)> apply;
        Effects expected;
    };
    const auto command = [](module_table &m, permit_ip_record *r) { return call<nat_command_fn>(m.command, r); };
    const Row rows[] = {
        {"the default record accepts everything", host(0, "0.0.0.0", "255.255.255.255", 31), command,
         {"",
          "/sbin/iptables -t filter -A permitip_http_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
          "/sbin/iptables -t filter -A permitip_http_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n"
          "/sbin/iptables -t filter -A permitip_https_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
          "/sbin/iptables -t filter -A permitip_https_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n"
          "/sbin/iptables -t filter -A permitip_ping_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
          "/sbin/iptables -t filter -A permitip_ping_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n"
          "/sbin/iptables -t filter -A permitip_telnet_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
          "/sbin/iptables -t filter -A permitip_telnet_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n"
          "/sbin/iptables -t filter -A permitip_ssh_in -s 0.0.0.0/255.255.255.255 -j tlog_accept\n"
          "/sbin/iptables -t filter -A permitip_ssh_out -d 0.0.0.0/255.255.255.255 -j tlog_accept\n",
          ""}},
        {"HTTP only, removed", host(0, "10.1.0.0", "255.255.0.0", 2),
         [](module_table &m, permit_ip_record *r) { return call<nat_command_fn>(m.discommand, r); },
         {"",
          "/sbin/iptables -t filter -D permitip_http_in -s 10.1.0.0/255.255.0.0 -j tlog_accept\n"
          "/sbin/iptables -t filter -D permitip_http_out -d 10.1.0.0/255.255.0.0 -j tlog_accept\n"
          "/sbin/iptables -t filter -D permitip_https_in -s 10.1.0.0/255.255.0.0 -j tlog_drop\n"
          "/sbin/iptables -t filter -D permitip_https_out -d 10.1.0.0/255.255.0.0 -j tlog_drop\n"
          "/sbin/iptables -t filter -D permitip_ping_in -s 10.1.0.0/255.255.0.0 -j tlog_drop\n"
          "/sbin/iptables -t filter -D permitip_ping_out -d 10.1.0.0/255.255.0.0 -j tlog_drop\n"
          "/sbin/iptables -t filter -D permitip_telnet_in -s 10.1.0.0/255.255.0.0 -j tlog_drop\n"
          "/sbin/iptables -t filter -D permitip_telnet_out -d 10.1.0.0/255.255.0.0 -j tlog_drop\n"
          "/sbin/iptables -t filter -D permitip_ssh_in -s 10.1.0.0/255.255.0.0 -j tlog_drop\n"
          "/sbin/iptables -t filter -D permitip_ssh_out -d 10.1.0.0/255.255.0.0 -j tlog_drop\n",
          ""}},
        {"PING and SSH over IPv6, replaced at position 3", host(1, "2001:db8::1", "64", 17),
         [](module_table &m, permit_ip_record *r) { return call<permit_ip_recommand_fn>(m.recommand, r, 3); },
         {"", "",
          "/sbin/ip6tables -t filter -R permitip_http_in 3 -s 2001:db8::1/64 -j tlog_drop\n"
          "/sbin/ip6tables -t filter -R permitip_http_out 3 -d 2001:db8::1/64 -j tlog_drop\n"
          "/sbin/ip6tables -t filter -R permitip_https_in 3 -s 2001:db8::1/64 -j tlog_drop\n"
          "/sbin/ip6tables -t filter -R permitip_https_out 3 -d 2001:db8::1/64 -j tlog_drop\n"
          "/sbin/ip6tables -t filter -R permitip_ping_in 3 -s 2001:db8::1/64 -j tlog_accept\n"
          "/sbin/ip6tables -t filter -R permitip_ping_out 3 -d 2001:db8::1/64 -j tlog_accept\n"
          "/sbin/ip6tables -t filter -R permitip_telnet_in 3 -s 2001:db8::1/64 -j tlog_drop\n"
          "/sbin/ip6tables -t filter -R permitip_telnet_out 3 -d 2001:db8::1/64 -j tlog_drop\n"
          "/sbin/ip6tables -t filter -R permitip_ssh_in 3 -s 2001:db8::1/64 -j tlog_accept\n"
          "/sbin/ip6tables -t filter -R permitip_ssh_out 3 -d 2001:db8::1/64 -j tlog_accept\n"}},
        {"an unknown family applies nothing", host(2, "10.0.0.1", "24", 31), command, {}},
        {"boot without the flag applies nothing", host(0, "10.0.0.1", "24", 31),
         [](module_table &m, permit_ip_record *r) { return call<nat_initial_system_cmd_fn>(m.initial_system_cmd, r, 1, 0); },
         {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        permit_ip_record rec = row.rec;
        row.apply(t.table(), &rec);
        EXPECT_EQ(box.take(), row.expected);
    }
    EXPECT_EQ(call<nat_command_fn>(t->command, nullptr), -1);
}

TEST(PermitIp, LinesNamesAndTheDuplicateTest) {
    ModuleBox box;
    Module t(permit_ip_register, permit_ip_unregister);
    record_file *h = t.open(1);
    permit_ip_record rec{};
    t->set_default(&rec, nullptr);
    EXPECT_TRUE(matches(rec.id, "[0-9]{14}")) << rec.id;
    permit_ip_record a = host(0, "192.168.1.0", "255.255.255.0", 6), b = host(1, "fe80::1", "10", 0);
    std::snprintf(b.name, sizeof b.name, "lab\r<br>$(x) & <b>");
    std::snprintf(b.id, sizeof b.id, "20260102030406");
    ASSERT_EQ(t->add(h, &a), 0);
    ASSERT_EQ(t->add(h, &b), 0);
    t.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/permit_ip.conf"),
              "\"admin \\\"pc\\\"\" 20260102030405 0 192.168.1.0 255.255.255.0 6 \n"
              "\"lab//n//n$(x) & <b>\" 20260102030406 1 fe80::1 10 0 \n");

    h = t.open(0);
    permit_ip_record back{};
    ASSERT_EQ(t->getnum(h, &back, 1), &back);
    EXPECT_EQ(0, std::memcmp(&back, &a, sizeof a));
    // Its own line is itself; another line with its name is a duplicate.
    struct Case {
        const char *name, *id;
        int line, expected;
    } cases[] = {{"admin \"pc\"", "20260102030405", 1, 0}, {"admin \"pc\"", "20260102030405", 2, 1},
                 {"admin \"pc\"", "20260102030499", 1, 1}, {"admin \"pc\"", "20260102030405", 0, 1},
                 {"new", "20260102030499", 0, 0}};
    for (const Case &c : cases) {
        permit_ip_record r = host(0, "1.1.1.1", "32", 1);
        std::snprintf(r.name, sizeof r.name, "%s", c.name);
        std::snprintf(r.id, sizeof r.id, "%s", c.id);
        EXPECT_EQ(t->isTheSame(h, &r, c.line), c.expected) << c.name << " at " << c.line;
    }
    EXPECT_EQ(t->isTheSame(nullptr, &rec, 0), -1);
}

TEST(PermitIp, FormRefusesWhatIsNoAddressOrMask) {
    ModuleBox box;
    Module t(permit_ip_register, permit_ip_unregister);
    struct Row {
        std::vector<std::pair<std::string, std::string>> form;
        const char *line;  // the record as its line, id left out
    } rows[] = {
        {{{"pname", "web"}, {"ip", "10.0.0.0"}, {"nm", "255.0.0.0"}, {"phttp", "2"}, {"pssh", "16"}},
         "\"web\" 0 10.0.0.0 255.0.0.0 18 "},
        {{{"ipv", "1"}, {"ip", "2001:db8::"}, {"nm", "48"}, {"pping", "1"}}, "\"^o^\" 1 2001:db8:: 48 1 "},
        {{{"ipv", "1"}, {"ip", "10.0.0.1"}, {"nm", "129"}}, "\"^o^\" 1 0.0.0.0 255.255.255.255 0 "},
        {{{"ip", "1.2.3.4; touch /tmp/x"}, {"nm", "24 -j ACCEPT"}, {"id", "2026;"}}, "\"^o^\" 0 0.0.0.0 255.255.255.255 0 "},
    };
    record_file *h = t.open(1);
    for (const Row &row : rows) {
        submit_form(row.form);
        permit_ip_record rec{};
        call<nat_cgiParam_fn>(t->cgiParam, &rec);
        EXPECT_TRUE(matches(rec.id, "[0-9]{14}")) << rec.id;
        std::snprintf(rec.id, sizeof rec.id, "X");
        ASSERT_EQ(t->modify(h, &rec, 1), 0);
        std::string line = my_GetNumData(h, 1);
        EXPECT_EQ(line.erase(line.find(" X "), 2), row.line);
    }
    qFree();
}
