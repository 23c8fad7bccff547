// Real processes for tests of code that ends daemons by name or by a recorded
// process id: a process of this machine under a chosen name, and the recorded
// commands run as the appliance would run them.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace testing_support {

// Forked and named (at most 15 characters, as the kernel keeps them), it sleeps until a signal
// ends it; a stubborn one ignores SIGTERM.  It holds none of the test's output and ends with the
// test process; it is killed and reaped at the end if it still runs.
class NamedProcess {
public:
    explicit NamedProcess(const char *name = "waiting", bool stubborn = false) {
        int ready[2];
        if (pipe(ready) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            prctl(PR_SET_NAME, name);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int null = open("/dev/null", O_RDWR);
            for (int fd : {0, 1, 2}) dup2(null, fd);
            if (stubborn) signal(SIGTERM, SIG_IGN);
            if (write(ready[1], "", 1) != 1) _exit(2);
            for (;;) pause();
        }
        char byte;
        if (pid_ > 0 && read(ready[0], &byte, 1) != 1) pid_ = -1;
        close(ready[0]);
        close(ready[1]);
    }
    ~NamedProcess() {
        if (pid_ <= 0 || signal_) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    NamedProcess(const NamedProcess &) = delete;
    NamedProcess &operator=(const NamedProcess &) = delete;

    pid_t pid() const { return pid_; }
    // The signal that ended it within a second, or 0 when it still runs.
    int ended_by() {
        for (int i = 0, status = 0; i < 1000 && pid_ > 0 && !signal_; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : -1;
            else usleep(1000);
        }
        return signal_;
    }

private:
    pid_t pid_ = -1;
    int signal_ = 0;
};

// Runs each line of commands with /bin/sh, as the appliance would.
inline void run_recorded(const std::string &commands) {
    for (size_t start = 0, end; (end = commands.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_EQ(std::system(commands.substr(start, end - start).c_str()), 0) << commands;
}

}  // namespace testing_support
