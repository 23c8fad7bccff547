#include "support/module_harness.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/shm.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/platform.h"

namespace testing_support {
namespace {

struct Message {
    long type;
    char text[1024];
};

// Appends what the queue holds to lines; whether there was anything.
bool drain(int queue, std::string &lines) {
    Message message;
    bool any = false;
    for (; msgrcv(queue, &message, sizeof message.text, 0, IPC_NOWAIT) >= 0; any = true)
        lines.append(message.text, strnlen(message.text, sizeof message.text)) += '\n';
    return any;
}

// The sandbox's queue of a family, made when missing.  Taken before the
// reader starts: the environment naming the sandbox is never read while a
// test changes it (the form goes through it).
int queue_of(key_t appliance_key) { return msgget(platform::ipc_key(appliance_key), IPC_CREAT | 0600); }

}  // namespace

// Reads both queues until stopped; the rules are received under the lock,
// so take() sees them in the order they were queued.
struct ModuleBox::Reader {
    const int ipv4_queue = queue_of(0x912164), ipv6_queue = queue_of(0x912166);
    std::mutex lock;
    std::string ipv4, ipv6;
    std::atomic<bool> stop{false};
    std::thread thread{[this] {
        while (!stop) {
            bool any;
            {
                std::lock_guard<std::mutex> held(lock);
                any = pass();
            }
            if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }};
    ~Reader() {
        stop = true;
        thread.join();
    }
    bool pass() { return drain(ipv4_queue, ipv4) | drain(ipv6_queue, ipv6); }
};

std::ostream &operator<<(std::ostream &out, const Effects &e) {
    return out << "commands:\n" << e.commands << "IPv4 rules:\n" << e.ipv4 << "IPv6 rules:\n" << e.ipv6;
}

ModuleBox::ModuleBox(const std::vector<std::string> &definitions)
    : Sandbox(definitions), reader_(std::make_unique<Reader>()) {
    // The library keeps each family's queue for the process. When an earlier
    // box's queues are gone, its first send fails and forgets them; this one
    // takes that failure, so none of the test's own rules is lost.
    for (int family : {4, 6})
        if (my_iptables(family, "box -") != 0) my_iptables(family, "box -");
    take();
}

ModuleBox::~ModuleBox() = default;

Effects ModuleBox::take() {
    std::lock_guard<std::mutex> held(reader_->lock);
    reader_->pass();
    Effects e{commands(), std::exchange(reader_->ipv4, {}), std::exchange(reader_->ipv6, {})};
    std::ofstream(file("/commands.log"), std::ios::trunc);
    return e;
}

const std::vector<std::string> kTunnelChainOrder = {"mangle CSRC", "mangle CDST", "nat CSRC", "nat CDST",
                                                     "mangle SSRC", "mangle SDST", "nat SSRC", "nat SDST"};

std::string chain_lines(const std::string &chain, const std::string &option, const std::vector<std::string> &parts) {
    std::string lines;
    for (const std::string &p : parts)
        lines += "/sbin/iptables -t " + p.substr(0, p.find(' ')) + " " + option + " " + chain +
                 p.substr(p.find(' ') + 1) + "\n";
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
    r.port = port, r.itype = itype, r.imode = imode, r.cmode = itype ? cmode : 0, r.izone = izone;
    r.nameseq = my_nameseq(iname);
    std::snprintf(r.dev, sizeof r.dev, "eth%d", port - 1);
    put(r.iname, iname);
    put(r.ipaddr, ipaddr);
    put(r.netmask, netmask);
    put(r.gateway, "0.0.0.0");
    put(r.mac, "00:00:00:00:00:00");
    return r;
}

interface_record interface_defaults(int port, const char *iname, int itype, int cmode, const char *ipaddr) {
    interface_record r{};
    r.itype = itype, r.imode = 1, r.cmode = cmode;
    Module(interface_register, interface_unregister)->set_default(&r, nullptr);
    r.port = port;
    r.nameseq = my_nameseq(iname);
    std::snprintf(r.dev, sizeof r.dev, "eth%d", port - 1);
    put(r.iname, iname);
    put(r.ipaddr, ipaddr);
    put(r.netmask, "255.255.255.0");
    return r;
}

void install_interfaces(const std::vector<interface_record> &records) {
    for (const interface_record &r : records)
        if (interface_record *slot = interface_read_shm(r.port)) *slot = r;
}

void reset_interfaces(const std::vector<interface_record> &records) {
    const int ports = RETURN_DEF_INT("SYSTEM_PORT_NUM");
    for (int port = 1; port <= ports; ++port)
        if (interface_record *slot = interface_read_shm(port)) *slot = interface_record{};
    install_interfaces(records);
}

std::string lines_with(const std::string &text, const std::string &part, bool holding) {
    std::string kept;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        const std::string line = text.substr(start, end - start + 1);
        if ((line.find(part) != std::string::npos) == holding) kept += line;
    }
    return kept;
}

std::string line_of(const std::string &text, int number) {
    std::size_t start = 0;
    for (int i = 1; i < number && start != std::string::npos; ++i) start = text.find('\n', start) + 1;
    if (start == std::string::npos || start > text.size()) return "";
    return text.substr(start, text.find('\n', start) - start);
}

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

std::string arp_answers(const char *action, const std::string &address, const std::vector<std::string> &ports) {
    std::string rules;
    for (const std::string &port : ports)
        rules += std::string("/sbin/arptables ") + action + " INPUT -i " + port + " -d " + address +
                 " -j mangle --mangle-mac-reply --mangle-target CONTINUE\n";
    return rules;
}

const std::string kDefaultRadio =
    "data_rate=Auto\nbeacon_interval=100\ndtim_interval=0\nhi_power=0\ntransmit_power=100%\nspanning_tree=0\n"
    "ack_timeout=64\nslot_time=9\nshort_gi=0\nigmp_snooping=0\ngreenfield=0\nchannel=0 (Auto)\n"
    "channel_width=Auto 20 / 40 MHz\nchannel_ext=Upper\n";

std::string without_time(const std::string &file, time_t since) {
    const size_t at = file.find("\ntime="), end = file.find('\n', at + 1);
    if (at == std::string::npos || end == std::string::npos) return file;
    EXPECT_GE(std::stol(file.substr(at + 6, end - at - 6)), since);
    return file.substr(0, at) + "\ntime=T" + file.substr(end);
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
    std::string all;
    for (const std::string &row : rows) all += row;
    return all;
}

void submit_form(const FormValues &fields) {
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
