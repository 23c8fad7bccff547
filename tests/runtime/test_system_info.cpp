#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/temp_root.h"
#include "webadmin.h"

namespace {

using namespace std::string_literals;

using testing_support::TempRoot;

system_info_record record(const char *product_id) {
    system_info_record r{};
    std::snprintf(r.vendor, sizeof r.vendor, "%s", "Demo");
    std::snprintf(r.model, sizeof r.model, "%s", "WA1000");
    std::snprintf(r.major, sizeof r.major, "%s", "2");
    std::snprintf(r.minor, sizeof r.minor, "%s", "1");
    std::snprintf(r.revision, sizeof r.revision, "%s", "5");
    std::snprintf(r.product_id, sizeof r.product_id, "%s", product_id);
    return r;
}

std::string bytes(const system_info_record &r) { return std::string(reinterpret_cast<const char *>(&r), sizeof r); }

std::string row(const char *rows, int n, int size) { return rows + n * size; }

TEST(SystemInfo, ReadParameterTakesTheColumnOfTheRequestedId) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    root.write("/etc/table",
               "# a comment line\n"
               "ROW_BEFORE before header\n"
               "& 10 20\n"
               "ROW_X x1 x2\n"
               "& 30 0x2a0 1f\n"
               "ROW_0 a0 b0 c0\n"
               "\n"
               "# comment between rows\n"
               "ROW_1 a1 b1\n"
               "1ROW digit first\n"
               " ROW indented\n"
               "& 2a0 99\n"
               "row_2 a2 b2 c2\n"
               "ROW_3 \"a 3\" \"b 3\" \"c 3 is a long text\"\n"
               "ROW_4 a4 b4 c4\n");

    // Column 2a0 is token 3 of the second header; the first has no such id.
    std::vector<char> rows(10 * 8, 'X');
    EXPECT_EQ(read_parameter("/etc/table", rows.data(), 10, 8, 0x2a0), 5);
    EXPECT_EQ(row(rows.data(), 0, 8), "b0");
    EXPECT_EQ(row(rows.data(), 1, 8), "b1");
    EXPECT_EQ(row(rows.data(), 2, 8), "b2");  // the later header is no row
    EXPECT_EQ(std::string(rows.data() + 24, 8), "b 3\0\0\0\0X"s);
    EXPECT_EQ(row(rows.data(), 4, 8), "b4");
    EXPECT_EQ(rows[5 * 8], 'X');  // nothing past the rows stored

    // A row without the column is skipped; long texts are cut and the last
    // byte of a row is never written.
    std::fill(rows.begin(), rows.end(), 'X');
    EXPECT_EQ(read_parameter("/etc/table", rows.data(), 10, 8, 0x1f), 4);
    EXPECT_EQ(std::string(rows.data(), 3), "c0\0"s);
    EXPECT_EQ(std::string(rows.data() + 8, 3), "c2\0"s);
    EXPECT_EQ(std::string(rows.data() + 16, 8), "c 3 is X");
    EXPECT_EQ(row(rows.data(), 3, 8), "c4");
    EXPECT_EQ(rows[32], 'X');

    // The row limit, a missing column and a missing file.
    EXPECT_EQ(read_parameter("/etc/table", rows.data(), 2, 8, 0x2a0), 2);
    // Rows follow the chosen header to the end of the file.
    EXPECT_EQ(read_parameter("/etc/table", rows.data(), 10, 8, 0x10), 6);
    EXPECT_EQ(row(rows.data(), 0, 8), "x1");
    EXPECT_EQ(row(rows.data(), 5, 8), "a4");
    EXPECT_EQ(read_parameter("/etc/table", rows.data(), 10, 8, 0x77), 0);
    EXPECT_EQ(read_parameter("/etc/absent", rows.data(), 10, 8, 0x10), 0);
    EXPECT_EQ(read_parameter("/etc/table", rows.data(), 0, 8, 0x10), 0);
    EXPECT_EQ(read_parameter(nullptr, rows.data(), 10, 8, 0x10), 0);
}

