#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "webadmin.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Sandbox;
using Lines = std::vector<std::string>;

constexpr int kFlashMounted = 104;
constexpr int kUpgradeInfo = 183;
constexpr const char *kUpgradeInfoPath = "/etc/sysconfig/.firewall/upgrade_info.conf";
constexpr const char *kTag = "pid:1,tests/runtime/test_record_file.cpp:test():1";
constexpr const char *kChanged = "> /var/tmp/last.config\n";

struct closer {
    void operator()(record_file *h) const { my_CloseFile(h); }
};
using handle = std::unique_ptr<record_file, closer>;

handle open_file(int number, int mode = 0) { return handle(my_ReadFile(number, mode, kTag)); }

// Opens a file, makes text its first line and closes it again.
void set_first_line(int number, int mode, const char *text) {
    handle h = open_file(number, mode);
    ASSERT_EQ(my_ReplaceLine(h.get(), 1, text), 0);
}

// Every line of a handle as "number:text", in list order.
Lines lines_of(record_file *h) {
    Lines out;
    uint32_t number = 0;
    for (char *text = my_GetLine(h, &number, 1); text; text = my_GetLine(h, &number, 0))
        out.push_back(std::to_string(number) + ":" + text);
    return out;
}

// The commands that copy a file (its shell word given) to a flash partition.
std::string flash_copy(const std::string &word, int partition = 3, const std::string &to = "/mnt") {
    return "/bin/mount /dev/mtdblock" + std::to_string(partition) + " /mnt > /dev/null 2>&1\n/bin/cp " + word + " " +
           to + " > /dev/null 2>&1\n/bin/umount /mnt > /dev/null 2>&1\n";
}

void expect_no_temporary_file(const std::string &dir) {
    for (const auto &entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

}  // namespace

TEST(RecordFile, TableHoldsTheFixedPathsAndTenScratchRows) {
    static_assert(sizeof(file_list) == 229 * 204);
    for (int i = 0; i < FILE_LIST_ROWS; ++i) {
        EXPECT_EQ(file_list[i].number, i);
        EXPECT_EQ(file_list[i].path[FILE_PATH_SIZE - 1], '\0');
        // Rows 0-9 are the scratch rows, empty until a path is opened.
        EXPECT_EQ(file_list[i].path[0] == '\0', i < 10) << i;
    }
    const std::vector<std::pair<int, const char *>> rows = {{10, "/etc/shadow"},
                                                            {25, "/wizard.conf"},
                                                            {54, "/etc/sysconfig/.firewall/mapped_ip.conf"},
                                                            {110, "/proc/net/dev"},
                                                            {172, "/etc/sysconfig/.firewall/ap_setting.conf"},
                                                            {182, "/proc/uptime"},
                                                            {183, kUpgradeInfoPath},
                                                            {227, "/backup_conf/reserve/ad_link_setting.conf"},
                                                            {228, "/etc/sysconfig/.firewall/auth_wechat.conf"}};
    for (const auto &[n, path] : rows) EXPECT_STREQ(my_FileName(n), path) << n;
    EXPECT_EQ(my_FileName(229), nullptr);
    EXPECT_EQ(my_FileName(-1), nullptr);
}

TEST(RecordFile, ReadsEveryLineWithItsNumber) {
    Sandbox box;
    // The last line has no newline; a carriage return belongs to its line.
    box.write(kUpgradeInfoPath, "A\nB\r\nC");
    handle h = open_file(kUpgradeInfo);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->count, 3u);
    EXPECT_EQ(h->number, kUpgradeInfo);
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:A", "2:B\r", "3:C"}));
    uint32_t number = 0;
    EXPECT_EQ(my_GetLine(h.get(), &number, 0), nullptr);  // after the last line
    EXPECT_STREQ(my_GetLine(h.get(), nullptr, 1), "A");
    EXPECT_STREQ(my_GetLine(h.get(), nullptr, 0), "B\r");
    EXPECT_STREQ(my_GetNumData(h.get(), 3), "C");
    EXPECT_EQ(my_GetNumData(h.get(), 0), nullptr);
    EXPECT_EQ(my_GetNumData(h.get(), 4), nullptr);
    EXPECT_EQ(my_GetLine(nullptr, &number, 1), nullptr);
    EXPECT_EQ(my_GetNumData(nullptr, 1), nullptr);

    // Empty lines are lines.
    box.write(kUpgradeInfoPath, "\n\nx\n");
    EXPECT_EQ(lines_of(open_file(kUpgradeInfo).get()), (Lines{"1:", "2:", "3:x"}));

    // Missing files and unknown numbers give empty handles; only the real
    // file is written back: empty, and mirrored.
    fs::remove(box.file(kUpgradeInfoPath));
    for (int missing : {kUpgradeInfo, 229, -1}) {
        handle empty = open_file(missing, 1);
        ASSERT_TRUE(empty) << missing;
        EXPECT_EQ(empty->count, 0u);
        EXPECT_EQ(my_GetLine(empty.get(), nullptr, 1), nullptr);
        EXPECT_EQ(empty->mode, 1);
    }
    EXPECT_TRUE(box.exists(kUpgradeInfoPath));
    EXPECT_EQ(box.read(kUpgradeInfoPath), "");
    EXPECT_EQ(box.commands(),
              "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
              "/bin/cp /etc/sysconfig/.firewall/upgrade_info.conf /mnt > /dev/null 2>&1\n"
              "/bin/umount /mnt > /dev/null 2>&1\n"
              "> /var/tmp/last.config\n");
    my_CloseFile(nullptr);
}

