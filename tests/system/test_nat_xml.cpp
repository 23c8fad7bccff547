// The XML of the address translation, management access and service
// modules: their exports, and records that come back the same through an
// import or an XML request.  Two servers take part, groups have two members.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "support/module_harness.h"
#include "support/module_xml_harness.h"

using namespace testing_support;

namespace {

class NatXml : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(entry_num[69], "2");
        std::strcpy(entry_num[17], "2");
        for (const char *group : {"permit_ip", "mapped_ip", "virtual_ip", "service"})
            box_.write(std::string("/etc/language/eng/") + group, "X \"substituted\"\n");
    }
    ModuleBox box_;
};

}  // namespace

// Every module's export, texts escaped; an empty file exports nothing.
TEST_F(NatXml, ExportsOfEveryModule) {
    const std::pair<const char *, const char *> files[] = {
        {"permit_ip", "\"adm \\\"1\\\" <b>&${X}\" 20260102030405 1 fe80::1 64 18 \n"},
        {"mapped_ip", "\"m\" 20260102030406 1A 1.2.3.4 WAN1:1a 10.0.0.5 LAN1 1 2 \n"},
        {"virtual_ip",
         "\"v\" 20260102030407 0 1.2.3.5 ^o^ WAN1 svc_20260101000001 2 10.0.0.1 10.0.0.2 0.0.0.0 "
         "0.0.0.0 LAN1 0 \"10.0.0.1,10.0.0.2\" 1 3 \n"},
        {"virtual_ip_group", "\"g\" 20260102030408 0 11 LAN1 \n"},
        {"service_custom", "\"s\" 20260101000001 1 tcp 80 80 \n"},
        {"service_group", "\"sg\" 20260101000002 2 svc_20260101000001 \n"}};
    for (auto [name, text] : files) box_.write(std::string("/etc/sysconfig/.firewall/") + name + ".conf", text);
    const std::pair<module_table *(*)(), std::string> rows[] = {
        {permit_ip_register,
         "<name value=\"adm \\&quot;1\\&quot; &lt;b&gt;&amp;&#36;{X}\" /><ipv_mode value=\"IPv6\" />"
         "<ipaddr value=\"fe80::1\" /><netmask value=\"64\" /><security><PING value=\"0\" /><HTTP value=\"1\" />"
         "<HTTPS value=\"0\" /><TELNET value=\"0\" /><SSH value=\"1\" /></security>"},
        {mapped_ip_register,
         "<name value=\"m\" /><real_ip value=\"1.2.3.4\" /><real_device_name value=\"WAN1:1a\" />"
         "<mapped_ip value=\"10.0.0.5\" /><mapped_device_name value=\"LAN1\" /><iswan value=\"1\" />"
         "<priority value=\"2\" />"},
        {virtual_ip_register,
         "<name value=\"v\" /><real_ip value=\"1.2.3.5\" /><real_port value=\"\" /><real_device_name value=\"WAN1\" />"
         "<service_chain value=\"svc_20260101000001\" /><operating_mode value=\"2\" /><virtual_ip_0 value=\"10.0.0.1\" "
         "/>"
         "<virtual_ip_1 value=\"10.0.0.2\" /><virtual_ip_2 value=\"0.0.0.0\" /><virtual_ip_3 value=\"0.0.0.0\" />"
         "<virtual_device_name value=\"LAN1\" /><iswan value=\"0\" /><virtual_ip_x value=\"10.0.0.1,10.0.0.2\" />"
         "<health_check value=\"1\" /><priority value=\"3\" />"},
        {virtual_ip_group_register,  // member 2 has no line
         "<name value=\"g\" /><iname value=\"LAN1\" /><custom_member><name value=\"v\" /></custom_member>"},
        {service_register,
         "<name value=\"s\" /><id value=\"20260101000001\" /><kind value=\"1\" /><protocol_0 value=\"tcp\" />"
         "<first_port_0 value=\"80\" /><last_port_0 value=\"80\" /></_entry>"
         "<_entry><name value=\"sg\" /><id value=\"20260101000002\" /><kind value=\"2\" />"
         "<member_0 value=\"svc_20260101000001\" />"},
    };
    for (const auto &[register_fn, entries] : rows) {
        module_table *t = register_fn();
        EXPECT_EQ(export_of(*t, "f"),
                  "<_function value=\"f\" method=\"add\"><_entry>" + entries + "</_entry></_function>")
            << t->name;
        free(t);
    }
    box_.write("/etc/sysconfig/.firewall/mapped_ip.conf", "");
    Module mapped(mapped_ip_register, mapped_ip_unregister);
    EXPECT_EQ(export_of(mapped.table(), "f"), "");
}

