// The appliance and its sandbox: see platform.h.
#include "platform/platform.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/msg.h>
#include <sys/reboot.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "runtime/owners.h"
#include "webadmin.h"

namespace platform {
namespace {

// The canonical sandbox root, or "" on the appliance.  Read on every call so
// that one process (a test) may switch between sandboxes.
std::string sandbox_root() {
    const char *env = getenv("APPLIANCE_ROOT");
    if (!env || !*env || std::strcmp(env, "/") == 0) return {};
    static std::string last_env, last_root;
    if (last_env != env) {
        char resolved[PATH_MAX];
        last_env = env;
        last_root = realpath(env, resolved) ? resolved : env;
        while (last_root.size() > 1 && last_root.back() == '/') last_root.pop_back();
    }
    return last_root;
}

// Appends one line to a record file of the sandbox (commands.log by default).
void record(const std::string &root, std::string_view line, const char *file = "/commands.log") {
    std::string text(line);
    text += '\n';
    int fd = open((root + file).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    // One write per line: concurrent processes of one sandbox never interleave.
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
}

uint32_t high_half(const std::string &root) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (unsigned char c : root) h = (h ^ c) * 16777619u;
    uint32_t high = (h >> 16) ^ (h & 0xffff);
    // Keep clear of the appliance's own keys (0x20xxxxxx) and of IPC_PRIVATE.
    if (high == 0 || (high & 0xff00) == 0x2000) high ^= 0x5a5a;
    return high;
}

// Forks and waits as the appliance's command runner does: the caller
// ignores SIGINT and SIGQUIT and blocks SIGCHLD while the child runs.
template <typename Child>
int run_child(Child child) {
    struct sigaction ignore {}, old_int {}, old_quit {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &old_int);
    sigaction(SIGQUIT, &ignore, &old_quit);
    sigset_t block, old_mask;
    sigemptyset(&block);
    sigaddset(&block, SIGCHLD);
    sigprocmask(SIG_BLOCK, &block, &old_mask);

    int status = -1;
    pid_t pid = fork();
    if (pid == 0) {
        sigaction(SIGINT, &old_int, nullptr);
        sigaction(SIGQUIT, &old_quit, nullptr);
        sigprocmask(SIG_SETMASK, &old_mask, nullptr);
        child();
        _exit(127);
    }
    if (pid > 0) {
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                status = -1;
                break;
            }
        }
    }
    int restored = sigaction(SIGINT, &old_int, nullptr) | sigaction(SIGQUIT, &old_quit, nullptr) |
                   sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    return restored ? -1 : status;
}

}  // namespace

std::string path(std::string_view appliance_path) {
    std::string root = sandbox_root();
    if (root.empty() || appliance_path.empty() || appliance_path.front() != '/')
        return std::string(appliance_path);
    if (appliance_path.substr(0, root.size()) == root &&
        (appliance_path.size() == root.size() || appliance_path[root.size()] == '/'))
        return std::string(appliance_path);
    return root + std::string(appliance_path);
}

