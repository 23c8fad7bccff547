// A management server on 127.0.0.1 for the senders of messages.
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

}  // namespace testing_support
