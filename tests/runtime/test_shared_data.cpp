// What the appliance shares between processes: product definitions, system
// information, language tables and the privilege table.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "runtime/shared_segment.h"
#include "support/request.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace definitions_tests {
constexpr key_t kDefineKey = 0x20071108;
constexpr const char *kFactory = "/etc/.config";
constexpr const char *kWorking = "/etc/sysconfig/.firewall/.config";

using testing_support::TempRoot;

std::string definitions_file(const std::string &brand, const std::string &model, int version, const std::string &body) {
    return "# Product definitions\n#& " + std::to_string(version) + "\nSYSTEM_BRAND = \"" + brand +
           "\"\nSYSTEM_MODEL = \"" + model + "\"\n" + body;
}

// The segment as every process of the appliance sees it.
struct Raw {
    const char *base;
    int32_t integer(std::size_t offset) const {
        int32_t v;
        std::memcpy(&v, base + offset, sizeof v);
        return v;
    }
    int32_t count() const { return integer(24); }
    uint32_t version() const { return static_cast<uint32_t>(integer(28)); }
    std::string product_key() const { return base + 32; }
    int32_t fill() const { return integer(64); }
    uint32_t index(int i) const { return static_cast<uint32_t>(integer(68 + 100 * static_cast<std::size_t>(i))); }
    std::string name(int i) const { return base + 68 + 100 * i + 4; }
    std::string value(int i) const { return base + 68 + 100 * i + 36; }
};

Raw raw() { return Raw{static_cast<const char *>(get_define_segment())}; }

// Entries in use are sorted by name, and every index is its position.
void expect_consistent(const Raw &seg) {
    EXPECT_EQ(seg.fill(), seg.count());
    for (int i = 0; i < seg.count(); ++i) {
        EXPECT_EQ(seg.index(i), static_cast<uint32_t>(i));
        if (i > 0) {
            EXPECT_LE(std::strcmp(seg.name(i - 1).c_str(), seg.name(i).c_str()), 0) << i;
        }
    }
}

// Makes text the working file and loads it.
void load(const TempRoot &root, const std::string &text) {
    root.write(kWorking, text);
    ASSERT_NE(init_configuration(), 0);
}

TEST(Definitions, LookupsAnswerFromTheWorkingFile) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    const std::string long_name(40, 'N'), long_value(80, 'v');
    load(root, definitions_file("Demo", "WA1000", 3,
                                "HAVE_A = \"y\"\nHAVE_B = \"Yes\"\nHAVE_C = \"1\"\nHAVE_D = \"no\"\nPORTS = \"6\"\nWORD = \"abc\"\n"
                                "BIG = \"4000000000\"\nDUP = \"first\"\nDUP = \"second\"\n#HAVE_COMMENT = \"y\"\n HAVE_INDENT = \"y\"\n"
                                "\tHAVE_TAB = \"y\"\nTWO tokens\nBROKEN = \"open\nBARE = y\n" + long_name + " = \"" + long_value + "\"\n"));
    for (auto [name, yes] : {std::pair{"HAVE_A", 1}, {"HAVE_B", 1}, {"BARE", 1}, {"HAVE_C", 0}, {"HAVE_D", 0}, {"have_a", 0}, {"NONE", 0}})
        EXPECT_EQ(IF_DEFINE(name), yes) << name;
    EXPECT_EQ(RETURN_DEF_INT("PORTS"), 6);
    EXPECT_EQ(RETURN_DEF_INT("WORD"), 0);
    EXPECT_EQ(RETURN_DEF_UINT("BIG"), 4000000000u);
    EXPECT_EQ(RETURN_DEF_UINT("ABSENT"), 0u);
    const char *dup = RETURN_DEF_STR("DUP"), *base = static_cast<const char *>(get_define_segment());
    EXPECT_STREQ(dup, "first");  // the segment's own text, the first of two
    EXPECT_TRUE(dup >= base + 68 && dup < base + 25668);
    for (const char *none : {"HAVE_INDENT", "HAVE_TAB", "#HAVE_COMMENT", "TWO", "BROKEN"}) EXPECT_EQ(RETURN_DEF_STR(none), nullptr) << none;
    EXPECT_EQ(RETURN_DEF_STR(long_name.c_str()), nullptr);  // names cut to 31, values to 63 characters
    EXPECT_EQ(RETURN_DEF_STR(long_name.substr(0, 31).c_str()), long_value.substr(0, 63));
}

