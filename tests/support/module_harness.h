// What the configuration module tests share: a sandbox whose effects (shell
// commands and both families' firewall queues) are taken as golden texts,
// interface records in the shared interface memory, a module's table held
// for one test, and the texts of the controller's AP files.
#pragma once

#include <cstdio>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/sandbox.h"
#include "webadmin.h"

namespace testing_support {

// What the appliance did since the last take: the commands of commands.log
// and the firewall commands queued for each family, a line each, in order.
struct Effects {
    std::string commands, ipv4, ipv6;
    bool operator==(const Effects &) const = default;
};
std::ostream &operator<<(std::ostream &out, const Effects &e);

// A demo appliance for module tests, one after another in a process.  While
// it lives it reads the queues as the firewall daemon does, so a module may
// queue more than a queue holds.
class ModuleBox : public Sandbox {
public:
    explicit ModuleBox(const std::vector<std::string> &definitions = {});
    ~ModuleBox();
    // Everything since the last take; commands.log is emptied, queues drained.
    Effects take();

private:
    struct Reader;
    std::unique_ptr<Reader> reader_;
};

// "/sbin/iptables -t TABLE OPTION CHAINSUFFIX" for each "TABLE SUFFIX" part,
// one per line; and the order in which the tunnels handle their chains.
std::string chain_lines(const std::string &chain, const std::string &option, const std::vector<std::string> &parts);
extern const std::vector<std::string> kTunnelChainOrder;
// The condition-switched marking rules of a tunnel's chain C in mangle and
// nat: SSRC (entering over device, when one is given) and SDST.
std::string mark_lines(const std::string &chain, const std::string &device = "");

// An interface record as the interface module stores it: unset texts "^o^",
// addresses "0.0.0.0".
interface_record interface_port(int port, const char *iname, int itype, int imode = 1, int cmode = 3,
                                const char *ipaddr = "0.0.0.0", const char *netmask = "255.255.255.0", int izone = 0);
// The same as the interface module makes it: its defaults for the type and
// address mode, then the port's own values (mask 255.255.255.0, device
// eth + port - 1, imode 1).
interface_record interface_defaults(int port, const char *iname, int itype, int cmode, const char *ipaddr = "0.0.0.0");
// Writes the records into the shared interface memory at their ports; reset
// empties every port's record first.
void install_interfaces(const std::vector<interface_record> &records);
void reset_interfaces(const std::vector<interface_record> &records);

// The lines of text (each ended by "\n") that hold part, or that lack it.
std::string lines_with(const std::string &text, const std::string &part, bool holding = true);
// Line number (from 1) of text, without its "\n".
std::string line_of(const std::string &text, int number);
// text with every from replaced by to: golden texts made from one another.
std::string replaced(std::string text, const std::string &from, const std::string &to);

// A record's text field set from a test's value, cut at its capacity.
template <std::size_t Size>
void put(char (&field)[Size], const char *value) {
    std::snprintf(field, Size, "%s", value);
}

// The ARP answers for address (arptables rules with action "-I" or "-D"),
// one per port in order.
std::string arp_answers(const char *action, const std::string &address, const std::vector<std::string> &ports);

// The system address table as "port address count" lines, sorted as texts
// (the table's own order depends on the byte order).
std::string system_addresses();

// The decoded form of a request whose fields are these (a name may repeat),
// in place of the form value list until the next submit_form or qFree.
using FormValues = std::vector<std::pair<std::string, std::string>>;
void submit_form(const FormValues &fields);

// The radio keys of a band left at its defaults in an AP's file, after its
// wireless_mode; and such a file with its time line written as "time=T",
// once the time is found to be no earlier than since.
extern const std::string kDefaultRadio;
std::string without_time(const std::string &file, time_t since);

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
    // The module's record parsed from its line.
    template <typename Record>
    Record record(std::string line) const {
        Record r{};
        table_->parse(line.data(), &r);
        return r;
    }

private:
    module_table *table_;
    void (*unregister_)(module_table *);
};

// A module-specific slot called with its documented arguments.
template <typename Fn, typename... Args>
auto call(module_op slot, Args... args) {
    return reinterpret_cast<std::remove_pointer_t<Fn> *>(slot)(args...);
}

}  // namespace testing_support
