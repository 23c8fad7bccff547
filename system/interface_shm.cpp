// The shared interface memory: one interface record per port, in port
// order, that daemons and the other modules read instead of the file.
#include <cstring>

#include "runtime/shared_segment.h"
#include "webadmin.h"

namespace {

constexpr key_t kInterfaceKey = 0x20070824;

int port_count() { return RETURN_DEF_INT("SYSTEM_PORT_NUM"); }

interface_record *segment() {
    const int ports = port_count();
    if (ports < 1) return nullptr;
    return static_cast<interface_record *>(
        runtime::attach_segment(kInterfaceKey, static_cast<std::size_t>(ports) * sizeof(interface_record)));
}

}  // namespace

extern "C" {

int interface_init_shm(void) { return segment() ? 0 : -1; }

interface_record *interface_read_shm(int port) {
    if (port < 1 || port > port_count()) return nullptr;
    interface_record *records = segment();
    return records ? &records[port - 1] : nullptr;
}

int return_contrast_port_num(const char *iname) {
    if (!iname) return 0;
    const int ports = port_count();
    for (int port = 1; port <= ports; ++port) {
        const interface_record *r = interface_read_shm(port);
        if (r && std::strncmp(r->iname, iname, sizeof r->iname) == 0) return port;
    }
    return 0;
}

}  // extern "C"
