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
    system_info_record r{"Demo", "WA1000", "2", "1", "5", {}};
    std::snprintf(r.product_id, sizeof r.product_id, "%s", product_id);
    return r;
}

std::string bytes(const system_info_record &r) { return std::string(reinterpret_cast<const char *>(&r), sizeof r); }

TEST(SystemInfo, ReadParameterTakesTheColumnOfTheRequestedId) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    root.write("/etc/table",
               "# a comment line\nROW_BEFORE before header\n& 10 20\nROW_X x1 x2\n& 30 0x2a0 1f\nROW_0 a0 b0 c0\n\n"
               "# comment between rows\nROW_1 a1 b1\n1ROW digit first\n ROW indented\n& 2a0 99\nrow_2 a2 b2 c2\n"
               "ROW_3 \"a 3\" \"b 3\" \"c 3 is a long text\"\nROW_4 a4 b4 c4\n");
    // Rows of 8 bytes filled with 'X' first; the stored rows joined by '|'.
    std::vector<char> rows(10 * 8);
    auto column = [&](const char *path, int max_rows, int id, int expected) {
        std::fill(rows.begin(), rows.end(), 'X');
        EXPECT_EQ(read_parameter(path, rows.data(), max_rows, 8, id), expected) << std::hex << id;
        std::string joined;
        for (int i = 0; i < expected; ++i)
            joined += (i ? "|" : "") + std::string(rows.data() + 8 * i, strnlen(rows.data() + 8 * i, 8));
        return joined;
    };

    // Column 2a0 is token 3 of the second header; the first has no such id.
    // The later header is no row; nothing past the rows is stored.
    EXPECT_EQ(column("/etc/table", 10, 0x2a0, 5), "b0|b1|b2|b 3|b4");
    EXPECT_EQ(std::string(rows.data() + 24, 8), "b 3\0\0\0\0X"s);
    EXPECT_EQ(rows[5 * 8], 'X');
    // A row without the column is skipped; long texts are cut and the last
    // byte of a row is never written.
    EXPECT_EQ(column("/etc/table", 10, 0x1f, 4), "c0|c2|c 3 is X|c4");
    EXPECT_EQ(std::string(rows.data(), 3), "c0\0"s);
    EXPECT_EQ(rows[32], 'X');
    // Rows follow the chosen header to the end of the file.
    EXPECT_EQ(column("/etc/table", 10, 0x10, 6), "x1|a0|a1|a2|a 3|a4");
    // The row limit, a missing column and a missing file.
    EXPECT_EQ(column("/etc/table", 2, 0x2a0, 2), "b0|b1");
    column("/etc/table", 10, 0x77, 0);
    column("/etc/absent", 10, 0x10, 0);
    column("/etc/table", 0, 0x10, 0);
    column(nullptr, 10, 0x10, 0);
}

TEST(SystemInfo, LoadsRecordThemeAndCapacities) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    root.write("/etc/html.info", "& 101000 202000\nROW_0 #f4f6f8 #ffffff\nROW_1 3 2\n");
    root.write("/etc/entry.info", "& 3 4\nCAP_0 16 32\nCAP_1 48 96\n");
    system_info_record demo = record("101003");
    root.write("/etc/system.info", bytes(demo) + "trailing bytes are not read");

    // The first two rows of the theme and the capacities.
    auto theme = [] { return std::string(html_fmt[0]) + " " + html_fmt[1]; };
    auto capacities = [] { return std::string(entry_num[0]) + " " + entry_num[1]; };
    char buf[96];
    std::memset(buf, 'Z', sizeof buf);
    ASSERT_EQ(my_systemInfo(buf), 0);
    EXPECT_EQ(std::memcmp(buf, &demo, sizeof demo), 0);
    EXPECT_EQ(buf[76], 'Z');
    EXPECT_EQ(theme(), "#f4f6f8 3");
    EXPECT_EQ(capacities(), "16 48");
    // Another product takes other columns.
    root.write("/etc/system.info", bytes(record("202004")));
    ASSERT_EQ(my_systemInfo(buf), 0);
    EXPECT_EQ(theme(), "#ffffff 2");
    EXPECT_EQ(capacities(), "32 96");
    // No capacity column: failure, the theme is loaded all the same.
    root.write("/etc/system.info", bytes(record("101005")));
    EXPECT_EQ(my_systemInfo(buf), -1);
    EXPECT_EQ(theme(), "#f4f6f8 3");
    EXPECT_EQ(capacities(), "32 96");
    // No theme column: failure, and the capacity table is not read.
    root.write("/etc/system.info", bytes(record("303003")));
    EXPECT_EQ(my_systemInfo(buf), -1);
    EXPECT_EQ(capacities(), "32 96");

    // A short file, or none.
    root.write("/etc/system.info", bytes(demo).substr(0, 75));
    EXPECT_EQ(my_systemInfo(buf), -1);
    root.remove("/etc/system.info");
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
    std::filesystem::remove_all(root.file("/etc/sysconfig"));
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

    char *text = WS(13, std::string(300, 'x').c_str());
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
    EXPECT_EQ((std::vector<void *>{RI(-1), RI(160), WI(160, 1), RS(80), RS(-1), WS(80, "x")}),
              std::vector<void *>(6, nullptr));
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
    EXPECT_EQ((std::vector<void *>{RI(105), WI(105, 1), RS(13), WS(13, "eng")}), std::vector<void *>(4, nullptr));
    ASSERT_EQ(shmctl(blocker, IPC_RMID, nullptr), 0);
    EXPECT_NE(WS(13, "eng"), nullptr);
}

}  // namespace
