// Record files (numbered configuration files and files by path), record
// identifiers, and file operations.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/hostile.h"
#include "support/request.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Sandbox;
using Lines = std::vector<std::string>;
using S = std::string;
using namespace std::string_literals;
using Results = std::vector<int>;  // calls in a braced list run in order

constexpr int kFlashMounted = 104, kInfo = 183;
constexpr const char *kInfoPath = "/etc/sysconfig/.firewall/upgrade_info.conf", *kTag = "test";
constexpr const char *kChanged = "> /var/tmp/last.config\n";

struct closer {
    void operator()(record_file *h) const { my_CloseFile(h); }
};
using handle = std::unique_ptr<record_file, closer>;

handle open_file(int number, int mode = 0) { return handle(my_ReadFile(number, mode, kTag)); }

void set_first_line(int number, int mode, const char *text) { my_ReplaceLine(open_file(number, mode).get(), 1, text); }

// Every line of a handle as "number:text", in list order.
Lines lines_of(record_file *h) {
    Lines out;
    uint32_t number = 0;
    for (char *text = my_GetLine(h, &number, 1); text; text = my_GetLine(h, &number, 0))
        out.push_back(std::to_string(number) + ":" + text);
    return out;
}

// The commands that copy a file (its shell word given) to a flash partition.
S flash_copy(const S &word, int partition = 3, const S &to = "/mnt") {
    return "/bin/mount /dev/mtdblock" + std::to_string(partition) + " /mnt > /dev/null 2>&1\n/bin/cp " + word + " " +
           to + " > /dev/null 2>&1\n/bin/umount /mnt > /dev/null 2>&1\n";
}

// The commands recorded since the last call.
S taken(const Sandbox &box) {
    S commands = box.commands();
    box.write("/commands.log", "");
    return commands;
}