// A record stored and read back comes back as the same line through the
// export and an import (service; permit_ip, whose export has no identifier,
// gets a fresh one) or an XML request (the others: from defaults, with the
// record's identifier and mark, which the export leaves out).
TEST_F(NatXml, RecordsComeBackTheSame) {
    constexpr std::size_t kNone = ~std::size_t{0};
    const struct {
        module_table *(*register_fn)();
        void (*unregister_fn)(module_table *);
        std::size_t size, name_at, id_at, mark_at;
        const char *line;
    } rows[] = {
        {permit_ip_register, permit_ip_unregister, sizeof(permit_ip_record), offsetof(permit_ip_record, name),
         offsetof(permit_ip_record, id), kNone, "\"N\" 20260102030405 1 fe80:: 10 5 "},
        {service_register, service_unregister, sizeof(service_record), offsetof(service_record, name), kNone, kNone,
         "\"N\" 20260101000001 1 udp 53 54 "},
        {mapped_ip_register, mapped_ip_unregister, sizeof(mapped_ip_record), offsetof(mapped_ip_record, name),
         offsetof(mapped_ip_record, id), offsetof(mapped_ip_record, mark),
         "\"N\" 20260102030406 695735A6 1.2.3.4 WAN1:1a 10.0.0.5 LAN1 0 4 "},
        {virtual_ip_register, virtual_ip_unregister, sizeof(virtual_ip_record), offsetof(virtual_ip_record, name),
         offsetof(virtual_ip_record, id), offsetof(virtual_ip_record, mark),
         "\"N\" 20260102030407 0 1.2.3.5 8080 WAN1 svc_1 2 0.0.0.0 10.0.0.2 0.0.0.0 0.0.0.0 LAN1 0 "
         "\"0.0.0.0,10.0.0.2\" 2 2 "},
        {virtual_ip_group_register, virtual_ip_group_unregister, sizeof(virtual_ip_group_record),
         offsetof(virtual_ip_group_record, name), offsetof(virtual_ip_group_record, id),
         offsetof(virtual_ip_group_record, mark), "\"N\" 20260102030408 0 00 DMZ1 "},
    };
    for (const auto &row : rows) {
        Module t(row.register_fn, row.unregister_fn);
        void *const selector = reinterpret_cast<void *>(SERVICE_CUSTOM);  // the others have one file
        const auto line_of = [&](std::vector<char> &rec) {
            record_file *h = t.open(1, selector);
            EXPECT_EQ(t->modify(h, rec.data(), 1), 0);
            std::string line = my_GetNumData(h, 1);
            t->getnum(h, rec.data(), 1);
            t.close();
            return line;
        };
        for (const char *name : {"a \"q\" \\ b", "x<br>y\rz", "&<>${X}"}) {
            SCOPED_TRACE(std::string(t->name) + ": " + name);
            std::vector<char> rec(row.size), back(row.size);
            std::string text = row.line;
            t->parse(text.data(), rec.data());
            std::snprintf(rec.data() + row.name_at, 84, "%s", name);
            const std::string stored = line_of(rec);
            if (row.mark_at == kNone) {  // imported
                ASSERT_EQ(import_into(t.table(), export_of(t.table(), "f")), 0);
                ASSERT_EQ(t->getnum(t.open(0, selector), back.data(), 1), back.data());
            } else {
                box_.write("/var/tmp/request.xml", export_of(t.table(), "f"));
                t->set_default(back.data(), nullptr);
                ASSERT_EQ(t->xmlParam(nullptr, back.data(), "/var/tmp/request.xml"), back.data());
                EXPECT_FALSE(box_.exists("/var/tmp/request.xml"));
                std::memcpy(back.data() + row.mark_at, rec.data() + row.mark_at, 10);
            }
            if (row.id_at != kNone) {
                EXPECT_TRUE(row.mark_at != kNone || std::strcmp(back.data() + row.id_at, rec.data() + row.id_at) != 0);
                std::memcpy(back.data() + row.id_at, rec.data() + row.id_at, 21);
            }
            EXPECT_EQ(line_of(back), stored);
        }
    }
    // A request names a group's members by their characters.
    Module groups(virtual_ip_group_register, virtual_ip_group_unregister);
    virtual_ip_group_record g{};
    groups->set_default(&g, nullptr);
    box_.write("/var/tmp/request.xml",
               "<?xml version=\"1.0\"?><a><custom_member value=\"1x1\" /><id value=\"20260102030405\" /></a>");
    groups->xmlParam(nullptr, &g, "/var/tmp/request.xml");
    EXPECT_STREQ(g.members, "10");
    EXPECT_STREQ(g.chain, "vipgroup_20260102030405");
}
