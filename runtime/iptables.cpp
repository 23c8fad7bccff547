// The firewall command queue: packet-filter commands handed, in order, to
// the daemon that applies them, one System V message queue per family.
#include <stdarg.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <syslog.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "webadmin.h"

namespace {

constexpr key_t kQueueKey4 = 0x912164, kQueueKey6 = 0x912166;
constexpr size_t kText = 1024;

struct Message {
    long type;
    char text[kText];
};

int queue_id[2] = {-1, -1};  // per family, opened on first use

// A full queue is sent to again at once until the daemon reads it.  A
// process kept waiting for about two seconds is told so, once, on standard
// error (a CGI's goes to the web server's log).
bool told_waiting = false;

void waiting(int family, std::chrono::steady_clock::time_point since) {
    if (told_waiting || std::chrono::steady_clock::now() - since < std::chrono::seconds(2)) return;
    told_waiting = true;
    std::fprintf(stderr, "%s: waiting for the firewall daemon to read the IPv%d firewall queue\n",
                 program_invocation_short_name, family);
}

}  // namespace

extern "C" {

int my_iptables(int family, const char *format, ...) {
    if (family != 4 && family != 6) return -1;
    static char text[kText];
    va_list args;
    va_start(args, format);
    const int n = format ? std::vsnprintf(text, sizeof text, format, args) : -1;
    va_end(args);
    if (n < 0) return -1;
    // The first word is the caller's diagnostic prefix.
    const char *blank = std::strchr(text, ' ');
    const char *command = blank ? blank + 1 : text;

    if (IF_DEFINE("SYSTEM_DEBUG_IPTABLES")) {
        if (family == 6) return 0;
        const char *after_word = std::strchr(command, ' ');
        return my_system("/sbin/iptables-static %s", after_word ? after_word + 1 : "");
    }

    int &id = queue_id[family == 4 ? 0 : 1];
    if (id < 0) {
        const key_t key = platform::ipc_key(family == 4 ? kQueueKey4 : kQueueKey6);
        id = msgget(key, 0600);
        if (id < 0) id = msgget(key, IPC_CREAT | 0600);
        if (id < 0) {
            platform::log(LOG_ERR, "iptables msgid < 0: %s", text);
            return -1;
        }
    }
    static Message message;
    message.type = 1;
    std::memset(message.text, 0, sizeof message.text);
    std::memcpy(message.text, command, strnlen(command, sizeof message.text - 1));
    int sent;
    const auto since = std::chrono::steady_clock::now();
    while ((sent = msgsnd(id, &message, sizeof message.text, IPC_NOWAIT)) < 0 && errno == EAGAIN) waiting(family, since);
    if (sent < 0) {
        id = -1;
        platform::log(LOG_ERR, "iptables msgsnd failed(%m)!!: %s", command);
        return -1;
    }
    return 0;
}

}  // extern "C"
