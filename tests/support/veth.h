// A pair of virtual Ethernet interfaces for a test, removed at its end.
#pragma once

#include <string>

namespace testing_support {

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
