// Network peers for a test: a management server on 127.0.0.1, and a pair of
// virtual Ethernet interfaces.
#pragma once

#include <optional>
#include <string>

namespace testing_support {

class Sandbox;

// A socket bound to a free port of 127.0.0.1 that the sandbox's port 1207
// leads to; listening or not.
class PortServer {
public:
    explicit PortServer(const Sandbox &box, bool listening = true);
    ~PortServer();
    PortServer(const PortServer &) = delete;
    PortServer &operator=(const PortServer &) = delete;

    // The text of a connection already made and closed by the sender, or
    // nothing when no connection is waiting.
    std::optional<std::string> take();

private:
    int fd_;
};

// Made with /sbin/ip; a machine that does not let the test make one leaves
// made() false and the test says why it skips.
class VethPair {
public:
    VethPair(const std::string &name, const std::string &peer);
    ~VethPair();
    VethPair(const VethPair &) = delete;
    VethPair &operator=(const VethPair &) = delete;

    bool made() const { return made_; }
    // Runs "ip ARGS"; true when it succeeded.
    static bool ip(const std::string &args);
    // Sets both ends up and waits until the kernel reports both running: it
    // raises the carrier asynchronously, and drops what is sent before.
    bool up() const;

private:
    std::string name_;
    std::string peer_;
    bool made_;
};

}  // namespace testing_support
