// What the appliance shares between processes: product definitions, system
// information, language tables and the privilege table.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/shared_segment.h"
#include "support/request.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using namespace std::string_literals;
using testing_support::TempRoot;
using S = std::string;
using V = std::vector<S>;
using Results = std::vector<int>;  // calls in a braced list run in order

constexpr key_t kDefineKey = 0x20071108;
constexpr const char *kFactory = "/etc/.config", *kWorking = "/etc/sysconfig/.firewall/.config";

S definitions_file(const S &brand, const S &model, int version, const S &body) {
    return "# Product definitions\n#& " + std::to_string(version) + "\nSYSTEM_BRAND = \"" + brand +
           "\"\nSYSTEM_MODEL = \"" + model + "\"\n" + body;
}

// The exit status of body run in another process.
int in_child(const std::function<void()> &body) { return testing_support::in_child(body).status; }

S def(const char *name) {
    const char *value = RETURN_DEF_STR(name);
    return value ? value : "<null>";
}

// The segment as every process sees it: "VERSION PRODUCT_KEY:", " name=value" of each entry of 100 bytes from 68
// (each index checked to be its position, the fill to be the count), then the name past them in brackets.
S segment() {
    const char *base = static_cast<const char *>(get_define_segment());
    auto integer = [&](size_t at) { return *reinterpret_cast<const int32_t *>(base + at); };
    S all = std::to_string(integer(28)) + " " + (base + 32) + ":";
    for (int i = 0; i < integer(24); ++i) {
        EXPECT_EQ(integer(68 + 100 * static_cast<size_t>(i)), i);
        all += " "s + (base + 72 + 100 * i) + "=" + (base + 104 + 100 * i);
    }
    EXPECT_EQ(integer(64), integer(24));
    return all + " [" + (integer(24) < 256 ? base + 72 + 100 * integer(24) : "") + "]";
}

// Makes text the working file and loads it.
void load(const TempRoot &root, const S &text) {
    root.write(kWorking, text);
    ASSERT_NE(init_configuration(), 0);
}

