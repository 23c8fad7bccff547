// What the AP controller and the AP list share: the triple of tables that
// describes an AP completely, the controller's own rules and bridge, the
// per-AP GRE tunnels that join each AP's SSIDs and wired ports to that
// bridge, and the WTP configuration files the AP daemon hands to the APs.
#include "system/ap_common.h"

#include <stdarg.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/owners.h"

namespace {

constexpr const char *kSource = "system/ap_common.c";
constexpr const char *kConfigDir = "/etc/sysconfig/.firewall/AP_Host_Config";
constexpr const char *kGreBridge = "brgre";
using ap::kFamilies;
using ap::kPrograms;

// The GRE key of a tunnel: the AP side derives the same from its slot, so
// the 24 tunnels between the controller and one AP differ by key alone.
constexpr int kKey24G = 0, kKey5G = 8, kKeyWired = 16;

const char *zone_of(const char *iname) {
    if (!iname) return nullptr;
    if (std::strncmp(iname, "LAN", 3) == 0) return "LAN";
    if (std::strncmp(iname, "DMZ", 3) == 0) return "DMZ";
    return nullptr;
}

const interface_record *interface_named(const char *iname) {
    return module::is_set(iname) ? interface_read_shm(return_contrast_port_num(iname)) : nullptr;
}

// The bridge that joins the tunnels: the controller's own in NAT mode
// without a zone (or when the interface is unknown), else the zone's.
std::string bridge_of(const char *iname) {
    const interface_record *r = interface_named(iname);
    if (!r || (r->imode == 1 && r->izone == 0)) return kGreBridge;
    return "br" + std::to_string(r->izone);
}

void tunnel(int on, const char *device, const char *address, int key, const std::string &bridge) {
    const std::string dev = module::arg(device);
    if (!on) {
        my_system("%s del %s", "/sbin/ip link", dev.c_str());
        return;
    }
    my_system("%s add %s type gretap remote %s key %d nopmtudisc", "/sbin/ip link", dev.c_str(),
              module::arg(address).c_str(), key);
    my_system("%s set %s mtu %d", "/sbin/ip link", dev.c_str(), 1500);
    my_system("%s set %s up", "/sbin/ip link", dev.c_str());
    my_system("%s addif %s %s", "/sbin/brctl", bridge.c_str(), dev.c_str());
    my_system("%s %s %s", "/sbin/ifconfig", bridge.c_str(), "up");
}

// The tunnels of one AP's slots, then its GRE drop rule: without tunnels
// no new GRE packet may leave for the AP; the rule is deleted before it is
// appended, so it is there at most once.
void remote_ap(int on, const char *iname, const ap_host_record &ap) {
    using name_fn = const char *(*)(const char *, int, int);
    const struct {
        const int32_t *slots;
        name_fn name;
        int key;
    } kinds[] = {{ap.radio[0].pf_id, get24GWifiDevName, kKey24G},
                 {ap.radio[1].pf_id, get5GWifiDevName, kKey5G},
                 {ap.wired_id, getWiredDevName, kKeyWired}};
    for (const auto &kind : kinds)
        for (int k = 1; k <= AP_PROFILE_SLOTS; ++k)
            if (kind.slots[k - 1])
                if (const char *dev = kind.name(iname, k, ap.SN)) setRemoteCommand(on, dev, ap.IP, kind.key + k);

    const bool v4 = std::strchr(ap.IP, '.'), v6 = !v4 && std::strchr(ap.IP, ':');
    if (!v4 && !v6) return;
    const int family = v4 ? 4 : 6;
    const char *program = v4 ? kPrograms[0] : kPrograms[1];
    const std::string address = module::arg(ap.IP);
    MODULE_RULE(family, kSource, "%s -t filter -D ap_gre_out -p 47 -d %s -j DROP", program, address.c_str());
    if (!on) MODULE_RULE(family, kSource, "%s -t filter -A ap_gre_out -p 47 -d %s -j DROP", program, address.c_str());
}

std::string base64(const char *text) {
    if (!text) text = "";
    const int length = static_cast<int>(std::strlen(text));
    std::vector<unsigned char> out(4 * ((static_cast<std::size_t>(length) + 2) / 3) + 1);
    to64frombits(out.data(), reinterpret_cast<const unsigned char *>(text), length);
    return reinterpret_cast<const char *>(out.data());
}

void append_radio(std::string &out, const char *section, const ap_radio &r) {
    ap::append(out, "%s", section);
    ap::append(out, "wireless_mode=%d\ndata_rate=%s\n", r.wireless_mode, r.data_rate);
    ap::append(
        out,
        "beacon_interval=%u\ndtim_interval=%d\nhi_power=%d\ntransmit_power=%s\nspanning_tree=%d\nack_timeout=%d\n"
        "slot_time=%d\nshort_gi=%d\nigmp_snooping=%d\ngreenfield=%d\nchannel=%s\n",
        static_cast<unsigned>(r.beacon_interval), r.dtim_interval, r.high_power, r.transmit_power, r.spanning_tree,
        r.ack_timeout, r.slot_time, r.short_gi, r.igmp_snooping, r.greenfield, r.channel);
    ap::append(out, "channel_width=%s\nchannel_ext=%s\n", r.channel_width, r.channel_ext);
}

void append_profile(std::string &out, const ap_profile_record &p) {
    ap::append(out,
               "ssid=%s\nssid_visible=%d\nclient_isolation=%d\nconnection_enable=%d\nconnection_limit=%d\n"
               "trafficMode=%d\nauthentication=%s\nencryption=%d\nkey_type=%s\nkey_size=%s\n",
               p.ssid, p.ssid_visible, p.client_isolation, p.connection_enable, p.connection_limit, p.trafficMode,
               p.authentication, p.encryption, p.key_type, p.key_size);
    ap::append(out,
               "key_index=%d\nnetwork_key=%s\nWPA_mode=%s\ncipher_type=%s\nupdate_sec=%d\npassphrase=%s\n"
               "WPA_radius_mode=%s\nradius_cipher_type=%s\nradius_update_sec=%d\nwpa_radius_ip=%s\n",
               p.key_index, p.network_key, p.WPA_mode, p.cipher_type, p.update_sec, p.passphrase, p.WPA_radius_mode,
               p.radius_cipher_type, p.radius_update_sec, p.wpa_radius_ip);
    ap::append(out,
               "wpa_radius_port=%d\nwpa_radius_secret=%s\nwep_8021x_size=%s\nwep_8021x_ip=%s\nwep_8021x_port=%d\n"
               "wep_8021x_secret=%s\nvlan_id=%d\n",
               p.wpa_radius_port, p.wpa_radius_secret, p.wep_8021x_size, p.wep_8021x_ip, p.wep_8021x_port,
               p.wep_8021x_secret, p.vlan_id);
    ap::append(out, "ssid_b64=%s\n", base64(p.ssid).c_str());
    ap::append(out, "network_key_b64=%s\n", base64(p.network_key).c_str());
    ap::append(out, "passphrase_b64=%s\n", base64(p.passphrase).c_str());
    ap::append(out, "wpa_radius_secret_b64=%s\n", base64(p.wpa_radius_secret).c_str());
    ap::append(out, "wep_8021x_secret_b64=%s\n", base64(p.wep_8021x_secret).c_str());
}

template <typename Record>
const Record *find_id(ll_list *list, int32_t id) {
    ll_node *cursor = nullptr;
    while (auto *r = static_cast<const Record *>(ll_get(list, &cursor, 1)))
        if (r->id == id) return r;
    return nullptr;
}

// One AP's WTP configuration file: the system part, both bands' radio
// defaults, a section per SSID slot whose profile exists (numbered by its
// slot) and one per wired port and wired profile of its number.
std::string wtp_text(const ap_host_record &ap, const std::string &passwd, ll_list *profiles, ll_list *wireds) {
    std::string out;
    const char *autorestart = module::is_set(ap.autorestart) ? ap.autorestart : RS(54);
    ap::append(out, "[SYSTEM]\ntime=%lu\npoe_passthru=%d\nap_passwd=%s\nautorestart=%s\n\n",
               static_cast<unsigned long>(std::time(nullptr)), ap.poe, passwd.c_str(), autorestart ? autorestart : "");
    append_radio(out, "[DEFAULT]\n", ap.radio[0]);
    append_radio(out, "[5G_DEFAULT]\n", ap.radio[1]);
    for (int band = 0; band < 2; ++band)
        for (int k = 1; k <= AP_PROFILE_SLOTS; ++k) {
            const int32_t id = ap.radio[band].pf_id[k - 1];
            const ap_profile_record *p = id ? find_id<ap_profile_record>(profiles, id) : nullptr;
            if (!p) continue;
            ap::append(out, band ? "[5G_SSID%d]\n" : "[SSID%d]\n", k);
            append_profile(out, *p);
        }
    for (int k = 1; k <= AP_PROFILE_SLOTS; ++k) {
        const int32_t id = ap.wired_id[k - 1];
        if (!id) continue;
        ll_node *cursor = nullptr;
        while (auto *w = static_cast<const ap_wired_record *>(ll_get(wireds, &cursor, 1)))
            if (w->id == id)
                ap::append(out, "[ETH%d]\nclient_isolation=%d\ntrafficMode=%d\nvlan_id=%d\n", k, w->client_isolation,
                           w->trafficMode, w->vlan_id);
    }
    return out;
}

// Rewrites a file whole; whether it could be written.
bool write_whole(const std::string &path, const std::string &text) {
    runtime::file_handle f(std::fopen(platform::path(path).c_str(), "w+"));
    if (!f) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
    return std::fclose(f.release()) == 0 && written;
}

std::string wtp_path(const char *mac) { return std::string(kConfigDir) + "/" + "[WTP]=" + mac; }

// The files of every AP (sn 0) or one from the lists the options hold; the
// MAC names the file, so an AP whose MAC is not one gets none.  0, or -1
// when memory runs out.
int write_wtp_files(const ap_host_options &o, int sn) {
    try {
        const std::string passwd = base64(RS(52));
        auto *profiles = static_cast<ll_list *>(o.profile->handle), *wireds = static_cast<ll_list *>(o.wired->handle);
        ll_node *cursor = nullptr;
        while (const ap_host_record *a = AH_getlineMySQL(static_cast<ll_list *>(o.host->handle), &cursor))
            if ((!sn || a->SN == sn) && module::is_mac(a->MAC))
                write_whole(wtp_path(a->MAC), wtp_text(*a, passwd, profiles, wireds));
        return 0;
    } catch (...) {
        return -1;
    }
}

}  // namespace