TEST(Definitions, SegmentHoldsSortedEntriesAndTheFileHeader) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    load(root, definitions_file(
                   "Demo", "WA1000", 3,
                   "ZED = \"z\"\nDUP = \"first\"\nALPHA = \"a\"\nDUP = \"second\"\n_LOW = \"u\"\nBETA = \"b\"\n"));
    Raw seg = raw();
    EXPECT_EQ(seg.version(), 3u);
    EXPECT_EQ(seg.product_key(), "Demo_WA1000");
    ASSERT_EQ(seg.count(), 8);
    expect_consistent(seg);
    const char *names[] = {"ALPHA", "BETA", "DUP", "DUP", "SYSTEM_BRAND", "SYSTEM_MODEL", "ZED", "_LOW"};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(seg.name(i), names[i]);
    // Equal names keep the order of the file; entries beyond the count are clear.
    EXPECT_EQ(seg.value(2), "first");
    EXPECT_EQ(seg.value(3), "second");
    EXPECT_EQ(seg.name(8), "");

    // The product key needs the version, brand and model in the first ten lines.
    for (auto [text, version, key] : {std::tuple{"# 1\n# 2\n# 3\n# 4\n# 5\n# 6\n# 7\n# 8\nSYSTEM_BRAND = \"Demo\"\nSYSTEM_MODEL = \"M\"\n#& 7\n", 0u, ""},
                                      {"#& 5\nSYSTEM_BRAND = \"Demo\"\n", 5u, ""}}) {
        load(root, text);
        EXPECT_EQ(raw().version(), version);
        EXPECT_EQ(raw().product_key(), key);
    }
    EXPECT_STREQ(RETURN_DEF_STR("SYSTEM_BRAND"), "Demo");
    load(root, definitions_file(std::string(40, 'B'), std::string(40, 'M'), 2, ""));
    EXPECT_EQ(raw().product_key(), std::string(31, 'B'));
    EXPECT_EQ(raw().value(0), std::string(40, 'B'));
}

TEST(Definitions, FactoryFileReplacesAnOlderOrForeignWorkingFile) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    const std::string factory = definitions_file("Demo", "WA1000", 4, "FROM = \"factory\"\n");
    root.write(kFactory, factory);

    // An older working file of the product, or another product's: replaced; the same version or newer stays.
    for (auto [model, version, from] : {std::tuple{"WA1000", 3, "factory"}, {"WA2000", 9, "factory"}, {"WA1000", 4, "working"},
                                        {"WA1000", 5, "working"}}) {
        const std::string working = definitions_file("Demo", model, version, "FROM = \"working\"\n");
        load(root, working);
        EXPECT_STREQ(RETURN_DEF_STR("FROM"), from) << model << version;
        EXPECT_EQ(root.read(kWorking), from == std::string("factory") ? factory : working);
        EXPECT_EQ(raw().version(), from == std::string("factory") ? 4u : static_cast<uint32_t>(version));
    }
    // No working file: the factory file becomes it.
    root.remove(kWorking);
    ASSERT_NE(init_configuration(), 0);
    EXPECT_EQ(root.read(kWorking), factory);
    // No factory file: whatever the working file holds is loaded.
    root.remove(kFactory);
    load(root, definitions_file("Other", "X", 1, "FROM = \"alone\"\n"));
    EXPECT_STREQ(RETURN_DEF_STR("FROM"), "alone");
    // Neither file: the segment is cleared.
    root.remove(kWorking);
    ASSERT_NE(init_configuration(), 0);
    EXPECT_EQ(raw().count(), 0);
    EXPECT_EQ(raw().version(), 0u);
    EXPECT_EQ(RETURN_DEF_STR("FROM"), nullptr);
}

TEST(Definitions, SegmentKeepsAtMost256Definitions) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    std::string body;
    char line[64];
    for (int i = 299; i >= 0; --i) {
        std::snprintf(line, sizeof line, "D%03d = \"%d\"\n", i, i);
        body += line;
    }
    load(root, body);
    ASSERT_EQ(raw().count(), 256);
    expect_consistent(raw());
    EXPECT_EQ(raw().name(0), "D000");
    EXPECT_EQ(raw().name(255), "D255");
    EXPECT_EQ(RETURN_DEF_INT("D255"), 255);
    EXPECT_EQ(RETURN_DEF_STR("D256"), nullptr);

    EXPECT_EQ(ADD_DEFINE("NEW", "v"), -1);
    EXPECT_EQ(RETURN_DEF_STR("NEW"), nullptr);
    EXPECT_EQ(ADD_DEFINE("D001", "changed"), 0);  // an existing name still changes
    EXPECT_STREQ(RETURN_DEF_STR("D001"), "changed");
    EXPECT_EQ(DEL_DEFINE("D000"), 0);
    EXPECT_EQ(raw().count(), 255);
    EXPECT_EQ(ADD_DEFINE("NEW", "v"), 0);
    EXPECT_EQ(raw().count(), 256);
    EXPECT_EQ(raw().name(255), "NEW");
    expect_consistent(raw());
}

