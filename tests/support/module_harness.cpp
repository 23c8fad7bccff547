#include "support/module_harness.h"

#include <sys/ipc.h>
#include <sys/msg.h>

#include <cstring>
#include <fstream>

#include "platform/platform.h"

namespace testing_support {
namespace {

struct Message {
    long type;
    char text[1024];
};

std::string drain(key_t appliance_key) {
    std::string lines;
    const int id = msgget(platform::ipc_key(appliance_key), 0);
    if (id < 0) return lines;
    Message message;
    while (msgrcv(id, &message, sizeof message.text, 0, IPC_NOWAIT) >= 0)
        lines.append(message.text, strnlen(message.text, sizeof message.text)) += '\n';
    return lines;
}

template <std::size_t Size>
void put(char (&field)[Size], const char *value) {
    std::strncpy(field, value, Size - 1);
    field[Size - 1] = '\0';
}

}  // namespace

ModuleBox::ModuleBox(const std::vector<std::string> &definitions) : Sandbox(definitions) {}

Effects ModuleBox::take() {
    Effects e{commands(), drain(0x912164), drain(0x912166)};
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