// Rows 0-9 are scratch rows; lines are read whole up to RECORD_LINE_MAX, longer ones cut, and written back mirrored;
// edits keep line numbers unique and ordered.
TEST(RecordFile, TableReadOverlongLinesAndEdits) {
    for (int i = 0; i < FILE_LIST_ROWS; ++i)
        EXPECT_TRUE(file_list[i].number == i && (i < 10 || file_list[i].path[0])) << i;  // other tests fill rows 0-9
    for (auto [n, path] : {std::pair{10, "/etc/shadow"}, {25, "/wizard.conf"}, {110, "/proc/net/dev"},
                           {22, "/etc/sysconfig/.firewall/ddns.conf"}, {54, "/etc/sysconfig/.firewall/mapped_ip.conf"},
                           {182, "/proc/uptime"}, {183, kInfoPath}, {227, "/backup_conf/reserve/ad_link_setting.conf"},
                           {228, "/etc/sysconfig/.firewall/auth_wechat.conf"}})
        EXPECT_STREQ(my_FileName(n), path) << n;
    EXPECT_TRUE(my_FileName(229) == nullptr && my_FileName(-1) == nullptr);

    Sandbox box;
    box.write(kInfoPath, "A\nB\r\n\nC");
    handle h = open_file(kInfo);
    EXPECT_EQ(h->count, 4u);
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:A", "2:B\r", "3:", "4:C"}));
    EXPECT_TRUE(!my_GetLine(h.get(), nullptr, 0) && !my_GetNumData(h.get(), 5) && !my_GetNumData(h.get(), 0));
    EXPECT_STREQ(my_GetNumData(h.get(), 4), "C");
    const S whole(RECORD_LINE_MAX, 'w'), cut(RECORD_LINE_MAX, 'x');
    box.write(kInfoPath, whole + "\n" + cut + "TAIL\nnext\n" + cut + "TAIL");
    h = open_file(kInfo, 1);
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:" + whole, "2:" + cut, "3:next", "4:" + cut}));
    h.reset();
    EXPECT_EQ(box.read(kInfoPath) + taken(box),
              whole + "\n" + cut + "\nnext\n" + cut + "\n" + flash_copy(kInfoPath) + kChanged);
    // Missing files and unknown numbers give empty handles; only a real file is written back.
    fs::remove(box.file(kInfoPath));
    for (int missing : {kInfo, 229, -1})
        EXPECT_TRUE(open_file(missing, 1)->count == 0 && !my_GetLine(open_file(missing).get(), nullptr, 1)) << missing;
    EXPECT_EQ(box.read(kInfoPath), "");
    EXPECT_EQ(box.commands(), flash_copy(kInfoPath) + kChanged);

    // Lines keep unique numbers in order: add after the last, replace or add at a number, delete, shift.
    box.write(kInfoPath, "A\nB\nC\n");
    h = open_file(kInfo, 1);
    // count + 1 (3) is taken by C: the new line goes after it.
    EXPECT_EQ((Results{my_DelLine(h.get(), 2), my_AddLine(h.get(), "D"), my_DelLine(h.get(), 2)}), (Results{0, 0, -1}));
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:A", "3:C", "4:D"}));
    EXPECT_EQ((Results{my_ReplaceLine(h.get(), 3, "c"), my_ReplaceLine(h.get(), 2, "E"),
                       my_ReplaceLine(h.get(), 40, "F")}), Results(3));
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:A", "3:c", "4:D", "5:E", "6:F"}));
    EXPECT_EQ(h->count, 5u);
    EXPECT_EQ(my_AddLine(h.get(), nullptr) + my_AddLine(nullptr, "x") + my_ReplaceLine(h.get(), 1, nullptr) +
                  my_DelLine(nullptr, 1), -4);
    EXPECT_EQ(my_ShiftLine(h.get(), 1, 4), 0);  // the line moves, those between close up
    EXPECT_EQ(lines_of(h.get()), (Lines{"2:c", "3:D", "4:A", "5:E", "6:F"}));
    EXPECT_EQ((Results{my_ShiftLine(h.get(), 6, 2), my_ShiftLine(h.get(), 2, 2)}), Results(2));
    EXPECT_EQ(lines_of(h.get()), (Lines{"2:F", "3:c", "4:D", "5:A", "6:E"}));
    EXPECT_EQ(my_ShiftLine(nullptr, 1, 2) + my_ShiftLine(h.get(), 0, 2) + my_ShiftLine(h.get(), 2, 0), -3);
    // The gap moves along.
    EXPECT_EQ((Results{my_DelLine(h.get(), 3), my_ShiftLine(h.get(), 2, 5), my_AddLine(h.get(), "G")}), Results(3));
    EXPECT_EQ(lines_of(h.get()), (Lines{"3:D", "4:A", "5:F", "6:E", "7:G"}));
    h.reset();
    EXPECT_EQ(box.read(kInfoPath), "D\nA\nF\nE\nG\n");
    box.write(kInfoPath, "x\nkeep1\nx\nx\nkeep2\n");  // deleting the line just read goes on with the next
    h = open_file(kInfo, 1);
    uint32_t number = 0;
    S seen;
    for (char *text = my_GetLine(h.get(), &number, 1); text; text = my_GetLine(h.get(), &number, 0))
        if ((seen += S(text) + " ").ends_with("x ")) seen += std::to_string(my_DelLine(h.get(), number));
    EXPECT_EQ(seen, "x 0keep1 x 0x 0keep2 ");
    EXPECT_EQ(lines_of(h.get()), (Lines{"2:keep1", "5:keep2"}));
}

