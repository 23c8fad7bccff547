#include "support/capture.h"

#include <regex.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

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

}  // namespace testing_support
