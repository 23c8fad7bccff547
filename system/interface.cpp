// The interface module: the configuration of the appliance's ports, one
// record per port (line k of the file is port k), mirrored into the shared
// interface memory by every stored change, checked against the modules that
// refer to interfaces before a change is stored.  Applying a record is in
// interface_apply.cpp.
#include "system/interface.h"

#include <climits>
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
using module::holds;
using R = interface_record;

constexpr int kFile = 28, kWizardFile = 29;
constexpr char kZeroMac[] = "00:00:00:00:00:00";
constexpr char kZeroIPv6[] = "0000:0000:0000:0000:0000:0000:0000:0000";
// The bandwidths' default: the product's maximum, this where it names none.
constexpr char kMaxBandwidth[] = "204800";
// The management services' bits; a document gives them as a "<security>"
// element of one value per service.
constexpr char kServicesKey[] = "security";

// A field keyed by its member's name; the address modes' fields are members
// of the connection part, which they share.
#define AT(member, how) \
    module::field{#member, module::kind::how, offsetof(R, member), sizeof(std::declval<R &>().member)}
#define PART(part, member, how)                                                     \
    module::field{#member, module::kind::how, offsetof(R, connection.part.member), \
                  sizeof(std::declval<R &>().connection.part.member)}
#define NUMBER(member, low, high) AT(member, number).is(holds::number, low, high)
#define ADDRESS(member) AT(member, word).is(holds::ipv4).or_default("0.0.0.0")
#define MASK(member) AT(member, word).is(holds::mask).or_default("0.0.0.0")
#define IPV6(member) AT(member, word).is(holds::ipv6).or_default(kZeroIPv6)
#define BANDWIDTH(member) AT(member, word).is(holds::number, 0, INT32_MAX).or_default(kMaxBandwidth)
#define DYNAMIC(member) PART(dynamic, member, word).is(holds::host).only_when("cmode", {2})
#define PPTP(member, how) PART(pptp, member, how).only_when("cmode", {4})
#define PPPOE(member, how) PART(pppoe, member, how).only_when("cmode", {1})
#define WAN_DETECT(i)                                                                               \
    module::field{"detect_ipaddr_" #i, module::kind::word, offsetof(R, detect_ipaddr[i - 1]),       \
                  sizeof(std::declval<R &>().detect_ipaddr[0])}                                     \
        .is(holds::ipv4)                                                                            \
        .or_default("0.0.0.0")                                                                      \
        .only_when("itype", {2})

// In the order of the line, which the XML export keeps (without the fields
// it leaves out): the port's own fields, any-IP routing for a LAN or DMZ,
// the fields of the port's address mode, and the tail of a WAN.  Secrets go
// into the dialler's files between double quotes.
constexpr auto kFields = module::describe({
    AT(port, number).port_number(),
    NUMBER(izone, 0, 255),
    NUMBER(itype, 0, 3),
    NUMBER(imode, 0, 3),
    NUMBER(cmode, 0, 4),
    AT(dev, word).is(holds::ifname),
    AT(iname, word).is(holds::ifname),
    ADDRESS(ipaddr),
    MASK(netmask),
    ADDRESS(gateway),
    AT(mac, word).is(holds::mac).or_default(kZeroMac),
    NUMBER(ipv6cmode, 0, 9).imported_only(),
    IPV6(ipv6addr).imported_only(),
    AT(PrefixLength, word).is(holds::prefix).or_default("64"),
    IPV6(ipv6gw).imported_only(),
    NUMBER(nat_mode, 0, 1),
    ADDRESS(nat_ipaddr),
    NUMBER(detect_alive, 0, 1),
    NUMBER(detect_service, 0, 9),
    ADDRESS(detect_ipaddr_0).imported_only(),
    IPV6(detect_ipv6addr).imported_only(),
    AT(detect_domain, word).is(holds::host),
    NUMBER(detect_frequency, 0, 86400),
    BANDWIDTH(bandwidth_downstream),
    BANDWIDTH(bandwidth_upstream),
    AT(security, word).is(holds::number, 0, 31).or_default("0"),
    AT(ibond, number).port_number(0),
    NUMBER(bmode, 0, 6),
    ADDRESS(arpip),
    NUMBER(speeder, 0, 1),
    NUMBER(anyiprouting, 0, 1).only_when("itype", {1, 3}),
    DYNAMIC(dynamicIP_hostname),
    DYNAMIC(dynamicIP_domainname),
    PPTP(pptp_username, word).is(holds::secret),
    PPTP(pptp_password, word).is(holds::secret),
    PPTP(pptp_auto_or_fixed, number).is(holds::number, 0, 1),
    PPTP(pptp_local_ip, word).is(holds::ipv4).or_default("0.0.0.0"),
    PPTP(pptp_local_netmask, word).is(holds::mask).or_default("0.0.0.0"),
    PPTP(pptp_local_dgw, word).is(holds::ipv4).or_default("0.0.0.0"),
    PPTP(pptp_remote_ip, word).is(holds::ipv4).or_default("0.0.0.0"),
    PPTP(pptp_demand, number).is(holds::number, 0, 1),
    // Idle minutes, which the dialler takes as seconds in 32 bits.
    PPTP(pptp_idle, number).is(holds::number, 0, INT32_MAX / 60),
    PPTP(pptp_connect_id, word).is(holds::text),
    PPTP(pptp_isreal, number).is(holds::number, 0, 9),
    PPTP(pptp_hostname, word).is(holds::host),
    PPTP(pptp_domainname, word).is(holds::host),
    PPTP(pptp_dhcp_user, word).is(holds::secret),
    PPTP(pptp_dhcp_passwd, word).is(holds::secret),
    PPPOE(pppoe_username, word).is(holds::secret),
    PPPOE(pppoe_password, word).is(holds::secret),
    PPPOE(pppoe_service, number).is(holds::number, 0, 1),
    PPPOE(pppoe_via_ipaddr, word).is(holds::ipv4).or_default("0.0.0.0"),
    PPPOE(pppoe_via_netmask, word).is(holds::mask).or_default("0.0.0.0"),
    PPPOE(pppoe_via_defgw, word).is(holds::ipv4).or_default("0.0.0.0"),
    PPPOE(pppoe_demand, number).is(holds::number, 0, 1),
    PPPOE(pppoe_idle, number).is(holds::number, 0, INT32_MAX / 60),
    PPPOE(pppoe_vlan, number).is(holds::number, 0, 4094),
    NUMBER(detect_rule, 0, 9).only_when("itype", {2}),
    WAN_DETECT(1), WAN_DETECT(2), WAN_DETECT(3), WAN_DETECT(4), WAN_DETECT(5), WAN_DETECT(6), WAN_DETECT(7),
    WAN_DETECT(8), WAN_DETECT(9),
    BANDWIDTH(bandwidth_downthreshold).only_when("itype", {2}),
    BANDWIDTH(bandwidth_upthreshold).only_when("itype", {2}),
});

#undef WAN_DETECT
#undef PPPOE
#undef PPTP
#undef DYNAMIC
#undef BANDWIDTH
#undef IPV6
#undef MASK
#undef ADDRESS
#undef NUMBER
#undef PART
#undef AT

// The address modes' fields share their memory: only the part of the port's
// mode holds values.
bool in_connection(const module::field &f) {
    return f.offset >= offsetof(R, connection) && f.offset < offsetof(R, connection) + sizeof(R::connection);
}

// Whether the port's record carries the field; a port out of use has no
// address mode.
bool carried(const R &r, const module::field &f) {
    return module::applies(&r, f, kFields) && (r.itype != 0 || !in_connection(f));
}

// What the port is: its number, type and modes.
bool identity(const module::field &f) {
    for (const char *key : {"port", "itype", "imode", "cmode"})
        if (module::same_text(f.key, key)) return true;
    return false;
}

const char *max_bandwidth() {
    const char *max = RETURN_DEF_STR("SYSTEM_MAX_BANDWIDTH");
    return module::is_digits(max) ? max : kMaxBandwidth;
}

void set_field_default(R &r, const module::field &f) {
    if (f.is_number()) {
        module::number_in(&r, f) = 0;
        return;
    }
    const char *value = f.def == kMaxBandwidth ? max_bandwidth() : f.def ? f.def : module::kUnset;
    module::set_text(module::text_in(&r, f), f.size, value);
}

std::string format_interface(const R &r) {
    if (r.itype) return module::format_fields(&r, kFields);
    R unused = r;  // written without an address mode
    unused.cmode = 0;
    return module::format_fields(&unused, kFields);
}

// A field the port's line does not carry holds its default (but for the
// address modes' part, whose memory the carried one holds).
void *parse_interface(char *text, void *rec) {
    auto &r = *static_cast<R *>(rec);
    module::parse_fields(text, rec, kFields);
    for (const module::field &f : kFields)
        if (!in_connection(f) && !module::applies(&r, f, kFields)) set_field_default(r, f);
    r.nameseq = my_nameseq(r.iname);
    return rec;
}

// The fields of the connection part of r's cmode get their defaults.
void connection_defaults(R &r) {
    for (const module::field &f : kFields)
        if (in_connection(f) && carried(r, f)) set_field_default(r, f);
}

// What the port is stays; every other field takes its default, the
// connection part that of the record's cmode.
void *interface_set_default(void *rec, const char *) {
    if (!rec) return rec;
    auto &r = *static_cast<R *>(rec);
    for (const module::field &f : kFields)
        if (!identity(f) && !in_connection(f)) set_field_default(r, f);
    connection_defaults(r);
    return rec;
}

// A value the form or an entry gives a field; none when it gives none.
using source = std::function<std::optional<std::string>(const module::field &)>;

// The values given, over the port's defaults: first the fields that always
// apply, since the type and the address mode among them decide which others
// do; the part of the mode chosen starts from its defaults.  A missing value
// leaves the default; a value the field cannot hold is refused.  The first
// field refused, or null.
const module::field *fill(R &r, const source &value) {
    const module::field *refused = nullptr;
    const auto read = [&](const module::field &f) {
        const std::optional<std::string> v = value(f);
        if (v && !module::missing(v->c_str()) && !module::take(&r, f, v->c_str()) && !refused) refused = &f;
    };
    for (const module::field &f : kFields)
        if (!f.when) read(f);
    connection_defaults(r);
    for (const module::field &f : kFields)
        if (f.when && carried(r, f)) read(f);
    r.nameseq = my_nameseq(r.iname);
    return refused;
}

bool real_port(const R &r) { return r.port >= 1 && r.port <= interface::port_count(); }

// Null, nothing to store, for a refused value or a port the appliance does
// not have.
void *interface_cgiParam(R *rec) {
    if (!rec) return rec;
    interface_set_default(rec, nullptr);
    const module::field *refused = fill(*rec, [](const module::field &f) -> std::optional<std::string> {
        const char *value = qValue("%s", f.form_name());
        return value ? std::optional<std::string>(value) : std::nullopt;
    });
    return refused || !real_port(*rec) ? nullptr : rec;
}

const module::field *fill_entry(xml_node *entry, R &r) {
    const module::xml_values values(entry);
    return fill(r, [&](const module::field &f) -> std::optional<std::string> {
        if (!module::same_text(f.key, kServicesKey)) return values.value(f.key);
        const int32_t bits = values.security(-1);
        return bits < 0 ? std::nullopt : std::optional<std::string>(std::to_string(bits));
    });
}

void *interface_xmlEntry(xml_node *entry, void *rec) {
    if (!rec) return rec;
    auto &r = *static_cast<R *>(rec);
    return fill_entry(entry, r) || !real_port(r) ? nullptr : rec;
}

// Every port's entry has the same keys, but for the connection part: that
// of the port's own address mode.
void interface_entry(module::xml_entry &e, const R &r) {
    for (const module::field &f : kFields) {
        if (!f.exported || (in_connection(f) && !carried(r, f))) continue;
        if (module::same_text(f.key, kServicesKey)) e.security(std::atoi(r.security));
        else if (f.is_number()) e.number(f.key, module::number_in(&r, f));
        else e.text(f.key, module::text_in(&r, f));
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

const module::description module::descriptions::interface{"interface", kFields};

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
