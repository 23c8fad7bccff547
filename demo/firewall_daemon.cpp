// The demo appliance's stand-in for the firewall daemon: takes the commands
// the library queues for the packet filter, both families, and appends each
// as one line to DIR/firewall.log instead of applying it, so that what the
// pages did to the firewall can be read.  Runs until SIGINT or SIGTERM, then
// drains what is still queued.
//   firewall-daemon DIR
#include <errno.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/msg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "webadmin.h"

namespace {

constexpr key_t kQueueKeys[] = {0x912164, 0x912166};  // IPv4, IPv6
// The library sends type 1; this type, sent by the daemon itself after the
// signal, tells a reader that everything queued before it is in the log.
constexpr long kStop = 2;

struct Message {
    long type;
    char text[1024];
};

std::mutex log_lock;

// One family's reader, blocked in msgrcv as the appliance's daemon is, so a
// sender never waits on a poll interval.  The log is flushed whenever the
// queue is momentarily empty.
void read_queue(int queue, std::FILE *log) {
    Message message;
    for (int flags = 0;;) {
        if (msgrcv(queue, &message, sizeof message.text, 0, flags) < 0) {
            if (errno == ENOMSG) {
                std::lock_guard lock(log_lock);
                std::fflush(log);
                flags = 0;
                continue;
            }
            if (errno == EINTR) continue;
            return;
        }
        if (message.type == kStop) break;
        std::lock_guard lock(log_lock);
        std::fprintf(log, "%.*s\n", static_cast<int>(strnlen(message.text, sizeof message.text)), message.text);
        flags = IPC_NOWAIT;
    }
    std::lock_guard lock(log_lock);
    std::fflush(log);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: firewall-daemon DIR\n");
        return 2;
    }
    // The stop signals are taken by sigwait below, never by the readers;
    // one sent before the log exists waits until then.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    setenv("APPLIANCE_ROOT", argv[1], 1);
    int queues[2];
    for (int i = 0; i < 2; ++i) {
        queues[i] = msgget(my_ipc_key(kQueueKeys[i]), IPC_CREAT | 0600);
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
    std::thread readers[] = {std::thread(read_queue, queues[0], log), std::thread(read_queue, queues[1], log)};
    int signal_number;
    sigwait(&stop_signals, &signal_number);
    for (int queue : queues) {
        Message stop{kStop, {}};
        while (msgsnd(queue, &stop, sizeof stop.text, 0) < 0 && errno == EINTR) {
        }
    }
    for (std::thread &reader : readers) reader.join();
    std::fclose(log);
    return 0;
}