int shell(const char *command) {
    std::string root = sandbox_root();
    if (!root.empty()) {
        record(root, command);
        return 0;
    }
    return run_child([command] { execl("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr)); });
}

int exec(const char *command_line, char *const argv[]) {
    std::string root = sandbox_root();
    if (!root.empty()) {
        record(root, command_line);
        return 0;
    }
    return run_child([argv] {
        if (argv && argv[0]) execvp(argv[0], argv);
    });
}

int libc_system(const char *command) {
    std::string root = sandbox_root();
    if (!root.empty()) {
        record(root, command);
        return 0;
    }
    return ::system(command);
}

FILE *popen_read(const char *command) {
    std::string root = sandbox_root();
    if (root.empty()) return popen(command, "r");
    record(root, command);
    std::string name = command;
    for (char &c : name)
        if (c == '/' || c == ' ') c = '_';
    FILE *canned = fopen((root + "/output/" + name).c_str(), "re");
    return canned ? canned : fopen("/dev/null", "re");
}

int pclose_read(FILE *stream) {
    if (!stream) return -1;
    return sandbox_root().empty() ? pclose(stream) : fclose(stream);
}

int tcp_port(int appliance_port) {
    std::string root = sandbox_root();
    if (root.empty()) return appliance_port;
    runtime::file_handle in(std::fopen((root + "/ports/" + std::to_string(appliance_port)).c_str(), "re"));
    int port = 0;
    return in && std::fscanf(in.get(), "%d", &port) == 1 && port > 0 && port < 65536 ? port : appliance_port;
}

void restart() {
    std::string root = sandbox_root();
    if (!root.empty()) {
        record(root, "<reboot>");
        return;
    }
    ::reboot(RB_AUTOBOOT);
}

void sync() {
    std::string root = sandbox_root();
    if (!root.empty()) {
        record(root, "<sync>");
        return;
    }
    ::sync();
}

void log(int priority, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vlog(priority, format, args);
    va_end(args);
}

void vlog(int priority, const char *format, va_list args) {
    const int error = errno;
    std::string root = sandbox_root();
    if (root.empty()) {
        errno = error;
        vsyslog(priority, format, args);
        return;
    }
    // The C library's %m, by hand: the text of errno at the call.
    std::string expanded;
    for (const char *p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            expanded += "%%";
            ++p;
        } else if (p[0] == '%' && p[1] == 'm') {
            for (const char *m = std::strerror(error); *m; ++m) {
                expanded += *m;
                if (*m == '%') expanded += '%';
            }
            ++p;
        } else {
            expanded += *p;
        }
    }
    char message[2048];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vsnprintf(message, sizeof message, expanded.c_str(), args);
#pragma GCC diagnostic pop
    std::string_view text(message);
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    record(root, "<" + std::to_string(priority) + ">" + std::string(text), "/syslog.log");
}

void sleep_seconds(unsigned seconds) {
    const char *env = getenv("APPLIANCE_SLEEP");
    if (env && std::strcmp(env, "0") == 0) return;
    ::sleep(seconds);
}

key_t ipc_key(key_t appliance_key) {
    std::string root = sandbox_root();
    if (root.empty()) return appliance_key;
    return static_cast<key_t>((high_half(root) << 16) | (static_cast<uint32_t>(appliance_key) & 0xffff));
}

int remove_sandbox_ipc(const std::string &root) {
    char resolved[PATH_MAX];
    std::string canonical = realpath(root.c_str(), resolved) ? resolved : root;
    uint32_t high = high_half(canonical);
    int removed = 0;
    auto sweep = [&](const char *table, auto remove) {
        runtime::file_handle in(std::fopen(table, "re"));
        if (!in) return;
        // The column titles, then one object per line, its key and id first;
        // only the start of a line (longer ones come in pieces) is read.
        char line[512];
        bool title = true, line_start = true;
        while (std::fgets(line, sizeof line, in.get())) {
            const bool starts = line_start;
            line_start = std::strchr(line, '\n') != nullptr;
            if (!starts || std::exchange(title, false)) continue;
            long long key = 0;
            int id = -1;
            if (std::sscanf(line, "%lld %d", &key, &id) != 2) continue;
            if (((static_cast<uint32_t>(key) >> 16) & 0xffff) == high && remove(id) == 0) ++removed;
        }
    };
    sweep("/proc/sysvipc/shm", [](int id) { return shmctl(id, IPC_RMID, nullptr); });
    sweep("/proc/sysvipc/msg", [](int id) { return msgctl(id, IPC_RMID, nullptr); });
    return removed;
}

}  // namespace platform

// The same for the pages and programs that link the library.
extern "C" {

const char *my_path(const char *appliance_path) {
    static char buffers[8][PATH_MAX];
    static unsigned next;
    if (!appliance_path) return nullptr;
    const std::string mapped = platform::path(appliance_path);
    if (mapped.size() >= sizeof buffers[0]) return nullptr;
    char *out = buffers[next++ % 8];
    std::memcpy(out, mapped.c_str(), mapped.size() + 1);
    return out;
}

int my_libc_system(const char *command) { return platform::libc_system(command); }

void my_syslog(int priority, const char *format, ...) {
    va_list args;
    va_start(args, format);
    platform::vlog(priority, format, args);
    va_end(args);
}

void my_sleep(unsigned int seconds) { platform::sleep_seconds(seconds); }

void my_reboot(void) { platform::restart(); }

key_t my_ipc_key(key_t appliance_key) { return platform::ipc_key(appliance_key); }

int my_ipc_remove_sandbox(const char *root) { return root ? platform::remove_sandbox_ipc(root) : 0; }

}  // extern "C"
