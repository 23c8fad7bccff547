// The senders to the appliance's daemons over their local sockets, against
// a listener of the test's own.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>

#include "support/temp_root.h"
#include "webadmin.h"

namespace {

using testing_support::TempRoot;

// A daemon's listening socket at an appliance path.
class Listener {
public:
    Listener(const TempRoot &root, const std::string &appliance_path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
        root.write(appliance_path, "");
        const std::string path = root.file(appliance_path);
        unlink(path.c_str());
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bound_ = bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && listen(fd_, 4) == 0;
    }
    ~Listener() { close(fd_); }

    bool bound() const { return bound_; }

    // What a connection already made and closed by the sender carried, or
    // nothing when none is waiting.
    std::optional<std::string> take() {
        timeval none{0, 0};
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(fd_, &ready);
        if (select(fd_ + 1, &ready, nullptr, nullptr, &none) != 1) return std::nullopt;
        const int connection = accept(fd_, nullptr, nullptr);
        std::string text;
        char chunk[4096];
        for (ssize_t n; (n = read(connection, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(n));
        close(connection);
        return text;
    }

private:
    int fd_;
    bool bound_ = false;
};

TEST(Sender, CommandsAndQueriesReachTheirDaemonsAsTheyAre) {
    TempRoot root({"/var/run"});
    Listener commands(root, "/var/run/runcommand"), queries(root, "/var/run/SQLQueryd.sock");
    ASSERT_TRUE(commands.bound() && queries.bound());

    EXPECT_EQ(my_sendCmd2sock("/sbin/iptables -F X; echo \"$(id)\"\n"), 0);
    EXPECT_EQ(commands.take(), "/sbin/iptables -F X; echo \"$(id)\"\n");  // bytes, no terminator
    EXPECT_EQ(my_sqlquery_sock("INSERT INTO t VALUES (%d, '%s')", 7, "a b"), 0);
    EXPECT_EQ(queries.take(), "INSERT INTO t VALUES (7, 'a b')");
    const std::string big(60000, 'q');
    EXPECT_EQ(my_sqlquery_sock("%s", big.c_str()), 0);
    EXPECT_EQ(queries.take(), big);
    EXPECT_EQ(commands.take(), std::nullopt);
    EXPECT_EQ(queries.take(), std::nullopt);

    EXPECT_EQ(my_sendCmd2sock(nullptr), -1);
    EXPECT_EQ(my_sqlquery_sock(nullptr), -1);
}

TEST(Sender, AbsentDaemonIsAFailure) {
    TempRoot root({"/var/run"});
    EXPECT_EQ(my_sendCmd2sock("true"), -1);  // no socket at all
    root.write("/var/run/SQLQueryd.sock", "a plain file");
    EXPECT_EQ(my_sqlquery_sock("x"), -1);
}

}  // namespace