// Definition lines: unindented NAME = "VALUE", names cut to 31 and values to 63 characters; "y" and "Yes" are set.
// The segment is sorted byte by byte, equal names in the order of the file.
TEST(Definitions, LookupsAndEditsOfTheSortedSegment) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    const S long_name(40, 'N'), long_value(80, 'v');
    load(root, definitions_file("Demo", "WA1000", 3,
                                "HAVE_A = \"y\"\nHAVE_B = \"Yes\"\nHAVE_C = \"1\"\nHAVE_D = \"no\"\nPORTS = \"6\"\n"
                                "BIG = \"4000000000\"\nDUP = \"first\"\nDUP = \"second\"\n#HAVE_COMMENT = \"y\"\n"
                                " HAVE_INDENT = \"y\"\n\tHAVE_TAB = \"y\"\nTWO tokens\nBROKEN = \"open\nBARE = y\n"
                                "_LOW = \"u\"\n" + long_name + " = \"" + long_value + "\"\n"));
    for (auto [name, yes] : {std::pair{"HAVE_A", 1}, {"HAVE_B", 1}, {"BARE", 1}, {"HAVE_C", 0}, {"HAVE_D", 0},
                             {"have_a", 0}, {"NONE", 0}, {"HAVE_INDENT", 0}})
        EXPECT_EQ(IF_DEFINE(name), yes) << name;
    EXPECT_EQ(RETURN_DEF_INT("PORTS") * 10 + RETURN_DEF_INT("HAVE_A"), 60);
    EXPECT_EQ(RETURN_DEF_UINT("BIG") + RETURN_DEF_UINT("ABSENT"), 4000000000u);
    const char *dup = RETURN_DEF_STR("DUP"), *base = static_cast<const char *>(get_define_segment());
    EXPECT_STREQ(dup, "first");  // the segment's own text, the first of two
    EXPECT_TRUE(dup >= base + 68 && dup < base + 25668);
    EXPECT_EQ(RETURN_DEF_STR(long_name.c_str()), nullptr);  // looked up cut, a long name is not the cut one
    EXPECT_EQ(segment(), "3 Demo_WA1000: BARE=y BIG=4000000000 DUP=first DUP=second HAVE_A=y HAVE_B=Yes HAVE_C=1 "
                         "HAVE_D=no " + long_name.substr(0, 31) + "=" + long_value.substr(0, 63) +
                         " PORTS=6 SYSTEM_BRAND=Demo SYSTEM_MODEL=WA1000 _LOW=u []");
    // The product key needs the version, brand and model in the first ten lines; it is cut to 31 characters.
    const S brand(40, 'B'), model(40, 'M');
    for (auto [text, loaded] : {std::pair<S, S>{"#\n#\n#\n#\n#\n#\n#\n#\n"
                                                "SYSTEM_BRAND = \"Demo\"\nSYSTEM_MODEL = \"M\"\n#& 7\n",
                                                "0 : SYSTEM_BRAND=Demo SYSTEM_MODEL=M []"},
                                {"#& 5\nSYSTEM_BRAND = \"Demo\"\n", "5 : SYSTEM_BRAND=Demo []"},
                                {definitions_file(brand, model, 2, ""),
                                 "2 " + S(31, 'B') + ": SYSTEM_BRAND=" + brand + " SYSTEM_MODEL=" + model + " []"}}) {
        load(root, text);
        EXPECT_EQ(segment(), loaded);
    }

    // SET changes an entry, ADD adds one in order (or changes it), DEL removes the first: the segment only, 256 at
    // most.
    const S file = definitions_file("Demo", "WA1000", 3, "DUP = \"first\"\nDUP = \"second\"\nMID = \"m\"\n");
    load(root, file);
    EXPECT_EQ((Results{SET_DEFINE("MID", S(70, 'x').c_str()), ADD_DEFINE("AAA", "first"), ADD_DEFINE("AAA", "again"),
                       ADD_DEFINE(long_name.c_str(), "1"), ADD_DEFINE(long_name.c_str(), "2"), DEL_DEFINE("DUP")}),
              Results(6));
    EXPECT_EQ(segment(), "3 Demo_WA1000: AAA=again DUP=second MID=" + S(63, 'x') + " " + long_name.substr(0, 31) +
                             "=2 SYSTEM_BRAND=Demo SYSTEM_MODEL=WA1000 []");
    EXPECT_EQ((Results{DEL_DEFINE("DUP"), SET_DEFINE("NOPE", "1"), ADD_DEFINE(nullptr, "1"), DEL_DEFINE("DUP"),
                       SET_DEFINE("MID", nullptr)}), (Results{0, -1, -1, -1, -1}));
    EXPECT_EQ(def("DUP") + root.read(kWorking), "<null>" + file);

    S body, entries;  // the first 256 names in order
    for (int i = 299; i >= 0; --i) body += "D" + std::to_string(1000 + i).substr(1) + " = \"x\"\n";
    for (int i = 0; i < 256; ++i) entries += " D" + std::to_string(1000 + i).substr(1) + "=x";
    load(root, body);
    EXPECT_EQ(segment(), "0 :" + entries + " []");
    EXPECT_EQ((Results{ADD_DEFINE("NEW", "v"), ADD_DEFINE("D001", "changed"), DEL_DEFINE("D000"),
                       ADD_DEFINE("NEW", "v")}), (Results{-1, 0, 0, 0}));
    EXPECT_EQ(segment(), "0 : D001=changed" + entries.substr(14) + " NEW=v []");
}

