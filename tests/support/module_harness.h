// What the configuration module tests share: a sandbox whose effects (shell
// commands and the firewall queues of both families) are taken as golden
// texts, interface records placed in the shared interface memory, and a
// module's table held for one test.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/sandbox.h"
#include "webadmin.h"

namespace testing_support {

// What the appliance would have done since the last take: the shell
// commands of commands.log and the firewall commands queued for each
// family, each line ended by "\n", in order.
struct Effects {
    std::string commands, ipv4, ipv6;
    bool operator==(const Effects &) const = default;
};

// A demo appliance for module tests.  The firewall queue is opened once per
// process, so a test uses one ModuleBox.  While it lives, a thread reads the
// firewall queues as the appliance's firewall daemon does, so a module may
// queue more rules at once than a queue holds.
class ModuleBox : public Sandbox {
public:
    explicit ModuleBox(const std::vector<std::string> &definitions = {});
    ~ModuleBox();
    // Everything since the last take; commands.log is emptied and the queues
    // drained.
    Effects take();

private:
    void drain_queues();
    std::mutex lock_;
    std::string ipv4_, ipv6_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// An interface record as the interface module stores it: unset texts "^o^",
// addresses "0.0.0.0".
interface_record interface_port(int port, const char *iname, int itype, int imode = 1, int cmode = 3,
                                 const char *ipaddr = "0.0.0.0", const char *netmask = "255.255.255.0",
                                 int izone = 0);
// Writes the records into the shared interface memory at their ports.
void install_interfaces(const std::vector<interface_record> &records);

// A module's table from its register function, released at the end of the
// test; a handle opened through it is closed first.
class Module {
public:
    Module(module_table *(*register_fn)(), void (*unregister_fn)(module_table *));
    ~Module();
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;
    module_table *operator->() const { return table_; }
    module_table &table() const { return *table_; }
    // The handle of open(selector, tag, mode), kept in the table's handle word.
    record_file *open(int mode, void *selector = nullptr);
    void close();

private:
    module_table *table_;
    void (*unregister_)(module_table *);
};

// A module-specific slot called with its documented arguments.
template <typename Fn, typename... Args>
auto call(module_op slot, Args... args) {
    return reinterpret_cast<Fn *>(slot)(args...);
}

}  // namespace testing_support
