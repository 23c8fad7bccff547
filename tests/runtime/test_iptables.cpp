// The firewall command queue, read back from the real System V queues.
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/capture.h"
#include "support/sandbox.h"
#include "support/temp_root.h"
#include "webadmin.h"

namespace {

using testing_support::Ended;
using testing_support::in_child;

struct Message {
    long type;
    char text[1024];
};

// Every message waiting on the family's queue, as received: the type and
// the size must be those of a command; the text is up to its first NUL, and
// the rest of the 1024 bytes must be NUL.
std::vector<std::string> queued(key_t appliance_key) {
    std::vector<std::string> texts;
    const int id = msgget(platform::ipc_key(appliance_key), 0);
    if (id < 0) return texts;
    Message message;
    for (ssize_t n; (n = msgrcv(id, &message, sizeof message.text, 0, IPC_NOWAIT)) >= 0;) {
        EXPECT_EQ(n, 1024);
        EXPECT_EQ(message.type, 1);
        const size_t length = strnlen(message.text, sizeof message.text);
        EXPECT_LT(length, sizeof message.text);
        for (size_t i = length; i < sizeof message.text; ++i) EXPECT_EQ(message.text[i], '\0') << i;
        texts.emplace_back(message.text, length);
    }
    return texts;
}

// Queue calls run in a child, so that each test starts with no queue open.
int in_fresh_process(const std::function<int()> &call) {
    return in_child([&] { std::exit(call() == 0 ? 0 : 1); }).status;
}

TEST(Iptables, CommandsReachTheirFamilysQueueWithoutThePrefix) {
    testing_support::TempRoot root;
    EXPECT_EQ(in_fresh_process([] {
                  return my_iptables(4, "[%s]%s(),L:%d=> %s", "nat.c", "nat_add", 42, "/sbin/iptables -F X") |
                         my_iptables(4, "[x]y(),L:1=> /sbin/iptables -t nat -A %s -j MARK --set-mark 0x%s", "C1",
                                     id2mark("19700101000100")) |
                         my_iptables(6, "[x]y(),L:2=> /sbin/ip6tables -F Y") |
                         my_iptables(4, "no-blank-at-all");
              }),
              0);
    EXPECT_EQ(queued(0x912164), (std::vector<std::string>{"/sbin/iptables -F X",
                                                          "/sbin/iptables -t nat -A C1 -j MARK --set-mark 0x0000003C",
                                                          "no-blank-at-all"}));
    EXPECT_EQ(queued(0x912166), (std::vector<std::string>{"/sbin/ip6tables -F Y"}));

    // The longest command keeps its last byte for the NUL; another family is refused.
    const std::string long_command(1500, 'a');
    EXPECT_EQ(in_fresh_process([&] { return my_iptables(4, "p %s", long_command.c_str()); }), 0);
    EXPECT_EQ(queued(0x912164), (std::vector<std::string>{std::string(1021, 'a')}));
    EXPECT_EQ(in_fresh_process([] { return my_iptables(5, "p x"); }), 1);
}

TEST(Iptables, QueueRemovedUnderneathIsReopenedAfterOneFailure) {
    testing_support::TempRoot root;
    EXPECT_EQ(in_fresh_process([] {
                  if (my_iptables(4, "p first") != 0) return 10;
                  msgctl(msgget(platform::ipc_key(0x912164), 0), IPC_RMID, nullptr);
                  if (my_iptables(4, "p lost") != -1) return 11;  // the cached queue is gone
                  return my_iptables(4, "p second");
              }),
              0);
    EXPECT_EQ(queued(0x912164), (std::vector<std::string>{"second"}));
}

TEST(Iptables, DebugSettingRunsIpv4CommandsAtOnce) {
    testing_support::Sandbox box({"SYSTEM_DEBUG_IPTABLES=y"});
    box.write("/commands.log", "");
    EXPECT_EQ(in_fresh_process([] {
                  return my_iptables(4, "[a]b(),L:1=> /sbin/iptables -F X") | my_iptables(6, "[a]b(),L:1=> /sbin/ip6tables -F Y");
              }),
              0);
    EXPECT_EQ(box.commands(), "/sbin/iptables-static -F X\n");
    EXPECT_EQ(queued(0x912164), std::vector<std::string>{});
    EXPECT_EQ(queued(0x912166), std::vector<std::string>{});
}

}  // namespace
