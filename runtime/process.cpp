// Processes by name, read from the stat files under /proc: the daemons the
// web administration pauses, signals and restarts.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <new>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "webadmin.h"

namespace {

constexpr size_t kStatBytes = 255;

struct stat_line {
    std::string_view name;
    char state = '\0';
    int parent = 0;
};

// Reads the beginning of one process's stat file: "pid (name) S ppid ...".
// The name is the text between the first '(' and the last ')', since a
// process may put parentheses in its own name.
bool read_stat(const char *pid, char (&buffer)[kStatBytes + 1], stat_line &out) {
    std::string path = platform::path(std::string("/proc/") + pid + "/stat");
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ssize_t n;
    do n = read(fd, buffer, kStatBytes);
    while (n < 0 && errno == EINTR);
    close(fd);
    if (n <= 0) return false;
    buffer[n] = '\0';
    char *open_paren = strchr(buffer, '(');
    char *close_paren = strrchr(buffer, ')');
    if (!open_paren || !close_paren || close_paren < open_paren) return false;
    out.name = std::string_view(open_paren + 1, static_cast<size_t>(close_paren - open_paren - 1));
    return sscanf(close_paren + 1, " %c %d", &out.state, &out.parent) == 2;
}

// The process id an entry of /proc names, or 0 when it names none.
int entry_pid(const char *name) {
    if (*name < '0' || *name > '9') return 0;
    errno = 0;
    char *end = nullptr;
    long pid = strtol(name, &end, 10);
    return (errno || *end || pid <= 0 || pid > INT_MAX) ? 0 : static_cast<int>(pid);
}

// Calls visit(pid, line) for every process named name, in directory order,
// until it returns false.
template <typename Visit>
void each_process(const char *name, Visit visit) noexcept {
    if (!name) return;
    try {
        runtime::dir_handle proc(opendir(platform::path("/proc").c_str()));
        if (!proc) return;
        char buffer[kStatBytes + 1];
        while (const dirent *entry = readdir(proc.get())) {
            int pid = entry_pid(entry->d_name);
            stat_line line;
            if (!pid || !read_stat(entry->d_name, buffer, line) || line.name != name) continue;
            if (!visit(pid, line)) return;
        }
    } catch (const std::bad_alloc &) {
        // Out of memory: the processes seen so far are all there is.
    }
}

}  // namespace

extern "C" my_proc *my_proc_list(const char *name) {
    my_proc *head = nullptr;
    each_process(name, [&head](int pid, const stat_line &line) {
        auto *node = static_cast<my_proc *>(malloc(sizeof(my_proc)));
        if (!node) return false;
        node->next = head;
        node->pid = pid;
        node->state = line.state;
        head = node;
        return true;
    });
    return head;
}

extern "C" int my_proc_pid(const char *name) {
    int found = -1;
    each_process(name, [&found](int pid, const stat_line &line) {
        if (line.parent != 1) return true;
        found = pid;
        return false;
    });
    return found;
}

extern "C" void my_killproc(const char *name, int signo) {
    each_process(name, [signo](int pid, const stat_line &) {
        kill(pid, signo);
        return true;
    });
}