TEST(RecordFile, OverlongLinesAreCutAndTheirRestSkipped) {
    Sandbox box;
    const std::string whole(RECORD_LINE_MAX, 'w'), cut(RECORD_LINE_MAX, 'x');
    box.write(kUpgradeInfoPath, whole + "\n" + cut + "TAIL\nnext\n" + cut + "TAIL");
    handle h = open_file(kUpgradeInfo, 1);
    ASSERT_TRUE(h);
    ASSERT_EQ(h->count, 4u);
    EXPECT_EQ(my_GetNumData(h.get(), 1), whole);
    EXPECT_EQ(my_GetNumData(h.get(), 2), cut);
    EXPECT_STREQ(my_GetNumData(h.get(), 3), "next");
    EXPECT_EQ(my_GetNumData(h.get(), 4), cut);
    h.reset();
    EXPECT_EQ(box.read(kUpgradeInfoPath), whole + "\n" + cut + "\nnext\n" + cut + "\n");
}

TEST(RecordFile, EditsKeepLineNumbersUniqueAndOrdered) {
    Sandbox box;
    box.write(kUpgradeInfoPath, "A\nB\nC\n");
    handle h = open_file(kUpgradeInfo, 1);
    ASSERT_TRUE(h);

    EXPECT_EQ(my_DelLine(h.get(), 2), 0);
    EXPECT_EQ(h->count, 2u);
    EXPECT_STREQ(my_GetNumData(h.get(), 3), "C");
    EXPECT_EQ(my_GetNumData(h.get(), 2), nullptr);
    EXPECT_EQ(my_DelLine(h.get(), 2), -1);
    EXPECT_EQ(my_DelLine(nullptr, 1), -1);

    // count + 1 (3) is still taken by C: the new line comes after it.
    EXPECT_EQ(my_AddLine(h.get(), "D"), 0);
    EXPECT_EQ(h->count, 3u);
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:A", "3:C", "4:D"}));

    EXPECT_EQ(my_ReplaceLine(h.get(), 3, "c"), 0);
    EXPECT_EQ(my_ReplaceLine(h.get(), 2, "E"), 0);  // no line 2 any more: appended
    EXPECT_EQ(my_ReplaceLine(h.get(), 40, "F"), 0);
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:A", "3:c", "4:D", "5:E", "6:F"}));
    EXPECT_EQ(h->count, 5u);
    EXPECT_EQ((std::vector<int>{my_AddLine(h.get(), nullptr), my_AddLine(nullptr, "x"),
                                my_ReplaceLine(h.get(), 1, nullptr), my_ReplaceLine(nullptr, 1, "x")}),
              std::vector<int>(4, -1));
    h.reset();
    EXPECT_EQ(box.read(kUpgradeInfoPath), "A\nc\nD\nE\nF\n");

    // Deleting the line just read goes on with the next one.
    box.write(kUpgradeInfoPath, "x\nkeep1\nx\nx\nkeep2\n");
    h = open_file(kUpgradeInfo, 1);
    uint32_t number = 0;
    Lines seen;
    for (char *text = my_GetLine(h.get(), &number, 1); text; text = my_GetLine(h.get(), &number, 0)) {
        seen.push_back(text);
        if (seen.back() == "x") {
            ASSERT_EQ(my_DelLine(h.get(), number), 0);
        }
    }
    EXPECT_EQ(seen, (Lines{"x", "keep1", "x", "x", "keep2"}));
    EXPECT_EQ(lines_of(h.get()), (Lines{"2:keep1", "5:keep2"}));
}

