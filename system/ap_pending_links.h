// Functions of the interface and IPsec modules that the access-point
// controller calls.  Until those modules are part of this tree, the
// stand-ins in ap_pending_links.cpp only record each call as a shell
// comment ("# name(arguments)"), so the call is seen where it lands.
#pragma once

#include "webadmin.h"

extern "C" {

// The transparent-routing rules of every port in that mode, flushed and set.
int flush_transparent_routing_rule(int mode);
int set_transparent_routing_rule(int mode);
// The interface's addresses put on (on nonzero) or taken off device.
int set_ip_addr_nat_mode(int on, const interface_record *record, const char *device);
// The interface's any-IP routing rules set (on nonzero) or removed for device.
int set_anyiprouting(int on, const interface_record *record, const char *device);
// The GRE bridging of the IPsec tunnels bridged to port, added ("A") or
// deleted ("D").
int vpn_ipsec_autokey_gre_bridge_port(const char *operation, int port);

}  // extern "C"
