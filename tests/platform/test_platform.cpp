// The sandbox contract of the platform layer.
#include <gtest/gtest.h>
#include <syslog.h>
#include <sys/shm.h>

#include <cstdlib>

#include "platform/platform.h"
#include "support/sandbox.h"

using namespace testing_support;

TEST(Platform, ApplianceModeIsThePlainSystem) {
    unsetenv("APPLIANCE_ROOT");
    EXPECT_EQ(platform::path("/etc/system.info"), "/etc/system.info");
    EXPECT_EQ(platform::ipc_key(0x20071108), 0x20071108);
    EXPECT_EQ(platform::shell("exit 3"), 3 << 8);
    char *const argv[] = {const_cast<char *>("true"), nullptr};
    EXPECT_EQ(platform::exec("true", argv), 0);
    char *const missing[] = {const_cast<char *>("/nonexistent/program"), nullptr};
    EXPECT_EQ(platform::exec("/nonexistent/program", missing), 127 << 8);
    setenv("APPLIANCE_ROOT", "/", 1);
    EXPECT_EQ(platform::path("/var/tmp/x"), "/var/tmp/x");
    EXPECT_EQ(platform::ipc_key(0x20130131), 0x20130131);
    unsetenv("APPLIANCE_ROOT");
}

TEST(Platform, SandboxMapsPathsAndRecordsCommands) {
    Sandbox box;
    EXPECT_EQ(platform::path("/etc/system.info"), box.root() + "/etc/system.info");
    EXPECT_EQ(platform::path("relative/file"), "relative/file");
    // A path already inside the root is not mapped twice.
    EXPECT_EQ(platform::path(box.root() + "/etc/x"), box.root() + "/etc/x");

    std::string sentinel = box.file("/tmp/ran");
    EXPECT_EQ(platform::shell(("touch " + sentinel).c_str()), 0);
    char *const argv[] = {const_cast<char *>("false"), nullptr};
    EXPECT_EQ(platform::exec("false --now", argv), 0);
    EXPECT_EQ(platform::libc_system("/sbin/reboot"), 0);
    platform::sync();
    platform::restart();
    EXPECT_FALSE(box.exists("/tmp/ran"));
    EXPECT_EQ(box.commands(), "touch " + sentinel + "\nfalse --now\n/sbin/reboot\n<sync>\n<reboot>\n");

    box.write("/output/_bin_cat__proc_net_arp", "IP address HW type\n");
    FILE *canned = platform::popen_read("/bin/cat /proc/net/arp");
    ASSERT_NE(canned, nullptr);
    char line[64] = "";
    EXPECT_NE(std::fgets(line, sizeof line, canned), nullptr);
    EXPECT_STREQ(line, "IP address HW type\n");
    platform::pclose_read(canned);
    EXPECT_EQ(platform::tcp_port(1207), 1207);
    box.write("/ports/1207", "40123\n");
    EXPECT_EQ(platform::tcp_port(1207), 40123);

    FILE *none = platform::popen_read("/sbin/ip link show");
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(std::fgetc(none), EOF);
    platform::pclose_read(none);

    // Syslog messages: one line each, %m the error of the moment, a final
    // line feed dropped.
    errno = ENOENT;
    platform::log(LOG_ERR, "failed(%m)!!: %s 100%%\n", "50% done");
    platform::log(LOG_ALERT, "%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(box.read("/syslog.log"), "<3>failed(No such file or directory)!!: 50% done 100%\n<1>" +
                                           std::string(2047, 'x') + "\n");
}

TEST(Platform, SandboxKeysArePrivateAndRemovable) {
    Sandbox a, b;
    setenv("APPLIANCE_ROOT", a.root().c_str(), 1);
    key_t ka = platform::ipc_key(0x20100311);
    key_t ka2 = platform::ipc_key(0x20070824);
    setenv("APPLIANCE_ROOT", b.root().c_str(), 1);
    key_t kb = platform::ipc_key(0x20100311);
    EXPECT_NE(ka, 0x20100311);
    EXPECT_NE(ka, kb);
    EXPECT_EQ(ka & 0xffff, 0x0311);
    EXPECT_EQ(ka >> 16, ka2 >> 16);

    int id = shmget(ka, 64, IPC_CREAT | 0600);
    ASSERT_GE(id, 0);
    int other = shmget(kb, 64, IPC_CREAT | 0600);
    ASSERT_GE(other, 0);
    EXPECT_GE(platform::remove_sandbox_ipc(a.root()), 1);
    EXPECT_LT(shmget(ka, 64, 0600), 0);
    EXPECT_GE(shmget(kb, 64, 0600), 0);  // the other sandbox keeps its own
}
