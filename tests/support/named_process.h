// A process of this machine under a chosen name, for tests of code that
// finds the appliance's daemons by name.
#pragma once

#include <sys/types.h>

namespace testing_support {

// Forked and named (at most 15 characters, as the kernel keeps them); it
// sleeps until a signal ends it.  A stubborn one ignores SIGTERM.  It is
// killed and reaped at the end if it still runs.
class NamedProcess {
public:
    NamedProcess(const char *name, bool stubborn = false);
    ~NamedProcess();
    NamedProcess(const NamedProcess &) = delete;
    NamedProcess &operator=(const NamedProcess &) = delete;

    pid_t pid() const { return pid_; }
    // The signal that ended it within a second, or 0 when it still runs.
    int ended_by();

private:
    pid_t pid_;
    int signal_ = 0;
};

}  // namespace testing_support