TEST(RecordFile, ShiftMovesALineAndRenumbersTheOthers) {
    Sandbox box;
    box.write(kUpgradeInfoPath, "A\nB\nC\nD\n");
    handle h = open_file(kUpgradeInfo, 1);
    ASSERT_TRUE(h);
    EXPECT_EQ(my_ShiftLine(h.get(), 1, 3), 0);
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:B", "2:C", "3:A", "4:D"}));
    EXPECT_EQ(my_ShiftLine(h.get(), 4, 2), 0);
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:B", "2:D", "3:C", "4:A"}));
    EXPECT_EQ(my_ShiftLine(h.get(), 2, 2), 0);
    EXPECT_EQ(lines_of(h.get()), (Lines{"1:B", "2:D", "3:C", "4:A"}));
    EXPECT_EQ((std::vector<int>{my_ShiftLine(nullptr, 1, 2), my_ShiftLine(h.get(), 0, 2), my_ShiftLine(h.get(), 2, 0)}),
              std::vector<int>(3, -1));

    // After a deletion the gap moves with the shifted lines; numbers stay unique.
    EXPECT_EQ(my_DelLine(h.get(), 2), 0);
    EXPECT_EQ(my_ShiftLine(h.get(), 1, 4), 0);
    EXPECT_EQ(lines_of(h.get()), (Lines{"2:C", "3:A", "4:B"}));
    EXPECT_EQ(my_AddLine(h.get(), "E"), 0);
    EXPECT_EQ(lines_of(h.get()), (Lines{"2:C", "3:A", "4:B", "5:E"}));
    h.reset();
    EXPECT_EQ(box.read(kUpgradeInfoPath), "C\nA\nB\nE\n");
}

TEST(RecordFile, ClosingMirrorsByPathUnlessBootMarkExists) {
    Sandbox box;
    ASSERT_NE(WI(kFlashMounted, 7), nullptr);
    set_first_line(kUpgradeInfo, 1, "1000 1180");
    EXPECT_EQ(box.read(kUpgradeInfoPath), "1000 1180\n");
    EXPECT_EQ(*RI(kFlashMounted), 0);

    // A read-only handle neither writes nor mirrors, whatever was changed.
    set_first_line(kUpgradeInfo, 0, "changed");
    EXPECT_EQ(box.read(kUpgradeInfoPath), "1000 1180\n");

    // /backup_conf goes to partition 4; the mirror runs even when the file
    // could not be written (its directory is missing).
    WI(kFlashMounted, 7);
    set_first_line(227, 1, "link");
    EXPECT_FALSE(box.exists("/backup_conf/reserve/ad_link_setting.conf"));
    EXPECT_EQ(*RI(kFlashMounted), 0);

    // Any other path only marks the change.
    { handle h = open_file(29, 1); }
    EXPECT_EQ(box.read("/var/tmp/interface_tmp.conf"), "");
    EXPECT_EQ(box.commands(), flash_copy(kUpgradeInfoPath) + kChanged +
                                  flash_copy("/backup_conf/reserve/ad_link_setting.conf", 4, "/mnt/reserve") +
                                  kChanged + kChanged);

    // While /var/boot exists the file is written and nothing else happens.
    ASSERT_EQ(mkdir(box.file("/var/boot").c_str(), 0755), 0);
    box.write("/commands.log", "");
    set_first_line(kUpgradeInfo, 1, "2000 2095");
    EXPECT_EQ(box.read(kUpgradeInfoPath), "2000 2095\n");
    EXPECT_EQ(box.commands(), "");

    // Removing a file removes its flash copy too.
    fs::remove(box.file("/var/boot"));
    my_RemoveFile(kUpgradeInfo);
    EXPECT_FALSE(box.exists(kUpgradeInfoPath));
    my_RemoveFile(229);
    my_RemoveFile(-1);
    EXPECT_EQ(box.commands(),
              "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n"
              "/bin/rm -rf \"/mnt/upgrade_info.conf\" > /dev/null 2>&1\n"
              "/bin/umount /mnt > /dev/null 2>&1\n");
}