TEST(Definitions, SetAddAndDeleteEditTheSegmentOnly) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    const std::string file = definitions_file("Demo", "WA1000", 3, "DUP = \"first\"\nDUP = \"second\"\nMID = \"m\"\n");
    load(root, file);
    const int loaded = raw().count();

    EXPECT_EQ(SET_DEFINE("MID", std::string(70, 'x').c_str()), 0);
    EXPECT_EQ(RETURN_DEF_STR("MID"), std::string(63, 'x'));
    EXPECT_EQ(SET_DEFINE("NOPE", "1"), -1);
    EXPECT_EQ(RETURN_DEF_STR("NOPE"), nullptr);
    EXPECT_EQ(ADD_DEFINE("AAA", "first in order"), 0);
    EXPECT_EQ(ADD_DEFINE("AAA", "again"), 0);
    EXPECT_EQ(raw().name(0), "AAA");
    EXPECT_STREQ(RETURN_DEF_STR("AAA"), "again");
    const std::string long_name(45, 'L');
    EXPECT_EQ(ADD_DEFINE(long_name.c_str(), "1") + ADD_DEFINE(long_name.c_str(), "2"), 0);
    EXPECT_EQ(raw().count(), loaded + 2);
    expect_consistent(raw());
    EXPECT_STREQ(RETURN_DEF_STR(long_name.substr(0, 31).c_str()), "2");
    EXPECT_EQ(ADD_DEFINE(nullptr, "1"), -1);

    // Deleting a duplicated name removes the first; the second shows through.
    const int count = raw().count();
    EXPECT_EQ(DEL_DEFINE("DUP"), 0);
    EXPECT_STREQ(RETURN_DEF_STR("DUP"), "second");
    EXPECT_EQ(raw().count(), count - 1);
    expect_consistent(raw());
    EXPECT_EQ(raw().name(count - 1), "");
    EXPECT_EQ(DEL_DEFINE("DUP"), 0);
    EXPECT_EQ(RETURN_DEF_STR("DUP"), nullptr);
    EXPECT_EQ(DEL_DEFINE("DUP"), -1);
    // Nothing of this reaches the file.
    EXPECT_EQ(root.read(kWorking), file);
}

TEST(Definitions, SaveConfigurationRewritesTheWorkingFile) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    const std::string long_comment = "#" + std::string(5000, 'c') + "\n",
                      head = definitions_file("Demo", "WA1000", 3, "");
    root.write(kWorking, head + "DUP = \"first\"\nDUPLICATE = \"keep\"\n" + long_comment +
                             "DUP = \"second\"\n DUP = \"indented\"\n");
    ASSERT_EQ(save_configuration("DUP", "new"), 0);
    EXPECT_EQ(root.read(kWorking),
              head + "DUP = \"new\"\nDUPLICATE = \"keep\"\n" + long_comment + "DUP = \"new\"\n DUP = \"indented\"\n");
    EXPECT_STREQ(RETURN_DEF_STR("DUP"), "new");
    EXPECT_FALSE(root.exists(std::string(kWorking) + ".new"));

    // A new name is appended: an empty line, the comment with the time in
    // ctime's 24 characters, the definition.
    std::string before = root.read(kWorking);
    ASSERT_EQ(save_configuration("FRESH", "x y"), 0);
    std::string after = root.read(kWorking);
    ASSERT_EQ(after.compare(0, before.size(), before), 0);
    const std::string appended = after.substr(before.size()), comment = "\n#New append - ",
                      stamp = appended.substr(comment.size(), 24);
    ASSERT_EQ(appended.size(), comment.size() + 24 + 15) << appended;
    EXPECT_EQ(appended.substr(0, comment.size()), comment);
    EXPECT_EQ(appended.substr(comment.size() + 24), "\nFRESH = \"x y\"\n");
    struct tm parsed {};
    const char *end = strptime(stamp.c_str(), "%a %b %e %H:%M:%S %Y", &parsed);
    EXPECT_TRUE(end && *end == '\0') << appended;
    EXPECT_STREQ(RETURN_DEF_STR("FRESH"), "x y");

    ASSERT_EQ(save_configuration("QUOTED", "say \"hi\" \\o/"), 0);  // quotes and backslashes survive
    EXPECT_STREQ(RETURN_DEF_STR("QUOTED"), "say \"hi\" \\o/");
    // Texts that would break the file are refused and change nothing.
    before = root.read(kWorking);
    for (auto [name, value] : {std::pair{"EVIL", "x\"\nHAVE_HARDDISK = \"y"}, {"TWO WORDS", "x"}, {"#COMMENT", "x"}, {"", "x"}})
        EXPECT_EQ(save_configuration(name, value), -1) << name;
    EXPECT_EQ(root.read(kWorking), before);
    root.remove(kWorking);
    EXPECT_EQ(save_configuration("DUP", "x"), -1);
}

