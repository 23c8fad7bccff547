// The system address table: the addresses (virtual and mapped addresses of
// the modules) for which the appliance announces itself with ARP, shared by
// all its programs in one segment and changed only under its lock.
#include <arpa/inet.h>
#include <syslog.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "runtime/shared_segment.h"
#include "webadmin.h"

namespace {

constexpr key_t kTableKey = 0x20100311;
constexpr int kMaxEntries = 1024;

struct Entry {
    int32_t ifindex;   // the port's PORT%d_INDEX_NUM
    int32_t port;
    uint32_t address;  // network order
    int32_t references;
};

struct Table {
    unsigned char lock[runtime::kSegmentLockSize];
    int32_t count;
    int32_t reserved;
    Entry entries[kMaxEntries];
};
static_assert(sizeof(Table) == 16416, "the table's layout is shared with the appliance's other programs");

Table *table() { return static_cast<Table *>(runtime::attach_segment(kTableKey, sizeof(Table))); }

// Sorted by address, then port, both compared unsigned.
bool before(const Entry &a, const Entry &b) {
    if (a.address != b.address) return a.address < b.address;
    return static_cast<uint32_t>(a.port) < static_cast<uint32_t>(b.port);
}

// The address of a text, network order; 0 for null, unreadable or 0.0.0.0.
uint32_t announced(const char *text) { return text ? htonl(my_inet_addr(text)) : 0; }

// The entry of (address, port), or null.  The count is clamped, so a
// segment written wrongly by another program cannot send the search astray.
Entry *find(Table &t, uint32_t address, int port) {
    const int count = std::clamp<int32_t>(t.count, 0, kMaxEntries);
    const Entry key{0, port, address, 0};
    Entry *end = t.entries + count;
    Entry *at = std::lower_bound(t.entries, end, key, before);
    return at != end && at->address == address && at->port == port ? at : nullptr;
}

int interface_of(int port) {
    char name[32];
    std::snprintf(name, sizeof name, "PORT%d_INDEX_NUM", port);
    const char *value = RETURN_DEF_STR(name);
    return value ? std::atoi(value) : 0;
}

// Runs change on the table under its lock for a pair that may be listed:
// its result, or -1 for a refused pair or no table.
template <typename Change>
int change_entry(int port, const char *address, Change change) {
    const uint32_t ip = announced(address);
    if (port < 1 || ip == 0) return -1;
    Table *t = table();
    if (!t) return -1;
    runtime::SegmentLock lock(t);
    t->count = std::clamp<int32_t>(t->count, 0, kMaxEntries);
    return change(*t, ip);
}

}  // namespace

extern "C" {

int my_add_bcast_system_ip(int port, const char *address) {
    return change_entry(port, address, [port](Table &t, uint32_t ip) {
        if (Entry *entry = find(t, ip, port)) {
            ++entry->references;
            return 0;
        }
        if (t.count >= kMaxEntries) {
            platform::log(LOG_ERR, "error: my_add_bcast_system_ip FuFuFull!!!(%d)", kMaxEntries);
            return -1;
        }
        t.entries[t.count++] = Entry{interface_of(port), port, ip, 1};
        std::sort(t.entries, t.entries + t.count, before);
        return 0;
    });
}

int my_del_bcast_system_ip(int port, const char *address) {
    return change_entry(port, address, [port](Table &t, uint32_t ip) {
        Entry *entry = find(t, ip, port);
        if (!entry) return -1;
        if (--entry->references <= 0) {
            std::copy(entry + 1, t.entries + t.count, entry);
            --t.count;
        }
        return 0;
    });
}

int my_send_bcast_system_ip(void) {
    Table *t = table();
    if (!t) return -1;
    runtime::SegmentLock lock(t);
    const int count = std::clamp<int32_t>(t->count, 0, kMaxEntries);
    int failed = 0;
    for (int i = 0; i < count; ++i)
        failed += my_send_ifndex_masq_broadcast(t->entries[i].ifindex, t->entries[i].address) != 0;
    return failed == 0 ? 0 : -1;
}

void my_clear_bcast_system_ip(void) {
    Table *t = table();
    if (!t) return;
    runtime::SegmentLock lock(t);
    t->count = 0;
    std::memset(t->entries, 0, sizeof t->entries);
}

}  // extern "C"
