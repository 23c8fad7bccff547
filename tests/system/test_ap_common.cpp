// The AP side of the controller without a database: tunnel device names,
// the per-AP tunnels, the group file, the profile and map modules and the
// AP form.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/hostile.h"
#include "support/module_harness.h"

using namespace testing_support;

namespace {

ap_host_record ap(int sn, const char *ip, std::initializer_list<int> slots24 = {}, std::initializer_list<int> slots5 = {},
                  std::initializer_list<int> wired = {}) {
    ap_host_record r;
    Module m(ap_host_register, ap_host_unregister);
    m->set_default(&r, nullptr);
    r.SN = sn;
    std::snprintf(r.IP, sizeof r.IP, "%s", ip);
    int k = 0;
    for (int s : slots24) r.radio[0].pf_id[k++] = s;
    k = 0;
    for (int s : slots5) r.radio[1].pf_id[k++] = s;
    k = 0;
    for (int s : wired) r.wired_id[k++] = s;
    return r;
}

// A list as the database gives it, its records owned by the list.
struct Aps {
    ll_list *list = ll_init();
    explicit Aps(std::initializer_list<ap_host_record> aps) {
        for (const auto &a : aps) ll_append(list, new ap_host_record(a));
    }
    ~Aps() {
        while (void *a = ll_delete_head(list)) delete static_cast<ap_host_record *>(a);
        ll_free(list);
    }
};

std::string tunnel_on(const char *dev, const char *ip, int key, const char *bridge) {
    return std::string("/sbin/ip link add ") + dev + " type gretap remote " + ip + " key " + std::to_string(key) +
           " nopmtudisc\n/sbin/ip link set " + dev + " mtu 1500\n/sbin/ip link set " + dev + " up\n/sbin/brctl addif " +
           bridge + " " + dev + "\n/sbin/ifconfig " + bridge + " up\n";
}

}  // namespace

TEST(ApCommon, TunnelDeviceNamesFollowTheControllerZone) {
    const struct {
        const char *(*name)(const char *, int, int);
        const char *iname;
        int position, sn;
        const char *expected;
    } rows[] = {
        {get24GWifiDevName, "LAN1", 3, 12, "WLAN_P3_AP12"}, {get5GWifiDevName, "DMZ2", 1, 4, "WDMZ_P1_AP4_"},
        {getWiredDevName, "LAN1", 2, 7, "WLAN_PW2_AP7"},    {getWiredDevName, "^o^", 2, 7, nullptr},
        {get24GWifiDevName, "WAN1", 1, 1, nullptr},         {get5GWifiDevName, nullptr, 1, 1, nullptr},
    };
    for (const auto &row : rows) {
        const char *name = row.name(row.iname, row.position, row.sn);
        EXPECT_EQ(name ? std::string(name) : "<none>", row.expected ? row.expected : "<none>") << row.iname;
    }
}

