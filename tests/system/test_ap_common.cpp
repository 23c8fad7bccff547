// The controller's AP side without a database: tunnel names and tunnels, the group file, profiles, maps, the AP form.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "support/hostile.h"
#include "support/module_harness.h"
#include "support/request.h"

using namespace testing_support;

namespace {
// An AP at its defaults with a number, an address and its slots' profiles.
ap_host_record ap(int sn, const char *ip, std::initializer_list<int> slots24 = {},
                  std::initializer_list<int> slots5 = {}, std::initializer_list<int> wired = {}) {
    ap_host_record r;
    Module(ap_host_register, ap_host_unregister)->set_default(&r, nullptr);
    r.SN = sn, put(r.IP, ip), std::ranges::copy(wired, r.wired_id);
    std::ranges::copy(slots24, r.radio[0].pf_id), std::ranges::copy(slots5, r.radio[1].pf_id);
    return r;
}

// A list as the database gives it, freed with AH_closeMySQL.
ll_list *listed(std::initializer_list<ap_host_record> aps) {
    ll_list *list = ll_init();
    for (const auto &a : aps) ll_append(list, new (std::malloc(sizeof a)) ap_host_record(a));
    return list;
}

// The commands that add one tunnel to an AP and put it on a bridge.
std::string tunnel_on(const char *dev, const char *ip, int key, const char *bridge) {
    return std::string("/sbin/ip link add ") + dev + " type gretap remote " + ip + " key " + std::to_string(key) +
           " nopmtudisc\n/sbin/ip link set " + dev + " mtu 1500\n/sbin/ip link set " + dev + " up\n/sbin/brctl addif " +
           bridge + " " + dev + "\n/sbin/ifconfig " + bridge + " up\n";
}
}  // namespace

