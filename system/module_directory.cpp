// Every module of the library, by name: what lets a module drive another
// (the interface module asking each dependent module whether an interface
// is in use) and a program walk the whole configuration.
#include <cstring>

#include "webadmin.h"

namespace {

// Configuration files of the modules, by their numbers in file_list.
const int kAddressFiles[] = {30, 31, 32, 33, 34, 35, -1};
const int kAuthUserFiles[] = {43, 44, -1};
const int kDdnsFiles[] = {22, -1};
const int kVirtualLinkFiles[] = {159, -1};
const int kGreTunnelFiles[] = {221, -1};
const int kPptpServerFiles[] = {60, 67, -1};
const int kPptpClientFiles[] = {61, 68, -1};
const int kIpsecFiles[] = {57, 65, -1};
const int kTrunkFiles[] = {58, 66, -1};
const int kTrunkGroupFiles[] = {59, -1};

// Rows in the order the modules are applied at boot: a module comes after
// the ones whose records it reads or whose chains and devices it uses.
const module_entry kModules[] = {
    // interfaces and routing

    // address translation, management access, service objects

    // VPN and WAN services: the objects the tunnels and policies name first,
    // the tunnels, then the trunks that apply tunnels with their networks.
    {"address", address_register, address_unregister, kAddressFiles},
    {"auth_user", auth_user_register, auth_user_unregister, kAuthUserFiles},
    {"ddns", ddns_register, ddns_unregister, kDdnsFiles},
    {"virtual_link", virtual_link_register, virtual_link_unregister, kVirtualLinkFiles},
    {"gre_tunnel", gre_tunnel_register, gre_tunnel_unregister, kGreTunnelFiles},
    {"vpn_pptp_server", vpn_pptp_server_register, vpn_pptp_server_unregister, kPptpServerFiles},
    {"vpn_pptp_client", vpn_pptp_client_register, vpn_pptp_client_unregister, kPptpClientFiles},
    {"vpn_ipsec_autokey", vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister, kIpsecFiles},
    {"vpn_trunk", vpn_trunk_register, vpn_trunk_unregister, kTrunkFiles},
    {"vpn_trunk_group", vpn_trunk_group_register, vpn_trunk_group_unregister, kTrunkGroupFiles},

    // access-point controller

    {nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

extern "C" {

const module_entry *module_directory(void) { return kModules; }

const module_entry *module_find(const char *name) {
    if (!name) return nullptr;
    for (const module_entry *e = kModules; e->name; ++e)
        if (std::strcmp(e->name, name) == 0) return e;
    return nullptr;
}

}  // extern "C"
