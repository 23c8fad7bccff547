// The managed APs in real SQLite databases: list and order, edits, deletion, maps, app logins, CSV export, WTP files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "support/hostile.h"
#include "support/module_harness.h"

using namespace testing_support;

namespace {
constexpr const char *kInfo = "/etc/sysconfig/.firewall/AP_INFO";
constexpr const char *kClient = "/var/db/AP_CLIENT";

// The AP table as the AP daemon creates it: a name alone is one column; "+" after it, its "5G_" twin too (quoted: it
// begins with a digit); "*", the twin for each of the four 5 GHz channel sets; "#", those sets' three columns each.
std::string ap_table() {
    std::string t = "CREATE TABLE ap_list (SN INTEGER, STime, ETime, Name, MAC, IP, PORT, Username, Passwd, Status "
                    "INTEGER";
    for (std::string n : {"poe", "ssid_max+", "pf_id+", "wireless_mode_list+", "wireless_mode+", "data_rate+",
                          "beacon_interval+", "dtim_interval+", "high_power+", "high_txpower_list*", "txpower_list*",
                          "transmit_power+", "spanning_tree+", "ack_timeout+", "slot_time+", "short_gi+",
                          "igmp_snooping+", "greenfield+", "channel_list#", "channel+", "channel_width+",
                          "channel_ext_list+", "channel_ext+", "map_id", "map_axis_x", "map_axis_y", "gps_lat", "gps_lng",
                          "gps_addr", "gps_id", "action",
                          "`Group`", "wired_id", "wired_max", "fw_version", "autorestart", "fw_upgrade"}) {
        const char kind = n.back() == '+' || n.back() == '*' || n.back() == '#' ? n.back() : ' ';
        if (kind != ' ') n.pop_back();
        t += ", " + n + (kind == '+' ? ", `5G_" + n + "`" : "");
        for (const char *set : {"1", "2", "3", "4"})
            for (const char *end : {"_toTxpower", "_band", ""})
                if (kind == '#' || (kind == '*' && !*end)) t += ", `5G_" + n + "_" + set + end + "`";
    }
    return t + ");\n";
}

// Runs statements on a database file; with columns, the rows of a query ("|" between its columns and a line each).
std::string sql(const char *path, const std::string &statements, int columns = 0) {
    sqlite3 *db = nullptr;
    EXPECT_EQ(_my_sqlite_connect("test", &db, path), 0);
    std::string out;
    EXPECT_EQ(columns ? 0 : _my_sqlite_exec("test", db, nullptr, "%s", statements.c_str()), 0) << statements;
    sqlite3_stmt *stmt = columns ? _my_sqlite_query("test", db, "%s", statements.c_str()) : nullptr;
    for (char **row; stmt && (row = _my_sqlite_fetch_row("test", stmt)); _my_sqlite_free_row("test", row), out += "\n")
        for (int i = 0; i < columns; ++i) out += (i ? "|" : "") + std::string(row[i] ? row[i] : "");
    if (stmt) _my_sqlite_finalize("test", stmt);
    _my_sqlite_close("test", db);
    return out;
}

class ApHost : public testing::Test {
protected:
    void SetUp() override {
        setenv("APPLIANCE_SLEEP", "0", 1);
        std::filesystem::create_directories(box.file("/var/db"));
        std::filesystem::create_directories(box.file("/etc/sysconfig/.firewall/AP_Host_Config"));
        sql(kInfo, ap_table() + "INSERT INTO ap_list (SN, STime, Name, MAC, IP, Status, pf_id, `5G_pf_id`, wired_id, "
            "autorestart, `Group`, gps_lat, gps_lng, poe, channel) VALUES (7, '2024-01-02 03:04:05', 'Hall', "
            "'00:11:22:aa:bb:07', '10.0.0.10', 1, '4,0,9', '0,5', '0,2,0,0,0,0,0,0,9', '^o^', 3, '25.5', '121.25', 1, "
            "'6'), (8, '0000-00-00 00:00:00', 'Attic \"2\"', '00:11:22:AA:BB:08', '10.0.0.9', 0, '4', '', "
            "'2,0,0,0,0,0,0,0', '01:00 ^o^ ^o^ 0 0 1', 0, NULL, NULL, 0, NULL), (9, '2024-01-01 00:00:00', 'Yard', "
            "'00:11:22:AA:BB:09', '0.0.0.0', 1, '3', NULL, NULL, NULL, 1, NULL, NULL, 0, NULL)");
        sql("/etc/sysconfig/.firewall/AP_USER", "CREATE TABLE app_login (TYPE, LANGUAGE, ID)");
        WS(41, "LAN1"), WS(52, "secret"), WS(54, "03:00 ^o^ ^o^ 0 0 1");
    }
    std::vector<int> order() {
        std::vector<int> sns;
        ll_list *list = AH_getMySQL_list();
        for (ll_node *cursor = nullptr; const ap_host_record *a = AH_getlineMySQL(list, &cursor);) sns.push_back(a->SN);
        AH_closeMySQL(&list);
        return sns;
    }
    ModuleBox box;
};
}  // namespace

