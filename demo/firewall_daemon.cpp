// The demo appliance's stand-in for the firewall daemon: takes the commands
// the library queues for the packet filter, both families, and appends each
// as one line to DIR/firewall.log instead of applying it, so that what the
// pages did to the firewall can be read.  Runs until SIGINT or SIGTERM, then
// drains what is still queued.
//   firewall-daemon DIR
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr key_t kQueueKeys[] = {0x912164, 0x912166};  // IPv4, IPv6

struct Message {
    long type;
    char text[1024];
};

volatile sig_atomic_t stopping = 0;

void on_signal(int) { stopping = 1; }

// Moves every waiting command of one queue into the log; how many.
int drain(int queue, std::FILE *log) {
    Message message;
    int moved = 0;
    while (msgrcv(queue, &message, sizeof message.text, 0, IPC_NOWAIT) >= 0) {
        std::fprintf(log, "%.*s\n", static_cast<int>(strnlen(message.text, sizeof message.text)), message.text);
        ++moved;
    }
    if (moved) std::fflush(log);
    return moved;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: firewall-daemon DIR\n");
        return 2;
    }
    setenv("APPLIANCE_ROOT", argv[1], 1);
    int queues[2];
    for (int i = 0; i < 2; ++i) {
        queues[i] = msgget(platform::ipc_key(kQueueKeys[i]), IPC_CREAT | 0600);
        if (queues[i] < 0) {
            std::perror("firewall-daemon: msgget");
            return 1;
        }
    }
    std::FILE *log = std::fopen((std::string(argv[1]) + "/firewall.log").c_str(), "a");
    if (!log) {
        std::perror("firewall-daemon: firewall.log");
        return 1;
    }
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    while (!stopping)
        if (drain(queues[0], log) + drain(queues[1], log) == 0) usleep(20000);
    drain(queues[0], log);
    drain(queues[1], log);
    std::fclose(log);
    return 0;
}
