// The upgrade CGI as the web server runs it, each page compared whole: the
// dispatch, the form, the help, the lock-down, the upload from the browser's
// post to the restart; and the modules, flash writer and image tools behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "support/hostile.h"
#include "support/request.h"
#include "upgrade/upgrade.h"

namespace {

using namespace testing_support;

const std::string kHeader = "Content-Type: text/html\n\n", kQuiet = " > /dev/null 2>&1\n";
const std::string kKills = "/bin/kill -9 mysqld" + kQuiet + "/bin/kill -9 VazaRorire" + kQuiet;
const std::string kCont = "/usr/bin/killall -CONT vavazUzo" + kQuiet;

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}
bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }
std::string take(char *heap) {
    std::string s = heap ? heap : "(null)";
    free(heap);
    return s;
}

Output get(const Sandbox &box, const std::string &query, const std::string &user = "admin",
           const std::string &addr = "192.168.1.10") {
    std::map<std::string, std::string> env = {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query},
                                              {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"}};
    if (!user.empty()) env["REMOTE_USER"] = user;
    if (!addr.empty()) env["REMOTE_ADDR"] = addr;
    return run_cgi(box, env);
}

const std::string kHelp =
    kHeader + "<html>\n<head>\n<title>Upgrade Help Comment</title>\n"
    "<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n</head>\n<body class=\"MainBody\">\n"
    "<center>\n<br>\n<table border=0 width=450 cellpadding=3 cellspacing=1>\n"
    "<tr class=\"TleCol\"><td colspan=2>Firmware Upgrade - Help</td></tr>\n<tr><td colspan=2 style=\"color:"
    " #ff0000\">Do not switch the appliance off while the firmware is written.</td></tr>\n"
    "<tr><td colspan=2>&nbsp;\xE3\x80\x80 </td></tr>\n<tr class=\"TextAttr\"><td align=\"right\" width=\"3%\">1."
    "</td><td align=\"left\">Download the firmware image for this model to your computer.</td></tr>\n<tr"
    " class=\"TextAttr\"><td align=\"right\" width=\"3%\">2.</td><td align=\"left\">Click Browse and choose the"
    " image file.</td></tr>\n<tr class=\"TextAttr\"><td align=\"right\" width=\"3%\">3.</td><td align=\"left\">Click"
    " Apply and confirm; the upload takes up to a minute.</td></tr>\n<tr class=\"TextAttr\"><td align=\"right\""
    " width=\"3%\">4.</td><td align=\"left\">Wait for the count-down: the page reconnects when the appliance is"
    " back.</td></tr>\n</table>\n<br>\n</center>\n</body>\n</html>\n";

std::string button(const std::string &type, const std::string &onclick, const std::string &text) {
    return "<button type=\"" + type + "\" onclick=\"" + onclick +
           "\" style=\"border:0;padding:0;background:none;cursor:pointer\"><img src=\"../icons_eng/common_bt_ok_L.gif\""
           " align=\"absmiddle\"><span style=\"display:inline-block;height:22px;line-height:22px;background-image:url("
           "../icons_eng/common_bt_ok_M.gif);color:#ffffff\">" + text +
           "</span><img src=\"../icons_eng/common_bt_ok_R.gif\" align=\"absmiddle\"></button>";
}
const std::string kApply = button("submit", "return checkall(document.upgrade);", "Apply");
const std::string kForm =
    kHeader + "<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n<script type=\"text/javascript\">\n"
    "var SubWin;\nfunction close_comment_window() {\n  if (SubWin && !SubWin.closed) SubWin.close();\n}\n"
    "function comment_window(obj, a) {\n  close_comment_window();\n  SubWin ="
    " window.open(\"/cgi-bin/upgrade.cgi?q=2&flag=\" + a + \"&MULTI_LANG=\", \"comment\", \"screenX=450,"
    " screenY=300, left=450, top=300, width=500, height=300, scrollbars=1\");\n}\nfunction checkall(obj) {\n"
    "  if (obj.img.value != \"\" && confirm(\"The appliance restarts after the upgrade. Do not switch it off."
    " Continue?\")) {\n    obj.q.value = 1;\n    pre_upgrade();\n  }\n  return false;\n}\n"
    "function pre_upgrade() {\n  var req = false;\n  if (window.XMLHttpRequest) {\n"
    "    req = new XMLHttpRequest();\n  } else if (window.ActiveXObject) {\n"
    "    try { req = new ActiveXObject(\"Msxml2.XMLHTTP\"); } catch (e) {\n"
    "      try { req = new ActiveXObject(\"Microsoft.XMLHTTP\"); } catch (e) {}\n    }\n  }\n  if (!req) {\n"
    "    alert(\"Giving up :( Cannot create an XMLHTTP instance\");\n    return false;\n  }\n"
    "  req.onreadystatechange = function() {\n"
    "    if (req.readyState == 4 && req.status == 200) document.upgrade.submit();\n  };\n"
    "  req.open(\"GET\", \"upgrade.cgi?q=3\", true);\n  req.send(null);\n}\n</script>\n</head>\n"
    "<body class=\"MainBody\" onload=\"document.upgrade.img.focus();\">\n<center>\n"
    "<form name=\"upgrade\" method=\"post\" enctype=\"multipart/form-data\">\n"
    "<table border=0 width=700 cellpadding=0 cellspacing=0>\n"
    "<tr class=\"TleCol\"><td align=\"left\">Firmware Upgrade</td>\n<td align=\"right\"><a"
    " href=\"javascript:comment_window(document.upgrade);\" style=\"text-decoration:none\"><img"
    " src=\"../icons_eng/common_bt_help_L.gif\" align=\"absmiddle\" border=0><span"
    " style=\"display:inline-block;height:22px;line-height:22px;background-image:url(../icons_eng/common_bt_help_"
    "M.gif);color:#ffffff\">Help</span><img src=\"../icons_eng/common_bt_help_R.gif\" align=\"absmiddle\""
    " border=0></a></td></tr>\n<tr><td colspan=2>\n<table border=0 width=\"100%\" cellpadding=3 cellspacing=1>\n"
    "<tr><td class=\"TitleCol\" width=\"30%\">Firmware Version</td><td>v2.01.05</td></tr>\n<tr><td"
    " class=\"TitleCol\" width=\"30%\">Firmware Upgrade&nbsp;:</td><td><input type=\"file\" name=\"img\""
    " size=\"25\"></td></tr>\n<tr><td></td><td class=\"DistinctText\">( ex: Demo_WA1000_020105.img)</td></tr>\n"
    "</table>\n</td></tr>\n</table>\n<table border=0 width=700 cellpadding=0 cellspacing=0>\n"
    "<tr><td align=\"right\">\n" + kApply + "<span style=\"display:inline-block;width:8px\"></span>" +
    button("submit", "q.disabled=true, img.disabled=true;", "Cancel") +
    "\n</td></tr>\n</table>\n<input type=\"hidden\" name=\"q\" value=\"\">\n"
    "<input type=\"hidden\" name=\"menu\" value=\"\">\n"
    "<input type=\"hidden\" name=\"MULTI_LANG\" value=\"eng\">\n</form>\n</center>\n</body>\n</html>\n";

// The form with the language passed on to the help window, the menu and the
// form's own language as given.
std::string form(const std::string &url_language, const std::string &menu, const std::string &language) {
    return replaced(replaced(replaced(kForm, "&MULTI_LANG=\", ", "&MULTI_LANG=" + url_language + "\", "),
                             "\"menu\" value=\"\"", "\"menu\" value=\"" + menu + "\""),
                    "value=\"eng\"", "value=\"" + language + "\"");
}
// The viewer's form: no upload scripts, and its Apply only alerts.
std::string viewer_form(std::string page = kForm) {
    const size_t scripts = page.find("function checkall");
    page.erase(scripts, page.find("</script>") - scripts);
    return replaced(replaced(page, " enctype=\"multipart/form-data\">", " >"), kApply,
                    button("button", "alert('You may view this page but not change it.');", "Apply"));
}

// The request number and the user's privilege choose the page; menu and
// language values, hostile ones included, stay data.
TEST(UpgradePages, RequestNumberAndPrivilegeChooseTheWholePage) {
    Sandbox box;
    const std::string alert = kHeader + "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                                        "charset=UTF-8\">\n<script>alert('You are not allowed to view this page.');"
                                        "history.back(1);</script>\n</head></html>\n";
    const std::string hostile = "click_v%22%3E%3Cscript%3Ex()%3C/script%3E&MULTI_LANG=%22);x();//%3C";
    const std::vector<std::tuple<std::string, std::string, std::string>> rows = {
        {"", "admin", ""},  // an empty query decodes nothing: silence
        {"q=0", "admin", kForm}, {"menu=x", "admin", kForm}, {"q=abc", "admin", kForm},
        {"q=4", "admin", kHeader}, {"q=255", "admin", kHeader}, {"q=-1", "admin", kHeader},
        {"q=2", "admin", kHelp}, {"q=2&flag=7&MULTI_LANG=eng", "", kHelp}, {"q=2", "viewer", kHelp},
        {"q=2&flag=undefined&MULTI_LANG=", "x", kHelp}, {"q=3", "nobody", kHeader + "1"}, {"q=3", "", kHeader + "1"},
        {"q=0", "nobody", alert}, {"q=1", "", alert}, {"q=0", "Admin", alert},
        {"q=0", "viewer", viewer_form()}, {"q=1", "viewer", viewer_form()},
        {"menu=" + hostile, "admin",
         form("%22%29%3Bx%28%29%3B%2F%2F%3C", "click_v&quot;&gt;&lt;script&gt;x()&lt;/script&gt;", "eng")},
    };
    for (const auto &[query, user, page] : rows) EXPECT_EQ(get(box, query, user).out, page) << query << " by " << user;
    const std::string chinese = get(box, "menu=click_v123&MULTI_LANG=sch").out;
    for (const char *part : {"name=\"menu\" value=\"click_v123\"", "name=\"MULTI_LANG\" value=\"sch\"", "固件升级"})
        EXPECT_TRUE(has(chinese, part)) << part;
    EXPECT_TRUE(has(get(box, "q=2&MULTI_LANG=ch").out, "韌體更新 - 說明"));
    box.write("/etc/language/eng/common", "# emptied\n");  // a missing key shows itself
    EXPECT_TRUE(has(get(box, "q=0").out, ">${COMMON_HELP_STR}</span>"));
    box.write("/etc/system.info", "short");  // no product data: the header alone
    EXPECT_EQ(get(box, "q=0").out, kHeader);
    Sandbox other;
    other.remove("/etc/html.info");
    EXPECT_EQ(get(other, "q=2").out, kHeader);
}

// Without disk storage the database daemons are stopped first, whatever the
// request; the file name example follows the display definitions.
TEST(UpgradePages, StorageAndDisplayDefinitions) {
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> rows = {
        {{}, "Demo_WA1000", kKills}, {{"HAVE_HARDDISK=y"}, "Demo_WA1000", ""},
        {{"HAVE_BOOT_FAKE_HARDDISK=Yes"}, "Demo_WA1000", ""}, {{"HAVE_EXTERNAL_USB=y"}, "Demo_WA1000", ""},
        {{"SYSTEM_UPGRADE_DISPLAY_MODEL=X2"}, "DemoX2", kKills},
        {{"SYSTEM_UPGRADE_DISPLAY_VENDOR="}, "_WA1000", kKills},
        {{"SYSTEM_UPGRADE_DISPLAY_VENDOR=Acme", "SYSTEM_UPGRADE_DISPLAY_MODEL=-X2"}, "Acme-X2", kKills}};
    for (const auto &[definitions, example, commands] : rows) {
        Sandbox box(definitions);
        EXPECT_EQ(get(box, "q=9").out, kHeader);
        EXPECT_EQ(get(box, "q=0").out, replaced(kForm, "Demo_WA1000_", example + "_")) << example;
        EXPECT_EQ(box.commands(), commands + commands) << example;
    }
}

// The lock-down: only the browser's address (one argument, whatever it
// holds) and the management tunnel stay open; access-point firmware goes.
TEST(UpgradePages, PrepareLocksDownToTheBrowser) {
    Sandbox box;
    box.write("/var/ap/firmware/a.img", "x");
    box.write("/var/ap/firmware/.keep", "");
    const std::string rule = "/sbin/iptables-static -t mangle -I PREROUTING ";
    const std::string rest = rule + "-i tun1 -j ACCEPT\n" + rule + "3 -j DROP\n/usr/bin/killall -STOP vavazUzo" +
                             kQuiet + "/usr/sbin/vavazUzo killall" + kQuiet + "/bin/umount /mnt" + kQuiet;
    EXPECT_EQ(get(box, "q=3").out, kHeader + "1");
    EXPECT_EQ(box.commands(), kKills + rule + "-s 192.168.1.10 -j ACCEPT\n" + rest);
    EXPECT_FALSE(box.exists("/var/ap/firmware/a.img"));
    EXPECT_TRUE(box.exists("/var/ap/firmware/.keep"));
    box.write("/commands.log", "");
    get(box, "q=3", "admin", "");
    EXPECT_EQ(box.commands(), kKills + rule + "-s  -j ACCEPT\n" + rest);
    for (const std::string &addr : hostile_values(box.file("/SENTINEL"))) {
        box.write("/commands.log", "");
        EXPECT_EQ(get(box, "q=3", "admin", addr).out, kHeader + "1");
        const std::string recorded = box.commands().substr(kKills.size());
        EXPECT_EQ(run_with_stub(box, recorded.substr(0, recorded.find("\n" + rest)), "/sbin/iptables-static"),
                  (std::vector<std::string>{"-t", "mangle", "-I", "PREROUTING", "-s", addr, "-j", "ACCEPT"}))
            << addr.substr(0, 60);
        EXPECT_FALSE(box.exists("/SENTINEL"));
    }
}

// The reboot page's head, then the fragments appended to it, each one line of
// a script string with its line breaks written as backslash and n.
const std::string kRebootHead =
    "<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\" type=\"text/css\">\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n<style type=\"text/css\">\nprogress {\n"
    "  border-radius: 2px;\n  display: inline-block;\n  width: 250px;\n  height: 5px;\n  border: 1px solid #8090a0;\n"
    "  background-color: #e0e6ee;\n  color: #2a7fd4;\n}\nprogress .ie {\n  display: block;\n  height: 3px;\n"
    "  background: #2a7fd4;\n}\nprogress::-moz-progress-bar {\n  background: #2a7fd4;\n}\n"
    "progress::-webkit-progress-bar {\n  background: #e0e6ee;\n}\nprogress::-webkit-progress-value {\n"
    "  background: #2a7fd4;\n}\n</style>\n<script type=\"text/javascript\" src=\"../js/jquery.min.js\"></script>\n"
    "<script type=\"text/javascript\">\nvar timerid = 0;\nvar total_time = 0;\nvar degree = 1;\n"
    "function req_index() {\n  $.ajax({\n    url: \"/cgi-bin/index.cgi\",\n    cache: false,\n"
    "    success: function() {\n      var w = window;\n      while (w.parent && w.parent != w) w = w.parent;\n"
    "      w.location.href = \"/cgi-bin/index.cgi\";\n    },\n    error: function() { req_index(); }\n  });\n}\n"
    "function count_time() {\n  var timer = document.getElementById(\"timer\");\n  if (!timer) {\n"
    "    clearInterval(timerid);\n    return;\n  }\n  var number = parseInt(timer.innerHTML, 10);\n"
    "  if (number > 0) {\n    var flags_times = number / degree;\n    var right = \"&gt;\", left = \"&lt;\";\n"
    "    for (var i = 0; i < flags_times; i++) {\n      right += \"&gt;\";\n      left += \"&lt;\";\n    }\n"
    "    number = number - 1;\n    timer.innerHTML = number;\n    if (number % 2) {\n"
    "      $(\"#start_flag\").html('<span style=\"color: #0066cc\">' + left + '</span>');\n"
    "      $(\"#end_flag\").html('<span style=\"color: #cc6600\">' + right + '</span>');\n    } else {\n"
    "      $(\"#end_flag\").html('<span style=\"color: #0066cc\">' + left + '</span>');\n"
    "      $(\"#start_flag\").html('<span style=\"color: #cc6600\">' + right + '</span>');\n    }\n  }\n"
    "  if (number <= 0) {\n    clearInterval(timerid);\n    req_index();\n  }\n}\n</script>\n</head>\n"
    "<body class=\"MainBody\">\n<center>\n<div id=\"sys_reboot_log\">\n"
    "<table border=0 width=700 height=40 cellpadding=0 cellspacing=0><tr><td></td></tr></table>\n</div>\n</center>\n"
    "</body>\n</html>\n";
std::string appended(const std::string &fragment) {
    return "<script>$(\"#sys_reboot_log\").append('" + fragment + "');</script>\n";
}
std::string two_rows(const std::string &row, const std::string &first, const std::string &second) {
    return "<table border=0 width=700 cellpadding=3 cellspacing=1>\\n" + row + first + "</td></tr>\\n" + row + second +
           "</td></tr>\\n</table>";
}
const std::string kRow = "<tr class=\"TextAttr\" align=\"center\"><td";
const std::string kValid = two_rows(kRow + ">", "The firmware image is valid and is being written.",
                                    "This takes a few minutes; the appliance then restarts by itself.");
const std::string kWarn = two_rows(kRow + " style=\"color: #cc0000\">",
                                   "The image holds an older firmware version than the one running.",
                                   "The upgrade goes on; settings of newer versions may be lost.");
const std::string kInvalid = two_rows("<tr class=\\\"TextAttr\\\" align=\\\"center\\\"><td>",
                                      "The file is not a valid firmware image for this appliance.",
                                      "Please choose a correct firmware image.");
const std::string kDone = "<script>\\nif(document.getElementById(\"wp\")!=null){\\n"
                          "document.getElementById(\"wp\").style.display=\"none\";\\n}\\n<\\/script>\\n";
std::string bar_table(const std::string &attribute) {  // attribute: the bar's maximum
    return "<table border=0 width=700 cellpadding=3 cellspacing=1>\\n<tr class=\"TextAttr\" align=\"center\"><td "
           "width=\"35%\"></td><td align=\"left\"><progress id=\"wp\"" + attribute + "><span id=\"iewp\" class=\"ie\""
           " style=\"width:0%;\"></span></progress></td><td width=\"35%\"></td></tr>\\n</table>\\n";
}
std::string bar(int seconds) {  // one step a second
    const std::string n = std::to_string(seconds);
    return "<script>\\nvar progress_id;\\nvar progress_time = 0;\\nvar current_time = 0;\\nfunction set_progress() {\\n"
           "  var bar = document.getElementById(\"wp\");\\n  var ie = document.getElementById(\"iewp\");\\n"
           "  if (bar && bar.max) {\\n    if (bar.value < bar.max) {\\n      bar.value = bar.value + 1;\\n"
           "      ie.style.width = ((bar.value + 1) * 100 / bar.max) + \"%\";\\n    } else {\\n"
           "      clearInterval(progress_id);\\n    }\\n  } else if (progress_time > 0) {\\n"
           "    current_time = current_time + 1;\\n    if (current_time < progress_time) {\\n"
           "      ie.style.width = (current_time * 100 / progress_time) + \"%\";\\n    } else {\\n"
           "      clearInterval(progress_id);\\n    }\\n  } else {\\n    clearInterval(progress_id);\\n  }\\n}\\n"
           "<\\/script>\\n" + bar_table(" max=\"" + n + "\" value=\"0\"") +
           "<script>\\nif (document.getElementById(\"wp\")) {\\n  progress_time = " + n +
           ";\\n  progress_id = setInterval(\"set_progress()\", 1000);\\n}\\n<\\/script>\\n";
}
std::string count_down(int seconds, int degree) {
    const std::string n = std::to_string(seconds);
    return "<script>\nif (!document.getElementById(\"timer\")) {\n  $(\"#sys_reboot_log\").append('<table border=0 "
           "width=700 cellpadding=3 cellspacing=1><tr class=\"TextAttr\" align=\"center\"><td>Demo WA1000 is "
           "restarting, please wait...</td></tr><tr class=\"TextAttr\" align=\"center\"><td><span id=\"start_flag\" "
           "style=\"color: #0066cc\"></span>Reconnecting in <span id=\"timer\" style=\"color: #cc0000\">" + n +
           "</span>&nbsp;seconds<span id=\"end_flag\" style=\"color: #cc6600\"></span></td></tr></table>');\n"
           "  total_time = " + n + ";\n  if (total_time > 0) degree = " + std::to_string(degree) +
           ";\n  timerid = setInterval(\"count_time()\", 1000);\n}\n</script>\n";
}
// The plain message page of two lines, each cell opened as given.
std::string message_page(const std::string &first, const std::string &second, const std::string &cell = "<td >") {
    const std::string row = "<tr class=\"TextAttr\">" + cell;
    return "<html>\n<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n"
           "<style type=\"text/css\">\nBODY {\n  margin: 0px;\n  font-family: Verdana, Arial, Helvetica;\n"
           "  background-color: #f4f6f8;\n  background-position: center top;\n  scrollbar-face-color: #c8d0d8;\n"
           "  scrollbar-highlight-color: #ffffff;\n  scrollbar-shadow-color: #a0a8b0;\n"
           "  scrollbar-3dlight-color: #e8ecf0;\n  scrollbar-arrow-color: #203040;\n  scrollbar-track-color: #eef1f4;\n"
           "  scrollbar-darkshadow-color: #808890;\n}\n.TextAttr {\n  font-family: Arial;\n  font-weight: normal;\n"
           "  font-size: 12px;\n  color: #203040;\n  height: 20px;\n  text-align: center;\n}\n</style>\n</head>\n"
           "<body>\n<center>\n<br>\n<table border=0 width=700 cellpadding=3 cellspacing=1>\n" + row + first +
           "</td></tr>\n" + row + second + "</td></tr>\n</table>\n</center>\n</body>\n</html>\n";
}
const std::string kRefusal = message_page("The file is not a valid firmware image for this appliance.",
                                          "Please choose a correct firmware image.");

class UpgradeModules : public ::testing::Test {
protected:
    void SetUp() override {
        system_info_record record{};
        ASSERT_EQ(my_systemInfo(reinterpret_cast<char *>(&record)), 0);
    }
    Sandbox box_;  // the demo's theme, texts, SYSTEM_FORMAT_TIME 60 and reboot interval 45
};

// The timing record: one "start end" line; an empty file gets 360 seconds at
// once, an unusable duration an indeterminate bar (the upload shows the rest).
TEST_F(UpgradeModules, TimingRecordSizesTheBar) {
    constexpr const char *kFile = "/etc/sysconfig/.firewall/upgrade_info.conf";
    EXPECT_EQ(get_last_upgrade_interval(), 360);
    unsigned long start = 0, end = 0;
    EXPECT_EQ(sscanf(box_.read(kFile).c_str(), "%lu %lu", &start, &end), 2);
    EXPECT_EQ(end - start, 360u);
    upgrade_info_record record{};
    for (const char *line : {"1000 1000\n", "1180 1000\n"}) {  // no usable duration: an indeterminate bar
        box_.write(kFile, line);
        EXPECT_EQ(take(ui_para_upgrading(&record)), bar_table(""));
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
    EXPECT_EQ(t->add(h, &r), 0);
    EXPECT_EQ(t->remove(h, 1), 0);
    r = {9, 10};
    EXPECT_EQ(t->modify(h, &r, 2), 0);
    t->close(&h);
    EXPECT_EQ(box_.read(kFile), "9 10\n7 8\n");
    EXPECT_EQ(t->open(nullptr, nullptr, 1), nullptr);
    upgrade_info_unregister(t);
}

// A flag colours both lines of the message page.
TEST_F(UpgradeModules, FlaggedMessage) {
    EXPECT_EQ(captured_stdout([] { message("first", "second", 1); }),
              message_page("first", "second", "<td style=\"color: #cc0000\">"));
}

// The reboot page module: the count-down (the stored interval and 30 s, the
// format time when flagged, raised to ten; a step of the bar per 20 s begun),
// then the restart command; messages in the chosen language table.
TEST_F(UpgradeModules, RebootPageModule) {
    module_table *t = sys_reboot_register();
    auto command = [&](uint32_t *record, const char *restart) {
        return captured_stdout([&] { reinterpret_cast<sys_reboot_command_fn>(t->command)(record, restart); });
    };
    auto print = [&](const char *text) { return captured_stdout([&] { EXPECT_EQ(t->print(text), 0); }); };
    EXPECT_EQ(print(nullptr), "");
    EXPECT_EQ(print("a<b>c"), "<script>\n$(\"#sys_reboot_log\").append('a<b>c');\n</script>\n");  // no language yet
    q_entry *texts = t->language("eng", nullptr);
    uint32_t format_flag = 1, other = 2;
    for (auto [interval, flag, seconds, degree] : {std::tuple<int, uint32_t *, int, int>{61, nullptr, 100, 5},
                                                   {50, nullptr, 80, 4}, {45, &format_flag, 140, 7},
                                                   {50, &other, 80, 4}}) {
        WI(105, interval);
        EXPECT_EQ(command(flag, ""), count_down(seconds, degree)) << interval;
    }
    EXPECT_EQ(box_.commands(), "");  // an empty command runs nothing
    command(nullptr, "/tmp/reboot");
    command(nullptr, nullptr);  // no command: the kernel's restart after a sync
    EXPECT_EQ(box_.commands(), "/tmp/reboot\n<sync>\n/sbin/reboot\n");
    EXPECT_EQ(print("${REBOOT_SECONDS_STR}!"), appended("seconds!"));
    EXPECT_STREQ(Name2Str(&texts, "${REBOOT_RESTARTING_STR}"), "is restarting, please wait...");
    q_entry *mine = qSedArgAdd(nullptr, "${X}", "%s", "mine");
    EXPECT_EQ(t->language("eng", &mine), mine);
    EXPECT_EQ(print("${X}"), appended("mine"));
    t->language("eng", nullptr);
    qSedArgFree(mine);
    int marker = 7;
    EXPECT_EQ(captured_stdout([&] { EXPECT_EQ(t->set_default(&marker, "text as it is\n"), &marker); }),
              "text as it is\n");
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

std::string section(const std::string &header, const std::string &data) {
    return header.substr(0, 64) + std::string(64 - std::min<size_t>(header.size(), 64), '\0') + data;
}
std::string section(const std::string &token, size_t size, char fill) {
    return section(std::to_string(size) + " " + token, std::string(size, fill));
}
int write(const std::string &body) {
    return write_to_fs(reinterpret_cast<const unsigned char *>(body.data()), static_cast<long>(body.size()));
}

// Sections 1 and 2 go to their devices (2 without its first 16 bytes), others
// are passed over but counted, until a header stops making sense; a device
// that cannot be written gives up its section only.
TEST(UpgradeFlash, SectionsGoToTheirDevicesUntilTheHeadersStopMakingSense) {
    Sandbox box;
    const std::string trailer = std::string(32, 'a') + "\n";
    const std::string rootfs = std::string(16, 'h') + std::string(84, 'r');
    EXPECT_EQ(write(section("1.kernel", 4096, 'k') + section("100 2.rootfs", rootfs) + section("3.extra", 512, 'x') +
                    section("7.other", 10, 'o') + trailer),
              3);
    EXPECT_EQ(box.read("/dev/mtdblock1") + "|" + box.read("/dev/mtdblock2") + "|" + box.read("/dev/mtdblock3"),
              std::string(4096, 'k') + "|" + std::string(84, 'r') + "|");
    EXPECT_EQ(box.commands(), "/tmp/sync" + kQuiet);
    Sandbox other;
    for (const std::string &body : {std::string(), std::string(63, '1'), section("-1.bad", 10, 'b') + trailer,
                                    section("4096 kernel", std::string(4096, 'k')) + trailer,
                                    section("junk", "") + trailer,
                                    section("99999 1.kernel", std::string(100, 'z')) + trailer,
                                    section("4294967297 1.kernel", std::string(100, 'z')) + trailer})
        EXPECT_EQ(write(body), -1) << body.substr(0, 20);
    EXPECT_EQ(other.read("/dev/mtdblock1"), "");
    EXPECT_EQ(write(section("1.kernel", 8, 'a') + section("nodot", 8, 'b') + section("2.rootfs", 40, 'c')), 0);
    EXPECT_EQ(other.read("/dev/mtdblock1") + "|" + other.read("/dev/mtdblock2"), "aaaaaaaa|");
    other.remove("/dev/mtdblock1");
    EXPECT_EQ(write(section("1.kernel", 64, 'k') + section("2.rootfs", 10, 's') + section("2.rootfs", 20, 't')), 2);
    EXPECT_FALSE(other.exists("/dev/mtdblock1"));
    EXPECT_EQ(other.read("/dev/mtdblock2"), "tttt");
}

std::string bytes(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 7)) & 0xff);
    return s;
}
// A firmware image as the vendor builds it: the header, the sections ("N.NAME"
// and data), the digest (upper-case when asked) and a last byte.
std::string make_image(const std::string &revision, const std::string &product,
                       const std::vector<std::pair<std::string, std::string>> &sections, bool upper = false,
                       char last = '\n') {
    std::string image(60, '\0');
    for (auto [at, text] : std::map<size_t, std::string>{{0, "Demo"}, {21, "WA1000"}, {41, "2"}, {44, "1"},
                                                         {47, revision}, {50, product}})
        image.replace(at, text.size(), text);
    for (const auto &[token, data] : sections) image += section(std::to_string(data.size()) + " " + token, data);
    std::string digest = qMD5StrLen(image.data(), image.size());
    for (char &c : digest) c = upper ? static_cast<char>(toupper(c)) : c;
    return image + digest + last;
}

