// The VPN and WAN modules' XML: exports, imports and request files, read
// with the real XML library.
#include <gtest/gtest.h>

#include "support/module_harness.h"
#include "support/module_xml_harness.h"

using namespace testing_support;

namespace {

std::string exported(Module &m) { return export_of(m.table(), "f"); }

int imported(Module &m, const std::string &entries) {
    return import_into(m.table(), "<_function value=\"f\" method=\"add\">" + entries + "</_function>");
}

}  // namespace

// The DNS providers by name, exported and imported; an unknown name leaves the default 0.
TEST(VpnXml, DdnsNamesItsProviders) {
    ModuleBox box;
    Module m(ddns_register, ddns_unregister);
    constexpr const char *kFile = "/etc/sysconfig/.firewall/ddns.conf";
    EXPECT_EQ(exported(m), "");
    box.write(kFile, "8 carol pw ^o^ ^o^ 1 WAN1 \n13 bob \"p w\" home example.net 0 198.51.100.9 \n");
    const std::string entries =
        "<_entry><provider value=\"88IP\" /><username value=\"carol\" /><password value=\"pw\" /><host value=\"^o^\" />"
        "<domain value=\"^o^\" /><auto_wan value=\"1\" /><wan_info value=\"WAN1\" /></_entry><_entry>"
        "<provider value=\"OSTRAL Easy\" /><username value=\"bob\" /><password value=\"p w\" /><host value=\"home\" />"
        "<domain value=\"example.net\" /><auto_wan value=\"0\" /><wan_info value=\"198.51.100.9\" /></_entry>";
    EXPECT_EQ(exported(m), "<_function value=\"f\" method=\"add\">" + entries + "</_function>");
    ASSERT_EQ(imported(m, entries + "<x><_entry><provider value=\"2\" /><username value=\"n\" /></_entry></x>"
                                    "<_entry><provider value=\"nobody\" /><username value=\"u\" /></_entry>"),
              0);
    EXPECT_EQ(box.read(kFile),
              "8 carol pw ^o^ ^o^ 1 WAN1 \n13 bob \"p w\" home example.net 0 198.51.100.9 \n"
              "2 n ^o^ ^o^ ^o^ 0 ^o^ \n0 u ^o^ ^o^ ^o^ 0 ^o^ \n");
}

// Address objects and groups come back through their export and an import; a name twice is taken once.
TEST(VpnXml, AddressesComeBackThroughAnImport) {
    ModuleBox box;
    box.write("/etc/sysconfig/.firewall/dmz_custom.conf", "\"pc\" 1 2 0 10.0.0.5 255.255.255.255 \n");
    box.write("/etc/sysconfig/.firewall/lan_group.conf", "\"all\" 3 0 1 0.0.0.0 0.0.0.0 \"pc\" \n");
    Module m(address_register, address_unregister);
    const std::string document = exported(m), entries = document.substr(document.find("<_entry>"));
    ASSERT_EQ(imported(m, replaced(entries + entries, "</_function>", "")), 0);
    EXPECT_EQ(exported(m), document);
}

// PPTP request files: read into the record, then removed; all or nothing.
TEST(VpnXml, RequestFilesOfThePptpModules) {
    ModuleBox box;
    box.write("/etc/sysconfig/.firewall/vpn_pptp_server.conf",
              "\"alice\" 20240101000000 \"pw\" 0 ^o^ 0 a \n\"bob\" 20240101000001 \"pw\" 0 ^o^ 0 b \n");
    Module server(vpn_pptp_server_register, vpn_pptp_server_unregister);
    auto *h = server.open(0);
    const std::string request = "/tmp/request.xml";
    box.write(
        request,
        "<?xml version=\"1.0\"?><r><user_name value=\"bob\" /><id value=\"20240101000001\" />"
        "<password value=\"new\" /><ip_mode value=\"1\" /><fixed_ip value=\"10.8.0.3\" /><type value=\"2\" /></r>");
    vpn_pptp_server_record a;
    server->clear(&a);
    server->set_default(&a, nullptr);
    ASSERT_EQ(server->xmlParam(h, &a, request.c_str()), &a);
    EXPECT_FALSE(box.exists(request));
    EXPECT_EQ(std::to_string(a.line) + " " + a.chain + " " + a.password + " " + a.fixed_ip + " " +
                  std::to_string(a.type),
              "2 vpnServer_20240101000001 new 10.8.0.3 2");
    // One value a field cannot hold, and the record takes none.
    box.write(request, "<?xml version=\"1.0\"?><r><user_name value=\"carol\" /><password value=\"a&quot;b\" /></r>");
    EXPECT_EQ(server->xmlParam(h, &a, request.c_str()), nullptr);
    EXPECT_EQ(std::string(a.user_name) + " " + a.password, "bob new");
    server.close();
    const std::string alice = "<_entry><user_name value=\"alice\" /><password value=\"pw\" /><ip_mode value=\"0\" />"
                              "<fixed_ip value=\"^o^\" /><manual value=\"0\" /><type value=\"0\" /></_entry>";
    EXPECT_EQ(exported(server), "<_function value=\"f\" method=\"add\">" + alice + replaced(alice, "alice", "bob") +
                                    "</_function>");
}

// Imported virtual links get the free marks in turn; the second entry
// named "a" is left out; what the defaults do not set stays empty.
TEST(VpnXml, ImportedLinksGetFreeMarks) {
    ModuleBox box;
    Module links(virtual_link_register, virtual_link_unregister);
    ASSERT_EQ(imported(links, "<_entry><name value=\"a\" /><wanport value=\"WAN1\" /><ipaddr value=\"198.51.100.10\" />"
                              "</_entry><_entry><name value=\"a\" /><ipaddr value=\"198.51.100.11\" /></_entry>"
                              "<_entry><name value=\"b\" /><wanport value=\"WAN1\" /><ipaddr value=\"198.51.100.12\" />"
                              "</_entry>"),
              0);
    const std::string zero = "0000:0000:0000:0000:0000:0000:0000:0000",
                      a = "WAN1 198.51.100.10 0.0.0.0 0.0.0.0 0 " + zero + " \"\" " + zero +
                          " 0 0.0.0.0 ^o^ 0 \"\" \"\" 101 \"a\" \n";
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/virtual_link.conf"),
              a + replaced(replaced(replaced(a, ".10 ", ".12 "), " 101 ", " 102 "), "\"a\"", "\"b\""));
}
