#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "support/hostile.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

using testing_support::hostile_values;
using testing_support::run_with_stub;
using testing_support::Sandbox;

constexpr int kFlashMounted = 104;

struct stat lstat_of(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

void set_mtime(const std::string &path, time_t when) {
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// The commands recorded since the last call.
std::string taken(const Sandbox &box) {
    std::string commands = box.commands();
    box.write("/commands.log", "");
    return commands;
}

}  // namespace

TEST(FileOps, RemoveWorksInProcessAndFallsBackToTheShell) {
    Sandbox box;
    box.write("/var/tmp/one", "1");
    box.write("/var/tree/a/b/c", "c");
    box.write("/var/tree/d", "d");
    my_rm("/var/tmp/%s", "one");
    my_rm("/var/tree");
    EXPECT_FALSE(box.exists("/var/tmp/one"));
    EXPECT_FALSE(box.exists("/var/tree"));
    EXPECT_EQ(box.commands(), "");

    // A link is removed, not what it points to.
    box.write("/var/kept/file", "k");
    ASSERT_EQ(symlink(box.file("/var/kept").c_str(), box.file("/var/link").c_str()), 0);
    my_rm("/var/link");
    EXPECT_FALSE(box.exists("/var/link"));
    EXPECT_TRUE(box.exists("/var/kept/file"));

    my_rm("/var/missing");
    my_rm("/var/ap/firmware/%s", "*.bin");
    my_rm("/tmp/a\"; reboot; \"$(id)`id`\\");
    my_rm("/tmp/x*;reboot &");
    EXPECT_EQ(taken(box),
              "/bin/rm -rf \"/var/missing\"\n"
              "/bin/rm -rf /var/ap/firmware/*.bin\n"
              "/bin/rm -rf \"/tmp/a\\\"; reboot; \\\"\\$(id)\\`id\\`\\\\\"\n"
              "/bin/rm -rf /tmp/x*\\;reboot\\ \\&\n");

    // A configuration file takes its flash copy with it.
    const std::string mount = "/bin/mount /dev/mtdblock3 /mnt > /dev/null 2>&1\n",
                      umount = "/bin/umount /mnt > /dev/null 2>&1\n";
    box.write("/etc/sysconfig/.firewall/eventlog", "log");
    my_rm("/etc/sysconfig/.firewall/%s", "eventlog");
    EXPECT_FALSE(box.exists("/etc/sysconfig/.firewall/eventlog"));
    EXPECT_EQ(taken(box), mount + "/bin/rm -rf \"/mnt/eventlog\" > /dev/null 2>&1\n" + umount);
    ASSERT_NE(RI(kFlashMounted), nullptr);
    EXPECT_EQ(*RI(kFlashMounted), 0);
    // A directory path ending in '/' has no single flash copy to remove.
    box.write("/etc/sysconfig/.firewall/AP_Host_Config/wtp1", "w");
    WI(kFlashMounted, 1);
    my_rm("/etc/sysconfig/.firewall/AP_Host_Config/");
    EXPECT_FALSE(box.exists("/etc/sysconfig/.firewall/AP_Host_Config"));
    EXPECT_EQ(taken(box), mount + umount);
    EXPECT_EQ(*RI(kFlashMounted), 0);
    // Only the last component names the flash copy; it is quoted too.
    my_rm("/etc/sysconfig/.firewall/sub/we\"ird");
    EXPECT_EQ(taken(box), "/bin/rm -rf \"/etc/sysconfig/.firewall/sub/we\\\"ird\"\n" + mount +
                              "/bin/rm -rf \"/mnt/we\\\"ird\" > /dev/null 2>&1\n" + umount);
    box.write("/etc/sysconfig/other", "o");
    my_rm("/etc/sysconfig/other");
    EXPECT_EQ(box.commands(), "");
}

TEST(FileOps, MoveAndMakeDirectory) {
    Sandbox box;
    box.write("/var/from", "data");
    my_mv("/var/from", "/var/to");
    EXPECT_FALSE(box.exists("/var/from"));
    EXPECT_EQ(box.read("/var/to"), "data");
    my_mv(nullptr, "/var/to");
    my_mv("/var/to", nullptr);
    EXPECT_EQ(box.commands(), "");

    my_mv("/var/none", "/var/to");
    my_mv("/var/*.log", "/var/logs");
    my_mv("/var/a b", "/var/*");
    my_mv("/var/x*", "/var/y*");
    EXPECT_EQ(taken(box),
              "/bin/mv -f \"/var/none\" \"/var/to\"\n"
              "/bin/mv -f /var/*.log \"/var/logs\"\n"
              "/bin/mv -f \"/var/a b\" /var/*\n"
              "/bin/mv -f /var/x* /var/y*\n");

    my_mkdir("/var/%s", "newdir");
    EXPECT_TRUE(S_ISDIR(lstat_of(box.file("/var/newdir")).st_mode));
    EXPECT_EQ(box.commands(), "");
    my_mkdir("/var/newdir");  // exists: the shell's mkdir -p has nothing to do
    my_mkdir("/var/deep/er");
    EXPECT_EQ(box.commands(), "mkdir -m 777 -p \"/var/newdir\"\nmkdir -m 777 -p \"/var/deep/er\"\n");
}

TEST(FileOps, CopyKeepsModesTimesAndTreesAndLeavesTheRestToTheShell) {
    Sandbox box;
    std::string big(3 * 4096 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    box.write("/src/tree/big.bin", big);
    box.write("/src/tree/sub/inner", "inner");
    box.write("/src/tree/sub/empty", "");
    ASSERT_EQ(chmod(box.file("/src/tree/big.bin").c_str(), 0640), 0);
    ASSERT_EQ(chmod(box.file("/src/tree/sub").c_str(), 0750), 0);
    set_mtime(box.file("/src/tree/big.bin"), 1000000000);
    set_mtime(box.file("/src/tree/sub"), 1100000000);

    my_cp("/src/tree", "/dst/tree");  // the parent is missing: the shell's turn
    EXPECT_EQ(taken(box), "/bin/cp -af \"/src/tree\" \"/dst/tree\"\n");
    my_cp("/src/tree", "/var/copy");
    EXPECT_EQ(box.read("/var/copy/big.bin"), big);
    EXPECT_EQ(box.read("/var/copy/sub/inner"), "inner");
    EXPECT_TRUE(box.exists("/var/copy/sub/empty"));
    struct stat file = lstat_of(box.file("/var/copy/big.bin")), dir = lstat_of(box.file("/var/copy/sub"));
    EXPECT_EQ(file.st_mode & 07777, 0640u);
    EXPECT_EQ(file.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(dir.st_mode & 07777, 0750u);
    EXPECT_EQ(dir.st_mtim.tv_sec, 1100000000);

    // A file replaces what is there; an existing directory receives a tree.
    box.write("/var/single", "old contents that are longer");
    my_cp("/src/tree/sub/inner", "/var/single");
    EXPECT_EQ(box.read("/var/single"), "inner");
    box.write("/var/merge/keep", "keep");
    my_cp("/src/tree/sub", "/var/merge");
    EXPECT_EQ(box.read("/var/merge/keep"), "keep");
    EXPECT_EQ(box.read("/var/merge/inner"), "inner");
    EXPECT_EQ(box.commands(), "");

    // Links, patterns, missing sources, a tree into itself and a file over
    // a directory are the shell's.
    box.write("/src/file", "f");
    ASSERT_EQ(symlink("file", box.file("/src/link").c_str()), 0);
    box.write("/src/dir/x", "x");
    my_cp("/src/link", "/var/link");
    my_cp("/src/missing", "/var/m");
    my_cp("/src/*", "/var/all");
    my_cp("/src/dir", "/src/dir/inside");
    my_cp("/src/file", "/src/dir");
    my_cp(nullptr, "/var/x");
    EXPECT_FALSE(box.exists("/var/link"));
    EXPECT_FALSE(box.exists("/src/dir/inside"));
    EXPECT_EQ(box.commands(),
              "/bin/cp -af \"/src/link\" \"/var/link\"\n"
              "/bin/cp -af \"/src/missing\" \"/var/m\"\n"
              "/bin/cp -af /src/* \"/var/all\"\n"
              "/bin/cp -af \"/src/dir\" \"/src/dir/inside\"\n"
              "/bin/cp -af \"/src/file\" \"/src/dir\"\n");
}

TEST(FileOps, PathsAndTypes) {
    // Exactly one '/' between the parts.
    const char *const joined[][3] = {{"/etc/", "//passwd", "/etc/passwd"},
                                     {"/etc", "passwd", "/etc/passwd"},
                                     {"/etc/", "passwd", "/etc/passwd"},
                                     {"/etc", "/passwd", "/etc/passwd"},
                                     {"/", "etc", "/etc"},
                                     {"", "etc", "/etc"},
                                     {"/etc", "", "/etc/"}};
    for (const auto &c : joined) {
        char *path = concat_path_file(c[0], c[1]);
        EXPECT_STREQ(path, c[2]) << c[0] << " + " << c[1];
        free(path);
    }
    EXPECT_EQ(concat_path_file(nullptr, "etc"), nullptr);
    EXPECT_EQ(concat_path_file("/etc", nullptr), nullptr);

    Sandbox box;
    box.write("/var/data/file", "12345");
    ASSERT_EQ(symlink(box.file("/var/data").c_str(), box.file("/var/dirlink").c_str()), 0);
    ASSERT_EQ(symlink("file", box.file("/var/data/filelink").c_str()), 0);
    // Directory, regular file, link, size; links are not followed but for the size.
    const std::vector<std::pair<const char *, std::vector<int>>> types = {
        {"/var/data", {1, 0, 0}},    {"/var/data/file", {0, 1, 0, 5}},
        {"/var/dirlink", {0, 0, 1}}, {"/var/data/filelink", {0, 0, 1, 5}},
        {"/var/none", {0, 0, 0, 0}}, {nullptr, {0, 0, 0, 0}}};
    for (const auto &[path, expected] : types) {
        std::vector<int> got = {isDirectory(path), isRegularFile(path), isSymbloicLink(path)};
        if (expected.size() == 4) got.push_back(static_cast<int>(my_file_size(path)));
        EXPECT_EQ(got, expected) << (path ? path : "null");
    }
}

// Names from a request reach the shell fallbacks as data: each recorded
// line, run by /bin/sh with a stub in the program's place, passes the name
// whole and runs nothing else.  A name with '*' is a pattern by design; it
// matches nothing here, so the shell passes it as it is.
TEST(FileOps, ShellFallbacksTakeHostileNamesAsData) {
    Sandbox box;
    box.write("/database/.keep", "");
    for (const std::string &value : hostile_values(box.file("/SENTINEL"))) {
        SCOPED_TRACE(value.substr(0, 60));
        const std::string from = "/none/" + value, to = "/var/" + value;
        auto ran = [&](const std::string &program) {
            std::string line = box.commands();
            box.write("/commands.log", "");
            std::vector<std::string> args = run_with_stub(box, line.substr(0, line.size() - 1), program);
            EXPECT_FALSE(box.exists("/SENTINEL"));
            return args;
        };
        box.write("/commands.log", "");
        my_mv(from.c_str(), to.c_str());
        EXPECT_EQ(ran("/bin/mv"), (std::vector<std::string>{"-f", from, to}));
        my_cp(from.c_str(), to.c_str());
        EXPECT_EQ(ran("/bin/cp"), (std::vector<std::string>{"-af", from, to}));
        my_rm("%s", from.c_str());
        EXPECT_EQ(ran("/bin/rm"), (std::vector<std::string>{"-rf", from}));
        my_mkdir("%s", from.c_str());
        EXPECT_EQ(ran("mkdir"), (std::vector<std::string>{"-m", "777", "-p", from}));
        box.write("/database/.qUploadFile", "upload");
        qSaveData(nullptr, 0, to.c_str(), "w");
        EXPECT_EQ(ran("/bin/mv"), (std::vector<std::string>{"/database/.qUploadFile", to}));
    }
}
