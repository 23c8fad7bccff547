#include "support/network.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

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

bool VethPair::ip(const std::string &args) {
    return std::system(("ip " + args + " >/dev/null 2>&1").c_str()) == 0;
}

namespace {

bool running(const std::string &interface) {
    std::ifstream state("/sys/class/net/" + interface + "/operstate");
    std::string word;
    return state >> word && word == "up";
}

}  // namespace

VethPair::VethPair(const std::string &name, const std::string &peer)
    : name_(name), peer_(peer), made_(false) {
    ip("link del " + name);  // left by a run that was killed
    made_ = ip("link add " + name + " type veth peer name " + peer);
}

bool VethPair::up() const {
    if (!ip("link set " + name_ + " up") || !ip("link set " + peer_ + " up")) return false;
    for (int tries = 0; tries < 250; ++tries) {
        if (running(name_) && running(peer_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

VethPair::~VethPair() {
    if (made_) ip("link del " + name_);
}

}  // namespace testing_support
