// What only the appliance has, behind one small interface.
//
// On the appliance (APPLIANCE_ROOT unset or "/") every call here is the
// plain system call with the appliance's own paths and keys.  With
// APPLIANCE_ROOT=DIR the program runs in a sandbox: appliance paths resolve
// inside DIR, commands are recorded one per line in DIR/commands.log instead
// of being run (and report success), the restart and sync are recorded as
// "<reboot>" and "<sync>", syslog messages are written to DIR/syslog.log,
// System V keys are private to DIR, and APPLIANCE_SLEEP=0 skips sleeps.
// Nothing outside this folder tests which mode it runs in.
#pragma once

#include <sys/ipc.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// The file-system path of an appliance path.  Relative paths, and paths
// already inside the sandbox root, are returned unchanged.
std::string path(std::string_view appliance_path);

// Runs a command text with "/bin/sh -c" in a child (SIGINT and SIGQUIT
// ignored and SIGCHLD blocked while it runs) and returns the wait status,
// or -1 when the child cannot be started.
int shell(const char *command);

// Runs argv[0] through the search path with argv, without a shell; the
// recorded text is command_line.  Same result as shell(); 127 << 8 when no
// program can be started.
int exec(const char *command_line, char *const argv[]);

// The C library's system(): the sandbox records the command.
int libc_system(const char *command);

// A command whose output the code reads.  In the sandbox the command is
// recorded and its output is the file DIR/output/NAME, NAME being the
// command with every '/' and ' ' turned into '_' (empty when absent).
// Close with pclose_read().
FILE *popen_read(const char *command);
int pclose_read(FILE *stream);

// The TCP port to reach one of the appliance's fixed ports on.  In a
// sandbox the file DIR/ports/PORT may name another (a test's listener).
int tcp_port(int appliance_port);

// syslog(), %m included.  The sandbox appends "<PRIORITY>MESSAGE" as one
// line to DIR/syslog.log instead (a final line feed of the message dropped,
// at most 2047 bytes of it).
void log(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
void vlog(int priority, const char *format, va_list args) __attribute__((format(printf, 2, 0)));

void restart();                      // reboot(RB_AUTOBOOT)
void sync();                         // sync()
void sleep_seconds(unsigned seconds);

// The System V key to use for one of the appliance's fixed keys.  In a
// sandbox: the low 16 bits of the appliance key under 16 bits derived from
// the sandbox root, so that every object of one sandbox shares the high half.
key_t ipc_key(key_t appliance_key);

// Removes every shared memory segment and message queue of the sandbox
// rooted at root (an existing directory).  Returns the number removed.
int remove_sandbox_ipc(const std::string &root);

}  // namespace platform
