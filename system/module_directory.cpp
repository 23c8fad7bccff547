// Every module of the library, by name: what lets a module drive another
// (the interface module asking each dependent module whether an interface
// is in use) and a program walk the whole configuration.
#include <cstring>
#include <iterator>

#include "webadmin.h"

namespace {

constexpr int kNoFiles[] = {-1};
constexpr int kUpgradeInfoFiles[] = {183, -1};

// Rows in the order the modules are applied at boot: a module comes after
// the ones whose records it reads or whose chains and devices it uses.
const module_entry kModules[] = {
    // interfaces and routing

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
