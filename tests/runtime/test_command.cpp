#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/sandbox.h"
#include "webadmin.h"

// Run on the real system: no appliance root.
TEST(RealCommands, ShellAndExecReportTheWaitStatus) {
    const char *root = getenv("APPLIANCE_ROOT");
    const std::string saved = root ? root : "";
    unsetenv("APPLIANCE_ROOT");
    char pattern[] = "/tmp/commands.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;

    EXPECT_EQ(my_system("exit %d", 0), 0);
    EXPECT_EQ(my_system("exit %d", 1), 256);
    EXPECT_EQ(my_system("exit %d", 42), 42 * 256);
    EXPECT_EQ(my_system("/no/such/program > /dev/null 2>&1"), 127 * 256);
    EXPECT_EQ(system_action("true"), 0);
    EXPECT_EQ(system_action("false"), 256);
    EXPECT_EQ(system_action(nullptr), 0);
    // The text goes to the shell as it is: redirections and separators work.
    const std::string file = dir + "/out";
    EXPECT_EQ(my_system("echo one > '%s'; echo two >> '%s'", file.c_str(), file.c_str()), 0);
    EXPECT_EQ(testing_support::read_file(file), "one\ntwo\n");

    EXPECT_EQ(exec_action("true"), 0);
    EXPECT_EQ(exec_action("false"), 256);
    EXPECT_EQ(exec_action("/bin/sh -c \"exit 3\""), 3 * 256);
    EXPECT_EQ(my_exec("/bin/sh -c \"exit %d\"", 5), 5 * 256);
    EXPECT_EQ(exec_action("no-such-program-anywhere"), 127 * 256);
    EXPECT_EQ(exec_action(""), 127 * 256);
    EXPECT_EQ(exec_action(nullptr), 0);
    // No shell: ';' is part of a file name, and "$HOME" is not expanded.
    EXPECT_EQ(my_exec("touch %s/a;touch %s/$HOME", dir.c_str(), dir.c_str()), 0);
    EXPECT_EQ(access((dir + "/a;touch").c_str(), F_OK), 0);
    EXPECT_EQ(access((dir + "/$HOME").c_str(), F_OK), 0);
    EXPECT_NE(access((dir + "/a").c_str(), F_OK), 0);

    std::filesystem::remove_all(dir);
    if (!saved.empty()) setenv("APPLIANCE_ROOT", saved.c_str(), 1);
}

TEST(SandboxCommands, CommandsAreRecordedAsFormatted) {
    testing_support::Sandbox box;
    EXPECT_EQ(my_system("/sbin/iptables -F %s > /dev/null 2>&1", "tlog_accept"), 0);
    EXPECT_EQ(system_action("/bin/umount /mnt"), 0);
    EXPECT_EQ(exec_action("/sbin/ip link set \"eth 0\" up"), 0);
    EXPECT_EQ(my_exec("/usr/sbin/gretunnel %d", 4), 0);
    EXPECT_EQ(box.commands(),
              "/sbin/iptables -F tlog_accept > /dev/null 2>&1\n"
              "/bin/umount /mnt\n"
              "/sbin/ip link set \"eth 0\" up\n"
              "/usr/sbin/gretunnel 4\n");
}
