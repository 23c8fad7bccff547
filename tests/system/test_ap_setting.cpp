// The AP controller settings: their line and mirror, the controller applied, removed and switched, the AP firmware.
#include <gtest/gtest.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "support/hostile.h"
#include "support/module_harness.h"

using namespace testing_support;

namespace {
// The settings' defaults with an interface, services and real-time traffic.
ap_setting_record settings(const char *iname, int32_t services = 7, int32_t realtime = 0) {
    ap_setting_record r{};
    Module(ap_setting_register, ap_setting_unregister)->set_default(&r, nullptr);
    put(r.iname, iname), r.enable_ap_sys_management = services, r.enable_realtime_traffic = realtime;
    return r;
}

// The IPv6 twin of IPv4 rules.
std::string v6(const std::string &rules) { return replaced(rules, "/sbin/iptables ", "/sbin/ip6tables "); }

// The controller's own rules for LAN1, and without an interface.
const std::string kFlush =
    "/sbin/iptables -t filter -F ap_controller_in\n/sbin/iptables -t filter -F ap_controller_out\n";
const std::string kApp2195 =
    "/sbin/iptables -t filter -A ap_controller_out -p tcp --dport 2195 -m state --state NEW,ESTABLISHED -j ACCEPT\n"
    "/sbin/iptables -t filter -A ap_controller_in -p tcp --sport 2195 -m state --state ESTABLISHED -j ACCEPT\n";
const std::string kApp = kApp2195 + replaced(kApp2195, "2195", "443") + "/sbin/iptables -t filter -F Wireless\n";
const std::string kLocalOn = kFlush + "/sbin/iptables -t filter -A ap_controller_in -p 47 -i LAN1 -j ACCEPT\n"
                             "/sbin/iptables -t filter -A ap_controller_out -p 47 -o LAN1 -j ACCEPT\n" + kApp +
                             "/sbin/iptables -t filter -A Wireless -p udp --dport 1234 -j ACCEPT\n"
                             "/sbin/iptables -t filter -A Wireless -p udp --sport 1234 -j ACCEPT\n";
const std::string kLocalOff = kFlush + kApp;

// LAN1 in NAT mode joins the controller's bridge, which takes its addresses; leaving, it gives them back.
std::string bridging(bool on) {
    const std::string from = on ? "LAN1" : "brgre", to = on ? "brgre" : "LAN1",
                      address = " 192.168.1.1/24 broadcast 192.168.1.255 dev ";
    return std::string("/sbin/brctl ") + (on ? "addif" : "delif") +
           " brgre LAN1\n/sbin/ip link set LAN1 down\n/sbin/ip link set brgre down\n/sbin/ip addr del" + address + from +
           " label " + from + ":LAN1\n/sbin/ip addr add" + address + to + " label " + to +
           ":LAN1\n/sbin/ip route replace 192.168.1.0/24 dev " + to + " src 192.168.1.1\n/sbin/ip link set LAN1 up\n"
           "/sbin/ip link set brgre up\n/sbin/ifconfig brgre " + (on ? "up" : "down") + "\n/sbin/route " +
           (on ? "add" : "del") + " -net 239.255.1.2 netmask 255.255.255.255 dev LAN1\n";
}
const std::string kBridgeOn = bridging(true), kBridgeOff = bridging(false);
// The controller's interface routes normally: its rules are flushed only.
const std::string kTransparent = "/sbin/ebtables -t broute -F transparent_routing_ap\n";

// The service rules of a services mask: bits 1, 2, 4, 8 and 16 let in ICMP, HTTP, HTTPS, TELNET and SSH.
std::string security(const std::string &operation, const std::string &pattern, int mask) {
    const char *services[] = {"icmp", "http", "https", "telnet", "ssh"};
    std::string rules;
    for (int i = 0; i < 5; ++i)
        for (const char *way : {"_in -i ", "_out -o "})
            rules += "/sbin/iptables -t filter -" + operation + " interface_" + services[i] + way + pattern +
                     "+ -j tlog_" + (mask >> i & 1 ? "accept" : "drop") + "\n";
    return rules;
}

const std::string kCast = "/sbin/iptables -t mangle -D wifi_controller -m pkttype --pkt-type broadcast -j RETURN\n",
                  kMark = "/sbin/iptables -t mangle -D wifi_controller -i WLAN_P+ -j UTMMARK --set-type option "
                          "--or-mark 0x8200000\n";
const std::string kRealtimeDelete = kCast + replaced(kCast, "broad", "multi") + kMark + replaced(kMark, "WLAN", "WDMZ");
const std::string kRealtimeOn = kRealtimeDelete + replaced(kRealtimeDelete, " -D ", " -A ");

using apply_fn = int (*)(ap_setting_record *, ap_setting_record *);
using boot_fn = int (*)(ap_setting_record *, ap_setting_record *, int);
}  // namespace

