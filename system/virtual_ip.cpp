// Virtual servers: a public address (and optionally one public port) on a
// WAN port, forwarded for the protocols of a service object to a pool of
// internal servers with a load-sharing mode.  Like a mapped address, each
// record fills four chains of its own and makes the appliance answer ARP
// for the public address.
#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "system/translation.h"
#include "webadmin.h"

namespace {

using module::holds;
using module::kind;
using record = virtual_ip_record;

constexpr int kFile = 55;
constexpr const char *kSource = "system/virtual_ip.c";
constexpr const char *kPrefix = "vip";  // of the record's chain
constexpr const char *kGroups[] = {"virtual_ip"};
using texts = module::texts<kGroups>;
constexpr translation::chains kChains{kSource, "vserver"};
constexpr const char kNoServer[] = "0.0.0.0";

// A service object's chain: a custom service's or a service group's.
constexpr const char *kServiceChains[] = {"svc", "svcgroup"};
// The first four servers have keys of their own; the form names each
// server "vip" and its number from 1.
constexpr module::numbered<4> kServerKeys{"virtual_ip_", 0}, kServerForms{"vip", 1};

// The fields a form or a request fills (the line, with the servers both
// one by one and as a list, is the module's own).  The first is the list of
// all servers, which a request gives before the servers it names one by
// one.  The mark comes from the form only; the identifier is not exported.
constexpr auto kFields = module::describe(
    {
        MODULE_KEYED(record, virtual_ip, "virtual_ip_x", kind::none).is(holds::addresses).in_form(""),
        MODULE_FIELD(record, name, kind::name).is(holds::text),
        MODULE_FIELD(record, id, kind::word).is(holds::identifier).imported_only(),
        MODULE_UNKEYED(record, mark, kind::word).is(holds::mark, 8).in_form("mark"),
        MODULE_FIELD(record, real_ip, kind::word).is(holds::ipv4).or_default("0.0.0.0").in_form("rip"),
        MODULE_FIELD(record, real_port, kind::word).is(holds::port).in_form("rp"),
        // The WAN port, or a virtual link of it: the port's name, ':' and the link's mark.
        MODULE_FIELD(record, real_device_name, kind::word).is(holds::word, 24).in_form("rname2"),
        MODULE_FIELD(record, service_chain, kind::word).chain_of(kServiceChains).in_form("schain"),
        MODULE_FIELD(record, operating_mode, kind::number).is(holds::number, 0, 2).in_form("omode2"),
        MODULE_FIELD(record, virtual_device_name, kind::word).is(holds::ifname).in_form("vname2"),
        MODULE_FIELD(record, iswan, kind::number).is(holds::number, 0, 1).or_default("1"),
        MODULE_FIELD(record, health_check, kind::number).is(holds::number, 0, 1),
        MODULE_FIELD(record, priority, kind::number).is(holds::number, 0, INT32_MAX).in_form(""),
    },
    module::elements<4>(MODULE_UNKEYED(record, virtual_ip[0], kind::word).is(holds::ipv4).or_default(kNoServer),
                        kServerKeys, &kServerForms));
// What the readers take as they stand: all but the list.
constexpr std::span<const module::field> kTaken = std::span(kFields).subspan(1);

// The rules of the add-command, whichever of its parts adds them, name it
// (the chains' own rules name their functions).
#define RULE(format, ...) \
    my_iptables(4, "[%s]%s(),L:%d=> " format, kSource, kAddCommand, __LINE__, __VA_ARGS__)
constexpr const char *kAddCommand = "virtual_ip_add_command";

extern const module_table kTable;

// How many of the record's server entries take part.
int servers() { return module::capacity(69, VIRTUAL_IP_SERVERS); }

bool no_server(const char *address) { return !*address || module::same_text(address, kNoServer); }

// A server entry holds an IPv4 address or none: whatever else a line or a
// document says there never reaches a rule.
void set_server(char (&entry)[16], std::string_view text) {
    const std::string address(text);
    module::set_text(entry, module::is_address(address.c_str(), 4) ? address.c_str() : kNoServer);
}

// Entries from 0 upwards from a comma list, the rest up to the capacity none.
void set_servers(record &r, std::string_view list) {
    const int n = servers();
    int i = 0;
    for (std::size_t start = 0; i < n && start <= list.size(); ++i) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        set_server(r.virtual_ip[i], list.substr(start, comma - start));
        start = comma + 1;
    }
    for (; i < n; ++i) module::set_text(r.virtual_ip[i], kNoServer);
}