int wait_child(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Definitions, ProcessesShareTheSegmentAndSerialiseWriters) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    root.write(kWorking, definitions_file("Demo", "WA1000", 3, "HAVE_WIRELESS = \"y\"\n"));

    // A boot program loads the segment; this process has not attached yet.
    pid_t boot = fork();
    ASSERT_GE(boot, 0);
    if (boot == 0) _exit(init_configuration() ? 0 : 1);
    ASSERT_EQ(wait_child(boot), 0);
    EXPECT_EQ(IF_DEFINE("HAVE_WIRELESS"), 1);
    int loaded = raw().count();

    // Writers adding and deleting at once all end with what they added.
    constexpr int kWriters = 4, kEach = 50, kRounds = 6;
    auto name_of = [](int writer, int i) { return "W" + std::to_string(writer) + "_" + std::to_string(i); };
    std::vector<pid_t> writers;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Every writer waits until all are there: the closed pipe starts them.
            close(start[1]);
            char byte;
            while (read(start[0], &byte, 1) > 0) {
            }
            int failed = 0;
            for (int round = 0; round < kRounds; ++round) {
                for (int i = 0; i < kEach; ++i)
                    failed += ADD_DEFINE(name_of(w, i).c_str(), std::to_string(round * 1000 + i).c_str()) != 0;
                if (round + 1 < kRounds)
                    for (int i = 0; i < kEach; ++i) failed += DEL_DEFINE(name_of(w, i).c_str()) != 0;
            }
            _exit(failed ? 1 : 0);
        }
        writers.push_back(pid);
    }
    close(start[0]);
    close(start[1]);
    for (pid_t pid : writers) EXPECT_EQ(wait_child(pid), 0);
    EXPECT_EQ(raw().count(), loaded + kWriters * kEach);
    expect_consistent(raw());
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kEach; ++i) EXPECT_EQ(RETURN_DEF_INT(name_of(w, i).c_str()), (kRounds - 1) * 1000 + i);
}

TEST(Definitions, SegmentLockHoldsTheLockArea) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    void *seg = runtime::attach_segment(kDefineKey, 25668);
    ASSERT_NE(seg, nullptr);
    EXPECT_EQ(runtime::attach_segment(kDefineKey, 25668), seg);  // attached once
    int word;
    {
        runtime::SegmentLock lock(seg);
        std::memcpy(&word, seg, sizeof word);
        EXPECT_NE(word, 0);
    }
    std::memcpy(&word, seg, sizeof word);
    EXPECT_EQ(word, 0);
}

TEST(Definitions, UnattachableSegmentAnswersAbsentAndIsRetried) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    root.write(kWorking, definitions_file("Demo", "WA1000", 3, "HAVE_CMS = \"y\"\n"));
    // A segment of the wrong size under the key: the definitions cannot attach.
    int blocker = shmget(platform::ipc_key(kDefineKey), 64, IPC_CREAT | 0777);
    ASSERT_GE(blocker, 0);

    EXPECT_EQ(get_define_segment(), nullptr);
    EXPECT_EQ(init_configuration(), 0);
    EXPECT_EQ(IF_DEFINE("HAVE_CMS") + RETURN_DEF_INT("HAVE_CMS") + static_cast<int>(RETURN_DEF_UINT("HAVE_CMS")), 0);
    EXPECT_EQ(RETURN_DEF_STR("HAVE_CMS"), nullptr);
    EXPECT_EQ(SET_DEFINE("HAVE_CMS", "n") + ADD_DEFINE("NEW", "n") + DEL_DEFINE("HAVE_CMS") + save_configuration("HAVE_CMS", "n"), -4);
    ASSERT_EQ(shmctl(blocker, IPC_RMID, nullptr), 0);
    EXPECT_NE(init_configuration(), 0);
    EXPECT_EQ(IF_DEFINE("HAVE_CMS"), 1);
}
}  // namespace definitions_tests

namespace system_info_tests {
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
    EXPECT_EQ(column("/etc/table", 2, 0x2a0, 2), "b0|b1");  // the row limit
    EXPECT_EQ(column("/etc/table", 10, 0x77, 0) + column("/etc/absent", 10, 0x10, 0) + column("/etc/table", 0, 0x10, 0), "");
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

    root.write("/etc/system.info", bytes(demo).substr(0, 75));  // a short file
    EXPECT_EQ(my_systemInfo(buf), -1);
    // Unterminated fields are cut at their last byte.
    std::string raw(76, 'A');
    std::memcpy(&raw[50], "101003AAAAAAAAAAAAAAAAAAA", 25);  // no NUL anywhere
    raw[56] = '\0';
    root.write("/etc/system.info", raw);
    system_info_record r;
    ASSERT_EQ(my_systemInfo(reinterpret_cast<char *>(&r)), 0);
    EXPECT_EQ(std::string(r.vendor) + "|" + r.model + "|" + r.revision + "|" + r.product_id,
              std::string(20, 'A') + "|" + std::string(19, 'A') + "|AA|101003");
    const char *path = "/etc/sysconfig/.firewall/system.info";
    root.write(path, std::string(200, 'x'));
    r = record("101003");
    EXPECT_EQ(write_systemInfo(reinterpret_cast<const char *>(&r)), 0);
    EXPECT_EQ(root.read(path), bytes(r));
    std::filesystem::remove_all(root.file("/etc/sysconfig"));
    EXPECT_EQ(write_systemInfo(reinterpret_cast<const char *>(&r)), -1);
}

TEST(SystemInfo, BlockIntegersAndStrings) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    int *slot = WI(105, 45);
    EXPECT_TRUE(slot && RI(105) == slot && *slot == 45);
    EXPECT_EQ(*RI(104), 0);  // a fresh block is zero
    EXPECT_EQ(reinterpret_cast<char *>(RI(159)) + 4, RS(0));

    EXPECT_EQ(WS(13, std::string(300, 'x').c_str()), RS(13));
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