// The controller applied, removed, switched and booted (commands, both families' rules, its flag); settings stored
// (the APs' files rewritten only when what they get changes), read back and filled from the form's names, a hostile
// interface name one word of the shell; the uploaded AP firmware listed and removed by age.
TEST(ApSetting, ControllerAppliedSettingsStoredFormFilledAndFirmwareListed) {
    ModuleBox box;
    ASSERT_EQ(interface_init_shm(), 0);
    install_interfaces({interface_port(1, "LAN1", 1, 1, 3, "192.168.1.1"), interface_port(2, "DMZ1", 3, 3)});
    box.write("/var/ap/info/stale", "x");
    Module m(ap_setting_register, ap_setting_unregister);
    ap_setting_record lan1 = settings("LAN1"), lan1_changed = settings("LAN1", 18, 1), dmz1 = settings("DMZ1"),
                      off = settings("^o^");
    const std::string base = "/sbin/iptables -t filter -I INPUT -j ap_controller_in\n/sbin/iptables -t filter -I"
                             " OUTPUT -j ap_controller_out\n/sbin/iptables -t filter -I OUTPUT -p 47 -m state --state"
                             " NEW -j ap_gre_out\n",
                      switched = security("D", "WLAN", 7) + security("A", "WLAN", 18) + kRealtimeOn,
                      moved = kLocalOff + replaced(kLocalOn, "LAN1", "DMZ1") + security("D", "WLAN", 7) +
                              security("A", "WDMZ", 7) + kRealtimeDelete,
                      booted = base + kLocalOn + security("A", "WLAN", 18) + kRealtimeOn;
    // Each step's effects and integer 103, the controller flag, after it.
    const struct { const char *what; std::function<void()> run; Effects expected; int controller_on; } rows[] = {
        {"apply LAN1", [&] { call<apply_fn>(m->command, nullptr, &lan1); }, {kBridgeOn, kLocalOn, v6(kLocalOn)}, 1},
        {"apply nothing", [&] { call<apply_fn>(m->command, &lan1, &off); }, {}, 0},
        {"remove LAN1", [&] { call<apply_fn>(m->discommand, &lan1, &off); }, {kBridgeOff, kLocalOff, v6(kLocalOff)}, 0},
        {"remove for a transparent-routing DMZ1", [&] { call<apply_fn>(m->discommand, &lan1, &dmz1); },
         {kBridgeOff + kTransparent, kLocalOff, v6(kLocalOff)}, 0},
        {"switch services and real-time traffic only (103 as the removal left it)",
         [&] { call<apply_fn>(m->recommand, &lan1, &lan1_changed); }, {"", switched, v6(switched)}, 0},
        {"switch LAN1 to DMZ1", [&] { call<apply_fn>(m->recommand, &lan1, &dmz1); },
         {kBridgeOff + kTransparent + "/sbin/route add -net 239.255.1.2 netmask 255.255.255.255 dev DMZ1\n", moved,
          v6(moved)}, 1},
        {"boot with LAN1 (directories that were not there are removed through the shell too)",
         [&] { call<boot_fn>(m->initial_system_cmd, nullptr, &lan1_changed, 1); },
         {"/bin/rm -rf \"/etc/sysconfig/.firewall/AP_Host_Config\"\n/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
          "/bin/rm -rf \"/mnt/AP_Host_Config\" > /dev/null 2>&1\n/bin/umount /mnt > /dev/null 2>&1\n"
          "/bin/rm -rf \"/var/ap/radar\"\n/bin/rm -rf \"/var/ap/command\"\n/bin/rm -rf \"/var/ap/lock\"\n"
          "/sbin/brctl addbr brgre\n" + kBridgeOn, booted, v6(booted)}, 1},
    };
    for (const auto &row : rows) {
        box.take(), row.run();
        EXPECT_EQ(box.take(), row.expected) << row.what;
        EXPECT_EQ(*RI(103), row.controller_on) << row.what;
    }
    EXPECT_FALSE(box.exists("/var/ap/info/stale"));
    for (const char *dir : {"/var/ap/firmware", "/etc/sysconfig/.firewall/AP_Host_Config", "/var/ap/radar",
                            "/var/ap/command", "/var/ap/lock", "/var/ap/info"})
        EXPECT_TRUE(std::filesystem::is_directory(box.file(dir))) << dir;
    EXPECT_EQ(RS(41) + std::string("|") + RS(54), "LAN1|^o^ ^o^ ^o^ 0 0 0");
    EXPECT_TRUE(box.exists("/etc/sysconfig/.firewall/AP_Host_Config/DEFAULT"));
    ASSERT_EQ(SET_DEFINE("SYSTEM_BRAND", "Brenmoor"), 0);  // the brand is the product's key: set after the boot
    ap_setting_record r = settings("LAN1");
    put(r.sync_ap_passwd, "secret"), put(r.autorestart_day_time, "03:00"), r.autorestart_en_autorestart = 1;
    const std::string kDefault = "/etc/sysconfig/.firewall/AP_Host_Config/DEFAULT";
    const struct { const char *what; std::function<void(ap_setting_record &)> change; bool rewritten; } edits[] = {
        {"first settings", [](ap_setting_record &) {}, true},
        {"load balance only", [](ap_setting_record &s) { s.enable_ap_balance = 1; }, false},
        {"services only", [](ap_setting_record &s) { s.enable_ap_sys_management = 1; }, false},
        {"password", [](ap_setting_record &s) { put(s.sync_ap_passwd, "other"); }, true},
        {"restart week day", [](ap_setting_record &s) { s.autorestart_week_day = 3; }, true},
        {"interface", [](ap_setting_record &s) { put(s.iname, "DMZ1"); }, true},
    };
    for (const auto &row : edits) {
        box.remove(kDefault), box.write("/var/tmp/kv_ap.dat", "x"), row.change(r);
        EXPECT_EQ(m->modify(m.open(1), &r, 1), 0);
        m.close();
        EXPECT_EQ((std::vector<int>{box.exists(kDefault), box.exists("/var/tmp/kv_ap.dat"), *RI(79)}),
                  (std::vector<int>{row.rewritten, !row.rewritten, r.enable_ap_balance})) << row.what;
    }
    EXPECT_EQ(RS(41) + std::string("|") + RS(52) + "|" + RS(54), "DMZ1|other|03:00 ^o^ ^o^ 3 0 1");
    ap_setting_record other = r;
    put(other.iname, "LAN9");
    EXPECT_EQ((std::vector{m->change(&r, &other), m->change(&r, &r), m->change(&r, nullptr), m->change(nullptr, &r)}),
              (std::vector{1, 0, 0, 0}));
    const time_t before = std::time(nullptr);
    ASSERT_EQ(ap_sync_default(), 0);
    EXPECT_EQ(without_time(box.read(kDefault), before),
              "[SYSTEM]\ntime=T\npoe_passthru=0\nap_passwd=b3RoZXI=\nautorestart=03:00 ^o^ ^o^ 3 0 1\n\n[DEFAULT]\n"
              "wireless_mode=6\n" + kDefaultRadio + "[5G_DEFAULT]\nwireless_mode=28\n" + kDefaultRadio);
    // The form's own names: the restart's and the real-time traffic's are not the keys.
    ap_setting_record all = settings("LAN1");
    submit_form({{"iname", "DMZ1"}, {"enable_ap_balance", "1"}, {"enable_ap_connect_mail", "1"},
                 {"enable_ap_sys_management", "18"}, {"sync_ap_passwd", "pw"}, {"day_time", "01:00"},
                 {"week_time", "02:00"}, {"month_time", "03:00"}, {"week", "4"}, {"month", "5"},
                 {"en_Autorestart", "2"}, {"en_rt_traffic", "1"}});
    ASSERT_EQ(call<void *(void *)>(m->cgiParam, &all), &all);
    qFree();
    EXPECT_EQ(m->modify(m.open(1), &all, 1), 0);
    m.close();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_setting.conf"), "DMZ1 1 0 1 18 pw 01:00 02:00 03:00 4 5 2 1 \n");
    const std::string defaults = " 0 0 7 ^o^ ^o^ ^o^ ^o^ 0 0 0 0 \n",
                      full = "LAN1 1 0 1 18 \"pass word\" 03:00 ^o^ 04:30 2 15 1 1 \n";
    for (auto [line, stored] : {std::pair{full, full}, {"DMZ2 1\n", "DMZ2 1" + defaults}, {"\n", "^o^ 0" + defaults}}) {
        ap_setting_record r{};
        box.write("/etc/sysconfig/.firewall/ap_setting.conf", line);
        EXPECT_EQ(m->modify(m.open(1, &r), &r, 1), 0);  // read into r, and stored again
        m.close();
        EXPECT_EQ(box.read("/etc/sysconfig/.firewall/ap_setting.conf"), stored);
    }
    for (const std::string &value : hostile_values(box.file("/sentinel"))) {
        ap_setting_record r = settings(value.c_str());
        box.take(), call<apply_fn>(m->command, nullptr, &r);
        // The route is the only command (an unknown interface joins no bridge).
        const std::string route = box.take().commands;
        EXPECT_EQ(run_with_stub(box, route.substr(0, route.size() - 1), "/sbin/route"),
                  (std::vector<std::string>{"add", "-net", "239.255.1.2", "netmask", "255.255.255.255", "dev", r.iname}))
            << value;
        EXPECT_FALSE(box.exists("/sentinel")) << value;
    }
    const auto age = [&](const std::string &name, time_t mtime) {
        const utimbuf t{mtime, mtime};
        box.write("/var/ap/firmware/" + name, "x"), utime(box.file("/var/ap/firmware/" + name).c_str(), &t);
    };
    for (const auto &[name, mtime] : {std::pair{"fw \"new\" <b>.bin", 1700000000}, {"ap-1.0.bin", 86400}, {".p", 0}})
        age(name, mtime);
    ap_upload_holder holder{};
    const auto ui = [&](int privilege) {
        const std::unique_ptr<char, decltype(&std::free)> text(upload_files_ui(&holder, privilege, 1), &std::free);
        return std::string(text ? text.get() : "<null>");
    };
    const std::string head = std::string("<table width=\"400\" border=\"0\" cellpadding=\"") + html_fmt[4] +
                             "\" cellspacing=\"" + html_fmt[5] +
                             "\">\n<tr><td class=\"TextAttr\">${COMMON_FILENAME_STR}</td></tr>\n<tr><td>";
    const auto button = [](const std::string &type, const std::string &onclick, const std::string &text) {
        const std::string icons = "<img src=\"../icons_${COMMON_LANGUAGE_SEL_STR}/common_bt_ok_";
        return "<button type=\"" + type + "\" onclick=\"" + onclick + "\" style=\"border:0;padding:0;background:none;"
               "cursor:pointer\">" + icons + "L.gif\" align=\"absmiddle\"><span style=\"display:inline-block;height:22px;"
               "line-height:22px;background-image:url(../icons_${COMMON_LANGUAGE_SEL_STR}/common_bt_ok_M.gif)\">" + text +
               "</span>" + icons + "R.gif\" align=\"absmiddle\"></button>";
    };
    const std::string tail = button("button", "upgrade_close();", "${COMMON_CANCEL_STR}") + "</td></tr>\n</table>\n",
                      listed = head + "<select name=\"sel_file\"><option value=\"ap-1.0.bin\">ap-1.0.bin&nbsp;(1970-01-02"
                               " 00:00:00)</option><option value=\"fw&nbsp;&quot;new&quot;&nbsp;&lt;b&gt;.bin\">fw&nbsp;"
                               "&quot;new&quot;&nbsp;&lt;b&gt;.bin&nbsp;(2023-11-14 22:13:20)</option></select>\n</td>"
                               "</tr>\n<tr><td align=\"right\">";
    // Who may change gets a submit; anyone else an alert.
    EXPECT_EQ(ui(3), listed + button("submit", "return upgrade_check(this.form);", "${COMMON_APPLY_STR}") + tail);
    EXPECT_EQ(ui(1), listed + button("button", "alert('${COMMON_PRIVILEGE_ALARM_STR}'); return false;",
                                     "${COMMON_APPLY_STR}") + tail);
    std::filesystem::remove_all(box.file("/var/ap/firmware"));  // read again, and made again
    EXPECT_EQ(ui(3), head + "${COMMON_NO_DATA_STR}</td></tr>\n<tr><td align=\"right\">" + tail);
    free_upload_files(&holder);
    // Not below the age: removed; nine minutes old: kept; dot files never.
    for (const auto &[name, seconds] : {std::pair{"old.bin", 600}, {"recent.bin", 540}, {".keep", 600}})
        age(name, std::time(nullptr) - seconds);
    box.take();
    EXPECT_EQ(ap_setting_checkUploadFirmware(600), 0);
    EXPECT_EQ((std::vector<bool>{box.exists("/var/ap/firmware/old.bin"), box.exists("/var/ap/firmware/recent.bin"),
                                 box.exists("/var/ap/firmware/.keep")}), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(box.take(), Effects{});  // removed in-process, no shell command
    std::filesystem::remove_all(box.file("/var/ap/firmware"));
    EXPECT_EQ(ap_setting_checkUploadFirmware(0), 0);
}

