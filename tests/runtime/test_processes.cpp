// Commands, processes, and the libraries bound at run time.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "runtime/library_binding.h"
#include "support/named_process.h"
#include "support/sandbox.h"
#include "webadmin.h"

namespace {

// Runs body on the real system, without an appliance root.
void without_root(const std::function<void()> &body) {
    const std::string saved = getenv("APPLIANCE_ROOT") ? getenv("APPLIANCE_ROOT") : "";
    unsetenv("APPLIANCE_ROOT");
    body();
    if (!saved.empty()) setenv("APPLIANCE_ROOT", saved.c_str(), 1);
}

// Real runs report the wait status (a shell line for my_system, words without a shell for exec); sandbox runs
// are recorded as formatted.
TEST(Commands, RealRunsReportTheWaitStatusAndSandboxRunsAreRecorded) {
    without_root([] {
        char pattern[] = "/tmp/commands.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        const std::string dir = pattern, file = dir + "/out";
        for (auto [status, expected] :
             {std::pair{my_system("exit %d", 42), 42}, {system_action("false"), 1},
              {my_system("/no/such/program > /dev/null 2>&1"), 127}, {exec_action("/bin/sh -c \"exit 3\""), 3},
              {my_exec("/bin/sh -c \"exit %d\"", 5), 5}, {exec_action("no-such-program-anywhere"), 127},
              {exec_action(""), 127}, {exec_action(nullptr), 0}, {system_action(nullptr), 0}})
            EXPECT_EQ(status, expected * 256);
        EXPECT_EQ(my_system("echo one > '%s'; echo two >> '%s'", file.c_str(), file.c_str()), 0);
        EXPECT_EQ(testing_support::read_file(file), "one\ntwo\n");
        EXPECT_EQ(my_exec("touch %s/a;touch %s/$HOME", dir.c_str(), dir.c_str()), 0);
        EXPECT_EQ(access((dir + "/a;touch").c_str(), F_OK) + access((dir + "/$HOME").c_str(), F_OK), 0);
        EXPECT_NE(access((dir + "/a").c_str(), F_OK), 0);
        std::filesystem::remove_all(dir);
    });
    testing_support::Sandbox box;
    EXPECT_EQ(std::min({my_system("/sbin/iptables -F %s > /dev/null 2>&1", "tlog_accept"),
                        system_action("/bin/umount /mnt"), exec_action("/sbin/ip link set \"eth 0\" up"),
                        my_exec("/usr/sbin/gretunnel %d", 4)}),
              0);  // a braced list calls in order
    EXPECT_EQ(box.commands(), "/sbin/iptables -F tlog_accept > /dev/null 2>&1\n/bin/umount /mnt\n"
                              "/sbin/ip link set \"eth 0\" up\n/usr/sbin/gretunnel 4\n");
}

// Process id to state, the list freed.
std::map<int, char> collect(my_proc *list) {
    std::map<int, char> found;
    for (my_proc *next; list; list = next) next = list->next, found[list->pid] = list->state, free(list);
    return found;
}

// Processes by the name in their stat files (between the first '(' and the last ')'), daemons as children of
// process 1, and signals to all of a name.
TEST(Process, LookUpByStatFilesAndKill) {
    {
        testing_support::Sandbox box;
        for (auto [pid, text] : {std::pair<std::string, std::string>{"100", "100 (vavazUzo) S 1 100 100 0 -1 4\n"},
                                 {"920", "920 (vavazUzo) R 77 920 920 0 -1 4\n"}, {"300", "300 (odd) name) S 1 300\n"},
                                 {"400", "400 (vavazUz) S 1 400\n"}, {"500", "500 (vavazUzo S 1 500\n"},
                                 {"600", "600 (" + std::string(300, 'v') + ") S 1 600\n"},
                                 {"self", "700 (vavazUzo) S 1 700\n"}, {"7x", "7 (vavazUzo) S 1 7\n"}})
            box.write("/proc/" + pid + "/stat", text);
        EXPECT_EQ(collect(my_proc_list("vavazUzo")), (std::map<int, char>{{100, 'S'}, {920, 'R'}}));
        EXPECT_EQ(collect(my_proc_list("odd) name")), (std::map<int, char>{{300, 'S'}}));
        EXPECT_TRUE(!my_proc_list("vavazU") && !my_proc_list(std::string(300, 'v').c_str()));
        EXPECT_EQ(my_proc_pid("vavazUzo"), 100);
        box.write("/proc/100/stat", "100 (vavazUzo) S 50 100\n");
        EXPECT_EQ(my_proc_pid("vavazUzo"), -1);
    }
    without_root([] {
        testing_support::NamedProcess probe("wa_kill_probe");
        const std::map<int, char> found = collect(my_proc_list("wa_kill_probe"));
        EXPECT_TRUE(found.size() == 1 && found.count(probe.pid()));
        my_killproc("wa_kill_probe", SIGTERM);
        EXPECT_EQ(probe.ended_by(), SIGTERM);
    });
}

// Binding is all or nothing, from the first path that opens; the mutex calls reach the thread library.
TEST(Libraries, BindingIsAllOrNothingAndMutexCallsReachTheThreadLibrary) {
    void *handle = nullptr;
    size_t (*length)(const char *) = nullptr;
    void (*missing)(void) = nullptr;
    const char *const paths[] = {"/no/such/libc.so", "libc.so.6"};
    const runtime::LibrarySymbol both[] = {{"strlen", &length}, {"wa_no_such_symbol", &missing}};
    EXPECT_TRUE(!runtime::bind_library(handle, paths, 2, both, 2) && !handle && !length) << "a pointer was left";
    ASSERT_TRUE(runtime::bind_library(handle, paths, 2, both, 1) && handle && length);  // the second path serves
    EXPECT_EQ(length("four"), 4u);
    EXPECT_TRUE(!runtime::bind_library(handle, paths, 1, both, 1) && !handle);  // the old handle closed first

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
