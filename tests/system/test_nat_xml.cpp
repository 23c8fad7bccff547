// The XML of the address translation, management access and service modules: their exports, and records that
// come back the same through an import or an XML request.  Two servers take part, groups have two members.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "support/module_harness.h"
#include "support/module_xml_harness.h"
#include "support/request.h"

using namespace testing_support;

// Every module's export, texts escaped; the same document again once the emptied files (which export nothing) take
// it back by an import (permit_ip, given a fresh identifier its export lacks; service) or an XML request then added.
TEST(NatXml, ExportsComeBackTheSame) {
    ModuleBox box_;
    std::strcpy(entry_num[69], "2");
    std::strcpy(entry_num[17], "2");
    for (const char *group : {"permit_ip", "mapped_ip", "virtual_ip", "service"})
        box_.write(std::string("/etc/language/eng/") + group, "X \"substituted\"\n");
    const std::tuple<module_table *(*)(), void (*)(module_table *), std::map<const char *, const char *>, std::string>
        rows[] = {
        {permit_ip_register, permit_ip_unregister,
         {{"permit_ip", "\"adm \\\"1\\\" <b>&${X}\" 20260102030405 1 fe80::1 64 18 \n"}},
         "<name value=\"adm \\&quot;1\\&quot; &lt;b&gt;&amp;&#36;{X}\" /><ipv_mode value=\"IPv6\" />"
         "<ipaddr value=\"fe80::1\" /><netmask value=\"64\" /><security><PING value=\"0\" /><HTTP value=\"1\" />"
         "<HTTPS value=\"0\" /><TELNET value=\"0\" /><SSH value=\"1\" /></security>"},
        {mapped_ip_register, mapped_ip_unregister,
         {{"mapped_ip", "\"m //n\\\"1\\\" <b>&${X}\" 20260102030406 1A 1.2.3.4 WAN1:1a 10.0.0.5 LAN1 1 2 \n"}},
         "<name value=\"m //n\\&quot;1\\&quot; &lt;b&gt;&amp;&#36;{X}\" /><real_ip value=\"1.2.3.4\" />"
         "<real_device_name value=\"WAN1:1a\" /><mapped_ip value=\"10.0.0.5\" /><mapped_device_name value=\"LAN1\" />"
         "<iswan value=\"1\" /><priority value=\"2\" />"},
        {virtual_ip_register, virtual_ip_unregister,
         {{"virtual_ip", "\"v\" 20260102030407 0 1.2.3.5 ^o^ WAN1 svc_20260101000001 2 10.0.0.1 10.0.0.2 0.0.0.0 "
           "0.0.0.0 LAN1 0 \"10.0.0.1,10.0.0.2\" 1 3 \n"}},
         "<name value=\"v\" /><real_ip value=\"1.2.3.5\" /><real_port value=\"\" /><real_device_name value=\"WAN1\" />"
         "<service_chain value=\"svc_20260101000001\" /><operating_mode value=\"2\" />"
         "<virtual_ip_0 value=\"10.0.0.1\" /><virtual_ip_1 value=\"10.0.0.2\" /><virtual_ip_2 value=\"0.0.0.0\" />"
         "<virtual_ip_3 value=\"0.0.0.0\" /><virtual_device_name value=\"LAN1\" /><iswan value=\"0\" />"
         "<virtual_ip_x value=\"10.0.0.1,10.0.0.2\" /><health_check value=\"1\" /><priority value=\"3\" />"},
        {virtual_ip_group_register, virtual_ip_group_unregister,  // member 2 has no line
         {{"virtual_ip_group", "\"g <b>\" 20260102030408 0 11 LAN1 \n"}},
         "<name value=\"g &lt;b&gt;\" /><iname value=\"LAN1\" /><custom_member><name value=\"v\" /></custom_member>"},
        {service_register, service_unregister,
         {{"service_custom", "\"s &\" 20260101000001 1 tcp 80 80 udp 53 54 \n"},
          {"service_group", "\"sg\" 20260101000002 2 svc_20260101000001 \n"}},
         "<name value=\"s &amp;\" /><id value=\"20260101000001\" /><kind value=\"1\" /><protocol_0 value=\"tcp\" />"
         "<first_port_0 value=\"80\" /><last_port_0 value=\"80\" /><protocol_1 value=\"udp\" />"
         "<first_port_1 value=\"53\" /><last_port_1 value=\"54\" /></_entry><_entry><name value=\"sg\" />"
         "<id value=\"20260101000002\" /><kind value=\"2\" /><member_0 value=\"svc_20260101000001\" />"},
    };
    const auto file = [](const char *name) { return std::string("/etc/sysconfig/.firewall/") + name + ".conf"; };
    for (const auto &row : rows)
        for (auto [name, text] : std::get<2>(row)) box_.write(file(name), text);
    for (const auto &[register_fn, unregister_fn, files, entries] : rows) {
        Module t(register_fn, unregister_fn);
        SCOPED_TRACE(t->name);
        const std::string document = export_of(t.table(), "f");
        EXPECT_EQ(document, "<_function value=\"f\" method=\"add\"><_entry>" + entries + "</_entry></_function>");
        for (auto [name, text] : files) box_.write(file(name), "");
        EXPECT_EQ(export_of(t.table(), "f"), "");
        if (t->import_xmlConf) {
            ASSERT_EQ(import_into(t.table(), document), 0);
        } else {
            std::vector<char> back(
                std::max({sizeof(mapped_ip_record), sizeof(virtual_ip_record), sizeof(virtual_ip_group_record)}));
            box_.write("/var/tmp/request.xml", document);
            t->set_default(back.data(), nullptr);
            ASSERT_EQ(t->xmlParam(nullptr, back.data(), "/var/tmp/request.xml"), back.data());
            EXPECT_FALSE(box_.exists("/var/tmp/request.xml"));
            ASSERT_EQ(t->add(t.open(1), back.data()), 0);
            t.close();
        }
        EXPECT_EQ(export_of(t.table(), "f"), document);
    }
    for (auto [name, text] : std::get<2>(rows[4])) EXPECT_EQ(box_.read(file(name)), text);
    const std::string permit = box_.read(file("permit_ip"));
    EXPECT_TRUE(matches(permit, "\"adm \\\\\"1\\\\\" <b>&\\$\\{X\\}\" 2[0-9]{13} 1 fe80::1 64 18 \n")) << permit;
    EXPECT_EQ(permit.find("20260102030405"), std::string::npos);
    Module hosts(permit_ip_register, permit_ip_unregister);  // an entry without <security> opens no service
    ASSERT_EQ(import_into(hosts.table(), "<_function><_entry><name value=\"closed\" /></_entry></_function>"), 0);
    EXPECT_TRUE(matches(box_.read(file("permit_ip")), "\"closed\" [0-9]{14} 0 0.0.0.0 255.255.255.255 0 \n"));
    // A request names a group's members by their characters, as many as the capacity takes.
    Module groups(virtual_ip_group_register, virtual_ip_group_unregister);
    virtual_ip_group_record g{};
    groups->set_default(&g, nullptr);
    box_.write("/var/tmp/request.xml",
               "<?xml version=\"1.0\"?><a><custom_member value=\"101\" /><id value=\"20260102030405\" /></a>");
    ASSERT_EQ(groups->xmlParam(nullptr, &g, "/var/tmp/request.xml"), &g);
    EXPECT_EQ(std::string(g.members) + " " + g.chain + " " + g.mark, "10 vipgroup_20260102030405 695735A5");
}
