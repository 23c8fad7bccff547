#include "support/module_harness.h"

#include <sys/ipc.h>
#include <sys/msg.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace testing_support {
namespace {

struct Message {
    long type;
    char text[1024];
};

// Appends every command waiting on the queue to lines; whether there was one.
bool drain(int queue, std::string &lines) {
    Message message;
    bool any = false;
    while (msgrcv(queue, &message, sizeof message.text, 0, IPC_NOWAIT) >= 0) {
        lines.append(message.text, strnlen(message.text, sizeof message.text)) += '\n';
        any = true;
    }
    return any;
}

template <std::size_t Size>
void put(char (&field)[Size], const char *value) {
    std::strncpy(field, value, Size - 1);
    field[Size - 1] = '\0';
}

}  // namespace

struct ModuleBox::Drain {
    int queues[2];
    std::string lines[2];
    std::mutex mutex;
    std::atomic<bool> stop{false};
    std::thread thread;

    Drain() {
        const key_t keys[] = {0x912164, 0x912166};
        for (int i = 0; i < 2; ++i) queues[i] = msgget(platform::ipc_key(keys[i]), IPC_CREAT | 0600);
        thread = std::thread([this] {
            while (!stop) {
                bool any;
                {
                    std::lock_guard<std::mutex> hold(mutex);
                    any = pass();
                }
                if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~Drain() {
        stop = true;
        thread.join();
    }
    bool pass() {
        const bool v4 = drain(queues[0], lines[0]);
        return drain(queues[1], lines[1]) || v4;
    }
};

ModuleBox::ModuleBox(const std::vector<std::string> &definitions)
    : Sandbox(definitions), drain_(std::make_unique<Drain>()) {}

ModuleBox::~ModuleBox() = default;

Effects ModuleBox::take() {
    // A command queued by the library is in the queue or already drained.
    std::lock_guard<std::mutex> hold(drain_->mutex);
    drain_->pass();
    Effects e{commands(), std::move(drain_->lines[0]), std::move(drain_->lines[1])};
    drain_->lines[0].clear();
    drain_->lines[1].clear();
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
