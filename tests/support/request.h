// A request run in this process: its output captured, its stops expected,
// its CGI variables and body, and a bare appliance root.
#pragma once

#include <gtest/gtest.h>
#include <regex.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/platform.h"
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

// Runs body in a forked child, its output on a pipe; returning ends it with 0.
inline Ended in_child(const std::function<void()> &body) {
    fflush(stdout);
    int fds[2];
    if (pipe(fds) != 0) return {-1, ""};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        body();
        fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char chunk[4096];
    for (ssize_t n; pid > 0 && (n = read(fds[0], chunk, sizeof chunk)) > 0;) out.append(chunk, size_t(n));
    close(fds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return {-1, ""};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out};
}

// Whole-text match of a POSIX extended regular expression.
inline bool matches(const std::string &text, const std::string &pattern) {
    regex_t re;
    if (regcomp(&re, ("^" + pattern + "$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
    bool ok = regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
    regfree(&re);
    return ok;
}

// The death-test pattern of a stop with message ("Error: MESSAGE" outside a web server).
inline std::string stop_message(const std::string &message) {
    std::string pattern = "Error: ";
    for (char c : message) pattern += (std::strchr("\\^$.|?*+()[]{}", c) ? "\\" : "") + std::string(1, c);
    return pattern;
}

// A bare root (no tools/make-root) with the given directories; removed with its IPC objects.
class TempRoot : public Root {
public:
    explicit TempRoot(const std::vector<std::string> &directories = {}) {
        enter();
        for (const auto &directory : directories) std::filesystem::create_directories(root() + directory);
    }
    ~TempRoot() {
        leave();
        platform::remove_sandbox_ipc(root());
        std::error_code ignored;
        std::filesystem::remove_all(root(), ignored);
    }
};

using Env = std::map<std::string, std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// Unsets every CGI variable the request layer reads.
inline void clear_request_env() {
    for (const char *name : {"REQUEST_METHOD", "QUERY_STRING", "REQUEST_URI", "CONTENT_TYPE", "CONTENT_LENGTH",
                             "HTTP_COOKIE", "REMOTE_ADDR", "REMOTE_HOST", "SCRIPT_NAME"})
        unsetenv(name);
}

// Exactly the CGI variables given, body on standard input (through a temporary file) and a
// private root with a /database directory; the form values and variables are cleared at the end.
class Request {
public:
    explicit Request(const Env &env, const std::string &body = {}) : root_({"/database"}) {
        clear_request_env();
        for (const auto &[name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        if (FILE *file = tmpfile()) {
            fwrite(body.data(), 1, body.size(), file);
            rewind(file);
            dup2(fileno(file), 0);
            fclose(file);
            clearerr(stdin);
        }
    }
    ~Request() {
        qFree();
        clear_request_env();
    }
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;
    const std::string &root() const { return root_.root(); }

private:
    TempRoot root_;
};

// The name/value pairs of a list, in order.
inline Pairs pairs(const q_entry *list) {
    Pairs out;
    for (; list; list = list->next) out.emplace_back(list->name, list->value);
    return out;
}
// The decoded form value list.
inline Pairs form_list() { return pairs(qValueList()); }
// qValuePrint()'s lines from the cookie count on.
inline std::string counts() {
    std::string out = captured_stdout([] { qValuePrint(); });
    size_t at = out.find("COOKIE = ");
    return at == std::string::npos ? out : out.substr(at);
}

}  // namespace testing_support

// The statement ends the process with status 1 printing what matches pattern (to stderr, where death tests look).
#define EXPECT_FATAL(statement, pattern) \
    EXPECT_EXIT({ unsetenv("REMOTE_ADDR"); dup2(2, 1); statement; }, testing::ExitedWithCode(1), pattern)

// The statement stops with exactly this message.
#define EXPECT_STOPS(statement, message) EXPECT_FATAL(statement, testing_support::stop_message(message))
