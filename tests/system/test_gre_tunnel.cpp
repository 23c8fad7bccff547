// GRE tunnels: the stored line, the form, the chains and marking rules.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "support/module_harness.h"

using namespace testing_support;
using record = gre_tunnel_record;

namespace {

std::string chains(const std::string &id, const char *option) {
    std::string lines;
    for (const char *part : {"mangle CSRC", "mangle CDST", "nat CSRC", "nat CDST", "mangle SSRC", "mangle SDST",
                             "nat SSRC", "nat SDST"}) {
        const std::string p = part;
        lines += "/sbin/iptables -t " + p.substr(0, p.find(' ')) + " " + option + " GRETunnel_" + id + p.substr(p.find(' ') + 1) + "\n";
    }
    return lines;
}

std::string marks(const std::string &id, const std::string &device) {
    std::string lines;
    for (const char *table : {"mangle", "nat"})
        lines += std::string("/sbin/iptables -t ") + table + " -A GRETunnel_" + id + "SSRC -i " + device +
                 " -m condition --condition GRETunnel_" + id + " -j UTMMARK --set-type policy --or-mark 0x20\n" +
                 "/sbin/iptables -t " + table + " -A GRETunnel_" + id + "SDST -m condition --condition GRETunnel_" +
                 id + " -j UTMMARK --set-type policy --or-mark 0x40\n";
    return lines;
}

}  // namespace

TEST(GreTunnel, FormLineAndRules) {
    ModuleBox box;
    Module m(gre_tunnel_register, gre_tunnel_unregister);
    record r;
    m->clear(&r);
    const time_t before = std::time(nullptr);
    m->set_default(&r, nullptr);
    char now[10];
    std::snprintf(now, sizeof now, "%x", static_cast<unsigned>(before));
    EXPECT_TRUE(std::strcmp(r.mark, now) >= 0) << r.mark;
    EXPECT_EQ(r.wan_num, 1);
    EXPECT_EQ(r.timeout, 30);

    use_form({{"name", "to branch"}, {"wan_num", "2"}, {"remote_host", std::string(600, 'h')},
              {"local_gre_interface", "10.0.0.1"}, {"local_gre_mask", "255.255.255.252"},
              {"remote_gre_interface", "10.0.0.2"}, {"remote_gre_mask", "255.255.255.252"}, {"mark", "5f3a1c2b"},
              {"id", "20240101000000"}, {"duration", "7"}, {"timeout", "60"}});
    ASSERT_NE(call<void *(record *)>(m->cgiParam, &r), nullptr);
    EXPECT_EQ(std::string(r.remote_host), std::string(511, 'h'));
    EXPECT_STREQ(r.chain, "GRETunnel_20240101000000");
    std::strcpy(r.remote_host, "gw.example");
    ASSERT_NE(m.open(1), nullptr);
    ASSERT_EQ(m->add(static_cast<record_file *>(m->handle), &r), 0);
    m.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/gre_tunnel.conf"),
              "\"to branch\" 20240101000000 2 \"gw.example\" \"10.0.0.1\" \"255.255.255.252\" \"10.0.0.2\" "
              "\"255.255.255.252\" \"5f3a1c2b\" \"7\" \"60\" \n");
    record back{};
    ASSERT_NE(m->getnum(m.open(0), &back, 1), nullptr);
    EXPECT_EQ(back.duration, 7);
    EXPECT_EQ(back.timeout, 60);
    EXPECT_EQ(m->isTheSame(static_cast<record_file *>(m->handle), const_cast<char *>("to branch"), 0), 1);
    EXPECT_EQ(m->isTheSame(static_cast<record_file *>(m->handle), const_cast<char *>("to branch"), 1), 0);
    m.close();
    box.take();

    box.write("/var/log/gretunnel/20240101000000", "4242\n");
    call<void *(record *)>(m->command, &back);
    EXPECT_EQ(box.take(), (Effects{"", chains("20240101000000", "-N") + marks("20240101000000", "WAN2_T5f3a1c2b"), ""}));
    call<void *(record *)>(m->discommand, &back);
    EXPECT_EQ(box.take(),
              (Effects{"kill 4242\n", chains("20240101000000", "-F") + chains("20240101000000", "-X"), ""}));
    record moved = back;
    moved.wan_num = 3;
    std::strcpy(moved.chain, "GRETunnel_20240101000009");
    call<void *(record *, record *)>(m->recommand, &moved, &back);
    EXPECT_EQ(box.take(), (Effects{"kill 4242\n", chains("20240101000000", "-F") + marks("20240101000009", "WAN3_T5f3a1c2b"), ""}));

    // An identifier names a file: one that is no plain word is refused.
    use_form({{"id", "../x"}});
    EXPECT_EQ(call<void *(record *)>(m->cgiParam, &back), nullptr);
    use_form({});
}
