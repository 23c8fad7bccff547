// The XML of the address translation, management access and service
// modules: their exports, and records that come back the same through an
// import or an XML request.  Two servers take part, groups have two members.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/capture.h"
#include "support/module_harness.h"

using namespace testing_support;

namespace {

std::string export_of(const module_table &t) {
    return captured_stdout([&] {
        call<nat_xmlConf_fn>(t.xmlConf, "f", "");
        std::fflush(stdout);
    });
}

// The "_function" element of an exported text.
class Function {
public:
    explicit Function(const std::string &text)
        : top_(my_mxmlLoadString(nullptr, ("<?xml version=\"1.0\"?>" + text).c_str(), nullptr)) {}
    ~Function() {
        if (top_) my_mxmlDelete(top_);
    }
    xml_node *get() const { return top_ ? my_mxmlFindElement(top_, top_, "_function", nullptr, nullptr, MY_XML_DESCEND) : nullptr; }

private:
    xml_node *top_;
};

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

const char *const kNames[] = {"a \"q\" \\ b", "x<br>y\rz", "&<>${X}"};

}  // namespace

TEST_F(NatXml, ExportsOfEveryModule) {
    box_.write("/etc/sysconfig/.firewall/permit_ip.conf", "\"adm \\\"1\\\" <b>&${X}\" 20260102030405 1 fe80::1 64 18 \n");
    box_.write("/etc/sysconfig/.firewall/mapped_ip.conf", "\"m\" 20260102030406 1A 1.2.3.4 WAN1:1a 10.0.0.5 LAN1 1 2 \n");
    box_.write("/etc/sysconfig/.firewall/virtual_ip.conf",
               "\"v\" 20260102030407 0 1.2.3.5 ^o^ WAN1 svc_20260101000001 2 10.0.0.1 10.0.0.2 0.0.0.0 0.0.0.0 LAN1 0 "
               "\"10.0.0.1,10.0.0.2\" 1 3 \n");
    box_.write("/etc/sysconfig/.firewall/virtual_ip_group.conf", "\"g\" 20260102030408 0 11 LAN1 \n");
    box_.write("/etc/sysconfig/.firewall/service_custom.conf", "\"s\" 20260101000001 1 tcp 80 80 \n");
    box_.write("/etc/sysconfig/.firewall/service_group.conf", "\"sg\" 20260101000002 2 svc_20260101000001 \n");
    const std::pair<module_table *(*)(), std::string> rows[] = {
        {permit_ip_register,
         "<_entry><name value=\"adm \\&quot;1\\&quot; &lt;b&gt;&amp;&#36;{X}\" /><ipv_mode value=\"IPv6\" />"
         "<ipaddr value=\"fe80::1\" /><netmask value=\"64\" /><security><PING value=\"0\" /><HTTP value=\"1\" />"
         "<HTTPS value=\"0\" /><TELNET value=\"0\" /><SSH value=\"1\" /></security></_entry>"},
        {mapped_ip_register,
         "<_entry><name value=\"m\" /><real_ip value=\"1.2.3.4\" /><real_device_name value=\"WAN1:1a\" />"
         "<mapped_ip value=\"10.0.0.5\" /><mapped_device_name value=\"LAN1\" /><iswan value=\"1\" /><priority value=\"2\" /></_entry>"},
        {virtual_ip_register,
         "<_entry><name value=\"v\" /><real_ip value=\"1.2.3.5\" /><real_port value=\"\" /><real_device_name value=\"WAN1\" />"
         "<service_chain value=\"svc_20260101000001\" /><operating_mode value=\"2\" /><virtual_ip_0 value=\"10.0.0.1\" />"
         "<virtual_ip_1 value=\"10.0.0.2\" /><virtual_ip_2 value=\"0.0.0.0\" /><virtual_ip_3 value=\"0.0.0.0\" />"
         "<virtual_device_name value=\"LAN1\" /><iswan value=\"0\" /><virtual_ip_x value=\"10.0.0.1,10.0.0.2\" />"
         "<health_check value=\"1\" /><priority value=\"3\" /></_entry>"},
        {virtual_ip_group_register,  // member 2 has no line
         "<_entry><name value=\"g\" /><iname value=\"LAN1\" /><custom_member><name value=\"v\" /></custom_member></_entry>"},
        {service_register,
         "<_entry><name value=\"s\" /><id value=\"20260101000001\" /><kind value=\"1\" /><protocol_0 value=\"tcp\" />"
         "<first_port_0 value=\"80\" /><last_port_0 value=\"80\" /></_entry>"
         "<_entry><name value=\"sg\" /><id value=\"20260101000002\" /><kind value=\"2\" />"
         "<member_0 value=\"svc_20260101000001\" /></_entry>"},
    };
    for (const auto &[register_fn, entries] : rows) {
        module_table *t = register_fn();
        EXPECT_EQ(export_of(*t), "<_function value=\"f\" method=\"add\">" + entries + "</_function>") << t->name;
        free(t);
    }
    box_.write("/etc/sysconfig/.firewall/mapped_ip.conf", "");
    Module mapped(mapped_ip_register, mapped_ip_unregister);
    EXPECT_EQ(export_of(mapped.table()), "");
}

