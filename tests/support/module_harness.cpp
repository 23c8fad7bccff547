#include "support/module_harness.h"

#include <sys/ipc.h>
#include <sys/msg.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/platform.h"

namespace testing_support {
namespace {

struct Message {
    long type;
    char text[1024];
};

void drain(key_t key, std::string &lines) {
    const int id = msgget(key, 0);
    if (id < 0) return;
    Message message;
    while (msgrcv(id, &message, sizeof message.text, 0, IPC_NOWAIT) >= 0)
        lines.append(message.text, strnlen(message.text, sizeof message.text)) += '\n';
}

template <std::size_t Size>
void put(char (&field)[Size], const char *value) {
    std::strncpy(field, value, Size - 1);
    field[Size - 1] = '\0';
}

}  // namespace

void PrintTo(const Effects &e, std::ostream *os) {
    *os << "\n-- commands --\n" << e.commands << "-- ipv4 --\n" << e.ipv4 << "-- ipv6 --\n" << e.ipv6;
}

ModuleBox::ModuleBox(const std::vector<std::string> &definitions)
    : Sandbox(definitions),
      ipv4_key_(platform::ipc_key(0x912164)),
      ipv6_key_(platform::ipc_key(0x912166)),
      drainer_([this] {
          while (!stop_) {
              drain_queues();
              std::this_thread::sleep_for(std::chrono::microseconds(200));
          }
      }) {}

ModuleBox::~ModuleBox() {
    stop_ = true;
    drainer_.join();
}

// Under the lock, so that the commands keep the order they were queued in.
void ModuleBox::drain_queues() {
    std::lock_guard<std::mutex> lock(mutex_);
    drain(ipv4_key_, ipv4_);
    drain(ipv6_key_, ipv6_);
}

Effects ModuleBox::take() {
    drain_queues();
    std::lock_guard<std::mutex> lock(mutex_);
    Effects e{commands(), ipv4_, ipv6_};
    ipv4_.clear();
    ipv6_.clear();
    std::ofstream(file("/commands.log"), std::ios::trunc);
    return e;
}

const std::vector<std::string> kTunnelChainOrder = {"mangle CSRC", "mangle CDST", "nat CSRC", "nat CDST",
                                                     "mangle SSRC", "mangle SDST", "nat SSRC", "nat SDST"};

std::string chain_lines(const std::string &chain, const std::string &option, const std::vector<std::string> &parts) {
    std::string lines;
    for (const std::string &p : parts)
        lines += "/sbin/iptables -t " + p.substr(0, p.find(' ')) + " " + option + " " + chain + p.substr(p.find(' ') + 1) + "\n";
    return lines;
}

std::string mark_lines(const std::string &chain, const std::string &device) {
    std::string lines;
    const std::string condition = " -m condition --condition " + chain + " -j UTMMARK --set-type policy --or-mark ";
    for (const std::string table : {"mangle", "nat"})
        lines += "/sbin/iptables -t " + table + " -A " + chain + "SSRC" + (device.empty() ? "" : " -i " + device) +
                 condition + "0x20\n/sbin/iptables -t " + table + " -A " + chain + "SDST" + condition + "0x40\n";
    return lines;
}

interface_record interface_port(int port, const char *iname, int itype, int imode, int cmode, const char *ipaddr,
                                const char *netmask, int izone) {
    interface_record r{};
    r.port = port;
    r.itype = itype;
    r.imode = imode;
    r.cmode = itype ? cmode : 0;
    r.izone = izone;
    r.nameseq = my_nameseq(iname);
    std::snprintf(r.dev, sizeof r.dev, "eth%d", port - 1);
    put(r.iname, iname);
    put(r.ipaddr, ipaddr);
    put(r.netmask, netmask);
    put(r.gateway, "0.0.0.0");
    put(r.mac, "00:00:00:00:00:00");
    return r;
}

void install_interfaces(const std::vector<interface_record> &records) {
    for (const interface_record &r : records)
        if (interface_record *slot = interface_read_shm(r.port)) *slot = r;
}

void use_form(const FormValues &values) {
    std::string query;
    for (const auto &[name, value] : values) {
        char *encoded = qURLencode(value.c_str());
        query += (query.empty() ? "" : "&") + name + "=" + (encoded ? encoded : "");
        std::free(encoded);
    }
    qFree();
    setenv("REQUEST_METHOD", "GET", 1);
    setenv("QUERY_STRING", query.c_str(), 1);
}

Module::Module(module_table *(*register_fn)(), void (*unregister_fn)(module_table *))
    : table_(register_fn()), unregister_(unregister_fn) {
    if (!table_) throw std::bad_alloc();
}

Module::~Module() {
    close();
    unregister_(table_);
}

record_file *Module::open(int mode, void *selector) {
    close();
    table_->handle = table_->open(selector, "pid:0,tests:open():0", mode);
    return static_cast<record_file *>(table_->handle);
}

void Module::close() {
    if (table_->handle) {
        auto *h = static_cast<record_file *>(table_->handle);
        table_->close(&h);
        table_->handle = nullptr;
    }
}

}  // namespace testing_support