// The capacity's entries joined by commas, an empty one as "0.0.0.0".
std::string server_list(const record &r) {
    std::string list;
    for (int i = 0; i < servers(); ++i) {
        if (i) list += ',';
        list += no_server(r.virtual_ip[i]) ? kNoServer : r.virtual_ip[i];
    }
    return list;
}

const char *server_text(const record &r, int i) { return no_server(r.virtual_ip[i]) ? kNoServer : r.virtual_ip[i]; }

std::string virtual_format(const record &r) {
    module::line l;
    l.name(r.name).text(r.id).text(r.mark).text(r.real_ip).text(r.real_port).text(r.real_device_name);
    l.text(r.service_chain).number(r.operating_mode);
    for (int i = 0; i < 4; ++i) l.text(server_text(r, i));
    l.text(r.virtual_device_name).number(r.iswan).name(server_list(r).c_str());
    return l.number(r.health_check).number(r.priority).str();
}

// The fields of a line; the server list is field 14, which the older
// four-server layout lacks.
constexpr int kListField = 14;

void *virtual_parse(char *line, void *rec) {
    const module::fields f(line);
    auto &r = *static_cast<record *>(rec);
    f.text(0, r.name);
    f.text(1, r.id);
    f.text(2, r.mark);
    f.text(3, r.real_ip);
    f.text(4, r.real_port);
    f.text(5, r.real_device_name);
    f.text(6, r.service_chain);
    r.operating_mode = f.integer(7);
    for (int i = 0; i < 4; ++i)
        if (const char *server = f[8 + i]) set_server(r.virtual_ip[i], server);
    f.text(12, r.virtual_device_name);
    r.iswan = f.integer(13);
    if (const char *list = f[kListField]) set_servers(r, list);
    r.health_check = f.integer(15);
    r.priority = f.integer(16);
    module::follow_identifier(r, kPrefix);
    return rec;
}

void *virtual_defaults(void *rec, const char *) {
    if (!rec) return nullptr;
    auto &r = *static_cast<record *>(rec);
    translation::fresh_identity(r, kPrefix, "0");
    module::set_text(r.real_ip, "0.0.0.0");
    for (char *text : {r.real_port, r.real_device_name, r.virtual_device_name}) std::strcpy(text, module::kUnset);
    module::set_text(r.service_chain, module::kUnset);
    r.operating_mode = 0;
    for (int i = 0; i < servers(); ++i) module::set_text(r.virtual_ip[i], kNoServer);
    r.iswan = r.health_check = r.priority = 0;
    return rec;
}

