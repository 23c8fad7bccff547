// The AP controller settings as XML: the export of the settings line and its import back into it.
#include <gtest/gtest.h>

#include "support/module_harness.h"
#include "support/module_xml_harness.h"

using namespace testing_support;

// The settings export (an empty file holds the defaults at once, unset restart times empty) and import: the last entry
// kept, a missing key at its default.
TEST(ApSettingXml, ExportedAndImportedBack) {
    ModuleBox box;
    Module m(ap_setting_register, ap_setting_unregister);
    const std::string file = "/etc/sysconfig/.firewall/ap_setting.conf", head = "<_function value=\"ap_setting\" "
                                                                               "method=\"add\"><_entry>";
    EXPECT_EQ(export_of(m.table(), "ap_setting"),
              head + elements("iname=^o^|enable_ap_balance=0|enable_ap_auto_power=0|enable_ap_connect_mail=0|"
                              "enable_ap_sys_management=7|sync_ap_passwd=^o^|autorestart_day_time=|"
                              "autorestart_week_time=|autorestart_month_time=|autorestart_week_day=0|"
                              "autorestart_month_day=0|autorestart_en_autorestart=0|enable_realtime_traffic=0") +
                  "</_entry></_function>");
    EXPECT_EQ(box.read(file), "^o^ 0 0 0 7 ^o^ ^o^ ^o^ ^o^ 0 0 0 0 \n");
    const std::string line = "LAN1 1 0 1 18 \"a \\\"b\\\" <c>\" 03:00 ^o^ 04:30 2 15 1 1 \n";
    box.write(file, line);
    const std::string settings = export_of(m.table(), "ap_setting");
    EXPECT_EQ(settings, head +
                            elements("iname=LAN1|enable_ap_balance=1|enable_ap_auto_power=0|enable_ap_connect_mail=1|"
                                     "enable_ap_sys_management=18|sync_ap_passwd=a \\&quot;b\\&quot; &lt;c&gt;|"
                                     "autorestart_day_time=03:00|autorestart_week_time=|autorestart_month_time=04:30|"
                                     "autorestart_week_day=2|autorestart_month_day=15|autorestart_en_autorestart=1|"
                                     "enable_realtime_traffic=1") + "</_entry></_function>");
    const struct { std::string document, line; } rows[] = {
        {settings, line},
        {"<_function><_entry><iname value=\"LAN2\" /></_entry><_entry><iname value=\"DMZ1\" />"
         "<enable_ap_balance value=\"1\" /></_entry></_function>", "DMZ1 1 0 0 7 ^o^ ^o^ ^o^ ^o^ 0 0 0 0 \n"},
    };
    for (const auto &row : rows) {
        box.remove(file);
        EXPECT_EQ(import_into(m.table(), row.document), 0) << row.document;
        EXPECT_EQ(box.read(file), row.line) << row.document;
    }
}
