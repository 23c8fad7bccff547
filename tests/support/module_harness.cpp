#include "support/module_harness.h"

#include <sys/ipc.h>
#include <sys/msg.h>

#include <chrono>
#include <cstring>
#include <fstream>

#include "platform/platform.h"

namespace testing_support {
namespace {

struct Message {
    long type;
    char text[1024];
};

constexpr key_t kQueues[] = {0x912164, 0x912166};  // IPv4, IPv6

// Appends what the queue holds now to lines; whether it held anything.
bool drain(key_t appliance_key, std::string &lines) {
    const int id = msgget(platform::ipc_key(appliance_key), 0);
    if (id < 0) return false;
    Message message;
    bool any = false;
    while (msgrcv(id, &message, sizeof message.text, 0, IPC_NOWAIT) >= 0) {
        lines.append(message.text, strnlen(message.text, sizeof message.text)) += '\n';
        any = true;
    }
    return any;
}

template <std::size_t Size>
void put(char (&field)[Size], const char *value) {
    const std::size_t length = strnlen(value, Size - 1);
    std::memcpy(field, value, length);
    field[length] = '\0';
}

}  // namespace

ModuleBox::ModuleBox(const std::vector<std::string> &definitions)
    : Sandbox(definitions), reader_([this] { drain_queues(); }) {}

// Stopped before the sandbox and its queues go.
ModuleBox::~ModuleBox() {
    stop_ = true;
    reader_.join();
}

void ModuleBox::drain_queues() {
    while (!stop_) {
        bool any;
        {
            std::lock_guard<std::mutex> hold(lock_);
            any = drain(kQueues[0], ipv4_) | drain(kQueues[1], ipv6_);
        }
        if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

Effects ModuleBox::take() {
    std::lock_guard<std::mutex> hold(lock_);
    drain(kQueues[0], ipv4_);
    drain(kQueues[1], ipv6_);
    Effects e{commands(), ipv4_, ipv6_};
    ipv4_.clear();
    ipv6_.clear();
    std::ofstream(file("/commands.log"), std::ios::trunc);
    return e;
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
