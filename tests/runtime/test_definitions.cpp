#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/shared_segment.h"
#include "support/temp_root.h"
#include "webadmin.h"

namespace {

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
    load(root,
         definitions_file("Demo", "WA1000", 3,
                          "HAVE_A = \"y\"\nHAVE_B = \"Yes\"\nHAVE_C = \"1\"\nHAVE_D = \"no\"\nHAVE_E = \"\"\n"
                          "PORTS = \"6\"\nWORD = \"abc\"\nBIG = \"4000000000\"\nDUP = \"first\"\nDUP = \"second\"\n"
                          "#HAVE_COMMENT = \"y\"\n HAVE_INDENT = \"y\"\n\tHAVE_TAB = \"y\"\nTWO tokens\n"
                          "BROKEN = \"open\nBARE = y\n" +
                              long_name + " = \"" + long_value + "\"\n"));
    for (const char *yes : {"HAVE_A", "HAVE_B", "BARE"}) EXPECT_EQ(IF_DEFINE(yes), 1) << yes;
    // Names are case-sensitive.
    for (const char *no : {"HAVE_C", "HAVE_D", "HAVE_E", "HAVE_MISSING", "have_a", static_cast<const char *>(nullptr)})
        EXPECT_EQ(IF_DEFINE(no), 0) << (no ? no : "null");
    EXPECT_EQ(RETURN_DEF_INT("PORTS"), 6);
    EXPECT_EQ(RETURN_DEF_INT("WORD"), 0);
    EXPECT_EQ(RETURN_DEF_INT("ABSENT"), 0);
    EXPECT_EQ(RETURN_DEF_UINT("BIG"), 4000000000u);
    EXPECT_EQ(RETURN_DEF_UINT("ABSENT"), 0u);
    EXPECT_STREQ(RETURN_DEF_STR("SYSTEM_MODEL"), "WA1000");

    // The value is the segment's own text, and the first of two wins.
    const char *dup = RETURN_DEF_STR("DUP");
    ASSERT_NE(dup, nullptr);
    EXPECT_STREQ(dup, "first");
    const char *base = static_cast<const char *>(get_define_segment());
    EXPECT_GE(dup, base + 68);
    EXPECT_LT(dup, base + 25668);

    // Indented, commented, two-token and unclosed lines define nothing.
    for (const char *none : {"ABSENT", "HAVE_INDENT", "HAVE_TAB", "#HAVE_COMMENT", "TWO", "BROKEN"})
        EXPECT_EQ(RETURN_DEF_STR(none), nullptr) << none;

    // Names are cut to 31 and values to 63 characters.
    EXPECT_EQ(RETURN_DEF_STR(long_name.c_str()), nullptr);
    const char *cut = RETURN_DEF_STR(long_name.substr(0, 31).c_str());
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut, long_value.substr(0, 63));
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

    // The product key needs the version, brand and model in the first ten
    // lines; later they are still definitions.
    load(root, "# 1\n# 2\n# 3\n# 4\n# 5\n# 6\n# 7\n# 8\nSYSTEM_BRAND = \"Demo\"\nSYSTEM_MODEL = \"M\"\n#& 7\n");
    EXPECT_EQ(raw().version(), 0u);
    EXPECT_EQ(raw().product_key(), "");
    EXPECT_STREQ(RETURN_DEF_STR("SYSTEM_MODEL"), "M");
    load(root, definitions_file("Demo", "M", 0, ""));
    EXPECT_EQ(raw().version(), 0u);
    EXPECT_EQ(raw().product_key(), "");
    load(root, "#& 5\nSYSTEM_BRAND = \"Demo\"\n");
    EXPECT_EQ(raw().version(), 5u);
    EXPECT_EQ(raw().product_key(), "");
    load(root, definitions_file(std::string(40, 'B'), std::string(40, 'M'), 2, ""));
    EXPECT_EQ(raw().version(), 2u);
    EXPECT_EQ(raw().product_key(), std::string(31, 'B'));
    EXPECT_EQ(raw().name(0), "SYSTEM_BRAND");
    EXPECT_EQ(raw().value(0), std::string(40, 'B'));
}

