#include "support/port_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/sandbox.h"

namespace testing_support {

PortServer::PortServer(const Sandbox &box, bool listening) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        (listening && listen(fd_, 8) != 0) ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        ADD_FAILURE() << "no server socket";
    box.write("/ports/1207", std::to_string(ntohs(address.sin_port)));
}

PortServer::~PortServer() { close(fd_); }

std::optional<std::string> PortServer::take() {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, 0) != 1) return std::nullopt;
    int connection = accept(fd_, nullptr, nullptr);
    if (connection < 0) return std::nullopt;
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(connection, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(n));
    close(connection);
    return text;
}

}  // namespace testing_support