// The marks that single out the public address's (and port's) packets of
// the service, before they reach the record's translation.
void mark_service(const record &r, const std::string &c, const std::string &mark, const std::string &real,
                  const std::string &dev, const std::string &port) {
    RULE("/sbin/iptables -t nat -A %s -m utmmark --type vserver --mark 0x%s -j UTMMARK --set-type policy "
         "--or-mark 0x%x",
         c.c_str(), mark.c_str(), 2);
    RULE("/sbin/iptables -t mangle -A pre%s -m utmmark --type vserver ! --mark 0x0 -j RETURN", c.c_str());
    if (module::same_text(r.real_port, module::kUnset)) {
        RULE("/sbin/iptables -t mangle -A pre%s -j UTMMARK --set-type policy --and-mark 0x%x", c.c_str(), ~4u);
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -j %s", c.c_str(), real.c_str(),
             module::arg(r.service_chain).c_str());
        for (const char *suffix : {"", "_+"})
            RULE("/sbin/iptables -t mangle -A pre%s -i %s%s -d %s -m utmmark --type policy --mark 0x%x/0x%x -j UTMMARK "
                 "--set-type param --or-mark 0x%x",
                 c.c_str(), dev.c_str(), suffix, real.c_str(), 4, 4, 0x40000);
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -m utmmark --type policy --mark 0x%x/0x%x -j UTMMARK --set-type "
             "vserver --set-mark 0x%s",
             c.c_str(), real.c_str(), 4, 4, mark.c_str());
        return;
    }
    for (const service_protocol *p = r.service_info; p; p = p->next) {
        const std::string protocol = module::arg(module::bounded(p->protocol).c_str());
        if (module::has_ports(p->protocol)) {
            for (const char *suffix : {"", "_+"})
                RULE("/sbin/iptables -t mangle -A pre%s -i %s%s -p %s -d %s --dport %s:%s -j UTMMARK --set-type param "
                     "--or-mark 0x%x",
                     c.c_str(), dev.c_str(), suffix, protocol.c_str(), real.c_str(), port.c_str(), port.c_str(),
                     0x40000);
            RULE("/sbin/iptables -t mangle -A pre%s -p %s -d %s --dport %s:%s -j UTMMARK --set-type vserver "
                 "--set-mark 0x%s",
                 c.c_str(), protocol.c_str(), real.c_str(), port.c_str(), port.c_str(), mark.c_str());
        } else if (module::same_text(p->protocol, "all")) {
            RULE("/sbin/iptables -t mangle -A pre%s -i %s -d %s -j UTMMARK --set-type param --or-mark 0x%x", c.c_str(),
                 dev.c_str(), real.c_str(), 0x40000);
            RULE("/sbin/iptables -t mangle -A pre%s -i %s_+ -d %s -j UTMMARK --set-type param --set-mark 0x%x",
                 c.c_str(), dev.c_str(), real.c_str(), 0x40000);
            RULE("/sbin/iptables -t mangle -A pre%s -d %s -j UTMMARK --set-type vserver --set-mark 0x%s", c.c_str(),
                 real.c_str(), mark.c_str());
        } else {
            for (const char *suffix : {"", "_+"})
                RULE("/sbin/iptables -t mangle -A pre%s -i %s%s -p %s -d %s -j UTMMARK --set-type param --or-mark 0x%x",
                     c.c_str(), dev.c_str(), suffix, protocol.c_str(), real.c_str(), 0x40000);
            RULE("/sbin/iptables -t mangle -A pre%s -p %s -d %s -j UTMMARK --set-type vserver --set-mark 0x%s",
                 c.c_str(), protocol.c_str(), real.c_str(), mark.c_str());
        }
    }
}

// The destination translation of the marked packets to the servers.
void translate(const record &r, const std::string &c, const std::string &mark, const std::string &real,
               const std::string &port) {
    std::string list = module::arg(r.virtual_ip[0]);
    for (int i = 1; i < servers(); ++i)
        if (!no_server(r.virtual_ip[i])) list += "," + module::arg(r.virtual_ip[i]);
    const char *mode = r.operating_mode == 1 ? "--set-backup" : r.operating_mode == 2 ? "--set-bysrc" : "";
    const std::string service = module::arg(r.service_chain);
    if (module::same_text(r.real_port, module::kUnset)) {
        RULE("/sbin/iptables -t nat -A nat%s -j %s", c.c_str(), service.c_str());
        RULE("/sbin/iptables -t mangle -A pre%s -d %s -m utmmark --type vserver --mark 0x%s -j PREDNAT "
             "--to-destination %s",
             c.c_str(), real.c_str(), mark.c_str(), list.c_str());
        RULE("/sbin/iptables -t nat -A nat%s -j DNAT --to-destination %s %s", c.c_str(), list.c_str(), mode);
        return;
    }
    if (!r.service_info) return;
    RULE("/sbin/iptables -t nat -A nat%s -j %s", c.c_str(), service.c_str());
    for (const service_protocol *p = r.service_info; p; p = p->next) {
        const std::string protocol = module::arg(module::bounded(p->protocol).c_str()),
                          first = module::arg(module::bounded(p->first_port).c_str());
        if (module::has_ports(p->protocol)) {
            RULE("/sbin/iptables -t mangle -A pre%s -p %s -d %s --dport %s -m utmmark --type vserver --mark 0x%s -j "
                 "PREDNAT --to-destination %s:%s",
                 c.c_str(), protocol.c_str(), real.c_str(), port.c_str(), mark.c_str(), list.c_str(), first.c_str());
            RULE("/sbin/iptables -t nat -A nat%s -p %s -j DNAT --to-destination %s:%s %s", c.c_str(), protocol.c_str(),
                 list.c_str(), first.c_str(), mode);
        } else if (module::same_text(p->protocol, "all")) {
            RULE("/sbin/iptables -t mangle -A pre%s -d %s -m utmmark --type vserver --mark 0x%s -j PREDNAT "
                 "--to-destination %s:%s",
                 c.c_str(), real.c_str(), mark.c_str(), list.c_str(), first.c_str());
            RULE("/sbin/iptables -t nat -A nat%s -j DNAT --to-destination %s:%s %s", c.c_str(), list.c_str(),
                 first.c_str(), mode);
        } else {
            RULE("/sbin/iptables -t mangle -A pre%s -p %s -d %s -m utmmark --type vserver --mark 0x%s -j PREDNAT "
                 "--to-destination %s:%s",
                 c.c_str(), protocol.c_str(), real.c_str(), mark.c_str(), list.c_str(), port.c_str());
            RULE("/sbin/iptables -t nat -A nat%s -p %s -j DNAT --to-destination %s:%s %s", c.c_str(), protocol.c_str(),
                 list.c_str(), port.c_str(), mode);
        }
    }
}