TEST(SystemInfo, BlockIsSharedBetweenProcessesOrNullWhenUnattachable) {
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
    TempRoot other({"/etc/sysconfig/.firewall"});
    int blocker = shmget(platform::ipc_key(0x20070413), 64, IPC_CREAT | 0777);
    ASSERT_GE(blocker, 0);
    EXPECT_EQ((std::vector<void *>{RI(105), WI(105, 1), RS(13), WS(13, "eng")}), std::vector<void *>(4, nullptr));
    ASSERT_EQ(shmctl(blocker, IPC_RMID, nullptr), 0);
    EXPECT_NE(WS(13, "eng"), nullptr);
}
}  // namespace system_info_tests

namespace language_tests {
using testing_support::TempRoot;

int entries_named(q_entry *table, const char *name) {
    int n = 0;
    for (q_entry *e = table; e; e = e->next) n += std::strcmp(e->name, name) == 0;
    return n;
}

const char *lookup(q_entry *table, const char *key) { return Name2Str(&table, key); }

// The default table belongs to the process, so every check of it is here.
TEST(Language, LoadsCommonThenTheGroupIntoTheDefaultTable) {
    TempRoot root;
    root.write("/etc/language/eng/common",
               "# Texts of every page\nCOMMON_APPLY_STR \"Apply\"\nSHARED \"from common\"\nPERCENT \"50%%\"\n"
               "FORMAT \"%d %s %n %\"\nNAME_ONLY\n#COMMENTED \"no\"\n\"QUOTED NAME\" \"text\"\n"
               "EXTRA \"one\" \"two\"\nESCAPED \"say \\\"hi\\\"\"\nBROKEN \"not closed\n");
    root.write("/etc/language/eng/upgrade", "SHARED \"from upgrade\"\nREBOOT_SECONDS_STR \"seconds\"\n");

    q_entry *head = load_my_language("eng", "upgrade", nullptr);
    ASSERT_NE(head, nullptr);
    EXPECT_STREQ(icons_path, "../icons_eng/");
    for (auto [key, text] : {std::pair{"${COMMON_APPLY_STR}", "Apply"}, {"${SHARED}", "from upgrade"}, {"${REBOOT_SECONDS_STR}", "seconds"},
                             {"${PERCENT}", "50%"}, {"${FORMAT}", "%d %s %n %"}, {"${QUOTED NAME}", "text"}, {"${EXTRA}", "one"},
                             {"${ESCAPED}", "say \"hi\""}}) EXPECT_STREQ(Name2Str(nullptr, key), text) << key;
    EXPECT_EQ(entries_named(head, "${SHARED}"), 1);
    // Unknown keys come back as the very pointer passed.
    for (const char *key : {"${NAME_ONLY}", "${#COMMENTED}", "${COMMENTED}", "${BROKEN}", "${shared}", "SHARED"})
        EXPECT_EQ(Name2Str(nullptr, key), key) << key;
    EXPECT_EQ(Name2Str(nullptr, nullptr), nullptr);

    // An empty caller table now shares the default one.
    q_entry *shared = nullptr, *none = nullptr;
    EXPECT_EQ(load_my_language("eng", "upgrade", &shared), head);
    EXPECT_EQ(shared, head);
    EXPECT_STREQ(Name2Str(&none, "${SHARED}"), "from upgrade");

    // Reloading replaces the texts in place and keeps the other keys.
    root.write("/etc/language/eng/upgrade", "SHARED \"again\"\n");
    EXPECT_EQ(load_my_language("eng", "upgrade", nullptr), head);
    EXPECT_STREQ(Name2Str(nullptr, "${SHARED}"), "again");
    EXPECT_STREQ(Name2Str(nullptr, "${REBOOT_SECONDS_STR}"), "seconds");
    EXPECT_EQ(entries_named(head, "${SHARED}"), 1);
    // A missing file changes nothing but the icons path.
    EXPECT_EQ(load_my_language("xx", "upgrade", nullptr), head);
    EXPECT_STREQ(icons_path, "../icons_xx/");
    EXPECT_STREQ(Name2Str(nullptr, "${SHARED}"), "again");

    // Only the first 511 characters of a text take part in the lookup.
    std::string name(508, 'K');
    root.write("/etc/language/eng/long", name + " \"found\"\n");
    load_static_language("eng", "long", nullptr);
    EXPECT_STREQ(Name2Str(nullptr, ("${" + name + "}tail that is cut off").c_str()), "found");
    EXPECT_EQ(load_my_language(nullptr, "upgrade", nullptr), nullptr);
    EXPECT_EQ(load_my_language("eng", nullptr, nullptr), nullptr);
}

TEST(Language, CallersOwnTablesStayApartFromTheDefault) {
    TempRoot root;
    root.write("/etc/language/ch/common", "SHARED \"common ch\"\nONLY_COMMON \"c\"\n");
    root.write("/etc/language/ch/upgrade", "SHARED \"upgrade ch\"\n");

    q_entry *own = qSedArgAdd(nullptr, "${OWN}", "%s", "mine");
    const char *before = Name2Str(nullptr, "${SHARED}");
    EXPECT_EQ(load_my_language("ch", "upgrade", &own), own);
    EXPECT_STREQ(icons_path, "../icons_ch/");
    EXPECT_STREQ(lookup(own, "${OWN}"), "mine");
    EXPECT_STREQ(lookup(own, "${SHARED}"), "upgrade ch");
    EXPECT_STREQ(lookup(own, "${ONLY_COMMON}"), "c");
    EXPECT_STREQ(Name2Str(nullptr, "${SHARED}"), before);  // the default is untouched

    // The static loader reads only the group's file.
    q_entry *page = nullptr;
    q_entry *head = load_static_language("ch", "upgrade", &page);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(page, head);
    EXPECT_STREQ(lookup(page, "${SHARED}"), "upgrade ch");
    EXPECT_EQ(entries_named(page, "${ONLY_COMMON}"), 0);
    EXPECT_EQ(load_static_language(nullptr, "upgrade", &page), nullptr);

    // A code or group that leads out of the language directory loads nothing.
    root.write("/etc/common", "LEAK \"outside\"\n");
    root.write("/etc/language/common", "LEAK \"outside\"\n");
    q_entry *outside = nullptr;
    for (const auto &[code, group] :
         {std::pair{"..", "common"}, std::pair{"ch", "../common"}, std::pair{".", "common"}})
        EXPECT_EQ(load_static_language(code, group, &outside), nullptr) << code << " " << group;

    // Codes are cut to nine characters, in paths and in the icons path.
    root.write("/etc/language/abcdefghi/upgrade", "CUT \"yes\"\n");
    q_entry *cut = qSedArgAdd(nullptr, "${SEED}", "%s", "own table");
    load_my_language("abcdefghijklmnop", "upgrade", &cut);
    EXPECT_STREQ(lookup(cut, "${CUT}"), "yes");
    EXPECT_STREQ(icons_path, "../icons_abcdefghi/");

    qSedArgFree(own);
    qSedArgFree(page);
    qSedArgFree(cut);
}

TEST(Language, DataFilesFillNumberedRows) {
    TempRoot root;
    std::string text = "# Menu names\n";
    for (int i = 0; i < 310; ++i) {
        if (i == 5) text += "SINGLE_TOKEN\n# a comment\n";
        text += "MENU_" + std::to_string(i) + " \"item " + std::to_string(i) + "\"\n";
    }
    root.write("/etc/menu", text);
    std::vector<char> rows(300 * 20, 'X');
    EXPECT_EQ(load_data_file("/etc/menu", rows.data(), 300, 20), 300);
    for (int i : {0, 5, 299}) EXPECT_EQ(rows.data() + i * 20, "item " + std::to_string(i));

    // Texts are cut, and the last byte of a row is never written.
    root.write("/etc/long", "A \"abcdefghijklmnop\"\nB \"short\"\n");
    std::vector<char> small(3 * 8, 'X');
    EXPECT_EQ(load_data_file("/etc/long", small.data(), 3, 8), 2);
    EXPECT_EQ(std::string(small.data(), 17), std::string("abcdefgXshort\0\0XX", 17));

    // A missing file fills nothing and leaves the rows alone.
    EXPECT_EQ(load_data_file("/etc/absent", small.data(), 3, 8) + load_data_file("/etc/long", small.data(), 0, 8) +
                  load_data_file("/etc/long", small.data(), 3, 0),
              0);
    EXPECT_EQ(std::string(small.data(), 8), "abcdefgX");

    // load_language: the common texts into the table, the group into the rows.
    root.write("/etc/language/eng/common", "COMMON_HELP_STR \"Help\"\n");
    root.write("/etc/language/eng/menu", "M0 \"System\"\nM1 \"Network\"\n");
    q_entry *table = nullptr;
    char menu[4][32] = {};
    EXPECT_EQ(load_language("eng", "menu", menu[0], 4, 32, &table), 2);
    EXPECT_STREQ(menu[0], "System");
    EXPECT_STREQ(menu[1], "Network");
    EXPECT_STREQ(lookup(table, "${COMMON_HELP_STR}"), "Help");
    EXPECT_EQ(entries_named(table, "${M0}"), 0);
    EXPECT_STREQ(icons_path, "../icons_eng/");
    // Without a table only the rows are filled.
    char again[4][32] = {};
    EXPECT_EQ(load_language("eng", "menu", again[0], 4, 32, nullptr), 2);
    EXPECT_STREQ(again[1], "Network");
    // Nothing at all is done without code, group or rows.
    load_language("sch", "menu", nullptr, 4, 32, &table);
    EXPECT_STREQ(icons_path, "../icons_eng/");
    EXPECT_EQ(load_language(nullptr, "menu", menu[0], 4, 32, &table), 0);
    EXPECT_EQ(load_language("eng", "absent", menu[0], 4, 32, nullptr), 0);
    EXPECT_STREQ(menu[0], "System");
    qSedArgFree(table);
}

TEST(Language, NowLanguageTakesTheRequestOrTheFallback) {
    // now_language() of a request with this query string, in a process of its own.
    auto language_of = [](const char *query, const char *fallback) {
        testing_support::Ended ended = testing_support::in_child([&] {
            unsetenv("HTTP_COOKIE");
            unsetenv("CONTENT_LENGTH");
            setenv("REQUEST_METHOD", "GET", 1);
            setenv("QUERY_STRING", query, 1);
            std::fputs(now_language(fallback), stdout);
        });
        return ended.status == 0 ? ended.out : "<failed>";
    };
    const std::vector<std::vector<const char *>> cases = {
        {"q=0", nullptr, "eng"}, {"q=0", "sch", "sch"}, {"q=0", "", ""}, {"MULTI_LANG=ch", "sch", "ch"}, {"MULTI_LANG=xnullx", "sch", "sch"},
        {"MULTI_LANG=null", nullptr, "eng"}, {"MULTI_LANG=", "sch", "sch"}, {"MULTI_LANG=abcdefghijkl", "sch", "abcdefghi"},
        {"MULTI_LANG=zh-TW", "sch", "zh-TW"}, {"MULTI_LANG=../x", "sch", "sch"}, {"MULTI_LANG=%22%3E%3Cb%3E", "sch", "sch"},
        {"q=0", "a-very-long-fallback", "a-very-lo"}};
    for (const auto &c : cases) EXPECT_EQ(language_of(c[0], c[1]), c[2]) << c[0] << " " << (c[1] ? c[1] : "null");

    // Results rotate through sixteen slots.
    std::vector<char *> results;
    for (int i = 0; i < 16; ++i) results.push_back(now_language(std::to_string(i).c_str()));
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_STREQ(results[i], std::to_string(i).c_str());
        for (size_t j = 0; j < i; ++j) EXPECT_NE(results[i], results[j]);
    }
    EXPECT_EQ(now_language("again"), results[0]);
    EXPECT_STREQ(results[0], "again");
    EXPECT_STREQ(results[1], "1");
}
}  // namespace language_tests

