// Request values that try to break out of a shell command line, and a stub program that shows
// what a recorded command line really passes.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace testing_support {

// Values that would run "touch SENTINEL" were they pasted into a command line unquoted or badly
// quoted: separators, pipes, background jobs, both kinds of substitution, quotes of each kind,
// escaped quotes, line feeds (raw and URL-encoded), ${IFS}, variables, options, a trailing
// backslash and a 64 KiB value.
inline std::vector<std::string> hostile_values(const std::string &sentinel) {
    const std::string touch = "touch " + sentinel;
    std::string huge = "; " + touch + "; ";
    while (huge.size() < 65536) huge += "$(" + touch + ")`" + touch + "`'\";|&";
    return {"; " + touch, "| " + touch, "& " + touch + " &", "&& " + touch, "$(" + touch + ")", "`" + touch + "`",
            "\"; " + touch + "; \"", "\\\"; " + touch + "; echo \\", "'; " + touch + "; '",
            "'\\''; " + touch + "; '", "line\n" + touch + "\n", "line%0a" + touch + "%0a",
            "${IFS}" + touch + "${IFS}", "touch${IFS}" + sentinel, "$HOME $0 $$ ${PATH} *", "-rf --help", "-",
            "ends with a backslash\\", huge};
}

// Runs command, a line recorded in the sandbox that starts with program, through /bin/sh with
// program replaced by a stub that stores each argument it gets; returns those arguments.  A
// command sent to the background is waited for.
inline std::vector<std::string> run_with_stub(const Sandbox &box, const std::string &command,
                                              const std::string &program) {
    const std::string dir = box.file("/stub-args");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    box.write("/stub", "#!/bin/sh\ni=0\nfor a in \"$@\"; do i=$((i+1)); printf '%s' \"$a\" > '" + dir + "/'$i; done\n");
    chmod(box.file("/stub").c_str(), 0755);
    EXPECT_EQ(command.compare(0, program.size() + 1, program + " "), 0) << command;
    box.write("/run.sh", box.file("/stub") + command.substr(program.size()) + "\nwait\n");
    EXPECT_EQ(std::system(("/bin/sh " + box.file("/run.sh")).c_str()), 0) << command;
    std::vector<std::string> args;
    for (int i = 1; std::filesystem::exists(dir + "/" + std::to_string(i)); ++i)
        args.push_back(read_file(dir + "/" + std::to_string(i)));
    return args;
}

}  // namespace testing_support
