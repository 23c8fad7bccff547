// Every module of the library, by name: what lets a module drive another
// (the interface module asking each dependent module whether an interface
// is in use) and a program walk the whole configuration.
#include <cstring>

#include "webadmin.h"

namespace {

const int kInterfaceFiles[] = {28, -1};
const int kSubnetFiles[] = {18, 226, -1};
const int kRouteFiles[] = {19, -1};
const int kDynamicRouteFiles[] = {21, -1};

// Rows in the order the modules are applied at boot: a module comes after
// the ones whose records it reads or whose chains and devices it uses.
const module_entry kModules[] = {
    // interfaces and routing
    {"interface", interface_register, interface_unregister, kInterfaceFiles},
    {"multiple subnet", msubnet_register, msubnet_unregister, kSubnetFiles},
    {"route table", route_table_register, route_table_unregister, kRouteFiles},
    {"dynamic route", dynamic_route_register, dynamic_route_unregister, kDynamicRouteFiles},

    // address translation, management access, service objects

    // VPN and WAN services

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