namespace privilege_tests {
namespace {

using testing_support::Sandbox;

constexpr key_t kPrivilegeKey = 0x20130131;
constexpr size_t kSegmentSize = 19280;

// The function-to-position table as the administrators' documentation
// writes it.
constexpr char kDocumentedMapping[] =
    "0-7>0-7, 8>188, 9-15>8-14, 16>282, 17>190, 18-24>15-21, 25>245, 26-40>22-36, 41>244, "
    "42-50>37-45, 51>276, 52-53>286-287, 54-55>283-284, 56>252, 57-58>46-47, 59>275, 60-67>48-55, "
    "68-69>58-59, 70>250, 71>281, 72-73>60-61, 74-127>71-124, 128-137>178-187, 138>247, "
    "139-143>253-257, 144>249, 145-148>258-261, 149>263, 150-153>277-280, 154-156>265-267, 157>285, "
    "158-163>268-273, 164>155, 165>251, 166-167>237-238, 168>235, 169>233, 170>156, 171>128, "
    "172>241, 173-174>129-130, 175>189, 176>131, 177-185>62-70, 186-188>125-127, 189>264, "
    "190-202>132-144, 203-204>239-240, 205-214>145-154, 215-221>157-163, 222>246, 223-236>164-177, "
    "237>242";

// Each item is "a>c" or "a-b>c-d".
std::vector<int> documented_positions() {
    std::vector<int> positions(PRIV_FUNCTIONS, -1);
    std::string text = kDocumentedMapping;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find(", ", start), text.size());
        std::string item = text.substr(start, end - start);
        start = end + 2;
        int first, last, position, position_last;
        if (sscanf(item.c_str(), "%d-%d>%d-%d", &first, &last, &position, &position_last) != 4) {
            if (sscanf(item.c_str(), "%d>%d", &first, &position) != 2) {
                ADD_FAILURE() << "unreadable item " << item;
                continue;
            }
            last = first;
            position_last = position;
        }
        EXPECT_EQ(last - first, position_last - position) << item;
        for (int f = first; f <= last; ++f) positions.at(f) = position + (f - first);
    }
    return positions;
}

