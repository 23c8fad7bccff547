// The upgrade timing record and the progress-bar fragments.
#include <gtest/gtest.h>

#include <ctime>

#include "support/sandbox.h"
#include "webadmin.h"

using namespace testing_support;

namespace {

constexpr const char *kFile = "/etc/sysconfig/.firewall/upgrade_info.conf";

class UpgradeInfo : public ::testing::Test {
protected:
    void SetUp() override {
        system_info_record record{};
        ASSERT_EQ(my_systemInfo(reinterpret_cast<char *>(&record)), 0);
    }
    std::string take(char *text) {
        std::string s = text ? text : "(null)";
        std::free(text);
        return s;
    }
    std::pair<unsigned long, unsigned long> stored() {
        unsigned long start = 0, end = 0;
        EXPECT_EQ(std::sscanf(box_.read(kFile).c_str(), "%lu %lu", &start, &end), 2);
        return {start, end};
    }
    Sandbox box_;
};

bool has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(UpgradeInfo, EmptyFileGetsTheDefaultLineAtOnce) {
    EXPECT_EQ(get_last_upgrade_interval(), 360);
    auto [start, end] = stored();
    EXPECT_EQ(end - start, 360u);
    EXPECT_LE(static_cast<time_t>(end), std::time(nullptr));
    EXPECT_EQ(box_.read(kFile), std::to_string(start) + " " + std::to_string(end) + "\n");
}

TEST_F(UpgradeInfo, StoredLineSizesTheBar) {
    box_.write(kFile, "1000 1180\n");
    upgrade_info_record record{};
    std::string bar = take(ui_para_upgrading(&record));
    EXPECT_GE(static_cast<time_t>(record.start), std::time(nullptr) - 5);
    EXPECT_EQ(record.end, 0u);
    EXPECT_TRUE(has(bar, "<progress id=\"wp\" max=\"180\" value=\"0\"><span id=\"iewp\" class=\"ie\" "
                         "style=\"width:0%;\"></span></progress>"));
    EXPECT_EQ(bar.rfind("<script>\\nvar progress_id;\\nvar progress_time = 0;\\nvar current_time = 0;\\n", 0), 0u);
    EXPECT_TRUE(has(bar, "progress_time = 180;"));
    EXPECT_TRUE(has(bar, "setInterval(\"set_progress()\", 1000)"));
    EXPECT_EQ(bar.find('\n'), std::string::npos);  // one line for the page's script string

    // The write began 95 seconds ago: the file keeps that span, plus the
    // second the clock may have ticked on during the call.
    const time_t before = std::time(nullptr);
    record.start = static_cast<uint32_t>(before - 95);
    std::string done = take(ui_para_write_done(&record));
    const time_t after = std::time(nullptr);
    EXPECT_EQ(done, "<script>\\nif(document.getElementById(\"wp\")!=null){\\n"
                    "document.getElementById(\"wp\").style.display=\"none\";\\n}\\n<\\/script>\\n");
    auto [start, end] = stored();
    EXPECT_EQ(start, record.start);
    EXPECT_GE(end - start, 95u);
    EXPECT_LE(end - start, 95u + static_cast<uint32_t>(after - before));
    EXPECT_EQ(get_last_upgrade_interval(), static_cast<int>(end - start));
}

TEST_F(UpgradeInfo, NoUsableDurationGivesAnIndeterminateBar) {
    for (const char *line : {"1000 1000\n", "1180 1000\n"}) {
        box_.write(kFile, line);
        upgrade_info_record record{};
        EXPECT_EQ(take(ui_para_upgrading(&record)),
                  "<table border=0 width=700 cellpadding=3 cellspacing=1>\\n<tr class=\"TextAttr\" align=\"center\">"
                  "<td width=\"35%\"></td><td align=\"left\"><progress id=\"wp\"><span id=\"iewp\" class=\"ie\" "
                  "style=\"width:0%;\"></span></progress></td><td width=\"35%\"></td></tr>\\n</table>\\n");
    }
    // A hand-edited line with one number: the end keeps the record's value.
    box_.write(kFile, "1000\n");
    EXPECT_EQ(get_last_upgrade_interval(), -1000);
}

// The module's own line format through the shared table operations.
TEST_F(UpgradeInfo, TableOperations) {
    module_table *t = upgrade_info_register();
    ASSERT_NE(t, nullptr);
    upgrade_info_record r{5, 6};
    t->set_default(&r, nullptr);
    EXPECT_EQ(r.end - r.start, 360u);

    box_.write(kFile, "1 2\n3 4\n");
    record_file *h = t->open(nullptr, "pid:1,test:ops():1", 1);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(t->getnum(h, &r, 2), nullptr);
    EXPECT_EQ(r.start, 3u);
    EXPECT_EQ(r.end, 4u);
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
