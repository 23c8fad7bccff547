// The upgrade CGI's pages as the web server gets them (dispatch, privilege,
// lock-down, help, form), the page fragments, the reboot page module, the
// timing record, the section walk and the image tools.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "support/request.h"
#include "support/hostile.h"
#include "support/sandbox.h"
#include "upgrade/upgrade.h"
#include "webadmin.h"

namespace {

using namespace testing_support;

const std::string kHeader = "Content-Type: text/html\n\n";
const std::string kKills = "/bin/kill -9 mysqld > /dev/null 2>&1\n/bin/kill -9 VazaRorire > /dev/null 2>&1\n";

Output get(const Sandbox &box, const std::string &query, const std::string &user = "admin", const std::string &addr = "192.168.1.10") {
    std::map<std::string, std::string> env = {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}, {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"}};
    if (!user.empty()) env["REMOTE_USER"] = user;
    if (!addr.empty()) env["REMOTE_ADDR"] = addr;
    return run_cgi(box, env);
}

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

std::string take(char *heap) {
    std::string s = heap ? heap : "(null)";
    free(heap);
    return s;
}

TEST(Dispatch, RequestNumberAndPrivilegeSelectThePage) {
    Sandbox box;
    EXPECT_EQ(get(box, "").out, "");  // an empty query decodes nothing: silence
    for (const char *query : {"menu=x", "q=0", "q=abc"}) {
        const std::string out = get(box, query).out;
        EXPECT_TRUE(out.starts_with(kHeader) && has(out, "<form name=\"upgrade\"")) << query;
    }
    for (const char *query : {"q=4", "q=255", "q=-1"}) EXPECT_EQ(get(box, query).out, kHeader) << query;
    const std::string alert = kHeader + "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
                                        "<script>alert('You are not allowed to view this page.');history.back(1);</script>\n</head></html>\n";
    for (const std::string user : {"admin", "viewer", "", "nobody", "Admin"}) {  // help and preparation for anyone
        EXPECT_TRUE(has(get(box, "q=2", user).out, "Upgrade Help Comment")) << user;
        EXPECT_EQ(get(box, "q=3", user).out, kHeader + "1") << user;
        if (user != "admin" && user != "viewer") {
            EXPECT_EQ(get(box, "q=0", user).out + get(box, "q=1", user).out, alert + alert) << user;
        }
    }
    box.write("/commands.log", "");
    get(box, "q=9");
    EXPECT_EQ(box.commands(), kKills);  // the database daemons stop without storage, whatever the request
    for (const char *def : {"HAVE_HARDDISK=y", "HAVE_BOOT_FAKE_HARDDISK=Yes", "HAVE_EXTERNAL_USB=y"}) {
        Sandbox storage({def});
        get(storage, "q=0");
        EXPECT_EQ(storage.commands(), "") << def;
    }
    box.write("/etc/system.info", "short");  // missing product data: the header alone
    EXPECT_EQ(get(box, "q=0").out, kHeader);
    Sandbox other;
    std::remove(other.file("/etc/html.info").c_str());
    EXPECT_EQ(get(other, "q=2").out, kHeader);
}

TEST(Prepare, LocksDownToTheBrowserAndKeepsItsAddressOneArgument) {
    Sandbox box;
    box.write("/var/ap/firmware/a.img", "x");
    box.write("/var/ap/firmware/.keep", "");
    EXPECT_EQ(get(box, "q=3").out, kHeader + "1");
    EXPECT_EQ(box.commands(), kKills + "/sbin/iptables-static -t mangle -I PREROUTING -s 192.168.1.10 -j ACCEPT\n"
                                       "/sbin/iptables-static -t mangle -I PREROUTING -i tun1 -j ACCEPT\n"
                                       "/sbin/iptables-static -t mangle -I PREROUTING 3 -j DROP\n"
                                       "/usr/bin/killall -STOP vavazUzo > /dev/null 2>&1\n/usr/sbin/vavazUzo killall > /dev/null 2>&1\n"
                                       "/bin/umount /mnt > /dev/null 2>&1\n");
    EXPECT_FALSE(box.exists("/var/ap/firmware/a.img"));  // access-point firmware cleared, dot files kept
    EXPECT_TRUE(box.exists("/var/ap/firmware/.keep"));
    box.write("/commands.log", "");
    get(box, "q=3", "admin", "");
    EXPECT_EQ(box.commands().substr(kKills.size(), 60), "/sbin/iptables-static -t mangle -I PREROUTING -s  -j ACCEPT\n");
    const std::string next_rule = "\n/sbin/iptables-static -t mangle -I PREROUTING -i tun1 -j ACCEPT\n";
    for (const std::string &addr : hostile_values(box.file("/SENTINEL"))) {
        box.write("/commands.log", "");
        EXPECT_EQ(get(box, "q=3", "admin", addr).out, kHeader + "1");
        const std::string recorded = box.commands().substr(kKills.size());
        EXPECT_EQ(run_with_stub(box, recorded.substr(0, recorded.find(next_rule)), "/sbin/iptables-static"),
                  (std::vector<std::string>{"-t", "mangle", "-I", "PREROUTING", "-s", addr, "-j", "ACCEPT"}))
            << addr.substr(0, 60);
        EXPECT_FALSE(box.exists("/SENTINEL"));
    }
}

TEST(Pages, HelpAndFormWithTheirTextsAndRequestValues) {
    Sandbox box;
    const std::string help = get(box, "q=2", "", "10.0.0.1").out;
    EXPECT_EQ(get(box, "q=2&flag=7&MULTI_LANG=eng").out + get(box, "q=2&flag=undefined&MULTI_LANG=").out, help + help);
    for (const char *part : {"<title>Upgrade Help Comment</title>", "<td colspan=2>Firmware Upgrade - Help</td>", "&nbsp;\xE3\x80\x80 </td>",
                             "<td align=\"right\" width=\"3%\">4.</td><td align=\"left\">Wait for the count-down"})
        EXPECT_TRUE(has(help, part)) << part;
    EXPECT_TRUE(has(get(box, "q=2&MULTI_LANG=ch").out, "韌體更新 - 說明"));

    std::string out = get(box, "q=0").out;
    for (const char *part : {"<form name=\"upgrade\" method=\"post\" enctype=\"multipart/form-data\">",
                             "confirm(\"The appliance restarts after the upgrade. Do not switch it off. Continue?\")",
                             "req.open(\"GET\", \"upgrade.cgi?q=3\", true);", "\"Msxml2.XMLHTTP\"", "\"Microsoft.XMLHTTP\"",
                             "<button type=\"submit\" onclick=\"return checkall(document.upgrade);\" style=\"border:0;padding:0;background:none;cursor:pointer\">"
                             "<img src=\"../icons_eng/common_bt_ok_L.gif\" align=\"absmiddle\">", "type=\"submit\" onclick=\"q.disabled=true, img.disabled=true;\"",
                             "<input type=\"file\" name=\"img\" size=\"25\">", "<td>v2.01.05</td>", "( ex: Demo_WA1000_020105.img)",
                             "<td class=\"TitleCol\" width=\"30%\">Firmware Version</td>", "../icons_eng/common_bt_help_L.gif", ">Apply</span>",
                             "name=\"MULTI_LANG\" value=\"eng\"", "&MULTI_LANG=\", \"comment\""})
        EXPECT_TRUE(has(out, part)) << part;
    out = get(box, "q=0", "viewer").out;  // the viewer's form only alerts
    EXPECT_TRUE(has(out, "<form name=\"upgrade\" method=\"post\" >") && !has(out, "multipart/form-data") && !has(out, "checkall"));
    EXPECT_TRUE(has(out, "type=\"button\" onclick=\"alert('You may view this page but not change it.');\""));
    for (auto [query, parts] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"menu=click_v123&MULTI_LANG=sch", {"name=\"menu\" value=\"click_v123\"", "name=\"MULTI_LANG\" value=\"sch\"", "固件升级"}},
             {"menu=other&MULTI_LANG=fr", {"name=\"menu\" value=\"\"", "name=\"MULTI_LANG\" value=\"eng\"", "&MULTI_LANG=fr\", \"comment\""}},
             {"menu=click_v%22%3E%3Cscript%3Ex()%3C/script%3E&MULTI_LANG=%22);x();//%3C",
              {"name=\"menu\" value=\"click_v&quot;&gt;&lt;script&gt;x()&lt;/script&gt;\"", "&MULTI_LANG=%22%29%3Bx%28%29%3B%2F%2F%3C\", \"comment\""}}}) {
        out = get(box, query).out;
        for (const std::string &part : parts) EXPECT_TRUE(has(out, part)) << query << ": " << part;
        EXPECT_FALSE(has(out, "<script>x()"));
    }
    for (auto [definitions, example] : {std::pair<std::vector<std::string>, std::string>{{"SYSTEM_UPGRADE_DISPLAY_MODEL=X2"}, "( ex: DemoX2_020105.img)"},
                                        {{"SYSTEM_UPGRADE_DISPLAY_VENDOR="}, "( ex: _WA1000_020105.img)"},
                                        {{"SYSTEM_UPGRADE_DISPLAY_VENDOR=Acme", "SYSTEM_UPGRADE_DISPLAY_MODEL=-X2"}, "( ex: Acme-X2_020105.img)"}}) {
        Sandbox shown(definitions);
        EXPECT_TRUE(has(get(shown, "q=0").out, example)) << example;
    }
    box.write("/etc/language/eng/common", "# emptied\n");  // a missing key shows itself
    EXPECT_TRUE(has(get(box, "q=0").out, ">${COMMON_HELP_STR}</span>"));
}

