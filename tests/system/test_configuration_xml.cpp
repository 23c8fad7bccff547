// The configuration as a whole through appliance-config, as the boot, a
// back-up and a restore run it, on the demo's sample configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>

#include "support/module_harness.h"

using namespace testing_support;

namespace {

Output config(const ModuleBox &box, std::vector<std::string> args) {
    args.insert(args.begin(), BUILD_DIR "/appliance-config");
    return run(box, args, {});
}

// Every configuration file, by its path.
std::map<std::string, std::string> files(const ModuleBox &box) {
    std::map<std::string, std::string> all;
    for (const auto &f : std::filesystem::directory_iterator(box.file("/etc/sysconfig/.firewall")))
        if (f.is_regular_file()) all[f.path().filename()] = read_file(f.path());
    return all;
}

}  // namespace

// The sample boots the same every time; exported, its modules' files
// removed and imported back, it exports and applies the same.
TEST(Configuration, TheSampleExportsImportsAndAppliesTheSame) {
    ModuleBox box({"--sample-config"});
    // The first boot also makes the controller's directories; from then on
    // every boot is the same.
    ASSERT_EQ(config(box, {"apply"}).status, 0);
    box.take();
    EXPECT_EQ(config(box, {"apply"}).out, "31 records applied\n");
    const Effects boot = box.take();
    EXPECT_NE(boot.ipv4.find("-A permitip_https_in -s 198.51.100.0/255.255.255.0 -j tlog_accept\n"), std::string::npos);
    ASSERT_EQ(config(box, {"export", "-o", box.file("/a.xml")}).status, 0);
    const std::string a = box.read("/a.xml");
    // The modules' files go; the document brings them back the same.
    const std::regex function("_function value=\"([^\"]+)\"");
    for (auto it = std::sregex_iterator(a.begin(), a.end(), function); it != std::sregex_iterator(); ++it)
        for (const int *file = module_find((*it)[1].str().c_str())->files; *file >= 0; ++file)
            std::filesystem::remove(box.file(my_FileName(*file)));
    const Output imported = config(box, {"import", box.file("/a.xml")});
    EXPECT_EQ(imported.status, 0);
    EXPECT_NE(imported.out.find("\nvirtual_ip_group: 1 entry\n"), std::string::npos) << imported.out;
    EXPECT_EQ(config(box, {"export"}).out, a);
    box.take();
    EXPECT_EQ(config(box, {"apply"}).status, 0);
    EXPECT_EQ(box.take(), boot);
    EXPECT_NE(config(box, {"list"}).out.find("\npermit_ip\t2\nmapped_ip\t1\nvirtual_ip\t2\n"), std::string::npos);
    EXPECT_EQ(config(box, {"show", "virtual_ip_group"}).out,
              "name='public servers' iname=WAN1 name='web farm' name='mail relay'\n");
    const Output shown = config(box, {"show", "ap_setting"});  // shown through its XML export
    EXPECT_EQ(std::to_string(shown.status) + shown.err, "0");
    EXPECT_EQ(shown.out,
              "iname=LAN1 enable_ap_balance=1 enable_ap_auto_power=1 enable_ap_connect_mail=0 "
              "enable_ap_sys_management=7 sync_ap_passwd=ap-admin autorestart_day_time=03:30 autorestart_week_time='' "
              "autorestart_month_time='' autorestart_week_day=0 autorestart_month_day=0 autorestart_en_autorestart=1 "
              "enable_realtime_traffic=0\n");
}

// A document refused (malformed, an unknown module, a stray element, a
// module that cannot import, too big) changes no file; usage errors.
TEST(Configuration, RefusedDocumentsChangeNothing) {
    ModuleBox box({"--sample-config"});
    ASSERT_EQ(config(box, {"export", "-o", box.file("/a.xml")}).status, 0);
    const std::string a = box.read("/a.xml");
    const std::map<std::string, std::string> before = files(box);
    const struct {
        std::string document, message;
    } rows[] = {
        {"<configuration><_function value=\"permit_ip\" method=\"add\"><_entry><name value=\"x\" />",
         "the document is not well-formed XML: Missing close tag </_entry> under parent <_function> on line 1."},
        {"<configuration><_function value=\"nope\" /></configuration>", "no module \"nope\""},
        {"<configuration><_function value=\"permit_ip\"><_entry><name value=\"x\" /></_entry><rule /></_function>"
         "</configuration>",
         "module \"permit_ip\": element 2 is not an entry"},
        {"<configuration><_function value=\"ddns\"><_entry><host>text</host></_entry></_function></configuration>",
         "module \"ddns\": element 1 is not an entry"},
        {"<configuration><_function value=\"gre_tunnel\" /></configuration>", "module \"gre_tunnel\" cannot import"},
        {"<other />", "the document is not a <configuration>"},
        {"<configuration><_function value=\"vpn_trunk\"><_entry><remote_ip value=\"10.0.0.1;reboot\" /></_entry>"
         "</_function></configuration>",
         "module \"vpn_trunk\": entry 1: remote_ip must be an IPv4 address"},
    };
    for (const auto &row : rows) {
        box.write("/b.xml", row.document);
        const Output o = config(box, {"import", box.file("/b.xml")});
        EXPECT_EQ(o.status, 1) << row.message;
        EXPECT_EQ(o.err, "appliance-config: " + row.message + "\n");
    }
    box.write("/b.xml", std::string(CONFIG_LARGEST_DOCUMENT + 1, ' '));
    EXPECT_EQ(config(box, {"import", box.file("/b.xml")}).err,
              "appliance-config: " + box.file("/b.xml") + " has 8388609 bytes, more than 8388608\n");
    EXPECT_EQ(files(box), before);
    EXPECT_EQ(config(box, {}).status, 2);
    EXPECT_EQ(config(box, {"export", "-o"}).status, 2);
    // At boot each line is read into a fresh record: a short line takes
    // nothing from the one before it.
    box.write("/etc/sysconfig/.firewall/permit_ip.conf", "\"a\" 1 0 10.0.0.0 255.0.0.0 31 \n\"b\" 2 \n");
    box.take();
    ASSERT_EQ(config(box, {"apply"}).status, 0);
    const std::string rules = lines_with(box.take().ipv4, "10.0.0.0/255.0.0.0");
    EXPECT_EQ(std::count(rules.begin(), rules.end(), '\n'), 10) << rules;
    EXPECT_EQ(config(box, {"show", "nope"}).err, "appliance-config: no module \"nope\"\n");
    EXPECT_EQ(config(box, {"export", "nope"}).err, "appliance-config: no module \"nope\"\n");
    EXPECT_EQ(config(box, {"export", "sys_reboot"}).err, "appliance-config: module \"sys_reboot\" has no export\n");
}
