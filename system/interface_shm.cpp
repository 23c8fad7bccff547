// The shared interface memory: one interface record per port, in port
// order, that daemons and the other modules read instead of the file, and
// the queries other modules and pages make of it.
#include <cstdlib>
#include <cstring>

#include "runtime/shared_segment.h"
#include "system/interface.h"
#include "system/module.h"

namespace {

constexpr key_t kInterfaceKey = 0x20070824;

interface_record *segment() {
    const int ports = interface::port_count();
    if (ports < 1) return nullptr;
    return static_cast<interface_record *>(
        runtime::attach_segment(kInterfaceKey, static_cast<std::size_t>(ports) * sizeof(interface_record)));
}

bool named(const interface_record &r, const char *iname) { return std::strncmp(r.iname, iname, sizeof r.iname) == 0; }

// Calls visit on the record of every port in use until it returns true;
// whether it did.
template <typename Visit>
bool any_port(Visit visit) {
    for (int port = 1; port <= interface::port_count(); ++port) {
        const interface_record *r = interface_read_shm(port);
        if (r && interface::in_use(*r) && visit(*r)) return true;
    }
    return false;
}

bool nat_with_address(const interface_record &r) { return r.imode == 1 && module::has_ipv4(r.ipaddr); }

// Character port of a text that has one character per port.
bool port_flag(const char *text, int port) {
    return text && port >= 1 && std::strlen(text) >= static_cast<std::size_t>(port) && text[port - 1] == '1';
}

}  // namespace

namespace interface {

int port_count() { return RETURN_DEF_INT("SYSTEM_PORT_NUM"); }
bool in_use(const interface_record &r) { return r.itype != 0; }
bool bonded(const interface_record &r) { return r.ibond >= 1 && r.ibond <= port_count(); }
bool bond_master(const interface_record &r) { return bonded(r) && r.ibond == r.port; }
bool bond_member(const interface_record &r) { return bonded(r) && r.ibond != r.port; }

interface_record *find_port(const char *iname, ports which) {
    if (!iname || !*iname || module::same_text(iname, module::kUnset)) return nullptr;
    for (int port = 1; port <= port_count(); ++port) {
        interface_record *r = interface_read_shm(port);
        if (r && (which == ports::all || in_use(*r)) && named(*r, iname)) return r;
    }
    return nullptr;
}

// The same choice the static routes make: an interface whose traffic is
// bridged has its addresses on the zone's bridge; the access-point
// controller and the bridged VPN move an interface onto their own bridge.
std::string carrier(const interface_record &r, ports which) {
    const bool every = which == ports::all;
    int routing = 0, bridging = 0;
    for (int port = 1; port <= port_count(); ++port) {
        const interface_record *q = port == r.port ? &r : interface_read_shm(port);
        if (!q || (!every && !in_use(*q))) continue;
        routing += q->imode == 3;
        bridging += q->imode == 2;
    }
    const bool zoned = r.izone > 0;
    const bool bridged = r.imode == 3 || (r.imode == 2 && zoned) ||
                         (r.itype == 2 && r.cmode == 3 && (routing > 0 || (bridging > 0 && zoned))) ||
                         (r.itype == 1 && r.imode == 1 && bridging > 0 && zoned);
    if (bridged) return "br" + std::to_string(r.izone);
    const char *controller = RS(41);
    if (controller && (every || in_use(r)) && named(r, controller) && !module::same_text(controller, module::kUnset))
        return "brgre";
    if (port_flag(RS(58), r.port)) return "brvpn" + std::to_string(r.port);
    return module::bounded(r.iname);
}

}  // namespace interface

extern "C" {

int interface_init_shm(void) { return segment() ? 0 : -1; }

interface_record *interface_read_shm(int port) {
    if (port < 1 || port > interface::port_count()) return nullptr;
    interface_record *records = segment();
    return records ? &records[port - 1] : nullptr;
}

int return_contrast_port_num(const char *iname) {
    if (!iname) return 0;
    const int ports = interface::port_count();
    for (int port = 1; port <= ports; ++port) {
        const interface_record *r = interface_read_shm(port);
        if (r && named(*r, iname)) return port;
    }
    return 0;
}

const char *getBondedName(int port) {
    const interface_record *r = interface_read_shm(port);
    if (!r) return nullptr;
    if (!interface::bond_member(*r)) return r->iname;
    const interface_record *master = interface_read_shm(r->ibond);
    return master ? master->iname : nullptr;
}

int nextINUM(int itype) {
    for (int n = 1;; ++n)
        if (!any_port([&](const interface_record &r) { return r.itype == itype && my_nameseq(r.iname) == n; }))
            return n;
}

int haveNatInterface(int port) {
    return any_port([&](const interface_record &r) { return r.port != port && nat_with_address(r); }) ? 1 : 0;
}

int haveNatInterfaceWithTransparentBridge(int port) {
    return haveNatInterface(port) && any_port([](const interface_record &r) { return r.imode == 2; }) ? 1 : 0;
}

int haveAccessibleInterface(int port) {
    return any_port([&](const interface_record &r) {
        return r.port != port && module::has_ipv4(r.ipaddr) && (std::atoi(r.security) & 6);
    })
               ? 1
               : 0;
}

int isTransparentBridge(const char *name) {
    const interface_record *r = interface::find_port(name);
    if (!r) return 0;
    return r->izone ? r->izone : r->imode == 2 ? 1 : 0;
}

int permit_ip_num(void) {
    module::registered permit("permit_ip");
    const record_file *h = permit.open(MODULE_TAG(interface::kSource), 0);
    return h ? static_cast<int>(h->count) : 0;
}

int enableSmartUtil(void) {
    int wans = 0;
    any_port([&](const interface_record &r) { return (wans += r.itype == 2) > 1; });
    return wans > 1 ? 1 : 0;
}

int interface_route_device(const char *iname, char *out, int size) {
    const interface_record *r = interface::find_port(iname, interface::ports::all);
    if (!r || !out || size < 1) return -1;
    try {
        module::set_text(out, static_cast<std::size_t>(size), interface::carrier(*r, interface::ports::all).c_str());
    } catch (...) {
        return -1;
    }
    return 0;
}

}  // extern "C"