// The image tools make what the appliance checks, and show it.
TEST(UpgradeFlash, MadeImageIsWhatTheApplianceChecks) {
    Sandbox box;
    box.write("/in/kernel", bytes(5000, 1));
    box.write("/in/rootfs", bytes(3000, 2));
    const std::string out = box.file("/in/demo.img"), tool = BUILD_DIR "/make-image";
    const Output made = run(box, {tool, "--version", "2.1.6", "--product-id", "101003", "--section",
                                  "1.kernel=" + box.file("/in/kernel"), "--section",
                                  "2.rootfs=" + box.file("/in/rootfs"), "-o", out}, {});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string image = read_file(out);
    EXPECT_EQ(image, make_image("6", "101003", {{"1.kernel", bytes(5000, 1)}, {"2.rootfs", bytes(3000, 2)}}));
    EXPECT_EQ(run(box, {BUILD_DIR "/inspect-image", out}, {}).out,
              "length: 8221\nvendor: Demo\nmodel: WA1000\nversion: 2.01.06 (number 20106)\n"
              "product id: 101003 (0x101003)\nsection 1 at 124: 5000 bytes -> /dev/mtdblock1\nsection 2 at 5188: "
              "3000 bytes -> /dev/mtdblock2 (2984 bytes from data byte 16)\nsections reached: 2\ntrailer: valid (" +
                  image.substr(image.size() - 33, 32) + ")\n");
    image[200] ^= 1;
    box.write("/in/bad.img", image);
    const Output bad = run(box, {BUILD_DIR "/inspect-image", box.file("/in/bad.img")}, {});
    EXPECT_TRUE(bad.status == 1 && has(bad.out, "trailer: INVALID (expected ")) << bad.out;
    EXPECT_EQ(run(box, {tool, "--version", "2.1", "--product-id", "1", "-o", out}, {}).status, 2);
    EXPECT_EQ(run(box, {tool, "--version", "2.1.6", "--product-id", "1234567890", "-o", out}, {}).status, 1);
}

