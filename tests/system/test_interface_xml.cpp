// The XML export and import of interfaces, static routes and subnets, read
// back with the real XML library.
#include <gtest/gtest.h>

#include <string>

#include "support/module_harness.h"
#include "support/module_xml_harness.h"

using namespace testing_support;

TEST(InterfaceXml, PortsExportInTheirOrderAndImportByPosition) {
    ModuleBox box({"SYSTEM_PORT_NUM=1"});
    ASSERT_EQ(interface_init_shm(), 0);
    Module t(interface_register, interface_unregister);
    const std::string file = "/etc/sysconfig/.firewall/interface.conf", v6 = "0000:0000:0000:0000:0000:0000:0000:0000";
    box.write(file, "2 0 2 1 1 eth1 WAN1 0.0.0.0 0.0.0.0 0.0.0.0 00:00:00:00:00:00 0 " + v6 + " 64 " + v6 +
                        " 0 0.0.0.0 0 0 0.0.0.0 " + v6 + " ^o^ 0 1000 1000 5 0 0 0.0.0.0 0 \"a&b\" <pw> 1 10.0.0.2 "
                        "255.0.0.0 10.0.0.1 0 5 7 0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 0.0.0.0 "
                        "8.8.8.8 900 900 \n");
    const std::string exported = export_of(t.table(), "interface");
    EXPECT_EQ(replaced(exported, " />", "/>"),
              "<_function value=\"interface\" method=\"add\"><_entry><port value=\"2\"/><izone value=\"0\"/>"
              "<itype value=\"2\"/><imode value=\"1\"/><cmode value=\"1\"/><dev value=\"eth1\"/>"
              "<iname value=\"WAN1\"/><ipaddr value=\"0.0.0.0\"/><netmask value=\"0.0.0.0\"/>"
              "<gateway value=\"0.0.0.0\"/><mac value=\"00:00:00:00:00:00\"/><PrefixLength value=\"64\"/>"
              "<nat_mode value=\"0\"/><nat_ipaddr value=\"0.0.0.0\"/><detect_alive value=\"0\"/>"
              "<detect_service value=\"0\"/><detect_domain value=\"^o^\"/><detect_frequency value=\"0\"/>"
              "<bandwidth_downstream value=\"1000\"/><bandwidth_upstream value=\"1000\"/><security>"
              "<PING value=\"1\"/><HTTP value=\"0\"/><HTTPS value=\"1\"/><TELNET value=\"0\"/><SSH value=\"0\"/>"
              "</security><ibond value=\"0\"/><bmode value=\"0\"/><arpip value=\"0.0.0.0\"/><speeder value=\"0\"/>"
              "<anyiprouting value=\"0\"/><pppoe_username value=\"a&amp;b\"/><pppoe_password value=\"&lt;pw&gt;\"/>"
              "<pppoe_service value=\"1\"/><pppoe_via_ipaddr value=\"10.0.0.2\"/>"
              "<pppoe_via_netmask value=\"255.0.0.0\"/>"
              "<pppoe_via_defgw value=\"10.0.0.1\"/><pppoe_demand value=\"0\"/><pppoe_idle value=\"5\"/>"
              "<pppoe_vlan value=\"7\"/><detect_rule value=\"0\"/><detect_ipaddr_1 value=\"0.0.0.0\"/>"
              "<detect_ipaddr_2 value=\"0.0.0.0\"/><detect_ipaddr_3 value=\"0.0.0.0\"/>"
              "<detect_ipaddr_4 value=\"0.0.0.0\"/><detect_ipaddr_5 value=\"0.0.0.0\"/>"
              "<detect_ipaddr_6 value=\"0.0.0.0\"/><detect_ipaddr_7 value=\"0.0.0.0\"/>"
              "<detect_ipaddr_8 value=\"0.0.0.0\"/><detect_ipaddr_9 value=\"8.8.8.8\"/>"
              "<bandwidth_downthreshold value=\"900\"/><bandwidth_upthreshold value=\"900\"/></_entry></_function>");
    // The file held port 2 on line 1; the import stores the first entry as port 1.
    box.write(file, "");
    ASSERT_EQ(import_into(t.table(), exported), 0);
    EXPECT_EQ(line_of(box.read(file), 1).substr(0, 20), "1 0 2 1 1 eth1 WAN1 ");
    EXPECT_NE(box.read(file).find(" 5 0 0 0.0.0.0 0 a&b <pw> 1 10.0.0.2 255.0.0.0 10.0.0.1 0 5 7 0 "),
              std::string::npos);
    EXPECT_EQ(interface_read_shm(1)->connection.pppoe.pppoe_vlan, 7);

    // Values of the wrong kind are refused; the security bits are rebuilt.
    ASSERT_EQ(import_into(t.table(), "<_function><_entry><itype value=\"1\" /><iname value=\"LAN1;reboot\" />"
                                     "<ipaddr value=\"1.2.3.4 x\" /><mac value=\"00:11:22:33:44:5g\" /><security>"
                                     "<PING value=\"1\" /><SSH value=\"2\" /></security></_entry></_function>"),
              0);
    const interface_record &r = *interface_read_shm(1);
    EXPECT_EQ(std::string(r.iname) + " " + r.ipaddr + " " + r.mac + " " + r.security,
              "^o^ 0.0.0.0 00:00:00:00:00:00 17");
}