// A newer factory file, or another product's, replaces the working file at load and before a save.
TEST(Definitions, WorkingFileIsReplacedByTheFactoryFileOrRewrittenByASave) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    const S factory = definitions_file("Demo", "WA1000", 4, "FROM = \"factory\"\n");
    root.write(kFactory, factory);
    for (auto [model, version, from] : {std::tuple{"WA1000", 3, "factory"}, {"WA2000", 9, "factory"},
                                        {"WA1000", 4, "working"}, {"WA1000", 5, "working"}}) {
        const S working = definitions_file("Demo", model, version, "FROM = \"working\"\n");
        load(root, working);
        EXPECT_EQ(root.read(kWorking) + def("FROM") + segment()[0],
                  from == "factory"s ? factory + "factory4" : working + "working" + std::to_string(version));
    }
    root.write(kWorking, definitions_file("Demo", "WA1000", 3, "FROM = \"working\"\n"));
    ASSERT_EQ(save_configuration("FROM", "saved"), 0);
    EXPECT_EQ(root.read(kWorking), definitions_file("Demo", "WA1000", 4, "FROM = \"saved\"\n"));
    root.remove(kWorking);  // no working file: the factory file becomes it
    ASSERT_NE(init_configuration(), 0);
    EXPECT_EQ(root.read(kWorking), factory);
    root.remove(kFactory);  // no factory file: whatever the working file holds is loaded
    load(root, definitions_file("Other", "X", 1, "FROM = \"alone\"\n"));
    EXPECT_EQ(def("FROM"), "alone");
    root.remove(kWorking);  // neither file: the segment is cleared
    ASSERT_NE(init_configuration(), 0);
    EXPECT_EQ(segment().substr(0, 2) + segment().substr(segment().find(':')) + def("FROM"), "0 : []<null>");

    // Saving rewrites every unindented line of the name, or appends one under a dated comment, and reloads.
    const S long_comment = "#" + S(5000, 'c') + "\n", head = definitions_file("Demo", "WA1000", 3, "");
    root.write(kWorking,
               head + "DUP = \"first\"\nDUPLICATE = \"keep\"\n" + long_comment + "DUP = \"second\"\n DUP = \"x\"\n");
    ASSERT_EQ(save_configuration("DUP", "new"), 0);
    EXPECT_EQ(root.read(kWorking) + def("DUP") + std::to_string(root.exists(S(kWorking) + ".new")),
              head + "DUP = \"new\"\nDUPLICATE = \"keep\"\n" + long_comment + "DUP = \"new\"\n DUP = \"x\"\nnew0");
    S before = root.read(kWorking);
    ASSERT_EQ(save_configuration("FRESH", "say \"hi\" \\o/"), 0);  // quotes and backslashes survive
    const S appended = root.read(kWorking).substr(before.size()), stamp = appended.substr(15, 24);  // ctime's
    EXPECT_TRUE(testing_support::matches(stamp, "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] [0-2][0-9](:[0-5][0-9]){2} "
                                                "[12][0-9]{3}")) << stamp;
    EXPECT_EQ(appended + def("FRESH"), "\n#New append - " + stamp + "\nFRESH = \"say \\\"hi\\\" \\\\o/\"\n" +
                                           "say \"hi\" \\o/");
    // Texts that would break the file are refused and change nothing.
    before = root.read(kWorking);
    for (auto [name, value] : {std::pair{"EVIL", "x\"\nHAVE_HARDDISK = \"y"}, {"CR", "x\r"}, {"TWO WORDS", "x"},
                               {"TAB\tX", "x"}, {"Q\"", "x"}, {"B\\", "x"}, {"#COMMENT", "x"}, {"", "x"}})
        EXPECT_EQ(save_configuration(name, value), -1) << name;
    EXPECT_EQ(save_configuration(nullptr, "x") + save_configuration("X", nullptr), -2);
    EXPECT_EQ(root.read(kWorking), before);
    root.remove(kWorking);
    EXPECT_EQ(save_configuration("DUP", "x"), -1);
}

// Another process's load is seen here; the lock holds the area's first word while held.
TEST(Definitions, ProcessesShareTheSegmentAndItsLock) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    root.write(kWorking, definitions_file("Demo", "WA1000", 3, "HAVE_WIRELESS = \"y\"\n"));
    EXPECT_EQ(in_child([] { _exit(init_configuration() ? 0 : 1); }), 0);
    EXPECT_EQ(IF_DEFINE("HAVE_WIRELESS"), 1);
    void *seg = runtime::attach_segment(kDefineKey, 25668);
    auto first_word = [&] { return *static_cast<const int *>(seg); };
    auto lock = std::make_unique<runtime::SegmentLock>(seg);
    EXPECT_TRUE(runtime::attach_segment(kDefineKey, 25668) == seg && first_word() != 0);  // attached once
    lock.reset();
    EXPECT_EQ(first_word(), 0);

    // Writers adding and deleting at once all end with what they added, in a sorted segment.
    constexpr int kWriters = 4, kEach = 50, kRounds = 6;
    auto name_of = [](int w, int i) { return "W" + std::to_string(w) + "_" + std::to_string(i); };
    auto count = [] { return *reinterpret_cast<const int32_t *>(static_cast<const char *>(get_define_segment()) + 24); };
    const int loaded = count();
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w)
        if (pid_t pid = fork(); pid == 0) {
            close(start[1]);
            for (char byte; read(start[0], &byte, 1) > 0;) {
            }  // the closed pipe starts them all at once
            int failed = 0;
            for (int round = 0; round < kRounds; ++round)
                for (int i = 0; i < 2 * kEach - (round + 1 == kRounds) * kEach; ++i)
                    failed += (i < kEach ? ADD_DEFINE(name_of(w, i).c_str(), std::to_string(round * 1000 + i).c_str())
                                         : DEL_DEFINE(name_of(w, i - kEach).c_str())) != 0;
            _exit(failed ? 1 : 0);
        } else {
            writers.push_back(pid);
        }
    close(start[0]), close(start[1]);
    for (pid_t pid : writers) {
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_EQ(status, 0);
    }
    segment();  // every entry at its index, the fill at the count
    const char *base = static_cast<const char *>(get_define_segment());
    for (int i = 1; i < count(); ++i) EXPECT_LE(strcmp(base + 72 + 100 * (i - 1), base + 72 + 100 * i), 0) << i;
    EXPECT_EQ(count(), loaded + kWriters * kEach);
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kEach; ++i) EXPECT_EQ(RETURN_DEF_INT(name_of(w, i).c_str()), (kRounds - 1) * 1000 + i);

    // A segment of the wrong size under the key: nothing attaches, every call answers absent, until it is gone.
    TempRoot other({"/etc/sysconfig/.firewall"});
    other.write(kWorking, definitions_file("Demo", "WA1000", 3, "HAVE_CMS = \"y\"\n"));
    int blocker = shmget(platform::ipc_key(kDefineKey), 64, IPC_CREAT | 0777);
    ASSERT_GE(blocker, 0);
    EXPECT_EQ(get_define_segment(), nullptr);
    EXPECT_EQ(init_configuration() + IF_DEFINE("HAVE_CMS") + RETURN_DEF_INT("HAVE_CMS") + RETURN_DEF_UINT("HAVE_CMS"),
              0u);
    EXPECT_EQ(def("HAVE_CMS") + std::to_string(SET_DEFINE("HAVE_CMS", "n") + ADD_DEFINE("NEW", "n") +
                                               DEL_DEFINE("HAVE_CMS") + save_configuration("HAVE_CMS", "n")),
              "<null>-4");
    ASSERT_EQ(shmctl(blocker, IPC_RMID, nullptr), 0);
    EXPECT_TRUE(init_configuration() != 0 && IF_DEFINE("HAVE_CMS") == 1);
}