class Fragments : public ::testing::Test {
protected:
    void SetUp() override {
        system_info_record record{};
        ASSERT_EQ(my_systemInfo(reinterpret_cast<char *>(&record)), 0);
    }
    Sandbox box_;  // the demo's theme, texts and SYSTEM_FORMAT_TIME 60
};

TEST_F(Fragments, MessagePageStyleAndScriptFragments) {
    load_my_language("eng", "upgrade", nullptr);
    const std::string style = "<style type=\"text/css\">\nBODY {\n  margin: 0px;\n  font-family: Verdana, Arial, Helvetica;\n"
                              "  background-color: #f4f6f8;\n  background-position: center top;\n  scrollbar-face-color: #c8d0d8;\n"
                              "  scrollbar-highlight-color: #ffffff;\n  scrollbar-shadow-color: #a0a8b0;\n  scrollbar-3dlight-color: #e8ecf0;\n"
                              "  scrollbar-arrow-color: #203040;\n  scrollbar-track-color: #eef1f4;\n  scrollbar-darkshadow-color: #808890;\n}\n"
                              ".TextAttr {\n  font-family: Arial;\n  font-weight: normal;\n  font-size: 12px;\n  color: #203040;\n  height: 20px;\n"
                              "  text-align: center;\n}\n</style>\n";
    EXPECT_EQ(captured_stdout(upgrade_css), style);
    for (int flag : {1, 0}) {
        const std::string row = std::string("<tr class=\"TextAttr\"><td ") + (flag ? "style=\"color: #cc0000\"" : "") + ">";
        EXPECT_EQ(captured_stdout([&] { message("first", "second", flag); }),
                  "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n" + style +
                      "</head>\n<body>\n<center>\n<br>\n<table border=0 width=700 cellpadding=3 cellspacing=1>\n" + row + "first</td></tr>\n" + row +
                      "second</td></tr>\n</table>\n</center>\n</body>\n</html>\n");
    }
    const std::string table = "<table border=0 width=700 cellpadding=3 cellspacing=1>\\n", row = "<tr class=\"TextAttr\" align=\"center\"><td";
    EXPECT_EQ(take(ui_para_valid()), table + row + ">The firmware image is valid and is being written.</td></tr>\\n" + row +
                                         ">This takes a few minutes; the appliance then restarts by itself.</td></tr>\\n</table>");
    EXPECT_EQ(take(ui_para_ver_down_warn()),
              table + row + " style=\"color: #cc0000\">The image holds an older firmware version than the one running.</td></tr>\\n" + row +
                  " style=\"color: #cc0000\">The upgrade goes on; settings of newer versions may be lost.</td></tr>\\n</table>");
    EXPECT_EQ(take(ui_invalid()), table + "<tr class=\\\"TextAttr\\\" align=\\\"center\\\"><td>The file is not a valid firmware image for this "
                                          "appliance.</td></tr>\\n<tr class=\\\"TextAttr\\\" align=\\\"center\\\"><td>Please choose a correct firmware "
                                          "image.</td></tr>\\n</table>");
}

