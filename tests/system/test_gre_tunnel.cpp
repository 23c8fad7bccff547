// GRE tunnels: the stored line, the form, the chains and marking rules.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "support/module_harness.h"

using namespace testing_support;
using record = gre_tunnel_record;

TEST(GreTunnel, FormLineAndRules) {
    ModuleBox box;
    Module m(gre_tunnel_register, gre_tunnel_unregister);
    record r;
    m->clear(&r);
    char now[10];
    std::snprintf(now, sizeof now, "%x", static_cast<unsigned>(std::time(nullptr)));
    m->set_default(&r, nullptr);
    EXPECT_GE(std::strcmp(r.mark, now), 0) << "the mark is the time of the default";
    EXPECT_EQ(r.timeout, 30);

    submit_form({{"name", "to branch"},
              {"wan_num", "2"},
              {"remote_host", std::string(600, 'h')},
              {"local_gre_interface", "10.0.0.1"},
              {"local_gre_mask", "255.255.255.252"},
              {"remote_gre_interface", "10.0.0.2"},
              {"remote_gre_mask", "255.255.255.252"},
              {"mark", "5f3a1c2b"},
              {"id", "20240101000000"},
              {"duration", "7"},
              {"timeout", "60"}});
    ASSERT_NE(call<void *(record *)>(m->cgiParam, &r), nullptr);
    EXPECT_EQ(std::string(r.remote_host), std::string(511, 'h'));
    std::strcpy(r.remote_host, "gw.example");
    m->add(m.open(1), &r);
    m.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/gre_tunnel.conf"),
              "\"to branch\" 20240101000000 2 \"gw.example\" \"10.0.0.1\" \"255.255.255.252\" \"10.0.0.2\" "
              "\"255.255.255.252\" \"5f3a1c2b\" \"7\" \"60\" \n");
    record back{};
    ASSERT_NE(m->getnum(m.open(0), &back, 1), nullptr);
    EXPECT_EQ(back.duration * 100 + back.timeout, 760);
    EXPECT_STREQ(back.chain, "GRETunnel_20240101000000");
    EXPECT_EQ(m->isTheSame(static_cast<record_file *>(m->handle), const_cast<char *>("to branch"), 0), 1);
    box.take();

    const std::string c = "GRETunnel_20240101000000";
    box.write("/var/log/gretunnel/20240101000000", "4242\n");
    call<void *(record *)>(m->command, &back);
    EXPECT_EQ(box.take(), (Effects{"", chain_lines(c, "-N", kTunnelChainOrder) + mark_lines(c, "WAN2_T5f3a1c2b"), ""}));
    call<void *(record *)>(m->discommand, &back);
    EXPECT_EQ(box.take(),
              (Effects{"kill 4242\n", chain_lines(c, "-F", kTunnelChainOrder) + chain_lines(c, "-X", kTunnelChainOrder),
                       ""}));
    record moved = back;
    moved.wan_num = 3;
    std::strcpy(moved.chain, "GRETunnel_9");
    call<void *(record *, record *)>(m->recommand, &moved, &back);
    EXPECT_EQ(box.take(),
              (Effects{"kill 4242\n",
                       chain_lines(c, "-F", kTunnelChainOrder) + mark_lines("GRETunnel_9", "WAN3_T5f3a1c2b"), ""}));

    submit_form({{"id", "../x"}});
    EXPECT_EQ(call<void *(record *)>(m->cgiParam, &back), nullptr) << "an identifier names a file";
    submit_form({});
}
