// The access-point controller settings: which LAN or DMZ interface serves
// the APs, what the AP side may manage, the AP options, password and
// automatic restart.  Applying them sets up the controller's chains, the
// GRE bridge and the AP discovery route, and the AP daemons read them from
// the system information block.  Also here: the AP firmware files uploaded
// for the APs, and the re-application of other modules' records when the
// controller's bridge changes under them.
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "runtime/owners.h"
#include "system/ap_common.h"
#include "system/module_xml.h"

namespace {

constexpr const char *kSource = "system/ap_setting.c";
constexpr int kSettingFile = 172;  // /etc/sysconfig/.firewall/ap_setting.conf
constexpr const char *kFirmwareDir = "/var/ap/firmware";
constexpr const char *kRecreatedDirs[] = {"/etc/sysconfig/.firewall/AP_Host_Config", "/var/ap/radar", "/var/ap/command",
                                          "/var/ap/lock", "/var/ap/info"};
constexpr const char *kDiscoveryGroup = "239.255.1.2";  // the APs find the controller here
constexpr unsigned kRealtimeMark = 0x8200000;
using ap::kFamilies;
using ap::kPrograms;
constexpr const char *kGroupTexts[] = {"setting", "ap_setting"};
using texts = module::texts<kGroupTexts>;

// The appliance's MySQL client keeps its connection in a caller's object
// whose layout only the client's header knows: room for it.
constexpr std::size_t kConnectionBytes = 8192;
constexpr int kApGroups = 65;

using module::holds;
using module::kind;
using R = ap_setting_record;

R &as_record(void *rec) { return *static_cast<R *>(rec); }

// The settings line: the fields in this order, one-word texts bare.  The interface
// and the restart times stand in commands and in the restart summary, which
// the APs split at blanks; the password reaches them only in Base64.  An
// unset restart time is exported empty.
#define SWITCH(member) MODULE_FIELD_OR(R, member, kind::number, "0").is(holds::number, 0, 1)
#define TIME(member, form) \
    MODULE_FIELD_OR(R, member, kind::word, "^o^").is(holds::word).in_form(form).unset_as_empty()
#define DAY(member, form, most) MODULE_FIELD_OR(R, member, kind::number, "0").is(holds::number, 0, most).in_form(form)
constexpr auto kFields = module::describe({
    MODULE_FIELD_OR(R, iname, kind::word, "^o^").is(holds::ifname),
    SWITCH(enable_ap_balance),
    SWITCH(enable_ap_auto_power),
    SWITCH(enable_ap_connect_mail),
    MODULE_FIELD_OR(R, enable_ap_sys_management, kind::number, "7").is(holds::number, 0, 31),
    MODULE_FIELD_OR(R, sync_ap_passwd, kind::word, "^o^").is(holds::text),
    TIME(autorestart_day_time, "day_time"),
    TIME(autorestart_week_time, "week_time"),
    TIME(autorestart_month_time, "month_time"),
    DAY(autorestart_week_day, "week", 7),    // Sunday as 0 or as 7
    DAY(autorestart_month_day, "month", 31),
    DAY(autorestart_en_autorestart, "en_Autorestart", 3),  // off, or one of the three restarts
    SWITCH(enable_realtime_traffic).in_form("en_rt_traffic"),
});
#undef SWITCH
#undef TIME
#undef DAY
// The restart's fields, from the day's time to the mode.
constexpr std::size_t kRestartFirst = 6, kRestartCount = 6;
static_assert(std::string_view(kFields[kRestartFirst].key) == "autorestart_day_time" &&
              std::string_view(kFields[kRestartFirst + kRestartCount - 1].key) == "autorestart_en_autorestart");

void *set_default(void *rec, const char *) {
    if (!rec) return rec;
    as_record(rec) = {};
    module::default_fields(rec, kFields);
    return rec;
}

std::string format_line(const R &r) { return module::format_fields(&r, kFields); }

// A field the line lacks takes its default.
void *parse(char *line, void *rec) {
    module::parse_fields(line, set_default(rec, nullptr), kFields);
    return rec;
}

bool applied(int index, const std::string &text) {
    const char *current = RS(index);
    return current && text == current;
}

// The APs are written again only when what they are given changed.
int modify(record_file *h, void *rec, int n) {
    if (!h || !rec || n < 1) return -1;
    const int result = module::modify<ap_setting_record, format_line>(h, rec, n);
    const ap_setting_record &r = as_record(rec);
    WI(79, r.enable_ap_balance);
    WI(91, r.enable_ap_auto_power);
    WI(92, r.enable_ap_connect_mail);
    try {
        const std::string summary = ap::restart_summary(r);
        if (applied(41, r.iname) && applied(52, r.sync_ap_passwd) && applied(54, summary)) return result;
        const char *brand = RETURN_DEF_STR("SYSTEM_BRAND");
        if (brand && module::same_text(brand, "Brenmoor")) my_rm("/var/tmp/kv_ap.dat");
        WS(41, r.iname);
        WS(52, r.sync_ap_passwd);
        WS(54, summary.c_str());
        ap_sync_configure();
    } catch (...) {
        return -1;
    }
    return result;
}

record_file *open(void *selector, const char *tag, int mode) {
    record_file *h = module::open_file(kSettingFile, tag, mode);
    if (!h || !selector) return h;
    if (h->count > 0) {
        if (!module::read_number(h, selector, 1, parse)) module::read_next(h, selector, nullptr, 1, parse);
    } else {
        set_default(selector, nullptr);
        modify(h, selector, 1);
        my_WriteFile(h);
    }
    return h;
}

int change(void *old_rec, void *new_rec) {
    if (!old_rec || !new_rec) return 0;
    const ap_setting_record &o = as_record(old_rec), &n = as_record(new_rec);
    return std::strcmp(o.iname, n.iname) != 0 || o.enable_ap_balance != n.enable_ap_balance ||
           o.enable_ap_auto_power != n.enable_ap_auto_power || o.enable_ap_connect_mail != n.enable_ap_connect_mail ||
           o.enable_ap_sys_management != n.enable_ap_sys_management;
}

bool transparent_routing(const ap_setting_record *r) {
    if (!r || !module::is_set(r->iname)) return false;
    const interface_record *i = interface_read_shm(return_contrast_port_num(r->iname));
    return i && i->imode == 3;
}

void rebuild_transparent_routing(const ap_setting_record *old_rec, const ap_setting_record *new_rec) {
    if (!transparent_routing(old_rec) && !transparent_routing(new_rec)) return;
    flush_transparent_routing_rule(2);
    set_transparent_routing_rule(2);
}

void discovery_route(const char *operation, const char *iname) {
    my_system("/sbin/route %s -net %s netmask 255.255.255.255 dev %s", operation, kDiscoveryGroup,
              module::arg(iname).c_str());
}

int apply_controller(ap_setting_record *, ap_setting_record *new_rec) {
    if (!new_rec) return 0;
    if (!module::is_set(new_rec->iname)) {
        WI(103, 0);
        return 0;
    }
    WI(103, 1);
    setLocal(1, new_rec);
    setRemote(1, new_rec, 0, nullptr);
    discovery_route("add", new_rec->iname);
    return 0;
}

int remove_controller(ap_setting_record *old_rec, ap_setting_record *new_rec) {
    if (old_rec) {
        if (module::is_set(old_rec->iname)) {
            setLocal(0, old_rec);
            setRemote(0, old_rec, 0, nullptr);
            discovery_route("del", old_rec->iname);
        }
        WI(103, 0);
    }
    rebuild_transparent_routing(old_rec, new_rec);
    return 0;
}

int switch_controller(ap_setting_record *old_rec, ap_setting_record *new_rec) {
    if (!old_rec || !new_rec) return 0;
    if (std::strcmp(old_rec->iname, new_rec->iname) != 0) {
        remove_controller(old_rec, new_rec);
        apply_controller(old_rec, new_rec);
        // The DHCP server learns its interfaces again.
        my_killproc("dhcpdv4", 15);
    }
    if (module::is_set(old_rec->iname)) setSecurity("D", old_rec);
    if (module::is_set(new_rec->iname)) setSecurity("A", new_rec);
    setRealtimeTraffic(new_rec->enable_realtime_traffic);
    return 0;
}

// Called ap_setting_set_br_iptables where the boot walks the modules.
int initial_system_cmd(ap_setting_record *old_rec, ap_setting_record *new_rec, int boot) {
    if (!new_rec) return 0;
    if (boot) {
        if (!isDirectory(kFirmwareDir)) my_mkdir("%s", kFirmwareDir);
        for (const char *dir : kRecreatedDirs) {
            my_rm("%s", dir);
            my_mkdir("%s", dir);
        }
        WS(41, new_rec->iname);
        WI(79, new_rec->enable_ap_balance);
        WI(91, new_rec->enable_ap_auto_power);
        WI(92, new_rec->enable_ap_connect_mail);
        my_system("%s addbr %s", "/sbin/brctl", "brgre");
        for (int f = 0; f < 2; ++f) {
            MODULE_RULE(kFamilies[f], kSource, "%s -t filter -I INPUT -j ap_controller_in", kPrograms[f]);
            MODULE_RULE(kFamilies[f], kSource, "%s -t filter -I OUTPUT -j ap_controller_out", kPrograms[f]);
        }
        for (int f = 0; f < 2; ++f)
            MODULE_RULE(kFamilies[f], kSource, "%s -t filter -I OUTPUT -p 47 -m state --state NEW -j ap_gre_out",
                        kPrograms[f]);
        ap_host_reset_status();
    }
    apply_controller(old_rec, new_rec);
    if (module::is_set(new_rec->iname)) setSecurity("A", new_rec);
    if (new_rec->enable_realtime_traffic) setRealtimeTraffic(1);
    rebuild_transparent_routing(old_rec, new_rec);
    WS(52, new_rec->sync_ap_passwd);
    try {
        WS(54, ap::restart_summary(*new_rec).c_str());
    } catch (...) {
    }
    if (boot) ap_sync_configure();
    return 0;
}

// Null when the form holds a value a field cannot.
ap_setting_record *cgi_param(ap_setting_record *rec) {
    if (!rec || module::form_fields(rec, kFields)) return nullptr;
    return rec;
}

void xml_fields(module::xml_entry &e, const ap_setting_record &r) { module::export_fields(e, &r, kFields); }

// The slot's own type, as the XML framing calls it.  Null when the entry
// holds a value a field cannot.
void *xml_entry(xml_node *entry, void *record) {
    if (!record || module::read_fields(module::xml_values(entry), record, kFields)) return nullptr;
    return record;
}

const module_table &table();

void xml_conf(const char *function_value) {
    ap_setting_record defaults;
    set_default(&defaults, nullptr);
    module::export_xml<ap_setting_record, xml_fields>(table(), function_value, MODULE_TAG(kSource), &defaults);
}

int import_xml_conf(xml_node *function) {
    ap_setting_record defaults;
    set_default(&defaults, nullptr);
    return module::import_positional<ap_setting_record>(table(), function, MODULE_TAG(kSource), true, &defaults);
}

const module_table kTable = {
    .name = "ap_setting",
    .clear = module::clear<ap_setting_record>,
    .modify = modify,
    .change = change,
    .set_default = set_default,
    .open = open,
    .getline = module::getline<parse>,
    .parse = parse,
    .close = module::close_file,
    .command = module::op(apply_controller),
    .discommand = module::op(remove_controller),
    .recommand = module::op(switch_controller),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(cgi_param),
    .initial_system_cmd = module::op(initial_system_cmd),
    .xmlConf = module::op(xml_conf),
    .xmlEntry = module::op(xml_entry),
    .import_xmlConf = module::op(import_xml_conf),
};

const module_table &table() { return kTable; }

// ---- Uploaded AP firmware -------------------------------------------------

std::string page_name(const char *name) {
    std::string out;
    for (std::size_t i = 0; name[i] && i < 255; ++i) {
        switch (name[i]) {
            case '"':
                out += "&quot;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case ' ':
            case '\n':
            case '\r':
                out += "&nbsp;";
                break;
            default:
                out += name[i];
        }
    }
    return out;
}

void empty_list(ll_list *list) {
    while (void *file = ll_delete_head(list)) std::free(file);
}

std::string button(const char *type, const char *onclick, const char *text) {
    std::string out;
    const char *icons = "../icons_${COMMON_LANGUAGE_SEL_STR}/";
    ap::append(out,
               "<button type=\"%s\" onclick=\"%s\" style=\"border:0;padding:0;background:none;cursor:pointer\">"
               "<img src=\"%s%s\" align=\"absmiddle\"><span style=\"display:inline-block;height:22px;"
               "line-height:22px;background-image:url(%s%s)\">%s</span><img src=\"%s%s\" align=\"absmiddle\">"
               "</button>",
               type, onclick, icons, "common_bt_ok_L.gif", icons, "common_bt_ok_M.gif", text, icons,
               "common_bt_ok_R.gif");
    return out;
}

// Applies or removes every record of the route table or the subnets through
// its table, whose command and discommand are both route_command_fn.
int apply_records(const char *name, int on) {
    module::registered other(name);
    if (!other) return -1;
    auto apply = reinterpret_cast<route_command_fn>(on ? other->command : other->discommand);
    if (!apply) return -1;
    return other.each(MODULE_TAG(kSource), [apply](void *rec, int) { apply(rec, 0); }) < 0 ? -1 : 0;
}

// The fields of a tunnel line up to its GRE bridge port.
constexpr int kTunnelBridgePortField = 34;

}  // namespace