// The record's rules; the marks and a public port's translation need the
// service's protocols in service_info.  The servers' own traffic leaves
// with the public address, also when it loops back between internal
// segments.
void virtual_ip_add_command(const record &r) {
    const translation::routed_device port = translation::split_device(r.real_device_name);
    const std::string c = module::arg(r.chain), mark = module::arg(r.mark), real = module::arg(r.real_ip),
                      public_port = module::arg(r.real_port);
    if (r.service_info) {
        my_add_bcast_system_ip(return_contrast_port_num(port.dev.c_str()), r.real_ip);
        mark_service(r, c, mark, real, module::arg(port.dev.c_str()), public_port);
    }
    translate(r, c, mark, real, public_port);
    for (int i = 0; i < servers(); ++i)
        if (!no_server(r.virtual_ip[i]))
            translation::translate_sources(kSource, __func__, translation::order::port_first, c, port,
                                           module::arg(r.virtual_ip[i]), real);
    translation::public_arp("-I", port.dev.c_str(), r.real_ip);
}

void virtual_ip_del_command(const record &r) {
    kChains.flush(__func__, r.chain);
    translation::public_arp("-D", translation::split_device(r.real_device_name).dev.c_str(), r.real_ip);
}

void virtual_ip_add_chain(const record &r) { kChains.create(__func__, r.chain, r.mark); }

int virtual_ip_flush_chain(void *rec) {
    if (!rec) return -1;
    const auto &r = *static_cast<const record *>(rec);
    virtual_ip_del_command(r);
    kChains.remove(__func__, r.chain, r.mark);
    return 0;
}

int virtual_command(void *rec) {
    if (!rec) return -1;
    virtual_ip_add_chain(*static_cast<const record *>(rec));
    virtual_ip_add_command(*static_cast<const record *>(rec));
    return 0;
}

// Old rules out, new ones in: the chains stay.
void replace(const record &now, const record &before) {
    virtual_ip_del_command(before);
    virtual_ip_add_command(now);
}

int virtual_recommand(void *new_rec, void *old_rec) {
    if (!new_rec || !old_rec) return -1;
    replace(*static_cast<const record *>(new_rec), *static_cast<const record *>(old_rec));
    return 0;
}

int virtual_initial_system_cmd(void *rec, int, int flag) {
    if (!rec) return -1;
    if (flag) virtual_ip_add_command(*static_cast<const record *>(rec));
    return 0;
}

// Re-applies the record with its service's protocols, fetched for the
// occasion; previous is what was applied before.
void reapply(record &r, const record &previous) {
    r.service_info = getProtocolInfoBychain(r.service_chain);
    replace(r, previous);
    freeProtocolInfo(r.service_info);
    r.service_info = nullptr;
}

