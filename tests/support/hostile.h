// Request values that try to break out of a shell command line, and a stub
// program that shows what a recorded command line really passes.
#pragma once

#include <string>
#include <vector>

#include "support/sandbox.h"

namespace testing_support {

// Values that would run "touch SENTINEL" were they pasted into a command
// line unquoted or badly quoted: separators, pipes, background jobs, both
// kinds of substitution, quotes of each kind, escaped quotes, line feeds
// (raw and URL-encoded), ${IFS}, variables, options, a trailing backslash
// and a 64 KiB value.
std::vector<std::string> hostile_values(const std::string &sentinel);

// Runs command, a line recorded in the sandbox that starts with program,
// through /bin/sh with program replaced by a stub that stores each argument
// it gets; returns those arguments.  A command sent to the background is
// waited for.
std::vector<std::string> run_with_stub(const Sandbox &box, const std::string &command, const std::string &program);

}  // namespace testing_support