TEST_F(Fragments, TimingRecordSizesTheBar) {
    constexpr const char *kFile = "/etc/sysconfig/.firewall/upgrade_info.conf";
    auto stored = [&] {
        unsigned long start = 0, end = 0;
        EXPECT_EQ(sscanf(box_.read(kFile).c_str(), "%lu %lu", &start, &end), 2);
        return std::pair{start, end};
    };
    EXPECT_EQ(get_last_upgrade_interval(), 360);  // an empty file gets the default line at once
    EXPECT_EQ(stored().second - stored().first, 360u);
    box_.write(kFile, "1000 1180\n");
    upgrade_info_record record{};
    const std::string bar = take(ui_para_upgrading(&record));
    EXPECT_TRUE(static_cast<time_t>(record.start) >= time(nullptr) - 5 && record.end == 0u);
    EXPECT_EQ(bar,  // one line for the page's script string
              "<script>\\nvar progress_id;\\nvar progress_time = 0;\\nvar current_time = 0;\\nfunction set_progress() {\\n"
              "  var bar = document.getElementById(\"wp\");\\n  var ie = document.getElementById(\"iewp\");\\n"
              "  if (bar && bar.max) {\\n    if (bar.value < bar.max) {\\n      bar.value = bar.value + 1;\\n"
              "      ie.style.width = ((bar.value + 1) * 100 / bar.max) + \"%\";\\n    } else {\\n"
              "      clearInterval(progress_id);\\n    }\\n  } else if (progress_time > 0) {\\n"
              "    current_time = current_time + 1;\\n    if (current_time < progress_time) {\\n"
              "      ie.style.width = (current_time * 100 / progress_time) + \"%\";\\n    } else {\\n"
              "      clearInterval(progress_id);\\n    }\\n  } else {\\n    clearInterval(progress_id);\\n  }\\n}\\n"
              "<\\/script>\\n<table border=0 width=700 cellpadding=3 cellspacing=1>\\n"
              "<tr class=\"TextAttr\" align=\"center\"><td width=\"35%\"></td><td align=\"left\"><progress id=\"wp\" max=\"180\" value=\"0\"><span id=\"iewp\" class=\"ie\" style=\"width:0%;\"></span></progress></td><td width=\"35%\"></td></tr>\\n"
              "</table>\\n<script>\\nif (document.getElementById(\"wp\")) {\\n  progress_time = 180;\\n"
              "  progress_id = setInterval(\"set_progress()\", 1000);\\n}\\n<\\/script>\\n");
    const time_t before = time(nullptr);  // the write began 95 s ago; the clock may tick during the call
    record.start = static_cast<uint32_t>(before - 95);
    EXPECT_EQ(take(ui_para_write_done(&record)),
              "<script>\\nif(document.getElementById(\"wp\")!=null){\\ndocument.getElementById(\"wp\").style.display=\"none\";\\n}\\n<\\/script>\\n");
    const auto [start, end] = stored();
    EXPECT_TRUE(start == record.start && end - start >= 95u && end - start <= 95u + static_cast<unsigned long>(time(nullptr) - before)) << end - start;
    EXPECT_EQ(get_last_upgrade_interval(), static_cast<int>(end - start));
    for (const char *line : {"1000 1000\n", "1180 1000\n"}) {  // no usable duration: an indeterminate bar
        box_.write(kFile, line);
        EXPECT_EQ(take(ui_para_upgrading(&record)), "<table border=0 width=700 cellpadding=3 cellspacing=1>\\n<tr class=\"TextAttr\" align=\"center\">"
                                                     "<td width=\"35%\"></td><td align=\"left\"><progress id=\"wp\"><span id=\"iewp\" class=\"ie\" "
                                                     "style=\"width:0%;\"></span></progress></td><td width=\"35%\"></td></tr>\\n</table>\\n");
    }
    box_.write(kFile, "1000\n");
    EXPECT_EQ(get_last_upgrade_interval(), -1000);

    module_table *t = upgrade_info_register();  // the line format through the shared table operations
    upgrade_info_record r{5, 6};
    t->set_default(&r, nullptr);
    EXPECT_EQ(r.end - r.start, 360u);
    box_.write(kFile, "1 2\n3 4\n");
    record_file *h = t->open(nullptr, "pid:1,test:ops():1", 1);
    EXPECT_TRUE(t->getnum(h, &r, 2) && r.start == 3u && r.end == 4u);
    r = {7, 8};
    EXPECT_EQ(t->add(h, &r) + t->remove(h, 1), 0);
    r = {9, 10};
    EXPECT_EQ(t->modify(h, &r, 2), 0);
    t->close(&h);
    EXPECT_EQ(box_.read(kFile), "9 10\n7 8\n");
    EXPECT_EQ(t->open(nullptr, nullptr, 1), nullptr);
    upgrade_info_unregister(t);
}

