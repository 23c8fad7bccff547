// Every module of the library, by name: what lets a module drive another
// (the interface module asking each dependent module whether an interface
// is in use) and a program walk the whole configuration.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>

#include "system/module.h"
#include "webadmin.h"

namespace {

constexpr const char *kSource = "system/module_directory.c";

// Each module's configuration files by their numbers in file_list (the
// setup wizard's working copies are not configuration).
constexpr int kNoFiles[] = {-1};
constexpr int kInterfaceFiles[] = {28, -1};
constexpr int kSubnetFiles[] = {18, 226, -1};
constexpr int kRouteFiles[] = {19, -1};
constexpr int kDynamicRouteFiles[] = {21, -1};
constexpr int kVirtualLinkFiles[] = {159, -1};
constexpr int kAddressFiles[] = {30, 31, 32, 33, 34, 35, -1};
constexpr int kAuthUserFiles[] = {43, 44, -1};
constexpr int kServiceFiles[] = {38, 39, -1};
constexpr int kPermitIpFiles[] = {14, -1};
constexpr int kMappedIpFiles[] = {54, -1};
constexpr int kVirtualIpFiles[] = {55, -1};
constexpr int kVirtualIpGroupFiles[] = {56, -1};
constexpr int kDdnsFiles[] = {22, -1};
constexpr int kGreTunnelFiles[] = {221, -1};
constexpr int kPptpServerFiles[] = {60, -1};
constexpr int kPptpClientFiles[] = {61, -1};
constexpr int kIpsecFiles[] = {57, -1};
constexpr int kTrunkFiles[] = {58, -1};
constexpr int kTrunkGroupFiles[] = {59, -1};
constexpr int kUpgradeInfoFiles[] = {183, -1};
constexpr int kApProfileFiles[] = {175, -1};
constexpr int kApWiredFiles[] = {180, -1};
constexpr int kApHostFiles[] = {176, -1};
constexpr int kApEmapFiles[] = {174, -1};
constexpr int kApSettingFiles[] = {172, -1};

// initial_system_cmd with the boot flag on each record of a module kept in
// several files.
template <std::intptr_t... Selectors>
int boot_files(module_table *table) {
    return module::boot_records(table, MODULE_TAG(kSource), {Selectors...});
}

// command on each record, for modules whose boot operation re-applies all
// their records at every call: each is applied once.
template <std::intptr_t... Selectors>
int command_files(module_table *table) {
    auto command = reinterpret_cast<route_command_fn>(table->command);
    return module::walk_files(table, {Selectors...}, MODULE_TAG(kSource),
                              [command](void *rec, int) { command(rec, 0); });
}

// The controller's one settings line (its open reads it into the record,
// or stores the defaults in an empty file), applied with the boot-time
// set-up and the synchronisation of the APs.
int boot_ap_setting(module_table *table) {
    ap_setting_record settings{};
    record_file *h = table->open(&settings, MODULE_TAG(kSource), 0);
    table->close(&h);
    reinterpret_cast<ap_setting_initial_fn>(table->initial_system_cmd)(nullptr, &settings, 1);
    return 1;
}

// Rows in the order the modules are applied at boot: a module comes after
// the ones whose records it reads or whose chains and devices it uses.
const module_entry kModules[] = {
    // interfaces, the routing on them, and the further WAN links
    {"interface", interface_register, interface_unregister, kInterfaceFiles, sizeof(interface_record)},
    {"multiple subnet", msubnet_register, msubnet_unregister, kSubnetFiles, sizeof(msubnet_record), nullptr,
     command_files<0, 1>},
    {"route table", route_table_register, route_table_unregister, kRouteFiles, sizeof(route_record), nullptr,
     command_files<0>},
    {"dynamic route", dynamic_route_register, dynamic_route_unregister, kDynamicRouteFiles,
     sizeof(dynamic_route_record)},
    {"virtual_link", virtual_link_register, virtual_link_unregister, kVirtualLinkFiles, sizeof(virtual_link_record)},

    // the objects that rules and tunnels name
    {"address", address_register, address_unregister, kAddressFiles, sizeof(address_record), nullptr,
     boot_files<0, 1, 2, 3, 4, 5>},
    {"auth_user", auth_user_register, auth_user_unregister, kAuthUserFiles, sizeof(auth_user_record)},
    {"service", service_register, service_unregister, kServiceFiles, sizeof(service_record), nullptr,
     boot_files<1, 2>},

    // management access and address translation: groups after the virtual
    // servers they jump to
    {"permit_ip", permit_ip_register, permit_ip_unregister, kPermitIpFiles, sizeof(permit_ip_record)},
    {"mapped_ip", mapped_ip_register, mapped_ip_unregister, kMappedIpFiles, sizeof(mapped_ip_record)},
    {"virtual_ip", virtual_ip_register, virtual_ip_unregister, kVirtualIpFiles, sizeof(virtual_ip_record)},
    {"virtual_ip_group", virtual_ip_group_register, virtual_ip_group_unregister, kVirtualIpGroupFiles,
     sizeof(virtual_ip_group_record)},

    // VPN and WAN services: the tunnels, then the trunks that apply tunnels
    // with their networks.
    {"ddns", ddns_register, ddns_unregister, kDdnsFiles, sizeof(ddns_record)},
    {"gre_tunnel", gre_tunnel_register, gre_tunnel_unregister, kGreTunnelFiles, sizeof(gre_tunnel_record)},
    {"vpn_pptp_server", vpn_pptp_server_register, vpn_pptp_server_unregister, kPptpServerFiles,
     sizeof(vpn_pptp_server_record)},
    {"vpn_pptp_client", vpn_pptp_client_register, vpn_pptp_client_unregister, kPptpClientFiles,
     sizeof(vpn_pptp_client_record)},
    {"vpn_ipsec_autokey", vpn_ipsec_autokey_register, vpn_ipsec_autokey_unregister, kIpsecFiles,
     sizeof(vpn_ipsec_autokey_record)},
    {"vpn_trunk", vpn_trunk_register, vpn_trunk_unregister, kTrunkFiles, sizeof(vpn_trunk_record)},
    {"vpn_trunk_group", vpn_trunk_group_register, vpn_trunk_group_unregister, kTrunkGroupFiles,
     sizeof(vpn_trunk_group_record)},

    // access-point controller
    {"ap_profile", ap_profile_register, ap_profile_unregister, kApProfileFiles, sizeof(ap_profile_record)},
    {"ap_wired", ap_wired_register, ap_wired_unregister, kApWiredFiles, sizeof(ap_wired_record)},
    {"ap_host", ap_host_register, ap_host_unregister, kApHostFiles, sizeof(ap_group_record)},
    {"ap_emap", ap_emap_register, ap_emap_unregister, kApEmapFiles, sizeof(ap_emap_record)},
    {"ap_setting", ap_setting_register, ap_setting_unregister, kApSettingFiles, sizeof(ap_setting_record), nullptr,
     boot_ap_setting},

    // the firmware upgrade's own
    {"upgrade_info", upgrade_info_register, upgrade_info_unregister, kUpgradeInfoFiles, sizeof(upgrade_info_record)},
    {"sys_reboot", sys_reboot_register, sys_reboot_unregister, kNoFiles, sizeof(uint32_t)},
};

// The modules whose records forms and documents fill, with what each field
// may hold.
const module::description *const kDescriptions[] = {
    &module::descriptions::vpn_trunk,
    &module::descriptions::vpn_ipsec_autokey,
    &module::descriptions::vpn_pptp_server,
    &module::descriptions::vpn_pptp_client,
    &module::descriptions::gre_tunnel,
    &module::descriptions::auth_user,
    &module::descriptions::ddns,
    &module::descriptions::virtual_link,
    &module::descriptions::ap_setting,
    &module::descriptions::ap_host,
    &module::descriptions::ap_profile,
    &module::descriptions::ap_wired,
    &module::descriptions::ap_emap,
    &module::descriptions::interface,
    &module::descriptions::route_table,
    &module::descriptions::multiple_subnet,
    &module::descriptions::dynamic_route,
    &module::descriptions::permit_ip,
    &module::descriptions::mapped_ip,
    &module::descriptions::virtual_ip,
    &module::descriptions::virtual_ip_group,
    &module::descriptions::service,
    &module::descriptions::address,
    &module::descriptions::vpn_trunk_group,
};

}  // namespace

const module::description *module::described(const char *name) {
    if (!name) return nullptr;
    for (const description *d : kDescriptions)
        if (std::strcmp(d->module, name) == 0) return d;
    return nullptr;
}

extern "C" {

const module_entry *module_directory(int i) {
    return i >= 0 && static_cast<std::size_t>(i) < std::size(kModules) ? &kModules[i] : nullptr;
}

const module_entry *module_find(const char *name) {
    if (!name) return nullptr;
    for (const module_entry &e : kModules)
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

}  // extern "C"
