// Commands, processes, and the libraries bound at run time.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "runtime/library_binding.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

// Runs body on the real system, without an appliance root.
template <typename F>
void without_root(F body) {
    const char *root = getenv("APPLIANCE_ROOT");
    const std::string saved = root ? root : "";
    unsetenv("APPLIANCE_ROOT");
    body();
    if (!saved.empty()) setenv("APPLIANCE_ROOT", saved.c_str(), 1);
}

TEST(Commands, RealRunsReportTheWaitStatusAndSandboxRunsAreRecorded) {
    without_root([] {
        char pattern[] = "/tmp/commands.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        const std::string dir = pattern, file = dir + "/out";
        EXPECT_EQ(my_system("exit %d", 42), 42 * 256);
        EXPECT_EQ(my_system("/no/such/program > /dev/null 2>&1"), 127 * 256);
        EXPECT_EQ(system_action("false"), 256);
        EXPECT_EQ(system_action(nullptr), 0);
        EXPECT_EQ(my_system("echo one > '%s'; echo two >> '%s'", file.c_str(), file.c_str()), 0);  // a shell line
        EXPECT_EQ(testing_support::read_file(file), "one\ntwo\n");
        EXPECT_EQ(exec_action("/bin/sh -c \"exit 3\""), 3 * 256);
        EXPECT_EQ(my_exec("/bin/sh -c \"exit %d\"", 5), 5 * 256);
        EXPECT_EQ(exec_action("no-such-program-anywhere"), 127 * 256);
        EXPECT_EQ(exec_action(""), 127 * 256);
        EXPECT_EQ(exec_action(nullptr), 0);
        EXPECT_EQ(my_exec("touch %s/a;touch %s/$HOME", dir.c_str(), dir.c_str()), 0);  // no shell
        EXPECT_EQ(access((dir + "/a;touch").c_str(), F_OK) + access((dir + "/$HOME").c_str(), F_OK), 0);
        EXPECT_NE(access((dir + "/a").c_str(), F_OK), 0);
        std::filesystem::remove_all(dir);
    });
    testing_support::Sandbox box;
    EXPECT_EQ(my_system("/sbin/iptables -F %s > /dev/null 2>&1", "tlog_accept") + system_action("/bin/umount /mnt") +
                  exec_action("/sbin/ip link set \"eth 0\" up") + my_exec("/usr/sbin/gretunnel %d", 4),
              0);
    EXPECT_EQ(box.commands(), "/sbin/iptables -F tlog_accept > /dev/null 2>&1\n/bin/umount /mnt\n/sbin/ip link set \"eth 0\" up\n/usr/sbin/gretunnel 4\n");
}

// Process id to state, the list freed.
std::map<int, char> collect(my_proc *list) {
    std::map<int, char> found;
    for (my_proc *next; list; list = next) next = list->next, found[list->pid] = list->state, free(list);
    return found;
}

TEST(Process, LookUpByStatFilesAndKill) {
    {
        testing_support::Sandbox box;
        for (auto [path, text] : {std::pair<std::string, std::string>{"100", "100 (vavazUzo) S 1 100 100 0 -1 4194560\n"},
                                  {"920", "920 (vavazUzo) R 77 920 920 0 -1 4194560\n"}, {"300", "300 (odd) name) S 1 300\n"},
                                  {"400", "400 (vavazUz) S 1 400\n"}, {"500", "500 (vavazUzo S 1 500\n"},
                                  {"600", "600 (" + std::string(300, 'v') + ") S 1 600\n"}, {"self", "700 (vavazUzo) S 1 700\n"},
                                  {"7x", "7 (vavazUzo) S 1 7\n"}})
            box.write("/proc/" + path + "/stat", text);
        EXPECT_EQ(collect(my_proc_list("vavazUzo")), (std::map<int, char>{{100, 'S'}, {920, 'R'}}));
        EXPECT_EQ(collect(my_proc_list("odd) name")), (std::map<int, char>{{300, 'S'}}));
        for (const std::string &none : std::vector<std::string>{"vavazU", std::string(300, 'v')}) EXPECT_EQ(my_proc_list(none.c_str()), nullptr);
        EXPECT_EQ(my_proc_pid("vavazUzo"), 100);  // a daemon is a child of process 1
        box.write("/proc/100/stat", "100 (vavazUzo) S 50 100\n");
        EXPECT_EQ(my_proc_pid("vavazUzo"), -1);
    }
    without_root([] {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = fork();
        if (child == 0) {
            prctl(PR_SET_NAME, "wa_kill_probe");
            if (write(ready[1], "", 1) != 1) _exit(2);
            for (;;) pause();
        }
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]), close(ready[1]);
        const std::map<int, char> found = collect(my_proc_list("wa_kill_probe"));
        EXPECT_TRUE(found.size() == 1 && found.begin()->first == child);
        my_killproc("wa_kill_probe", SIGTERM);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    });
}

TEST(Libraries, BindingIsAllOrNothingAndMutexCallsReachTheThreadLibrary) {
    void *handle = nullptr;
    size_t (*length)(const char *) = nullptr;
    void (*missing)(void) = nullptr;
    const char *const paths[] = {"/no/such/libc.so", "libc.so.6"};
    const runtime::LibrarySymbol both[] = {{"strlen", &length}, {"wa_no_such_symbol", &missing}};
    EXPECT_FALSE(runtime::bind_library(handle, paths, 2, both, 2));
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(length, nullptr) << "a pointer into the closed library was left";
    EXPECT_TRUE(runtime::bind_library(handle, paths, 2, both, 1));  // the second path serves
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(length("four"), 4u);
    EXPECT_FALSE(runtime::bind_library(handle, paths, 1, both, 1));  // the old handle closed first
    EXPECT_EQ(handle, nullptr);

    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    auto try_elsewhere = [&] {
        int result = -1;
        std::thread([&] { (result = pthread_mutex_trylock(&mutex)) == 0 && pthread_mutex_unlock(&mutex); }).join();
        return result;
    };
    my_pthread_lock(&mutex);
    EXPECT_EQ(try_elsewhere(), EBUSY);
    my_pthread_unlock(&mutex);
    EXPECT_EQ(try_elsewhere(), 0);
    my_pthread_lock(nullptr);
}

}  // namespace