// Closing a writable handle writes it and mirrors by path, unless /var/boot exists; removing takes the flash copy.
TEST(RecordFile, ClosingMirrorsByPathUnlessBootMarkExistsAndPathsRotate) {
    Sandbox box;
    ASSERT_NE(WI(kFlashMounted, 7), nullptr);
    set_first_line(kInfo, 1, "1000 1180");
    set_first_line(kInfo, 0, "changed");  // read-only: neither written nor mirrored
    EXPECT_EQ(box.read(kInfoPath) + std::to_string(*RI(kFlashMounted)), "1000 1180\n0");
    WI(kFlashMounted, 7);
    set_first_line(227, 1, "link");  // partition 4, mirrored even though not written
    open_file(29, 1);  // any other path only marks the change
    EXPECT_EQ(std::to_string(box.exists("/backup_conf/reserve/ad_link_setting.conf")) +
                  std::to_string(*RI(kFlashMounted)) + box.read("/var/tmp/interface_tmp.conf"), "00");
    const S backup = flash_copy("/backup_conf/reserve/ad_link_setting.conf", 4, "/mnt/reserve");
    EXPECT_EQ(taken(box), flash_copy(kInfoPath) + kChanged + backup + kChanged + kChanged);
    ASSERT_EQ(mkdir(box.file("/var/boot").c_str(), 0755), 0);
    set_first_line(kInfo, 1, "2000 2095");
    EXPECT_EQ(box.read(kInfoPath) + taken(box), "2000 2095\n");
    fs::remove(box.file("/var/boot"));
    my_RemoveFile(kInfo);
    my_RemoveFile(229);
    EXPECT_EQ(std::to_string(box.exists(kInfoPath)) + taken(box),
              "0/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
              "/bin/rm -rf \"/mnt/upgrade_info.conf\" > /dev/null 2>&1\n/bin/umount /mnt > /dev/null 2>&1\n");

    // Paths take the ten scratch rows in turn; a path too long for a row is refused, not cut; the copy quotes it.
    box.write("/var/tmp/p0", "zero\n");
    handle first(my_open_path("/var/tmp/p0", 0, kTag));
    ASSERT_TRUE(first && first->number >= 0 && first->number < 10);
    EXPECT_STREQ(my_GetNumData(first.get(), 1), "zero");
    for (int i = 1; i <= 10; ++i) {
        const S path = "/var/tmp/p" + std::to_string(i);
        EXPECT_EQ(handle(my_open_path(path.c_str(), 0, kTag))->number, (first->number + i) % 10);
        EXPECT_STREQ(my_FileName((first->number + i) % 10), path.c_str());
    }
    const S longest = "/var/tmp/" + S(FILE_PATH_SIZE - 1 - 9, 'l');
    box.write(longest, "fits\n");
    EXPECT_STREQ(my_GetNumData(handle(my_open_path(longest.c_str(), 1, kTag)).get(), 1), "fits");
    handle refused(my_open_path((longest + "m").c_str(), 1, kTag));
    EXPECT_EQ(refused->count + (my_FileName(refused->number) != nullptr) + my_AddLine(refused.get(), "lost"), 0u);
    refused.reset();
    EXPECT_EQ(box.read(longest) + taken(box), "fits\n"s + kChanged);  // "fits" only
    my_AddLine(handle(my_open_path("/etc/sysconfig/.firewall/my file", 1, kTag)).get(), "x");
    EXPECT_EQ(taken(box), flash_copy("'/etc/sysconfig/.firewall/my file'") + kChanged);
    my_writeToConfigPart("/etc/sysconfig/.firewall/a b'$(reboot);`id`");
    EXPECT_EQ(box.commands(), flash_copy("'/etc/sysconfig/.firewall/a b'\\''$(reboot);`id`'"));
}

