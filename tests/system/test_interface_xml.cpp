// The XML export and import of interfaces, static routes and subnets, read back with the real XML library.
#include <gtest/gtest.h>

#include <string>

#include "support/module_harness.h"
#include "support/module_xml_harness.h"

using namespace testing_support;

// Ports export every key in order, escaped, and import by position (security bits rebuilt, entries beyond the ports
// left out); routes export with the family's name and import their own keys, duplicates kept; subnets and VLANs go
// back whole.
TEST(InterfaceXml, PortsExportInTheirOrderAndImportByPosition) {
    ModuleBox box({"SYSTEM_PORT_NUM=1"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(interface_register, interface_unregister);
    const std::string file = "/etc/sysconfig/.firewall/interface.conf", v6 = "0000:0000:0000:0000:0000:0000:0000:0000";
    const std::string line = "2 0 2 1 1 eth1 WAN1 0.0.0.0 0.0.0.0 0.0.0.0 00:00:00:00:00:00 0 " + v6 + " 64 " + v6 +
                             " 0 0.0.0.0 0 0 0.0.0.0 " + v6 + " ^o^ 0 1000 1000 5 0 0 0.0.0.0 0 \"a&b\" <pw> 1 10.0.0.2 "
                             "255.0.0.0 10.0.0.1 0 5 7 0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 "
                             "0.0.0.0 8.8.8.8 900 900 \n";
    box.write(file, line);
    std::string detect;
    for (int i = 1; i < 9; ++i) detect += "detect_ipaddr_" + std::to_string(i) + "=0.0.0.0|";
    const std::string exported = export_of(t.table(), "interface");
    EXPECT_EQ(exported,
              "<_function value=\"interface\" method=\"add\"><_entry>" +
                  elements("port=2|izone=0|itype=2|imode=1|cmode=1|dev=eth1|iname=WAN1|ipaddr=0.0.0.0|netmask=0.0.0.0|"
                           "gateway=0.0.0.0|mac=00:00:00:00:00:00|PrefixLength=64|nat_mode=0|nat_ipaddr=0.0.0.0|"
                           "detect_alive=0|detect_service=0|detect_domain=^o^|detect_frequency=0|"
                           "bandwidth_downstream=1000|bandwidth_upstream=1000|<security>|PING=1|HTTP=0|HTTPS=1|"
                           "TELNET=0|SSH=0|</security>|ibond=0|bmode=0|arpip=0.0.0.0|speeder=0|anyiprouting=0|"
                           "pppoe_username=a&amp;b|pppoe_password=&lt;pw&gt;|pppoe_service=1|pppoe_via_ipaddr=10.0.0.2|"
                           "pppoe_via_netmask=255.0.0.0|pppoe_via_defgw=10.0.0.1|pppoe_demand=0|pppoe_idle=5|"
                           "pppoe_vlan=7|detect_rule=0|" + detect + "detect_ipaddr_9=8.8.8.8|"
                           "bandwidth_downthreshold=900|bandwidth_upthreshold=900") + "</_entry></_function>");
    // The file held port 2 on line 1; the import stores the first entry as port 1.
    box.write(file, "");
    ASSERT_EQ(import_into(t.table(), exported), 0);
    EXPECT_EQ(box.read(file), replaced(replaced(line, "2 0 2 1 1", "1 0 2 1 1"), "\"a&b\"", "a&b"));
    EXPECT_EQ(interface_read_shm(1)->connection.pppoe.pppoe_vlan, 7);
    // A service's bit is set by a value above 0.
    ASSERT_EQ(import_into(t.table(), "<_function><_entry>" + elements("<security>|PING=1|SSH=2|</security>") +
                                         "</_entry></_function>"), 0);
    EXPECT_STREQ(interface_read_shm(1)->security, "17");
    // An entry beyond the appliance's ports is left out.
    const std::string stored = box.read(file), port2 = "<_entry>" + elements("port=2") + "</_entry>";
    ASSERT_EQ(import_into(t.table(), replaced(export_of(t.table(), "interface"), "</_function>", port2 + "</_function>")),
              0);
    EXPECT_EQ(box.read(file), stored);
    // Routes and subnets.
    Module routes(route_table_register, route_table_unregister), subnets(msubnet_register, msubnet_unregister);
    const std::string route_file = "/etc/sysconfig/.firewall/static_route.conf";
    box.write(route_file, "10.1.0.0 255.255.0.0 192.168.1.254 LAN1 0\n2001:db8:1:: 48 2001:db8::1 LAN1 1\n");
    const std::string routes_exported = export_of(routes.table(), "route"), stored_routes = box.read(route_file);
    ASSERT_EQ(import_into(routes.table(), routes_exported), 0);  // the family's name read back
    EXPECT_EQ(box.read(route_file), stored_routes);
    EXPECT_EQ(routes_exported, "<_function value=\"route\" method=\"add\"><_entry>" +
                  elements("ipaddr=10.1.0.0|netmask=255.255.0.0|gateway=192.168.1.254|interface=LAN1|ipv_mode=IPv4|"
                           "</_entry><_entry>|ipaddr=2001:db8:1::|netmask=48|gateway=2001:db8::1|interface=LAN1|"
                           "ipv_mode=IPv6") + "</_entry></_function>");
    const std::string entry = "<_entry>" + elements("ip=10.2.0.0|netmask=255.255.0.0|gw=10.0.0.1|dev=LAN2|ipv_mode=0") +
                              "</_entry>";
    ASSERT_EQ(import_into(routes.table(), "<_function>" + entry + entry + "</_function>"), 0);
    EXPECT_EQ(box.read(route_file), "10.2.0.0 255.255.0.0 10.0.0.1 LAN2 0\n10.2.0.0 255.255.0.0 10.0.0.1 LAN2 0\n");
    const std::string subnet = "LAN1 0 10.8.0.1 255.255.255.0 \n", vlan = "LAN2 5 10.5.0.1 255.255.255.0 \n";
    box.write("/etc/sysconfig/.firewall/msubnet.conf", subnet), box.write("/etc/sysconfig/.firewall/mvlan.conf", vlan);
    const std::string subnets_exported = export_of(subnets.table(), "msubnet");
    EXPECT_EQ(subnets_exported, "<_function value=\"msubnet\" method=\"add\"><_entry>" +
                            elements("interface=LAN1|vlan=0|ipaddr=10.8.0.1|netmask=255.255.255.0|</_entry><_entry>|"
                                     "interface=LAN2|vlan=5|ipaddr=10.5.0.1|netmask=255.255.255.0") +
                            "</_entry></_function>");
    box.write("/etc/sysconfig/.firewall/mvlan.conf", "");
    ASSERT_EQ(import_into(subnets.table(), subnets_exported), 0);
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/msubnet.conf") + box.read("/etc/sysconfig/.firewall/mvlan.conf"),
              subnet + vlan);
}