TEST_F(Fragments, RebootPageModule) {
    module_table *t = sys_reboot_register();
    auto command = [&](uint32_t *record, const char *restart) {
        return captured_stdout([&] { reinterpret_cast<sys_reboot_command_fn>(t->command)(record, restart); });
    };
    auto print = [&](const char *text) { return captured_stdout([&] { EXPECT_EQ(t->print(text), 0); }); };
    EXPECT_EQ(print(nullptr), "");  // before any language call: the plain form
    EXPECT_EQ(print("a<b>c"), "<script>\n$(\"#sys_reboot_log\").append('a<b>c');\n</script>\n");
    // The stored interval and 30 s, raised to ten; a step of the bar per 20 s begun; the format time when flagged.
    uint32_t format_flag = 1, other = 2;
    for (auto [interval, flag, seconds, degree] : {std::tuple<int, uint32_t *, int, int>{61, nullptr, 100, 5}, {50, nullptr, 80, 4},
                                                   {45, &format_flag, 140, 7}, {50, &other, 80, 4}}) {
        WI(105, interval);
        const std::string page = command(flag, "");
        EXPECT_TRUE(has(page, "<span id=\"timer\" style=\"color: #cc0000\">" + std::to_string(seconds) + "</span>")) << interval;
        EXPECT_TRUE(has(page, "total_time = " + std::to_string(seconds) + ";\n  if (total_time > 0) degree = " + std::to_string(degree) + ";"));
    }
    EXPECT_EQ(box_.commands(), "");  // an empty command runs nothing

    q_entry *texts = t->language("eng", nullptr);
    const std::string page = command(nullptr, "/tmp/reboot");
    EXPECT_EQ(page.rfind("<script>\nif (!document.getElementById(\"timer\")) {\n", 0), 0u);  // one count-down per page
    EXPECT_TRUE(has(page, "Reconnecting in <span id=\"timer\"") && has(page, "&nbsp;seconds<span id=\"end_flag\""));
    command(nullptr, nullptr);  // no command: the kernel's restart after a sync
    EXPECT_EQ(box_.commands(), "/tmp/reboot\n<sync>\n/sbin/reboot\n");
    EXPECT_EQ(print("${REBOOT_SECONDS_STR}!"), "<script>$(\"#sys_reboot_log\").append('seconds!');</script>\n");
    EXPECT_STREQ(Name2Str(&texts, "${REBOOT_RESTARTING_STR}"), "is restarting, please wait...");
    q_entry *mine = qSedArgAdd(nullptr, "${X}", "%s", "mine");
    EXPECT_EQ(t->language("eng", &mine), mine);
    EXPECT_EQ(print("${X}"), "<script>$(\"#sys_reboot_log\").append('mine');</script>\n");
    t->language("eng", nullptr);
    qSedArgFree(mine);

    int marker = 7;
    const std::string head = captured_stdout([&] { t->set_default(&marker, nullptr), t->set_default(&marker, "text as it is\n"); });
    EXPECT_EQ(head.rfind("<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\"", 0), 0u);
    for (const char *part : {"border: 1px solid #8090a0;\n  background-color: #e0e6ee;\n  color: #2a7fd4;",
                             "<script type=\"text/javascript\" src=\"../js/jquery.min.js\"></script>", "url: \"/cgi-bin/index.cgi\"",
                             "progress::-webkit-progress-value {\n  background: #2a7fd4;\n}\n", "while (w.parent && w.parent != w) w = w.parent;\n", "  $.ajax({\n",
                             "    for (var i = 0; i < flags_times; i++) {\n",
                             "<table border=0 width=700 height=40 cellpadding=0 cellspacing=0>"})
        EXPECT_TRUE(has(head, part)) << part;
    EXPECT_TRUE(head.ends_with("</center>\n</body>\n</html>\ntext as it is\n"));
    uint32_t record = 0;
    EXPECT_EQ(t->clear(&record), &record);
    EXPECT_EQ(record, 45u);  // the demo's SYSTEM_REBOOT_TIME
    box_.write("/proc/uptime", "12345.67 2345.10\n");
    box_.write("/commands.log", "");
    auto *h = t->open(nullptr, "pid:1,test:uptime():1", 1);
    EXPECT_EQ(t->getline(h, &record, nullptr, 1), 1);
    EXPECT_EQ(record, 12345u);
    EXPECT_EQ(t->getline(h, &record, nullptr, 0), 0);
    t->close(&h);
    EXPECT_EQ(box_.commands(), "");  // /proc/uptime is never written back
    EXPECT_EQ(t->open(nullptr, nullptr, 0), nullptr);
    sys_reboot_unregister(t);
}