// A rewrite replaces the file whole, keeping its mode, a link, a pipe and its owner: a reader never sees it half done.
TEST(RecordFile, WriteBackKeepsModeLinksPipesAndOwner) {
    Sandbox box;
    const S file = box.file(kInfoPath), dir = box.file("/etc/sysconfig/.firewall");
    box.write(kInfoPath, "old\n");
    fs::permissions(file, fs::perms(0640));
    set_first_line(kInfo, 1, "new");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));
    for (const auto &entry : fs::directory_iterator(dir)) EXPECT_EQ(entry.path().string().find(".tmp"), S::npos);
    fs::remove(file);
    mode_t previous = umask(077);
    open_file(kInfo, 1);
    umask(previous);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0600));
    box.write("/var/tmp/real.conf", "old\n");
    fs::remove(file);
    fs::create_symlink(box.file("/var/tmp/real.conf"), file);
    set_first_line(kInfo, 1, "through the link");
    EXPECT_EQ(box.read("/var/tmp/real.conf") + std::to_string(fs::is_symlink(file)), "through the link\n1");
    fs::remove(file);  // a pipe is written in place; read first, as opening a pipe waits for a writer
    handle h = open_file(kInfo);
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    int pipe_end = open(file.c_str(), O_RDONLY | O_NONBLOCK);
    my_AddLine(h.get(), "to the pipe");
    my_WriteFile(h.get());
    h.reset();
    char got[64] = {};
    EXPECT_TRUE(read(pipe_end, got, sizeof got - 1) == 12 && S(got) == "to the pipe\n") << got;
    close(pipe_end);
    fs::remove(file);

    S texts[2];  // each larger than one write
    for (int v = 0; v < 2; ++v) {
        for (int i = 0; i < 3000; ++i) texts[v] += "version " + std::to_string(v) + " line " + std::to_string(i) + "\n";
        box.write("/var/tmp/version" + std::to_string(v), texts[v]);
    }
    box.write(kInfoPath, texts[0]);
    std::atomic<bool> done = false;
    int reads = 0, torn = 0;
    std::thread reader([&] {  // reads while the rounds run, counting what was neither version whole
        for (; !done; ++reads)
            if (const S seen = box.read(kInfoPath); seen != texts[0] && seen != texts[1]) ++torn;
    });
    for (int round = 1; round <= 300; ++round) {  // each round reads one version and closes it as the record file
        h.reset(my_open_path(("/var/tmp/version" + std::to_string(round % 2)).c_str(), 1, kTag));
        h->number = kInfo;
    }
    h.reset();
    done = true;
    reader.join();
    EXPECT_TRUE(reads > 0 && torn == 0) << reads << " reads, " << torn << " torn";

    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
    for (const S &d : {box.root(), box.file("/etc"), box.file("/etc/sysconfig"), dir})
        ASSERT_EQ(chmod(d.c_str(), 0777), 0);
    box.write(kInfoPath, "root's\n");
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    struct stat before {}, after {};
    stat(file.c_str(), &before);
    // Another user rewrites the root-owned file in place: it could put a file beside but not give it to root,
    // then could not make one at all.
    for (const char *line : {"nobody's", "again"}) {
        EXPECT_EQ(testing_support::in_child([&] {
                      record_file *mine = setgid(65534) || setuid(65534) ? nullptr : my_ReadFile(kInfo, 1, kTag);
                      if (!mine || my_ReplaceLine(mine, 1, line) != 0) _exit(3);
                      my_WriteFile(mine);
                      mine->mode = 0;
                      my_CloseFile(mine);
                  }).status, 0);
        EXPECT_EQ(box.read(kInfoPath), S(line) + "\n");
        chmod(dir.c_str(), 0755);
    }
    stat(file.c_str(), &after);
    EXPECT_TRUE(after.st_uid == 0 && after.st_ino == before.st_ino && (after.st_mode & 07777) == 0666u);
}

