#include "support/waiting_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace testing_support {

WaitingProcess::WaitingProcess() : pid_(fork()) {
    if (pid_ != 0) return;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) dup2(null, fd);
    for (;;) pause();
}

WaitingProcess::~WaitingProcess() { ending(); }

int WaitingProcess::ending() {
    if (signal_ < 0) {
        kill(pid_, SIGVTALRM);
        int status = 0;
        waitpid(pid_, &status, 0);
        signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return signal_;
}

void run_recorded(const std::string &commands) {
    std::size_t start = 0;
    for (std::size_t end; (end = commands.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_EQ(std::system(commands.substr(start, end - start).c_str()), 0) << commands;
}

}  // namespace testing_support
