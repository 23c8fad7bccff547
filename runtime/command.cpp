// Command execution: every command of the web administration goes through
// these four, and they hand it to the platform's runner, which forks and
// waits with SIGINT and SIGQUIT ignored and SIGCHLD blocked.
#include <stdlib.h>
#include <string.h>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "webadmin.h"

namespace {

constexpr int kMaxArguments = 255;

using runtime::heap_text;

}  // namespace

extern "C" int system_action(const char *command) {
    if (!command) return 0;
    return platform::shell(command);
}

extern "C" int my_system(const char *format, ...) {
    va_list args;
    va_start(args, format);
    heap_text command(xasprintf(format, args));
    va_end(args);
    if (!command) return -1;
    return platform::shell(command.get());
}

extern "C" int exec_action(const char *command) {
    if (!command) return 0;
    // The tokens point into this copy; a line that gives no token leaves
    // argv[0] null, and the child then exits with 127.
    heap_text line(strdup(command));
    if (!line) return -1;
    char *argv[kMaxArguments + 1] = {};
    int count = string_parse(argv, kMaxArguments, line.get());
    if (count < 0) count = 0;
    argv[count] = nullptr;
    return platform::exec(command, argv);
}

extern "C" int my_exec(const char *format, ...) {
    va_list args;
    va_start(args, format);
    heap_text command(xasprintf(format, args));
    va_end(args);
    if (!command) return -1;
    return exec_action(command.get());
}