system_info_record info(const char *product_id) {
    system_info_record r{"Demo", "WA1000", "2", "1", "5", {}};
    std::snprintf(r.product_id, sizeof r.product_id, "%s", product_id);
    return r;
}

S bytes(const system_info_record &r) { return S(reinterpret_cast<const char *>(&r), sizeof r); }

// A column table: the column of the id in the first header that has it, every row after it, cut to the row size.
TEST(SystemInfo, ColumnTablesRecordThemeAndCapacities) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    root.write("/etc/table", "# a comment\nROW_BEFORE before header\n& 10 20\nROW_X x1 x2\n& 30 0x2a0 1f\n"
                             "ROW_0 a0 b0 c0\n\n# between rows\nROW_1 a1 b1\n1ROW digit first\n ROW indented\n"
                             "& 2a0 99\nrow_2 a2 b2 c2\nROW_3 \"a 3\" \"b 3\" \"c 3 is a long text\"\n"
                             "ROW_4 a4 b4 c4\n");
    // The count, then ten rows of 8 bytes filled with 'X' first, NULs shown as '.': a row's last byte is never written.
    auto column = [](const char *path, int max_rows, int id) {
        char rows[10 * 8];
        std::fill(rows, rows + sizeof rows, 'X');
        S all = std::to_string(read_parameter(path, rows, max_rows, 8, id)) + " ";
        all += S(rows, sizeof rows);
        std::replace(all.begin(), all.end(), '\0', '.');
        return all;
    };
    EXPECT_EQ(column("/etc/table", 10, 0x2a0), "5 b0.....Xb1.....Xb2.....Xb 3....Xb4.....X" + S(40, 'X'));
    EXPECT_EQ(column("/etc/table", 10, 0x1f), "4 c0.....Xc2.....Xc 3 is Xc4.....X" + S(48, 'X'));
    EXPECT_EQ(column("/etc/table", 10, 0x10), "6 x1.....Xa0.....Xa1.....Xa2.....Xa 3....Xa4.....X" + S(32, 'X'));
    EXPECT_EQ(column("/etc/table", 2, 0x2a0), "2 b0.....Xb1.....X" + S(64, 'X'));
    for (auto [path, max_rows, id] :
         {std::tuple{"/etc/table", 10, 0x77}, {"/etc/absent", 10, 0x10}, {"/etc/table", 0, 0x10}})
        EXPECT_EQ(column(path, max_rows, id), "0 " + S(80, 'X')) << path << " " << max_rows << " " << id;

    // The 76-byte record, then the theme (the id's upper digits) and the capacities (its lower digits).
    root.write("/etc/html.info", "& 101000 202000\nROW_0 #f4f6f8 #ffffff\nROW_1 3 2\n");
    root.write("/etc/entry.info", "& 3 4\nCAP_0 16 32\nCAP_1 48 96\n");
    auto loaded = [&](const S &file) {
        root.write("/etc/system.info", file);
        char buf[80];
        std::memset(buf, 'Z', sizeof buf);
        int result = my_systemInfo(buf);
        return std::to_string(result) + " " + html_fmt[0] + " " + html_fmt[1] + " " + entry_num[0] + " " +
               entry_num[1] + (result == 0 ? " " + S(buf, 77) : "");
    };
    EXPECT_EQ(loaded(bytes(info("101003")) + "trailing bytes"), "0 #f4f6f8 3 16 48 " + bytes(info("101003")) + "Z");
    EXPECT_EQ(loaded(bytes(info("202004"))), "0 #ffffff 2 32 96 " + bytes(info("202004")) + "Z");
    // No capacity column: failure, the theme loaded all the same; no theme column, or a short file: nothing more read.
    for (const S &file : {bytes(info("101005")), bytes(info("303003")), bytes(info("202004")).substr(0, 75)})
        EXPECT_EQ(loaded(file), "-1 #f4f6f8 3 32 96");
    // Unterminated fields are cut at their last byte.
    S raw(76, 'A');
    std::memcpy(&raw[50], "101003\0", 7);
    EXPECT_EQ(loaded(raw), "0 #f4f6f8 3 16 48 " + S(20, 'A') + '\0' + S(19, 'A') + '\0' + "AA\0AA\0AA\0" "101003\0"s +
                               S(18, 'A') + "\0Z"s);
    const char *path = "/etc/sysconfig/.firewall/system.info";
    root.write(path, S(200, 'x'));
    system_info_record r = info("101003");
    EXPECT_EQ(write_systemInfo(reinterpret_cast<const char *>(&r)), 0);
    EXPECT_EQ(root.read(path), bytes(r));
    std::filesystem::remove_all(root.file("/etc/sysconfig"));
    EXPECT_EQ(write_systemInfo(reinterpret_cast<const char *>(&r)), -1);
}

