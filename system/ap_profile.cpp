// The SSID profiles the APs' radio slots name by number: each becomes an
// SSID section of the WTP configuration file of every AP that uses it.
#include "system/ap_common.h"

namespace {

constexpr const char *kSource = "system/ap_profile.c";
constexpr int kProfileFile = 175;  // /etc/sysconfig/.firewall/ap_profile_opt.conf
constexpr const char *kGroupTexts[] = {"ap_profile"};
using texts = module::texts<kGroupTexts>;

using P = ap_profile_record;
constexpr module::field kFields[] = {
    AP_NUMBER(P, id, 0),
    AP_TEXT(P, name, "^o^"),
    AP_TEXT(P, ssid, "^o^"),
    AP_NUMBER(P, ssid_visible, 1),
    AP_NUMBER(P, client_isolation, 0),
    AP_NUMBER(P, connection_enable, 0),
    AP_NUMBER(P, connection_limit, 0),
    AP_NUMBER(P, trafficMode, 0),
    AP_TEXT(P, authentication, "Open"),
    AP_NUMBER(P, encryption, 0),
    AP_TEXT(P, key_type, "HEX"),
    AP_TEXT(P, key_size, "64"),
    AP_NUMBER(P, key_index, 1),
    AP_TEXT(P, network_key, "^o^"),
    AP_TEXT(P, WPA_mode, "WPA2"),
    AP_TEXT(P, cipher_type, "AES"),
    AP_NUMBER(P, update_sec, 3600),
    AP_TEXT(P, passphrase, "^o^"),
    AP_TEXT(P, WPA_radius_mode, "WPA2"),
    AP_TEXT(P, radius_cipher_type, "AES"),
    AP_NUMBER(P, radius_update_sec, 3600),
    AP_TEXT(P, wpa_radius_ip, "0.0.0.0"),
    AP_NUMBER(P, wpa_radius_port, 1812),
    AP_TEXT(P, wpa_radius_secret, "^o^"),
    AP_TEXT(P, wep_8021x_size, "64"),
    AP_TEXT(P, wep_8021x_ip, "0.0.0.0"),
    AP_NUMBER(P, wep_8021x_port, 1812),
    AP_TEXT(P, wep_8021x_secret, "^o^"),
    AP_NUMBER(P, vlan_id, 0),
};
using profiles = ap::profiles<P, kFields, kProfileFile, false>;

const module_table kTable = {
    .name = "ap_profile",
    .clear = module::clear<P>,
    .add = profiles::add,
    .modify = module::modify<P, profiles::format>,
    .isTheSame = module::isTheSame<P, profiles::parse, &P::name, nullptr>,
    .set_default = profiles::set_default,
    .open = module::open<kProfileFile>,
    .getline = module::getline<profiles::parse>,
    .parse = profiles::parse,
    .close = module::close_file,
    .command = module::op(profiles::command),
    .discommand = module::op(profiles::command),
    .recommand = module::op(profiles::recommand),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(profiles::cgi),
    .initial_system_cmd = module::op(profiles::initial),
};

}  // namespace

extern "C" {

module_table *ap_profile_register(void) { return module::register_table(kTable); }
void ap_profile_unregister(module_table *table) { module::unregister_table(table); }

ll_list *APP_getMySQL_list(void) { return profiles::list(MODULE_TAG(kSource)); }
void APP_closeMySQL(ll_list **list) { profiles::close(list); }

}  // extern "C"