TEST(InterfaceXml, RoutesAndSubnetsHaveTheirKeys) {
    ModuleBox box;
    Module routes(route_table_register, route_table_unregister), subnets(msubnet_register, msubnet_unregister);
    const std::string route_file = "/etc/sysconfig/.firewall/static_route.conf";
    box.write(route_file, "10.1.0.0 255.255.0.0 192.168.1.254 LAN1 0\n2001:db8:1:: 48 2001:db8::1 LAN1 1\n");
    EXPECT_EQ(replaced(export_of(routes.table(), "route"), " />", "/>"),
              "<_function value=\"route\" method=\"add\"><_entry><ipaddr value=\"10.1.0.0\"/>"
              "<netmask value=\"255.255.0.0\"/><gateway value=\"192.168.1.254\"/><interface value=\"LAN1\"/>"
              "<ipv_mode value=\"IPv4\"/></_entry><_entry><ipaddr value=\"2001:db8:1::\"/><netmask value=\"48\"/>"
              "<gateway value=\"2001:db8::1\"/><interface value=\"LAN1\"/><ipv_mode value=\"IPv6\"/></_entry>"
              "</_function>");
    // The import reads its own keys and keeps every entry, duplicates too.
    const std::string entry = "<_entry><ip value=\"10.2.0.0\"/><netmask value=\"255.255.0.0\"/><gw value=\"10.0.0.1\"/>"
                              "<dev value=\"LAN2\"/><ipv_mode value=\"0\"/></_entry>";
    ASSERT_EQ(import_into(routes.table(), "<_function>" + entry + entry + replaced(entry, "LAN2", "LAN2 `x`") +
                                              "</_function>"),
              0);
    EXPECT_EQ(box.read(route_file), "10.2.0.0 255.255.0.0 10.0.0.1 LAN2 0\n10.2.0.0 255.255.0.0 10.0.0.1 LAN2 0\n"
                                    "10.2.0.0 255.255.0.0 10.0.0.1 ^o^ 0\n");

    // Subnets and VLANs export together and go back to their own files.
    const std::string subnet = "LAN1 0 10.8.0.1 255.255.255.0 \n", vlan = "LAN2 5 10.5.0.1 255.255.255.0 \n";
    box.write("/etc/sysconfig/.firewall/msubnet.conf", subnet);
    box.write("/etc/sysconfig/.firewall/mvlan.conf", vlan);
    const std::string exported = export_of(subnets.table(), "msubnet");
    EXPECT_EQ(replaced(exported, " />", "/>"),
              "<_function value=\"msubnet\" method=\"add\"><_entry><interface value=\"LAN1\"/><vlan value=\"0\"/>"
              "<ipaddr value=\"10.8.0.1\"/><netmask value=\"255.255.255.0\"/></_entry><_entry>"
              "<interface value=\"LAN2\"/><vlan value=\"5\"/><ipaddr value=\"10.5.0.1\"/>"
              "<netmask value=\"255.255.255.0\"/></_entry></_function>");
    box.write("/etc/sysconfig/.firewall/mvlan.conf", "");
    ASSERT_EQ(import_into(subnets.table(), exported), 0);
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/msubnet.conf") + box.read("/etc/sysconfig/.firewall/mvlan.conf"),
              subnet + vlan);
}
