// The wired-port profiles the APs' ports name by number: each becomes an
// ETH section of the WTP configuration file of every AP that uses it.
#include "system/ap_common.h"

namespace {

constexpr const char *kSource = "system/ap_wired.c";
constexpr int kWiredFile = 180;  // /etc/sysconfig/.firewall/ap_wired_opt.conf
constexpr const char *kGroupTexts[] = {"ap_wired"};
using texts = module::texts<kGroupTexts>;

using W = ap_wired_record;
constexpr module::field kFields[] = {
    AP_NUMBER(W, id, 0),          AP_TEXT(W, name, "^o^"),  AP_NUMBER(W, client_isolation, 0),
    AP_NUMBER(W, trafficMode, 0), AP_NUMBER(W, vlan_id, 0),
};
using profiles = ap::profiles<W, kFields, kWiredFile, true>;

// Changing a wired profile takes a discommand of the old and a command of
// the new one; recommand has nothing of its own to do.
void *recommand(void *rec) { return rec; }

const module_table kTable = {
    .name = "ap_wired",
    .clear = module::clear<W>,
    .add = profiles::add,
    .modify = module::modify<W, profiles::format>,
    .isTheSame = module::isTheSame<W, profiles::parse, &W::name, nullptr>,
    .set_default = profiles::set_default,
    .open = module::open<kWiredFile>,
    .getline = module::getline<profiles::parse>,
    .parse = profiles::parse,
    .close = module::close_file,
    .command = module::op(profiles::command),
    .discommand = module::op(profiles::command),
    .recommand = module::op(recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(profiles::cgi),
    .initial_system_cmd = module::op(profiles::initial),
};

}  // namespace

extern "C" {

module_table *ap_wired_register(void) { return module::register_table(kTable); }
void ap_wired_unregister(module_table *table) { module::unregister_table(table); }

ll_list *APW_getMySQL_list(void) { return profiles::list(MODULE_TAG(kSource)); }
void APW_closeMySQL(ll_list **list) { profiles::close(list); }

}  // extern "C"
