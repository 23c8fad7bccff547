// The wired-port profiles the APs' ports name by number: each becomes an
// ETH section of the WTP configuration file of every AP that uses it.
#include "system/ap_common.h"

namespace {

constexpr const char *kSource = "system/ap_wired.c";
constexpr int kWiredFile = 180;  // /etc/sysconfig/.firewall/ap_wired_opt.conf
constexpr const char *kGroupTexts[] = {"ap_wired"};

using W = ap_wired_record;
constexpr auto kFields = module::describe({
    AP_PROFILE_NAMED(W),
    AP_FLAG(W, client_isolation, 0),
    AP_NUMBER(W, trafficMode, 0, 0, 255),
    AP_NUMBER(W, vlan_id, 0, 0, 4094),
});
using profiles = ap::profiles<W, kFields, kWiredFile, true, kGroupTexts>;

const module_table kTable = profiles::table("ap_wired");

}  // namespace

const module::description module::descriptions::ap_wired{"ap_wired", kFields};

extern "C" {

module_table *ap_wired_register(void) { return module::register_table(kTable); }
void ap_wired_unregister(module_table *table) { module::unregister_table(table); }

ll_list *APW_getMySQL_list(void) { return profiles::list(MODULE_TAG(kSource)); }
void APW_closeMySQL(ll_list **list) { profiles::close(list); }

}  // extern "C"