// A tunnel per used slot of each AP, the GRE drop rule lifted or put back, a reported address one word; the group file
// of 64 groups; the AP form's restart; profiles numbered, named once; maps by name, their images removed, a new map's id.
TEST(ApCommon, TunnelsGroupsProfilesMapsAndTheApForm) {
    ModuleBox box;
    ASSERT_EQ(interface_init_shm(), 0);
    install_interfaces({interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1", "255.255.255.0", 2)});
    ap_setting_record lan1{};
    put(lan1.iname, "LAN1");
    // Devices are named by the interface's zone, the slot and the AP.
    EXPECT_STREQ(get5GWifiDevName("DMZ2", 1, 4), "WDMZ_P1_AP4_");
    for (const char *none : {"^o^", "WAN1"}) EXPECT_EQ(getWiredDevName(none, 2, 7), nullptr);
    // APs without an address get no tunnels; the others join the bridge of the applied interface.
    ll_list *aps = listed({ap(7, "192.168.1.20", {4, 0, 9}, {0, 5}, {0, 2}), ap(8, "0.0.0.0", {1}), ap(9, "fe80::9"),
                           ap(10, "", {1})});
    box.take(), WS(41, "LAN1"), setRemote(1, &lan1, 0, aps);
    EXPECT_EQ(box.take(), (Effects{tunnel_on("WLAN_P1_AP7", "192.168.1.20", 1, "br2") +
                                       tunnel_on("WLAN_P3_AP7", "192.168.1.20", 3, "br2") +
                                       tunnel_on("WLAN_P2_AP7_", "192.168.1.20", 10, "br2") +
                                       tunnel_on("WLAN_PW2_AP7", "192.168.1.20", 18, "br2"),
                                   "/sbin/iptables -t filter -D ap_gre_out -p 47 -d 192.168.1.20 -j DROP\n",
                                   "/sbin/ip6tables -t filter -D ap_gre_out -p 47 -d fe80::9 -j DROP\n"}));
    setRemote(0, &lan1, 7, aps), AH_closeMySQL(&aps);
    EXPECT_EQ(box.take(), (Effects{"/sbin/ip link del WLAN_P1_AP7\n/sbin/ip link del WLAN_P3_AP7\n"
                                   "/sbin/ip link del WLAN_P2_AP7_\n/sbin/ip link del WLAN_PW2_AP7\n",
                                   "/sbin/iptables -t filter -D ap_gre_out -p 47 -d 192.168.1.20 -j DROP\n"
                                   "/sbin/iptables -t filter -A ap_gre_out -p 47 -d 192.168.1.20 -j DROP\n", ""}));
    // One tunnel by hand joins the bridge of the applied interface.
    WS(41, "DMZ1");
    EXPECT_EQ(setRemoteCommand(1, "WDMZ_P1_AP3", "10.0.0.3", 1), 0);
    EXPECT_EQ(box.take().commands, tunnel_on("WDMZ_P1_AP3", "10.0.0.3", 1, "brgre"));
    // An address the AP reported is one word of the command, whatever it holds.
    for (const std::string &value : hostile_values(box.file("/sentinel"))) {
        ll_list *hostile = listed({ap(3, value.c_str(), {1})});
        setRemote(1, &lan1, 0, hostile), AH_closeMySQL(&hostile);
        const std::string add = box.take().commands;
        const auto args = run_with_stub(box, add.substr(0, add.find(" nopmtudisc\n") + 11), "/sbin/ip");
        ASSERT_EQ(args.size(), 10u) << value;
        EXPECT_EQ(args[6], std::string(value, 0, sizeof(ap_host_record::IP) - 1)) << value;
        EXPECT_FALSE(box.exists("/sentinel")) << value;
    }
    Module m(ap_host_register, ap_host_unregister);
    EXPECT_EQ(m.open(0)->count, 64u);
    m.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_group.conf"), replaced(std::string(64, '0'), "0", "0\n"));
    const ap_host_record member = ap(1, "0.0.0.0", {0, 3, 0, 5}, {}, {1, 0, 2});
    EXPECT_EQ((std::vector{ModifyAPGroupFile(&member, 2), ModifyAPGroupFile(&member, 65)}), (std::vector{0, -1}));
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_group.conf").substr(0, 31),
              "0\n3,5 \"\" 1,0,2,0,0,0,0,0 \n0\n0\n0");  // no 5 GHz profile: an empty list
    ap_group_record g{};
    ASSERT_NE(GetAPGroupNumData(&g, 2), nullptr);
    EXPECT_EQ((std::vector{g.pf_id[0], g.pf_id[1], g.pf_id[2], g.wired_id[0], g.wired_id[1], g.wired_id[2]}),
              (std::vector{3, 5, 0, 1, 0, 2}));
    EXPECT_EQ(GetAPGroupNumData(&g, 65), nullptr);
    // The AP form's restart is the settings' summary of their restart fields, refused as they refuse.
    ap_host_record r;
    m->set_default(&r, nullptr);
    const auto restart = [&](const char *day_time) {
        submit_form({{"day_time", day_time}, {"en_Autorestart", "1"}, {"ah_name", "Hall"}});
        void *taken = call<void *(void *)>(m->cgiParam, &r);
        qFree();
        return taken;
    };
    EXPECT_EQ(restart("03:30 x"), nullptr);  // a blank would split the summary
    EXPECT_EQ(restart("03:30"), &r);
    EXPECT_STREQ(r.autorestart, "03:30 ^o^ ^o^ 0 0 1");
    Module profiles(ap_profile_register, ap_profile_unregister);
    record_file *h = profiles.open(1);
    ap_profile_record p;
    for (const char *name : {"Office", "Guest \"wifi\""}) {
        profiles->set_default(&p, nullptr), put(p.name, name), put(p.ssid, name);
        ASSERT_EQ(profiles->add(h, &p), 0);
    }
    EXPECT_EQ((std::vector<int>{profiles->isTheSame(h, &p, 0), profiles->isTheSame(h, &p, 2)}), (std::vector<int>{1, 0}));
    profiles.close();
    const std::string tail =
        "1 0 0 0 0 Open 0 HEX 64 1 ^o^ WPA2 AES 3600 ^o^ WPA2 AES 3600 0.0.0.0 1812 ^o^ 64 0.0.0.0 1812 ^o^ 0 \n";
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_profile_opt.conf"),
              "1 Office Office " + tail + "2 \"Guest \\\"wifi\\\"\" \"Guest \\\"wifi\\\"\" " + tail);
    box.write("/etc/sysconfig/.firewall/ap_emap.conf", "20240101000000 \"First floor\" png \n20240202000000 Yard jpg \n");
    box.write("/etc/sysconfig/.firewall/emap/20240101000000.png", "x");
    EXPECT_STREQ(ap_emap_get_id("Yard"), "20240202000000");
    EXPECT_EQ(ap_emap_get_id("Cellar"), nullptr);
    Module maps(ap_emap_register, ap_emap_unregister);
    box.take();
    ASSERT_EQ(maps->remove(maps.open(1), 1), 0);
    EXPECT_EQ(box.take().commands, "/bin/rm -rf /etc/sysconfig/.firewall/emap/20240101000000.*\n");
    maps.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_emap.conf"), "20240202000000 Yard jpg \n");
    // A new map gets an id.
    ap_emap_record e{};
    submit_form({{"name", "Hall"}, {"ext", "png"}});
    ASSERT_EQ(call<void *(void *)>(maps->cgiParam, &e), &e);
    qFree();
    EXPECT_TRUE(matches(std::string(e.id) + "|" + e.ext + "|" + e.name, "[0-9]{14}\\|png\\|Hall"));
}