// 160 integers then 80 texts of 256 bytes in a segment every process shares; null outside it or when unattachable.
TEST(SystemInfo, BlockIntegersAndStrings) {
    TempRoot root({"/etc/sysconfig/.firewall"});
    // Another program publishes before this process has attached.
    EXPECT_EQ(in_child([] { _exit(WS(16, "Demo WA1000") && WI(105, 45) ? 0 : 1); }), 0);
    EXPECT_EQ(S(RS(16)) + std::to_string(*RI(105)) + std::to_string(*RI(104)), "Demo WA1000450");
    EXPECT_TRUE(WI(159, 7) == RI(159) && reinterpret_cast<char *>(RI(159)) + 4 == RS(0));
    EXPECT_TRUE(WS(13, S(300, 'x').c_str()) == RS(13) && RS(14) - RS(13) == 256);
    EXPECT_EQ(S(RS(13)), S(255, 'x'));
    RS(13)[255] = '!';
    WS(13, "eng");  // a shorter text clears the rest of the first 255 bytes only
    EXPECT_EQ(S(RS(13), 256), "eng" + S(252, '\0') + "!");
    WS(13, nullptr);
    EXPECT_STREQ(RS(13), "");
    EXPECT_EQ((std::vector<void *>{RI(-1), RI(160), WI(160, 1), RS(80), RS(-1), WS(80, "x")}), std::vector<void *>(6));

    TempRoot other({"/etc/sysconfig/.firewall"});
    int blocker = shmget(platform::ipc_key(0x20070413), 64, IPC_CREAT | 0777);
    ASSERT_GE(blocker, 0);
    EXPECT_EQ((std::vector<void *>{RI(105), WI(105, 1), RS(13), WS(13, "eng")}), std::vector<void *>(4));
    ASSERT_EQ(shmctl(blocker, IPC_RMID, nullptr), 0);
    EXPECT_NE(WS(13, "eng"), nullptr);
}

// Every entry of that name in a table, as "value" texts joined.
S values_of(q_entry *table, const char *name) {
    S all;
    for (q_entry *e = table; e; e = e->next)
        if (!std::strcmp(e->name, name)) all += S(e->value) + ";";
    return all;
}

