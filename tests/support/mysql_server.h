// A MariaDB server of a test program's own, for the MySQL tests (host-only): data directory, socket and logs in
// one temporary directory, run as the current user.  Its general query log shows every connect and statement
// that reached it.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

class MysqlServer {
public:
    bool install();
    bool start();  // and waits until it answers
    void stop();
    void remove();  // stops it and removes its directory
    // Runs statements (holding no double quote) with the server's own client: their rows, tab-separated;
    // ok, when given, tells whether the client reported no error.
    std::string sql(const std::string &statements, bool *ok = nullptr) const;
    std::string general_log() const;
    std::string error_log() const;
    std::string socket() const { return dir_ + "/sock"; }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_, user_;
    pid_t pid_ = -1;
};

// How often what occurs in text (a log's lines, say).
size_t occurrences(const std::string &text, const std::string &what);

}  // namespace testing_support