// A record stored and read back comes back the same through the export
// and an import (service; permit_ip, whose export has no identifier, gets
// fresh ones) or an XML request (the others, which start from defaults and
// keep their identifier).
TEST_F(NatXml, RecordsComeBackTheSame) {
    const auto stored = [](Module &m, auto &rec, void *selector = nullptr) {
        EXPECT_EQ(m->modify(m.open(1, selector), &rec, 1), 0);
        m->getnum(m.open(0, selector), &rec, 1);
        m.close();
        return export_of(m.table());
    };
    const auto imported = [](Module &m, auto back, const std::string &document, void *selector = nullptr) {
        Function f(document);
        EXPECT_EQ(call<nat_import_xmlConf_fn>(m->import_xmlConf, f.get()), 0);
        EXPECT_EQ(m->getnum(m.open(0, selector), &back, 1), &back);
        return back;
    };
    const auto requested = [this](Module &m, auto start, const std::string &document) {
        box_.write("/var/tmp/request.xml", document);
        EXPECT_EQ(m->xmlParam(nullptr, &start, "/var/tmp/request.xml"), &start);
        EXPECT_FALSE(box_.exists("/var/tmp/request.xml"));
        return start;
    };
    void *const custom = reinterpret_cast<void *>(SERVICE_CUSTOM);
    for (const char *name : kNames) {
        SCOPED_TRACE(name);
        Module permit(permit_ip_register, permit_ip_unregister), service(service_register, service_unregister),
            mapped(mapped_ip_register, mapped_ip_unregister), servers(virtual_ip_register, virtual_ip_unregister),
            groups(virtual_ip_group_register, virtual_ip_group_unregister);

        permit_ip_record p{};
        permit->set_default(&p, nullptr);
        std::snprintf(p.name, sizeof p.name, "%s", name);
        std::strcpy(p.ipaddr, "10.1.0.0");
        p.security = 5;
        permit_ip_record pb = imported(permit, permit_ip_record{}, stored(permit, p));
        EXPECT_TRUE(matches(pb.id, "[0-9]{14}")) << pb.id;
        std::strcpy(pb.id, p.id);
        EXPECT_EQ(0, std::memcmp(&pb, &p, sizeof p));

        service_record s{};
        service->set_default(&s, nullptr);
        std::snprintf(s.name, sizeof s.name, "%s", name);
        s.ports[0] = {"udp", "53", "54"};
        const service_record sb = imported(service, service_record{}, stored(service, s, custom), custom);
        EXPECT_EQ(0, std::memcmp(&sb, &s, sizeof s));

        mapped_ip_record m{}, mstart{};
        mapped->set_default(&m, nullptr);
        mapped->set_default(&mstart, nullptr);
        std::snprintf(m.name, sizeof m.name, "%s", name);
        std::strcpy(m.real_ip, "1.2.3.4");
        std::strcpy(m.real_device_name, "WAN1:1a");
        std::strcpy(m.mapped_ip, "10.0.0.5");
        m.iswan = 0;
        m.priority = 4;
        mstart = requested(mapped, mstart, stored(mapped, m));
        std::strcpy(mstart.id, m.id), std::strcpy(mstart.chain, m.chain), std::strcpy(mstart.mark, m.mark);
        EXPECT_EQ(0, std::memcmp(&mstart, &m, sizeof m));

        virtual_ip_record v{}, vstart{};
        servers->set_default(&v, nullptr);
        servers->set_default(&vstart, nullptr);
        std::snprintf(v.name, sizeof v.name, "%s", name);
        std::strcpy(v.real_ip, "1.2.3.5");
        std::strcpy(v.real_port, "8080");
        std::strcpy(v.virtual_ip[1], "10.0.0.2");
        v.operating_mode = v.health_check = v.priority = 2;
        vstart = requested(servers, vstart, stored(servers, v));
        std::strcpy(vstart.id, v.id), std::strcpy(vstart.chain, v.chain), std::strcpy(vstart.mark, v.mark);
        EXPECT_EQ(0, std::memcmp(&vstart, &v, sizeof v));

        virtual_ip_group_record g{}, gstart{};
        groups->set_default(&g, nullptr);
        groups->set_default(&gstart, nullptr);
        std::snprintf(g.name, sizeof g.name, "%s", name);
        std::strcpy(g.iname, "DMZ1");
        gstart = requested(groups, gstart, stored(groups, g));
        EXPECT_STREQ(gstart.name, g.name);
        EXPECT_STREQ(gstart.iname, g.iname);
    }
    // A request names a group's members by their characters.
    Module groups(virtual_ip_group_register, virtual_ip_group_unregister);
    virtual_ip_group_record g{};
    groups->set_default(&g, nullptr);
    g = requested(groups, g, "<?xml version=\"1.0\"?><a><custom_member value=\"1x1\" /><id value=\"20260102030405\" /></a>");
    EXPECT_STREQ(g.members, "10");
    EXPECT_STREQ(g.chain, "vipgroup_20260102030405");
}
