// Every module of the library, by name: what lets a module drive another
// (the interface module asking each dependent module whether an interface
// is in use) and a program walk the whole configuration.
#include <cstring>
#include <iterator>

#include "system/module.h"
#include "webadmin.h"

namespace {

// Each module's configuration files by their numbers in file_list.
constexpr int kNoFiles[] = {-1};
constexpr int kInterfaceFiles[] = {28, -1};
constexpr int kSubnetFiles[] = {18, 226, -1};
constexpr int kRouteFiles[] = {19, -1};
constexpr int kDynamicRouteFiles[] = {21, -1};
constexpr int kUpgradeInfoFiles[] = {183, -1};

constexpr const char *kSource = "system/module_directory.c";

// Applies every record of the file open(selector) chooses through the
// module's command slot (record, 0); how many.
template <typename Record>
int command_each(module_table *table, void *selector) {
    record_file *h = table->open(selector, MODULE_TAG(kSource), 0);
    int applied = 0;
    Record rec{};
    for (int k = 1; table->getline(h, &rec, nullptr, k); ++k, ++applied)
        reinterpret_cast<route_command_fn>(table->command)(&rec, 0);
    table->close(&h);
    return applied;
}

// Each static route once: the route table's own boot operation re-applies
// all of them at every call.
int boot_routes(module_table *table) { return command_each<route_record>(table, nullptr); }

// The subnets, then the VLANs with theirs.
int boot_subnets(module_table *table) {
    static int vlans;
    return command_each<msubnet_record>(table, nullptr) + command_each<msubnet_record>(table, &vlans);
}

// Rows in the order the modules are applied at boot: a module comes after
// the ones whose records it reads or whose chains and devices it uses.
const module_entry kModules[] = {
    // interfaces and routing
    {"interface", interface_register, interface_unregister, kInterfaceFiles, sizeof(interface_record)},
    {"multiple subnet", msubnet_register, msubnet_unregister, kSubnetFiles, sizeof(msubnet_record), nullptr,
     boot_subnets},
    {"route table", route_table_register, route_table_unregister, kRouteFiles, sizeof(route_record), nullptr,
     boot_routes},
    {"dynamic route", dynamic_route_register, dynamic_route_unregister, kDynamicRouteFiles,
     sizeof(dynamic_route_record)},

    // address translation, management access, service objects

    // VPN and WAN services

    // access-point controller

    // the firmware upgrade's own
    {"upgrade_info", upgrade_info_register, upgrade_info_unregister, kUpgradeInfoFiles, sizeof(upgrade_info_record)},
    {"sys_reboot", sys_reboot_register, sys_reboot_unregister, kNoFiles, sizeof(uint32_t)},
};

}  // namespace

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