privilege_record record(const std::string &user, unsigned char fill) {
    privilege_record r{};
    snprintf(r.user, sizeof r.user, "%s", user.c_str());
    memset(r.priv, fill, sizeof r.priv);
    return r;
}

}  // namespace

TEST(Privilege, EveryFunctionReachesItsDocumentedPosition) {
    Sandbox box;
    std::vector<int> positions = documented_positions();
    ASSERT_EQ(std::count(positions.begin(), positions.end(), -1), 0);
    static privilege_image image{};
    image.count = 1;
    image.records[0] = record("mapper", 0);
    ASSERT_EQ(my_privilege_load(&image), 0);

    for (int func = 0; func < PRIV_FUNCTIONS; ++func) {
        ASSERT_EQ(my_func_privilege_set(func, "mapper", 0x40 | (func & 0x3f)), 0x40 | (func & 0x3f));
        EXPECT_EQ(my_privilege_name(positions[func], "mapper"), 0x40 | (func & 0x3f)) << "function " << func;
        EXPECT_EQ(my_func_privilege_name(func, "mapper"), 0x40 | (func & 0x3f));
    }
    // Positions no function reaches keep their byte.
    for (int pos = 0; pos < PRIV_POSITIONS; ++pos) {
        if (std::find(positions.begin(), positions.end(), pos) == positions.end()) {
            EXPECT_EQ(my_privilege_name(pos, "mapper"), 0) << "position " << pos;
        }
    }
}