TEST(SystemInfo, LoadsRecordThemeAndCapacities) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    root.write("/etc/html.info", "& 101000 202000\nROW_0 #f4f6f8 #ffffff\nROW_1 3 2\n");
    root.write("/etc/entry.info", "& 3 4\nCAP_0 16 32\nCAP_1 48 96\n");
    system_info_record demo = record("101003");
    root.write("/etc/system.info", bytes(demo) + "trailing bytes are not read");

    char buf[96];
    std::memset(buf, 'Z', sizeof buf);
    ASSERT_EQ(my_systemInfo(buf), 0);
    EXPECT_EQ(std::memcmp(buf, &demo, sizeof demo), 0);
    EXPECT_EQ(buf[76], 'Z');
    EXPECT_STREQ(html_fmt[0], "#f4f6f8");
    EXPECT_STREQ(html_fmt[1], "3");
    EXPECT_STREQ(entry_num[0], "16");
    EXPECT_STREQ(entry_num[1], "48");

    // Another product takes other columns.
    root.write("/etc/system.info", bytes(record("202004")));
    ASSERT_EQ(my_systemInfo(buf), 0);
    EXPECT_STREQ(html_fmt[0], "#ffffff");
    EXPECT_STREQ(entry_num[1], "96");

    // No capacity column: failure, the theme is loaded all the same.
    root.write("/etc/system.info", bytes(record("101005")));
    EXPECT_EQ(my_systemInfo(buf), -1);
    EXPECT_STREQ(html_fmt[0], "#f4f6f8");
    EXPECT_STREQ(entry_num[1], "96");

    // No theme column: failure, and the capacity table is not read.
    root.write("/etc/system.info", bytes(record("303003")));
    EXPECT_EQ(my_systemInfo(buf), -1);
    EXPECT_STREQ(entry_num[1], "96");

    // A short file, or none.
    root.write("/etc/system.info", bytes(demo).substr(0, 75));
    EXPECT_EQ(my_systemInfo(buf), -1);
    std::filesystem::remove(std::string(getenv("APPLIANCE_ROOT")) + "/etc/system.info");
    EXPECT_EQ(my_systemInfo(buf), -1);
    EXPECT_EQ(my_systemInfo(nullptr), -1);
}

TEST(SystemInfo, UnterminatedFieldsAreCutAtTheirLastByte) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    root.write("/etc/html.info", "& 101000\nROW_0 white\n");
    root.write("/etc/entry.info", "& 3\nCAP_0 16\n");
    std::string raw(76, 'A');
    std::memcpy(&raw[50], "101003AAAAAAAAAAAAAAAAAAA", 25);  // no NUL anywhere
    raw[56] = '\0';
    root.write("/etc/system.info", raw);
    system_info_record r;
    ASSERT_EQ(my_systemInfo(reinterpret_cast<char *>(&r)), 0);
    EXPECT_EQ(std::string(r.vendor), std::string(20, 'A'));
    EXPECT_EQ(std::string(r.model), std::string(19, 'A'));
    EXPECT_EQ(std::string(r.revision), "AA");
    EXPECT_EQ(std::string(r.product_id), "101003");
}

TEST(SystemInfo, WriteSystemInfoReplacesTheFile) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    const char *path = "/etc/sysconfig/.firewall/system.info";
    root.write(path, std::string(200, 'x'));
    system_info_record r = record("101003");
    EXPECT_EQ(write_systemInfo(reinterpret_cast<const char *>(&r)), 0);
    EXPECT_EQ(root.read(path), bytes(r));
    EXPECT_EQ(write_systemInfo(nullptr), -1);
    std::filesystem::remove_all(std::string(getenv("APPLIANCE_ROOT")) + "/etc/sysconfig");
    EXPECT_EQ(write_systemInfo(reinterpret_cast<const char *>(&r)), -1);
}

TEST(SystemInfo, BlockIntegersAndStrings) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    int *slot = WI(105, 45);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(RI(105), slot);
    EXPECT_EQ(*RI(105), 45);
    EXPECT_EQ(*RI(104), 0);  // a fresh block is zero
    EXPECT_EQ(reinterpret_cast<char *>(RI(159)) + 4, RS(0));

    std::string long_text(300, 'x');
    char *text = WS(13, long_text.c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text, RS(13));
    EXPECT_EQ(std::string(RS(13)), std::string(255, 'x'));
    EXPECT_EQ(RS(14) - RS(13), 256);

    // A shorter text clears the rest of the first 255 bytes only.
    RS(13)[255] = '!';
    WS(13, "eng");
    EXPECT_STREQ(RS(13), "eng");
    for (int i = 3; i < 255; ++i) ASSERT_EQ(RS(13)[i], '\0') << i;
    EXPECT_EQ(RS(13)[255], '!');
    WS(13, nullptr);
    EXPECT_STREQ(RS(13), "");

    // Indices outside the block.
    EXPECT_EQ(RI(-1), nullptr);
    EXPECT_EQ(RI(160), nullptr);
    EXPECT_EQ(WI(160, 1), nullptr);
    EXPECT_EQ(RS(80), nullptr);
    EXPECT_EQ(RS(-1), nullptr);
    EXPECT_EQ(WS(80, "x"), nullptr);
}

TEST(SystemInfo, BlockIsSharedBetweenProcesses) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    // Another program publishes before this process has attached.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(WS(16, "Demo WA1000") && WI(105, 45) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_STREQ(RS(16), "Demo WA1000");
    EXPECT_EQ(*RI(105), 45);
}

TEST(SystemInfo, UnattachableBlockGivesNull) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    int blocker = shmget(platform::ipc_key(0x20070413), 64, IPC_CREAT | 0777);
    ASSERT_GE(blocker, 0);
    EXPECT_EQ(RI(105), nullptr);
    EXPECT_EQ(WI(105, 1), nullptr);
    EXPECT_EQ(RS(13), nullptr);
    EXPECT_EQ(WS(13, "eng"), nullptr);
    ASSERT_EQ(shmctl(blocker, IPC_RMID, nullptr), 0);
    EXPECT_NE(WS(13, "eng"), nullptr);
}

}  // namespace