// An identifier YYYYMMDDhhmmss reads as its date in UTC (0 when it is no date); chain ids are the local time.
TEST(RecordId, TimeOfAnIdentifierIsItsDateAsUtcAndTheIdentifierTheLocalTime) {
    for (auto [id, expected] : {std::pair{"19700101000100", "60 0000003C"}, {"20000229235959", "951868799 38BC5D7F"},
                                {"20000301000000", "951868800 38BC5D80"}, {"21000301000000", "4107542400 F4D41F80"},
                                {"20241231235959", "1735689599 6774857F"}, {"99991231235959", "253402300799 FFF4417F"}})
        if (sizeof(time_t) == 8 || strcmp(id, "2038") < 0) {  // a 32-bit C library's time_t ends in 2038
            EXPECT_EQ(std::to_string(static_cast<long long>(gTime(id))) + " " + id2mark(id), expected);
        }
    EXPECT_EQ(id2mark("1970010100010"), nullptr);
    for (const char *bad : std::initializer_list<const char *>{
             "19691231235959", "20240001000000", "20241301000000", "20240100000000", "20240132000000", "20240431000000",
             "20230229000000", "21000229000000", "20240101240000", "20240101006000", "20240101000060", "2024010100000x",
             " 2024010100000", "202401010000000", "", nullptr})
        EXPECT_EQ(gTime(bad), 0) << (bad ? bad : "null");
    for (auto [year, leap] : {std::pair{1972, 1}, {2000, 1}, {2400, 1}, {1970, 0}, {1900, 0}, {2100, 0}})
        EXPECT_EQ(isLeapYear(year), leap) << year;

    const char *tz = getenv("TZ");
    const S saved = tz ? tz : "";
    for (auto [zone, id] : {std::pair{"CET-1", "19710101010000"}, {"UTC", "19710101000000"}}) {
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_STREQ(my_chainID(31536000), id);
    }
    const time_t before = time(nullptr), now = gTime(my_chainID(0));
    EXPECT_TRUE(now >= before && now <= time(nullptr));
    char *first = my_chainID(1);
    for (int i = 0; i < 63; ++i) EXPECT_NE(my_chainID(2), first);  // stays until its buffer comes round
    EXPECT_TRUE(first == S("19700101000001") && my_chainID(2) == first) << first;
    tz ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    tzset();

    int lowest = 8000, highest = 0;
    for (unsigned seed = 1; seed <= 5000; ++seed)
        lowest = std::min(lowest, my_rand_num(seed)), highest = std::max(highest, my_rand_num(seed));
    EXPECT_TRUE(lowest >= 1000 && lowest < 1050 && highest > 7950 && highest <= 7999) << lowest << " " << highest;
    EXPECT_EQ(my_rand_num(42), my_rand_num(42));
    const S mark = my_classmark();
    EXPECT_TRUE(mark.size() == 4 && std::atoi(mark.c_str()) >= 1000) << mark;
}

