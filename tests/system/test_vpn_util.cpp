// The tunnels' connection operations: the recorded kill commands are run
// against real processes, and the daemons' command lines against a stub.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "support/hostile.h"
#include "support/module_harness.h"
#include "support/waiting_process.h"

using namespace testing_support;

namespace {

std::string kills(std::initializer_list<const WaitingProcess *> sleepers) {
    std::string lines;
    for (const WaitingProcess *s : sleepers) lines += "kill " + std::to_string(s->pid()) + "\n";
    return lines;
}

}  // namespace

TEST(VpnUtil, SessionsEndByTheirRecordedProcesses) {
    ModuleBox box;
    WaitingProcess abc1, def1, abc2, other_wan, client, gre;
    const std::map<std::string, std::string> run = {
        {"WAN1_Sabc_1.pid", std::to_string(abc1.pid()) + " ppp0\n"},
        {"WAN1_Sdef_1.pid", std::to_string(def1.pid()) + "\n"},
        {"WAN2_Sabc_7.pid", std::to_string(abc2.pid()) + "\n"},
        {"WAN10_Sdef_1.pid", std::to_string(other_wan.pid()) + "\n"},
        {"WAN1_Szero.pid", "0\n"},
        {"WAN1_Snegative.pid", "-5\n"},
        {"WAN1_Stext.pid", "pid\n"},
        {"WAN1_Sempty.pid", ""},
        {"WAN2_C5f3a1c2b.pid", std::to_string(client.pid()) + "\n"},
    };
    for (const auto &[name, content] : run) box.write("/var/run/" + name, content);
    std::filesystem::create_directories(box.file("/var/run/WAN1_Sunreadable.pid"));
    box.write("/var/log/gretunnel/20240101000000", std::to_string(gre.pid()) + "\n");
    box.write("/var/log/gretunnel/20240101000001", "0\n");
    box.write("/var/log/other", std::to_string(other_wan.pid()) + "\n");

    vpn_pptp_server_record account{};
    std::strcpy(account.interface_id, "abc");
    disconnectPPTPServer(&account);
    const std::string by_account = box.take().commands;
    EXPECT_EQ(by_account, kills({&abc1, &abc2}));
    std::filesystem::remove(box.file("/var/run/WAN1_Sabc_1.pid"));
    disconnectPPTPServerbyWAN(1);
    const std::string by_wan = box.take().commands;
    EXPECT_EQ(by_wan, kills({&def1}));
    run_recorded(by_account + by_wan);

    vpn_pptp_client_record connection{};
    connection.wan_num = 2;
    std::strcpy(connection.interface_id, "5f3a1c2b");
    disconnectPPTPClient(&connection);
    gre_tunnel_record tunnel{};
    for (const char *id : {"20240101000000", "20240101000001", "20240101000002", "../other"}) {
        std::snprintf(tunnel.id, sizeof tunnel.id, "%s", id);
        disconnectGreTunnel(&tunnel);
    }
    const std::string stopped = box.take().commands;
    EXPECT_EQ(stopped, kills({&client, &gre}));
    run_recorded(stopped);

    for (WaitingProcess *ended : {&abc1, &abc2, &def1, &client, &gre}) EXPECT_EQ(ended->ending(), SIGTERM);
    EXPECT_EQ(other_wan.ending(), SIGVTALRM);

    // A session file gives its first number, 0 when there is none.
    for (auto [name, pid] :
         {std::pair{"WAN1_Snegative.pid", -5}, {"WAN1_Sunreadable.pid", 0}, {"../run/WAN1_Sdef_1.pid", 0}})
        EXPECT_EQ(getPPTPPID(name), pid) << name;
    killPPTP_pidfile("WAN1_Snegative.pid");
    EXPECT_EQ(box.take().commands, "");
}

// The daemons get each value as one argument, whatever it holds.
TEST(VpnUtil, DaemonCommandLines) {
    ModuleBox box;
    vpn_pptp_client_record c{};
    std::strcpy(c.user_name, "bob");
    std::strcpy(c.server, "vpn.example");
    std::strcpy(c.interface_id, "5f3a1c2b");
    c.wan_num = 2;
    connectPPTPClient(&c);
    gre_tunnel_record g{};
    std::strcpy(g.mark, "5f3a1c2b");
    connectGreTunnel(&g);
    EXPECT_EQ(box.take().commands,
              "/usr/sbin/pppd.Client plugin /usr/lib/pppd/2.4.4/pptp.so pptp_server vpn.example "
              "pptp_wan_port 2 user bob remotename vpn.example linkname Client nodeflate nobsdcomp "
              "newname WAN2_C5f3a1c2b wanunit 2 ipparam vpn.example&\n/usr/sbin/gretunnel 5f3a1c2b\n");

    const std::string sentinel = box.file("/sentinel");
    for (const std::string &v : hostile_values(sentinel)) {
        std::snprintf(c.server, sizeof c.server, "%s", v.c_str());
        std::snprintf(c.user_name, sizeof c.user_name, "%s", v.c_str());
        std::snprintf(c.interface_id, sizeof c.interface_id, "%s", v.c_str());
        connectPPTPClient(&c);
        const std::string line = box.take().commands;
        const auto args = run_with_stub(box, line.substr(0, line.size() - 1), "/usr/sbin/pppd.Client");
        ASSERT_EQ(args.size(), 20u) << line;
        EXPECT_EQ(args[3], c.server);
        EXPECT_EQ(args[7], c.user_name);
        EXPECT_EQ(args[15], "WAN2_C" + std::string(c.interface_id));
        EXPECT_EQ(args[19], c.server);

        std::snprintf(g.mark, sizeof g.mark, "%s", v.c_str());
        connectGreTunnel(&g);
        const std::string gre = box.take().commands;
        EXPECT_EQ(run_with_stub(box, gre.substr(0, gre.size() - 1), "/usr/sbin/gretunnel"),
                  std::vector<std::string>{g.mark});
    }
    EXPECT_FALSE(std::filesystem::exists(sentinel));
}
