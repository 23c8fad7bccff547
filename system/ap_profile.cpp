// The SSID profiles the APs' radio slots name by number: each becomes an
// SSID section of the WTP configuration file of every AP that uses it.
#include "system/ap_common.h"

namespace {

using module::holds;

constexpr const char *kSource = "system/ap_profile.c";
constexpr int kProfileFile = 175;  // /etc/sysconfig/.firewall/ap_profile_opt.conf
constexpr const char *kGroupTexts[] = {"ap_profile"};

// The SSID, keys, passphrase and RADIUS secrets reach the APs on a line of
// their own and in Base64: any text without a line break will do.
using P = ap_profile_record;
constexpr auto kFields = module::describe({
    AP_PROFILE_NAMED(P),
    AP_TEXT(P, ssid, "^o^", holds::text),
    AP_FLAG(P, ssid_visible, 1),
    AP_FLAG(P, client_isolation, 0),
    AP_FLAG(P, connection_enable, 0),
    AP_NUMBER(P, connection_limit, 0, 0, 65535),
    AP_NUMBER(P, trafficMode, 0, 0, 255),
    AP_TEXT(P, authentication, "Open", holds::word),
    AP_NUMBER(P, encryption, 0, 0, 255),
    AP_TEXT(P, key_type, "HEX", holds::word),
    AP_TEXT(P, key_size, "64", holds::word),
    AP_NUMBER(P, key_index, 1, 1, 4),
    AP_TEXT(P, network_key, "^o^", holds::text),
    AP_TEXT(P, WPA_mode, "WPA2", holds::word),
    AP_TEXT(P, cipher_type, "AES", holds::word),
    AP_NUMBER(P, update_sec, 3600, 0, INT32_MAX),
    AP_TEXT(P, passphrase, "^o^", holds::text),
    AP_TEXT(P, WPA_radius_mode, "WPA2", holds::word),
    AP_TEXT(P, radius_cipher_type, "AES", holds::word),
    AP_NUMBER(P, radius_update_sec, 3600, 0, INT32_MAX),
    AP_TEXT(P, wpa_radius_ip, "0.0.0.0", holds::address),
    AP_NUMBER(P, wpa_radius_port, 1812, 1, 65535),
    AP_TEXT(P, wpa_radius_secret, "^o^", holds::text),
    AP_TEXT(P, wep_8021x_size, "64", holds::word),
    AP_TEXT(P, wep_8021x_ip, "0.0.0.0", holds::address),
    AP_NUMBER(P, wep_8021x_port, 1812, 1, 65535),
    AP_TEXT(P, wep_8021x_secret, "^o^", holds::text),
    AP_NUMBER(P, vlan_id, 0, 0, 4094),
});
using profiles = ap::profiles<P, kFields, kProfileFile, false, kGroupTexts>;

const module_table kTable = profiles::table("ap_profile");

}  // namespace

const module::description module::descriptions::ap_profile{"ap_profile", kFields};

extern "C" {

module_table *ap_profile_register(void) { return module::register_table(kTable); }
void ap_profile_unregister(module_table *table) { module::unregister_table(table); }

ll_list *APP_getMySQL_list(void) { return profiles::list(MODULE_TAG(kSource)); }
void APP_closeMySQL(ll_list **list) { profiles::close(list); }

}  // extern "C"