void set_mtime(const S &path, time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// In-process removal, move, copy and directory making where they can; otherwise the shell, names quoted unless a
// pattern; paths and file types.
TEST(FileOps, RemoveMoveCopyAndMakeDirectoryInProcessOrByTheShellPathsAndTypes) {
    Sandbox box;
    for (const char *file : {"/var/tmp/one", "/var/tree/a/b/c", "/var/kept/file", "/var/from"}) box.write(file, "data");
    ASSERT_EQ(symlink(box.file("/var/kept").c_str(), box.file("/var/link").c_str()), 0);
    my_rm("/var/tmp/%s", "one");
    my_rm("/var/tree");
    my_rm("/var/link");  // the link, not what it points to
    my_mv("/var/from", "/var/to");
    my_mkdir("/var/%s", "newdir");
    EXPECT_FALSE(box.exists("/var/tmp/one") || box.exists("/var/tree") || box.exists("/var/link"));
    EXPECT_TRUE(box.exists("/var/kept/file") && fs::is_directory(box.file("/var/newdir")));
    EXPECT_EQ(box.read("/var/to") + taken(box), "data");

    my_rm("/var/missing");
    my_rm("/var/ap/firmware/%s", "*.bin");
    my_rm("/tmp/a\"; reboot; \"$(id)`id`\\");
    my_rm("/tmp/x*;reboot &");
    my_mv("/var/none", "/var/to");
    my_mv("/var/*.log", "/var/logs");
    my_mv("/var/a b", "/var/*");
    my_mkdir("/var/newdir");
    my_mkdir("/var/deep/er");
    EXPECT_EQ(taken(box), "/bin/rm -rf \"/var/missing\"\n/bin/rm -rf /var/ap/firmware/*.bin\n"
                          "/bin/rm -rf \"/tmp/a\\\"; reboot; \\\"\\$(id)\\`id\\`\\\\\"\n"
                          "/bin/rm -rf /tmp/x*\\;reboot\\ \\&\n"
                          "/bin/mv -f \"/var/none\" \"/var/to\"\n/bin/mv -f /var/*.log \"/var/logs\"\n"
                          "/bin/mv -f \"/var/a b\" /var/*\nmkdir -m 777 -p \"/var/newdir\"\n"
                          "mkdir -m 777 -p \"/var/deep/er\"\n");

    // A configuration file takes its flash copy with it, named by the last component.
    const S mount = "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n", umount = "/bin/umount /mnt > /dev/null 2>&1\n";
    for (const char *file : {"/etc/sysconfig/.firewall/eventlog", "/etc/sysconfig/.firewall/AP_Host_Config/wtp1",
                             "/etc/sysconfig/other"})
        box.write(file, "x");
    my_rm("/etc/sysconfig/.firewall/%s", "eventlog");
    WI(kFlashMounted, 1);
    my_rm("/etc/sysconfig/.firewall/AP_Host_Config/");  // a directory has no single flash copy
    my_rm("/etc/sysconfig/.firewall/sub/we\"ird");
    my_rm("/etc/sysconfig/other");
    EXPECT_FALSE(box.exists("/etc/sysconfig/.firewall/eventlog") ||
                 box.exists("/etc/sysconfig/.firewall/AP_Host_Config") || *RI(kFlashMounted) != 0);
    EXPECT_EQ(taken(box), mount + "/bin/rm -rf \"/mnt/eventlog\" > /dev/null 2>&1\n" + umount + mount + umount +
                              "/bin/rm -rf \"/etc/sysconfig/.firewall/sub/we\\\"ird\"\n" + mount +
                              "/bin/rm -rf \"/mnt/we\\\"ird\" > /dev/null 2>&1\n" + umount);

    // An in-process copy keeps modes, times and trees; links, patterns, missing parents and loops go to the shell.
    S big(3 * 4096 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    box.write("/src/tree/big.bin", big);
    box.write("/src/tree/sub/inner", "inner");
    box.write("/src/tree/sub/empty", "");
    ASSERT_EQ(chmod(box.file("/src/tree/big.bin").c_str(), 0640) + chmod(box.file("/src/tree/sub").c_str(), 0750), 0);
    set_mtime(box.file("/src/tree/big.bin"), 1000000000);
    set_mtime(box.file("/src/tree/sub"), 1100000000);
    const mode_t mask = umask(022);
    my_cp("/src/tree", "/var/copy");
    EXPECT_EQ(umask(mask), 022u);  // the process's own mask is back
    EXPECT_TRUE(box.read("/var/copy/big.bin") == big && box.read("/var/copy/sub/inner") == "inner" &&
                box.exists("/var/copy/sub/empty"));
    struct stat file {}, dir {};
    lstat(box.file("/var/copy/big.bin").c_str(), &file);
    lstat(box.file("/var/copy/sub").c_str(), &dir);
    using Times = std::vector<long long>;
    EXPECT_EQ((Times{file.st_mode & 07777, file.st_mtim.tv_sec, dir.st_mode & 07777, dir.st_mtim.tv_sec}),
              (Times{0640, 1000000000, 0750, 1100000000}));
    box.write("/var/single", "old contents that are longer");
    my_cp("/src/tree/sub/inner", "/var/single");
    box.write("/var/merge/keep", "keep");
    my_cp("/src/tree/sub", "/var/merge");  // an existing directory receives the tree
    EXPECT_EQ(box.read("/var/single") + box.read("/var/merge/keep") + box.read("/var/merge/inner") + box.commands(),
              "innerkeepinner");

    box.write("/src/file", "f");
    box.write("/src/dir/x", "x");
    ASSERT_EQ(symlink("file", box.file("/src/link").c_str()), 0);
    for (auto [from, to] : {std::pair{"/src/tree", "/dst/tree"}, {"/src/link", "/var/link"}, {"/src/missing", "/var/m"},
                            {"/src/*", "/var/all"}, {"/src/dir", "/src/dir/inside"}, {"/src/file", "/src/dir"}})
        my_cp(from, to);
    EXPECT_FALSE(box.exists("/dst/tree") || box.exists("/var/link") || box.exists("/src/dir/inside"));
    EXPECT_EQ(box.commands(), "/bin/cp -af \"/src/tree\" \"/dst/tree\"\n/bin/cp -af \"/src/link\" \"/var/link\"\n"
                              "/bin/cp -af \"/src/missing\" \"/var/m\"\n/bin/cp -af /src/* \"/var/all\"\n"
                              "/bin/cp -af \"/src/dir\" \"/src/dir/inside\"\n/bin/cp -af \"/src/file\" \"/src/dir\"\n");

    // Joined paths have one slash; types do not follow links, sizes do.
    for (auto [dir, name, path] : {std::tuple<const char *, const char *, S>{"/etc/", "//passwd", "/etc/passwd"},
                                   {"/etc", "passwd", "/etc/passwd"}, {"/", "etc", "/etc"}, {"", "etc", "/etc"},
                                   {"/etc", "", "/etc/"}, {nullptr, "etc", "<null>"}}) {
        char *joined = concat_path_file(dir, name);
        EXPECT_EQ(joined ? S(joined) : "<null>", path) << name;
        free(joined);
    }
    box.write("/var/data/file", "12345");
    ASSERT_EQ(symlink(box.file("/var/data").c_str(), box.file("/var/dirlink").c_str()) +
                  symlink("file", box.file("/var/data/filelink").c_str()), 0);
    // Directory, regular file, link, and the size of what is not a directory.
    for (auto [path, expected] : {std::pair<const char *, S>{"/var/data", "100"}, {"/var/data/file", "105"},
                                  {"/var/dirlink", "1"}, {"/var/data/filelink", "15"}, {"/var/none", "00"}}) {
        S got = std::to_string(isDirectory(path) * 100 + isRegularFile(path) * 10 + isSymbloicLink(path));
        EXPECT_EQ(fs::is_directory(box.file(path)) ? got : got + std::to_string(my_file_size(path)), expected) << path;
    }
}

// Names from a request reach the shell fallbacks as data: each recorded line, run by /bin/sh with a stub in
// the program's place, passes the name whole.
TEST(FileOps, ShellFallbacksTakeHostileNamesAsData) {
    Sandbox box;
    box.write("/database/.keep", "");
    for (const S &value : testing_support::hostile_values(box.file("/SENTINEL"))) {
        SCOPED_TRACE(value.substr(0, 60));
        const S from = "/none/" + value, to = "/var/" + value;
        auto ran = [&](const std::function<void()> &call, const S &program) {  // what call's line passes
            taken(box);
            call();
            const S line = taken(box);
            Lines args = testing_support::run_with_stub(box, line.substr(0, line.size() - 1), program);
            EXPECT_FALSE(box.exists("/SENTINEL"));
            return args;
        };
        EXPECT_EQ(ran([&] { my_mv(from.c_str(), to.c_str()); }, "/bin/mv"), (Lines{"-f", from, to}));
        EXPECT_EQ(ran([&] { my_cp(from.c_str(), to.c_str()); }, "/bin/cp"), (Lines{"-af", from, to}));
        EXPECT_EQ(ran([&] { my_rm("%s", from.c_str()); }, "/bin/rm"), (Lines{"-rf", from}));
        EXPECT_EQ(ran([&] { my_mkdir("%s", from.c_str()); }, "mkdir"), (Lines{"-m", "777", "-p", from}));
        box.write("/database/.qUploadFile", "upload");
        EXPECT_EQ(ran([&] { qSaveData(nullptr, 0, to.c_str(), "w"); }, "/bin/mv"),
                  (Lines{"/database/.qUploadFile", to}));
    }
}

}  // namespace
