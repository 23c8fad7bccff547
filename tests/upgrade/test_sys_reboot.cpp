// The reboot page module through its table.
#include <gtest/gtest.h>

#include "support/capture.h"
#include "support/sandbox.h"
#include "webadmin.h"

using namespace testing_support;

namespace {

class SysReboot : public ::testing::Test {
protected:
    void SetUp() override {
        system_info_record record{};
        ASSERT_EQ(my_systemInfo(reinterpret_cast<char *>(&record)), 0);
        table_ = sys_reboot_register();
        ASSERT_NE(table_, nullptr);
    }
    void TearDown() override { sys_reboot_unregister(table_); }

    std::string command(uint32_t *record, const char *restart) {
        return captured_stdout([&] { reinterpret_cast<sys_reboot_command_fn>(table_->command)(record, restart); });
    }
    std::string print(const char *text) {
        return captured_stdout([&] { EXPECT_EQ(table_->print(text), 0); });
    }

    Sandbox box_;  // the demo defines SYSTEM_FORMAT_TIME 60
    module_table *table_ = nullptr;
};

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(SysReboot, CountDownRoundsUpToTenSeconds) {
    // Before any language call (this process's first test): the plain form.
    EXPECT_EQ(print(nullptr), "");
    EXPECT_EQ(print("a<b>c"), "<script>\n$(\"#sys_reboot_log\").append('a<b>c');\n</script>\n");
    // The stored interval and 30 s, raised to ten; a step of the bar per 20 s begun.
    WI(105, 61);
    std::string page = command(nullptr, "");
    EXPECT_TRUE(has(page, "<span id=\"timer\" style=\"color: #cc0000\">100</span>"));
    EXPECT_TRUE(has(page, "total_time = 100;\n  if (total_time > 0) degree = 5;"));
    WI(105, 50);  // already a multiple of ten
    EXPECT_TRUE(has(command(nullptr, ""), ">80</span>"));
    uint32_t format_flag = 1;  // 60 + 45 + 30 = 135 -> 140, degree 7
    WI(105, 45);
    page = command(&format_flag, "");
    EXPECT_TRUE(has(page, ">140</span>"));
    EXPECT_TRUE(has(page, "degree = 7;"));
    uint32_t other = 2;
    EXPECT_TRUE(has(command(&other, ""), ">80</span>"));
    // An empty command runs nothing.
    EXPECT_EQ(box_.commands(), "");
}

TEST_F(SysReboot, CountDownOncePerPageButEveryCommandRuns) {
    table_->language("eng", nullptr);
    std::string page = command(nullptr, "/tmp/reboot");
    // The script adds the count-down only when the page has none yet.
    EXPECT_EQ(page.rfind("<script>\nif (!document.getElementById(\"timer\")) {\n", 0), 0u);
    EXPECT_TRUE(has(page, "Reconnecting in <span id=\"timer\""));
    EXPECT_TRUE(has(page, "&nbsp;seconds<span id=\"end_flag\""));
    command(nullptr, "/tmp/reboot");
    EXPECT_EQ(box_.commands(), "/tmp/reboot\n/tmp/reboot\n");
    // No command: the kernel's own restart after a sync.
    command(nullptr, nullptr);
    EXPECT_EQ(box_.commands(), "/tmp/reboot\n/tmp/reboot\n<sync>\n/sbin/reboot\n");
}

TEST_F(SysReboot, PrintAppendsOneScriptPerMessage) {
    q_entry *texts = table_->language("eng", nullptr);
    ASSERT_NE(texts, nullptr);
    EXPECT_EQ(print("${REBOOT_SECONDS_STR}!"), "<script>$(\"#sys_reboot_log\").append('seconds!');</script>\n");
    // The module's own group overrides the common reboot texts.
    EXPECT_STREQ(Name2Str(&texts, "${REBOOT_RESTARTING_STR}"), "is restarting, please wait...");
    // A caller's own non-empty table is used as it is.
    q_entry *mine = qSedArgAdd(nullptr, "${X}", "%s", "mine");
    EXPECT_EQ(table_->language("eng", &mine), mine);
    EXPECT_EQ(print("${X}"), "<script>$(\"#sys_reboot_log\").append('mine');</script>\n");
    table_->language("eng", nullptr);  // the module's own table again, before mine goes
    qSedArgFree(mine);
}

TEST_F(SysReboot, HeadRecordAndUptime) {
    int marker = 7;
    std::string head = captured_stdout([&] {
        EXPECT_EQ(table_->set_default(&marker, nullptr), &marker);
        EXPECT_EQ(table_->set_default(&marker, "text as it is\n"), &marker);
    });
    EXPECT_EQ(head.rfind("<html>\n<head>\n<link rel=\"stylesheet\" href=\"../my_style.css\"", 0), 0u);
    EXPECT_TRUE(has(head, "border: 1px solid #8090a0;\n  background-color: #e0e6ee;\n  color: #2a7fd4;"));
    EXPECT_TRUE(has(head, "<script type=\"text/javascript\" src=\"../js/jquery.min.js\"></script>"));
    EXPECT_TRUE(has(head, "url: \"/cgi-bin/index.cgi\""));
    EXPECT_TRUE(has(head, "<table border=0 width=700 height=40 cellpadding=0 cellspacing=0>"));
    const std::string tail = "</center>\n</body>\n</html>\ntext as it is\n";
    EXPECT_EQ(head.substr(head.size() - tail.size()), tail);

    uint32_t record = 0;
    EXPECT_EQ(table_->clear(&record), &record);
    EXPECT_EQ(record, 45u);  // the demo's SYSTEM_REBOOT_TIME

    box_.write("/proc/uptime", "12345.67 2345.10\n");
    table_->handle = table_->open(nullptr, "pid:1,test:uptime():1", 1);
    ASSERT_NE(table_->handle, nullptr);
    auto *h = static_cast<record_file *>(table_->handle);
    EXPECT_EQ(table_->getline(h, &record, nullptr, 1), 1);
    EXPECT_EQ(record, 12345u);
    EXPECT_EQ(table_->getline(h, &record, nullptr, 0), 0);
    table_->close(reinterpret_cast<record_file **>(&table_->handle));
    EXPECT_EQ(table_->handle, nullptr);
    // /proc/uptime is never written back.
    EXPECT_EQ(box_.commands(), "");
    EXPECT_EQ(table_->open(nullptr, nullptr, 0), nullptr);
}