// The common texts then the group's into the default table, keys "${NAME}"; unknown keys come back as passed.
TEST(Language, LoadsTextsIntoTheDefaultOrTheCallersTableAndDataFilesIntoRows) {
    TempRoot root;
    root.write("/etc/language/eng/common",
               "# Texts of every page\nCOMMON_APPLY_STR \"Apply\"\nSHARED \"from common\"\nPERCENT \"50%%\"\n"
               "FORMAT \"%d %s %n %\"\nNAME_ONLY\n#COMMENTED \"no\"\n\"QUOTED NAME\" \"text\"\n"
               "EXTRA \"one\" \"two\"\nESCAPED \"say \\\"hi\\\"\"\nBROKEN \"not closed\n");
    root.write("/etc/language/eng/upgrade", "SHARED \"from upgrade\"\nREBOOT_SECONDS_STR \"seconds\"\n");
    q_entry *head = load_my_language("eng", "upgrade", nullptr), *shared = nullptr, *none = nullptr;
    ASSERT_TRUE(head && icons_path == S("../icons_eng/")) << icons_path;
    for (auto [key, text] : {std::pair{"${COMMON_APPLY_STR}", "Apply"}, {"${SHARED}", "from upgrade"},
                             {"${REBOOT_SECONDS_STR}", "seconds"}, {"${PERCENT}", "50%"}, {"${FORMAT}", "%d %s %n %"},
                             {"${QUOTED NAME}", "text"}, {"${EXTRA}", "one"}, {"${ESCAPED}", "say \"hi\""}})
        EXPECT_STREQ(Name2Str(nullptr, key), text) << key;
    EXPECT_EQ(values_of(head, "${SHARED}"), "from upgrade;");
    for (const char *key : {"${NAME_ONLY}", "${#COMMENTED}", "${COMMENTED}", "${BROKEN}", "${shared}", "SHARED"})
        EXPECT_EQ(Name2Str(nullptr, key), key) << key;
    EXPECT_EQ(Name2Str(nullptr, nullptr), nullptr);
    // An empty caller table shares the default one; a reload replaces texts in place; a missing file changes nothing.
    EXPECT_TRUE(load_my_language("eng", "upgrade", &shared) == head && shared == head);
    EXPECT_STREQ(Name2Str(&none, "${SHARED}"), "from upgrade");
    root.write("/etc/language/eng/upgrade", "SHARED \"again\"\n");
    EXPECT_TRUE(load_my_language("eng", "upgrade", nullptr) == head &&
                load_my_language("xx", "upgrade", nullptr) == head);
    EXPECT_EQ(values_of(head, "${SHARED}") + Name2Str(nullptr, "${REBOOT_SECONDS_STR}") + icons_path,
              "again;seconds../icons_xx/");
    // Only the first 511 characters of a key take part in the lookup.
    root.write("/etc/language/eng/long", S(508, 'K') + " \"found\"\n");
    load_static_language("eng", "long", nullptr);
    EXPECT_STREQ(Name2Str(nullptr, ("${" + S(508, 'K') + "}tail that is cut off").c_str()), "found");
    EXPECT_TRUE(!load_my_language(nullptr, "upgrade", nullptr) && !load_my_language("eng", nullptr, nullptr));

    // A caller's own table takes both files and leaves the default alone; the static loader reads the group only.
    root.write("/etc/language/ch/common", "SHARED \"common ch\"\nONLY_COMMON \"c\"\n");
    root.write("/etc/language/ch/upgrade", "SHARED \"upgrade ch\"\n");
    root.write("/etc/language/abcdefghi/upgrade", "CUT \"yes\"\n");
    root.write("/etc/common", "LEAK \"outside\"\n");
    root.write("/etc/language/common", "LEAK \"outside\"\n");
    q_entry *own = qSedArgAdd(nullptr, "${OWN}", "%s", "mine"), *page = nullptr, *outside = nullptr;
    const char *before = Name2Str(nullptr, "${SHARED}");
    EXPECT_EQ(load_my_language("ch", "upgrade", &own), own);
    EXPECT_EQ(values_of(own, "${OWN}") + values_of(own, "${SHARED}") + values_of(own, "${ONLY_COMMON}") + icons_path,
              "mine;upgrade ch;c;../icons_ch/");
    EXPECT_TRUE(Name2Str(nullptr, "${SHARED}") == before && load_static_language("ch", "upgrade", &page) == page);
    EXPECT_EQ(values_of(page, "${SHARED}") + values_of(page, "${ONLY_COMMON}"), "upgrade ch;");
    EXPECT_EQ(load_static_language(nullptr, "upgrade", &page), nullptr);
    // A code or group that leads out of the language directory loads nothing; codes are cut to nine characters.
    for (auto [code, group] : {std::pair{"..", "common"}, {"ch", "../common"}, {".", "common"}, {"ch", ".."}})
        EXPECT_EQ(load_static_language(code, group, &outside), nullptr) << code << " " << group;
    load_my_language("abcdefghijklmnop", "upgrade", &own);
    EXPECT_EQ(values_of(own, "${CUT}") + icons_path, "yes;../icons_abcdefghi/");
    qSedArgFree(own);
    qSedArgFree(page);

    // Data files fill numbered rows with cut texts, the last byte of a row never written; load_language adds the
    // common table.
    S text = "# Menu names\n";
    for (int i = 0; i < 310; ++i)
        text += S(i == 5 ? "SINGLE_TOKEN\n# a comment\n" : "") + "M \"item " + std::to_string(i) + "\"\n";
    root.write("/etc/menu", text);
    std::vector<char> rows(300 * 20, 'X');
    EXPECT_EQ(load_data_file("/etc/menu", rows.data(), 300, 20), 300);
    EXPECT_EQ(S(rows.data()) + S(rows.data() + 5 * 20) + S(rows.data() + 299 * 20), "item 0item 5item 299");
    root.write("/etc/long", "A \"abcdefghijklmnop\"\nB \"short\"\n");
    char small[3 * 8 + 1] = "XXXXXXXXXXXXXXXXXXXXXXXX";
    EXPECT_EQ(load_data_file("/etc/long", small, 3, 8), 2);
    EXPECT_EQ(load_data_file("/etc/absent", small, 3, 8) + load_data_file("/etc/long", small, 0, 8) +
                  load_data_file("/etc/long", small, 3, 0), 0);
    EXPECT_EQ(S(small, 24), "abcdefgXshort\0\0XXXXXXXXX"s);

    root.write("/etc/language/eng/common", "COMMON_HELP_STR \"Help\"\n");
    root.write("/etc/language/eng/menu", "M0 \"System\"\nM1 \"Network\"\n");
    q_entry *table = nullptr;
    char menu[4][32] = {}, again[4][32] = {};
    EXPECT_EQ(load_language("eng", "menu", menu[0], 4, 32, &table), 2);
    EXPECT_EQ(S(menu[0]) + menu[1] + values_of(table, "${COMMON_HELP_STR}") + values_of(table, "${M0}"),
              "SystemNetworkHelp;");
    EXPECT_TRUE(load_language("eng", "menu", again[0], 4, 32, nullptr) == 2 && again[1] == S("Network"));  // no table
    load_language("sch", "menu", nullptr, 4, 32, &table);  // nothing at all without code, group or rows
    EXPECT_STREQ(icons_path, "../icons_eng/");
    EXPECT_EQ(load_language(nullptr, "menu", menu[0], 4, 32, &table), 0);
    EXPECT_EQ(load_language("eng", "no", menu[0], 4, 32, nullptr), 0);
    EXPECT_STREQ(menu[0], "System");
    qSedArgFree(table);
}