// 2 when another virtual server forwards the same public address, port and
// service; else rec's priority counts the others on its public address.
// 4 more when a mapped address has the public address.
int virtual_isTheSame(record_file *h, void *rec, int n) {
    if (!h || !rec) return -1;
    auto &wanted = *static_cast<record *>(rec);
    if (wanted.priority == 0) wanted.priority = 1;
    int result = 0;
    module::any_record<record, virtual_parse>(h, [&](const record &r, uint32_t line) {
        if (n > 0 && line == static_cast<uint32_t>(n) && module::same_text(r.id, wanted.id)) return false;
        if (!module::same_text(r.real_ip, wanted.real_ip)) return false;
        if (module::same_text(r.service_chain, wanted.service_chain) && module::same_text(r.real_port, wanted.real_port)) {
            result = 2;
            return true;
        }
        ++wanted.priority;
        return false;
    });
    if (translation::public_address_in<mapped_ip_record>("mapped_ip", MODULE_TAG(kSource), wanted.real_ip))
        result += 4;
    return result;
}

// A record uses an interface by its WAN port, or, for a LAN or DMZ port in
// NAT mode outside a bridged zone, by a server in that port's subnet.
int virtual_interface_check(record_file *h, const interface_record *iface) {
    if (!h || !iface) return 0;
    const std::string iname = module::bounded(iface->iname), mask = module::bounded(iface->netmask);
    const bool routed = (iface->itype == 1 || iface->itype == 3) && iface->imode == 1 && iface->izone == 0;
    std::string net, broadcast;
    if (routed) {
        const std::string address = module::bounded(iface->ipaddr);
        net = my_netid(address.c_str(), mask.c_str());
        broadcast = my_broadcast(address.c_str(), mask.c_str());
    }
    const bool used = module::any_record<record, virtual_parse>(h, [&](const record &r, uint32_t) {
        if (r.real_device_name == iname) return true;  // a virtual link of the port is the link's
        for (int i = 0; routed && i < servers() && !no_server(r.virtual_ip[i]); ++i)
            if (net == my_netid(r.virtual_ip[i], mask.c_str()) && broadcast == my_broadcast(r.virtual_ip[i], mask.c_str()))
                return true;
        return false;
    });
    return used ? 1 : 0;
}

// Group memberships are one character per virtual server line: the removed
// line's character goes and the later ones move up.
int virtual_remove(record_file *h, int n) {
    if (module::remove(h, n) != 0) return -1;
    const int members = module::capacity(17, VIRTUAL_IP_GROUP_MEMBERS);
    module::registered groups("virtual_ip_group");
    record_file *gh = groups.open(MODULE_TAG(kSource), 1);
    uint32_t line = 0;
    for (int k = 1; gh; ++k) {
        // Each group from its own line: one without members has none.
        virtual_ip_group_record g{};
        groups->set_default(&g, nullptr);
        g.refs_fixed = 1;
        if (!groups->getline(gh, &g, &line, k)) break;
        if (n <= members) {
            std::memmove(g.members + n - 1, g.members + n, static_cast<std::size_t>(members - n));
            g.members[members - 1] = '0';
        }
        if (std::strspn(g.members, "0") >= static_cast<std::size_t>(members)) module::set_text(g.iname, module::kUnset);
        groups->modify(gh, &g, static_cast<int>(line));
    }
    return 0;
}

// A record is on an interface by its WAN port or by the port of its
// servers.
bool on_interface(const record &r, const std::string &iname) {
    return r.real_device_name == iname || r.virtual_device_name == iname;
}

void *virtual_restorebyinterface(void *x, const interface_record *iface) {
    return translation::restore<record, virtual_parse>(x, iface, kFile, MODULE_TAG(kSource), on_interface, reapply);
}

wan_address_event *virtual_dynamicIPup(wan_address_event *event) {
    return translation::follow_address<record>(kTable, MODULE_TAG(kSource), event, reapply);
}

