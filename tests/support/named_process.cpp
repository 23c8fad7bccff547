#include "support/named_process.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

NamedProcess::NamedProcess(const char *name, bool stubborn) {
    int ready[2];
    pid_ = -1;
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_NAME, name);
        if (stubborn) signal(SIGTERM, SIG_IGN);
        if (write(ready[1], "", 1) != 1) _exit(2);
        for (;;) pause();
    }
    char byte;
    if (pid_ > 0 && read(ready[0], &byte, 1) != 1) pid_ = -1;
    close(ready[0]);
    close(ready[1]);
}

NamedProcess::~NamedProcess() {
    if (pid_ <= 0 || signal_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

int NamedProcess::ended_by() {
    for (int i = 0; i < 1000 && pid_ > 0 && !signal_; ++i) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : -1;
        else usleep(1000);
    }
    return signal_;
}

}  // namespace testing_support