std::string section(const std::string &header_text, const std::string &data) {
    std::string header(64, '\0');
    memcpy(&header[0], header_text.data(), std::min<size_t>(header_text.size(), 64));
    return header + data;
}
std::string section(const std::string &token, size_t size, char fill) { return section(std::to_string(size) + " " + token, std::string(size, fill)); }
int write(const std::string &body) { return write_to_fs(reinterpret_cast<const unsigned char *>(body.data()), static_cast<long>(body.size())); }

TEST(FlashWriter, SectionsGoToTheirDevicesUntilTheHeadersStopMakingSense) {
    Sandbox box;
    const std::string trailer = std::string(32, 'a') + "\n";
    // Section 1 whole, section 2 without its first 16 bytes; section 3 passed over but counted.
    EXPECT_EQ(write(section("1.kernel", 4096, 'k') + section("100 2.rootfs", std::string(16, 'h') + std::string(84, 'r')) +
                    section("3.extra", 512, 'x') + section("7.other", 10, 'o') + trailer),
              3);
    EXPECT_EQ(box.read("/dev/mtdblock1") + "|" + box.read("/dev/mtdblock2") + "|" + box.read("/dev/mtdblock3"),
              std::string(4096, 'k') + "|" + std::string(84, 'r') + "|");
    EXPECT_EQ(box.commands(), "/tmp/sync > /dev/null 2>&1\n");
    Sandbox other;
    for (const std::string &body : {std::string(), std::string(63, '1'), section("-1.bad", 10, 'b') + trailer,
                                    section("4096 kernel", std::string(4096, 'k')) + trailer, section("junk", "") + trailer,
                                    section("99999 1.kernel", std::string(100, 'z')) + trailer, section("4294967297 1.kernel", std::string(100, 'z')) + trailer})
        EXPECT_EQ(write(body), -1) << body.substr(0, 20);
    EXPECT_EQ(other.read("/dev/mtdblock1"), "");
    EXPECT_EQ(write(section("1.kernel", 8, 'a') + section("nodot", 8, 'b') + section("2.rootfs", 40, 'c')), 0);  // a later bad header
    EXPECT_EQ(other.read("/dev/mtdblock1") + "|" + other.read("/dev/mtdblock2"), "aaaaaaaa|");
    std::remove(other.file("/dev/mtdblock1").c_str());  // device problems give up the section only
    EXPECT_EQ(write(section("1.kernel", 64, 'k') + section("2.rootfs", 10, 's') + section("2.rootfs", 20, 't') + trailer), 2);
    EXPECT_FALSE(other.exists("/dev/mtdblock1"));
    EXPECT_EQ(other.read("/dev/mtdblock2"), "tttt");
}

