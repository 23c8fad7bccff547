// The platform layer: the plain system on the appliance, a recording one in a sandbox.
#include <gtest/gtest.h>
#include <sys/shm.h>
#include <syslog.h>

#include "platform/platform.h"
#include "support/sandbox.h"

// Without a root, or with "/", every call is the plain system's.
TEST(Platform, ApplianceModeIsThePlainSystem) {
    char *const yes[] = {const_cast<char *>("true"), nullptr}, *const no[] = {const_cast<char *>("/x/y"), nullptr};
    for (const char *root : {"/", static_cast<const char *>(nullptr)}) {
        root ? setenv("APPLIANCE_ROOT", root, 1) : unsetenv("APPLIANCE_ROOT");
        EXPECT_EQ(platform::path("/etc/system.info"), "/etc/system.info");
        EXPECT_EQ(platform::ipc_key(0x20071108), 0x20071108);
        EXPECT_EQ(platform::shell("exit 3"), 3 << 8);
        EXPECT_EQ(platform::exec("true", yes), 0);
        EXPECT_EQ(platform::exec("/x/y", no), 127 << 8);
    }
}

// A sandbox maps paths once, records commands (restart and sync too), serves canned output and ports,
// keeps syslog lines (%m the error of the moment, a final line feed dropped) and has System V keys of its own.
TEST(Platform, SandboxMapsPathsRecordsCommandsAndKeepsItsOwnKeys) {
    testing_support::Sandbox box;
    EXPECT_EQ(platform::path("/a") + platform::path("b") + platform::path(box.file("/c")),
              box.file("/a") + "b" + box.file("/c"));
    char *const argv[] = {const_cast<char *>("false"), nullptr};
    const std::string cmd = "touch " + box.file("/tmp/ran");
    EXPECT_EQ(platform::shell(cmd.c_str()), 0);
    EXPECT_EQ(platform::exec("false --now", argv), 0);
    platform::sync();
    platform::restart();
    box.write("/output/_bin_cat__proc_net_arp", "IP address HW type\n");
    std::string canned;
    for (const char *command : {"/bin/cat /proc/net/arp", "/sbin/ip link show"}) {
        FILE *f = platform::popen_read(command);
        for (int c; f && (c = fgetc(f)) != EOF;) canned += static_cast<char>(c);
        canned += f && platform::pclose_read(f) == 0 ? "|" : "(failed)";
    }
    EXPECT_EQ(canned, "IP address HW type\n||");
    EXPECT_FALSE(box.exists("/tmp/ran"));
    EXPECT_EQ(box.commands(), cmd + "\nfalse --now\n<sync>\n<reboot>\n/bin/cat /proc/net/arp\n/sbin/ip link show\n");
    box.write("/ports/1207", "40123\n");
    EXPECT_EQ(std::to_string(platform::tcp_port(1207)) + " " + std::to_string(platform::tcp_port(80)), "40123 80");
    errno = ENOENT;
    platform::log(LOG_ERR, "failed(%m)!!: %s 100%%\n", "50% done");
    platform::log(LOG_ALERT, "%s", std::string(3000, 'x').c_str());
    EXPECT_EQ(box.read("/syslog.log"),
              "<3>failed(No such file or directory)!!: 50% done 100%\n<1>" + std::string(2047, 'x') + "\n");
    testing_support::Sandbox other;  // entered last: its keys; the low half of the appliance key kept
    const key_t kb = platform::ipc_key(0x20100311);
    setenv("APPLIANCE_ROOT", box.root().c_str(), 1);
    const key_t ka = platform::ipc_key(0x20100311), ka2 = platform::ipc_key(0x20070824);
    EXPECT_TRUE(ka != 0x20100311 && ka != kb && (ka & 0xffff) == 0x0311 && ka >> 16 == ka2 >> 16) << ka << " " << kb;
    ASSERT_TRUE(shmget(ka, 64, IPC_CREAT | 0600) >= 0 && shmget(kb, 64, IPC_CREAT | 0600) >= 0);
    EXPECT_GE(platform::remove_sandbox_ipc(box.root()), 1);
    EXPECT_TRUE(shmget(ka, 64, 0600) < 0 && shmget(kb, 64, 0600) >= 0);  // the other sandbox keeps its own
}
