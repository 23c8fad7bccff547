// Every module of the library, by name: what lets a module drive another
// (the interface module asking each dependent module whether an interface
// is in use) and a program walk the whole configuration.
#include <cstring>

#include "webadmin.h"

namespace {

constexpr int kNoFiles[] = {-1};
constexpr int kUpgradeInfoFiles[] = {183, -1};
constexpr int kApProfileFiles[] = {175, -1};
constexpr int kApWiredFiles[] = {180, -1};
constexpr int kApHostFiles[] = {176, -1};
constexpr int kApEmapFiles[] = {174, -1};
constexpr int kApSettingFiles[] = {172, -1};

// Rows in the order the modules are applied at boot: a module comes after
// the ones whose records it reads or whose chains and devices it uses.
const module_entry kModules[] = {
    // interfaces and routing

    // address translation, management access, service objects

    // VPN and WAN services

    // access-point controller
    {"ap_profile", ap_profile_register, ap_profile_unregister, kApProfileFiles},
    {"ap_wired", ap_wired_register, ap_wired_unregister, kApWiredFiles},
    {"ap_host", ap_host_register, ap_host_unregister, kApHostFiles},
    {"ap_emap", ap_emap_register, ap_emap_unregister, kApEmapFiles},
    {"ap_setting", ap_setting_register, ap_setting_unregister, kApSettingFiles},

    // the firmware upgrade's own
    {"upgrade_info", upgrade_info_register, upgrade_info_unregister, kUpgradeInfoFiles},
    {"sys_reboot", sys_reboot_register, sys_reboot_unregister, kNoFiles},

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
