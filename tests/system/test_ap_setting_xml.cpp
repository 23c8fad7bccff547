// The AP controller settings as XML: the export of the settings line and
// its import back into it.
#include <gtest/gtest.h>

#include "support/request.h"
#include "support/module_harness.h"

using namespace testing_support;

constexpr const char *kFile = "/etc/sysconfig/.firewall/ap_setting.conf";

TEST(ApSettingXml, ExportedAndImportedBack) {
    ModuleBox box;
    Module m(ap_setting_register, ap_setting_unregister);
    const auto exported = [&] {
        return captured_stdout([&] { reinterpret_cast<ap_setting_xmlconf_fn>(m->xmlConf)("ap_setting"); });
    };
    const char *kDefaults =
        "<_function value=\"ap_setting\" method=\"add\"><_entry><iname value=\"^o^\" /><enable_ap_balance value=\"0\" />"
        "<enable_ap_auto_power value=\"0\" /><enable_ap_connect_mail value=\"0\" /><enable_ap_sys_management value=\"7\" />"
        "<sync_ap_passwd value=\"^o^\" /><autorestart_day_time value=\"\" /><autorestart_week_time value=\"\" />"
        "<autorestart_month_time value=\"\" /><autorestart_week_day value=\"0\" /><autorestart_month_day value=\"0\" />"
        "<autorestart_en_autorestart value=\"0\" /><enable_realtime_traffic value=\"0\" /></_entry></_function>";
    EXPECT_EQ(exported(), kDefaults);  // an empty file holds the defaults at once
    EXPECT_EQ(box.read(kFile), "^o^ 0 0 0 7 ^o^ ^o^ ^o^ ^o^ 0 0 0 0 \n");
    box.write(kFile, "LAN1 1 0 1 18 \"a \\\"b\\\" <c>\" 03:00 ^o^ 04:30 2 15 1 1 \n");
    const std::string settings = exported();
    EXPECT_EQ(settings,
              "<_function value=\"ap_setting\" method=\"add\"><_entry><iname value=\"LAN1\" /><enable_ap_balance "
              "value=\"1\" /><enable_ap_auto_power value=\"0\" /><enable_ap_connect_mail value=\"1\" />"
              "<enable_ap_sys_management value=\"18\" /><sync_ap_passwd value=\"a \\&quot;b\\&quot; &lt;c&gt;\" />"
              "<autorestart_day_time value=\"03:00\" /><autorestart_week_time value=\"\" /><autorestart_month_time "
              "value=\"04:30\" /><autorestart_week_day value=\"2\" /><autorestart_month_day value=\"15\" />"
              "<autorestart_en_autorestart value=\"1\" /><enable_realtime_traffic value=\"1\" /></_entry></_function>");
    // Back into an empty file: the same line.  Of several entries the last
    // is kept; a key that is missing keeps its default; an interface that is
    // not one word is refused, and a line break in the password is kept as
    // the //n of a line.
    const struct { std::string document, line; } rows[] = {
        {settings, "LAN1 1 0 1 18 \"a \\\"b\\\" <c>\" 03:00 ^o^ 04:30 2 15 1 1 "},
        {"<_function><_entry><iname value=\"LAN2\" /></_entry><_entry><iname value=\"DMZ1\" />"
         "<enable_ap_balance value=\"1\" /></_entry></_function>",
         "DMZ1 1 0 0 7 ^o^ ^o^ ^o^ ^o^ 0 0 0 0 "},
        {"<_function><_entry><iname value=\"LAN1; reboot\" /><sync_ap_passwd value=\"x&#10;y\" />"
         "<autorestart_week_day value=\"3\" /></_entry></_function>",
         "^o^ 0 0 0 7 x//ny ^o^ ^o^ ^o^ 3 0 0 0 "},
    };
    for (const auto &row : rows) {
        std::remove(box.file(kFile).c_str());
        xml_node *tree = my_mxmlLoadString(nullptr, ("<?xml version=\"1.0\"?>" + row.document).c_str(), nullptr);
        ASSERT_NE(tree, nullptr) << row.document;
        xml_node *function = my_mxmlFindElement(tree, tree, "_function", nullptr, nullptr, MY_XML_DESCEND);
        EXPECT_EQ(reinterpret_cast<ap_setting_import_fn>(m->import_xmlConf)(function), 0);
        my_mxmlDelete(tree);
        EXPECT_EQ(box.read(kFile), row.line + "\n") << row.document;
    }
}