// The request's MULTI_LANG when it is a plain code, else the fallback ("eng" for none), cut to nine; sixteen results.
TEST(Language, NowLanguageTakesTheRequestOrTheFallback) {
    auto language_of = [](const char *query, const char *fallback) {
        testing_support::Request request(testing_support::Env{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
        return S(now_language(fallback));
    };
    for (auto [query, fallback, code] : std::initializer_list<std::tuple<const char *, const char *, const char *>>{
             {"q=0", nullptr, "eng"}, {"q=0", "", ""}, {"MULTI_LANG=ch", "sch", "ch"}, {"MULTI_LANG=", "sch", "sch"},
             {"MULTI_LANG=null", nullptr, "eng"}, {"MULTI_LANG=xnullx", "sch", "sch"}, {"MULTI_LANG=../", "sch", "sch"},
             {"MULTI_LANG=abcdefghijkl", "sch", "abcdefghi"}, {"MULTI_LANG=zh-TW", "sch", "zh-TW"},
             {"MULTI_LANG=%22%3E%3Cb%3E", "sch", "sch"}, {"q=0", "a-very-long-fallback", "a-very-lo"}})
        EXPECT_EQ(language_of(query, fallback), code) << query << " " << (fallback ? fallback : "null");
    std::vector<char *> slots;
    for (int i = 0; i < 16; ++i) slots.push_back(now_language(std::to_string(i).c_str()));
    EXPECT_TRUE(std::set<char *>(slots.begin(), slots.end()).size() == 16 && now_language("again") == slots[0]);
    EXPECT_EQ(S(slots[0]) + slots[1] + slots[15], "again115");
}

constexpr key_t kPrivilegeKey = 0x20130131;

privilege_record privileges(const S &user, unsigned char fill) {
    privilege_record r{};
    std::snprintf(r.user, sizeof r.user, "%s", user.c_str());
    std::memset(r.priv, fill, sizeof r.priv);
    return r;
}

// Functions reach their documented positions: runs at the ends and in between, first and last of each.
TEST(Privilege, FunctionsReachTheirPositionsAndLookupsRefuseWhatTheyCannotFind) {
    testing_support::Sandbox box;  // boots with admin (all 3) and viewer (function 5 set to 1)
    const S long_name(200, 'a');
    for (auto [func, user, value] : std::initializer_list<std::tuple<int, const char *, int>>{
             {5, "admin", 3}, {5, "viewer", 1}, {6, "viewer", 0}, {5, "Admin", 0}, {5, "admi", 0}, {5, "admin ", 0},
             {5, "", 0}, {238, "admin", 0}, {-1, "admin", 0}, {5, long_name.c_str(), 0}, {5, nullptr, 0}})
        EXPECT_EQ(my_func_privilege_name(func, user), value) << func;
    EXPECT_EQ(my_privilege_name(299, "admin") + my_privilege_name(300, "admin") + my_privilege_name(-1, "admin"), 3);
    EXPECT_EQ(my_func_privilege_set(5, "nobody", 3) + my_func_privilege_set(238, "admin", 1) +
                  my_privilege_set(300, "admin", 1) + my_privilege_set(10, nullptr, 1), 0);
    EXPECT_EQ((Results{my_privilege_set(10, "admin", 0x1ff), my_privilege_name(10, "admin")}), (Results{0xff, 0xff}));
    for (auto [func, position] : {std::pair{0, 0}, {7, 7}, {8, 188}, {9, 8}, {15, 14}, {74, 71}, {127, 124}, {128, 178},
                                  {164, 155}, {223, 164}, {236, 177}, {237, 242}}) {
        EXPECT_EQ(my_func_privilege_set(func, "admin", 0x40 + position % 64), 0x40 + position % 64);
        EXPECT_EQ(my_privilege_name(position, "admin"), 0x40 + position % 64) << func;
        EXPECT_EQ(my_func_privilege_name(func, "admin"), 0x40 + position % 64) << func;
    }

    // Loading sorts the caller's image byte by byte and replaces the whole table; an unattachable segment allows
    // nothing.
    static privilege_image image{};
    V users;
    for (int i = 0; i < PRIV_MAX_USERS; ++i) users.push_back("user" + std::to_string(i * 37 % 101));
    users[7] = "Zed", users[8] = "\xc3\xa9lise";
    std::shuffle(users.begin(), users.end(), std::mt19937(42));
    image.count = PRIV_MAX_USERS;
    for (int i = 0; i < PRIV_MAX_USERS; ++i) image.records[i] = privileges(users[i], static_cast<unsigned char>(i + 1));
    ASSERT_EQ(my_privilege_load(&image), 0);
    for (int i = 1; i < PRIV_MAX_USERS; ++i)
        EXPECT_LT(std::strcmp(image.records[i - 1].user, image.records[i].user), 0) << "the caller's image is sorted";
    for (int i = 0; i < PRIV_MAX_USERS; ++i) EXPECT_EQ(my_privilege_name(0, users[i].c_str()), i + 1) << users[i];
    image.count = 0;  // the boot's users are gone, then all
    EXPECT_EQ((Results{my_func_privilege_name(5, "admin"), my_privilege_load(&image), my_privilege_name(0, "Zed")}),
              Results(3));
    for (int count : {PRIV_MAX_USERS + 1, -1}) EXPECT_EQ((image.count = count, my_privilege_load(&image)), -1);
    EXPECT_EQ(testing_support::captured_stdout(my_setcookie), "");  // the cookie hook does nothing

    TempRoot other;  // something else holds the key with a smaller segment
    ASSERT_GE(shmget(platform::ipc_key(kPrivilegeKey), 100, IPC_CREAT | 0600), 0);
    image.count = 1;
    image.records[0] = privileges("admin", 3);
    EXPECT_EQ(my_privilege_load(&image), -1);
    EXPECT_EQ(my_func_privilege_name(5, "admin") + my_privilege_set(5, "admin", 3), 0);
    EXPECT_EQ(platform::remove_sandbox_ipc(other.root()), 1);
}

}  // namespace