TEST(Definitions, FactoryFileReplacesAnOlderOrForeignWorkingFile) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    const std::string factory = definitions_file("Demo", "WA1000", 4, "FROM = \"factory\"\n");
    root.write(kFactory, factory);

    // Same product, older working file: replaced.
    load(root, definitions_file("Demo", "WA1000", 3, "FROM = \"working\"\n"));
    EXPECT_STREQ(RETURN_DEF_STR("FROM"), "factory");
    EXPECT_EQ(root.read(kWorking), factory);
    EXPECT_EQ(raw().version(), 4u);
    // Another product, even with a newer version: replaced.
    load(root, definitions_file("Demo", "WA2000", 9, "FROM = \"working\"\n"));
    EXPECT_STREQ(RETURN_DEF_STR("FROM"), "factory");
    EXPECT_EQ(raw().product_key(), "Demo_WA1000");
    // Same product and version, or newer: the working file stays.
    const std::string same = definitions_file("Demo", "WA1000", 4, "FROM = \"working\"\n");
    load(root, same);
    EXPECT_STREQ(RETURN_DEF_STR("FROM"), "working");
    EXPECT_EQ(root.read(kWorking), same);
    load(root, definitions_file("Demo", "WA1000", 5, "FROM = \"newer\"\n"));
    EXPECT_STREQ(RETURN_DEF_STR("FROM"), "newer");
    EXPECT_EQ(raw().version(), 5u);

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
    EXPECT_EQ(SET_DEFINE(nullptr, "1"), -1);
    EXPECT_EQ(SET_DEFINE("MID", nullptr), -1);

    EXPECT_EQ(ADD_DEFINE("AAA", "first in order"), 0);
    EXPECT_EQ(raw().count(), loaded + 1);
    EXPECT_EQ(raw().name(0), "AAA");
    expect_consistent(raw());
    EXPECT_EQ(ADD_DEFINE("AAA", "again"), 0);
    EXPECT_EQ(raw().count(), loaded + 1);
    EXPECT_STREQ(RETURN_DEF_STR("AAA"), "again");
    const std::string long_name(45, 'L');
    EXPECT_EQ(ADD_DEFINE(long_name.c_str(), "1"), 0);
    EXPECT_EQ(ADD_DEFINE(long_name.c_str(), "2"), 0);
    EXPECT_EQ(raw().count(), loaded + 2);
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
    EXPECT_EQ(DEL_DEFINE(nullptr), -1);
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

    // Quotes and backslashes survive the round trip.
    ASSERT_EQ(save_configuration("QUOTED", "say \"hi\" \\o/"), 0);
    EXPECT_STREQ(RETURN_DEF_STR("QUOTED"), "say \"hi\" \\o/");

    // Texts that would break the file are refused and change nothing.
    before = root.read(kWorking);
    EXPECT_EQ(save_configuration("EVIL", "x\"\nHAVE_HARDDISK = \"y"), -1);
    for (const char *name : {"TWO WORDS", "#COMMENT", "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(save_configuration(name, "x"), -1) << (name ? name : "null");
    EXPECT_EQ(save_configuration("NAME", nullptr), -1);
    EXPECT_EQ(root.read(kWorking), before);
    EXPECT_EQ(IF_DEFINE("HAVE_HARDDISK"), 0);
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
    EXPECT_EQ(IF_DEFINE("HAVE_CMS"), 0);
    EXPECT_EQ(RETURN_DEF_STR("HAVE_CMS"), nullptr);
    EXPECT_EQ(RETURN_DEF_INT("HAVE_CMS"), 0);
    EXPECT_EQ(RETURN_DEF_UINT("HAVE_CMS"), 0u);
    EXPECT_EQ(SET_DEFINE("HAVE_CMS", "n"), -1);
    EXPECT_EQ(ADD_DEFINE("NEW", "n"), -1);
    EXPECT_EQ(DEL_DEFINE("HAVE_CMS"), -1);
    EXPECT_EQ(save_configuration("HAVE_CMS", "n"), -1);

    ASSERT_EQ(shmctl(blocker, IPC_RMID, nullptr), 0);
    EXPECT_NE(init_configuration(), 0);
    EXPECT_EQ(IF_DEFINE("HAVE_CMS"), 1);
}

}  // namespace
