#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>

#include "support/sandbox.h"
#include "webadmin.h"

namespace {

// Process id to state, the list freed.
std::map<int, char> collect(my_proc *list) {
    std::map<int, char> found;
    for (my_proc *next; list; list = next) {
        next = list->next;
        found[list->pid] = list->state;
        free(list);
    }
    return found;
}

}  // namespace

TEST(Process, LooksProcessesUpInTheStatFiles) {
    testing_support::Sandbox box;
    box.write("/proc/100/stat", "100 (vavazUzo) S 1 100 100 0 -1 4194560\n");
    box.write("/proc/200/stat", "200 (vavazUzo) R 77 200 200 0 -1 4194560\n");
    box.write("/proc/300/stat", "300 (odd) name) S 1 300\n");
    box.write("/proc/400/stat", "400 (vavazUz) S 1 400\n");
    box.write("/proc/500/stat", "500 (vavazUzo S 1 500\n");
    // The name must end within the first 255 bytes.
    box.write("/proc/600/stat", "600 (" + std::string(300, 'v') + ") S 1 600\n");
    box.write("/proc/self/stat", "700 (vavazUzo) S 1 700\n");
    box.write("/proc/7x/stat", "7 (vavazUzo) S 1 7\n");

    EXPECT_EQ(collect(my_proc_list("vavazUzo")), (std::map<int, char>{{100, 'S'}, {200, 'R'}}));
    EXPECT_EQ(collect(my_proc_list("odd) name")), (std::map<int, char>{{300, 'S'}}));
    const std::string overlong(300, 'v');
    for (const char *none : {"vavazU", overlong.c_str(), static_cast<const char *>(nullptr)})
        EXPECT_EQ(my_proc_list(none), nullptr);

    // A daemon is a child of process 1.
    EXPECT_EQ(my_proc_pid("vavazUzo"), 100);
    box.write("/proc/100/stat", "100 (vavazUzo) S 50 100\n");
    for (const char *none : {"vavazUzo", "missing", static_cast<const char *>(nullptr)})
        EXPECT_EQ(my_proc_pid(none), -1);
}

TEST(Process, KillsEveryProcessOfTheName) {
    const char *root = getenv("APPLIANCE_ROOT");
    const std::string saved = root ? root : "";
    unsetenv("APPLIANCE_ROOT");

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        prctl(PR_SET_NAME, "wa_kill_probe");
        if (write(ready[1], "", 1) != 1) _exit(2);
        for (;;) pause();
    }
    close(ready[1]);
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);

    std::map<int, char> found = collect(my_proc_list("wa_kill_probe"));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.begin()->first, child);
    EXPECT_EQ(my_proc_pid("wa_kill_probe"), getpid() == 1 ? child : -1);

    my_killproc("wa_kill_probe", SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    my_killproc("wa_kill_probe", SIGTERM);  // none left: nothing happens
    my_killproc(nullptr, SIGTERM);

    if (!saved.empty()) setenv("APPLIANCE_ROOT", saved.c_str(), 1);
}
