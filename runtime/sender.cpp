// One text to a daemon of the appliance (the command daemon, the SQL query
// daemon, over local sockets) or to the central management server over TCP.
// The text goes as its bytes, then the connection is closed; no answer is
// read.  The server connection may take at most 100 milliseconds, so an
// unreachable server never holds up the page.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "webadmin.h"

namespace {

constexpr int kServerPort = 1207;
constexpr const char *kCommandDaemon = "/var/run/runcommand";
constexpr const char *kQueryDaemon = "/var/run/SQLQueryd.sock";
constexpr int kConnectWaitMs = 100;

bool set_blocking(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    flags = blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK;
    return fcntl(fd, F_SETFL, flags) == 0;
}

bool connect_briefly(int fd, const sockaddr_in &server) {
    if (!set_blocking(fd, false)) return false;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0) {
        if (errno != EINPROGRESS) return false;
        pollfd wait{fd, POLLOUT, 0};
        int ready;
        do {
            ready = poll(&wait, 1, kConnectWaitMs);
        } while (ready < 0 && errno == EINTR);
        if (ready != 1) return false;
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
    }
    return set_blocking(fd, true);
}

bool send_all(int fd, const char *text, size_t length) {
    while (length > 0) {
        // A server that went away must not end the CGI with SIGPIPE.
        ssize_t sent = send(fd, text, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        text += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

// The whole text to the daemon listening at the appliance path; false when
// it cannot be reached.
bool to_daemon(const char *socket_path, const char *text) {
    if (!text) return false;
    const std::string path = platform::path(socket_path);
    sockaddr_un daemon{};
    daemon.sun_family = AF_UNIX;
    if (path.size() >= sizeof daemon.sun_path) return false;
    memcpy(daemon.sun_path, path.c_str(), path.size() + 1);
    runtime::unique_fd connection(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (connection.get() < 0 ||
        connect(connection.get(), reinterpret_cast<const sockaddr *>(&daemon), sizeof daemon) != 0)
        return false;
    return send_all(connection.get(), text, strlen(text));
}

}  // namespace

extern "C" int my_sendCmd2sock(const char *command) { return to_daemon(kCommandDaemon, command) ? 0 : -1; }

extern "C" int my_sqlquery_sock(const char *format, ...) {
    va_list args;
    va_start(args, format);
    runtime::heap_text text(xasprintf(format, args));
    va_end(args);
    return to_daemon(kQueryDaemon, text.get()) ? 0 : -1;
}

extern "C" int my_sqlquery_tcp(const char *address, const char *format, ...) {
    va_list args;
    va_start(args, format);
    runtime::heap_text text(xasprintf(format, args));
    va_end(args);
    if (!text || !address) return -1;

    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(platform::tcp_port(kServerPort)));
    if (inet_pton(AF_INET, address, &server.sin_addr) != 1) return -1;

    runtime::unique_fd connection(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (connection.get() < 0 || !connect_briefly(connection.get(), server)) return -1;
    return send_all(connection.get(), text.get(), strlen(text.get())) ? 0 : -1;
}