TEST(RecordFile, OpenByPathRotatesTheScratchRowsAndQuotesThePath) {
    Sandbox box;
    box.write("/var/tmp/p0", "zero\n");
    handle first(my_open_path("/var/tmp/p0", 0, kTag));
    ASSERT_TRUE(first);
    ASSERT_GE(first->number, 0);
    ASSERT_LT(first->number, 10);
    EXPECT_STREQ(my_FileName(first->number), "/var/tmp/p0");
    EXPECT_STREQ(my_GetNumData(first.get(), 1), "zero");
    for (int i = 1; i <= 10; ++i) {
        std::string path = "/var/tmp/p" + std::to_string(i);
        handle h(my_open_path(path.c_str(), 0, kTag));
        ASSERT_TRUE(h);
        EXPECT_EQ(h->number, (first->number + i) % 10);
        EXPECT_STREQ(my_FileName(h->number), path.c_str());
    }

    // A path that does not fit a row is not cut to another file's name.
    std::string longest = "/var/tmp/" + std::string(FILE_PATH_SIZE - 1 - 9, 'l');
    box.write(longest, "fits\n");
    handle fits(my_open_path(longest.c_str(), 1, kTag));
    ASSERT_TRUE(fits);
    EXPECT_STREQ(my_GetNumData(fits.get(), 1), "fits");
    handle refused(my_open_path((longest + "m").c_str(), 1, kTag));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->count, 0u);
    EXPECT_EQ(my_FileName(refused->number), nullptr);
    ASSERT_EQ(my_AddLine(refused.get(), "lost"), 0);
    refused.reset();
    handle none(my_open_path(nullptr, 1, kTag));
    ASSERT_TRUE(none);
    none.reset();
    EXPECT_EQ(box.read(longest), "fits\n");
    EXPECT_EQ(box.commands(), "");

    // A configuration file opened by path is mirrored like a numbered one,
    // its path one word for the shell.
    handle odd(my_open_path("/etc/sysconfig/.firewall/my file", 1, kTag));
    ASSERT_EQ(my_AddLine(odd.get(), "x"), 0);
    odd.reset();
    EXPECT_EQ(box.read("/etc/sysconfig/.firewall/my file"), "x\n");
    EXPECT_EQ(box.commands(), flash_copy("'/etc/sysconfig/.firewall/my file'") + kChanged);
    box.write("/commands.log", "");
    my_writeToConfigPart("/etc/sysconfig/.firewall/a b'$(reboot);`id`");
    my_writeToConfigPart(nullptr);
    EXPECT_EQ(box.commands(), flash_copy("'/etc/sysconfig/.firewall/a b'\\''$(reboot);`id`'"));
    EXPECT_EQ(*RI(kFlashMounted), 0);
}

