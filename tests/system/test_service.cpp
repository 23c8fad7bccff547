// The service objects: custom services and groups in their two files, their
// chains in the mangle and nat tables, the protocol lists that virtual
// servers read, and a removal that takes a service out of its groups.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/module_harness.h"

using namespace testing_support;

namespace {

const char *const kCustom = "/etc/sysconfig/.firewall/service_custom.conf";
const char *const kGroup = "/etc/sysconfig/.firewall/service_group.conf";

std::string protocols(const char *chain) {
    std::string text;
    service_protocol *list = getProtocolInfoBychain(chain);
    for (const service_protocol *p = list; p; p = p->next) text += std::string(p->protocol) + " " + p->first_port + "-" + p->last_port + ";";
    freeProtocolInfo(list);
    return text;
}

}  // namespace

TEST(Service, FilesChainsProtocolListsAndRemoval) {
    ModuleBox box;
    box.write(kCustom,
              "\"web\" 20260101000001 1 tcp 80 80 udp 8000 8010 \n"
              "\"any \\\"x\\\"\" 20260101000002 1 all 0 0 icmp 0 0 tcp 22 23 \n");
    box.write(kGroup, "\"both\" 20260101000003 2 svc_20260101000001 svc_20260101000009 svc_20260101000002 \n");
    Module t(service_register, service_unregister);
    EXPECT_EQ(t.open(0, reinterpret_cast<void *>(3)), nullptr);
    record_file *h = t.open(0, reinterpret_cast<void *>(SERVICE_GROUP));
    service_record group{};
    ASSERT_EQ(t->getline(h, &group, nullptr, 1), 1);
    EXPECT_STREQ(group.chain, "svcgroup_20260101000003");

    EXPECT_EQ(protocols("svc_20260101000001"), "tcp 80-80;udp 8000-8010;");
    EXPECT_EQ(protocols("svcgroup_20260101000003"), "tcp 80-80;udp 8000-8010;all 0-0;icmp 0-0;tcp 22-23;");
    EXPECT_EQ(protocols("svc_20260101000009"), "");

    ASSERT_EQ(call<nat_command_fn>(t->command, &group), 0);
    const std::string members[] = {"svc_20260101000001", "svc_20260101000009", "svc_20260101000002"};
    std::string expected;
    for (const char *table : {"mangle", "nat"}) {
        expected += std::string("/sbin/iptables -t ") + table + " -N svcgroup_20260101000003\n";
        for (const std::string &m : members)
            expected += std::string("/sbin/iptables -t ") + table + " -A svcgroup_20260101000003 -j " + m + "\n";
    }
    EXPECT_EQ(box.take(), (Effects{"", expected, ""}));

    h = t.open(1, reinterpret_cast<void *>(SERVICE_CUSTOM));
    service_record any{};
    ASSERT_EQ(t->getnum(h, &any, 2), &any);
    ASSERT_EQ(call<nat_command_fn>(t->recommand, &any), 0);
    EXPECT_EQ(box.take(), (Effects{"",
                                   "/sbin/iptables -t mangle -F svc_20260101000002\n"
                                   "/sbin/iptables -t mangle -A svc_20260101000002 -j UTMMARK --set-type policy --or-mark 0x4\n"
                                   "/sbin/iptables -t mangle -A svc_20260101000002 -p icmp -j UTMMARK --set-type policy --or-mark 0x4\n"
                                   "/sbin/iptables -t mangle -A svc_20260101000002 -p tcp --dport 22:23 -j UTMMARK --set-type policy --or-mark 0x4\n"
                                   "/sbin/iptables -t nat -F svc_20260101000002\n"
                                   "/sbin/iptables -t nat -A svc_20260101000002 -j UTMMARK --set-type policy --or-mark 0x4\n"
                                   "/sbin/iptables -t nat -A svc_20260101000002 -p icmp -j UTMMARK --set-type policy --or-mark 0x4\n"
                                   "/sbin/iptables -t nat -A svc_20260101000002 -p tcp --dport 22:23 -j UTMMARK --set-type policy --or-mark 0x4\n",
                                   ""}));

    // The first service goes: the group loses it and its chain follows.
    ASSERT_EQ(t->remove(h, 1), 0);
    t.close();
    EXPECT_EQ(box.read(kCustom), "\"any \\\"x\\\"\" 20260101000002 1 all 0 0 icmp 0 0 tcp 22 23 \n");
    EXPECT_EQ(box.read(kGroup), "\"both\" 20260101000003 2 svc_20260101000009 svc_20260101000002 \n");
    const Effects removed = box.take();
    EXPECT_EQ(removed.ipv4,
              "/sbin/iptables -t mangle -F svcgroup_20260101000003\n"
              "/sbin/iptables -t mangle -A svcgroup_20260101000003 -j svc_20260101000009\n"
              "/sbin/iptables -t mangle -A svcgroup_20260101000003 -j svc_20260101000002\n"
              "/sbin/iptables -t nat -F svcgroup_20260101000003\n"
              "/sbin/iptables -t nat -A svcgroup_20260101000003 -j svc_20260101000009\n"
              "/sbin/iptables -t nat -A svcgroup_20260101000003 -j svc_20260101000002\n");
}