TEST(ImageTools, MadeImageIsWhatTheApplianceChecks) {
    Sandbox box;
    box.write("/in/kernel", std::string(5000, 'K'));
    box.write("/in/rootfs", std::string(3000, 'R'));
    const std::string out = box.file("/in/demo.img");
    Output made = run(box, {BUILD_DIR "/make-image", "--version", "2.1.6", "--product-id", "101003", "--section", "1.kernel=" + box.file("/in/kernel"),
                            "--section", "2.rootfs=" + box.file("/in/rootfs"), "-o", out}, {});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string image = read_file(out);
    ASSERT_EQ(image.size(), 60u + 64 + 5000 + 64 + 3000 + 33);
    EXPECT_EQ(std::string(image.data() + 60, 15), std::string("5000 1.kernel\0\0", 15));
    const std::string digest = image.substr(image.size() - 33, 32);
    EXPECT_EQ(digest, qMD5StrLen(image.data(), image.size() - 33));
    EXPECT_EQ(run(box, {BUILD_DIR "/inspect-image", out}, {}).out,
              "length: 8221\nvendor: Demo\nmodel: WA1000\nversion: 2.01.06 (number 20106)\nproduct id: 101003 (0x101003)\nsection 1 at 124: 5000 bytes -> "
              "/dev/mtdblock1\nsection 2 at 5188: 3000 bytes -> /dev/mtdblock2 (2984 bytes from data byte 16)\nsections reached: 2\ntrailer: valid (" +
                  digest + ")\n");
    image[200] ^= 1;
    box.write("/in/bad.img", image);
    Output bad = run(box, {BUILD_DIR "/inspect-image", box.file("/in/bad.img")}, {});
    EXPECT_TRUE(bad.status == 1 && has(bad.out, "trailer: INVALID (expected "));
    EXPECT_EQ(run(box, {BUILD_DIR "/make-image", "--version", "2.1", "--product-id", "1", "-o", out}, {}).status, 2);
    EXPECT_EQ(run(box, {BUILD_DIR "/make-image", "--version", "2.1.6", "--product-id", "1234567890", "-o", out}, {}).status, 1);
}

}  // namespace
