// The upgrade form as the browser receives it.
#include <gtest/gtest.h>

#include "support/sandbox.h"

using namespace testing_support;

namespace {

Output form(const Sandbox &box, const std::string &query, const std::string &user = "admin") {
    return run_cgi(box, {{"REQUEST_METHOD", "GET"},
                         {"QUERY_STRING", query},
                         {"SCRIPT_NAME", "/cgi-bin/upgrade.cgi"},
                         {"REMOTE_ADDR", "10.0.0.2"},
                         {"REMOTE_USER", user}});
}

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(FormPage, UploaderGetsTheUploadMachinery) {
    Sandbox box;
    std::string out = form(box, "q=0").out;
    // The upload machinery, the running version and the example name from
    // the system information record, texts, theme values and icons.
    for (const char *part : {"<form name=\"upgrade\" method=\"post\" enctype=\"multipart/form-data\">",
                             "confirm(\"The appliance restarts after the upgrade. Do not switch it off. Continue?\")",
                             "function checkall(obj)", "req.open(\"GET\", \"upgrade.cgi?q=3\", true);",
                             "\"Msxml2.XMLHTTP\"", "\"Microsoft.XMLHTTP\"",
                             "Giving up :( Cannot create an XMLHTTP instance",
                             "type=\"submit\" onclick=\"return checkall(document.upgrade);\"",
                             "type=\"submit\" onclick=\"q.disabled=true, img.disabled=true;\"",
                             "<input type=\"file\" name=\"img\" size=\"25\">",
                             "<input type=\"hidden\" name=\"q\" value=\"\">", "<td>v2.01.05</td>",
                             "( ex: Demo_WA1000_020105.img)", "Firmware Upgrade&nbsp;:",
                             "<td class=\"TitleCol\" width=\"30%\">Firmware Version</td>",
                             "cellpadding=3 cellspacing=1", "../icons_eng/common_bt_help_L.gif",
                             "../icons_eng/common_bt_ok_M.gif", ">Apply</span>", ">Cancel</span>"})
        EXPECT_TRUE(has(out, part)) << part;

    // The viewer's form only alerts.
    out = form(box, "q=0", "viewer").out;
    EXPECT_TRUE(has(out, "<form name=\"upgrade\" method=\"post\" >"));
    EXPECT_FALSE(has(out, "multipart/form-data"));
    EXPECT_FALSE(has(out, "checkall"));
    EXPECT_FALSE(has(out, "pre_upgrade"));
    EXPECT_TRUE(has(out, "type=\"button\" onclick=\"alert('You may view this page but not change it.');\""));
    EXPECT_TRUE(has(out, "function comment_window(obj, a)"));
}

TEST(FormPage, RequestValuesEchoedOnlyWhenExpected) {
    Sandbox box;
    std::string out = form(box, "menu=click_v123&MULTI_LANG=sch").out;
    EXPECT_TRUE(has(out, "name=\"menu\" value=\"click_v123\""));
    EXPECT_TRUE(has(out, "name=\"MULTI_LANG\" value=\"sch\""));
    EXPECT_TRUE(has(out, "&MULTI_LANG=sch\", \"comment\""));
    EXPECT_TRUE(has(out, "固件升级"));  // the language the request names

    out = form(box, "menu=other&MULTI_LANG=fr").out;
    EXPECT_TRUE(has(out, "name=\"menu\" value=\"\""));
    EXPECT_TRUE(has(out, "name=\"MULTI_LANG\" value=\"eng\""));
    EXPECT_TRUE(has(out, "&MULTI_LANG=fr\", \"comment\""));
    EXPECT_TRUE(has(out, "\"/cgi-bin/upgrade.cgi?q=2&flag=\" + a"));

    out = form(box, "q=0").out;
    EXPECT_TRUE(has(out, "name=\"MULTI_LANG\" value=\"eng\""));
    EXPECT_TRUE(has(out, "&MULTI_LANG=\", \"comment\""));

    // Hostile values stay data: no markup or script breaks out of its place.
    out = form(box, "menu=click_v%22%3E%3Cscript%3Ex()%3C/script%3E&MULTI_LANG=%22);x();//%3C").out;
    EXPECT_TRUE(has(out, "name=\"menu\" value=\"click_v&quot;&gt;&lt;script&gt;x()&lt;/script&gt;\""));
    EXPECT_TRUE(has(out, "&MULTI_LANG=%22%29%3Bx%28%29%3B%2F%2F%3C\", \"comment\""));
    EXPECT_FALSE(has(out, "<script>x()"));
}

TEST(FormPage, DisplayDefinitionsAndUntranslatedKeys) {
    for (const auto &[definition, example] : {std::pair{"SYSTEM_UPGRADE_DISPLAY_MODEL=X2", "( ex: DemoX2_020105.img)"},
                                              {"SYSTEM_UPGRADE_DISPLAY_VENDOR=", "( ex: _WA1000_020105.img)"}}) {
        Sandbox box({definition});
        EXPECT_TRUE(has(form(box, "q=0").out, example)) << definition;
    }
    Sandbox box({"SYSTEM_UPGRADE_DISPLAY_VENDOR=Acme", "SYSTEM_UPGRADE_DISPLAY_MODEL=-X2"});
    EXPECT_TRUE(has(form(box, "q=0").out, "( ex: Acme-X2_020105.img)"));
    // A key the language files lack shows itself.
    box.write("/etc/language/eng/common", "# emptied\n");
    std::string out = form(box, "q=0").out;
    EXPECT_TRUE(has(out, ">${COMMON_HELP_STR}</span>"));
    EXPECT_TRUE(has(out, "Firmware Version"));
}
