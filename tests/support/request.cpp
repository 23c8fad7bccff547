#include "support/request.h"

#include <regex.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/platform.h"
#include "support/sandbox.h"

namespace testing_support {

Ended in_child(const std::function<void()> &body) {
    fflush(stdout);
    int fds[2];
    if (pipe(fds) != 0) return {-1, ""};
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return {-1, ""};
    }
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], 1);
        close(fds[1]);
        body();
        fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    char chunk[4096];
    for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) out.append(chunk, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out};
}

bool matches(const std::string &text, const std::string &pattern) {
    regex_t re;
    if (regcomp(&re, ("^" + pattern + "$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
    bool ok = regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
    regfree(&re);
    return ok;
}

std::string stop_message(const std::string &message) {
    std::string pattern = "Error: ";
    for (char c : message) {
        if (std::strchr("\\^$.|?*+()[]{}", c)) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

TempRoot::TempRoot(const std::vector<std::string> &directories) {
    enter();
    for (const auto &directory : directories) std::filesystem::create_directories(root() + directory);
}

TempRoot::~TempRoot() {
    leave();
    platform::remove_sandbox_ipc(root());
    std::error_code ignored;
    std::filesystem::remove_all(root(), ignored);
}

namespace {

const char *const kRequestVariables[] = {"REQUEST_METHOD", "QUERY_STRING", "REQUEST_URI", "CONTENT_TYPE",
                                         "CONTENT_LENGTH", "HTTP_COOKIE",  "REMOTE_ADDR", "REMOTE_HOST",
                                         "SCRIPT_NAME"};

// Makes body the whole of standard input (through a temporary file).
void feed_stdin(const std::string &body) {
    FILE *file = tmpfile();
    if (!file) return;
    fwrite(body.data(), 1, body.size(), file);
    rewind(file);
    dup2(fileno(file), 0);
    fclose(file);
    clearerr(stdin);
}

}  // namespace

void clear_request_env() {
    for (const char *name : kRequestVariables) unsetenv(name);
}

Request::Request(const Env &env, const std::string &body) : root_({"/database"}) {
    clear_request_env();
    for (const auto &[name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    feed_stdin(body);
}

Request::~Request() {
    qFree();
    clear_request_env();
}

Pairs pairs(const q_entry *list) {
    Pairs out;
    for (; list; list = list->next) out.emplace_back(list->name, list->value);
    return out;
}

Pairs form_list() { return pairs(qValueList()); }

std::string counts() {
    std::string out = captured_stdout([] { qValuePrint(); });
    size_t at = out.find("COOKIE = ");
    return at == std::string::npos ? out : out.substr(at);
}

}  // namespace testing_support
