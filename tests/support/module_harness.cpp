#include "support/module_harness.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>

#include "platform/platform.h"

namespace testing_support {
namespace {

struct Message {
    long type;
    char text[1024];
};

std::string drain_queue(key_t appliance_key) {
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
    std::snprintf(field, Size, "%s", value);
}

}  // namespace

ModuleBox::ModuleBox(const std::vector<std::string> &definitions)
    : Sandbox(definitions), drainer_([this] {
          while (!stop_) {
              drain();
              std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
      }) {}

ModuleBox::~ModuleBox() {
    stop_ = true;
    drainer_.join();
}

void ModuleBox::drain() {
    std::lock_guard<std::mutex> lock(mutex_);
    ipv4_ += drain_queue(0x912164);
    ipv6_ += drain_queue(0x912166);
}

Effects ModuleBox::take() {
    drain();
    std::lock_guard<std::mutex> lock(mutex_);
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

std::string arp_answers(const char *action, const std::string &address, const std::vector<std::string> &ports) {
    std::string rules;
    for (const std::string &port : ports)
        rules += std::string("/sbin/arptables ") + action + " INPUT -i " + port + " -d " + address +
                 " -j mangle --mangle-mac-reply --mangle-target CONTINUE\n";
    return rules;
}

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

std::string system_addresses() {
    std::vector<std::string> rows;
    const int id = shmget(platform::ipc_key(0x20100311), 0, 0);
    if (id < 0) return {};
    void *segment = shmat(id, nullptr, SHM_RDONLY);
    if (segment == reinterpret_cast<void *>(-1)) return {};
    const auto *bytes = static_cast<const unsigned char *>(segment);
    int32_t count;
    std::memcpy(&count, bytes + 24, 4);
    for (int i = 0; i < count && i < 1024; ++i) {
        int32_t field[4];
        std::memcpy(field, bytes + 32 + 16 * i, 16);
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &field[2], text, sizeof text);
        rows.push_back(std::to_string(field[1]) + " " + text + " " + std::to_string(field[3]) + "\n");
    }
    shmdt(segment);
    std::sort(rows.begin(), rows.end());
    std::string text;
    for (const std::string &row : rows) text += row;
    return text;
}

void submit_form(const std::vector<std::pair<std::string, std::string>> &fields) {
    std::string query;
    for (const auto &[name, value] : fields) {
        std::unique_ptr<char, decltype(&free)> encoded(qURLencode(value.c_str()), free);
        query += (query.empty() ? "" : "&") + name + "=" + (encoded ? encoded.get() : "");
    }
    qFree();
    setenv("REQUEST_METHOD", "GET", 1);
    setenv("QUERY_STRING", query.c_str(), 1);
    qDecoder();
    unsetenv("QUERY_STRING");
    unsetenv("REQUEST_METHOD");
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