// The described fields, and the server entries past the first four from the
// form's further "vip" values, each as the description reads the first.
bool form_servers(record &r) {
    bool whole = !module::form_fields(&r, kFields);
    const module::field &first = *module::field_named(kFields, kServerKeys.text[0]);
    for (int i = 4; i < servers(); ++i) {
        module::field server = first;
        server.offset += static_cast<std::size_t>(i) * first.size;
        whole = module::take(&r, server, qValue("vip%d", i + 1)) && whole;
    }
    return whole;
}

void *virtual_cgiParam(void *rec) { return translation::form<record>(rec, kPrefix, false, form_servers); }

// The list fills the servers before the ones a request names one by one.
void *virtual_xmlParam(record_file *, void *rec, const char *path) {
    return translation::request<record>(rec, path, kPrefix, [](const module::xml_values &v, record &r) {
        const std::optional<std::string> list = v.value(kFields.front().key);
        if (list && !module::accepts(kFields.front(), list->c_str())) return false;
        if (list) set_servers(r, *list);
        return !module::read_fields(v, &r, kTaken);
    });
}

// Each server on its own (the first four), then all of them as the list.
void virtual_entry(module::xml_entry &e, const record &r) {
    e.text("name", r.name).text("real_ip", r.real_ip).text("real_port", r.real_port, true);
    e.text("real_device_name", r.real_device_name).text("service_chain", r.service_chain);
    e.number("operating_mode", r.operating_mode);
    for (int i = 0; i < 4; ++i) e.text(kServerKeys.text[i], server_text(r, i));
    e.text("virtual_device_name", r.virtual_device_name).number("iswan", r.iswan);
    e.text(kFields.front().key, server_list(r).c_str()).number("health_check", r.health_check);
    e.number("priority", r.priority);
}

void virtual_xmlConf(const char *value, const char *) {
    module::export_records<record>(kTable, value, MODULE_TAG(kSource), virtual_entry, module::spare_references<record>);
}

const module_table kTable = {
    .name = "virtual_ip",
    .clear = module::clear<record>,
    .add = module::add<record, virtual_format>,
    .remove = virtual_remove,
    .modify = module::modify<record, virtual_format>,
    .interface_check = module::op(virtual_interface_check),
    .isTheSame = virtual_isTheSame,
    .set_default = virtual_defaults,
    .open = module::open<kFile>,
    .getline = module::getline<virtual_parse>,
    .getnum = module::getnum<virtual_parse>,
    .parse = virtual_parse,
    .shift = module::shift,
    .close = module::close_file,
    .command = module::op(virtual_command),
    .discommand = module::op(virtual_ip_flush_chain),
    .recommand = module::op(virtual_recommand),
    .restorebyinterface = module::op(virtual_restorebyinterface),
    .dynamicIPup = module::op(virtual_dynamicIPup),
    .language = texts::language,
    .print = texts::print,
    .cgiParam = module::op(virtual_cgiParam),
    .initial_system_cmd = module::op(virtual_initial_system_cmd),
    .xmlParam = virtual_xmlParam,
    .xmlConf = module::op(virtual_xmlConf),
};

}  // namespace

const module::description module::descriptions::virtual_ip{"virtual_ip", kFields};

extern "C" {

module_table *virtual_ip_register(void) { return module::register_table(kTable); }

void virtual_ip_unregister(module_table *table) { module::unregister_table(table); }

int virtual_rewrite_config(void) {
    record_file *h = module::open_file(kFile, MODULE_TAG(kSource), 1);
    if (!h) return -1;
    int rewritten = 0;
    for (const record_line *l = h->lines; l; l = l->next) {
        std::string copy = l->text;
        const module::fields f(copy.data());
        if (f.count() > kListField) {
            if (std::strchr(f[kListField], ',')) break;
            continue;
        }
        record r{};
        virtual_defaults(&r, nullptr);
        r.refs_fixed = 1;
        if (module::parse_copy(l->text, &r, virtual_parse) &&
            module::modify<record, virtual_format>(h, &r, static_cast<int>(l->number)) == 0)
            ++rewritten;
    }
    module::close_file(&h);
    return rewritten;
}

}  // extern "C"