TEST(ApCommon, RemoteTunnelsPerSlotAndTheGreDropRule) {
    ModuleBox box;
    ASSERT_EQ(interface_init_shm(), 0);
    install_interfaces({interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1", "255.255.255.0", 2)});
    ap_setting_record lan1{};
    std::snprintf(lan1.iname, sizeof lan1.iname, "LAN1");
    Aps aps{ap(7, "192.168.1.20", {4, 0, 9}, {0, 5}, {0, 2}), ap(8, "0.0.0.0", {1}), ap(9, "fe80::9")};
    box.take();
    setRemote(1, &lan1, 0, aps.list);
    EXPECT_EQ(box.take(), (Effects{tunnel_on("WLAN_P1_AP7", "192.168.1.20", 1, "br2") +
                                       tunnel_on("WLAN_P3_AP7", "192.168.1.20", 3, "br2") +
                                       tunnel_on("WLAN_P2_AP7_", "192.168.1.20", 10, "br2") +
                                       tunnel_on("WLAN_PW2_AP7", "192.168.1.20", 18, "br2"),
                                   "/sbin/iptables -t filter -D ap_gre_out -p 47 -d 192.168.1.20 -j DROP\n",
                                   "/sbin/ip6tables -t filter -D ap_gre_out -p 47 -d fe80::9 -j DROP\n"}));
    setRemote(0, &lan1, 7, aps.list);
    EXPECT_EQ(box.take(), (Effects{"/sbin/ip link del WLAN_P1_AP7\n/sbin/ip link del WLAN_P3_AP7\n"
                                   "/sbin/ip link del WLAN_P2_AP7_\n/sbin/ip link del WLAN_PW2_AP7\n",
                                   "/sbin/iptables -t filter -D ap_gre_out -p 47 -d 192.168.1.20 -j DROP\n"
                                   "/sbin/iptables -t filter -A ap_gre_out -p 47 -d 192.168.1.20 -j DROP\n",
                                   ""}));
    // One tunnel by hand joins the bridge of the applied interface.
    WS(41, "DMZ1");
    EXPECT_EQ(setRemoteCommand(1, "WDMZ_P1_AP3", "10.0.0.3", 1), 0);
    EXPECT_EQ(box.take().commands, tunnel_on("WDMZ_P1_AP3", "10.0.0.3", 1, "brgre"));

    // An address the AP reported is one word of the command, whatever it holds.
    for (const std::string &value : hostile_values(box.file("/sentinel"))) {
        Aps hostile{ap(3, value.c_str(), {1})};
        setRemote(1, &lan1, 0, hostile.list);
        const std::string add = box.take().commands;
        const auto args = run_with_stub(box, add.substr(0, add.find(" nopmtudisc\n") + 11), "/sbin/ip");
        ASSERT_EQ(args.size(), 10u) << value;
        EXPECT_EQ(args[6], std::string(value, 0, sizeof(ap_host_record::IP) - 1)) << value;
        EXPECT_FALSE(box.exists("/sentinel")) << value;
    }
}

TEST(ApCommon, ApConfigurationFileRemovedByMacOnly) {
    ModuleBox box;
    const std::string file = "/etc/sysconfig/.firewall/AP_Host_Config/[WTP]=00:11:22:AA:BB:CC";
    box.write(file, "x");
    box.write("/etc/sysconfig/.firewall/keep", "x");
    EXPECT_EQ(ap_del_host("00:11:22:AA:BB:CC"), 0);
    EXPECT_FALSE(box.exists(file));
    EXPECT_EQ(ap_del_host("00:11:22:AA:BB:CC"), -1);
    for (const char *bad : {"../../keep", "00:11:22:AA:BB", "00:11:22:AA:BB:C/", ""}) EXPECT_EQ(ap_del_host(bad), -1);
    EXPECT_TRUE(box.exists("/etc/sysconfig/.firewall/keep"));
    EXPECT_EQ(box.commands(), "");
}

TEST(ApCommon, GroupFileHoldsSixtyFourGroups) {
    ModuleBox box;
    Module m(ap_host_register, ap_host_unregister);
    record_file *h = m.open(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->count, 64u);
    m.close();
    std::string zeros;
    for (int i = 0; i < 64; ++i) zeros += "0\n";
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_group.conf"), zeros);

    const ap_host_record member = ap(1, "0.0.0.0", {0, 3, 0, 5}, {}, {1, 0, 2});
    EXPECT_EQ(ModifyAPGroupFile(&member, 2), 0);
    EXPECT_EQ(ModifyAPGroupFile(nullptr, 2), -1);
    EXPECT_EQ(ModifyAPGroupFile(&member, 65), -1);
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_group.conf").substr(0, 30), "0\n3,5 0 1,0,2,0,0,0,0,0 \n0\n0\n0");
    ap_group_record g{};
    ASSERT_NE(GetAPGroupNumData(&g, 2), nullptr);
    EXPECT_EQ(std::vector<int>(g.pf_id, g.pf_id + 3), (std::vector<int>{3, 5, 0}));
    EXPECT_EQ(std::vector<int>(g.wired_id, g.wired_id + 3), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(GetAPGroupNumData(&g, 65), nullptr);
}

TEST(ApCommon, ProfilesGetNumbersAndNamesStayUnique) {
    ModuleBox box;
    Module m(ap_profile_register, ap_profile_unregister);
    record_file *h = m.open(1);
    ap_profile_record p;
    for (const char *name : {"Office", "Guest \"wifi\""}) {
        m->set_default(&p, nullptr);
        std::snprintf(p.name, sizeof p.name, "%s", name);
        std::snprintf(p.ssid, sizeof p.ssid, "%s", name);
        ASSERT_EQ(m->add(h, &p), 0);
    }
    EXPECT_EQ(m->isTheSame(h, &p, 0), 1);
    EXPECT_EQ(m->isTheSame(h, &p, 2), 0);
    m.close();
    const std::string tail = "1 0 0 0 0 Open 0 HEX 64 1 ^o^ WPA2 AES 3600 ^o^ WPA2 AES 3600 0.0.0.0 1812 ^o^ 64 0.0.0.0 1812 ^o^ 0 \n";
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_profile_opt.conf"),
              "1 Office Office " + tail + "2 \"Guest \\\"wifi\\\"\" \"Guest \\\"wifi\\\"\" " + tail);
    ll_list *list = APP_getMySQL_list();
    ASSERT_EQ(ll_count(list), 2u);
    EXPECT_STREQ(static_cast<ap_profile_record *>(ll_tail(list))->ssid, "Guest \"wifi\"");
    APP_closeMySQL(&list);
    EXPECT_EQ(list, nullptr);

    // A form value that would start a new key of the APs' files is refused.
    using cgi_fn = void *(*)(void *);
    qValueAdd("ssid", "a\nap_passwd=x");
    qValueAdd("vlan_id", "12");
    reinterpret_cast<cgi_fn>(m->cgiParam)(&p);
    EXPECT_STREQ(p.ssid, "^o^");
    EXPECT_EQ(p.vlan_id, 12);
    qFree();
}

TEST(ApCommon, MapsKeepTheirImagesUntilRemoved) {
    ModuleBox box;
    box.write("/etc/sysconfig/.firewall/ap_emap.conf", "20240101000000 \"First floor\" png \n20240202000000 Yard jpg \n");
    box.write("/etc/sysconfig/.firewall/emap/20240101000000.png", "x");
    EXPECT_STREQ(ap_emap_get_id("Yard"), "20240202000000");
    EXPECT_EQ(ap_emap_get_id("Cellar"), nullptr);
    Module m(ap_emap_register, ap_emap_unregister);
    ASSERT_EQ(m->remove(m.open(1), 1), 0);
    EXPECT_EQ(box.take().commands, "/bin/rm -rf /etc/sysconfig/.firewall/emap/20240101000000.*\n");
    m.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_emap.conf"), "20240202000000 Yard jpg \n");

    // An id or extension that would name other files is not taken.
    using cgi_fn = ap_emap_record *(*)(ap_emap_record *);
    qValueAdd("id", "../../x");
    qValueAdd("ext", "png; rm");
    qValueAdd("name", "Hall");
    ap_emap_record e{};
    reinterpret_cast<cgi_fn>(m->cgiParam)(&e);
    EXPECT_EQ(std::string(e.id).size(), 14u);
    EXPECT_EQ(std::string(e.id).find_first_not_of("0123456789"), std::string::npos);
    EXPECT_STREQ(e.ext, "^o^");
    EXPECT_STREQ(e.name, "Hall");
    qFree();
}

TEST(ApCommon, ApFormFillsBothBands) {
    ModuleBox box;
    Module m(ap_host_register, ap_host_unregister);
    ap_host_record r;
    m->set_default(&r, nullptr);
    for (const auto &[name, value] : std::vector<std::pair<const char *, const char *>>{
             {"sn", "5"}, {"ah_name", "Hall \"A\""}, {"ssid1", "2"}, {"ssid3", "4"}, {"ssid_5g2", "6"}, {"wired8", "1"},
             {"channel_5g", "36"}, {"data_rate", "54M\nchannel=1"}, {"en_Autorestart", "1"}, {"day_time", "03:30"},
             {"latitude", "25.0330"}, {"longtitude", "121.5654; x"}})
        qValueAdd(name, "%s", value);
    reinterpret_cast<ap_host_record *(*)(ap_host_record *)>(m->cgiParam)(&r);
    qFree();
    EXPECT_EQ(r.SN, 5);
    EXPECT_STREQ(r.Name, "Hall \"A\"");
    EXPECT_EQ(std::vector<int>(r.radio[0].pf_id, r.radio[0].pf_id + 4), (std::vector<int>{2, 0, 4, 0}));
    EXPECT_EQ(r.radio[1].pf_id[1], 6);
    EXPECT_EQ(r.wired_id[7], 1);
    EXPECT_STREQ(r.radio[1].channel, "36");
    EXPECT_STREQ(r.radio[0].channel, "0 (Auto)");
    EXPECT_STREQ(r.radio[0].data_rate, "Auto");  // a line break is refused
    EXPECT_EQ(r.radio[1].beacon_interval, 100);
    EXPECT_STREQ(r.radio[1].channel_width, "Auto 20 / 40 MHz");
    EXPECT_STREQ(r.autorestart, "03:30 ^o^ ^o^ 0 0 1");
    EXPECT_STREQ(r.gps_lat, "25.0330");
    EXPECT_STREQ(r.gps_lng, "0");  // not a number

    ap_host_options o{};
    ASSERT_EQ(ap_host_options_register(&o), 0);
    EXPECT_STREQ(o.host->name, "ap_host");
    EXPECT_STREQ(o.profile->name, "ap_profile");
    EXPECT_STREQ(o.wired->name, "ap_wired");
    char path[64] = "";
    EXPECT_EQ(export_ap_list(&o, path), 0);  // no list kept
    ap_host_options_unregister(&o);
    EXPECT_EQ(o.host, nullptr);
}