const std::string kBoundary = "----WebKitFormBoundaryJ8mXq2LrV3cN0aPe";
Output post(const Sandbox &box, const std::string &body, size_t length, const std::string &user = "admin",
            const std::string &type = "multipart/form-data; boundary=" + kBoundary) {
    return run_cgi(box,
                   {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", type}, {"CONTENT_LENGTH", std::to_string(length)},
                    {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"}, {"REMOTE_ADDR", "192.168.1.10"}, {"REMOTE_USER", user}},
                   body);
}
// The upgrade form as the browser posts it.
std::string upload_body(const std::string &image) {
    return multipart(kBoundary, {{"img", image, "Demo_WA1000_020106.img", ""}, {"q", "1", "", ""}, {"menu", "", "", ""},
                                 {"MULTI_LANG", "eng", "", ""}});
}
Output upload(const Sandbox &box, const std::string &image, const std::string &user = "admin") {
    const std::string body = upload_body(image);
    return post(box, body, body.size(), user);
}
std::string mirrored(const std::string &file) {
    return "/bin/mount /dev/mtdblock3 /mnt" + kQuiet + "/bin/cp /etc/sysconfig/.firewall/" + file + " /mnt" + kQuiet +
           "/bin/umount /mnt" + kQuiet;
}
// Everything a written upgrade runs, in order: tools into RAM, the boot log
// to flash, the daemons stopped, the timing record mirrored to flash when
// read and when written, the flash synced, the restart.
std::string upgrade_commands() {
    std::string cmds = "/bin/cp /bin/busybox /tmp" + kQuiet;
    for (std::string tool : {"reboot", "sync", "killall", "echo", "ln", "sleep"})
        cmds += "/bin/ln -s /tmp/busybox /tmp/" + tool + kQuiet;
    for (std::string lib :
         {"ld*", "libcrypt-*", "libcrypt.*", "libdl*", "libgcc*", "libm*", "libresolv*", "libuClibc-*", "libutil*"})
        cmds += "/bin/cp /lib/" + lib + " /var/lib" + kQuiet;
    cmds += "/bin/rm /var/log -rf" + kQuiet + mirrored("eventlog");
    for (std::string daemon : {"pptp", "whack", "telnetd", "dropbear", "syslogd", "ZERodevido", "VODUd", "CMS_tunnel"})
        cmds += "/tmp/killall " + daemon + kQuiet;
    const std::string timing = mirrored("upgrade_info.conf") + "> /var/tmp/last.config\n";
    return cmds + "/tmp/echo 3 > /proc/watchdog_reboot\n" + timing + "/tmp/sync" + kQuiet + timing +
           "/tmp/sync;/tmp/sleep 30;/tmp/reboot\n/tmp/echo 1 > /proc/watchdog_reboot\n<reboot>\n";
}

// What the image check decides, each image in a fresh sandbox with a stored
// write of 180 s: the whole page, the commands, the flash, the logs and the
// timing record.  The smallest image is 60 + 64 + 867 + 33 = 1024 bytes, its
// last byte free; another product passes where the identity card is.
TEST(UpgradeSequence, TheImageCheckDecidesWhatIsWritten) {
    enum Verdict { kWritten, kDowngrade, kNothing, kRefused, kOtherProduct };
    struct Row {
        std::string what, image, flash;  // flash: devices 1 and 2 afterwards
        Verdict verdict;
        bool card = false;
    };
    const std::string kernel = bytes(4096, 1), rootfs = bytes(3000, 2), small = bytes(867, 3);
    std::string digit = make_image("6", "101003", {{"1.kernel", kernel}}), body = digit;
    digit[digit.size() - 2] ^= 1;
    body[100] ^= 1;
    std::vector<Row> rows = {
        {"whole", make_image("6", "101003", {{"1.kernel", kernel}, {"2.rootfs", rootfs}}),
         kernel + "|" + rootfs.substr(16), kWritten},
        {"downgrade", make_image("4", "101003", {{"1.kernel", kernel}}), kernel + "|", kDowngrade},
        {"identity card", make_image("6", "202003", {{"1.kernel", kernel}}), kernel + "|", kWritten, true},
        {"no section", make_image("6", "101003", {{"kernel", kernel}}), "|", kNothing},
        {"1023 bytes", make_image("6", "101003", {{"1.kernel", bytes(866, 3)}}), "|", kRefused},
        {"trailer digit", digit, "|", kRefused},
        {"body", body, "|", kRefused},
        {"upper-case trailer", make_image("6", "101003", {{"1.kernel", kernel}}, true), "|", kRefused},
        {"product", make_image("6", "202003", {{"1.kernel", kernel}}), "|", kOtherProduct},
        {"product into the body", make_image("6", "0000101003", {{"1.kernel", kernel}}), "|", kOtherProduct}};
    for (char last : {'\n', '\0', 'Z'})
        rows.push_back({"last byte", make_image("6", "101003", {{"1.kernel", small}}, false, last), small + "|",
                        kWritten});
    ASSERT_EQ(rows[4].image.size(), 1023u);
    ASSERT_EQ(rows.back().image.size(), 1024u);
    const std::string all = upgrade_commands(), synced = "\n/tmp/sync" + kQuiet;
    const std::string nothing = all.substr(0, all.find(synced) + synced.size()) +
                                "/tmp/reboot\n/tmp/echo 1 > /proc/watchdog_reboot\n<reboot>\n" + kCont;
    const std::string log = "\"0\" \"upgrade\" \"\" \"admin\" \"192.168.1.10\" 0 11 \"${EVENTLOG_";
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Sandbox box({"HAVE_HARDDISK=y"});
        box.write("/etc/sysconfig/.firewall/upgrade_info.conf", "1000 1180\n");
        if (row.card) box.write("/var/tmp/UIIDCARD", "");
        const auto before = static_cast<unsigned long>(time(nullptr));
        const Output r = upload(box, row.image);
        const auto after = static_cast<unsigned long>(time(nullptr));
        const bool refused = row.verdict >= kRefused, wrote = row.verdict <= kDowngrade;
        const std::string page = appended(kValid) + (row.verdict == kDowngrade ? appended(kWarn) : "") +
                                 appended(bar(180)) + appended(wrote ? kDone : kInvalid) + count_down(80, 4);
        EXPECT_EQ(r.out, kHeader + kRebootHead + (refused ? kRefusal : wrote ? page : page + kRefusal));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(box.commands(), refused ? kCont : wrote ? all : nothing);
        EXPECT_EQ(box.read("/dev/mtdblock1") + "|" + box.read("/dev/mtdblock2"), row.flash);
        EXPECT_EQ(box.read("/etc/sysconfig/.firewall/eventlog"),
                  refused ? "" : log + "SUCCESS_STR} (v2.01.5 ==> v2.01." + row.image[47] + ")\"\n");
        EXPECT_EQ(box.read("/var/log/eventlog"), wrote ? "" : log + "FAILURE_STR}\"\n");
        EXPECT_EQ(box.read("/syslog.log"), row.verdict == kOtherProduct ? "<3>check_product failed!!\n" : "");
        unsigned long start = 0, end = 0;  // a write's start and end replace the stored ones
        sscanf(box.read("/etc/sysconfig/.firewall/upgrade_info.conf").c_str(), "%lu %lu", &start, &end);
        EXPECT_TRUE(wrote ? before <= start && start <= end && end <= after : start == 1000 && end == 1180) << start;
    }
}

// A post naming its own img.length, URL-encoded or ahead of the file, is
// refused; a viewer's upload gets the form and writes nothing.
TEST(UpgradeSequence, ForgedLengthIsRefusedAndTheViewerGetsTheForm) {
    Sandbox box({"HAVE_HARDDISK=y"});
    const std::string image = make_image("6", "101003", {{"1.kernel", bytes(4096, 1)}});
    const std::string encoded = "q=1&img=abc&img.length=100000000";
    const std::string forged = multipart(
        kBoundary, {{"img.length", "5000", "", ""}, {"img", image.substr(0, 2000), "x.img", ""}, {"q", "1", "", ""}});
    EXPECT_EQ(post(box, encoded, encoded.size(), "admin", "application/x-www-form-urlencoded").out,
              kHeader + kRebootHead + kRefusal);
    EXPECT_EQ(post(box, forged, forged.size()).out, kHeader + kRebootHead + kRefusal);
    EXPECT_EQ(box.commands(), kCont + kCont);
    Sandbox viewer({"HAVE_HARDDISK=y"});
    EXPECT_EQ(upload(viewer, image, "viewer").out, viewer_form(form("eng", "", "eng")));
    EXPECT_EQ(viewer.commands() + viewer.read("/dev/mtdblock1"), "");
}

// A small image posted cut short but announced whole: short of the closing
// delimiter nothing is an upload, and every such request ends on its error
// page with the sandbox as it was.  Cut at every byte near a line break or a
// dash (where the decoder looks for a delimiter), at every seventh elsewhere.
// A body running on past its announced length is read up to its delimiter.
TEST(UpgradeSequence, CutBodiesNeverWriteTheFlash) {
    Sandbox box({"HAVE_HARDDISK=y"});
    const std::string kernel = bytes(450, 4), rootfs = bytes(450, 5);
    const std::string body = upload_body(make_image("6", "101003", {{"1.kernel", kernel}, {"2.rootfs", rootfs}}));
    const size_t first_line = 2 + kBoundary.size(), closed = body.size() - 2;  // "--" after the last delimiter read
    auto tree = [&] {  // every file with its size
        std::map<std::string, uintmax_t> files;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(box.root()))
            if (entry.is_regular_file()) files[entry.path().string()] = entry.file_size();
        return files;
    };
    const auto before = tree();
    for (size_t cut = 0; cut < closed; ++cut) {
        const std::string near = body.substr(cut >= 2 ? cut - 2 : 0, cut >= 2 ? 4 : cut + 2);
        if (cut % 7 != 0 && near.find_first_of("\n-") == std::string::npos) continue;
        const Output r = post(box, body.substr(0, cut), body.size());
        ASSERT_EQ(r.status, 1) << "cut at " << cut;
        ASSERT_EQ(r.out, error_page(std::string("_parse_multipart_data(): ") +
                                    (cut == 0 ? "Your browser sent a non-HTTP compliant message."
                                              : cut < first_line ? "String format invalid." : "Broken stream.")))
            << "cut at " << cut;
        ASSERT_EQ(tree(), before) << "cut at " << cut;
    }
    EXPECT_EQ(post(box, body.substr(0, closed) + std::string(4096, '\xff'), body.size()).status, 0);
    EXPECT_EQ(box.read("/dev/mtdblock1") + "|" + box.read("/dev/mtdblock2"), kernel + "|" + rootfs.substr(16));
}

}  // namespace
