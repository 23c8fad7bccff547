// Real processes for the tests of commands that end processes by their
// recorded ids: the recorded command is run, then each process tells what
// ended it.
#pragma once

#include <sys/types.h>

#include <string>

namespace testing_support {

// A child that waits for a signal.  It ends with the test process and holds
// none of its output, so a failing test never leaves it behind.
class WaitingProcess {
public:
    WaitingProcess();
    ~WaitingProcess();
    WaitingProcess(const WaitingProcess &) = delete;
    WaitingProcess &operator=(const WaitingProcess &) = delete;
    pid_t pid() const { return pid_; }
    // The signal that ended it: SIGTERM from a command that killed it, or
    // the test's own SIGVTALRM sent now to one left alive (a pending SIGTERM
    // is delivered first, having the lower number).
    int ending();

private:
    pid_t pid_;
    int signal_ = -1;
};

// Runs each line of commands with /bin/sh, as the appliance would.
void run_recorded(const std::string &commands);

}  // namespace testing_support