// The list in the order the page's sort column asks, a row read over the defaults; an edit stores the editable fields
// as data, hostile names too; no database file: no list, and none made.
TEST_F(ApHost, ListIsReadInTheOrderThePageAsks) {
    const struct { const char *si, *sd; std::vector<int> sns; } rows[] = {
        {"0", "1", {8, 7, 9}},  // Status, then SN; the direction is ignored
        {"2", "1", {9, 7, 8}},  // Name descending
        {"3", "0", {9, 8, 7}},  // the address as a number: 10.0.0.9 before 10.0.0.10
        {"4", "1", {7, 9, 8}},  // as stored: AP 7's lower-case MAC sorts last
        {"5", "1", {7, 9, 8}},  // Status, then the connection's start
        {"6", "1", {9, 8, 7}},
    };
    for (const auto &row : rows) {
        qValueAdd("si", "%s", row.si), qValueAdd("sd", "%s", row.sd);
        EXPECT_EQ(order(), row.sns) << "si=" << row.si << " sd=" << row.sd;
        qFree();
    }
    // AP 7: its MAC in upper case, its start in seconds, a NULL as the default.
    ll_list *list = AH_getMySQL_list();
    ll_node *cursor = nullptr;
    const ap_host_record *hall = (AH_getlineMySQL(list, &cursor), AH_getlineMySQL(list, &cursor));  // Status, SN
    ASSERT_TRUE(hall && hall->SN == 7);
    // A list longer than the slots fills the slots only (wired_max stays).
    EXPECT_EQ(std::string(hall->MAC) + "|" + std::to_string(hall->STime) + "|" + std::to_string(hall->radio[0].pf_id[2]) +
                  "|" + std::to_string(hall->wired_id[7]) + std::to_string(hall->wired_max) +
                  "|" + hall->radio[0].channel + "|" + hall->radio[1].channel,
              "00:11:22:AA:BB:07|1704164645|9|00|6|0 (Auto)");
    AH_closeMySQL(&list);
    ap_host_record a;
    Module(ap_host_register, ap_host_unregister)->set_default(&a, nullptr);
    a.SN = 8, a.radio[0].pf_id[0] = 2, a.radio[0].pf_id[2] = 3, a.wired_id[1] = 4;
    put(a.Name, "', `Name`='x' --"), put(a.gps_lat, "1.5"), put(a.gps_lng, "-2.25"), put(a.gps_id, "20240101000000");
    ASSERT_EQ(AH_modifyMySQL(&a), 0);
    EXPECT_EQ(sql(kInfo, "SELECT SN, Name, pf_id, `5G_pf_id`, wired_id, data_rate, beacon_interval, gps_lat, gps_lng, "
                         "gps_id FROM ap_list ORDER BY SN", 10),
              "7|Hall|4,0,9|0,5|0,2,0,0,0,0,0,0,9|||25.5|121.25|\n"
              "8|', `Name`='x' --|2,3||0,4,0,0,0,0,0,0|Auto|100|1.5|-2.25|20240101000000\n9|Yard|3|||||||\n");
    for (const std::string &value : hostile_values(box.file("/sentinel"))) {
        put(a.Name, value.c_str());
        ASSERT_EQ(AH_modifyMySQL(&a), 0) << value;
        EXPECT_EQ(sql(kInfo, "SELECT Name FROM ap_list WHERE SN=8", 1), std::string(a.Name) + "\n") << value;
    }
    std::filesystem::remove(box.file(kInfo));
    EXPECT_EQ(AH_getMySQL_list(), nullptr);
    EXPECT_FALSE(box.exists(kInfo));  // not made by looking
}

