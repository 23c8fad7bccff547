// Real processes for tests of commands that end processes by their recorded ids: the recorded
// command is run, then each process tells what ended it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace testing_support {

// A child that waits for a signal.  It ends with the test process and holds none of its output,
// so a failing test never leaves it behind.
class WaitingProcess {
public:
    WaitingProcess() : pid_(fork()) {
        if (pid_ != 0) return;
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int null = open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2}) dup2(null, fd);
        for (;;) pause();
    }
    ~WaitingProcess() { ending(); }
    WaitingProcess(const WaitingProcess &) = delete;
    WaitingProcess &operator=(const WaitingProcess &) = delete;

    pid_t pid() const { return pid_; }
    // The signal that ended it: SIGTERM from a command that killed it, or the test's own SIGVTALRM
    // sent now to one left alive (a pending SIGTERM is delivered first, having the lower number).
    int ending() {
        if (signal_ >= 0) return signal_;
        kill(pid_, SIGVTALRM);
        int status = 0;
        waitpid(pid_, &status, 0);
        return signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }

private:
    pid_t pid_;
    int signal_ = -1;
};

// Runs each line of commands with /bin/sh, as the appliance would.
inline void run_recorded(const std::string &commands) {
    for (size_t start = 0, end; (end = commands.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_EQ(std::system(commands.substr(start, end - start).c_str()), 0) << commands;
}

}  // namespace testing_support
