// Every module of the library, by name: what lets a module drive another
// (the interface module asking each dependent module whether an interface
// is in use) and a program walk the whole configuration.
#include <cstring>

#include "webadmin.h"

namespace {

// Each module's configuration files by their numbers in file_list.
const int kServiceFiles[] = {38, 39, -1};
const int kPermitIpFiles[] = {14, -1};
const int kMappedIpFiles[] = {54, -1};
const int kVirtualIpFiles[] = {55, -1};
const int kVirtualIpGroupFiles[] = {56, -1};

// Rows in the order the modules are applied at boot: a module comes after
// the ones whose records it reads or whose chains and devices it uses.
const module_entry kModules[] = {
    // interfaces and routing

    // address translation, management access, service objects
    {"service", service_register, service_unregister, kServiceFiles},
    {"permit_ip", permit_ip_register, permit_ip_unregister, kPermitIpFiles},
    {"mapped_ip", mapped_ip_register, mapped_ip_unregister, kMappedIpFiles},
    {"virtual_ip", virtual_ip_register, virtual_ip_unregister, kVirtualIpFiles},
    {"virtual_ip_group", virtual_ip_group_register, virtual_ip_group_unregister, kVirtualIpGroupFiles},

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
