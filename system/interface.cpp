// The interface module: the configuration of the appliance's ports, one
// record per port (line k of the file is port k), mirrored into the shared
// interface memory by every stored change, checked against the modules that
// refer to interfaces before a change is stored.  Applying a record is in
// interface_apply.cpp.
#include "system/interface.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "system/module.h"
#include "system/module_xml.h"

namespace {

using interface::kSource;

constexpr int kFile = 28, kWizardFile = 29;
constexpr char kZeroMac[] = "00:00:00:00:00:00";
constexpr char kZeroIPv6[] = "0000:0000:0000:0000:0000:0000:0000:0000";
constexpr char kMaxBandwidth[] = "204800";

// What a field holds, which decides how a form or XML value is checked and
// what the field's default is.  Secrets go into the dialler's files between
// double quotes: a quote, a backslash or a control character is refused.
enum class kind { integer, name, ipv4, ipv6, mac, digits, text, secret, security };

// Which records carry a field: every record, only the record of one cmode
// (the connection part), or none in the XML export (read on import only).
enum group { kCommon = 0, kPppoe = 1, kDynamic = 2, kPptp = 4, kImportOnly = -1 };

struct field {
    const char *key;  // the XML key and form name
    kind type;
    std::size_t offset, size;
    int group;
    const char *def;  // digits: the default (null: the product's maximum bandwidth)
};

using R = interface_record;
#define FIELD(key, type, member, group, def) \
    field { key, kind::type, offsetof(R, member), sizeof(std::declval<R &>().member), group, def }
#define CONNECTION(key, type, part, member, group) FIELD(key, type, connection.part.member, group, nullptr)

// In the order of the XML export.
const field kFields[] = {
    FIELD("port", integer, port, kCommon, nullptr),
    FIELD("izone", integer, izone, kCommon, nullptr),
    FIELD("itype", integer, itype, kCommon, nullptr),
    FIELD("imode", integer, imode, kCommon, nullptr),
    FIELD("cmode", integer, cmode, kCommon, nullptr),
    FIELD("dev", name, dev, kCommon, nullptr),
    FIELD("iname", name, iname, kCommon, nullptr),
    FIELD("ipaddr", ipv4, ipaddr, kCommon, nullptr),
    FIELD("netmask", ipv4, netmask, kCommon, nullptr),
    FIELD("gateway", ipv4, gateway, kCommon, nullptr),
    FIELD("mac", mac, mac, kCommon, nullptr),
    FIELD("PrefixLength", digits, PrefixLength, kCommon, "64"),
    FIELD("nat_mode", integer, nat_mode, kCommon, nullptr),
    FIELD("nat_ipaddr", ipv4, nat_ipaddr, kCommon, nullptr),
    FIELD("detect_alive", integer, detect_alive, kCommon, nullptr),
    FIELD("detect_service", integer, detect_service, kCommon, nullptr),
    FIELD("detect_domain", text, detect_domain, kCommon, nullptr),
    FIELD("detect_frequency", integer, detect_frequency, kCommon, nullptr),
    FIELD("bandwidth_downstream", digits, bandwidth_downstream, kCommon, nullptr),
    FIELD("bandwidth_upstream", digits, bandwidth_upstream, kCommon, nullptr),
    FIELD("security", security, security, kCommon, "0"),
    FIELD("ibond", integer, ibond, kCommon, nullptr),
    FIELD("bmode", integer, bmode, kCommon, nullptr),
    FIELD("arpip", ipv4, arpip, kCommon, nullptr),
    FIELD("speeder", integer, speeder, kCommon, nullptr),
    FIELD("anyiprouting", integer, anyiprouting, kCommon, nullptr),
    CONNECTION("dynamicIP_hostname", text, dynamic, dynamicIP_hostname, kDynamic),
    CONNECTION("dynamicIP_domainname", text, dynamic, dynamicIP_domainname, kDynamic),
    CONNECTION("pptp_username", secret, pptp, pptp_username, kPptp),
    CONNECTION("pptp_password", secret, pptp, pptp_password, kPptp),
    CONNECTION("pptp_auto_or_fixed", integer, pptp, pptp_auto_or_fixed, kPptp),
    CONNECTION("pptp_local_ip", ipv4, pptp, pptp_local_ip, kPptp),
    CONNECTION("pptp_local_netmask", ipv4, pptp, pptp_local_netmask, kPptp),
    CONNECTION("pptp_local_dgw", ipv4, pptp, pptp_local_dgw, kPptp),
    CONNECTION("pptp_remote_ip", ipv4, pptp, pptp_remote_ip, kPptp),
    CONNECTION("pptp_demand", integer, pptp, pptp_demand, kPptp),
    CONNECTION("pptp_idle", integer, pptp, pptp_idle, kPptp),
    CONNECTION("pptp_connect_id", text, pptp, pptp_connect_id, kPptp),
    CONNECTION("pptp_isreal", integer, pptp, pptp_isreal, kPptp),
    CONNECTION("pptp_hostname", text, pptp, pptp_hostname, kPptp),
    CONNECTION("pptp_domainname", text, pptp, pptp_domainname, kPptp),
    CONNECTION("pptp_dhcp_user", secret, pptp, pptp_dhcp_user, kPptp),
    CONNECTION("pptp_dhcp_passwd", secret, pptp, pptp_dhcp_passwd, kPptp),
    CONNECTION("pppoe_username", secret, pppoe, pppoe_username, kPppoe),
    CONNECTION("pppoe_password", secret, pppoe, pppoe_password, kPppoe),
    CONNECTION("pppoe_service", integer, pppoe, pppoe_service, kPppoe),
    CONNECTION("pppoe_via_ipaddr", ipv4, pppoe, pppoe_via_ipaddr, kPppoe),
    CONNECTION("pppoe_via_netmask", ipv4, pppoe, pppoe_via_netmask, kPppoe),
    CONNECTION("pppoe_via_defgw", ipv4, pppoe, pppoe_via_defgw, kPppoe),
    CONNECTION("pppoe_demand", integer, pppoe, pppoe_demand, kPppoe),
    CONNECTION("pppoe_idle", integer, pppoe, pppoe_idle, kPppoe),
    CONNECTION("pppoe_vlan", integer, pppoe, pppoe_vlan, kPppoe),
    FIELD("detect_rule", integer, detect_rule, kCommon, nullptr),
    FIELD("detect_ipaddr_1", ipv4, detect_ipaddr[0], kCommon, nullptr),
    FIELD("detect_ipaddr_2", ipv4, detect_ipaddr[1], kCommon, nullptr),
    FIELD("detect_ipaddr_3", ipv4, detect_ipaddr[2], kCommon, nullptr),
    FIELD("detect_ipaddr_4", ipv4, detect_ipaddr[3], kCommon, nullptr),
    FIELD("detect_ipaddr_5", ipv4, detect_ipaddr[4], kCommon, nullptr),
    FIELD("detect_ipaddr_6", ipv4, detect_ipaddr[5], kCommon, nullptr),
    FIELD("detect_ipaddr_7", ipv4, detect_ipaddr[6], kCommon, nullptr),
    FIELD("detect_ipaddr_8", ipv4, detect_ipaddr[7], kCommon, nullptr),
    FIELD("detect_ipaddr_9", ipv4, detect_ipaddr[8], kCommon, nullptr),
    FIELD("bandwidth_downthreshold", digits, bandwidth_downthreshold, kCommon, nullptr),
    FIELD("bandwidth_upthreshold", digits, bandwidth_upthreshold, kCommon, nullptr),
    FIELD("ipv6cmode", integer, ipv6cmode, kImportOnly, nullptr),
    FIELD("ipv6addr", ipv6, ipv6addr, kImportOnly, nullptr),
    FIELD("ipv6gw", ipv6, ipv6gw, kImportOnly, nullptr),
    FIELD("detect_ipaddr_0", ipv4, detect_ipaddr_0, kImportOnly, nullptr),
    FIELD("detect_ipv6addr", ipv6, detect_ipv6addr, kImportOnly, nullptr),
};

#undef CONNECTION
#undef FIELD

// The line: these fields, then anyiprouting for a LAN or DMZ, the fields of
// the port's cmode, and the tail of a WAN.
const char *const kLineHead[] = {
    "port", "izone", "itype", "imode", "cmode", "dev", "iname", "ipaddr", "netmask", "gateway", "mac", "ipv6cmode",
    "ipv6addr", "PrefixLength", "ipv6gw", "nat_mode", "nat_ipaddr", "detect_alive", "detect_service",
    "detect_ipaddr_0", "detect_ipv6addr", "detect_domain", "detect_frequency", "bandwidth_downstream",
    "bandwidth_upstream", "security", "ibond", "bmode", "arpip", "speeder"};
const char *const kWanTail[] = {
    "detect_rule", "detect_ipaddr_1", "detect_ipaddr_2", "detect_ipaddr_3", "detect_ipaddr_4", "detect_ipaddr_5",
    "detect_ipaddr_6", "detect_ipaddr_7", "detect_ipaddr_8", "detect_ipaddr_9", "bandwidth_downthreshold",
    "bandwidth_upthreshold"};

const field &row(const char *key) {
    for (const field &f : kFields)
        if (module::same_text(f.key, key)) return f;
    std::abort();  // every key of the line lists is in the table
}

char *text_of(interface_record &r, const field &f) { return reinterpret_cast<char *>(&r) + f.offset; }
const char *text_of(const interface_record &r, const field &f) { return reinterpret_cast<const char *>(&r) + f.offset; }
int32_t &integer_of(interface_record &r, const field &f) { return *reinterpret_cast<int32_t *>(text_of(r, f)); }
int32_t integer_of(const interface_record &r, const field &f) {
    return *reinterpret_cast<const int32_t *>(text_of(r, f));
}

bool has_anyiprouting(const interface_record &r) { return r.itype == 1 || r.itype == 3; }

// The connection fields the record carries: those of its cmode, for a port
// in use.
bool carried(const interface_record &r, const field &f) {
    return f.group == kCommon || (f.group > 0 && r.itype != 0 && f.group == r.cmode);
}

// The fields after the head, which its type and cmode decide.
template <typename Visit>
void each_tail_field(const interface_record &r, Visit visit) {
    if (has_anyiprouting(r)) visit(row("anyiprouting"));
    for (const field &f : kFields)
        if (f.group > 0 && carried(r, f)) visit(f);
    if (r.itype == 2)
        for (const char *key : kWanTail) visit(row(key));
}

std::string bounded(const char *text, std::size_t size) { return std::string(text, strnlen(text, size)); }

const char *max_bandwidth() {
    const char *max = RETURN_DEF_STR("SYSTEM_MAX_BANDWIDTH");
    return module::is_digits(max) ? max : kMaxBandwidth;
}

void set_field_default(interface_record &r, const field &f) {
    const char *value = module::kUnset;
    switch (f.type) {
        case kind::integer: integer_of(r, f) = 0; return;
        case kind::ipv4: value = "0.0.0.0"; break;
        case kind::ipv6: value = kZeroIPv6; break;
        case kind::mac: value = kZeroMac; break;
        case kind::digits: value = f.def ? f.def : max_bandwidth(); break;
        case kind::security: value = f.def; break;
        default: break;
    }
    module::set_text(text_of(r, f), f.size, value);
}

std::string format_interface(const interface_record &r) {
    module::line line;
    const auto put = [&](const field &f) {
        if (f.type != kind::integer) line.text(bounded(text_of(r, f), f.size).c_str());
        else if (module::same_text(f.key, "cmode")) line.number(r.itype ? r.cmode : 0);
        else line.number(integer_of(r, f));
    };
    for (const char *key : kLineHead) put(row(key));
    each_tail_field(r, put);
    return line.str();
}

void *parse_interface(char *text, void *rec) {
    auto &r = *static_cast<interface_record *>(rec);
    const module::fields f(text);
    int i = 0;
    const auto take = [&](const field &d) {
        if (d.type == kind::integer) integer_of(r, d) = f.integer(i);
        else if (const char *value = f[i]) module::set_text(text_of(r, d), d.size, value);
        ++i;
    };
    for (const char *key : kLineHead) take(row(key));
    each_tail_field(r, take);
    if (r.itype != 2)  // the fields only a WAN's line carries
        for (const char *key : kWanTail) set_field_default(r, row(key));
    r.nameseq = my_nameseq(r.iname);
    return rec;
}

// The fields of the connection part of r's cmode get their defaults.
void connection_defaults(interface_record &r) {
    for (const field &f : kFields)
        if (f.group > 0 && carried(r, f)) set_field_default(r, f);
}

// What the port is (its number, type and modes) stays; every other field
// takes its default, the connection part that of the record's cmode.
void *interface_set_default(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<interface_record *>(rec);
    for (const field &f : kFields)
        if (f.group <= 0 && !module::same_text(f.key, "port") && !module::same_text(f.key, "itype") &&
            !module::same_text(f.key, "imode") && !module::same_text(f.key, "cmode"))
            set_field_default(r, f);
    connection_defaults(r);
    return rec;
}

bool acceptable(kind type, const char *value) {
    switch (type) {
        case kind::name: return module::is_ifname(value);
        case kind::ipv4: return module::is_ipv4(value);
        case kind::ipv6: return module::is_ipv6(value);
        case kind::mac: return module::is_mac(value);
        case kind::digits: return module::is_digits(value);
        case kind::secret:
            for (const char *p = value; *p; ++p)
                if (static_cast<unsigned char>(*p) < 0x20 || *p == 0x7f || *p == '"' || *p == '\\') return false;
            return true;
        default: return true;
    }
}

// A value source: the form, or one XML entry.  Integer values are decimal
// text; the security field is a number here whatever the source.
using lookup = std::function<std::optional<std::string>(const field &)>;

void fill_field(interface_record &r, const field &f, const lookup &source) {
    const std::optional<std::string> value = source(f);
    if (!value) return;
    if (f.type == kind::integer || f.type == kind::security) {
        char *end = nullptr;
        const long long number = std::strtoll(value->c_str(), &end, 10);
        if (end == value->c_str()) return;
        if (f.type == kind::integer) integer_of(r, f) = module::clamped(number);
        else module::set_text(text_of(r, f), f.size, std::to_string(module::clamped(number) & 31).c_str());
    } else if (acceptable(f.type, value->c_str())) {
        module::set_text(text_of(r, f), f.size, value->c_str());
    }
}

// The common fields first: the cmode among them picks the connection part,
// which starts from its defaults.
void fill(interface_record &r, const lookup &source) {
    for (const field &f : kFields)
        if (f.group <= 0) fill_field(r, f, source);
    connection_defaults(r);
    for (const field &f : kFields)
        if (f.group > 0 && carried(r, f)) fill_field(r, f, source);
    r.nameseq = my_nameseq(r.iname);
}

bool real_port(const interface_record &r) { return r.port >= 1 && r.port <= interface::port_count(); }

// Null, nothing to store, for a port the appliance does not have.
void *interface_cgiParam(interface_record *rec) {
    if (!rec) return rec;
    interface_set_default(rec, nullptr);
    fill(*rec, [](const field &f) -> std::optional<std::string> {
        const char *value = qValue("%s", f.key);
        if (!value) return std::nullopt;
        return std::string(value);
    });
    return real_port(*rec) ? rec : nullptr;
}

void fill_entry(xml_node *entry, interface_record &r) {
    const module::xml_values values(entry);
    fill(r, [&](const field &f) -> std::optional<std::string> {
        if (f.type == kind::security) {
            const int32_t bits = values.security(-1);
            if (bits < 0) return std::nullopt;
            return std::to_string(bits);
        }
        return values.value(f.key);
    });
}

void *interface_xmlEntry(xml_node *entry, void *rec) {
    if (!rec) return rec;
    fill_entry(entry, *static_cast<interface_record *>(rec));
    return real_port(*static_cast<interface_record *>(rec)) ? rec : nullptr;
}

void interface_entry(module::xml_entry &e, const interface_record &r) {
    for (const field &f : kFields) {
        if (f.group == kImportOnly || !carried(r, f)) continue;
        if (f.type == kind::integer) e.number(f.key, integer_of(r, f));
        else if (f.type == kind::security) e.security(std::atoi(r.security));
        else e.text(f.key, bounded(text_of(r, f), f.size).c_str());
    }
}

// ---- The file -------------------------------------------------------------

bool wizard_active() { return module::same_text(qValueDefault("", "wizard"), "wizard"); }

// A port the file does not hold yet: port 1 is the first LAN with the
// product's address, the second the first WAN on products with a switch,
// the others are not in use.
interface_record port_default(int port) {
    interface_record r{};
    r.imode = 1;
    interface_set_default(&r, nullptr);
    r.port = port;
    std::snprintf(r.dev, sizeof r.dev, "%s%d", "eth", port - 1);
    if (port == 1) {
        module::set_text(r.iname, "LAN1");
        r.itype = 1;
        r.cmode = 3;
        const std::pair<char *, const char *> addresses[] = {
            {r.ipaddr, "SYSTEM_PORT1_IP"}, {r.netmask, "SYSTEM_PORT1_NETMASK"}, {r.gateway, "SYSTEM_PORT1_GATEWAY"}};
        for (const auto &[field, definition] : addresses)
            if (module::is_ipv4(RETURN_DEF_STR(definition))) module::set_text(field, 16, RETURN_DEF_STR(definition));
        const int services = (IF_DEFINE("SYSTEM_PORT1_PING") ? 1 : 0) | (IF_DEFINE("SYSTEM_PORT1_HTTP") ? 2 : 0) |
                             (IF_DEFINE("SYSTEM_PORT1_HTTPS") ? 4 : 0);
        module::set_text(r.security, std::to_string(services).c_str());
    } else if (port == 2 && IF_DEFINE("HAVE_SWITCH_SYSTEM")) {
        module::set_text(r.iname, "WAN1");
        r.itype = 2;
        r.cmode = 2;
        connection_defaults(r);
    }
    r.nameseq = my_nameseq(r.iname);
    return r;
}

record_file *interface_open(void *selector, const char *tag, int mode) {
    if (!tag) return nullptr;
    record_file *h = my_ReadFile(!selector && wizard_active() ? kWizardFile : kFile, mode, tag);
    if (!h) return nullptr;
    try {
        for (int port = static_cast<int>(h->count) + 1; port <= interface::port_count(); ++port)
            my_AddLine(h, format_interface(port_default(port)).c_str());
    } catch (...) {
        // Out of memory: the ports read so far are all the handle holds.
    }
    return h;
}

// The line of the record's own port; outside the wizard also its place in
// the shared memory, which is what the running system is configured from.
int interface_modify(record_file *h, void *rec, int) {
    if (!h || !rec) return -1;
    interface_record r = *static_cast<const interface_record *>(rec);
    if (module::modify<interface_record, format_interface>(h, &r, r.port) != 0) {
        my_debug(kSource, __LINE__, "Write Interface Configure Error !");
        return -1;
    }
    if (wizard_active()) return 0;
    interface_record *slot = interface_read_shm(r.port);
    if (!slot) {
        my_debug(kSource, __LINE__, "Write Share Memory Exception Error !");
        return -1;
    }
    if (!r.itype) r.cmode = 0;
    r.nameseq = my_nameseq(r.iname);
    *slot = r;
    return 0;
}

// ---- Changes ----------------------------------------------------------------

bool differ(const char *a, const char *b) { return !module::same_text(a, b); }

bool detection_differs(const interface_record &o, const interface_record &n) {
    if (o.detect_service != n.detect_service || o.detect_frequency != n.detect_frequency ||
        o.detect_rule != n.detect_rule || differ(o.detect_ipaddr_0, n.detect_ipaddr_0) ||
        differ(o.detect_ipv6addr, n.detect_ipv6addr))
        return true;
    for (int i = 0; i < 9; ++i)
        if (differ(o.detect_ipaddr[i], n.detect_ipaddr[i])) return true;
    return false;
}

bool addresses_differ(const interface_record &o, const interface_record &n) {
    // The IPv6 address is set with the IPv4 one: a new one is applied the same way.
    return differ(o.ipaddr, n.ipaddr) || differ(o.netmask, n.netmask) || differ(o.ipv6addr, n.ipv6addr) ||
           differ(o.PrefixLength, n.PrefixLength);
}

// The values of the address mode in use: a change of them means a new
// address, a new dial-up or a new lease.
bool values_differ(const interface_record &o, const interface_record &n) {
    // The bond's mode and ARP target are written to the bond with the values.
    if (o.bmode != n.bmode || differ(o.arpip, n.arpip)) return true;
    if (n.itype != 2) return n.imode == 1 && addresses_differ(o, n);
    const auto &op = o.connection.pppoe, &np = n.connection.pppoe;
    const auto &od = o.connection.dynamic, &nd = n.connection.dynamic;
    switch (n.cmode) {
        // The IPv6 gateway is the static WAN's default route as the IPv4 one is.
        case 3: return addresses_differ(o, n) || differ(o.gateway, n.gateway) || differ(o.ipv6gw, n.ipv6gw);
        case 2:
            // The DHCP client is started with the domain name as with the host name.
            return differ(od.dynamicIP_hostname, nd.dynamicIP_hostname) ||
                   differ(od.dynamicIP_domainname, nd.dynamicIP_domainname);
        case 1:
            return differ(op.pppoe_username, np.pppoe_username) || differ(op.pppoe_password, np.pppoe_password) ||
                   op.pppoe_service != np.pppoe_service || differ(op.pppoe_via_ipaddr, np.pppoe_via_ipaddr) ||
                   differ(op.pppoe_via_netmask, np.pppoe_via_netmask) ||
                   differ(op.pppoe_via_defgw, np.pppoe_via_defgw) || op.pppoe_demand != np.pppoe_demand ||
                   op.pppoe_idle != np.pppoe_idle || op.pppoe_vlan != np.pppoe_vlan;
        default: return false;
    }
}

int interface_change(void *old_rec, void *new_rec) {
    if (!old_rec || !new_rec) return -1;
    const auto &o = *static_cast<const interface_record *>(old_rec);
    auto &n = *static_cast<interface_record *>(new_rec);
    if (!n.itype) module::set_text(n.mac, kZeroMac);
    int flags = 0;
    const auto number = [&](const char *name, int32_t a, int32_t b, int flag) {
        if (a == b) return;
        my_debug(kSource, __LINE__, "%s org:%d new:%d", name, a, b);
        flags |= flag;
    };
    number("itype", o.itype, n.itype, iTYPE_CHANGE);
    number("izone", o.izone, n.izone, iTYPE_CHANGE);
    number("ibond", o.ibond, n.ibond, iTYPE_CHANGE);
    number("imode", o.imode, n.imode, iMODE_CHANGE);
    number("cmode", o.cmode, n.cmode, cMODE_CHANGE);
    if (differ(o.mac, n.mac)) {
        my_debug(kSource, __LINE__, "mac org:%s new:%s", o.mac, n.mac);
        flags |= MAC_CHANGE;
    }
    if (o.nat_mode != n.nat_mode || differ(o.nat_ipaddr, n.nat_ipaddr)) flags |= NAT_CHANGE;
    if (detection_differs(o, n)) flags |= DETECT_CHANGE;
    if (differ(o.bandwidth_downstream, n.bandwidth_downstream) || differ(o.bandwidth_upstream, n.bandwidth_upstream) ||
        differ(o.bandwidth_downthreshold, n.bandwidth_downthreshold) ||
        differ(o.bandwidth_upthreshold, n.bandwidth_upthreshold))
        flags |= BANDWIDTH_CHANGE;
    if (differ(o.security, n.security)) flags |= SECURITY_CHANGE;
    if (!(flags & (iTYPE_CHANGE | iMODE_CHANGE | cMODE_CHANGE)) && values_differ(o, n)) flags |= VALUE_CHANGE;
    n.ichange = flags;
    return flags;
}

int interface_summary(record_file *h, interface_record *rec) { return interface::summary(h, rec); }

// ---- Checks before a change is stored -------------------------------------------

bool same_subnet(const interface_record &a, const interface_record &b) {
    const uint32_t mask = my_inet_addr(a.netmask) & my_inet_addr(b.netmask);
    return (my_inet_addr(a.ipaddr) & mask) == (my_inet_addr(b.ipaddr) & mask);
}

bool holds_subnet(const interface_record &r) {
    return interface::in_use(r) && r.imode == 1 && module::has_ipv4(r.ipaddr) && module::is_ipv4(r.netmask);
}

// The module's own consistency: a name belongs to one port, and ports that
// translate have subnets of their own.
int own_check(const interface_record &o, const interface_record &n, bool renamed, bool readdressed) {
    for (int port = 1; port <= interface::port_count(); ++port) {
        const interface_record *other = interface_read_shm(port);
        if (!other || port == n.port || !interface::in_use(*other)) continue;
        if (renamed && interface::in_use(n) && module::same_text(other->iname, n.iname)) return 6;
        if ((readdressed || o.imode != n.imode) && holds_subnet(n) && holds_subnet(*other) && same_subnet(n, *other))
            return 7;
    }
    return 0;
}

struct dependent {
    const char *name;
    int code;
    bool answers_reversed;  // 0 for in use, -1 for not
};
const dependent kDependents[] = {
    {"ddns", 8, true},           {"multiple subnet", 9, false}, {"route table", 10, false},
    {"mapped_ip", 11, false},    {"virtual_ip", 12, false},     {"vpn_ipsec_autokey", 13, false},
    {"vpn_pptp_client", 14, false}, {"virtual_link", 16, false}, {"ap_setting", 17, false}};

using interface_check_fn = int (*)(record_file *h, const interface_record *iface);

// Whether the dependent module (when the library has it) still uses the old
// interface.  The access-point controller has no record walk of its own:
// its interface is system information text 41.
bool still_used(const dependent &d, const interface_record &o, const interface_record &n) {
    module::registered table(d.name);
    if (!table) return false;
    if (module::same_text(d.name, "route table"))
        return reinterpret_cast<route_check_fn>(table->interface_check)(&o, &n) == 1;
    if (!table->interface_check) return module::same_text(d.name, "ap_setting") && RS(41) && !differ(RS(41), o.iname);
    record_file *h = table.open(MODULE_TAG(kSource), 0);
    if (!h) return false;
    const int answer = reinterpret_cast<interface_check_fn>(table->interface_check)(h, &o);
    return d.answers_reversed ? answer == 0 : answer > 0;
}

int interface_check_options(interface_record *old_rec, interface_record *new_rec) {
    if (!old_rec || !new_rec) return 0;
    const interface_record &o = *old_rec, &n = *new_rec;
    const bool renamed = differ(o.iname, n.iname) || o.itype != n.itype;
    const bool readdressed = differ(o.ipaddr, n.ipaddr) || differ(o.netmask, n.netmask);
    if (const int code = own_check(o, n, renamed, readdressed)) return code;
    if (!interface::in_use(o)) return 0;  // nothing refers to a port not in use
    for (const dependent &d : kDependents) {
        const bool asked = renamed || (readdressed && d.code == 10);
        if (asked && still_used(d, o, n)) return d.code;
    }
    return 0;
}

// ---- XML and the table ----------------------------------------------------------

constexpr const char *kGroups[] = {"interface"};
using texts = module::texts<kGroups>;

extern const module_table kTable;

void interface_xmlConf(const char *function) {
    module::export_xml<interface_record, interface_entry>(kTable, function, MODULE_TAG(kSource));
}

// The k-th entry is port k, whatever port it names; the entries beyond the
// appliance's ports are left out.
int interface_import_xmlConf(xml_node *function) {
    if (!function) return -1;
    record_file *h = kTable.open(nullptr, MODULE_TAG(kSource), 1);
    if (!h) return -1;
    int k = 0;
    for (xml_node *e = module::next_entry(function, nullptr); e && ++k <= interface::port_count();
         e = module::next_entry(function, e)) {
        interface_record r{};
        interface_set_default(&r, nullptr);
        fill_entry(e, r);
        r.port = k;
        kTable.modify(h, &r, k);
    }
    kTable.close(&h);
    return 0;
}

const module_table kTable = {
    .name = "interface",
    .clear = module::clear<interface_record>,
    .add = module::add<interface_record, format_interface>,
    .remove = module::remove,
    .modify = interface_modify,
    .change = interface_change,
    .interface_check = module::op(interface_summary),
    .isTheSame = reinterpret_cast<int (*)(record_file *, void *, int)>(module::op(interface_check_options)),
    .set_default = interface_set_default,
    .open = interface_open,
    .getline = module::getline<parse_interface>,
    .getnum = module::getnum<parse_interface>,
    .parse = parse_interface,
    .close = module::close_file,
    .command = module::op(interface::command),
    .discommand = module::op(interface::discommand),
    .recommand = module::op(interface::recommand),
    .dynamicIPup = module::op(interface::dynamic_ip_up),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(interface_cgiParam),
    .initial_system_cmd = module::op(interface::initial_system_cmd),
    .xmlConf = module::op(interface_xmlConf),
    .xmlEntry = module::op(interface_xmlEntry),
    .import_xmlConf = module::op(interface_import_xmlConf),
};

}  // namespace

namespace interface {

int summary(record_file *h, interface_record *rec) {
    if (!rec) return 0;
    int bits = 0;
    for (int port = 1; port <= port_count(); ++port) {
        interface_record other{};
        const interface_record *r = rec;
        if (port != rec->port) {
            if (h) r = kTable.getnum(h, &other, port) ? &other : nullptr;
            else r = interface_read_shm(port);
        }
        if (!r || !in_use(*r)) continue;
        if (r->itype == 1) bits |= 1;
        if (r->imode == 3) bits |= 32;
        if (r->imode == 2) bits |= 64;
    }
    rec->summary = bits;
    return bits;
}

}  // namespace interface

extern "C" {

module_table *interface_register(void) { return module::register_table(kTable); }
void interface_unregister(module_table *table) { module::unregister_table(table); }

}  // extern "C"