namespace ap {

void append(std::string &out, const char *format, ...) {
    va_list args;
    va_start(args, format);
    runtime::heap_text text(xasprintf(format, args));
    va_end(args);
    if (!text) throw std::bad_alloc();
    out += text.get();
}

const char *controller_interface(const ap_setting_record *settings) {
    if (settings && module::is_set(settings->iname)) return settings->iname;
    const char *applied = RS(41);
    return module::is_set(applied) ? applied : module::kUnset;
}

int sync_users(bool wired, int32_t id) {
    ll_list *aps = AH_getMySQL_list();
    if (!aps) return -1;
    bool used = false;
    ll_node *cursor = nullptr;
    while (const ap_host_record *a = AH_getlineMySQL(aps, &cursor))
        for (int k = 0; k < AP_PROFILE_SLOTS; ++k)
            used = used || (wired ? a->wired_id[k] == id : a->radio[0].pf_id[k] == id || a->radio[1].pf_id[k] == id);
    AH_closeMySQL(&aps);
    return used ? ap_sync_host(0) : 0;
}

}  // namespace ap

extern "C" {

int ap_host_options_register(ap_host_options *options) {
    if (!options) return -1;
    *options = {ap_host_register(), ap_profile_register(), ap_wired_register()};
    if (options->host && options->profile && options->wired) return 0;
    ap_host_options_unregister(options);
    return -1;
}

// The lists in the handle words are their loader's: only the tables go.
void ap_host_options_unregister(ap_host_options *options) {
    if (!options) return;
    ap_host_unregister(options->host);
    ap_profile_unregister(options->profile);
    ap_wired_unregister(options->wired);
    *options = {};
}

const char *get24GWifiDevName(const char *iname, int position, int sn) {
    const char *zone = zone_of(iname);
    return zone ? M("W%s_P%d_AP%d", zone, position, sn) : nullptr;
}

const char *get5GWifiDevName(const char *iname, int position, int sn) {
    const char *zone = zone_of(iname);
    return zone ? M("W%s_P%d_AP%d_", zone, position, sn) : nullptr;
}

const char *getWiredDevName(const char *iname, int port, int sn) {
    const char *zone = zone_of(iname);
    return zone ? M("W%s_PW%d_AP%d", zone, port, sn) : nullptr;
}

int setLocal(int on, const ap_setting_record *settings) {
    const char *iname = ap::controller_interface(settings);
    const bool serving = module::is_set(iname);
    on = on && serving;
    const std::string dev = module::arg(iname);
    for (int f = 0; f < 2; ++f) {
        const int family = kFamilies[f];
        const char *program = kPrograms[f];
        MODULE_RULE(family, kSource, "%s -t filter -F ap_controller_in", program);
        MODULE_RULE(family, kSource, "%s -t filter -F ap_controller_out", program);
        if (on) {
            MODULE_RULE(family, kSource, "%s -t filter -A ap_controller_in -p 47 -i %s -j ACCEPT", program,
                        dev.c_str());
            MODULE_RULE(family, kSource, "%s -t filter -A ap_controller_out -p 47 -o %s -j ACCEPT", program,
                        dev.c_str());
        }
        // The management connections of the AP app, whatever the state.
        for (int port : {2195, 443}) {
            MODULE_RULE(family, kSource,
                        "%s -t filter -A ap_controller_out -p tcp --dport %d -m state --state NEW,ESTABLISHED "
                        "-j ACCEPT",
                        program, port);
            MODULE_RULE(family, kSource,
                        "%s -t filter -A ap_controller_in -p tcp --sport %d -m state --state ESTABLISHED -j ACCEPT",
                        program, port);
        }
        MODULE_RULE(family, kSource, "%s -t filter -F %s", program, "Wireless");
        if (on) {
            MODULE_RULE(family, kSource, "%s -t filter -A %s -p udp --dport %d -j ACCEPT", program, "Wireless", 1234);
            MODULE_RULE(family, kSource, "%s -t filter -A %s -p udp --sport %d -j ACCEPT", program, "Wireless", 1234);
        }
    }

    // In NAT mode without a zone the interface itself joins the controller's
    // bridge, which then carries its addresses.
    const interface_record *r = interface_named(iname);
    if (!r || bridge_of(iname) != kGreBridge) return 0;
    const bool joined = on;
    my_system("%s %sif %s %s", "/sbin/brctl", joined ? "add" : "del", kGreBridge, dev.c_str());
    my_system("%s set %s %s", "/sbin/ip link", dev.c_str(), "down");
    my_system("%s set %s %s", "/sbin/ip link", kGreBridge, "down");
    const char *carrier = joined ? kGreBridge : iname, *other = joined ? iname : kGreBridge;
    set_ip_addr_nat_mode(0, r, other);
    set_ip_addr_nat_mode(1, r, carrier);
    my_system("%s set %s %s", "/sbin/ip link", dev.c_str(), "up");
    my_system("%s set %s %s", "/sbin/ip link", kGreBridge, "up");
    if (r->anyiprouting) set_anyiprouting(1, r, carrier);
    my_system("%s %s %s", "/sbin/ifconfig", kGreBridge, joined ? "up" : "down");
    return 0;
}

int setRemote(int on, const ap_setting_record *settings, int sn, ll_list *aps) {
    ll_list *loaded = aps ? nullptr : AH_getMySQL_list();
    ll_list *list = aps ? aps : loaded;
    if (!list) return -1;
    const char *iname = ap::controller_interface(settings);
    try {
        ll_node *cursor = nullptr;
        while (const ap_host_record *a = AH_getlineMySQL(list, &cursor)) {
            // An AP without an address (none yet, or 0.0.0.0) has no tunnels.
            if ((sn && a->SN != sn) || !module::is_set(a->IP)) continue;
            remote_ap(on, iname, *a);
        }
    } catch (...) {
        // Out of memory: the APs after this one keep their state.
    }
    AH_closeMySQL(&loaded);
    return 0;
}

int setRemoteCommand(int on, const char *device, const char *address, int key) {
    if (!device || !address) return -1;
    try {
        tunnel(on, device, address, key, bridge_of(ap::controller_interface(nullptr)));
    } catch (...) {
        return -1;
    }
    return 0;
}

int ap_del_host(const char *mac) {
    if (!module::is_mac(mac)) return -1;
    try {
        const std::string file = platform::path(wtp_path(mac));
        const int present = access(file.c_str(), F_OK);
        return present == 0 ? std::remove(file.c_str()) : present;
    } catch (...) {
        return -1;
    }
}

int ap_sync_host(int sn) {
    ap_host_options o;
    if (ap_host_options_register(&o) != 0) return -1;
    o.host->handle = AH_getMySQL_list();
    o.profile->handle = o.host->handle ? APP_getMySQL_list() : nullptr;
    o.wired->handle = o.profile->handle ? APW_getMySQL_list() : nullptr;
    const int result = o.wired->handle ? write_wtp_files(o, sn) : -1;
    auto *aps = static_cast<ll_list *>(o.host->handle), *profiles = static_cast<ll_list *>(o.profile->handle),
         *wireds = static_cast<ll_list *>(o.wired->handle);
    AH_closeMySQL(&aps);
    APP_closeMySQL(&profiles);
    APW_closeMySQL(&wireds);
    ap_host_options_unregister(&o);
    return result;
}

int ap_sync_default(void) {
    try {
        ap_host_record defaults;
        ap::host_defaults(defaults);
        return write_whole(std::string(kConfigDir) + "/DEFAULT", wtp_text(defaults, base64(RS(52)), nullptr, nullptr))
                   ? 0
                   : -1;
    } catch (...) {
        return -1;
    }
}

int ap_sync_configure(void) {
    ap_sync_default();
    return ap_sync_host(0);
}

}  // extern "C"