TEST(RecordFile, WriteBackKeepsModeLinksAndLeavesNoTemporaryFile) {
    Sandbox box;
    const std::string file = box.file(kUpgradeInfoPath);
    box.write(kUpgradeInfoPath, "old\n");
    fs::permissions(file, fs::perms(0640));
    set_first_line(kUpgradeInfo, 1, "new");
    EXPECT_EQ(box.read(kUpgradeInfoPath), "new\n");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640));
    expect_no_temporary_file(box.file("/etc/sysconfig/.firewall"));

    // A new file gets what fopen "w+" gives under the umask.
    fs::remove(file);
    mode_t previous = umask(077);
    { handle h = open_file(kUpgradeInfo, 1); }
    umask(previous);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0600));

    // A link stays a link; the file it names gets the lines.
    box.write("/var/tmp/real.conf", "old\n");
    fs::remove(file);
    fs::create_symlink(box.file("/var/tmp/real.conf"), file);
    set_first_line(kUpgradeInfo, 1, "through the link");
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(box.read("/var/tmp/real.conf"), "through the link\n");

    // A pipe (like a kernel file) is written in place, not replaced.  The
    // handle is read first: opening a pipe for reading waits for a writer.
    fs::remove(file);
    record_file *h = my_ReadFile(kUpgradeInfo, 0, kTag);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    int reader = open(file.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(my_AddLine(h, "to the pipe"), 0);
    my_WriteFile(h);
    my_CloseFile(h);
    char got[64] = {};
    EXPECT_EQ(read(reader, got, sizeof got - 1), 12);
    EXPECT_STREQ(got, "to the pipe\n");
    close(reader);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(file)));
}

TEST(RecordFile, AWriterThatCannotReplaceTheFileRewritesItInPlace) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
    Sandbox box;
    const std::string dir = box.file("/etc/sysconfig/.firewall");
    const std::string file = box.file(kUpgradeInfoPath);
    for (const std::string &d : {box.root(), box.file("/etc"), box.file("/etc/sysconfig"), dir})
        ASSERT_EQ(chmod(d.c_str(), 0777), 0);
    box.write(kUpgradeInfoPath, "root's\n");
    ASSERT_EQ(chmod(file.c_str(), 0666), 0);
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    // Another user's process rewrites the root-owned file it may write.
    auto write_as_nobody = [](const char *line) {
        pid_t child = fork();
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
            record_file *h = my_ReadFile(kUpgradeInfo, 1, kTag);
            if (!h || my_ReplaceLine(h, 1, line) != 0) _exit(3);
            my_WriteFile(h);
            h->mode = 0;
            my_CloseFile(h);
            _exit(0);
        }
        int status = -1;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    // It could put a file beside, but could not make root its owner ...
    ASSERT_EQ(write_as_nobody("nobody's"), 0);
    EXPECT_EQ(box.read(kUpgradeInfoPath), "nobody's\n");
    // ... or it cannot create a file in the directory at all.
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    ASSERT_EQ(write_as_nobody("again"), 0);
    EXPECT_EQ(box.read(kUpgradeInfoPath), "again\n");

    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, 0u);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0666u);
    expect_no_temporary_file(dir);
}

TEST(RecordFile, AReaderOnlyEverSeesACompleteOldOrNewFile) {
    Sandbox box;
    // Two contents larger than one write, so a rewrite in place would be seen half done.
    std::string texts[2];
    for (int v = 0; v < 2; ++v) {
        for (int i = 0; i < 3000; ++i)
            texts[v] += "version " + std::to_string(v) + " line " + std::to_string(i) + " padding padding\n";
        box.write("/var/tmp/version" + std::to_string(v), texts[v]);
    }
    box.write(kUpgradeInfoPath, texts[0]);

    int done[2];
    ASSERT_EQ(pipe(done), 0);
    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        close(done[1]);
        fcntl(done[0], F_SETFL, O_NONBLOCK);
        int reads = 0;
        char byte;
        while (read(done[0], &byte, 1) < 0) {
            std::string seen = box.read(kUpgradeInfoPath);
            if (seen != texts[0] && seen != texts[1]) _exit(1);
            ++reads;
        }
        _exit(reads > 0 ? 0 : 2);
    }
    close(done[0]);
    // Each round reads one version and closes it as file 183.
    for (int round = 1; round <= 300; ++round) {
        record_file *h = my_open_path(("/var/tmp/version" + std::to_string(round % 2)).c_str(), 1, kTag);
        ASSERT_NE(h, nullptr);
        h->number = kUpgradeInfo;
        my_CloseFile(h);
    }
    close(done[1]);
    int status = 0;
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a partial file was seen, 2: nothing was read";
    EXPECT_EQ(box.read(kUpgradeInfoPath), texts[0]);
}
