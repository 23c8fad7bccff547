// Network peers for a test: a management server on 127.0.0.1, and a pair of virtual Ethernet interfaces.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "support/sandbox.h"

namespace testing_support {

// A socket bound to a free port of 127.0.0.1 that the sandbox's port 1207 leads to; listening or not.
class PortServer {
public:
    explicit PortServer(const Sandbox &box, bool listening = true)
        : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        auto *any = reinterpret_cast<sockaddr *>(&address);
        if (bind(fd_, any, length) != 0 || (listening && listen(fd_, 8) != 0) || getsockname(fd_, any, &length))
            ADD_FAILURE() << "no server socket";
        box.write("/ports/1207", std::to_string(ntohs(address.sin_port)));
    }
    ~PortServer() { close(fd_); }
    PortServer(const PortServer &) = delete;
    PortServer &operator=(const PortServer &) = delete;

    // The text of a connection already made and closed by the sender; nothing when none waits.
    std::optional<std::string> take() {
        pollfd waiting{fd_, POLLIN, 0};
        int connection = poll(&waiting, 1, 0) == 1 ? accept(fd_, nullptr, nullptr) : -1;
        if (connection < 0) return std::nullopt;
        std::string text;
        char chunk[4096];
        for (ssize_t n; (n = read(connection, chunk, sizeof chunk)) > 0;) text.append(chunk, size_t(n));
        close(connection);
        return text;
    }

private:
    int fd_;
};

// Made with /sbin/ip; where the machine does not allow it, made() is false and the test skips.
class VethPair {
public:
    VethPair(const std::string &name, const std::string &peer) : name_(name), peer_(peer) {
        ip("link del " + name);  // left by a run that was killed
        made_ = ip("link add " + name + " type veth peer name " + peer);
    }
    ~VethPair() {
        if (made_) ip("link del " + name_);
    }
    VethPair(const VethPair &) = delete;
    VethPair &operator=(const VethPair &) = delete;

    bool made() const { return made_; }
    // Runs "ip ARGS"; true when it succeeded.
    static bool ip(const std::string &args) { return std::system(("ip " + args + " >/dev/null 2>&1").c_str()) == 0; }
    // Sets both ends up and waits until the kernel reports both running: it raises the carrier
    // asynchronously, and drops what is sent before.
    bool up() const {
        auto running = [](const std::string &interface) {
            std::ifstream state("/sys/class/net/" + interface + "/operstate");
            std::string word;
            return state >> word && word == "up";
        };
        if (!ip("link set " + name_ + " up") || !ip("link set " + peer_ + " up")) return false;
        for (int tries = 0; tries < 250; ++tries, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            if (running(name_) && running(peer_)) return true;
        return false;
    }

private:
    std::string name_, peer_;
    bool made_;
};

}  // namespace testing_support
