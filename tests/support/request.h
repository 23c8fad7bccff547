// A request run in this process: its output captured, its stops expected,
// its CGI variables and body, and a bare appliance root.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/sandbox.h"
#include "webadmin.h"

namespace testing_support {

// Standard output of body, run in this process.
template <typename F>
std::string captured_stdout(F body) {
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}

struct Ended {
    int status;       // exit status, or 128 + signal
    std::string out;  // standard output
};

// Runs body in a forked child with its standard output on a pipe; a body
// that returns ends the child with status 0.
Ended in_child(const std::function<void()> &body);

// Whole-text match of a POSIX extended regular expression.
bool matches(const std::string &text, const std::string &pattern);

// The death-test pattern of a stop with this message: outside a web server
// the library prints "Error: MESSAGE".
std::string stop_message(const std::string &message);

// A bare appliance root without tools/make-root, the given appliance
// directories made in it; at the end it is removed, its IPC objects included.
class TempRoot : public Root {
public:
    explicit TempRoot(const std::vector<std::string> &directories = {});
    ~TempRoot();
};

using Env = std::map<std::string, std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// Unsets every CGI variable the request layer reads.
void clear_request_env();

// Exactly the CGI variables given, the body on standard input and a private
// appliance root with a /database directory; the form value list and the
// variables are cleared at the end.
class Request {
public:
    explicit Request(const Env &env, const std::string &body = {});
    ~Request();
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    const std::string &root() const { return root_.root(); }

private:
    TempRoot root_;
};

// The name/value pairs of a list, in order.
Pairs pairs(const q_entry *list);

// The decoded form value list.
Pairs form_list();

// qValuePrint()'s lines from the cookie count on.
std::string counts();

}  // namespace testing_support

// The statement ends the process with status 1 printing what matches
// pattern; the stop is printed outside a web server and sent to stderr,
// where the death test looks.
#define EXPECT_FATAL(statement, pattern) \
    EXPECT_EXIT(                         \
        {                                \
            unsetenv("REMOTE_ADDR");     \
            dup2(2, 1);                  \
            statement;                   \
        },                               \
        testing::ExitedWithCode(1), pattern)

// The statement stops with exactly this message.
#define EXPECT_STOPS(statement, message) EXPECT_FATAL(statement, testing_support::stop_message(message))