TEST(Privilege, LookupsRefuseWhatTheyCannotFind) {
    Sandbox box;  // boots with admin (all 3) and viewer (function 5 set to 1)
    const std::string long_name(200, 'a');
    for (auto [func, user, value] : {std::tuple{5, "admin", 3}, {5, "viewer", 1}, {6, "viewer", 0}, {5, "Admin", 0}, {5, "admi", 0},
                                     {5, "admin ", 0}, {5, "", 0}, {238, "admin", 0}, {-1, "admin", 0}, {5, long_name.c_str(), 0}})
        EXPECT_EQ(my_func_privilege_name(func, user), value) << func << " " << user;
    EXPECT_EQ(my_privilege_name(299, "admin"), 3);
    EXPECT_EQ(my_privilege_name(300, "admin") + my_privilege_name(-1, "admin") + my_func_privilege_name(5, nullptr), 0);
    EXPECT_EQ(my_func_privilege_set(5, "nobody", 3) + my_func_privilege_set(238, "admin", 1) + my_privilege_set(300, "admin", 1), 0);
    EXPECT_EQ(my_privilege_set(10, "admin", 0x1ff), 0xff);  // one byte is stored
    EXPECT_EQ(my_privilege_name(10, "admin"), 0xff);
    EXPECT_EQ(my_privilege_set(10, nullptr, 1), 0);
}

TEST(Privilege, LoadSortsTheImageAndReplacesTheTable) {
    Sandbox box;
    static privilege_image image{};
    std::vector<std::string> users;
    for (int i = 0; i < PRIV_MAX_USERS; ++i) users.push_back("user" + std::to_string(i * 37 % 101));
    users[7] = "Zed";  // upper case sorts before lower case, byte by byte
    users[8] = "\xc3\xa9lise";
    std::vector<std::string> shuffled = users;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(42));
    image.count = PRIV_MAX_USERS;
    for (int i = 0; i < PRIV_MAX_USERS; ++i)
        image.records[i] = record(shuffled[i], static_cast<unsigned char>(i + 1));
    ASSERT_EQ(my_privilege_load(&image), 0);

    for (int i = 1; i < PRIV_MAX_USERS; ++i)
        EXPECT_LT(strcmp(image.records[i - 1].user, image.records[i].user), 0) << "the caller's image is sorted";
    for (int i = 0; i < PRIV_MAX_USERS; ++i)
        EXPECT_EQ(my_privilege_name(0, shuffled[i].c_str()), i + 1) << shuffled[i];
    EXPECT_EQ(my_func_privilege_name(5, "admin"), 0) << "the boot's users are gone";

    // The segment's own layout: count at 24, records of 385 bytes from 28.
    int id = shmget(platform::ipc_key(kPrivilegeKey), kSegmentSize, 0);
    ASSERT_GE(id, 0);
    auto *raw = static_cast<unsigned char *>(shmat(id, nullptr, SHM_RDONLY));
    ASSERT_NE(raw, reinterpret_cast<unsigned char *>(-1));
    int32_t count;
    memcpy(&count, raw + 24, sizeof count);
    EXPECT_EQ(count, PRIV_MAX_USERS);
    EXPECT_STREQ(reinterpret_cast<char *>(raw + 28), "Zed");
    EXPECT_STREQ(reinterpret_cast<char *>(raw + 28 + 385), "user0");
    EXPECT_EQ(raw[28 + 385 + 85 + 299], std::find(shuffled.begin(), shuffled.end(), "user0") - shuffled.begin() + 1);
    shmdt(raw);

    image.count = 0;
    ASSERT_EQ(my_privilege_load(&image), 0);
    EXPECT_EQ(my_privilege_name(0, "Zed"), 0);

    for (int count : {PRIV_MAX_USERS + 1, -1}) EXPECT_EQ((image.count = count, my_privilege_load(&image)), -1);
    EXPECT_EQ(testing_support::captured_stdout(my_setcookie), "");  // the cookie hook does nothing
}

TEST(Privilege, AnUnattachableSegmentAllowsNothing) {
    testing_support::TempRoot root;

    // Something else holds the key with a smaller segment.
    int id = shmget(platform::ipc_key(kPrivilegeKey), 100, IPC_CREAT | 0600);
    ASSERT_GE(id, 0);
    static privilege_image image{};
    image.count = 1;
    image.records[0] = record("admin", 3);
    EXPECT_EQ(my_privilege_load(&image), -1);
    EXPECT_EQ(my_func_privilege_name(5, "admin"), 0);
    EXPECT_EQ(my_privilege_set(5, "admin", 3), 0);

    EXPECT_EQ(platform::remove_sandbox_ipc(root.root()), 1);
}
}  // namespace privilege_tests