// Each AP's WTP file from its slots and profiles (a profile's change reaching its APs only); the CSV export; an AP
// applied and removed, no file named by what is not a MAC; maps, status, time, app logins; deletion with client rows.
TEST_F(ApHost, WtpFilesExportMapsAndDeletion) {
    box.write("/etc/sysconfig/.firewall/ap_profile_opt.conf",
              "4 Office Office 1 0 0 0 0 WPA2PSK 0 HEX 64 1 ^o^ WPA2 AES 3600 \"pass phrase\" WPA2 AES 3600 0.0.0.0 "
              "1812 ^o^ 64 0.0.0.0 1812 ^o^ 10 \n9 Guest Guest \n5 Fast Fast \n");
    box.write("/etc/sysconfig/.firewall/ap_wired_opt.conf", "2 Desk 1 0 20 \n");
    const std::string dir = "/etc/sysconfig/.firewall/AP_Host_Config/[WTP]=00:11:22:AA:BB:0";
    const time_t before = std::time(nullptr);
    ASSERT_EQ(ap_sync_host(0), 0);
    EXPECT_EQ(without_time(box.read(dir + "8"), before),
              "[SYSTEM]\ntime=T\npoe_passthru=0\nap_passwd=c2VjcmV0\nautorestart=01:00 ^o^ ^o^ 0 0 1\n\n[DEFAULT]\n"
              "wireless_mode=6\n" + kDefaultRadio + "[5G_DEFAULT]\nwireless_mode=28\n" + kDefaultRadio +
                  "[SSID1]\nssid=Office\nssid_visible=1\nclient_isolation=0\nconnection_enable=0\nconnection_limit=0\n"
                  "trafficMode=0\nauthentication=WPA2PSK\nencryption=0\nkey_type=HEX\nkey_size=64\nkey_index=1\n"
                  "network_key=^o^\nWPA_mode=WPA2\ncipher_type=AES\nupdate_sec=3600\npassphrase=pass phrase\n"
                  "WPA_radius_mode=WPA2\nradius_cipher_type=AES\nradius_update_sec=3600\nwpa_radius_ip=0.0.0.0\n"
                  "wpa_radius_port=1812\nwpa_radius_secret=^o^\nwep_8021x_size=64\nwep_8021x_ip=0.0.0.0\n"
                  "wep_8021x_port=1812\nwep_8021x_secret=^o^\nvlan_id=10\nssid_b64=T2ZmaWNl\nnetwork_key_b64=Xm9e\n"
                  "passphrase_b64=cGFzcyBwaHJhc2U=\nwpa_radius_secret_b64=Xm9e\nwep_8021x_secret_b64=Xm9e\n[ETH1]\n"
                  "client_isolation=1\ntrafficMode=0\nvlan_id=20\n");
    // Sections keep their slot's number; a profile that does not exist gives none.
    const auto shown = [&](const char *ap) {  // the section headings and a few keys
        return std::regex_replace(box.read(dir + ap), std::regex("((\\[|poe|autorestart|channel=).*\n)|.*\n"), "$1");
    };
    EXPECT_EQ(shown("7"), "[SYSTEM]\npoe_passthru=1\nautorestart=03:00 ^o^ ^o^ 0 0 1\n[DEFAULT]\nchannel=6\n"
                          "[5G_DEFAULT]\nchannel=0 (Auto)\n[SSID1]\n[SSID3]\n[5G_SSID2]\n[ETH2]\n");
    EXPECT_EQ(shown("9"), "[SYSTEM]\npoe_passthru=0\nautorestart=03:00 ^o^ ^o^ 0 0 1\n[DEFAULT]\nchannel=0 (Auto)\n"
                          "[5G_DEFAULT]\nchannel=0 (Auto)\n");
    // One AP alone; a profile's change reaches the APs that use it only.
    for (const char *ap : {"7", "8"}) std::filesystem::remove(box.file(dir + ap));
    ASSERT_EQ(ap_sync_host(8), 0);
    EXPECT_EQ((std::vector<bool>{box.exists(dir + "7"), box.exists(dir + "8")}), (std::vector<bool>{false, true}));
    Module profiles(ap_profile_register, ap_profile_unregister);
    ap_profile_record unused{.id = 77}, used{.id = 9};
    EXPECT_EQ(call<int (*)(void *)>(profiles->command, &unused), 0);
    EXPECT_FALSE(box.exists(dir + "7"));
    EXPECT_EQ(call<int (*)(void *)>(profiles->discommand, &used), 0);
    EXPECT_TRUE(box.exists(dir + "7"));
    ap_host_options o{};
    ASSERT_EQ(ap_host_options_register(&o), 0);
    o.host->handle = AH_getMySQL_list();
    ll_list *aps = static_cast<ll_list *>(o.host->handle);
    ll_node *cursor = nullptr;
    ap_host_record hall = (AH_getlineMySQL(aps, &cursor), *AH_getlineMySQL(aps, &cursor));
    char path[64] = "";
    ASSERT_EQ(export_ap_list(&o, path), 1);
    EXPECT_EQ(path, "/var/tmp/AP_Profile_" + std::string(my_getDate(0)) + ".txt");
    EXPECT_EQ(box.read(path), "# Name, MAC Address, AP Group, Latitude, Longitude\r\n"
              "\"Attic \\\"2\\\"\" 00:11:22:AA:BB:08 0 0.000000 0.000000\r\n"
              "\"Hall\" 00:11:22:AA:BB:07 3 25.500000 121.250000\r\n\"Yard\" 00:11:22:AA:BB:09 1 0.000000 0.000000\r\n");
    // The list is its loader's to free, here through a copy of the handle word: the tables alone go after it.
    AH_closeMySQL(&aps), ap_host_options_unregister(&o);
    Module host(ap_host_register, ap_host_unregister);
    using command_fn = int (*)(ap_host_record *);
    box.remove(dir + "7"), box.take();
    EXPECT_EQ(call<command_fn>(host->command, &hall), 0);
    const Effects on = box.take();
    EXPECT_EQ(line_of(on.commands, 1) + "\n" + on.ipv4, "/sbin/ip link add WLAN_P1_AP7 type gretap remote 10.0.0.10 "
              "key 1 nopmtudisc\n/sbin/iptables -t filter -D ap_gre_out -p 47 -d 10.0.0.10 -j DROP\n");
    EXPECT_TRUE(box.exists(dir + "7"));
    EXPECT_EQ(call<command_fn>(host->discommand, &hall), 0);
    EXPECT_EQ(box.take().commands.substr(0, 30), "/sbin/ip link del WLAN_P1_AP7\n");
    EXPECT_FALSE(box.exists(dir + "7"));
    box.write("/etc/sysconfig/.firewall/keep", "x");
    for (const char *bad : {"../../keep", "00:11:22:AA:BB", "00:11:22:AA:BB:C/", "00:11:22:AA:BB:07"})
        EXPECT_EQ(ap_del_host(bad), -1) << bad;  // not a MAC, or gone already
    EXPECT_TRUE(box.exists("/etc/sysconfig/.firewall/keep"));
    const char *map = "20240101000001", *moved = "20240101000002";  // maps' ids, as my_chainID makes them
    EXPECT_EQ(AH_updateMap("00:11:22:AA:BB:08", map, 10.5, 20, 25.1234567, 121, "Road '1'", "^o^"), 0);
    EXPECT_EQ(AH_updateMapByMacMapGps("00:11:22:AA:BB:09", "121.5", "-25", "^o^", "G1"), 0);
    EXPECT_EQ(AH_updateMapByMacMapGps("00:11:22:AA:BB:09", "1, `Name`='x'", "0", "", "G1"), -1);
    const char *placed = "SELECT SN, map_id, map_axis_x, map_axis_y, gps_lat, gps_lng, gps_addr, gps_id FROM ap_list "
        "ORDER BY SN";
    EXPECT_EQ(sql(kInfo, placed, 8),
              "7||||25.5|121.25||\n8|20240101000001|10.50|20.00|25.123457|121.000000|Road '1'|\n"
              "9||||-25|121.5||G1\n");
    box.take();
    EXPECT_EQ((std::vector{AH_updateMapByOrgMapId(map, moved), AH_updateMapByOrgMapId("../20240101000001", moved)}),
              (std::vector{0, -1}));
    EXPECT_EQ(box.take().commands,
              "/bin/rm -rf /etc/sysconfig/.firewall/emap/20240101000001.*\n"
              "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
              "/bin/cp /etc/sysconfig/.firewall/AP_INFO /mnt > /dev/null 2>&1\n/bin/umount /mnt > /dev/null 2>&1\n");
    EXPECT_EQ(AH_clearMap("G1"), 0);
    EXPECT_EQ(sql(kInfo, placed, 8),
              "7||||25.5|121.25||\n8|20240101000002|10.50|20.00|25.123457|121.000000|Road '1'|\n9|||||||\n");
    EXPECT_EQ(ap_host_reset_status(), 0);
    EXPECT_EQ(sql(kInfo, "SELECT DISTINCT Status, IP, fw_upgrade FROM ap_list", 3), "0|0.0.0.0|\n");
    EXPECT_EQ((std::vector<int>{adjust_time("-3600"), adjust_time("1; DROP TABLE ap_list")}), (std::vector<int>{0, -1}));
    EXPECT_EQ(sql(kInfo, "SELECT STime FROM ap_list ORDER BY SN", 1),
              "2024-01-02 02:04:05\n0000-00-00 00:00:00\n2023-12-31 23:00:00\n");
    for (int store : {1, 1, 0}) {
        EXPECT_EQ(app_login_sql("phone'1", 2, store + 2, store), 0);
        EXPECT_EQ(sql("/etc/sysconfig/.firewall/AP_USER", "SELECT TYPE, LANGUAGE, ID FROM app_login", 3),
                  store ? "2|3|phone'1\n" : "");
    }
    sql(kClient,
        "CREATE TABLE ap_list (SN, MAC);\nINSERT INTO ap_list VALUES (5, '00:11:22:AA:BB:07');\n"
        "CREATE TABLE AP_005 (x);\nCREATE TABLE AP_SSIDS_005 (x);\nCREATE TABLE AP_006 (x);\n"
        "CREATE TABLE block (refer_ap_sn, mac);\nINSERT INTO block VALUES ('5', 'a'), ('6', 'b');\n"
        "CREATE TABLE illegal (ap_sn, mac, utime);\n"
        "INSERT INTO illegal VALUES ('5', 'C1', ''), ('2,5,9', 'C2', ''), ('15,25', 'C3', ''), ('5,6', 'C4', '');\n"
        "CREATE TABLE legal (ap, refer_ap);\nINSERT INTO legal VALUES (5, 1), (1, 5), (6, 1)");
    EXPECT_EQ(AH_deleteRelative("00:11:22:aa:bb:07"), 0);
    EXPECT_EQ(sql(kClient, "SELECT name FROM sqlite_master WHERE name LIKE 'AP_0%' ORDER BY name", 1) +
                  sql(kClient, "SELECT refer_ap_sn FROM block", 1) + sql(kClient, "SELECT ap, refer_ap FROM legal", 2) +
                  sql(kClient, "SELECT ap_sn, mac, utime LIKE '____-__-__ __:__:__' FROM illegal ORDER BY mac", 3),
              "AP_006\n6\n6|1\n2,9|C2|1\n15,25|C3|0\n6|C4|1\n");
    EXPECT_EQ(AH_deleteRelative("00:11:22:AA:BB:99"), 0);  // unknown: nothing happens
    ll_list *list = AH_getMySQL_list();
    ap_host_record by_mac{};
    put(by_mac.MAC, "00:11:22:aa:bb:07");  // the row holds it in lower case
    box.take();
    EXPECT_EQ((std::vector<int>{AH_deleteMySQL(list, &by_mac), static_cast<int>(ll_count(list)),
                                AH_deleteMySQL(list, &by_mac)}), (std::vector<int>{0, 2, -1}));
    AH_closeMySQL(&list);
    EXPECT_EQ(order(), (std::vector<int>{8, 9}));
    // The deletion reached flash; the one that deleted nothing did not.
    EXPECT_EQ(box.take().commands,
              "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n/bin/cp /etc/sysconfig/.firewall/AP_INFO /mnt > "
              "/dev/null 2>&1\n/bin/umount /mnt > /dev/null 2>&1\n");
}