const module::description module::descriptions::ap_setting{"ap_setting", kFields};

std::string ap::restart_summary(const ap_setting_record &r) {
    std::string out;
    ap::append(out, "%s %s %s %d %d %d", r.autorestart_day_time, r.autorestart_week_time, r.autorestart_month_time,
               r.autorestart_week_day, r.autorestart_month_day, r.autorestart_en_autorestart);
    return out;
}

module::field_list ap::restart_fields() { return module::field_list(kFields).subspan(kRestartFirst, kRestartCount); }

extern "C" {

module_table *ap_setting_register(void) { return module::register_table(kTable); }
void ap_setting_unregister(module_table *table) { module::unregister_table(table); }

int ap_setting_restorebyinterface(int on) {
    ap_setting_record settings;
    record_file *h = open(&settings, MODULE_TAG(kSource), 0);
    if (!h) return -1;
    setLocal(on, nullptr);
    setRemote(on, nullptr, 0, nullptr);
    module::close_file(&h);
    return 0;
}

int setSecurity(const char *operation, const ap_setting_record *settings) {
    if (!operation || !settings || (std::strcmp(operation, "A") != 0 && std::strcmp(operation, "D") != 0)) return -1;
    static const struct {
        const char *in, *out;
        int bit;
    } services[] = {{"interface_icmp_in", "interface_icmp_out", 1},
                    {"interface_http_in", "interface_http_out", 2},
                    {"interface_https_in", "interface_https_out", 4},
                    {"interface_telnet_in", "interface_telnet_out", 8},
                    {"interface_ssh_in", "interface_ssh_out", 16}};
    try {
        // The AP-side devices of the interface: WLAN_P..., WDMZ_P....
        const std::string pattern = module::arg(("W" + std::string(settings->iname).substr(0, 3)).c_str());
        for (const auto &s : services) {
            const char *target = settings->enable_ap_sys_management & s.bit ? "accept" : "drop";
            for (int f = 0; f < 2; ++f) {
                MODULE_RULE(kFamilies[f], kSource, "%s -t filter -%s %s -i %s+ -j tlog_%s", kPrograms[f], operation,
                            s.in, pattern.c_str(), target);
                MODULE_RULE(kFamilies[f], kSource, "%s -t filter -%s %s -o %s+ -j tlog_%s", kPrograms[f], operation,
                            s.out, pattern.c_str(), target);
            }
        }
    } catch (...) {
        return -1;
    }
    return 0;
}

int setRealtimeTraffic(int on) {
    char wlan[64], wdmz[64];
    std::snprintf(wlan, sizeof wlan, "-i WLAN_P+ -j UTMMARK --set-type option --or-mark 0x%x", kRealtimeMark);
    std::snprintf(wdmz, sizeof wdmz, "-i WDMZ_P+ -j UTMMARK --set-type option --or-mark 0x%x", kRealtimeMark);
    const char *rules[] = {"-m pkttype --pkt-type broadcast -j RETURN", "-m pkttype --pkt-type multicast -j RETURN",
                           wlan, wdmz};
    for (const char *operation : {"D", "A"}) {
        if (*operation == 'A' && !on) break;
        for (int f = 0; f < 2; ++f)
            for (const char *rule : rules)
                MODULE_RULE(kFamilies[f], kSource, "%s -t mangle -%s wifi_controller %s", kPrograms[f], operation,
                            rule);
    }
    return 0;
}

// Access-point firmware uploaded for the managed access points is only kept
// until it has been handed out; it is cleared before a firmware upgrade of
// the controller itself, and by age otherwise.
int ap_setting_checkUploadFirmware(int age) {
    runtime::dir_handle dir(opendir(platform::path(kFirmwareDir).c_str()));
    if (!dir) return 0;
    while (dirent *entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.') continue;
        if (age == 0) {
            my_rm("%s/%s", kFirmwareDir, entry->d_name);
            continue;
        }
        struct stat st;
        std::string path = platform::path(std::string(kFirmwareDir) + "/" + entry->d_name);
        if (stat(path.c_str(), &st) != 0) continue;
        auto elapsed = static_cast<unsigned long>(std::time(nullptr) - st.st_mtime);
        if (elapsed >= static_cast<unsigned long>(age)) my_rm("%s/%s", kFirmwareDir, entry->d_name);
    }
    return 0;
}

// In name order, so the page lists them the same way each time.
int read_upload_files(ap_upload_holder *holder) {
    if (!holder) return 0;
    if (!isDirectory(kFirmwareDir)) my_mkdir("%s", kFirmwareDir);
    if (!holder->files)
        holder->files = ll_init();
    else
        empty_list(holder->files);
    const std::string dir_path = platform::path(kFirmwareDir);
    DIR *dir = opendir(dir_path.c_str());
    if (!dir) return 0;
    try {
        std::vector<std::string> names;
        while (const dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        std::sort(names.begin(), names.end());
        for (const std::string &name : names) {
            struct stat st;
            struct tm utc;
            if (stat((dir_path + "/" + name).c_str(), &st) != 0 || !gmtime_r(&st.st_mtime, &utc)) continue;
            auto *file = static_cast<ap_upload_file *>(std::calloc(1, sizeof(ap_upload_file)));
            if (!file) continue;
            std::strftime(file->mtime, sizeof file->mtime, "%Y-%m-%d %H:%M:%S", &utc);
            std::snprintf(file->name, sizeof file->name, "%s", page_name(name.c_str()).c_str());
            if (!holder->files || !ll_append(holder->files, file)) std::free(file);
        }
    } catch (...) {
    }
    return closedir(dir);
}

void free_upload_files(ap_upload_holder *holder) {
    if (!holder || !holder->files) return;
    empty_list(holder->files);
    ll_free(holder->files);
    holder->files = nullptr;
}

char *upload_files_ui(ap_upload_holder *holder, int privilege, int with_buttons) {
    if (!holder) return nullptr;
    read_upload_files(holder);
    try {
        std::string out;
        ap::append(out,
                   "<table width=\"400\" border=\"0\" cellpadding=\"%s\" cellspacing=\"%s\">\n"
                   "<tr><td class=\"TextAttr\">${COMMON_FILENAME_STR}</td></tr>\n<tr><td>",
                   html_fmt[4], html_fmt[5]);
        const bool empty = ll_empty(holder->files);
        if (empty) {
            out += "${COMMON_NO_DATA_STR}";
        } else {
            out += "<select name=\"sel_file\">";
            ll_node *cursor = nullptr;
            while (auto *f = static_cast<const ap_upload_file *>(ll_get(holder->files, &cursor, 1)))
                ap::append(out, "<option value=\"%s\">%s&nbsp;(%s)</option>", f->name, f->name, f->mtime);
            out += "</select>\n";
        }
        out += "</td></tr>\n";
        if (with_buttons) {
            out += "<tr><td align=\"right\">";
            if (!empty)
                out += privilege & 2 ? button("submit", "return upgrade_check(this.form);", "${COMMON_APPLY_STR}")
                                     : button("button", "alert('${COMMON_PRIVILEGE_ALARM_STR}'); return false;",
                                              "${COMMON_APPLY_STR}");
            out += button("button", "upgrade_close();", "${COMMON_CANCEL_STR}");
            out += "</td></tr>\n";
        }
        out += "</table>\n";
        return strdup(out.c_str());
    } catch (...) {
        return nullptr;
    }
}

int set_static_route(int on) { return apply_records("route table", on); }

int set_multiple_subnet(int on) { return apply_records("multiple subnet", on); }

// The tunnels' lines are read through the IPsec module's own file; the
// bridge port is the last field of a line.
int set_vpn_ipsec_autokey(const char *operation) {
    if (!operation) return -1;
    std::vector<int> ports;
    {
        module::registered ipsec("vpn_ipsec_autokey");
        record_file *h = ipsec.open(MODULE_TAG(kSource), 0);
        if (!h) return -1;
        try {
            for (const record_line *l = h->lines; l; l = l->next) {
                std::string line = l->text;
                module::fields f(line.data());
                if (const int port = f.integer(kTunnelBridgePortField)) ports.push_back(port);
            }
        } catch (...) {
            return -1;
        }
    }
    for (int port : ports) vpn_ipsec_autokey_gre_bridge_port(operation, port);
    return 0;
}

int save_ap_group_names(void) {
    alignas(std::max_align_t) unsigned char connection[kConnectionBytes] = {};
    MYSQL *conn = reinterpret_cast<MYSQL *>(connection);
    int result = my_mysql_connect(conn, "AP_INFO");
    if (result < 0) return result;
    result = 0;
    for (int group = 0; group < kApGroups; ++group) {
        char fallback[16];
        std::snprintf(fallback, sizeof fallback, "Group_%d", group);
        const char *name = qValueDefault(fallback, "group_%d", group);
        runtime::heap_text escaped(my_sqlescape(name, std::strlen(name)));
        const int done = my_mysql_query(conn, "UPDATE `%s`.`%s` SET `Name`='%s' WHERE `SN`='%d'", "AP_INFO", "ap_group",
                                        escaped ? escaped.get() : "", group);
        if (done < 0) result = done;
    }
    my_mysql_close(conn);
    return result;
}

}  // extern "C"
