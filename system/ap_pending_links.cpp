// Stand-ins for the interface and IPsec functions the access-point
// controller calls: each records its call and its arguments.
#include "system/ap_pending_links.h"

#include "system/module.h"

namespace {

const char *device_of(const interface_record *record) { return record ? record->iname : "(none)"; }

}  // namespace

extern "C" {

int flush_transparent_routing_rule(int mode) { return my_system("# flush_transparent_routing_rule(%d)", mode); }

int set_transparent_routing_rule(int mode) { return my_system("# set_transparent_routing_rule(%d)", mode); }

int set_ip_addr_nat_mode(int on, const interface_record *record, const char *device) {
    return my_system("# set_ip_addr_nat_mode(%d, %s, %s)", on, module::arg(device_of(record)).c_str(),
                     module::arg(device).c_str());
}

int set_anyiprouting(int on, const interface_record *record, const char *device) {
    return my_system("# set_anyiprouting(%d, %s, %s)", on, module::arg(device_of(record)).c_str(),
                     module::arg(device).c_str());
}

int vpn_ipsec_autokey_gre_bridge_port(const char *operation, int port) {
    return my_system("# vpn_ipsec_autokey_gre_bridge_port(%s, %d)", module::arg(operation).c_str(), port);
}

}  // extern "C"
